// The record of the disc in the drive: titles, the track table from the table
// of contents and the copy state of each track. Its raw 9360-byte image is the
// album file of the album database.
#pragma once

#include <cstddef>
#include <cstdint>

#include "records/CdAddress.h"

namespace sonarvex {

inline constexpr int kMaxAlbumTracks = 100;  // rows, the last one may be the lead-out

#pragma pack(push, 1)
struct AlbumTrackEntry {
  char Title[50];
  Msf Start;
  Msf Length;
  Msf RangeStart;
  std::uint8_t Reserved1;
  std::int32_t StartSector;  // relative to the first track
  std::uint32_t Size;        // length in frames x 2352
  std::uint8_t Reserved2;
  std::uint8_t RangeFlag;
  std::uint8_t CopiedFlag;
  std::uint8_t AudioFlag;
  Msf RangeEnd;
  std::uint8_t Reserved3[17];
};

struct AlbumRecord {
  char AlbumTitle[50];
  char Artist[50];
  std::uint8_t Compilation;
  std::uint8_t Reserved1[3];
  std::uint8_t TrackCount;  // last track number of the table of contents
  std::uint8_t Reserved2[3];
  std::int32_t DiscId;  // signed view of the CDDB disc identifier
  std::uint8_t Reserved3[4];
  AlbumTrackEntry Tracks[kMaxAlbumTracks];  // row TrackCount is the lead-out
  char Year[10];
  char Genre[20];
  char CddbId[9];
  std::uint8_t Reserved4;
  std::uint16_t FirstTrackOffset;  // seconds x 75 + frames of track 1's start
  // The number of the disc's first track when it is not 1 (a disc of a set
  // numbered on from the one before); 0 for the usual 1, so that the album
  // files of discs that start at track 1 stay as they always were.
  std::uint8_t FirstTrackNumber;
  std::uint8_t Reserved5;
};
#pragma pack(pop)

static_assert(sizeof(AlbumTrackEntry) == 92);
static_assert(offsetof(AlbumTrackEntry, Title) == 0);
static_assert(offsetof(AlbumTrackEntry, Start) == 50);
static_assert(offsetof(AlbumTrackEntry, Length) == 53);
static_assert(offsetof(AlbumTrackEntry, RangeStart) == 56);
static_assert(offsetof(AlbumTrackEntry, Reserved1) == 59);
static_assert(offsetof(AlbumTrackEntry, StartSector) == 60);
static_assert(offsetof(AlbumTrackEntry, Size) == 64);
static_assert(offsetof(AlbumTrackEntry, Reserved2) == 68);
static_assert(offsetof(AlbumTrackEntry, RangeFlag) == 69);
static_assert(offsetof(AlbumTrackEntry, CopiedFlag) == 70);
static_assert(offsetof(AlbumTrackEntry, AudioFlag) == 71);
static_assert(offsetof(AlbumTrackEntry, RangeEnd) == 72);
static_assert(offsetof(AlbumTrackEntry, Reserved3) == 75);

static_assert(sizeof(AlbumRecord) == 9360);
static_assert(offsetof(AlbumRecord, AlbumTitle) == 0);
static_assert(offsetof(AlbumRecord, Artist) == 50);
static_assert(offsetof(AlbumRecord, Compilation) == 100);
static_assert(offsetof(AlbumRecord, Reserved1) == 101);
static_assert(offsetof(AlbumRecord, TrackCount) == 104);
static_assert(offsetof(AlbumRecord, Reserved2) == 105);
static_assert(offsetof(AlbumRecord, DiscId) == 108);
static_assert(offsetof(AlbumRecord, Reserved3) == 112);
static_assert(offsetof(AlbumRecord, Tracks) == 116);
static_assert(offsetof(AlbumRecord, Year) == 9316);
static_assert(offsetof(AlbumRecord, Genre) == 9326);
static_assert(offsetof(AlbumRecord, CddbId) == 9346);
static_assert(offsetof(AlbumRecord, Reserved4) == 9355);
static_assert(offsetof(AlbumRecord, FirstTrackOffset) == 9356);
static_assert(offsetof(AlbumRecord, FirstTrackNumber) == 9358);
static_assert(offsetof(AlbumRecord, Reserved5) == 9359);

// FirstTrackNumber of an album made in memory for the audio before track
// 1's INDEX 01 (a hidden track) alone: its one row is track 0. No disc
// numbers its tracks that high, and no album file holds it.
inline constexpr std::uint8_t kHiddenTrackAlbumMark = 0xFF;

// The disc's number of row i of the record (row 0 is the first track).
inline int TrackNumberOfRow(const AlbumRecord& album, int row) {
  if (album.FirstTrackNumber == kHiddenTrackAlbumMark) return row;
  return (album.FirstTrackNumber != 0 ? album.FirstTrackNumber : 1) + row;
}

}  // namespace sonarvex
