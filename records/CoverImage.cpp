#include "records/CoverImage.h"

#include <cstring>

namespace sonarvex {

namespace {

std::uint32_t Be16(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0] << 8 | p[1]); }
std::uint32_t Be32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

const std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// The first frame header (SOF0..SOF15 but DHT, JPG and DAC) of a JPEG.
bool ReadJpegHeader(const std::vector<std::uint8_t>& b, CoverImage& out) {
  std::size_t at = 2;
  while (at + 4 <= b.size()) {
    if (b[at] != 0xFF) return false;
    const std::uint8_t marker = b[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length
      at += 2;
      continue;
    }
    if (marker == 0xD9 || marker == 0xDA) return false;  // image end or scan before a frame
    const std::uint32_t length = Be16(&b[at + 2]);
    if (length < 2 || at + 2 + length > b.size()) return false;
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      if (length < 8) return false;
      const std::uint8_t* f = &b[at + 4];
      out.height = Be16(f + 1);
      out.width = Be16(f + 3);
      out.depth = static_cast<std::uint32_t>(f[0]) * f[5];
      return out.width > 0 && out.height > 0;
    }
    at += 2 + length;
  }
  return false;
}

bool ReadPngHeader(const std::vector<std::uint8_t>& b, CoverImage& out) {
  // Signature, then IHDR: length 13, type, width, height, bit depth, colour type.
  if (b.size() < 8 + 8 + 13 || Be32(&b[8]) != 13 || std::memcmp(&b[12], "IHDR", 4) != 0)
    return false;
  out.width = Be32(&b[16]);
  out.height = Be32(&b[20]);
  const std::uint32_t bits = b[24];
  std::uint32_t channels = 0;
  switch (b[25]) {
    case 0: channels = 1; break;  // grey
    case 2: channels = 3; break;  // RGB
    case 3: channels = 1; break;  // palette index
    case 4: channels = 2; break;  // grey and alpha
    case 6: channels = 4; break;  // RGBA
    default: return false;
  }
  out.depth = bits * channels;
  return out.width > 0 && out.height > 0 && out.width < (1u << 31) && out.height < (1u << 31);
}

}  // namespace

bool LooksLikeJpeg(const std::uint8_t* data, std::size_t size) {
  return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

bool LooksLikePng(const std::uint8_t* data, std::size_t size) {
  return size >= 8 && std::memcmp(data, kPngSignature, 8) == 0;
}

bool ReadCoverImage(std::vector<std::uint8_t> bytes, CoverImage& image) {
  CoverImage read;
  if (LooksLikeJpeg(bytes.data(), bytes.size())) {
    if (!ReadJpegHeader(bytes, read)) return false;
    read.mime = "image/jpeg";
  } else if (LooksLikePng(bytes.data(), bytes.size())) {
    if (!ReadPngHeader(bytes, read)) return false;
    read.mime = "image/png";
  } else {
    return false;
  }
  read.bytes = std::move(bytes);
  image = std::move(read);
  return true;
}

}  // namespace sonarvex
