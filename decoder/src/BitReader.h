// Big-endian bit reader over a byte buffer. Every read is checked against the
// buffer: bits past its end read as zero, so a lying length field can never
// make the decoder read outside the data it was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kelpra {

class BitReader {
 public:
  BitReader(const uint8_t* data, size_t bytes) : data_(data), bytes_(bytes) {}

  // The 64 bits from bit `pos` on, MSB first; at least the top 57 of them
  // are the stream's (the rest are zero).
  uint64_t Peek57At(size_t pos) const {
    const size_t byte = pos >> 3;
    uint64_t v;
    if (byte + 8 <= bytes_) {
      std::memcpy(&v, data_ + byte, 8);
      v = __builtin_bswap64(v);
    } else {
      v = 0;
      for (size_t i = 0; i < 8; ++i) v = (v << 8) | (byte + i < bytes_ ? data_[byte + i] : 0u);
    }
    return v << (pos & 7);
  }

  // The next 32 bits, MSB first, without consuming them.
  uint32_t Peek32() const { return static_cast<uint32_t>(Peek57At(pos_) >> 32); }

  // Reads n bits (0..32).
  uint32_t Get(int n) {
    if (n <= 0) return 0;
    const uint32_t r = Peek32() >> (32 - n);
    pos_ += static_cast<size_t>(n);
    return r;
  }

  uint32_t Bit() { return Get(1); }
  void Skip(size_t n) { pos_ += n; }
  size_t Pos() const { return pos_; }
  void SetPos(size_t pos) { pos_ = pos; }
  size_t BitsTotal() const { return bytes_ * 8; }

 private:
  const uint8_t* data_;
  size_t bytes_;
  size_t pos_ = 0;
};

}  // namespace kelpra
