// Helpers shared by the fuzz targets that read files: a private folder for
// the process (removed at exit), writing an input into it, and a dialog
// service that answers every question with OK.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Dialogs.h"

namespace sonarvex::fuzz {

// "/tmp/sonarvex-fuzz-XXXXXX/", created on first use.
inline const std::string& PrivateFolder() {
  static const std::string folder = [] {
    char tmpl[] = "/tmp/sonarvex-fuzz-XXXXXX";
    const char* p = ::mkdtemp(tmpl);
    if (!p) std::abort();
    std::string f = std::string(p) + "/";
    static std::string removeAtExit;
    removeAtExit = f;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(removeAtExit, ec);
    });
    return f;
  }();
  return folder;
}

// Replaces the file with exactly these bytes.
inline void WriteInput(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) std::abort();
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) std::abort();
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
}

inline std::string ReadAll(const std::string& path) {
  std::string out;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return out;
  char buf[4096];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
  ::close(fd);
  return out;
}

class NullDialogs : public Dialogs {
 public:
  int Message(const std::string&, const std::string&, MsgIcon, MsgButtons) override {
    ++messages;
    return IdOk;
  }
  std::vector<std::string> OpenFiles(const std::string&, const std::vector<FileFilter>&,
                                     const std::string&, bool) override {
    return {};
  }
  std::optional<std::string> SaveFile(const std::string&, const std::vector<FileFilter>&,
                                      const std::string&, const std::string&) override {
    return std::nullopt;
  }
  std::optional<std::string> ChooseFolder(const std::string&, const std::string&) override {
    return std::nullopt;
  }
  int messages = 0;
};

}  // namespace sonarvex::fuzz
