// The CDDB disc identifier of an audio CD.
#pragma once

#include <cstddef>
#include <cstdint>

#include "records/AlbumRecord.h"

namespace sonarvex {

// The query input: the absolute start address (lead-in included) of every
// track in disc order, then the start of the lead-out.
struct CddbTocEntry {
  std::int32_t minutes;
  std::int32_t seconds;
  std::int32_t frames;
};

struct CddbTocTable {
  CddbTocEntry entries[100];
  std::int32_t count;  // number of tracks + 1 (the last used slot is the lead-out)
};

// The published CDDB identifier: ((digit sum of every track start in seconds)
// mod 255) << 24 | playing time in seconds << 8 | number of tracks.
// A table with a count outside 1..100 gives 0.
std::uint32_t ComputeDiscId(const CddbTocTable& toc);

// The table of a disc from its album record: slot i is the start address of
// row i, the last slot the lead-out row (row TrackCount). At most 99 tracks.
CddbTocTable TocTableFromAlbum(const AlbumRecord& album);

// The signed view stored in AlbumRecord::DiscId and used for file names.
inline std::int32_t SignedDiscId(std::uint32_t id) { return static_cast<std::int32_t>(id); }

}  // namespace sonarvex
