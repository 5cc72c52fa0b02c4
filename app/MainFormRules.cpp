#include "app/MainFormRules.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "codec/FormatRegistry.h"

namespace sonarvex {

bool ToolbarButtonVisible(const SettingsRecord& s, const std::string& name, bool m3uVisible) {
  if (name == "WMAButton") return s.ShowWmaButton != 0;
  // The FLAC button stands beside the WAV button and is shown with it.
  if (name == "SpeedButton18" || name == "FlacButton") return s.ShowWaveButton != 0;
  if (name == "BurnCDButton") return s.ShowBurnButton != 0;
  if (name == "SpeedButton7") return s.ShowFindButton != 0;
  if (name == "ConvertButton") return s.ShowConvertButton != 0;
  if (name == "SpeedButton6") return s.ShowCddbButton != 0;
  if (name == "SpeedButton4") return s.ShowPlayerButton != 0;
  if (name == "SpeedButton8") return m3uVisible;
  return true;
}

std::vector<int> ToolbarLefts(const std::vector<bool>& visible, int buttonWidth) {
  std::vector<int> lefts;
  int before = 0;
  for (bool v : visible) {
    lefts.push_back(v ? buttonWidth * before : -1);
    if (v) ++before;
  }
  return lefts;
}

ColourScheme ComputeColours(std::uint32_t windowColor, std::uint32_t editColor) {
  ColourScheme c{};
  c.Window = windowColor;
  c.Edit = editColor;
  c.List = editColor == kDefaultEditColor ? kDefaultWindowColor : editColor;
  return c;
}

namespace {
std::string Format(const char* format, double v) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, v);
  return buffer;
}
}  // namespace

std::string MegabytesText(std::uint64_t bytes) {
  return Format("%2.2f Мб", static_cast<double>(bytes) / 1048576.0);
}

std::string ExpectedSizeText(std::uint64_t bytes, double ratio) {
  // A ratio of 0 (no bitrate chosen) would divide by zero: show nothing to expect.
  double mb = ratio > 0 ? static_cast<double>(bytes) / 1048576.0 / ratio : 0.0;
  std::string text = Format("%2.2f Мб", mb);
  // "Мб" is two characters but four bytes.
  if (text.size() - 2 < 8) text = "0" + text;
  return text;
}

std::string SizePanelText(std::uint64_t sumBytes, double ratio, bool showCompressed) {
  double mb = static_cast<double>(sumBytes) / 1048576.0;
  if (showCompressed) mb = ratio > 0 ? mb / ratio : 0.0;
  return Format("Разм %2.2f Мб", mb);
}

std::vector<EnableChange> ControlsEnabledTable(bool on, bool discPresent) {
  std::vector<EnableChange> out;
  std::map<std::string, bool> state;
  auto set = [&](const std::string& name, bool v) { state[name] = v; };
  for (const char* name :
       {"SpeedButton10", "SpeedButton9", "SpeedButton2", "SpeedButton18", "WMAButton",
        "SpeedButton11", "SpeedButton12", "SpeedButton13", "SpeedButton14",
        "SpeedButton15", "SpeedButton6", "CDDB2", "SpeedButton5", "GroupEdit", "AlbumNameEdit",
        "SonarvexCD1", "N22", "FlacButton", "TagSpeedButton", "ID3v2", "ID3v21", "VolumeBar",
        "N40", "Play1"})
    set(name, on);
  // Every format's grab command.
  for (const OutputFormat* format : GrabMenuFormats()) set(format->menu.action, on);
  set("M3U1", false);
  set("SpeedButton8", false);
  if (discPresent) {
    set("SpeedButton16", true);
    set("SpeedButton7", on);
    set("BurnCDButton", on);
    set("AudioCD1", on);
  } else {
    set("TagSpeedButton", false);
    set("ID3v2", false);
    set("ID3v21", false);
    set("SpeedButton16", false);
    set("SpeedButton13", true);
    set("BurnCDButton", true);
  }
  set("Stop1", state["SpeedButton16"]);
  set("Eject1", state["SpeedButton13"]);
  set("CDROMBox", state["SpeedButton13"]);
  for (const auto& [name, v] : state) out.push_back({name, v});
  return out;
}
ScreenRect PlaceMainWindow(std::optional<int> left, std::optional<int> top,
                           std::optional<int> width, std::optional<int> height,
                           int defaultWidth, int defaultHeight, int minWidth, int minHeight,
                           const ScreenRect& available, int frame) {
  ScreenRect r;
  r.Width = std::max(width.value_or(defaultWidth), minWidth);
  r.Height = std::max(height.value_or(defaultHeight), minHeight);
  // Never larger than the screen (unless the minimum does not fit).
  if (available.Width > 0) r.Width = std::max(std::min(r.Width, available.Width), minWidth);
  if (available.Height > frame)
    r.Height = std::max(std::min(r.Height, available.Height - frame), minHeight);
  const int outerHeight = r.Height + frame;
  const int right = available.Left + available.Width;
  const int bottom = available.Top + available.Height;
  r.Left = left.value_or(available.Left + (available.Width - r.Width) / 2);
  r.Top = top.value_or(available.Top + (available.Height - outerHeight) / 2);
  // The whole frame on the screen where it fits; the title bar always.
  r.Left = std::max(std::min(r.Left, right - r.Width), available.Left);
  r.Top = std::max(std::min(r.Top, bottom - outerHeight), available.Top);
  return r;
}

}  // namespace sonarvex
