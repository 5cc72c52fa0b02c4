// "sonarvex-cli convert": the same batch without a window, the directions
// from the extensions and --to, one line per finished file, exit 0/1/2.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "cli/CliConvert.h"
#include "session/Session.h"
#include "codec/OpusWriter.h"
#include "codec/WmaFileReader.h"
#include "platform/IniStore.h"
#include "platform/Shell.h"
#include "platform/ConsoleDialogs.h"
#include "platform/Files.h"
#include "tests/codec/SignalCompare.h"
#include "tests/conversion/ConversionTestUtil.h"
#include "tests/cli/CliRunner.h"
#include "tests/session/TestSession.h"

namespace sonarvex {
namespace {

namespace fs = std::filesystem;

class CliConvertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"ffmpeg", "lame"})
      if (!test::ToolPresent(tool)) GTEST_SKIP() << tool << " is not installed";
    home_ = test::MakeHome(dir_.Path());
    SettingsRecord s{};
    ApplyFirstStartDefaults(s, (home_ + "music/").c_str());
    s.DecodeFilesAtOnce = 1;
    test::WriteSettingsFile(home_, s);
    session_ = test::OpenSession(home_, dialogs_);
    src_ = dir_.File("in");
    fs::create_directories(src_);
  }
  int Run(std::vector<std::string> args, const std::string& libs = SONARVEX_BIN_DIR) {
    out_.str("");
    err_.str("");
    return RunConvertCommand(*session_, args, out_, err_, libs);
  }
  std::string S(const std::string& n) { return src_ + "/" + n; }
  // The program itself on the same home folder, ended after 30 s so that a
  // command that hangs fails the test (no exit status) instead of holding it up.
  int Program(std::vector<std::string> args, std::string* err) {
    args.insert(args.begin(), {std::string(SONARVEX_BIN_DIR) + "/sonarvex-cli", "--home", home_});
    const test::ChildRun r = test::RunProgramBounded(args, 30, "", dir_.File("stderr"));
    *err = r.err;
    return r.status;
  }

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
  EXPECT_NE(err_.str().find("'" + S("bad.wav") + "': "), std::string::npos) << err_.str();
  EXPECT_FALSE(FileExists(S("bad.ogg")));
}

TEST_F(CliConvertTest, OutputsOfOneRunNeverShareANameAndFilesThereAreKeptUnlessOverwrite) {
  fs::create_directories(S("a"));
  fs::create_directories(S("b"));
  test::MakeWav(S("a/song.wav"), 0.5);
  test::MakeWav(S("b/song.wav"), 1.0);
  const std::string outDir = dir_.File("out");
  EXPECT_EQ(Run({"--to", "mp3", "--out", outDir, S("a/song.wav"), S("b/song.wav")}), 0) << err_.str();
  EXPECT_EQ(out_.str(), S("a/song.wav") + "\t" + outDir + "/song.mp3\n" + S("b/song.wav") + "\t" +
                            outDir + "/song (2).mp3\n");
  // The same again: both names are taken by files that are now there.
  const auto first = test::ReadAll(outDir + "/song.mp3");
  const std::vector<std::uint8_t> mine = {'m', 'i', 'n', 'e'};
  test::WriteAll(outDir + "/song (2).mp3", mine);
  EXPECT_EQ(Run({"--to", "mp3", "--out", outDir, S("a/song.wav"), S("b/song.wav")}), 1);
  EXPECT_TRUE(out_.str().empty()) << out_.str();
  EXPECT_NE(err_.str().find(S("a/song.wav") + ": файл '" + outDir + "/song.mp3' уже существует и не заменён"),
            std::string::npos)
      << err_.str();
  EXPECT_EQ(test::ReadAll(outDir + "/song (2).mp3"), mine);
  EXPECT_EQ(test::ReadAll(outDir + "/song.mp3"), first);
  // With --overwrite they are replaced.
  EXPECT_EQ(Run({"--to", "mp3", "--overwrite", "--out", outDir, S("b/song.wav"), S("a/song.wav")}), 0)
      << err_.str();
  EXPECT_EQ(out_.str(), S("b/song.wav") + "\t" + outDir + "/song.mp3\n" + S("a/song.wav") + "\t" +
                            outDir + "/song (2).mp3\n");
  EXPECT_NEAR(test::MeasureTone(outDir + "/song.mp3").seconds, 1.0, 0.1);
  EXPECT_NEAR(test::MeasureTone(outDir + "/song (2).mp3").seconds, 0.5, 0.1);
}

