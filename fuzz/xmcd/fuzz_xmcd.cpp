// The xmcd record parser. The first byte is the disc's track count, the next
// eight its identifier text; the rest is the body of the read answer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "metadata/Xmcd.h"
#include "platform/Cp1251.h"
#include "platform/Dialogs.h"

namespace {

class NullDialogs : public sonarvex::Dialogs {
 public:
  int Message(const std::string&, const std::string&, sonarvex::MsgIcon,
              sonarvex::MsgButtons) override {
    return sonarvex::IdOk;
  }
  std::vector<std::string> OpenFiles(const std::string&, const std::vector<sonarvex::FileFilter>&,
                                     const std::string&, bool) override {
    return {};
  }
  std::optional<std::string> SaveFile(const std::string&, const std::vector<sonarvex::FileFilter>&,
                                      const std::string&, const std::string&) override {
    return std::nullopt;
  }
  std::optional<std::string> ChooseFolder(const std::string&, const std::string&) override {
    return std::nullopt;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 9) return 0;
  sonarvex::AlbumRecord album{};
  album.TrackCount = data[0];
  sonarvex::SetField(album.CddbId,
                     std::string_view(reinterpret_cast<const char*>(data + 1), 8));
  std::string_view body(reinterpret_cast<const char*>(data + 9), size - 9);
  sonarvex::TagBuffer tags;
  NullDialogs dialogs;
  sonarvex::ParseXmcd(body, album, tags, dialogs, nullptr);
  // Every text stays inside its field.
  if (std::memchr(album.Artist, 0, sizeof album.Artist) == nullptr) __builtin_trap();
  if (std::memchr(album.Year, 0, sizeof album.Year) == nullptr) __builtin_trap();
  for (int i = 0; i < sonarvex::kMaxAlbumTracks; ++i)
    if (std::memchr(album.Tracks[i].Title, 0, sizeof album.Tracks[i].Title) == nullptr)
      __builtin_trap();
  return 0;
}
