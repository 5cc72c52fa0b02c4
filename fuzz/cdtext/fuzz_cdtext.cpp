// Fuzzes the CD-Text parser on the bytes exactly as given (a read past them
// is a read past the input) and checks what it makes of them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "drive/CdText.h"

namespace {

bool ValidUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : 0;
    if (n == 0 || i + n > s.size()) return false;
    if (n == 2 && (static_cast<unsigned char>(s[i + 1]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sonarvex;
  const auto text = ParseCdTextAnswer(data, size);
  if (!text) return 0;
  // Only what the answer holds is counted, and something was named.
  if (text->packs < 1 || text->badPacks > text->packs) __builtin_trap();
  if (static_cast<std::size_t>(text->packs) * kCdTextPackLength + 4 > size) __builtin_trap();
  if (text->Empty() || text->block < 0 || text->block > 7) __builtin_trap();
  if (!ValidUtf8(text->title) || !ValidUtf8(text->performer)) __builtin_trap();
  int previous = 0;
  for (const CdTextTrack& t : text->tracks) {
    if (t.number <= previous || t.number > 99) __builtin_trap();
    previous = t.number;
    if (!ValidUtf8(t.title) || !ValidUtf8(t.performer) || t.isrc.size() > 13) __builtin_trap();
  }
  return 0;
}
