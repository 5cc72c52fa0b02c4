#include "app/MediaSearch.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/Files.h"

namespace sonarvex {
namespace {

// ASCII letters to lower case; the bytes of other scripts stay as they are.
std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool Walk(const std::string& folder, const std::vector<std::string>& extensions,
          const MediaSearchHost& host, std::vector<std::string>& found) {
  if (host.enteringFolder) host.enteringFolder(folder);
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
  if (!dir) return true;  // unreadable: passed over
  while (dirent* entry = ::readdir(dir.get())) {
    if (host.cancelled && host.cancelled()) return false;
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = folder + name;
    bool isDir = entry->d_type == DT_DIR;
    bool isFile = entry->d_type == DT_REG;
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      struct stat st {};
      if (::stat(path.c_str(), &st) != 0) continue;
      isDir = S_ISDIR(st.st_mode) && entry->d_type != DT_LNK;  // links to folders are not followed
      isFile = S_ISREG(st.st_mode);
    }
    if (isDir) {
      if (name.front() == '.') continue;
      if (!Walk(path + "/", extensions, host, found)) return false;
      continue;
    }
    if (!isFile) continue;
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) continue;
    const std::string extension = Lower(name.substr(dot));
    for (const std::string& wanted : extensions) {
      if (Lower(wanted) == extension) {
        found.push_back(path);
        break;
      }
    }
  }
  return true;
}

}  // namespace

std::vector<std::string> SearchMediaFiles(const std::string& folder,
                                          const std::vector<std::string>& extensions,
                                          const MediaSearchHost& host, bool* cancelled) {
  std::vector<std::string> found;
  std::string start = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  const bool finished = Walk(start, extensions, host, found);
  if (cancelled) *cancelled = !finished;
  return found;
}

std::string FoundFileSizeText(std::uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + "Byte";
  if (bytes < 1048576) return std::to_string(bytes / 1024) + "Kb";
  return std::to_string(bytes / 1048576) + "Mb";
}

bool WriteM3uList(const std::string& path, const std::vector<std::string>& files,
                  std::string* error) {
  std::string text = "#EXTM3U\r\n";
  for (const std::string& file : files) text += file + "\r\n";
  if (WriteFileAtomically(path, text)) return true;
  if (error) *error = "Не удалось записать файл '" + path + "': " + std::strerror(errno) + ".";
  return false;
}

}  // namespace sonarvex
