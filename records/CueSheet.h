// The text of a CUE sheet: its files, tracks (modes, indexes, gaps, flags,
// sessions) and codes. Only the text: what the files hold and where the
// tracks lie on a disc is for the users (the software drive's disc image,
// the recording compilation's audio cue sheets).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sonarvex {

// A larger sheet is refused.
inline constexpr std::size_t kMaxCueSheetBytes = 1 << 20;

struct CueFile {
  std::string name;        // as written in the sheet
  bool bigEndian = false;  // MOTOROLA
};

// An INDEX 02 or later of a track: a point inside it a player can skip to.
struct CueIndexMark {
  int number = 2;
  int file = 0;    // the file it lies in
  int frames = 0;  // file sectors
};

// One TRACK of a sheet. (Named apart from the rip's cue sheet track,
// app/RipLog.h's CueTrack: one program may not hold two types of one name.)
struct CueImageTrack {
  int number = 0;
  int file = 0;           // index into CueSheet::files: the file holding INDEX 01
  int sectorSize = 2352;  // 2352, 2336 or 2048 bytes in the file
  bool audio = true;
  std::uint8_t flags = 0;  // control bits from FLAGS (DCP 2, 4CH 8, PRE 1)
  int session = 1;
  int index0 = -1;  // file sectors, -1 when absent
  int index0File = -1;  // the file INDEX 00 lies in (the one before `file` at most)
  int index1 = -1;
  std::vector<CueIndexMark> indices;  // INDEX 02, 03..., numbered without gaps
  int pregap = 0;  // sectors not in the file
  int postgap = 0;
  std::string isrc;  // ISRC: 12 characters (5 of A-Z/0-9, 7 digits), "" when absent or malformed
  std::string title, performer;  // TITLE, PERFORMER of the track, as written
};

struct CueSheet {
  std::vector<CueFile> files;
  std::vector<CueImageTrack> tracks;
  std::string catalog;  // CATALOG: 13 digits, "" when absent or malformed
  std::string title, performer;  // TITLE, PERFORMER before the first TRACK, as written
};

// A cue sheet line's words: "quoted text" is one word (without its quotes).
std::vector<std::string> CueLineWords(std::string_view line);

// Parses the text of a CUE sheet; nullopt with a reason (Russian, for the
// user) when it cannot be used. A CATALOG or ISRC that is not a valid code is
// left out, not an error; TITLE and PERFORMER are kept (the disc's before the
// first TRACK, a track's after it), SONGWRITER and the like are skipped.
std::optional<CueSheet> ParseCueSheet(std::string_view text, std::string* error);

}  // namespace sonarvex
