// The tag loader: byte 0 is the disc's track count (mod 100), the rest the
// tag file. Every record read is turned into the ID3v2 tag and the Vorbis
// comments the writers put into files; the tag's declared size must match
// what was built.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "codec/Id3v2Writer.h"
#include "fuzz/FuzzSupport.h"
#include "metadata/AlbumDatabase.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sonarvex;
  if (size < 1) return 0;
  const int trackCount = data[0] % kMaxAlbumTracks;
  const std::string path = fuzz::PrivateFolder() + "disc.dat.tag";
  fuzz::WriteInput(path, std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  TagBuffer tags;
  ReadTagFile(path, trackCount, tags);
  if (tags.Count() != trackCount) __builtin_trap();
  for (int k = 0; k < trackCount; ++k) {
    const TrackTagRecord tag = tags.Get(k, trackCount);
    const std::vector<unsigned char> id3 = BuildId3v2(tag);
    if (!id3.empty()) {
      if (id3.size() < 10 || id3[0] != 'I' || id3[1] != 'D' || id3[2] != '3') __builtin_trap();
      // Synchsafe size of everything after the 10-byte header.
      const std::size_t declared = static_cast<std::size_t>(id3[6]) << 21 |
                                   static_cast<std::size_t>(id3[7]) << 14 |
                                   static_cast<std::size_t>(id3[8]) << 7 | id3[9];
      if ((id3[6] | id3[7] | id3[8] | id3[9]) & 0x80) __builtin_trap();
      if (declared != id3.size() - 10) __builtin_trap();
    }
    for (const auto& [name, value] : VorbisCommentsFor(tag))
      if (name.empty() || name.find('=') != std::string::npos) __builtin_trap();
  }
  return 0;
}
