// CUE/BIN disc images for the software drive: the layout of a CUE sheet's
// tracks on the disc (the sheet itself is parsed by records/CueSheet), and
// the image as a VirtualDisc reading its sectors from the BIN files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drive/virtual/VirtualDisc.h"
#include "records/CueSheet.h"

namespace sonarvex {

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
