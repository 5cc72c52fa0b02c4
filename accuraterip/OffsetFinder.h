// Finding a drive's read offset with a disc the AccurateRip database knows:
// a few tracks are read once as the drive gives them (no correction), and
// the audio is shifted in memory by candidate offsets until the tracks'
// checksums agree with the database's values.
//
// A drive with offset +N delivers at every position the audio that lies N
// samples earlier on the disc, so the true audio of a track starting at
// sample S is what the drive gave from sample S + N on (AudioReading.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "accuraterip/AccurateRip.h"

namespace sonarvex {

// Reads `count` sectors from `lba` as the drive gives them (2352 bytes each)
// into out; false when the drive failed.
using RawSectorReader = std::function<bool(std::int32_t lba, std::int32_t count, std::uint8_t* out)>;

struct OffsetSearch {
  // The offsets most drives have, tried first.
  std::vector<int> common = {6,   667, 48,  102, 103, 30,  -472, 12,   97,  594, 1164, 0,
                             91,  88,  686, 618, 738, 355, 120,  1776, -582, 733, 1858, 676};
  // Then every offset from -range to +range. Five sectors: what the
  // checksums leave out at the start of the disc's first track and the end
  // of its last, so every offset within it reads them whole.
  int range = static_cast<int>(kArSkippedSamples);
  // At most this many tracks are read (the second to the fourth when the
  // disc has them).
  int maxTracks = 3;
  // Run now and then while reading and computing (keeps a window alive);
  // returning false stops the search. May be empty.
  std::function<bool()> pump;
  // What is being done, for a progress line ("дорожка 2", ...). May be empty.
  std::function<void(const std::string&)> status;
};

struct OffsetFinding {
  enum class Outcome {
    Found,       // offset holds it
    NoneFits,    // no candidate gives the database's checksums
    NoValues,    // the entry holds no values for this disc's tracks
    ReadFailed,  // the drive could not read a track
    Stopped,     // pump said stop
  };
  Outcome outcome = Outcome::NoneFits;
  int offset = 0;
  int tracksTried = 0;    // tracks read and compared
  int tracksMatched = 0;  // of them, matching at `offset`
  int confidence = 0;     // the lowest confidence among the matching tracks
  int failedLba = 0;      // with ReadFailed: the first sector of the read
};

// Tries the candidates on the disc `toc` (audioEnd: the sector after its last
// audio sector; nothing at or beyond it, or before sector 0, is read: that
// audio counts as silence). The tracks chosen are those the entry holds a
// value for; an offset fits when every one of them matches (at least two,
// or one when only one could be chosen).
OffsetFinding FindReadOffset(const ArToc& toc, std::int32_t audioEnd, const std::vector<ArSubmission>& entry,
                             const RawSectorReader& read, const OffsetSearch& search = {});

}  // namespace sonarvex
