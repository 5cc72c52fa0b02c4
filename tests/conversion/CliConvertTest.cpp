// "sonarvex-cli convert": the same batch without a window, the directions
// from the extensions and --to, one line per finished file, exit 0/1/2.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>

#include "app/CliConvert.h"
#include "app/Session.h"
#include "codec/WmaFileReader.h"
#include "platform/ConsoleDialogs.h"
#include "platform/Files.h"
#include "tests/conversion/ConversionTestUtil.h"

namespace sonarvex {
namespace {

namespace fs = std::filesystem;

class CliConvertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"ffmpeg", "lame"})
      if (!test::ToolPresent(tool)) GTEST_SKIP() << tool << " is not installed";
    home_ = dir_.Path() + "/home/";
    fs::create_directories(home_ + "setting");
    SettingsRecord s{};
    ApplyFirstStartDefaults(s, (home_ + "music/").c_str());
    s.DecodeFilesAtOnce = 1;
    WriteFileAtomically(home_ + "setting/set.dat", std::string(reinterpret_cast<char*>(&s), sizeof s));
    SessionContext c;
    c.ProgramFolder = home_;
    c.DialogService = &dialogs_;
    c.ScanSystemDrives = false;
    session_ = std::make_unique<Session>(c);
    session_->LoadActiveProfile();
    src_ = dir_.File("in");
    fs::create_directories(src_);
  }
  int Run(std::vector<std::string> args, const std::string& libs = SONARVEX_BIN_DIR) {
    out_.str("");
    err_.str("");
    return RunConvertCommand(*session_, args, out_, err_, libs);
  }
  std::string S(const std::string& n) { return src_ + "/" + n; }

  test::TempDir dir_;
  std::string home_, src_;
  ConsoleDialogs dialogs_;
  std::unique_ptr<Session> session_;
  std::ostringstream out_, err_;
};

TEST_F(CliConvertTest, UsageErrorsNameThePairsThatExist) {
  EXPECT_EQ(Run({}), 2);
  EXPECT_EQ(Run({"--to", "flac", "a.wav"}), 2);
  EXPECT_EQ(Run({"--to", "wav"}), 2);
  EXPECT_EQ(Run({"--to", "ogg", "a.mp3"}), 2);
  EXPECT_NE(err_.str().find("mp3->wav, mp3->mp3"), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("wav->ogg"), std::string::npos);
  EXPECT_EQ(Run({"--to", "wav", "a.wav"}), 2) << "WAV to WAV is no direction";
  EXPECT_EQ(Run({"--to", "mp3", "--bitrate", "100", "a.mp3"}), 2);
  EXPECT_EQ(Run({"--to", "wav", "--at-once", "0", "a.wma"}), 2);
  EXPECT_EQ(Run({"--to", "wav", "--frobnicate", "a.mp3"}), 2);
  EXPECT_EQ(Run({"--to", "wav", "notes.txt"}), 2);
  EXPECT_TRUE(out_.str().empty());
}

TEST_F(CliConvertTest, ConvertsMixedSourcesAndPrintsOneLineEach) {
  test::MakeMp3(S("a.mp3"), 1.0, "-b 128");
  test::MakeWma(S("b.wma"), 1.0);
  test::MakeAvi(S("c.avi"), 1.0, "pcm_s16le");
  const std::string outDir = dir_.File("out/new");
  const std::uint8_t atOnce = session_->Settings().DecodeFilesAtOnce;
  EXPECT_EQ(Run({"--to", "wav", "--out", outDir, "--at-once", "3", S("a.mp3"), S("b.wma"), S("c.avi")}),
            0)
      << err_.str();
  const std::string o = out_.str();
  EXPECT_NE(o.find(S("a.mp3") + "\t" + outDir + "/a.wav\n"), std::string::npos) << o;
  EXPECT_NE(o.find(S("b.wma") + "\t" + outDir + "/b.wav\n"), std::string::npos) << o;
  EXPECT_NE(o.find(S("c.avi") + "\t" + outDir + "/c.wav\n"), std::string::npos) << o;
  EXPECT_TRUE(FileExists(outDir + "/a.wav"));
  EXPECT_EQ(session_->Settings().DecodeFilesAtOnce, atOnce) << "--at-once is for this run";
  EXPECT_FALSE(DirectoryExists(home_ + "TempFile")) << "the temporary folder is removed";
}

TEST_F(CliConvertTest, WithoutOutBesideTheSourceAndLowerBitrate) {
  test::MakeMp3(S("song.mp3"), 1.0, "-b 192");
  EXPECT_EQ(Run({"--to", "mp3", "--bitrate", "96", S("song.mp3")}), 0) << err_.str();
  EXPECT_EQ(out_.str(), S("song.mp3") + "\t" + S("song(2).mp3") + "\n");
  test::Mp3Frame f;
  ASSERT_TRUE(test::FindMp3Frame(test::ReadAll(S("song(2).mp3")), 0, &f));
  EXPECT_EQ(f.bitrateKbps, 96);
  // A target not below the source: nothing to do, said on stderr, exit 0
  // (the output that is there is not even asked about).
  EXPECT_EQ(Run({"--to", "mp3", "--bitrate", "192", S("song.mp3")}), 0);
  EXPECT_TRUE(out_.str().empty());
  EXPECT_NE(err_.str().find("не перекодирован"), std::string::npos);
}

TEST_F(CliConvertTest, AFailedFileExitsOneAndTheOthersAreConverted) {
  test::MakeWav(S("good.wav"), 0.5);
  test::WriteAll(S("bad.wav"), {'n', 'o', 'p', 'e'});
  EXPECT_EQ(Run({"--to", "ogg", S("bad.wav"), S("good.wav")}), 1);
  EXPECT_EQ(out_.str(), S("good.wav") + "\t" + S("good.ogg") + "\n");
  EXPECT_NE(err_.str().find(S("bad.wav") + ": "), std::string::npos) << err_.str();
  EXPECT_FALSE(FileExists(S("bad.ogg")));
}

TEST_F(CliConvertTest, WithoutTheDecoderLibraryNothingRuns) {
  test::MakeMp3(S("a.mp3"), 0.5, "-b 128");
  EXPECT_EQ(Run({"--to", "wav", S("a.mp3")}, dir_.Path()), 1);
  EXPECT_NE(err_.str().find("Нет необходимой библиотеки libkelpra.so"), std::string::npos);
  EXPECT_FALSE(FileExists(S("a.wav")));
}

}  // namespace
}  // namespace sonarvex
