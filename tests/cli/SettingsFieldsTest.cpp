// The settings record by field name (settings show / set), the one-run
// overrides of the command line, and the progress lines of a rip.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "cli/CliProgress.h"
#include "settings/SettingsFields.h"
#include "platform/Cp1251.h"

namespace sonarvex {
namespace {

SettingsRecord Defaults() {
  SettingsRecord s;
  std::memset(&s, 0, sizeof s);
  ApplyFirstStartDefaults(s, "/home/u/Music/");
  s.NameHasTitle = 1;  // set before every load
  s.WindowColor = kDefaultWindowColor;
  s.EditColor = kDefaultEditColor;
  return s;
}

std::string Value(const SettingsRecord& s, const std::string& name) {
  for (const auto& [n, v] : SettingsFieldValues(s))
    if (n == name) return v;
  ADD_FAILURE() << "no field " << name;
  return {};
}

bool Same(const SettingsRecord& a, const SettingsRecord& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(SettingsFields, ShowGivesWhatSetTakesBack) {
  SettingsRecord s = Defaults();
  SetFieldUtf8(s.CddbHost, "cddb.example.org");
  SetFieldUtf8(s.ConvertFolder, "/home/u/Конвертировано/");
  s.DriveTypes[3] = 17;
  s.OggQuality = -50;
  s.Lame.Preset = 4000;
  s.ReadSpeed = 255;
  // Every field shown and settable, set to what it shows, changes nothing.
  std::vector<std::string> assignments;
  for (const auto& [name, value] : SettingsFieldValues(s)) {
    if (name == "CompressOutput" || name == "ProxyEnabled" || name == "VbrEnabled" ||
        name == "ColumnWidths" || name == "ConvertDirection" || name == "ConvertFormatIndex" ||
        name == "ProxyPassword")
      continue;
    // Zero means "the default" for a few fields; the dialog never stores it.
    if ((name == "SectorsPerRead" || name == "DecodeFilesAtOnce") && value == "0") continue;
    assignments.push_back(name + "=" + value);
  }
  EXPECT_GE(assignments.size(), 60u);
  SettingsRecord copy = s;
  auto refused = SetSettingsFields(copy, assignments);
  ASSERT_FALSE(refused) << *refused;
  for (std::size_t k = 0; k < sizeof s; ++k)
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(&copy)[k],
              reinterpret_cast<const unsigned char*>(&s)[k])
        << "offset " << k;
  EXPECT_EQ(Value(s, "DriveTypes"), "0,0,0,17,0,0,0,0,0,0,0,0,0,0,0,0");
  EXPECT_EQ(Value(s, "WindowColor"), "0xD1EFF1");
}

TEST(SettingsFields, RefusesWhatTheDialogRefusesAndChangesNothing) {
  const SettingsRecord s = Defaults();
  struct Case {
    const char* assignment;
    const char* reason;  // part of the message
  };
  const Case cases[] = {
      {"SectorsPerRead=0", "Читать секторов: введите число от 1 до 255."},
      {"SectorsPerRead=256", "Читать секторов: введите число от 1 до 255."},
      {"SectorsPerRead=x", "Читать секторов"},
      {"NormLowTarget=101", "Нормализация: введите число от 0 до 100."},
      {"NormHighThreshold=-1", "Нормализация"},
      {"ProxyPort=0", "Порт: введите число от 1 до 65535."},
      {"ProxyPort=65536", "Порт"},
      {"OutputFolder=", "Укажите папку, в которую складывать музыку."},
      {"OutputFolder=/музыка/♫", "символы, которые нельзя сохранить"},
      {"ReadSpeed=51", "от 1 до 50"},
      {"DecodeFilesAtOnce=11", "от 1 до 10"},
      {"WmaBitrateIndex=9", "от 0 до 8"},
      {"BitrateIndex=15", "от 1 до 14"},
      {"VbrMethod=-2", "от -1 до 3"},
      {"Preset=3", "1000"},
      {"OggQuality=15", "кратное 10"},
      {"OggNominalBitrateIndex=11", "от 0 до 10"},
      {"DriveTypes=0,24", "от 0 до 23"},
      {"WindowColor=0x1000000", "0xBBGGRR"},
      {"CddbHost=a-host-name-that-is-too-long.example", "длиннее 24"},
      {"CddbPath=/a/path/that/is/longer/than/29/chars", "длиннее 29"},
      {"FormatString=%A:%T", "нельзя использовать в имени файла"},
      {"NameHasTitle=2", "0 или 1"},
      {"ProxyEnabled=1", "не задаётся вручную"},
      {"NoSuchField=1", "Нет поля настроек 'NoSuchField'"},
  };
  for (const Case& c : cases) {
    SettingsRecord copy = s;
    // A good assignment before the bad one is not kept either.
    auto refused = SetSettingsFields(copy, {"ShowGrid=1", c.assignment});
    ASSERT_TRUE(refused) << c.assignment;
    EXPECT_NE(refused->find(c.reason), std::string::npos) << c.assignment << ": " << *refused;
    EXPECT_TRUE(Same(copy, s)) << c.assignment;
  }
  SettingsRecord copy = s;
  EXPECT_TRUE(SetSettingsFields(copy, {"DriveIndex=2"}, SettingsLimits{2, 0}));
  EXPECT_FALSE(SetSettingsFields(copy, {"DriveIndex=1"}, SettingsLimits{2, 0}));
}

TEST(SettingsFields, TheFormatStringInUseIsCheckedAsOnOk) {
  SettingsRecord s = Defaults();
  // Not in use: stored as typed, as the dialog keeps the edit's text.
  EXPECT_FALSE(SetSettingsFields(s, {"FormatString=abc"}));
  auto refused = SetSettingsFields(s, {"UseFormatString=1"});
  ASSERT_TRUE(refused);
  EXPECT_NE(refused->find("Неверная сторока формата имени файлов."), std::string::npos);
  refused = SetSettingsFields(s, {"UseFormatString=1", "FormatString=%A - %D"});
  ASSERT_TRUE(refused);
  EXPECT_NE(refused->find("(%T)"), std::string::npos);
  EXPECT_FALSE(SetSettingsFields(s, {"UseFormatString=1", "FormatString=%A\\%N %T"}));
  EXPECT_EQ(FieldUtf8(s.FormatString), "%A\\%N %T");
  EXPECT_EQ(s.UseFormatString, 1);
}

TEST(SettingsFields, TheDialogsDerivedFieldsFollow) {
  SettingsRecord s = Defaults();
  ASSERT_FALSE(SetSettingsFields(s, {"ProxyHost= proxy.local ", "VbrMethod=2"}));
  EXPECT_EQ(FieldUtf8(s.ProxyHost), "proxy.local");  // trimmed as the edit is
  EXPECT_EQ(s.ProxyEnabled, 1);
  EXPECT_EQ(s.Lame.VbrEnabled, 1);
  ASSERT_FALSE(SetSettingsFields(s, {"ProxyHost=", "VbrMethod=-1"}));
  EXPECT_EQ(s.ProxyEnabled, 0);
  EXPECT_EQ(s.Lame.VbrEnabled, 0);
  // No part of the name chosen: the title is.
  ASSERT_FALSE(SetSettingsFields(s, {"NameHasTitle=0", "NameHasNumber=0"}));
  EXPECT_EQ(s.NameHasTitle, 1);
  // The output folder gets its separator; "max" is the Max box.
  ASSERT_FALSE(SetSettingsFields(s, {"OutputFolder=/srv/музыка", "ReadSpeed=max"}));
  EXPECT_EQ(FieldUtf8(s.OutputFolder), "/srv/музыка/");
  EXPECT_EQ(s.ReadSpeed, 255);
  // The password is never shown.
  ASSERT_FALSE(SetSettingsFields(s, {"ProxyPassword=secret"}));
  EXPECT_EQ(Value(s, "ProxyPassword"), "***");
  EXPECT_EQ(FieldUtf8(s.ProxyPassword), "secret");
}

TEST(SettingsOverrides, EachOptionSetsItsFields) {
  SettingsRecord s = Defaults();
  s.Lame.VbrEnabled = 1;
  s.Lame.VbrMethod = 2;
  ASSERT_FALSE(OverrideBitrate(s, 1, 128));
  EXPECT_EQ(s.Lame.BitrateIndex, 9);
  EXPECT_EQ(s.Lame.VbrEnabled, 0);  // a bitrate alone is a constant one
  EXPECT_EQ(s.UseLame, 1);
  ASSERT_FALSE(OverrideVbr(s, 1, 3));
  EXPECT_EQ(s.Lame.VbrQuality, 3);
  EXPECT_EQ(s.Lame.VbrEnabled, 1);
  EXPECT_EQ(s.Lame.VbrMethod, 0);

  s.OggUseQuality = 1;
  s.OggMinBitrateIndex = 10;  // 32
  s.OggMaxBitrateIndex = 0;   // 350
  ASSERT_FALSE(OverrideBitrate(s, 3, 160));
  EXPECT_EQ(s.OggUseQuality, 0);
  EXPECT_EQ(s.OggNominalBitrateIndex, 3);
  EXPECT_EQ(s.OggMinBitrateIndex, 10);
  EXPECT_EQ(s.OggMaxBitrateIndex, 0);
  s.OggMinBitrateIndex = 1;  // 256: above the nominal, brought down to it
  ASSERT_FALSE(OverrideBitrate(s, 3, 160));
  EXPECT_EQ(s.OggMinBitrateIndex, 3);
  ASSERT_FALSE(OverrideOggQuality(s, 3, 450));
  EXPECT_EQ(s.OggUseQuality, 1);
  EXPECT_EQ(s.OggQuality, 450);

  ASSERT_FALSE(OverrideBitrate(s, 2, 64));
  EXPECT_EQ(s.WmaBitrateIndex, 3);

  ASSERT_FALSE(OverrideNameFormat(s, "%N - %T"));
  EXPECT_EQ(s.UseFormatString, 1);
  EXPECT_EQ(FieldUtf8(s.FormatString), "%N - %T");
  ASSERT_FALSE(OverrideOutputFolder(s, "/tmp/rips"));
  EXPECT_EQ(FieldUtf8(s.OutputFolder), "/tmp/rips/");
}

TEST(SettingsOverrides, ValuesTheFormatCannotTakeAreRefused) {
  SettingsRecord s = Defaults();
  const SettingsRecord before = s;
  EXPECT_TRUE(OverrideBitrate(s, 1, 100));  // not an MP3 bitrate
  EXPECT_TRUE(OverrideBitrate(s, 3, 320));  // not in the Ogg list
  EXPECT_TRUE(OverrideBitrate(s, 2, 256));
  EXPECT_TRUE(OverrideBitrate(s, 0, 128));  // WAV
  EXPECT_TRUE(OverrideVbr(s, 3, 2));
  EXPECT_TRUE(OverrideOggQuality(s, 1, 500));
  EXPECT_TRUE(OverrideOggQuality(s, 3, 1010));
  EXPECT_TRUE(OverrideNameFormat(s, "%A"));
  EXPECT_TRUE(OverrideNameFormat(s, "%T?"));
  EXPECT_TRUE(OverrideOutputFolder(s, ""));
  EXPECT_TRUE(Same(s, before));
}

// A clock the test moves.
struct FakeClock {
  double now = 100;
  CliProgress::Clock Fn() {
    return [this] { return now; };
  }
};

TEST(CliProgress, WithoutATerminalOneLinePerFinishedTrack) {
  std::ostringstream err;
  FakeClock clock;
  CliProgress p(err, false, 0, clock.Fn());
  p.Start(0, 12.0);
  for (int k = 1; k <= 100; ++k) {
    clock.now += 0.02;
    p.Status(0, "копирование " + std::to_string(k) + "%");
  }
  p.Status(0, "Скопирован");
  p.Start(1, 9.0);
  p.Status(1, "копирование 50%");
  p.Status(1, "Отменено");
  // A failed track is told by the failure's line alone.
  p.Start(2, 9.0);
  p.Status(2, "Ошибка");
  EXPECT_EQ(err.str(), "1: Скопирован, 0:12 за 2.0 с (6.0×)\n2: Отменено\n");
}

TEST(CliProgress, OnATerminalOneUpdatingLineWithSpeedAndTimeLeft) {
  std::ostringstream err;
  FakeClock clock;
  CliProgress p(err, true, 0, clock.Fn());
  p.Start(2, 60.0);
  clock.now += 5;  // 25% of a minute in 5 s: 3×, 15 s left
  p.Status(2, "копирование 25%");
  EXPECT_EQ(err.str(), "\r3: копирование 25%  3.0×  осталось 0:15\033[K");
  EXPECT_TRUE(p.LineOpen());
  // Compressing starts its own clock.
  clock.now += 15;
  p.Status(2, "сжатие 0%");
  clock.now += 2;
  err.str("");
  p.Status(2, "сжатие 50%");
  EXPECT_EQ(err.str(), "\r3: сжатие 50%  15.0×  осталось 0:02\033[K");
  err.str("");
  p.Status(2, "Скопирован");
  EXPECT_EQ(err.str(), "\r3: Скопирован, 1:00 за 22.0 с (2.7×)\033[K\n");
  EXPECT_FALSE(p.LineOpen());
}

TEST(CliProgress, SeveralRunningTracksShareTheLine) {
  std::ostringstream err;
  FakeClock clock;
  CliProgress p(err, true, 0, clock.Fn());
  p.Start(0, 60.0);
  p.Status(0, "копирование 100%");
  p.Start(1, 30.0);
  clock.now += 1;
  err.str("");
  p.Status(0, "сжатие 0%");
  clock.now += 1;
  err.str("");
  p.Status(0, "сжатие 40%");
  EXPECT_EQ(err.str(), "\r1: сжатие 40%  24.0×  осталось 0:02\033[K");
  err.str("");
  p.Status(1, "копирование 10%");
  EXPECT_EQ(err.str(), "\r1: сжатие 40%  2: копирование 10%\033[K");
  // A finished track gets its own line; the running one goes on below it,
  // alone again with its speed (10% of 30 s in 2 s) and the time it started.
  err.str("");
  clock.now += 1;
  p.Status(0, "Скопирован");
  EXPECT_EQ(err.str(),
            "\r1: Скопирован, 1:00 за 3.0 с (20.0×)\033[K\n"
            "\r2: копирование 10%  1.5×  осталось 0:18\033[K");
  err.str("");
  p.Status(1, "сжатие 50%");
  EXPECT_EQ(err.str(), "\r2: сжатие 50%\033[K");
}

TEST(CliProgress, QuietShowsNothing) {
  std::ostringstream err;
  CliProgress p(err, true, -1);
  p.Start(0, 10);
  p.Status(0, "копирование 10%");
  p.Status(0, "Скопирован");
  EXPECT_EQ(err.str(), "");
}

}  // namespace
}  // namespace sonarvex
