#include <gtest/gtest.h>

#include <map>

#include "app/MainFormRules.h"
#include "records/RecordTexts.h"

namespace sonarvex {

TEST(MainFormRules, ToolbarClosesGaps) {
  SettingsRecord s{};
  ApplyFirstStartDefaults(s, "/m/");
  std::vector<bool> all;
  for (const char* n : kToolbarOrder) all.push_back(ToolbarButtonVisible(s, n, false));
  std::vector<int> lefts = ToolbarLefts(all, 38);
  EXPECT_EQ(lefts[0], 0);
  EXPECT_EQ(lefts[4], 4 * 38);  // FLAC beside WAV
  EXPECT_EQ(lefts[11], 418);
  EXPECT_EQ(lefts[12], -1);  // the M3U button until a search found files

  // Every optional button hidden: the rest sit side by side.
  s.ShowWmaButton = s.ShowWaveButton = s.ShowBurnButton = s.ShowFindButton = 0;
  s.ShowConvertButton = s.ShowCddbButton = s.ShowPlayerButton = 0;
  std::vector<bool> few;
  for (const char* n : kToolbarOrder) few.push_back(ToolbarButtonVisible(s, n, true));
  lefts = ToolbarLefts(few, 38);
  std::map<std::string, int> at;
  for (int i = 0; i < 13; ++i) at[kToolbarOrder[i]] = lefts[i];
  EXPECT_EQ(at["SpeedButton1"], 0);
  EXPECT_EQ(at["SpeedButton2"], 38);
  EXPECT_EQ(at["TagSpeedButton"], 76);
  EXPECT_EQ(at["SettingButton"], 114);
  EXPECT_EQ(at["SpeedButton8"], 152);
  EXPECT_EQ(at["WMAButton"], -1);
  EXPECT_EQ(at["FlacButton"], -1);
  EXPECT_EQ(at["SpeedButton4"], -1);
}

TEST(MainFormRules, Colours) {
  ColourScheme def = ComputeColours(13758449, 13758462);
  EXPECT_EQ(def.List, 13758449u);  // the default edit colour gives the list the window colour
  EXPECT_EQ(def.Edit, 13758462u);
  ColourScheme own = ComputeColours(0x00FF0000, 0x0000FF00);
  EXPECT_EQ(own.List, 0x0000FF00u);
  EXPECT_EQ(own.Window, 0x00FF0000u);
}

TEST(MainFormRules, ExpectedSizes) {
  const double r = 11.025;  // 128 kbit/s
  // 5.23 MB gets a leading zero (eight characters), 12.40 MB stays.
  EXPECT_EQ(ExpectedSizeText(static_cast<std::uint64_t>(5.23 * 1048576 * r + 100), r),
            "05.23 Мб");
  EXPECT_EQ(ExpectedSizeText(static_cast<std::uint64_t>(12.40 * 1048576 * r + 100), r),
            "12.40 Мб");
  EXPECT_EQ(ExpectedSizeText(123u * 1048576, 1), "123.00 Мб");
  // No bitrate (ratio 0 or infinite): nothing to expect, and no division by zero.
  EXPECT_EQ(ExpectedSizeText(1 << 20, 0), "00.00 Мб");
  EXPECT_EQ(ExpectedSizeText(1 << 20, 1.0 / 0.0), "00.00 Мб");

  EXPECT_EQ(SizePanelText(42u * 1048576, 4, false), "Разм 42.00 Мб");
  EXPECT_EQ(SizePanelText(42u * 1048576, 4, true), "Разм 10.50 Мб");
  EXPECT_EQ(SizePanelText(42u * 1048576, 0, true), "Разм 0.00 Мб");
  EXPECT_EQ(MegabytesText(42336000), "40.37 Мб");
  EXPECT_EQ(TwoDigits(7), "07");
  EXPECT_EQ(TwoDigits(123), "123");
}

TEST(MainFormRules, EnablingTable) {
  auto table = [](bool on, bool disc) {
    std::map<std::string, bool> m;
    for (auto& c : ControlsEnabledTable(on, disc)) m[c.Name] = c.Enabled;
    return m;
  };
  auto withDisc = table(true, true);
  EXPECT_TRUE(withDisc["SpeedButton2"]);
  EXPECT_TRUE(withDisc["SpeedButton16"]);
  EXPECT_TRUE(withDisc["Stop1"]);
  EXPECT_TRUE(withDisc["BurnCDButton"]);
  EXPECT_FALSE(withDisc["M3U1"]);
  EXPECT_FALSE(withDisc["SpeedButton8"]);
  auto busy = table(false, true);
  EXPECT_TRUE(busy["SpeedButton16"]);  // Stop stays usable while busy
  EXPECT_FALSE(busy["SpeedButton13"]);
  EXPECT_FALSE(busy["CDROMBox"]);
  auto noDisc = table(true, false);
  EXPECT_FALSE(noDisc["TagSpeedButton"]);
  EXPECT_FALSE(noDisc["SpeedButton16"]);
  EXPECT_FALSE(noDisc["Stop1"]);
  EXPECT_TRUE(noDisc["SpeedButton13"]);  // eject/load stays possible
  EXPECT_TRUE(noDisc["Eject1"]);
  EXPECT_TRUE(noDisc["CDROMBox"]);
  EXPECT_TRUE(noDisc["BurnCDButton"]);
  EXPECT_EQ(noDisc.count("SpeedButton7"), 0u);  // left as it is
  // Settings, profiles, conversion, exit are never touched.
  EXPECT_EQ(noDisc.count("SettingButton"), 0u);
  EXPECT_EQ(noDisc.count("SpeedButton25"), 0u);
}

// The first start centres the window (frame included) on the available
// area; saved places are kept, pulled back onto the screen when they fall
// off it; saved sizes are at least the minimum and at most the screen.
TEST(PlaceMainWindow, CentresFirstAndKeepsSavedPlacesOnTheScreen) {
  const ScreenRect screen{0, 24, 1280, 776};  // a panel at the top
  const ScreenRect first = PlaceMainWindow({}, {}, {}, {}, 640, 460, 578, 392, screen, 30);
  EXPECT_EQ(first, (ScreenRect{320, 24 + (776 - 490) / 2, 640, 460}));
  EXPECT_EQ(PlaceMainWindow(100, 200, 700, 500, 640, 460, 578, 392, screen, 30),
            (ScreenRect{100, 200, 700, 500}));
  // Off the right and bottom edges, and above the top: pulled back.
  EXPECT_EQ(PlaceMainWindow(2000, 900, 700, 500, 640, 460, 578, 392, screen, 30),
            (ScreenRect{580, 800 - 530, 700, 500}));
  EXPECT_EQ(PlaceMainWindow(-300, 0, 700, 500, 640, 460, 578, 392, screen, 30),
            (ScreenRect{0, 24, 700, 500}));
  // Too small a size grows to the minimum; too large shrinks to the screen.
  EXPECT_EQ(PlaceMainWindow(10, 30, 100, 100, 640, 460, 578, 392, screen, 30),
            (ScreenRect{10, 30, 578, 392}));
  EXPECT_EQ(PlaceMainWindow(0, 24, 5000, 5000, 640, 460, 578, 392, screen, 30),
            (ScreenRect{0, 24, 1280, 746}));
}

}  // namespace sonarvex