TEST_F(CliConvertTest, WavsThatAreNotCdAudioConvertAsInTheWindow) {
  test::MakeSineWav(S("m22.wav"), 5.0, 22050, 1, "pcm_s16le");
  test::MakeSineWav(S("u8m8k.wav"), 5.0, 8000, 1, "pcm_u8");
  test::MakeSineWav(S("list48.wav"), 5.0, 48000, 2, "pcm_s16le", false);
  test::WriteWav(S("header.wav"), {}, CdAudioFormat);
  for (const char* to : {"mp3", "ogg", "wma", "opus"}) {
    SCOPED_TRACE(to);
    if (std::string(to) == "opus" && !OpusWriter().Available()) continue;
    EXPECT_EQ(Run({"--to", to, S("m22.wav"), S("u8m8k.wav"), S("list48.wav")}), 0) << err_.str();
    for (const char* n : {"m22.", "u8m8k.", "list48."}) {
      const test::ToneMeasure m = test::MeasureTone(S(std::string(n) + to));
      EXPECT_NEAR(m.seconds, 5.0, 0.15) << n;
      EXPECT_NEAR(m.hz, 440.0, 5.0) << n;
    }
    EXPECT_EQ(Run({"--to", to, S("header.wav")}), 1);
    // The file and the reason, said once.
    EXPECT_EQ(err_.str(), "Не удалось прочитать файл '" + S("header.wav") + "': в файле нет звука.\n");
    EXPECT_FALSE(FileExists(S(std::string("header.") + to)));
  }
}

