#include "platform/SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

int CreateExclusiveFile(const std::string& path, bool readWrite, unsigned mode) {
  const int access = readWrite ? O_RDWR : O_WRONLY;
  int fd;
  do {
    fd = ::open(path.c_str(), access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) {
    const int saved = errno;
    ::fsetxattr(fd, kOwnFileMark, "partial", 7, 0);  // not every file system keeps it
    errno = saved;
  }
  return fd;
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
  // The program's mark settles it where the file system keeps marks: a file
  // without one is somebody else's, whatever it holds.
  char mark[16];
  const ssize_t marked = ::lgetxattr(path.c_str(), kOwnFileMark, mark, sizeof mark);
  if (marked >= 0) {
    if (std::string(mark, static_cast<std::size_t>(marked)) != "partial") return StaleFile::Foreign;
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return StaleFile::Error;
    return StaleFile::Removed;
  }
  if (errno == ENODATA) return StaleFile::Foreign;
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ELOOP ? StaleFile::Foreign : StaleFile::Error;
  struct stat opened{};
  std::uint8_t head[12];
  ssize_t got = -1;
  // The file read must be the one examined (not swapped in between).
  if (::fstat(fd, &opened) == 0 && opened.st_dev == st.st_dev && opened.st_ino == st.st_ino) {
    do {
      got = ::pread(fd, head, sizeof head, 0);
    } while (got < 0 && errno == EINTR);
  }
  ::close(fd);
  if (got < 0) return StaleFile::Foreign;
  // A short file is judged by what it has; the signatures need their bytes.
  if (!LooksLikeOwnOutput(head, static_cast<std::size_t>(got))) return StaleFile::Foreign;
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return StaleFile::Error;
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
