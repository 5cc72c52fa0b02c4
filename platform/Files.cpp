#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

namespace sonarvex {

std::string ReadProblemText(const std::string& path, int err) {
  if (err == EINVAL) return "'" + path + "' не является обычным файлом";
  return "не удалось прочитать файл '" + path + "': " + std::strerror(err != 0 ? err : EIO);
}

int OpenRegularFile(const std::string& path, std::string* problem) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int err = errno;
    if (problem) *problem = err == ENOENT ? std::string() : ReadProblemText(path, err);
    errno = err;
    return -1;
  }
  struct stat st{};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    if (problem) *problem = ReadProblemText(path, EINVAL);
    errno = EINVAL;
    return -1;
  }
  // Reads of a regular file never block; the flag is dropped all the same.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

std::optional<std::string> ReadFileBytes(const std::string& path, std::size_t maxBytes,
                                         std::string* problem) {
  if (problem) problem->clear();
  int fd = OpenRegularFile(path, problem);
  if (fd < 0) return std::nullopt;
  std::string out;
  char buffer[65536];
  while (out.size() < maxBytes) {
    std::size_t want = std::min<std::size_t>(sizeof buffer, maxBytes - out.size());
    ssize_t n = ::read(fd, buffer, want);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      if (problem) *problem = ReadProblemText(path, err);
      return std::nullopt;
    }
    if (n == 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return out;
}

bool WriteFileAtomically(const std::string& path, std::string_view data, unsigned mode) {
  std::string folder = ".";
  if (auto slash = path.rfind('/'); slash != std::string::npos) folder = path.substr(0, slash + 1);
  std::random_device rd;
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".tmp%08x", static_cast<unsigned>(rd()));
    temp = path + suffix;
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  const char* p = data.data();
  std::size_t left = data.size();
  bool ok = true;
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (ok && ::fchmod(fd, mode) != 0) ok = false;
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    const int err = errno;  // the caller says why
    ::unlink(temp.c_str());
    errno = err;
    return false;
  }
  // Make the rename itself durable.
  int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

bool FileExists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectories(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (DirectoryExists(path)) return true;
  errno = ec ? ec.value() : ENOTDIR;
  return false;
}

void RemoveEmptyDirectory(const std::string& path) { ::rmdir(path.c_str()); }

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string out(folder);
  while (!name.empty() && name.front() == '/') name.remove_prefix(1);
  if (!out.empty() && out.back() != '/') out += '/';
  out += name;
  return out;
}

}  // namespace sonarvex
