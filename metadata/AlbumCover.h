// The front cover kept with an album in the album database: beside the
// album file, "<identifier>.<release>.jpg" (or ".png"), named after the disc
// identifier and the MusicBrainz release the picture is of, so that a disc
// looked up again as another release does not keep the old one's picture.
// A later rip of the disc takes it from there without the network.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "records/CoverImage.h"

namespace sonarvex {

class CoverArtClient;

// The stored picture's path for an extension ("jpg", "png").
std::string AlbumCoverPath(const std::string& albumFolder, std::int32_t discId,
                           const std::string& releaseId, const char* extension);

// The stored cover of the disc's release; false when there is none that
// reads as a JPEG or PNG image of at most maxBytes.
bool LoadAlbumCover(const std::string& albumFolder, std::int32_t discId,
                    const std::string& releaseId, CoverImage& image,
                    std::size_t maxBytes = 8u << 20);

// Stores the cover atomically and removes the covers of the disc's other
// releases; false, with problem saying which file and why, when it could
// not be written.
bool StoreAlbumCover(const std::string& albumFolder, std::int32_t discId,
                     const std::string& releaseId, const CoverImage& image, std::string* problem);

struct AlbumCoverResult {
  std::shared_ptr<const CoverImage> image;  // null: no cover
  bool fetched = false;                     // it came from the archive now
  std::string failure;                      // why the archive gave none (Russian)
};

// The cover of the album's release: the stored one, else (when fetch) the
// archive's front cover at the size, which is then stored. A failure of the
// archive or of storing leaves failure set; the picture fetched is still
// given when only storing failed.
AlbumCoverResult FindAlbumCover(const std::string& albumFolder, std::int32_t discId,
                                const std::string& releaseId, bool fetch, CoverArtClient& client,
                                int size);

}  // namespace sonarvex
