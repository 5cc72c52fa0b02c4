// CUE/BIN disc images for the software drive: the CUE sheet parser, the
// layout of its tracks on the disc, and the image as a VirtualDisc reading
// its sectors from the BIN files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drive/virtual/VirtualDisc.h"

namespace sonarvex {

struct CueFile {
  std::string name;        // as written in the sheet
  bool bigEndian = false;  // MOTOROLA
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
  int pregap = 0;  // sectors not in the file
  int postgap = 0;
  std::string isrc;  // ISRC: 12 characters (5 of A-Z/0-9, 7 digits), "" when absent or malformed
};

struct CueSheet {
  std::vector<CueFile> files;
  std::vector<CueImageTrack> tracks;
  std::string catalog;  // CATALOG: 13 digits, "" when absent or malformed
};

// A cue sheet line's words: "quoted text" is one word (without its quotes).
std::vector<std::string> CueLineWords(std::string_view line);

// Parses the text of a CUE sheet; nullopt with a reason (Russian, for the
// user) when it cannot be used. A CATALOG or ISRC that is not a valid code is
// left out, not an error; TITLE, PERFORMER and the like are skipped.
std::optional<CueSheet> ParseCueSheet(std::string_view text, std::string* error);

// One stretch of disc sectors and where its bytes lie.
struct CueSegment {
  std::int32_t lba = 0;
  std::int32_t sectors = 0;
  int file = -1;  // -1: not in a file (silence / empty data sectors)
  std::uint64_t byteOffset = 0;
  int sectorSize = 2352;
  bool audio = true;
};

struct CueLayout {
  std::vector<VirtualTrack> tracks;
  std::vector<CueSegment> segments;
  std::int32_t leadOutLba = 0;
};

// Lays the tracks out given the size of each file in bytes. A track's
// pregapSectors are the sectors it owns before its INDEX 01: its PREGAP and
// the file's sectors from its INDEX 00 (or, with no INDEX 00, from the start
// of a file whose first mark is its INDEX 01); for track 1, every sector
// from LBA 0.
std::optional<CueLayout> LayoutCueSheet(const CueSheet& sheet,
                                        const std::vector<std::uint64_t>& fileSizes,
                                        std::string* error);

// Loads a .cue file and opens its BIN files (relative names are taken from
// the sheet's folder).
std::optional<VirtualDisc> LoadCueImage(const std::string& cuePath, std::string* error);

}  // namespace sonarvex
