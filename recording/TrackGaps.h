// The gaps and index points of one track of a compilation, as a cue sheet
// gives them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sonarvex {

// What a cue sheet says of the track one file holds, beyond the file's
// audio: silence before and after it, where its INDEX 01 lies in the file,
// its later index points, and a pregap that is the end of the file before.
// All zero (the default) for a plain file: the track is the file from its
// first sector, with no pregap of its own.
struct TrackGaps {
  std::int32_t pregap = 0;   // PREGAP: silence before the audio, the track's INDEX 00
  std::int32_t index1 = 0;   // INDEX 01 in the file: the sectors before it are INDEX 00
  std::vector<std::int32_t> indices;  // INDEX 02, 03... in the file (sectors from its start)
  std::int32_t postgap = 0;  // POSTGAP: silence after the file, still the track's
  // INDEX 00 in the file before: its last previousTail sectors are this
  // track's pregap, while the file before is previousFile (moved elsewhere in
  // the list, the file keeps them as its own audio).
  std::string previousFile;
  std::int32_t previousTail = 0;
  bool operator==(const TrackGaps&) const = default;
};

}  // namespace sonarvex
