#include "platform/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

namespace {

// Letter case folded for comparing names: ASCII and the Cyrillic letters of
// UTF-8 (А..Я, Ѐ..Џ); other bytes as they are.
std::string FoldCase(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 'A' && c <= 'Z') {
      out += static_cast<char>(c + 32);
    } else if ((c == 0xD0 || c == 0xD1) && i + 1 < s.size()) {
      const unsigned code = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu);
      unsigned lower = code;
      if (code >= 0x410 && code <= 0x42F) lower = code + 0x20;
      else if (code >= 0x400 && code <= 0x40F) lower = code + 0x50;
      out += static_cast<char>(0xC0 | (lower >> 6));
      out += static_cast<char>(0x80 | (lower & 0x3F));
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool Exists(const std::string& path) {
  struct stat st{};
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

bool ResolveListedFile(std::string_view folder, std::string_view name, std::string* path,
                       std::string* problem) {
  std::string written(name);
  std::replace(written.begin(), written.end(), '\\', '/');
  const bool absolute = !written.empty() && written[0] == '/';
  std::string at = absolute ? std::string("/") : std::string(folder.empty() ? "." : folder);
  *path = absolute ? written : JoinPath(at, written);
  if (Exists(*path)) return true;

  // Part by part: each part as written when it is there, else the one entry
  // of its folder that differs from it only in case.
  std::vector<std::string> parts;
  for (std::size_t from = 0; from <= written.size();) {
    const std::size_t slash = std::min(written.find('/', from), written.size());
    if (slash > from) parts.push_back(written.substr(from, slash - from));
    from = slash + 1;
  }
  std::string resolved = at;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    const std::string& part = parts[k];
    const bool last = k + 1 == parts.size();
    std::string next = JoinPath(resolved, part);
    if (part != "." && part != ".." && !Exists(next)) {
      std::vector<std::string> matches;
      const std::string folded = FoldCase(part);
      if (DIR* dir = ::opendir(resolved.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
          const std::string entry = e->d_name;
          if (entry == "." || entry == ".." || FoldCase(entry) != folded) continue;
          const std::string candidate = JoinPath(resolved, entry);
          if (last ? FileExists(candidate) : DirectoryExists(candidate)) matches.push_back(entry);
        }
        ::closedir(dir);
      }
      if (matches.empty()) return true;  // missing: the path as written
      if (matches.size() > 1) {
        std::sort(matches.begin(), matches.end());
        std::string shown = resolved;
        while (shown.size() > 1 && shown.back() == '/') shown.pop_back();
        std::string list;
        for (const auto& m : matches) list += (list.empty() ? "«" : ", «") + m + "»";
        if (problem)
          *problem = "нет файла «" + std::string(name) + "», а без учёта регистра букв ему соответствуют несколько " +
                     (last ? "файлов" : "папок") + " в папке «" + shown + "»: " + list + "; неясно, какой из них имеется в виду";
        return false;
      }
      next = JoinPath(resolved, matches.front());
    }
    resolved = std::move(next);
  }
  *path = resolved;
  return true;
}

}  // namespace sonarvex
