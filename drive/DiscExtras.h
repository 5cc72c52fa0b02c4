// What a cue sheet of the disc needs beyond the table of contents, read from
// the drive: the media catalogue number, each audio track's ISRC, and where
// each audio track's pregap (INDEX 00) begins before its INDEX 01.
//
// The catalogue number and the ISRCs come from READ SUB-CHANNEL (formats 02h
// and 03h). A pregap is found from the Q sub-channel the drive returns with
// each sector (READ CD, formatted Q): the sectors before a track's INDEX 01
// are searched, bisecting, for the first one whose Q names that track; only
// sections whose CRC checks (or that the drive gave without a CRC, with a
// sensible address) count. Whatever the drive does not say, or refuses to
// say, stays empty or unknown: nothing here is guessed, and nothing here
// fails a rip.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drive/CommandBlock.h"
#include "drive/DiscToc.h"

namespace sonarvex {

class Transport;

struct TrackExtras {
  int number = 0;               // as the table of contents numbers the track
  bool audio = true;            // data tracks get neither an ISRC nor a pregap
  std::int32_t startLba = 0;    // INDEX 01, from the table of contents
  std::string isrc;             // 12 characters, or "" (none, refused, unreadable)
  // The drive's Q sub-channel showed where INDEX 00 begins. False: unknown
  // (the drive refused, the sections around it were unreadable, or Q and the
  // table of contents disagree); pregapSectors is then 0 and means nothing.
  bool pregapKnown = false;
  std::int32_t pregapSectors = 0;  // INDEX 00 .. INDEX 01; 0: no pregap
  // For track 1 only the sectors from LBA 0 on count (the 150 before it
  // cannot be read): a track 1 starting at LBA 32 with INDEX 00 at LBA 0 has
  // pregapSectors 32.
  std::int32_t PregapStartLba() const { return startLba - pregapSectors; }
  // Where its INDEX 02, 03... begin (LBAs after startLba), when asked for
  // and the Q sub-channel showed them; empty otherwise.
  std::vector<std::int32_t> indexLbas;
};

struct DiscExtras {
  std::string catalog;              // 13 digits, or ""
  std::vector<TrackExtras> tracks;  // every track of the table of contents, in order
  // What asking cost and how the drive took it.
  int commands = 0;          // commands sent
  int subQReads = 0;         // of which READ CD sector reads for the Q sub-channel
  bool codesRefused = false; // READ SUB-CHANNEL 02h/03h answered ILLEGAL REQUEST
  bool qRefused = false;     // READ CD with the Q sub-channel answered ILLEGAL REQUEST
  bool qUnusable = false;    // the first Q reads gave no usable position: no more were read
  bool interrupted = false;  // the drive became not ready / the medium changed / too many failures
};

struct DiscExtrasOptions {
  bool readCodes = true;    // catalogue number and ISRCs
  bool readPregaps = true;  // the Q sub-channel search
  // The search looks this far before INDEX 01 first (10 seconds). A pregap
  // reaching beyond it is followed back to the previous track's INDEX 01
  // (track 1: to LBA 0) when followLongPregaps, else reported unknown.
  std::int32_t pregapWindow = 750;
  bool followLongPregaps = true;
  // Q sector reads one track may cost before its pregap is given up.
  int maxQReadsPerTrack = 48;
  // The index points after INDEX 01 (INDEX 02, 03...): one Q read at each
  // audio track's end, and where it shows a later index, a bisection for
  // the start of each (at most maxQReadsPerTrack reads a track).
  bool readIndexPoints = false;
};

// Reads the extras of the disc in the current device of the transport whose
// table of contents is `toc` (e.g. DiscView::toc). Costs, on a disc of audio
// tracks: one READ SUB-CHANNEL for the catalogue, one per audio track for its
// ISRC, and single-sector READ CDs near each track's INDEX 01: 1 for a track
// without a pregap, 3 for a pregap of exactly 2 seconds, about 10 to 14 for
// another length within 10 seconds, a few more for longer ones (at most
// maxQReadsPerTrack); plus a few when sections are unreadable.
DiscExtras ReadDiscExtras(Transport& transport, const DiscToc& toc,
                          const DiscExtrasOptions& options = {});

// Adds what was read to the table the extras were read for: the catalogue
// number, and each track's ISRC and pregap (extras.tracks[i] is toc.tracks[i]).
void ApplyDiscExtras(const DiscExtras& extras, DiscToc& toc);

}  // namespace sonarvex
