// The album database's loaders. Input: byte 0 the disc's track count (mod
// 100), bytes 1..2 the album file's length (little-endian), then the album
// file, the rest the tag file. Both are stored for a disc, loaded for it, the
// loaded titles name its tracks (the names must stay inside the output
// folder), the artists are collected, and the album is stored again: what was
// stored must read back byte for byte.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "rip/OutputNaming.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/NamingCheck.h"
#include "metadata/AlbumDatabase.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sonarvex;
  if (size < 3) return 0;
  static const std::string folder = fuzz::PrivateFolder() + "albums/";
  static const std::string saved = fuzz::PrivateFolder() + "saved/";
  MakeDirectories(folder);
  const int trackCount = data[0] % kMaxAlbumTracks;
  std::size_t albumBytes = static_cast<std::size_t>(data[1] | data[2] << 8);
  const std::string_view rest(reinterpret_cast<const char*>(data + 3), size - 3);
  if (albumBytes > rest.size()) albumBytes = rest.size();
  constexpr std::int32_t kDiscId = -1234567;
  const std::string file = folder + AlbumFileName(kDiscId);
  fuzz::WriteInput(file, rest.substr(0, albumBytes));
  fuzz::WriteInput(file + ".tag", rest.substr(albumBytes));

  // The disc: trackCount audio tracks of a minute each and the lead-out.
  AlbumRecord album;
  std::memset(&album, 0, sizeof album);
  album.TrackCount = static_cast<std::uint8_t>(trackCount);
  album.DiscId = kDiscId;
  for (int i = 0; i <= trackCount && i < kMaxAlbumTracks; ++i) {
    album.Tracks[i].StartSector = i * 4500;
    album.Tracks[i].Size = 4500 * 2352;
    album.Tracks[i].AudioFlag = i < trackCount;
  }
  TagBuffer tags;
  if (!LoadAlbumForDisc(folder, album, tags)) __builtin_trap();
  if (album.TrackCount != trackCount || album.DiscId != kDiscId) __builtin_trap();

  SettingsRecord settings;
  std::memset(&settings, 0, sizeof settings);
  SetField(settings.OutputFolder, "/music/");
  settings.NameHasTitle = settings.NameHasArtist = settings.NameHasAlbum = 1;
  settings.NameHasNumber = settings.FolderPerArtist = settings.FolderPerAlbum = 1;
  NamingInput in{settings, album, tags};
  for (int i = 0; i < trackCount; ++i) fuzz::CheckRelativeName(RelativeOutputName(i, in));
  settings.UseFormatString = 1;
  SetField(settings.FormatString, "%A\\%D\\%N %T");
  for (int i = 0; i < trackCount; ++i) fuzz::CheckRelativeName(RelativeOutputName(i, in));
  (void)CollectArtists(folder);

  // Stored again and read back.
  std::vector<std::string> artists;
  if (SaveAlbum(saved, album, tags, &artists)) {
    AlbumRecord back;
    std::memset(&back, 0, sizeof back);
    if (!ReadAlbumFile(saved + AlbumFileName(kDiscId), back)) __builtin_trap();
    if (std::memcmp(&back, &album, sizeof album) != 0) __builtin_trap();
    TagBuffer backTags;
    ReadTagFile(saved + AlbumFileName(kDiscId) + ".tag", trackCount, backTags);
    if (!tags.Bytes().empty() && backTags.Bytes() != tags.Bytes()) __builtin_trap();
    if (artists.size() > 1) __builtin_trap();
  }
  return 0;
}
