#include "platform/Cp1251.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace sonarvex {
namespace {

// One converter per direction, guarded: iconv descriptors carry state.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts; on an input byte that cannot be converted calls onBad(in, out)
  // which must consume at least one input byte.
  template <typename OnBad>
  std::string Run(std::string_view input, OnBad onBad) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string out;
    if (cd_ == reinterpret_cast<iconv_t>(-1)) return std::string(input);
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    char buffer[1024];
    while (inLeft > 0) {
      char* o = buffer;
      size_t oLeft = sizeof buffer;
      size_t r = iconv(cd_, &in, &inLeft, &o, &oLeft);
      out.append(buffer, o - buffer);
      if (r == static_cast<size_t>(-1)) {
        if (errno == E2BIG) continue;
        // EILSEQ or EINVAL (truncated sequence): let the caller decide.
        size_t used = onBad(in, inLeft, out);
        in += used;
        inLeft -= used;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
      }
    }
    return out;
  }

 private:
  iconv_t cd_;
  std::mutex mutex_;
};

Converter& ToUtf8() {
  static Converter c("UTF-8", "CP1251");
  return c;
}
Converter& ToCp1251() {
  static Converter c("CP1251", "UTF-8");
  return c;
}

// Length of the valid UTF-8 sequence at p, or 0 when there is none.
size_t Utf8SequenceLength(const unsigned char* p, size_t left) {
  unsigned char c = p[0];
  size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (n == 0 || n > left) return 0;
  for (size_t i = 1; i < n; ++i)
    if ((p[i] & 0xC0) != 0x80) return 0;
  if (n == 2 && c < 0xC2) return 0;
  return n;
}

}  // namespace

std::string Cp1251ToUtf8(std::string_view cp1251) {
  return ToUtf8().Run(cp1251, [](const char*, size_t, std::string& out) {
    out += "\xEF\xBF\xBD";
    return size_t{1};
  });
}

std::string Utf8ToCp1251(std::string_view utf8) {
  return ToCp1251().Run(utf8, [](const char* in, size_t left, std::string& out) {
    size_t n = Utf8SequenceLength(reinterpret_cast<const unsigned char*>(in), left);
    if (n == 0) {  // not UTF-8: keep the byte as it is
      out += in[0];
      return size_t{1};
    }
    out += '?';  // a character CP1251 cannot hold
    return n;
  });
}

bool IsAscii(std::string_view text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

bool IsNonAsciiUtf8(std::string_view text) {
  bool nonAscii = false;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  size_t left = text.size();
  while (left > 0) {
    size_t n = Utf8SequenceLength(p, left);
    if (n == 0) return false;
    if (n > 1) nonAscii = true;
    p += n;
    left -= n;
  }
  return nonAscii;
}

void SetField(char* field, std::size_t size, std::string_view text) {
  if (size == 0) return;
  size_t n = text.size() < size - 1 ? text.size() : size - 1;
  if (n > 0) std::memcpy(field, text.data(), n);
  std::memset(field + n, 0, size - n);
}

std::string_view FieldText(const char* field, std::size_t size) {
  const void* nul = std::memchr(field, 0, size);
  return std::string_view(field, nul ? static_cast<const char*>(nul) - field : size);
}

namespace {
unsigned char UpperByte(unsigned char c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c >= 0xE0) return c - 32;  // а..я
  if (c == 0xB8) return 0xA8;    // ё
  return c;
}
unsigned char LowerByte(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDF) return c + 32;  // А..Я
  if (c == 0xA8) return 0xB8;                 // Ё
  return c;
}
}  // namespace

std::string Cp1251Upper(std::string_view text) {
  std::string s(text);
  for (char& c : s) c = static_cast<char>(UpperByte(static_cast<unsigned char>(c)));
  return s;
}

std::string Cp1251Lower(std::string_view text) {
  std::string s(text);
  for (char& c : s) c = static_cast<char>(LowerByte(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace sonarvex
