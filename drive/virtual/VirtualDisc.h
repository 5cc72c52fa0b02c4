// A disc in the software drive: its tracks, sessions and lead-out, and where
// the bytes of each sector come from (a BIN file, or a generator for discs
// built in code).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drive/CdText.h"

namespace sonarvex {

inline constexpr int kRawSectorBytes = 2352;
// Frames between the lead-out of one session and the first track of the
// next: lead-out 6750, lead-in 4500, pregap 150.
inline constexpr int kSessionGapFrames = 11400;

struct VirtualTrack {
  int number = 1;
  std::uint8_t control = 0;  // 0 audio, 4 data; 1 pre-emphasis, 2 copy permitted, 8 four channels
  int session = 1;
  std::int32_t startLba = 0;  // LBA 0 is MSF 00:02:00
  std::int32_t sectors = 0;
  // The sectors before startLba that are this track's pregap (Q sub-channel
  // index 0), from INDEX 00 / PREGAP; they count in the previous track's
  // `sectors`, as the table of contents has it. Sectors before the first
  // track are its pregap whatever this says.
  std::int32_t pregapSectors = 0;
  // Where its INDEX 02, 03... begin (ascending LBAs after startLba).
  std::vector<std::int32_t> indexLbas;
  std::string isrc;  // 12 characters (ISRC), or "" for none
  bool Audio() const { return (control & 0x04) == 0; }
};

// Fills 2352 bytes of sector `lba`; false when the sector cannot be read.
using SectorReader = std::function<bool(std::int32_t lba, std::uint8_t* out)>;

struct VirtualDisc {
  std::vector<VirtualTrack> tracks;
  std::int32_t leadOutLba = 0;
  SectorReader read;
  // When set, READ TOC answers these bytes as they are (for tests of broken
  // tables of contents).
  std::optional<std::vector<std::uint8_t>> rawToc;
  std::string description;  // image path or a name
  std::string catalog;      // the media catalogue number (13 digits, CATALOG), or ""
  // The disc's CD-Text (UTF-8; READ TOC format 5 answers it in packs); a
  // disc without any answers that format with an error.
  CdText cdText;

  int Sessions() const { return tracks.empty() ? 0 : tracks.back().session; }
  // The track holding an LBA, or null (gaps between sessions, lead-out).
  const VirtualTrack* TrackAt(std::int32_t lba) const;
};

// Deterministic audio for discs built in code: a different pattern in every
// sector, so a read from the wrong place shows.
void SyntheticAudioSector(std::int32_t lba, std::uint8_t* out);
// A mode 1 data sector: sync, header with the BCD address, user data
// derived from the LBA, zero EDC/ECC.
void SyntheticDataSector(std::int32_t lba, std::uint8_t* out);

struct TrackLayout {
  std::int32_t sectors = 0;
  std::uint8_t control = 0;
  int session = 1;
};
// A disc built in code: tracks laid out from LBA `firstLba` on, a session
// change leaves the usual gap; audio sectors come from SyntheticAudioSector,
// data sectors from SyntheticDataSector.
VirtualDisc BuildDisc(const std::vector<TrackLayout>& tracks, std::int32_t firstLba = 0);
VirtualDisc BuildAudioDisc(const std::vector<std::int32_t>& trackSectors);

}  // namespace sonarvex
