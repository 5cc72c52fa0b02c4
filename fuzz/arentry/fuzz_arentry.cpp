// Fuzzes what comes from outside during a verified rip: an AccurateRip
// database entry as the server sends it (parsed, then every track judged),
// and the formatted Q sub-channel data a drive returns. The first byte
// chooses: even bytes feed an entry, odd bytes a Q section.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "accuraterip/AccurateRip.h"
#include "drive/DriveCommands.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sonarvex;
  if (size < 1) return 0;
  const bool q = data[0] & 1;
  ++data;
  --size;
  if (q) {
    std::uint8_t section[16] = {};
    std::memcpy(section, data, size < sizeof section ? size : sizeof section);
    const SubQ parsed = ParseFormattedQ(section);
    if (parsed.kind == SubQKind::Position &&
        (parsed.index < 0 || parsed.index > 99 || parsed.relative < 0))
      __builtin_trap();
    return 0;
  }
  std::vector<ArSubmission> entry;
  std::string error;
  if (!ParseArEntry(std::string_view(reinterpret_cast<const char*>(data), size), entry, &error)) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  if (entry.empty()) __builtin_trap();
  for (const ArSubmission& s : entry) {
    if (static_cast<int>(s.tracks.size()) != s.ids.trackCount) __builtin_trap();
    for (int index = 0; index <= s.ids.trackCount + 1; ++index) {
      const ArVerdict v = VerifyArTrack(entry, s.ids, index, s.ids.id1, s.ids.id2);
      if (v.status != ArStatus::Match && v.confidence != 0) __builtin_trap();
      (void)ArVerdictText(v);
      (void)ArVerdictWord(v);
    }
  }
  return 0;
}
