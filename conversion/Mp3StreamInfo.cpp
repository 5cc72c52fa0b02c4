#include "conversion/Mp3StreamInfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace sonarvex {
namespace {

std::uint32_t Be32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
}

// The bytes of a frame header's fields that the VBR header's place depends on.
struct Header {
  int version = 0;  // 1, 2, or 25 (MPEG-2.5)
  int layer = 0;
  bool crc = false;
  bool mono = false;
};

bool ParseHeader(const std::uint8_t* p, Header* h) {
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
  const int v = (p[1] >> 3) & 3;
  const int l = (p[1] >> 1) & 3;
  const int bitrate = p[2] >> 4;
  const int rate = (p[2] >> 2) & 3;
  if (v == 1 || l == 0 || bitrate == 15 || rate == 3) return false;
  h->version = v == 3 ? 1 : v == 2 ? 2 : 25;
  h->layer = 4 - l;
  h->crc = (p[1] & 1) == 0;
  h->mono = (p[3] >> 6) == 3;
  return true;
}

}  // namespace

std::uint64_t Mp3StreamInfo::MinimumSamples() const {
  if (!hasFrameCount) return 0;
  const std::uint64_t total = static_cast<std::uint64_t>(frames) * samplesPerFrame;
  // The decoder cuts the delay and at least its own delay's worth of padding.
  const std::uint64_t cut =
      hasGaplessInfo ? static_cast<std::uint64_t>(encoderDelay) + std::max(encoderPadding, 529) : 0;
  return total > cut ? total - cut : 0;
}

std::string InspectMp3Source(const std::string& path, Mp3StreamInfo* info) {
  *info = Mp3StreamInfo{};
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::strerror(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return S_ISDIR(st.st_mode) ? "это папка" : "это не обычный файл";
  }
  if (st.st_size == 0) {
    ::close(fd);
    return "файл пуст, в нём нет звука MP3";
  }
  // The head of the file: a leading ID3v2 tag and the first frame.
  std::vector<std::uint8_t> head(std::min<off_t>(st.st_size, 1 << 16));
  std::size_t got = 0;
  while (got < head.size()) {
    const ssize_t r = ::pread(fd, head.data() + got, head.size() - got, static_cast<off_t>(got));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      const int err = errno;
      ::close(fd);
      return std::strerror(err);
    }
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
  }
  ::close(fd);
  head.resize(got);
  std::size_t at = 0;
  if (got >= 10 && std::memcmp(head.data(), "ID3", 3) == 0) {
    const std::size_t size = (static_cast<std::size_t>(head[6] & 0x7F) << 21) |
                             (static_cast<std::size_t>(head[7] & 0x7F) << 14) |
                             (static_cast<std::size_t>(head[8] & 0x7F) << 7) | (head[9] & 0x7F);
    at = 10 + size + ((head[5] & 0x10) ? 10 : 0);
  }
  Header h;
  if (at + 4 > got || !ParseHeader(head.data() + at, &h)) return {};
  info->samplesPerFrame = h.layer == 1 ? 384 : (h.layer == 3 && h.version != 1) ? 576 : 1152;
  const std::size_t side = h.version == 1 ? (h.mono ? 17 : 32) : (h.mono ? 9 : 17);
  const std::size_t vbr = at + 4 + (h.crc ? 2 : 0) + side;
  if (vbr + 16 <= got &&
      (std::memcmp(head.data() + vbr, "Xing", 4) == 0 || std::memcmp(head.data() + vbr, "Info", 4) == 0)) {
    const std::uint32_t flags = Be32(head.data() + vbr + 4);
    if ((flags & 1) == 0) return {};
    info->hasFrameCount = true;
    info->frames = Be32(head.data() + vbr + 8);
    // The encoder's extension: a 9-character name, then the delay and the
    // padding at 21..23, 12 bits each.
    const std::size_t ext = vbr + 8 + 4 + ((flags & 2) ? 4 : 0) + ((flags & 4) ? 100 : 0) +
                            ((flags & 8) ? 4 : 0);
    if (h.layer == 3 && ext + 24 <= got) {
      bool named = true;
      for (std::size_t i = 0; i < 9; ++i) named = named && head[ext + i] >= 0x20 && head[ext + i] < 0x7F;
      if (named) {
        info->hasGaplessInfo = true;
        info->encoderDelay = (head[ext + 21] << 4) | (head[ext + 22] >> 4);
        info->encoderPadding = ((head[ext + 22] & 15) << 8) | head[ext + 23];
      }
    }
  } else if (vbr + 18 <= got && std::memcmp(head.data() + vbr, "VBRI", 4) == 0) {
    info->hasFrameCount = true;
    info->frames = Be32(head.data() + vbr + 14);
  }
  return {};
}

}  // namespace sonarvex
