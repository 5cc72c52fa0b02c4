// The settings loader: the input's first 1220 bytes are set.dat (a shorter
// input is a short file), the rest is placement.ini. The loaded record then
// names the tracks of a small disc and sets the window rules; the names must
// stay inside the output folder.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "app/MainFormRules.h"
#include "rip/OutputNaming.h"
#include "settings/SettingsStore.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/NamingCheck.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sonarvex;
  static const std::string program = [] {
    const std::string f = fuzz::PrivateFolder() + "program/";
    MakeDirectories(f + "setting");
    return f;
  }();
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t recordPart = size < sizeof(SettingsRecord) ? size : sizeof(SettingsRecord);
  fuzz::WriteInput(program + "setting/set.dat", bytes.substr(0, recordPart));
  fuzz::WriteInput(program + "setting/placement.ini", bytes.substr(recordPart));

  fuzz::NullDialogs dialogs;
  SettingsStore store(program, dialogs);
  SettingsRecord s;
  std::memset(&s, 0, sizeof s);
  store.LoadRecord("set.dat", s);
  const WindowPlacement placement = store.LoadPlacement();
  for (const auto& v : {placement.Top, placement.Left, placement.Width, placement.Height})
    if (v && (*v < -100000 || *v > 100000)) __builtin_trap();

  AlbumRecord album;
  std::memset(&album, 0, sizeof album);
  SetField(album.Artist, "Artist");
  SetField(album.AlbumTitle, "Album");
  album.TrackCount = 3;
  for (int i = 0; i < 3; ++i) {
    SetField(album.Tracks[i].Title, "Track " + std::to_string(i + 1));
    album.Tracks[i].AudioFlag = 1;
  }
  TagBuffer tags;
  NamingInput in{s, album, tags};
  for (int i = 0; i < 3; ++i) {
    fuzz::CheckRelativeName(RelativeOutputName(i, in));
    (void)NamesOfTrack(in, i);
    (void)ToNativePath(OutputFolderForNaming(s));
  }
  (void)OutputExtension(s.OutputKind);
  (void)ComputeColours(s.WindowColor, s.EditColor);
  for (const char* name : {"WMAButton", "SpeedButton18", "BurnCDButton", "SpeedButton7",
                           "ConvertButton", "SpeedButton6", "SpeedButton4"})
    (void)ToolbarButtonVisible(s, name, true);
  return 0;
}
