#include "platform/Sha1.h"

#include <cstring>

namespace sonarvex {

namespace {

std::uint32_t Rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

void Block(std::uint32_t (&h)[5], const std::uint8_t* p) {
  std::uint32_t w[80];
  for (int t = 0; t < 16; ++t)
    w[t] = static_cast<std::uint32_t>(p[4 * t]) << 24 | static_cast<std::uint32_t>(p[4 * t + 1]) << 16 |
           static_cast<std::uint32_t>(p[4 * t + 2]) << 8 | static_cast<std::uint32_t>(p[4 * t + 3]);
  for (int t = 16; t < 80; ++t) w[t] = Rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
  std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
  for (int t = 0; t < 80; ++t) {
    std::uint32_t f, k;
    if (t < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (t < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (t < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    const std::uint32_t temp = Rotl(a, 5) + f + e + k + w[t];
    e = d;
    d = c;
    c = Rotl(b, 30);
    b = a;
    a = temp;
  }
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
}

}  // namespace

Sha1Digest Sha1(std::string_view data) {
  std::uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  const auto* p = reinterpret_cast<const std::uint8_t*>(data.data());
  std::size_t left = data.size();
  while (left >= 64) {
    Block(h, p);
    p += 64;
    left -= 64;
  }
  // The padding: a 1 bit, zeros, and the length in bits as 64 bits.
  std::uint8_t tail[128] = {};
  std::memcpy(tail, p, left);
  tail[left] = 0x80;
  const std::size_t tailSize = left + 9 <= 64 ? 64 : 128;
  const std::uint64_t bits = static_cast<std::uint64_t>(data.size()) * 8;
  for (int i = 0; i < 8; ++i) tail[tailSize - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
  Block(h, tail);
  if (tailSize == 128) Block(h, tail + 64);
  Sha1Digest out{};
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 4; ++j) out[4 * i + j] = static_cast<std::uint8_t>(h[i] >> (24 - 8 * j));
  return out;
}

}  // namespace sonarvex
