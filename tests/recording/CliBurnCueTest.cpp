// sonarvex-cli burn with a cue sheet: the sheet's files are written in
// track order (a FLAC file decoded first); a sheet that cannot be used
// writes nothing and says why.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "cli/CliRecord.h"
#include "session/Session.h"
#include "codec/FlacReader.h"
#include "platform/ConsoleDialogs.h"
#include "platform/Files.h"
#include "drive/virtual/CueImage.h"
#include "rip/RipLog.h"
#include "tests/cli/CliRunner.h"
#include "tests/recording/RecordingRig.h"
#include "tests/session/TestSession.h"

namespace sonarvex {
namespace {

namespace fs = std::filesystem;

class CliBurnCueTest : public testing::Test {
 protected:
  void SetUp() override {
    home_ = test::MakeHome(dir_.Path());
    cdr_ = dir_.File("cdr.cue");
    test::DeclareRecorder(home_, cdr_);
    session_ = test::OpenSession(home_, dialogs_);
  }
  int Burn(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return RunBurnCommand(*session_, args, out_, err_);
  }

  test::TempDir dir_;
  std::string home_, cdr_;
  ConsoleDialogs dialogs_;
  std::unique_ptr<Session> session_;
  std::ostringstream out_, err_;
};

TEST_F(CliBurnCueTest, TheSheetsFilesAreWrittenInTrackOrder) {
  int rc = -1;
  test::Run("command -v flac >/dev/null", &rc);
  const bool flac = rc == 0 && FlacReader().Available();
  fs::create_directories(dir_.File("rip"));
  const auto a = test::ToneAudio(1, 120 * 2352);
  const auto b = test::ToneAudio(2, 80 * 2352);
  const auto c = test::ToneAudio(3, 60 * 2352);
  test::WriteCdWav(dir_.File("rip/01 a.wav"), a);
  test::WriteCdWav(dir_.File("rip/02 b.wav"), b);
  test::WriteCdWav(dir_.File("rip/03 c.wav"), c);
  std::string third = "03 c.wav";
  if (flac) {
    test::Run("cd " + test::Quote(dir_.File("rip")) + " && flac -s -f --delete-input-file '03 c.wav'", &rc);
    ASSERT_EQ(rc, 0);
    third = "03 c.flac";
  }
  WriteFileAtomically(dir_.File("rip/album.cue"),
                      "FILE \"01 a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                      "  TRACK 02 AUDIO\n    INDEX 00 00:01:00\n"
                      "FILE \"02 b.wav\" WAVE\n    INDEX 01 00:00:00\n"
                      "FILE \"" + third + "\" " + (flac ? "FLAC" : "WAVE") +
                          "\n  TRACK 03 AUDIO\n    INDEX 01 00:00:00\n");
  ASSERT_EQ(Burn({dir_.File("rip/album.cue")}), 0) << err_.str();
  // A FLAC file is listed (and named) as it is: nothing is decoded ahead.
  EXPECT_EQ(out_.str(), "1\t01 a.wav\n2\t02 b.wav\n3\t" + third + "\n");
  auto bin = ReadFileBytes(BinPathForCue(cdr_));
  ASSERT_TRUE(bin);
  std::string want(a.begin(), a.end());
  want.append(b.begin(), b.end());
  want.append(c.begin(), c.end());
  ASSERT_EQ(bin->size(), want.size());
  EXPECT_TRUE(*bin == want) << "the image differs from the sheet's files";
  EXPECT_FALSE(fs::exists(home_ + "WCDDATF"));  // nothing was made in the temporary folder
}

TEST_F(CliBurnCueTest, ASheetThatCannotBeUsedWritesNothing) {
  test::WriteCdWav(dir_.File("a.wav"), test::ToneAudio(1, 100 * 2352));
  const std::string sheet = dir_.File("bad.cue");
  WriteFileAtomically(sheet, "FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                             "FILE \"b.wav\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n");
  EXPECT_EQ(Burn({dir_.File("a.wav"), sheet}), 1);
  EXPECT_EQ(err_.str(), "CUE-файл '" + sheet + "' не загружен: строка 4 CUE-файла: нет файла «b.wav».\n");
  EXPECT_FALSE(FileExists(cdr_));
}


// A rip's sheet with a hidden track: track 1's INDEX 00 at the start of a
// file of its own before track 1's file. That file's audio is burned before
// track 1's INDEX 01, so the disc has it again where it was.
TEST_F(CliBurnCueTest, AHiddenTrackFileIsBurnedBeforeTrackOnesIndexOne) {
  fs::create_directories(dir_.File("rip"));
  const auto hidden = test::ToneAudio(5, 225 * 2352);
  const auto a = test::ToneAudio(6, 120 * 2352);
  const auto b = test::ToneAudio(7, 80 * 2352);
  test::WriteCdWav(dir_.File("rip/00 - Скрытый трек.wav"), hidden);
  test::WriteCdWav(dir_.File("rip/0 - a.wav"), a);
  test::WriteCdWav(dir_.File("rip/1 - b.wav"), b);
  // The sheet as a rip writes it.
  CueSheetInfo info;
  info.hiddenFile = "00 - Скрытый трек.wav";
  CueTrack one;
  one.number = 1;
  one.file = "0 - a.wav";
  one.startLba = 225;
  one.pregapSectors = 225;
  one.sectors = 120;
  CueTrack two;
  two.number = 2;
  two.file = "1 - b.wav";
  two.startLba = 345;
  two.sectors = 80;
  info.tracks = {one, two};
  WriteFileAtomically(dir_.File("rip/album.cue"), CueSheetText(info));
  ASSERT_EQ(Burn({dir_.File("rip/album.cue")}), 0) << err_.str();
  auto bin = ReadFileBytes(BinPathForCue(cdr_));
  ASSERT_TRUE(bin);
  std::string want(hidden.begin(), hidden.end());
  want.append(a.begin(), a.end());
  want.append(b.begin(), b.end());
  ASSERT_EQ(bin->size(), want.size());
  EXPECT_TRUE(bin->compare(0, hidden.size(), want, 0, hidden.size()) == 0)
      << "the first sectors are not the hidden track";
  EXPECT_TRUE(*bin == want) << "the image differs from the sheet's files";
  std::string error;
  const auto disc = LoadCueImage(cdr_, &error);
  ASSERT_TRUE(disc) << error;
  ASSERT_EQ(disc->tracks.size(), 2u);
  EXPECT_EQ(disc->tracks[0].startLba, 225);
  EXPECT_EQ(disc->tracks[1].startLba, 345);
  EXPECT_FALSE(fs::exists(home_ + "WCDDATF"));  // the joined file is removed afterwards
}

// A compilation burned with its titles: `toc` of the written disc prints
// the table as always, then the disc's CD-Text, one line a text; the same
// disc without CD-Text prints the table alone, exactly as before.
TEST_F(CliBurnCueTest, TocPrintsTheCdTextOfTheBurnedDiscAfterItsTable) {
  test::WriteCdWav(dir_.File("a.wav"), test::ToneAudio(1, 100 * 2352));
  test::WriteCdWav(dir_.File("b.wav"), test::ToneAudio(2, 80 * 2352));
  const std::string sheet = dir_.File("titled.cue");
  WriteFileAtomically(sheet, "PERFORMER \"The Band\"\nTITLE \"First Album\"\n"
                             "FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"Opening\"\n    INDEX 01 00:00:00\n"
                             "FILE \"b.wav\" WAVE\n  TRACK 02 AUDIO\n    TITLE \"Caf\xC3\xA9\"\n"
                             "    PERFORMER \"Guest\"\n    INDEX 01 00:00:00\n");
  ASSERT_EQ(Burn({sheet}), 0) << err_.str();
  session_.reset();
  // Only the images named below are drives now.
  ASSERT_EQ(std::remove((home_ + "setting/vdrives.lst").c_str()), 0);
  std::ostringstream out, err;
  ASSERT_EQ(test::RunCliIn(home_, {"--image", cdr_, "toc"}, out, err), 0) << err.str();
  const std::string table =
      "1\t00:02:00\t00:01:25\t0\taudio\n"
      "2\t00:03:25\t00:01:05\t100\taudio\n"
      "leadout\t00:04:30\n";
  const std::string printed = out.str();
  ASSERT_GT(printed.size(), 9u);
  const std::string id = printed.substr(0, 9);
  EXPECT_EQ(printed, id + table +
                         "cdtext\talbum\ttitle\tFirst Album\n"
                         "cdtext\talbum\tperformer\tThe Band\n"
                         "cdtext\t1\ttitle\tOpening\n"
                         "cdtext\t2\ttitle\tCaf\xC3\xA9\n"
                         "cdtext\t2\tperformer\tGuest\n");
  EXPECT_EQ(err.str(), "");

  // The same disc without its texts.
  auto text = ReadFileBytes(cdr_);
  ASSERT_TRUE(text);
  std::string plain;
  std::istringstream lines(*text);
  for (std::string line; std::getline(lines, line);)
    if (line.find("TITLE") == std::string::npos && line.find("PERFORMER") == std::string::npos) plain += line + "\n";
  const std::string plainCue = dir_.File("plain.cue");
  WriteFileAtomically(plainCue, plain);
  ASSERT_EQ(test::RunCliIn(home_, {"--image", plainCue, "toc"}, out, err), 0) << err.str();
  EXPECT_EQ(out.str(), id + table) << plain;
}

}  // namespace
}  // namespace sonarvex
