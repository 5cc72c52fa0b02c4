// The rules of the main window that need no window: the toolbar layout, the
// colour scheme, the expected compressed size texts, the enabling table, the
// time texts (TwoDigits is in records/RecordTexts.h, the position bar
// mapping in playback/PositionScale.h).
//
// ControlsEnabledTable covers the components the enabling routine sets; the
// window then lets N7 follow SpeedButton7.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "records/RecordTexts.h"
#include "records/SettingsRecord.h"

namespace sonarvex {

// The thirteen buttons laid out left to right, in this order.
inline constexpr const char* kToolbarOrder[13] = {
    "SpeedButton1", "SpeedButton2", "WMAButton", "SpeedButton18", "FlacButton", "BurnCDButton",
    "TagSpeedButton", "ConvertButton", "SpeedButton6", "SettingButton", "SpeedButton4",
    "SpeedButton7", "SpeedButton8"};

// Visibility of the toolbar buttons the settings decide; the others are
// always visible except SpeedButton8 (shown after a search has found files).
bool ToolbarButtonVisible(const SettingsRecord& s, const std::string& name, bool m3uVisible);

// Left edge of each of the buttons (-1 when hidden): each visible
// button sits at buttonWidth x (number of visible buttons before it).
std::vector<int> ToolbarLefts(const std::vector<bool>& visible, int buttonWidth);

// The colours the window gives its parts.
struct ColourScheme {
  std::uint32_t List;    // the track list
  std::uint32_t Window;  // window, panels, status panels
  std::uint32_t Edit;    // artist and album boxes, drive list
};
ColourScheme ComputeColours(std::uint32_t windowColor, std::uint32_t editColor);

// "%2.2f Мб" of bytes / 1048576 / ratio (the codec's compression ratio),
// with a leading "0" when shorter than eight characters. A ratio of 0 gives
// "00.00 Мб".
std::string ExpectedSizeText(std::uint64_t bytes, double ratio);
// "Разм %2.2f Мб" of the sum, divided by the ratio when showCompressed.
std::string SizePanelText(std::uint64_t sumBytes, double ratio, bool showCompressed);

// "%2.2f Мб" of bytes / 1048576.
std::string MegabytesText(std::uint64_t bytes);

// The enabling routine of the main window. Returns the new enabled state of
// every component it governs (the others keep theirs).
struct EnableChange {
  std::string Name;
  bool Enabled;
};
std::vector<EnableChange> ControlsEnabledTable(bool on, bool discPresent);

// A rectangle on the desktop, in pixels.
struct ScreenRect {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  bool operator==(const ScreenRect&) const = default;
};

// Where the main window goes when its placement is loaded: Left/Top place
// the window's frame, Width/Height its inside. A saved position is kept but
// pulled onto the available area (a screen that shrank or went away); a
// saved size is at least the minimum and at most the available area. With
// no saved position the window is centred on the available area, so its
// title bar is on the screen under any window manager. frame: what the
// title bar and borders add to the height (a guess before the window is
// shown).
ScreenRect PlaceMainWindow(std::optional<int> left, std::optional<int> top,
                           std::optional<int> width, std::optional<int> height,
                           int defaultWidth, int defaultHeight, int minWidth, int minHeight,
                           const ScreenRect& available, int frame = 30);


}  // namespace sonarvex
