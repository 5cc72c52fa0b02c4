#include "platform/SafeFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

namespace sonarvex {
namespace {

constexpr std::size_t kBufferSize = 64 * 1024;

std::string Reason(int err) { return std::strerror(err != 0 ? err : EIO); }

bool WriteAll(int fd, const std::uint8_t* p, std::size_t n, int* err) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) {
      *err = errno;
      return false;
    }
    if (w == 0) {
      *err = ENOSPC;
      return false;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

}  // namespace

std::string CreateFailureText(const std::string& path, int err) {
  return "Не удалось создать файл '" + path + "': " + Reason(err) + ".";
}

std::string WriteFailureText(const std::string& path, int err) {
  return "Не удалось записать файл '" + path + "': " + Reason(err) + ".";
}

namespace {

// The files whose lock a FileLockHold keeps: path -> a second descriptor of
// the file created there (-1 until it is created).
std::mutex gHoldsMutex;
std::map<std::string, int>& Holds() {
  static std::map<std::string, int> holds;
  return holds;
}

void KeepLockIfHeld(const std::string& path, int fd) {
  std::lock_guard<std::mutex> lock(gHoldsMutex);
  auto it = Holds().find(path);
  if (it == Holds().end()) return;
  if (it->second >= 0) ::close(it->second);
  // A duplicate shares the open file and with it the lock, which lasts
  // until every descriptor of it is closed.
  it->second = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

void MarkAndLock(int fd) {
  const int saved = errno;
  ::fsetxattr(fd, kOwnFileMark, "partial", 7, 0);  // not every file system keeps it
  // A new file: nobody else can hold its lock yet.
  ::flock(fd, LOCK_EX | LOCK_NB);
  errno = saved;
}

std::string FolderPart(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

int CreateExclusiveFile(const std::string& path, bool readWrite, unsigned mode) {
  const int access = readWrite ? O_RDWR : O_WRONLY;
  int fd = -1;
#ifdef O_TMPFILE
  // Unnamed first: marked and locked before any other run can see it.
  do {
    fd = ::open(FolderPart(path).c_str(), O_TMPFILE | access | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) {
    MarkAndLock(fd);
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (::linkat(AT_FDCWD, self, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      KeepLockIfHeld(path, fd);
      return fd;
    }
    const int err = errno;
    ::close(fd);
    fd = -1;
    // Something is at the name (a link included): refused as O_EXCL refuses.
    if (err == EEXIST) {
      errno = EEXIST;
      return -1;
    }
    // Otherwise (no /proc, a file system that cannot link it) the classic way.
  }
#endif
  do {
    fd = ::open(path.c_str(), access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) {
    MarkAndLock(fd);
    KeepLockIfHeld(path, fd);
  }
  return fd;
}

FileLockHold::FileLockHold(std::string path) : path_(std::move(path)) {
  std::lock_guard<std::mutex> lock(gHoldsMutex);
  auto [it, added] = Holds().emplace(path_, -1);
  if (!added && it->second >= 0) {
    ::close(it->second);
    it->second = -1;
  }
}

FileLockHold::~FileLockHold() { Release(); }

FileLockHold::FileLockHold(FileLockHold&& other) noexcept : path_(std::move(other.path_)) {
  other.path_.clear();
}

FileLockHold& FileLockHold::operator=(FileLockHold&& other) noexcept {
  if (this != &other) {
    Release();
    path_ = std::move(other.path_);
    other.path_.clear();
  }
  return *this;
}

void FileLockHold::Release() {
  if (path_.empty()) return;
  std::lock_guard<std::mutex> lock(gHoldsMutex);
  auto it = Holds().find(path_);
  if (it != Holds().end()) {
    if (it->second >= 0) ::close(it->second);
    Holds().erase(it);
  }
  path_.clear();
}

bool FileLockHold::LostFile() const {
  if (path_.empty()) return false;
  std::lock_guard<std::mutex> lock(gHoldsMutex);
  auto it = Holds().find(path_);
  if (it == Holds().end() || it->second < 0) return false;
  struct stat held{}, now{};
  if (::fstat(it->second, &held) != 0) return false;
  return ::lstat(path_.c_str(), &now) != 0 || held.st_dev != now.st_dev ||
         held.st_ino != now.st_ino;
}

bool LockedByAnotherWriter(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);  // a lock taken here goes with it
  return locked;
}

void ClearOwnMark(const std::string& path) {
  const int saved = errno;
  ::lremovexattr(path.c_str(), kOwnFileMark);
  errno = saved;
}

bool RemoveForReplacement(const std::string& path) {
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return false;
  }
  // unlink removes a link itself, never what it points to.
  return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool LooksLikeOwnOutput(const std::uint8_t* head, std::size_t size) {
  if (size == 0) return true;
  if (size >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0)
    return true;
  if (size >= 3 && std::memcmp(head, "ID3", 3) == 0) return true;
  if (size >= 4 && std::memcmp(head, "OggS", 4) == 0) return true;
  if (size >= 4 && std::memcmp(head, "fLaC", 4) == 0) return true;
  // An MPEG audio frame: eleven sync bits, a valid version and layer III.
  if (size >= 2 && head[0] == 0xFF && (head[1] & 0xE0) == 0xE0 && (head[1] & 0x18) != 0x08 &&
      (head[1] & 0x06) == 0x02)
    return true;
  return false;
}

StaleFile RemoveStalePartial(const std::string& path) {
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? StaleFile::None : StaleFile::Error;
  if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1)
    return StaleFile::Foreign;
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ELOOP ? StaleFile::Foreign : StaleFile::Error;
  struct stat opened{};
  // The file examined must be the one opened (not swapped in between).
  if (::fstat(fd, &opened) != 0 || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino) {
    ::close(fd);
    return StaleFile::Foreign;
  }
  // The program's mark settles it where the file system keeps marks: a file
  // without one is somebody else's, whatever it holds. Elsewhere the content
  // decides.
  bool own = false;
  char mark[16];
  const ssize_t marked = ::fgetxattr(fd, kOwnFileMark, mark, sizeof mark);
  if (marked >= 0) {
    own = std::string(mark, static_cast<std::size_t>(marked)) == "partial";
  } else if (errno != ENODATA) {
    std::uint8_t head[12];
    ssize_t got;
    do {
      got = ::pread(fd, head, sizeof head, 0);
    } while (got < 0 && errno == EINTR);
    // A short file is judged by what it has; the signatures need their bytes.
    own = got >= 0 && LooksLikeOwnOutput(head, static_cast<std::size_t>(got));
  }
  if (!own) {
    ::close(fd);
    return StaleFile::Foreign;
  }
  // A writer that still runs holds its file's lock: the file is not stale.
  // Held here, the lock keeps the file ours until it is gone.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) return StaleFile::InUse;
    errno = err;
    return StaleFile::Error;
  }
  const bool removed = ::unlink(path.c_str()) == 0 || errno == ENOENT;
  const int err = errno;
  ::close(fd);
  if (!removed) {
    errno = err;
    return StaleFile::Error;
  }
  return StaleFile::Removed;
}

OutputFile::~OutputFile() { Abort(); }

WriteResult OutputFile::Fail(int err) {
  if (error_.Ok()) error_ = WriteResult::Failure(WriteFailureText(path_, err));
  return error_;
}

WriteResult OutputFile::Create(const std::string& path) {
  Abort();
  path_ = path;
  error_ = {};
  position_ = 0;
  buffer_.clear();
  fd_ = CreateExclusiveFile(path);
  if (fd_ < 0) {
    error_ = WriteResult::Failure(CreateFailureText(path, errno));
    return error_;
  }
  buffer_.reserve(kBufferSize);
  return {};
}

WriteResult OutputFile::Flush() {
  if (!error_.Ok()) return error_;
  if (fd_ < 0) return Fail(EBADF);
  int err = 0;
  if (!buffer_.empty() && !WriteAll(fd_, buffer_.data(), buffer_.size(), &err)) return Fail(err);
  buffer_.clear();
  return {};
}

WriteResult OutputFile::Write(const void* data, std::size_t bytes) {
  if (!error_.Ok()) return error_;
  if (fd_ < 0) return Fail(EBADF);
  const auto* p = static_cast<const std::uint8_t*>(data);
  if (buffer_.size() + bytes > kBufferSize) {
    if (WriteResult r = Flush(); !r) return r;
    if (bytes >= kBufferSize) {
      int err = 0;
      if (!WriteAll(fd_, p, bytes, &err)) return Fail(err);
      position_ += bytes;
      return {};
    }
  }
  buffer_.insert(buffer_.end(), p, p + bytes);
  position_ += bytes;
  return {};
}

WriteResult OutputFile::WriteAt(std::uint64_t offset, const void* data, std::size_t bytes) {
  if (WriteResult r = Flush(); !r) return r;
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (bytes > 0) {
    ssize_t w = ::pwrite(fd_, p, bytes, static_cast<off_t>(offset));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return Fail(w < 0 ? errno : ENOSPC);
    p += w;
    bytes -= static_cast<std::size_t>(w);
    offset += static_cast<std::uint64_t>(w);
  }
  return {};
}

WriteResult OutputFile::Finish(bool sync) {
  if (fd_ < 0) return error_.Ok() ? Fail(EBADF) : error_;
  WriteResult r = Flush();
  if (r && sync && ::fsync(fd_) != 0) r = Fail(errno);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && r && errno != EINTR) r = Fail(errno);
  if (!r) ::unlink(path_.c_str());
  buffer_.clear();
  buffer_.shrink_to_fit();
  return r;
}

void OutputFile::Abort() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  ::unlink(path_.c_str());
  buffer_.clear();
  buffer_.shrink_to_fit();
}

}  // namespace sonarvex
