// The MusicBrainz answer reader: any bytes either give releases or a reason,
// and the medium of a disc is looked up in what was read.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "metadata/MusicBrainzRelease.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view json(reinterpret_cast<const char*>(data), size);
  std::vector<sonarvex::MusicBrainzRelease> releases;
  std::string reason;
  const bool ok = sonarvex::ParseMusicBrainzAnswer(json, releases, reason);
  // A refusal always says why; an accepted answer never does.
  if (ok != reason.empty()) __builtin_trap();
  if (!ok && !releases.empty()) __builtin_trap();
  for (const sonarvex::MusicBrainzRelease& r : releases) {
    if (r.id.empty()) __builtin_trap();
    for (int tracks = 0; tracks < 3; ++tracks) {
      const sonarvex::MusicBrainzMedium* m = r.MediumFor(r.id, tracks);
      if (m && (m < r.media.data() || m >= r.media.data() + r.media.size())) __builtin_trap();
    }
    (void)r.Year();
  }
  return 0;
}
