// What the batch does with sources that are not plain CD audio and with
// output names that are taken: every PCM WAV reaches each encoder as CD audio
// (right length and pitch), WAVs without audio fail with the file and the
// reason, MP3 files that are empty or cut short fail, a full temporary
// folder is named as such, and a file at an output name is replaced only
// when the user says so while two outputs of one batch never share a name.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "codec/WavFile.h"
#include "platform/Files.h"
#include "tests/codec/SignalCompare.h"
#include "tests/conversion/BatchTest.h"

namespace sonarvex {
namespace {

namespace fs = std::filesystem;

class ConvertSourcesTest : public test::BatchTest {
 protected:
  ConvertSourcesTest() : BatchTest(true) {}
  void Start(int direction, const std::vector<std::string>& files) {
    E().RemoveAll();
    E().SetDirection(direction);
    for (const auto& f : files) E().AddFile(f);
  }
  std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> v;
    for (const auto& e : fs::directory_iterator(folder)) v.push_back(e.path().filename().string());
    std::sort(v.begin(), v.end());
    return v;
  }
  void ExpectQuestion(const std::string& path, int answer) {
    rig_.dialogs.ExpectMessage(ReplaceQuestionText(path), "Sonarvex v3.2", MsgIcon::Question,
                               MsgButtons::YesYesAllNo, answer);
  }
};

TEST_F(ConvertSourcesTest, EveryPcmWavReachesEachEncoderAsCdAudio) {
  struct Source {
    const char* name;
    int rate, channels;
    const char* codec;
    bool bitexact;
  };
  const Source sources[] = {
      {"m22.wav", 22050, 1, "pcm_s16le", true},  {"u8s.wav", 44100, 2, "pcm_u8", true},
      {"r48.wav", 48000, 2, "pcm_s16le", true},  {"u8m8k.wav", 8000, 1, "pcm_u8", true},
      {"s24.wav", 44100, 2, "pcm_s24le", true},  {"list.wav", 44100, 2, "pcm_s16le", false},
  };
  std::vector<std::string> files;
  for (const Source& s : sources) {
    test::MakeSineWav(S(s.name), 5.0, s.rate, s.channels, s.codec, s.bitexact);
    files.push_back(S(s.name));
  }
  ASSERT_NE(test::Run("grep -c LIST " + test::Quote(S("list.wav"))), "0\n")
      << "FFmpeg's WAV carries a LIST chunk";
  for (int direction : {kWavToMp3, kWavToOgg, kWavToWma}) {
    if (!E().DirectionAvailable(direction)) continue;
    Start(direction, files);
    E().Run();
    EXPECT_TRUE(rig_.dialogs.Clean());
    for (int i = 0; i < static_cast<int>(files.size()); ++i) {
      SCOPED_TRACE(std::string(sources[i].name) + " direction " + std::to_string(direction));
      ASSERT_EQ(E().Rows()[static_cast<std::size_t>(i)].state, "Готово");
      const test::ToneMeasure m = test::MeasureTone(E().OutputPath(i));
      EXPECT_NEAR(m.seconds, 5.0, 0.15);
      EXPECT_NEAR(m.hz, 440.0, 5.0);
    }
  }
}

TEST_F(ConvertSourcesTest, WavsWithoutAudioFailNamingTheFileAndTheReason) {
  // A header alone, and a WAV whose format tag says MPEG Layer-3 over PCM.
  test::WriteWav(S("header.wav"), {}, CdAudioFormat);
  test::WriteWav(S("tagged.wav"), test::Tone(44100, 2), CdAudioFormat);
  auto bytes = test::ReadAll(S("tagged.wav"));
  bytes[20] = 0x55;
  bytes[21] = 0;
  test::WriteAll(S("tagged.wav"), bytes);
  test::MakeWav(S("good.wav"), 0.5);
  for (int direction : {kWavToMp3, kWavToOgg}) {
    Start(direction, {S("header.wav"), S("tagged.wav"), S("good.wav")});
    rig_.host.failed.clear();
    rig_.dialogs.ExpectMessage("Произошла ошибка во время декодирования файла tagged.wav",
                               "Sonarvex v3.2", MsgIcon::Warning, MsgButtons::Ok);
    E().Run();
    EXPECT_TRUE(rig_.dialogs.Clean());
    EXPECT_EQ(E().Rows()[0].state, "ошибка чтения");
    EXPECT_EQ(E().Rows()[1].state, "ошибка декодирования");
    EXPECT_EQ(E().Rows()[2].state, "Готово");
    ASSERT_EQ(rig_.host.failed.size(), 2u);
    EXPECT_EQ(rig_.host.failed[0].second,
              "Не удалось прочитать файл '" + S("header.wav") + "': в файле нет звука.");
    EXPECT_EQ(rig_.host.failed[1].second, "Не удалось прочитать файл '" + S("tagged.wav") +
                                              "': в файле нет звука, который можно декодировать.");
  }
  EXPECT_EQ(Listing(out_), (std::vector<std::string>{"good.mp3", "good.ogg"}));
}

TEST_F(ConvertSourcesTest, AFullTemporaryFolderIsReportedAsAWriteFailure) {
  test::MakeSineWav(S("m22.wav"), 5.0, 22050, 1, "pcm_s16le");
  Start(kWavToMp3, {S("m22.wav")});
  const std::string converted = rig_.context.tempFolder + "0-m22.wav";
  const std::string why = "Не удалось записать файл '" + converted + "': " + std::strerror(EFBIG) + ".";
  rig_.dialogs.ExpectMessage(why, "Sonarvex v3.2", MsgIcon::Warning, MsgButtons::Ok);
  {
    test::FileSizeLimit limit(100000);
    E().Run();
  }
  EXPECT_TRUE(rig_.dialogs.Clean());
  EXPECT_EQ(E().Rows()[0].state, "ошибка записи");
  ASSERT_EQ(rig_.host.failed.size(), 1u);
  EXPECT_EQ(rig_.host.failed[0].second, why);
  EXPECT_FALSE(FileExists(converted));
  EXPECT_TRUE(Listing(out_).empty());
}

TEST_F(ConvertSourcesTest, EmptyAndCutShortMp3FilesFailAndLeaveNothing) {
  test::WriteAll(S("empty.mp3"), {});
  // CBR from lame: an "Info" header with the frame count.
  test::MakeMp3(S("whole.mp3"), 5.0, "-b 128");
  auto bytes = test::ReadAll(S("whole.mp3"));
  bytes.resize(bytes.size() * 6 / 10);
  test::WriteAll(S("cut.mp3"), bytes);
  for (int direction : {kMp3ToWav, kMp3ToMp3}) {
    SCOPED_TRACE(direction);
    rig_.host.failed.clear();
    E().formatIndex = 6;  // 64 kbit/s: the files are re-encoded
    Start(direction, {S("empty.mp3"), S("cut.mp3"), S("whole.mp3")});
    E().Run();
    EXPECT_TRUE(rig_.dialogs.Clean());
    EXPECT_EQ(E().Rows()[0].state, "ошибка чтения");
    EXPECT_EQ(E().Rows()[1].state, "ошибка декодирования");
    EXPECT_EQ(E().Rows()[2].state, "Готово");
    ASSERT_EQ(rig_.host.failed.size(), 2u);
    EXPECT_EQ(rig_.host.failed[0].second,
              "Не удалось прочитать файл '" + S("empty.mp3") + "': файл пуст, в нём нет звука MP3.");
    EXPECT_EQ(rig_.host.failed[1].second.rfind("Не удалось прочитать файл '" + S("cut.mp3") + "': файл обрезан", 0),
              0u)
        << rig_.host.failed[1].second;
  }
  EXPECT_EQ(Listing(out_), (std::vector<std::string>{"whole.mp3", "whole.wav"}));
}

TEST_F(ConvertSourcesTest, TwoSourcesOfOneNameGetTwoOutputsAndBothSourcesGoOnlyAfterThem) {
  fs::create_directories(S("a"));
  fs::create_directories(S("b"));
  test::MakeSineWav(S("a/song.wav"), 1.0, 44100, 2, "pcm_s16le");
  test::MakeSineWav(S("b/song.wav"), 2.0, 44100, 2, "pcm_s16le");
  E().deleteSources = true;
  Start(kWavToMp3, {S("a/song.wav"), S("b/song.wav")});
  E().Run();
  EXPECT_TRUE(rig_.dialogs.Clean());
  EXPECT_EQ(E().Rows()[0].state, "Готово");
  EXPECT_EQ(E().Rows()[1].state, "Готово");
  ASSERT_EQ(rig_.host.done.size(), 2u);
  EXPECT_EQ(rig_.host.done[0].second, O("song.mp3"));
  EXPECT_EQ(rig_.host.done[1].second, O("song (2).mp3"));
  EXPECT_NEAR(test::MeasureTone(O("song.mp3")).seconds, 1.0, 0.1);
  EXPECT_NEAR(test::MeasureTone(O("song (2).mp3")).seconds, 2.0, 0.1);
  EXPECT_FALSE(FileExists(S("a/song.wav")));
  EXPECT_FALSE(FileExists(S("b/song.wav")));
}

TEST_F(ConvertSourcesTest, AFileAtTheOutputNameIsReplacedOnlyWhenTheUserSaysSo) {
  test::MakeWav(S("good.wav"), 0.5);
  test::MakeWav(S("notes.wav"), 0.5);
  test::MakeWav(S("third.wav"), 0.5);
  test::MakeWav(S("fourth.wav"), 0.5);
  const std::vector<std::uint8_t> users = {'m', 'i', 'n', 'e'};
  for (const char* n : {"good.mp3", "notes.mp3", "third.mp3", "fourth.mp3"}) test::WriteAll(O(n), users);
  E().deleteSources = true;
  Start(kWavToMp3, {S("good.wav"), S("notes.wav"), S("third.wav"), S("fourth.wav")});
  // No for the first; yes for the second; "yes for all" on the third covers the fourth.
  ExpectQuestion(O("good.mp3"), IdNo);
  ExpectQuestion(O("notes.mp3"), IdYes);
  ExpectQuestion(O("third.mp3"), IdYesAll);
  E().Run();
  EXPECT_TRUE(rig_.dialogs.Clean());
  EXPECT_EQ(E().Rows()[0].state, "Пропущен");
  EXPECT_TRUE(E().Rows()[0].checked);
  EXPECT_EQ(test::ReadAll(O("good.mp3")), users);
  EXPECT_TRUE(FileExists(S("good.wav"))) << "the source of a skipped file stays";
  ASSERT_EQ(rig_.host.skipped.size(), 1u);
  EXPECT_EQ(rig_.host.skipped[0].first, S("good.wav"));
  for (int i = 1; i < 4; ++i) EXPECT_EQ(E().Rows()[static_cast<std::size_t>(i)].state, "Готово");
  for (const char* n : {"notes.mp3", "third.mp3", "fourth.mp3"}) EXPECT_NE(test::ReadAll(O(n)), users) << n;
  EXPECT_EQ(rig_.host.done.size(), 3u);
  EXPECT_FALSE(FileExists(S("notes.wav")));

  // "Да для всех" lasts one batch: the next run asks again.
  test::MakeWav(S("fifth.wav"), 0.5);
  test::WriteAll(O("fifth.mp3"), users);
  Start(kWavToMp3, {S("fifth.wav")});
  ExpectQuestion(O("fifth.mp3"), IdNo);
  E().Run();
  EXPECT_TRUE(rig_.dialogs.Clean());
  EXPECT_EQ(test::ReadAll(O("fifth.mp3")), users);
  EXPECT_EQ(E().Rows()[0].state, "Пропущен");
}

}  // namespace
}  // namespace sonarvex
