#include "codec/WavFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/SafeFile.h"

namespace sonarvex {
namespace {

void Put32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

bool WriteAllAt(int fd, const void* data, std::size_t n, off_t at) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (n > 0) {
    ssize_t w = pwrite(fd, p, n, at);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = ENOSPC;
      return false;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
    at += w;
  }
  return true;
}

}  // namespace

void BuildWavHeader(std::uint8_t out[48], std::uint32_t dataBytes, const AudioFormatRecord& format) {
  std::memcpy(out, "RIFF", 4);
  Put32(out + 4, dataBytes + 40);
  std::memcpy(out + 8, "WAVEfmt ", 8);
  Put32(out + 16, 20);
  std::memcpy(out + 20, &format, 20);
  std::memcpy(out + 40, "data", 4);
  Put32(out + 44, dataBytes);
}

int CreateWavFile(const std::string& fileName, const AudioFormatRecord& format) {
  if (!RemoveForReplacement(fileName)) return kInvalidWavHandle;
  int fd = CreateExclusiveFile(fileName, true);
  if (fd < 0) return kInvalidWavHandle;
  std::uint8_t header[48];
  BuildWavHeader(header, 0, format);
  Put32(header + 4, 0);  // both sizes stay 0 until FinishWavFile
  if (!WriteAllAt(fd, header, sizeof header, 0) || lseek(fd, 48, SEEK_SET) != 48) {
    const int err = errno;
    close(fd);
    unlink(fileName.c_str());
    errno = err;
    return kInvalidWavHandle;
  }
  return fd;
}

bool WriteWavData(int handle, const void* data, std::size_t bytes) {
  if (handle < 0) return false;
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (bytes > 0) {
    ssize_t w = write(handle, p, bytes);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = ENOSPC;
      return false;
    }
    p += w;
    bytes -= static_cast<std::size_t>(w);
  }
  return true;
}

bool FinishWavFile(int handle, std::uint32_t dataBytes, const AudioFormatRecord& /*format*/) {
  if (handle < 0) {
    errno = EBADF;
    return false;
  }
  std::uint8_t v[4];
  Put32(v, dataBytes);
  bool ok = WriteAllAt(handle, v, 4, 44);
  Put32(v, dataBytes + 40);
  ok = ok && WriteAllAt(handle, v, 4, 4);
  const int err = errno;
  if (close(handle) != 0 && errno != EINTR) return false;
  errno = err;
  return ok;
}

}  // namespace sonarvex
