#include "drive/PlayPosition.h"

namespace sonarvex {

std::optional<TrackPosition> LocatePlayPosition(const AlbumRecord& album, int trackCount,
                                                Msf absolute) {
  if (trackCount > kMaxAlbumTracks - 1) trackCount = kMaxAlbumTracks - 1;
  const int sector = MsfToFrames(absolute) - album.FirstTrackOffset;
  for (int i = 0; i < trackCount; ++i) {
    const int start = album.Tracks[i].StartSector;
    const int next = album.Tracks[i + 1].StartSector;
    if (start <= sector && sector < next) return TrackPosition{i, sector - start};
  }
  return std::nullopt;
}

}  // namespace sonarvex
