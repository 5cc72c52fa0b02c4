// The MusicBrainz disc identifier of an audio CD and the table of contents
// its web service takes for a fuzzy lookup.
//
// The identifier covers the audio tracks: a data track at the end of the
// disc (an enhanced CD, whose data track opens a second session) is left
// out, and the audio session's lead-out stands at the data track's start
// less the 11400 sectors of lead-out and lead-in between the sessions (or at
// the data track's start, when the drive says the disc has one session). A
// data track before the audio (a mixed-mode disc, data in track 1) is kept,
// as the drive lists it: MusicBrainz lists it as a track of such a disc.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sonarvex {

struct DiscToc;

struct MusicBrainzToc {
  int firstTrack = 0, lastTrack = 0;
  // Sector addresses with the lead-in's 150 sectors (LBA + 150).
  std::int32_t leadOut = 0;
  std::vector<std::int32_t> offsets;  // of tracks firstTrack..lastTrack
};

// The table of the disc's audio tracks; nullopt when it has none (or a
// numbering the identifier cannot hold: outside 1..99).
std::optional<MusicBrainzToc> MusicBrainzTocOf(const DiscToc& toc);

// The 28-character identifier: SHA-1 of the first and last track numbers
// (two upper-case hexadecimal digits each), the lead-out and the 99 track
// offsets (eight digits each, 0 for absent tracks), in base 64 with ".",
// "_" and "-" for "+", "/" and "=".
std::string MusicBrainzDiscId(const MusicBrainzToc& toc);

// The web service's toc parameter: first, last, lead-out and the offsets in
// decimal, joined by "+" (the space of a query string).
std::string MusicBrainzTocParameter(const MusicBrainzToc& toc);

}  // namespace sonarvex
