#include <gtest/gtest.h>

#include <cstring>

#include "settings/CopyRange.h"
#include "settings/ProgramOptions.h"
#include "settings/SettingsFormRules.h"
#include "platform/Cp1251.h"
#include "tests/settings/FakeHost.h"

namespace sonarvex {
namespace {

TEST(SettingsFormRules, ItemListsAndConversions) {
  EXPECT_EQ(SpeedItems().size(), 50u);
  EXPECT_EQ(SpeedItems()[0], "1x ( 176 Кб/с )");
  EXPECT_EQ(SpeedItems()[49], "50x ( 8820 Кб/с )");
  EXPECT_EQ(DriveTypeItems().size(), 24u);
  EXPECT_EQ(DriveTypeItems()[2], "Toshiba (новый)");
  EXPECT_EQ(LameBitrateItems().front(), "320kBit/s");
  EXPECT_EQ(LameBitrateItems().size(), 14u);
  EXPECT_EQ(BitrateFromBoxIndex(0), 14);
  EXPECT_EQ(BitrateFromBoxIndex(13), 1);
  EXPECT_EQ(OggBitrateItems().size(), 11u);
  EXPECT_EQ(WmaBitrateItems().size(), 9u);
  EXPECT_EQ(DecodeFileItems().front(), "Всегда один");
  EXPECT_EQ(DecodeFileItems().back(), "10");

  const int presets[12] = {-1, 2, 0, 1, 1000, 4000, 5000, 6000, 7000, 8000, 9000, 10000};
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(PresetFromQualityIndex(i), presets[i]);
    EXPECT_EQ(QualityIndexFromPreset(presets[i]), i);
  }
  EXPECT_EQ(PresetFromQualityIndex(12), 2);
  EXPECT_EQ(QualityIndexFromPreset(3), 1);

