// The recording side of the software drive: the cue sheet a host sends for a
// session-at-once audio disc (checked as a recorder checks it), and the
// CUE/BIN image the written session becomes.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "drive/CdText.h"

namespace sonarvex {

// One track of a cue sheet.
struct CueSheetTrack {
  int number = 0;
  std::uint8_t control = 0;  // 0 audio; 1 pre-emphasis, 2 copy permitted, 8 four channels
  // LBA of the INDEX 00 entry (the track's pregap), or kNoIndex0.
  std::int32_t index0 = std::numeric_limits<std::int32_t>::min();
  std::int32_t index1 = 0;
  std::vector<std::int32_t> indices;  // LBAs of its INDEX 02, 03...
  std::string isrc;  // from its ISRC entries (12 characters), or ""
  static constexpr std::int32_t kNoIndex0 = std::numeric_limits<std::int32_t>::min();
};

struct CueSheetLayout {
  std::vector<CueSheetTrack> tracks;
  std::int32_t firstLba = 0;  // where writing starts: track 1's INDEX 00 (the pregap) or INDEX 01
  std::int32_t leadOutLba = 0;
  std::string catalog;  // from the MCN entries (13 digits), or ""
  // The lead-in entry's data form is 41h: the host writes the lead-in's R-W
  // sub-channel (the CD-Text packs), 96 bytes a block, before track 1.
  bool cdTextLeadIn = false;
};

// Why a cue sheet was refused: the sense (key 5, ILLEGAL REQUEST) a drive
// gives, and a text for test failures.
struct CueSheetProblem {
  std::uint8_t asc = 0x26, ascq = 0x00;  // invalid field in parameter list
  std::string text;
};

// Checks an MMC cue sheet (8-byte entries) for a session-at-once audio disc
// whose blocks the host sends raw (2352 bytes): a lead-in entry first, the
// tracks in ascending order with INDEX 00/01 entries at ascending
// addresses (INDEX 02, 03... after INDEX 01, numbered without gaps), track
// numbers 1.. without gaps, the lead-out last; every
// address within the disc; audio tracks only (data form 00h for the tracks,
// 01h for lead-in and lead-out, 41h for a lead-in whose R-W sub-channel the
// host sends). The catalogue number may follow the lead-in entry as two
// entries of ADR 2 (13 digits: 7 in the first, 6 in the second), a track's
// ISRC may precede its first entry as two entries of ADR 3 with its track
// number (6 characters in each).
std::optional<CueSheetLayout> CheckCueSheet(const std::uint8_t* data, std::size_t size,
                                            CueSheetProblem* problem);

// The .cue text of a written session whose sectors LBA 0..endLba-1 lie in
// the BIN file binName: the tracks that start before endLba, each with
// INDEX 00 where the cue sheet gave one at LBA 0 or later, INDEX 01, and
// the later index points before endLba. Track 1's pregap (LBA -150..-1) has
// no place in a BIN file, which starts at LBA 0; when its INDEX 01 lies
// beyond LBA 0, the sectors before it are its INDEX 00 at 00:00:00.
// The catalogue number and ISRCs of the cue sheet go with it (CATALOG,
// ISRC), and the CD-Text the lead-in carried (TITLE, PERFORMER of the disc
// and of its tracks) when text is given.
std::string WrittenCueText(const CueSheetLayout& layout, std::int32_t endLba,
                           const std::string& binName, const CdText* text = nullptr);

// "PATH.bin" for "PATH.cue" (any other name: PATH + ".bin").
std::string BinPathForCue(const std::string& cuePath);

}  // namespace sonarvex
