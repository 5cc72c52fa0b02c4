#include "records/SettingsRecord.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/Cp1251.h"
#include "platform/Files.h"

namespace sonarvex {

void ApplyFirstStartDefaults(SettingsRecord& s, const char* outputFolder) {
  SetField(s.OutputFolder, Utf8ToCp1251(outputFolder));
  s.CompressOutput = 0;
  s.UseLame = 1;
  s.FolderPerArtist = 1;
  s.FolderPerAlbum = 1;
  s.OutputKind = 1;
  s.Lame.BitrateIndex = 12;
  s.Lame.MaxBitrateIndex = 14;
  s.Lame.Mode = 1;
  s.Lame.VbrMethod = -1;
  s.Lame.VbrQuality = 0;
  s.Lame.VbrEnabled = 0;
  s.Lame.Preset = 0;
  s.ProxyPort = 80;
  s.VolumeOnDrive = 0;
  s.LockTray = 1;
  const std::int16_t widths[5] = {144, 90, 80, 80, 150};
  std::memcpy(s.ColumnWidths, widths, sizeof widths);
  s.AcmFormatIndex = 0;
  s.WmaBitrateIndex = 7;
  s.ShowWaveButton = s.ShowWmaButton = s.ShowBurnButton = s.ShowFindButton = 1;
  s.ShowConvertButton = s.ShowCddbButton = s.ShowPlayerButton = 1;
  s.NormLowThreshold = 90;
  s.NormHighThreshold = 98;
  s.NormLowTarget = 90;
  s.NormHighTarget = 98;
}

namespace {
// XDG_MUSIC_DIR from user-dirs.dirs, with $HOME expanded; "" when not set.
std::string XdgMusicFolder(const std::string& home) {
  const char* cfg = std::getenv("XDG_CONFIG_HOME");
  std::string file = (cfg && *cfg ? std::string(cfg) : home + "/.config") + "/user-dirs.dirs";
  auto data = ReadFileBytes(file, 64 * 1024);
  if (!data) return {};
  std::size_t pos = 0;
  while (pos < data->size()) {
    auto nl = data->find('\n', pos);
    std::string line = data->substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    pos = nl == std::string::npos ? data->size() : nl + 1;
    const std::string key = "XDG_MUSIC_DIR=";
    if (line.compare(0, key.size(), key) != 0) continue;
    std::string v = line.substr(key.size());
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    if (v.compare(0, 5, "$HOME") == 0) v = home + v.substr(5);
    if (v.empty() || v.front() != '/') return {};
    return v;
  }
  return {};
}
}  // namespace

bool OutputFolderFits(const std::string& utf8) {
  const std::string cp = Utf8ToCp1251(utf8);
  return !utf8.empty() && cp.size() < sizeof(SettingsRecord::OutputFolder) && Cp1251ToUtf8(cp) == utf8;
}

DefaultFolderChoice ChooseDefaultOutputFolder() {
  const char* h = std::getenv("HOME");
  std::string home = h && *h ? h : "/tmp";
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  auto slashed = [](std::string f) {
    if (!f.empty() && f.back() != '/') f += '/';
    return f;
  };
  DefaultFolderChoice choice;
  const std::string music = slashed(XdgMusicFolder(home));
  // A folder the record cannot hold would be cut or garbled there and every
  // rip would fail: such a folder is passed over, never cut.
  const std::string candidates[] = {music, slashed(home + "/Music"), "/tmp/Music/"};
  for (const auto& c : candidates) {
    if (c.empty()) continue;
    if (OutputFolderFits(c)) {
      choice.Folder = c;
      break;
    }
    if (choice.PassedOver.empty()) choice.PassedOver = c;
  }
  return choice;
}

const char* DefaultOutputFolder() {
  // Chosen afresh on every call: HOME and the XDG folders may change.
  thread_local std::string folder;
  folder = ChooseDefaultOutputFolder().Folder;
  return folder.c_str();
}

}  // namespace sonarvex
