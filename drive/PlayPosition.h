// Where an analog play position lies on the disc: the track and the sector
// within it, as the status timer shows it.
#pragma once

#include <optional>

#include "records/AlbumRecord.h"

namespace sonarvex {

struct TrackPosition {
  int track = 0;   // row index
  int sector = 0;  // sectors from the track's start
};

// sector := M x 4500 + S x 75 + F - first-track offset; the track is the
// first i (0..trackCount-1) with start(i) <= sector < start(i+1).
std::optional<TrackPosition> LocatePlayPosition(const AlbumRecord& album, int trackCount,
                                                Msf absolute);

}  // namespace sonarvex
