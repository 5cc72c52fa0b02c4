// The tags of one track, written into output files as ID3v2 frames, Vorbis
// comments or WMA attributes. Its raw image is stored in the tag file of the
// album database.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sonarvex {

#pragma pack(push, 1)
struct TrackTagRecord {
  std::uint8_t TagsOn;  // tags are written
  char Title[50];
  char Artist[50];
  char Album[50];
  char Comment[1024];
  char TrackNumber[4];  // decimal text
  char Url[50];
  char EncodedBy[50];
  char Copyright[50];
  char OriginalArtist[50];
  char Composer[50];
  char Genre[50];
  char Year[50];
};
#pragma pack(pop)

static_assert(sizeof(TrackTagRecord) == 1529);
static_assert(offsetof(TrackTagRecord, TagsOn) == 0);
static_assert(offsetof(TrackTagRecord, Title) == 1);
static_assert(offsetof(TrackTagRecord, Artist) == 51);
static_assert(offsetof(TrackTagRecord, Album) == 101);
static_assert(offsetof(TrackTagRecord, Comment) == 151);
static_assert(offsetof(TrackTagRecord, TrackNumber) == 1175);
static_assert(offsetof(TrackTagRecord, Url) == 1179);
static_assert(offsetof(TrackTagRecord, EncodedBy) == 1229);
static_assert(offsetof(TrackTagRecord, Copyright) == 1279);
static_assert(offsetof(TrackTagRecord, OriginalArtist) == 1329);
static_assert(offsetof(TrackTagRecord, Composer) == 1379);
static_assert(offsetof(TrackTagRecord, Genre) == 1429);
static_assert(offsetof(TrackTagRecord, Year) == 1479);

}  // namespace sonarvex
