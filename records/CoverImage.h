// A disc's front cover as it is kept with the album and put into the files
// of a rip: the image file's bytes (JPEG or PNG, as the server gave them)
// and what its header says of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sonarvex {

struct CoverImage {
  std::vector<std::uint8_t> bytes;
  std::string mime;  // "image/jpeg" or "image/png"
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t depth = 0;  // bits per pixel

  bool Empty() const { return bytes.empty(); }
  // "jpg" or "png".
  const char* Extension() const { return mime == "image/png" ? "png" : "jpg"; }
};

// Whether the bytes start as a JPEG (FF D8 FF) or a PNG (its signature) does.
bool LooksLikeJpeg(const std::uint8_t* data, std::size_t size);
bool LooksLikePng(const std::uint8_t* data, std::size_t size);

// Takes the bytes of a JPEG or PNG file and reads its type, size and depth
// from its header (a JPEG's first frame header, a PNG's IHDR). False, and
// image left alone, for anything else or a header that cannot be read.
bool ReadCoverImage(std::vector<std::uint8_t> bytes, CoverImage& image);

}  // namespace sonarvex