  EXPECT_EQ(OggQualityText(0), "0");
  EXPECT_EQ(OggQualityText(350), "3.5");
  EXPECT_EQ(OggQualityText(1000), "10");
  EXPECT_EQ(OggQualityText(-100), "-1");
  EXPECT_EQ(OggQualityText(-5), "-0.05");
}

TEST(SettingsFormRules, NumberEdits) {
  EXPECT_EQ(ParseWholeNumber(" 42 "), 42);
  EXPECT_EQ(ParseWholeNumber("-7"), -7);
  EXPECT_FALSE(ParseWholeNumber("abc"));
  EXPECT_FALSE(ParseWholeNumber("12a"));
  EXPECT_FALSE(ParseWholeNumber(""));
  EXPECT_FALSE(ParseWholeNumber("-"));
  EXPECT_GT(*ParseWholeNumber("99999999999999999999999"), 255);

  EXPECT_EQ(ReadNumberEdit("abc", 26, 1, 255).Value, 26);
  EXPECT_TRUE(ReadNumberEdit("abc", 26, 1, 255).Ok);
  EXPECT_FALSE(ReadNumberEdit("-1", 26, 1, 255).Ok);
  EXPECT_FALSE(ReadNumberEdit("256", 26, 1, 255).Ok);
  EXPECT_EQ(ReadNumberEdit("255", 26, 1, 255).Value, 255);
}

TEST(SettingsFormRules, FormatStringEditingAndValidation) {
  // Refused characters vanish, runs of '%' become one.
  EXPECT_EQ(CleanFormatText("%A:%%T*?|<>\"/x"), "%A%Tx");
  EXPECT_EQ(CleanFormatText("%%%N"), "%N");
  EXPECT_EQ(CleanFormatText("%А - %Т"), "%А - %Т");  // Cyrillic codes stay
  EXPECT_EQ(CleanFormatText("a\\b%T"), "a\\b%T");    // '\' makes folders
  EXPECT_EQ(CleanFormatText("日本%T 🎵"), "日本%T 🎵");  // every script is kept
  EXPECT_TRUE(FormatCharRefused(':'));
  EXPECT_FALSE(FormatCharRefused('\\'));

  EXPECT_FALSE(FormatStringValid(""));
  EXPECT_FALSE(FormatStringValid("%A\\"));
  EXPECT_FALSE(FormatStringValid("%A%"));
  EXPECT_FALSE(FormatStringValid("abc"));
  EXPECT_FALSE(FormatStringValid("T%"));
  EXPECT_TRUE(FormatStringValid("%T"));
  EXPECT_TRUE(FormatStringValid("%N. %A - %T"));
  EXPECT_TRUE(FormatStringValid("%A\\%D\\%T"));
}

TEST(SettingsFormRules, FormatPreview) {
  SettingsRecord s = TestSettings("/tmp/");
  AlbumRecord a = TestAlbum();
  SetField(a.Artist, Utf8ToCp1251("Группа"));
  TagBuffer tags;
  NamingInput in{s, a, tags};
  EXPECT_EQ(FormatPreview("%N. %A - %T", true, in), "01. Группа - Track1.mp3");
  EXPECT_EQ(FormatPreview("%Н %Т", true, in), "01 Track1.mp3");
  EXPECT_EQ(FormatPreview("", true, in), "");
  EXPECT_EQ(FormatPreview("%", true, in), "");
  EXPECT_EQ(FormatPreview("%A%", true, in), std::nullopt);  // left as it is
  EXPECT_EQ(FormatPreview("%A", false, in), std::nullopt);  // no disc
  EXPECT_EQ(FormatPreview("%A - %x %T", true, in), "Группа - .mp3");
}

TEST(SettingsFormRules, ExtensionsFoldersAndFields) {
  EXPECT_EQ(ExtensionEntry("MP3"), ".mp3");
  EXPECT_EQ(ExtensionEntry(".OGG"), ".ogg");
  EXPECT_EQ(ExtensionEntry("ФЛАК"), ".флак");
  EXPECT_EQ(ExtensionEntry(""), "");

  FolderResult ok = CheckOutputFolder("/home/user/Музыка");
  EXPECT_TRUE(ok.Error.empty());
  EXPECT_EQ(ok.Stored, Utf8ToCp1251("/home/user/Музыка/"));
  EXPECT_EQ(CheckOutputFolder("/a/").Stored, "/a/");
  EXPECT_FALSE(CheckOutputFolder("").Error.empty());
  EXPECT_FALSE(CheckOutputFolder("/home/日本").Error.empty());
  // 259 characters plus the separator fit; one more does not.
  EXPECT_TRUE(CheckOutputFolder("/" + std::string(258, 'x')).Error.empty());
  EXPECT_FALSE(CheckOutputFolder("/" + std::string(259, 'x')).Error.empty());
  // Cyrillic characters count as one byte each in the record.
  EXPECT_TRUE(CheckOutputFolder("/" +
                                [] {
                                  std::string s;
                                  for (int i = 0; i < 258; ++i) s += "ж";
                                  return s;
                                }())
                  .Error.empty());

  EXPECT_EQ(FitField("abcdef", 4), "abc");
  EXPECT_EQ(FitField("жжжж", 3), "жж");
  EXPECT_EQ(FitField("ab", 25), "ab");
}

// The worker box offers what the options store.
static_assert(kMaxRipWorkersBox == ProgramOptions::kMaxRipWorkers);

TEST(SettingsFormRules, AccurateRipServerEdit) {
  EXPECT_EQ(ArServerSetting(""), "");
  EXPECT_EQ(ArServerSetting("  \t "), "");
  EXPECT_EQ(ArServerSetting("www.accuraterip.com"), "www.accuraterip.com");
  EXPECT_EQ(ArServerSetting(" ar.lan:8080 "), "ar.lan:8080");
  EXPECT_EQ(ArServerSetting("[::1]:81"), "[::1]:81");
  for (const char* bad : {"ar.lan:", "ar.lan:0", "ar.lan:65536", "ar.lan:http", "::1", "ar lan",
                          "http://ar.lan", ":80", "[::1"})
    EXPECT_EQ(ArServerSetting(bad), std::nullopt) << bad;
  EXPECT_EQ(
      BadArServerMessage("ar lan").rfind("Адрес сервера AccurateRip указан неверно: ar lan\n", 0),
      0u);
}

TEST(CopyRange, SlidersAndStoredRange) {
  AlbumRecord a = TestAlbum();
  CopyRange r(a);
  RangeView v = r.Show(1);  // 2:00 long, starts at sector 13500
  EXPECT_EQ(v.Max, 9000);
  EXPECT_EQ(v.Start, 0);
  EXPECT_EQ(v.End, 9000);
  EXPECT_EQ(v.Label1, "00:00:00 /");
  EXPECT_EQ(v.Label2, "2:0:0");
  EXPECT_EQ(a.Tracks[1].RangeFlag, 0);  // showing marks nothing

  r.MoveEnd(6000);
  EXPECT_EQ(a.Tracks[1].RangeFlag, 1);
  EXPECT_EQ(r.View().Label2, "01:20:00");
  r.MoveStart(1500);
  EXPECT_EQ(r.View().Label1, "00:20:00 /");
  // The stored addresses are absolute: s + position + d.
  EXPECT_EQ(MsfToFrames(a.Tracks[1].RangeStart), 13500 + 1500 + 150);
  EXPECT_EQ(MsfToFrames(a.Tracks[1].RangeEnd), 13500 + 6000 + 150);
  EXPECT_EQ(MsfToFrames(r.PlayFrom()), 13500 + 1500 + 150);
  EXPECT_EQ(MsfToFrames(r.PlayTo()), 13500 + 6000 + 150);

  // The start past the end sends the end to the track's end.
  r.MoveStart(7000);
  EXPECT_EQ(r.View().End, 9000);
  EXPECT_EQ(MsfToFrames(a.Tracks[1].RangeEnd), 13500 + 9000 + 150);
  // The end before the start sends the start to 0.
  r.MoveEnd(3000);
  EXPECT_EQ(r.View().Start, 0);
  EXPECT_EQ(r.View().Label1, "00:00:00 /");
  EXPECT_EQ(MsfToFrames(a.Tracks[1].RangeStart), 13500 + 150);

  // Showing the track again gives the stored range back.
  r.Show(0);
  v = r.Show(1);
  EXPECT_EQ(v.Start, 0);
  EXPECT_EQ(v.End, 3000);
  EXPECT_EQ(v.Label2, "00:40:00");

  // A stored end of 0:00:00 means the track's end, for the slider and the play.
  a.Tracks[2].RangeFlag = 1;
  a.Tracks[2].RangeStart = FramesToMsf(22500 + 150 + 750);
  a.Tracks[2].RangeEnd = Msf{0, 0, 0};
  v = r.Show(2);
  EXPECT_EQ(v.Start, 750);
  EXPECT_EQ(v.End, 4500);
  EXPECT_EQ(MsfToFrames(r.PlayTo()), MsfToFrames(a.Tracks[3].Start));

  // No tracks: nothing to show or store.
  AlbumRecord empty;
  std::memset(&empty, 0, sizeof empty);
  CopyRange none(empty);
  EXPECT_EQ(none.Show(0).Max, 0);
  none.MoveStart(10);
  EXPECT_EQ(empty.Tracks[0].RangeFlag, 0);
}

}  // namespace
}  // namespace sonarvex