// WAV to Opus: files ffprobe reads as Opus at 48000 Hz, their size set by
// --bitrate, else by the bitrate stored in sonarvex.ini.
TEST_F(CliConvertTest, WavToOpusTakesTheBitrateGivenOrStored) {
  if (!OpusWriter().Available()) GTEST_SKIP() << kOpusEncLibraryName << " cannot be loaded";
  if (!test::ToolPresent("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  test::MakeWav(S("song.wav"), 4.0);
  const std::string low = dir_.File("low"), high = dir_.File("high"), stored = dir_.File("stored");
  EXPECT_EQ(Run({"--to", "opus", "--bitrate", "24", "--out", low, S("song.wav")}), 0) << err_.str();
  EXPECT_EQ(out_.str(), S("song.wav") + "\t" + low + "/song.opus\n");
  EXPECT_EQ(Run({"--to", "opus", "--bitrate", "256", "--out", high, S("song.wav")}), 0) << err_.str();
  const std::string probe = test::CaptureOutput(
      {FindInPath("ffprobe"), "-v", "error", "-show_entries", "stream=codec_name,sample_rate", "-of",
       "default=nw=1", high + "/song.opus"},
      false);
  EXPECT_NE(probe.find("codec_name=opus\nsample_rate=48000"), std::string::npos) << probe;
  const auto lowSize = test::ReadAll(low + "/song.opus").size();
  const auto highSize = test::ReadAll(high + "/song.opus").size();
  // About 12 kB against 128 kB for four seconds.
  EXPECT_GT(lowSize, 4000u);
  EXPECT_GT(highSize, lowSize * 5) << lowSize << " " << highSize;
  EXPECT_NEAR(test::MeasureTone(high + "/song.opus").seconds, 4.0, 0.1);

  // Without --bitrate, the stored one.
  {
    IniStore ini(home_ + "setting/sonarvex.ini");
    ini.Load();
    ini.SetInt("Opus", "Bitrate", 24);
    ASSERT_TRUE(ini.Save());
  }
  EXPECT_EQ(Run({"--to", "opus", "--out", stored, S("song.wav")}), 0) << err_.str();
  const auto storedSize = test::ReadAll(stored + "/song.opus").size();
  EXPECT_LT(storedSize, highSize / 5) << storedSize;

  // A bitrate Opus does not have is refused before anything is written.
  EXPECT_EQ(Run({"--to", "opus", "--bitrate", "5", "--out", dir_.File("none"), S("song.wav")}), 2);
  EXPECT_EQ(err_.str(), "--bitrate 5: Opus пишется с битрейтом от 6 до 510 кбит/с.\n");
  EXPECT_FALSE(fs::exists(dir_.File("none")));
  // The conversion leaves the rip's kind in the settings alone.
  EXPECT_LE(session_->Settings().OutputKind, 3);
}

// A tag as ffprobe shows it: in either letter case.
std::string ProbeTag(const std::string& path, const std::string& lower) {
  const std::string probe = test::Run("ffprobe -v error -show_format -show_streams " + test::Quote(path));
  std::string upper = lower;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string a = test::ProbeValue(probe, "TAG:" + lower);
  return a.empty() ? test::ProbeValue(probe, "TAG:" + upper) : a;
}

// The bitrate a stream's header gives, in kbit/s (0 when ffprobe says none).
long StreamKbits(const std::string& path) {
  const std::string probe = test::Run("ffprobe -v error -show_entries stream=bit_rate -of default=nw=1 " +
                                      test::Quote(path));
  const std::string v = test::ProbeValue(probe, "bit_rate");
  return v.empty() || v == "N/A" ? 0 : std::atol(v.c_str()) / 1000;
}

TEST_F(CliConvertTest, FlacFilesConvertWithTheirTagsAndAudio) {
  if (!test::ToolPresent("flac") || !test::ToolPresent("ffprobe"))
    GTEST_SKIP() << "flac or ffprobe is not installed";
  const auto tone = test::MakeFlac(
      S("song.flac"), 2.0, "-T \"TITLE=Группа крови\" -T ARTIST=Кино -T ALBUM=Альбом -T TRACKNUMBER=1");
  test::MakeWav(S("plain.wav"), 0.5);
  EXPECT_EQ(Run({"--to", "mp3", S("song.flac"), S("plain.wav")}), 0) << err_.str();
  EXPECT_NE(out_.str().find(S("song.flac") + "\t" + S("song.mp3") + "\n"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find(S("plain.wav") + "\t" + S("plain.mp3") + "\n"), std::string::npos);
  EXPECT_EQ(ProbeTag(S("song.mp3"), "title"), "Группа крови");
  EXPECT_EQ(ProbeTag(S("song.mp3"), "artist"), "Кино");
  EXPECT_EQ(ProbeTag(S("song.mp3"), "album"), "Альбом");
  const auto mp3 = test::DecodeWithFfmpeg(S("song.mp3"));
  EXPECT_GT(test::BestSnrDb(tone, mp3, 2, 4096), 15.0);
  EXPECT_EQ(Run({"--to", "ogg", "--out", dir_.File("ogg"), S("song.flac")}), 0) << err_.str();
  EXPECT_EQ(ProbeTag(dir_.File("ogg/song.ogg"), "title"), "Группа крови");
  EXPECT_GT(test::BestSnrDb(tone, test::DecodeWithFfmpeg(dir_.File("ogg/song.ogg")), 2, 4096), 15.0);
  // Into WAV: the very samples.
  EXPECT_EQ(Run({"--to", "wav", "--out", dir_.File("wav"), S("song.flac")}), 0) << err_.str();
  EXPECT_EQ(test::DecodeWithFfmpeg(dir_.File("wav/song.wav")), tone);
  // A damaged file: exit 1, the file named, nothing under its output name.
  test::WriteAll(S("broken.flac"), {'f', 'L', 'a', 'C', 0, 0});
  EXPECT_EQ(Run({"--to", "mp3", S("broken.flac")}), 1);
  EXPECT_NE(err_.str().find("'" + S("broken.flac") + "'"), std::string::npos) << err_.str();
  EXPECT_FALSE(FileExists(S("broken.mp3")));
}

// --bitrate sets every encoded output's bitrate, and is refused where
// nothing is encoded at a bitrate.
TEST_F(CliConvertTest, BitrateAppliesToEveryDirectionThatEncodesAndIsRefusedElsewhere) {
  if (!test::ToolPresent("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  test::MakeWav(S("song.wav"), 2.0);
  const SettingsRecord before = session_->Settings();
  EXPECT_EQ(Run({"--to", "mp3", "--bitrate", "128", "--out", dir_.File("mp3"), S("song.wav")}), 0)
      << err_.str();
  test::Mp3Frame f;
  const auto mp3 = test::ReadAll(dir_.File("mp3/song.mp3"));
  ASSERT_TRUE(test::FindMp3Frame(mp3, test::Id3v2Size(mp3), &f));
  EXPECT_EQ(f.bitrateKbps, 128);
  // A constant bitrate: the file is about 2 s at 128 kbit/s.
  EXPECT_NEAR(static_cast<double>(mp3.size()), 2.0 * 128000 / 8, 6000.0);
  EXPECT_EQ(std::memcmp(&session_->Settings(), &before, sizeof before), 0)
      << "the run's bitrate is not kept in the settings";
  // With the codec layer's driver chosen for MP3, the driver at that bitrate.
  if (session_->Encoders().Acm().Available()) {
    session_->Settings().UseLame = 0;
    EXPECT_EQ(Run({"--to", "mp3", "--bitrate", "96", "--out", dir_.File("acm"), S("song.wav")}), 0)
        << err_.str();
    const auto acm = test::ReadAll(dir_.File("acm/song.mp3"));
    ASSERT_TRUE(test::FindMp3Frame(acm, test::Id3v2Size(acm), &f));
    EXPECT_EQ(f.bitrateKbps, 96);
    // LAME's own files start with its Info frame; the driver's do not.
    auto infoFrame = [](const std::vector<std::uint8_t>& file) {
      const std::string mark = "Info";
      const auto from = file.begin() + static_cast<long>(test::Id3v2Size(file));
      const auto to = file.size() > test::Id3v2Size(file) + 200 ? from + 200 : file.end();
      return std::search(from, to, mark.begin(), mark.end()) != to;
    };
    EXPECT_FALSE(infoFrame(acm)) << "the driver the settings chose, not LAME";
    EXPECT_TRUE(infoFrame(mp3));
    session_->Settings().UseLame = before.UseLame;
  }
  if (session_->Encoders().Wma().Available()) {
    EXPECT_EQ(Run({"--to", "wma", "--bitrate", "64", "--out", dir_.File("wma"), S("song.wav")}), 0)
        << err_.str();
    EXPECT_EQ(StreamKbits(dir_.File("wma/song.wma")), 64);
  }
  EXPECT_EQ(Run({"--to", "ogg", "--bitrate", "96", "--out", dir_.File("ogg"), S("song.wav")}), 0)
      << err_.str();
  EXPECT_EQ(StreamKbits(dir_.File("ogg/song.ogg")), 96);
  if (test::ToolPresent("flac")) {
    test::MakeFlac(S("f.flac"), 1.0);
    EXPECT_EQ(Run({"--to", "mp3", "--bitrate", "96", S("f.flac")}), 0) << err_.str();
    const auto fromFlac = test::ReadAll(S("f.mp3"));
    ASSERT_TRUE(test::FindMp3Frame(fromFlac, test::Id3v2Size(fromFlac), &f));
    EXPECT_EQ(f.bitrateKbps, 96);
  }

  // Refused, with the reason, before anything is written.
  test::MakeMp3(S("a.mp3"), 0.5, "-b 128");
  EXPECT_EQ(Run({"--to", "wav", "--bitrate", "128", S("a.mp3")}), 2);
  EXPECT_NE(err_.str().find("--bitrate"), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("WAV"), std::string::npos) << err_.str();
  EXPECT_FALSE(FileExists(S("a.wav")));
  EXPECT_EQ(Run({"--to", "mp3", "--bitrate", "100", "--out", dir_.File("none"), S("song.wav")}), 2);
  EXPECT_NE(err_.str().find("32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320"),
            std::string::npos)
      << err_.str();
  EXPECT_EQ(Run({"--to", "wma", "--bitrate", "100", "--out", dir_.File("none"), S("song.wav")}), 2);
  EXPECT_NE(err_.str().find("32, 40, 48, 64, 80, 96, 128, 160, 192"), std::string::npos) << err_.str();
  test::MakeAvi(S("clip.avi"), 0.5, "libmp3lame");
  EXPECT_EQ(Run({"--to", "mp3", "--bitrate", "128", "--out", dir_.File("none"), S("clip.avi")}), 2);
  EXPECT_NE(err_.str().find("AVI"), std::string::npos) << err_.str();
  EXPECT_FALSE(fs::exists(dir_.File("none")));
}

TEST_F(CliConvertTest, HomeFolderDoesNotHideTheDecoderLibrary) {
  test::MakeMp3(S("a.mp3"), 0.5, "-b 128");
  std::string err;
  EXPECT_EQ(Program({"convert", "--to", "wav", S("a.mp3")}, &err), 0) << err;
  EXPECT_TRUE(FileExists(S("a.wav")));
  EXPECT_EQ(err.find("libkelpra.so"), std::string::npos) << err;
}

TEST_F(CliConvertTest, AFifoIsNoSourceAndNothingWaitsOnIt) {
  for (const char* n : {"pipe.wav", "pipe.mp3"}) ASSERT_EQ(mkfifo(S(n).c_str(), 0600), 0);
  std::string err;
  EXPECT_EQ(Program({"convert", "--to", "mp3", S("pipe.wav")}, &err), 1) << err;
  EXPECT_NE(err.find("Не удалось прочитать файл '" + S("pipe.wav") + "': это не обычный файл."),
            std::string::npos)
      << err;
  EXPECT_EQ(Program({"convert", "--to", "wav", S("pipe.mp3")}, &err), 1) << err;
  EXPECT_NE(err.find("Не удалось прочитать файл '" + S("pipe.mp3") + "': это не обычный файл."),
            std::string::npos)
      << err;
  // Burning takes its WAV files through the same reader: a recorder that
  // writes a disc image, and the FIFO refused at once.
  test::DeclareRecorder(home_, dir_.File("cdr.cue"));
  EXPECT_EQ(Program({"burn", "--drive", "0", S("pipe.wav")}, &err), 1) << err;
  EXPECT_NE(err.find(S("pipe.wav")), std::string::npos) << err;
  EXPECT_FALSE(FileExists(dir_.File("cdr.cue")));
}

TEST_F(CliConvertTest, WithoutTheDecoderLibraryNothingRuns) {
  test::MakeMp3(S("a.mp3"), 0.5, "-b 128");
  EXPECT_EQ(Run({"--to", "wav", S("a.mp3")}, dir_.Path()), 1);
  EXPECT_NE(err_.str().find("Нет необходимой библиотеки libkelpra.so"), std::string::npos);
  EXPECT_FALSE(FileExists(S("a.wav")));
}

}  // namespace
}  // namespace sonarvex
