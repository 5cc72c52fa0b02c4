// The CUE sheet text parser: the sheet model, the reasons for refusing a
// sheet, the codes.
#include <gtest/gtest.h>

#include <string>

#include "records/CueSheet.h"

namespace sonarvex {
namespace {

TEST(CueSheet, TracksIndexesGapsFlagsAndSessions) {
  std::string error;
  auto sheet = ParseCueSheet(
      "FILE \"a.bin\" BINARY\n"
      "  TRACK 01 AUDIO\n    FLAGS PRE DCP\n    INDEX 01 00:00:00\n"
      "  TRACK 02 AUDIO\n    INDEX 00 00:10:00\n    INDEX 01 00:12:00\n"
      "FILE \"b.bin\" MOTOROLA\n"
      "  TRACK 03 AUDIO\n    PREGAP 00:02:00\n    INDEX 01 00:00:00\n    POSTGAP 00:01:00\n"
      "REM SESSION 02\n"
      "FILE \"c.bin\" BINARY\n  TRACK 04 MODE1/2048\n    INDEX 01 00:00:00\n",
      &error);
  ASSERT_TRUE(sheet) << error;
  ASSERT_EQ(sheet->files.size(), 3u);
  EXPECT_EQ(sheet->files[0].name, "a.bin");
  EXPECT_FALSE(sheet->files[0].bigEndian);
  EXPECT_TRUE(sheet->files[1].bigEndian);
  ASSERT_EQ(sheet->tracks.size(), 4u);
  const auto& t = sheet->tracks;
  EXPECT_EQ(t[0].flags, 0x03);
  EXPECT_EQ(t[0].index0, -1);
  EXPECT_EQ(t[1].index0, 750);
  EXPECT_EQ(t[1].index0File, 0);
  EXPECT_EQ(t[1].index1, 900);
  EXPECT_EQ(t[2].file, 1);
  EXPECT_EQ(t[2].pregap, 150);
  EXPECT_EQ(t[2].postgap, 75);
  EXPECT_EQ(t[2].session, 1);
  EXPECT_EQ(t[3].session, 2);
  EXPECT_FALSE(t[3].audio);
  EXPECT_EQ(t[3].sectorSize, 2048);
}

TEST(CueSheet, TitleAndPerformerOfTheDiscAndOfEachTrack) {
  std::string error;
  auto sheet = ParseCueSheet(
      "REM GENRE Rock\nPERFORMER \"The Band\"\nTITLE \"The Album\"\n"
      "FILE \"a.bin\" BINARY\n"
      "  TRACK 01 AUDIO\n    TITLE \"One\"\n    PERFORMER Solo\n    INDEX 01 00:00:00\n"
      "  TRACK 02 AUDIO\n    SONGWRITER \"Somebody\"\n    INDEX 01 00:12:00\n    TITLE Two\n",
      &error);
  ASSERT_TRUE(sheet) << error;
  EXPECT_EQ(sheet->title, "The Album");
  EXPECT_EQ(sheet->performer, "The Band");
  EXPECT_EQ(sheet->tracks[0].title, "One");
  EXPECT_EQ(sheet->tracks[0].performer, "Solo");
  EXPECT_EQ(sheet->tracks[1].title, "Two");
  EXPECT_EQ(sheet->tracks[1].performer, "");
}

TEST(CueSheet, LineNumbersCountCrLfAsOneLineEnd) {
  std::string error;
  EXPECT_FALSE(ParseCueSheet("FILE \"a.bin\" BINARY\r\n TRACK 01 AUDIO\r\n INDEX 01 00:99:00\r\n", &error));
  EXPECT_EQ(error, "строка 3 CUE-файла: неверная команда INDEX");
}

TEST(CueSheet, BadSheetsAreRefusedWithAReason) {
  const char* bad[] = {
      "",
      "TRACK 01 AUDIO\n INDEX 01 00:00:00\n",
      "FILE \"a.wav\" WAVE\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n",
      "FILE \"a.bin\" BINARY\n TRACK 01 AUDIO\n",
      "FILE \"a.bin\" BINARY\n TRACK 01 AUDIO\n INDEX 01 00:60:00\n",
      "FILE \"a.bin\" BINARY\n TRACK 02 AUDIO\n INDEX 01 00:00:00\n TRACK 01 AUDIO\n INDEX 01 00:01:00\n",
      "FILE \"a.bin\" BINARY\n TRACK 01 CDG\n INDEX 01 00:00:00\n",
      "FILE \"a.bin\" BINARY\n TRACK 100 AUDIO\n INDEX 01 00:00:00\n",
      "FILE \"a.bin\" BINARY\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n INDEX 01 00:00:10\n",
  };
  for (const char* text : bad) {
    std::string error;
    EXPECT_FALSE(ParseCueSheet(text, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST(CueSheet, MalformedCodesAreLeftOutNotRefused) {
  std::string error;
  auto sheet = ParseCueSheet(
      "CATALOG 12345\nISRC USRC17607839\nFILE \"a.bin\" BINARY\n"
      " TRACK 01 AUDIO\n  ISRC USRC1760783\n  INDEX 01 00:00:00\n"
      " TRACK 02 AUDIO\n  ISRC\n  INDEX 01 00:01:00\n"
      " TRACK 03 AUDIO\n  ISRC US-C17607839\n  INDEX 01 00:02:00\n"
      "CATALOG 1234567890123\nCATALOG 9999999999999\n",
      &error);
  ASSERT_TRUE(sheet) << error;
  EXPECT_EQ(sheet->catalog, "1234567890123");  // the first valid one, wherever it stands
  for (const auto& t : sheet->tracks) EXPECT_EQ(t.isrc, "") << t.number;
}

TEST(CueSheet, QuotedWordsKeepTheirSpaces) {
  const auto w = CueLineWords("  FILE \"My Disc (1).wav\"\tWAVE \"\"  ");
  ASSERT_EQ(w.size(), 4u);
  EXPECT_EQ(w[0], "FILE");
  EXPECT_EQ(w[1], "My Disc (1).wav");
  EXPECT_EQ(w[2], "WAVE");
  EXPECT_EQ(w[3], "");
  EXPECT_EQ(CueLineWords("TITLE \"no end").back(), "no end");
}

}  // namespace
}  // namespace sonarvex
