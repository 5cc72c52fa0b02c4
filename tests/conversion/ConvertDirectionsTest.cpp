// The batch in each direction on files made with lame and ffmpeg: outputs
// decode with FFmpeg to the source's length at a fitting quality, tags and
// bitrates are what the window chose, and bad input, cancels and full disks
// leave nothing under an output name while the batch goes on.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "codec/WavFile.h"
#include "codec/WmaFileReader.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "tests/codec/SignalCompare.h"
#include "tests/conversion/BatchTest.h"

namespace sonarvex {
namespace {

namespace fs = std::filesystem;

std::string Probe(const std::string& path) {
  return test::Run("ffprobe -v error -show_format -show_streams " + test::Quote(path));
}

long Frames(const std::vector<std::int16_t>& pcm, int channels = 2) {
  return static_cast<long>(pcm.size()) / channels;
}

class DirectionTest : public test::BatchTest {
 protected:
  DirectionTest() : BatchTest(false) {}
  // No partial output anywhere below the output folder.
  void ExpectNoPartials() {
    if (!fs::exists(out_)) return;
    for (const auto& e : fs::recursive_directory_iterator(out_))
      EXPECT_EQ(e.path().extension(), e.path().extension() == ".part" ? ".none" : e.path().extension())
          << e.path();
  }
};

TEST_F(DirectionTest, Mp3ToWavDecodesEachFileAndBadFilesFailAlone) {
  test::MakeMp3(S("a.mp3"), 2.0, "-b 128");
  test::WriteAll(S("fake.mp3"), std::vector<std::uint8_t>(3000, 0x11));  // not an MP3
  test::WriteAll(S("empty.mp3"), {});
  test::MakeMp3(S("b.mp3"), 1.0, "-b 192 -m m");
  E().SetDirection(kMp3ToWav);
  for (const char* n : {"a.mp3", "fake.mp3", "empty.mp3", "b.mp3"}) E().AddFile(S(n));
  rig_.dialogs.ExpectMessage("Не получилось декодировать файл!!!", "Sonarvex's MP3 Decoder",
                             MsgIcon::Error, MsgButtons::Ok);
  E().Run();
  EXPECT_TRUE(rig_.dialogs.Clean());
  const auto& rows = E().Rows();
  EXPECT_EQ(rows[0].state, "Готово");
  EXPECT_FALSE(rows[0].checked);
  EXPECT_EQ(rows[1].state, "ошибка декодирования");
  EXPECT_TRUE(rows[1].checked);
  EXPECT_EQ(rows[2].state, "ошибка чтения");
  EXPECT_EQ(rows[3].state, "Готово");
  EXPECT_FALSE(FileExists(O("fake.wav")));
  EXPECT_FALSE(FileExists(O("empty.wav")));
  ASSERT_EQ(rig_.host.done.size(), 2u);
  EXPECT_EQ(rig_.host.done[0], (std::pair<std::string, std::string>{S("a.mp3"), O("a.wav")}));
  // Our WAV against FFmpeg's decoding of the same MP3.
  for (auto [mp3, wav, ch] : {std::tuple{"a.mp3", "a.wav", 2}, std::tuple{"b.mp3", "b.wav", 1}}) {
    const auto ref = test::DecodeWithFfmpeg(S(mp3));
    const auto mine = test::DecodeWithFfmpeg(O(wav));
    EXPECT_LE(std::labs(Frames(mine, ch) - Frames(ref, ch)), 1152) << mp3;
    EXPECT_GT(test::BestSnrDb(ref, mine, ch, 1152), 40.0) << mp3;
  }
  EXPECT_EQ(rig_.host.captions.front(), "Конвертирование файлов - [a.mp3] - 1/4");
  EXPECT_EQ(rig_.host.captions.back(), "Конвертирование файлов");
  ExpectNoPartials();
}

TEST_F(DirectionTest, Mp3ToMp3LowersTheBitrateAndKeepsTheLeadingTag) {
  test::MakeMp3(S("song.mp3"), 2.0, "-b 192 --id3v2-only --tt Title --ta Artist");
  test::MakeMp3(S("low.mp3"), 1.0, "-b 128");
  test::MakeMp3(S("rate48.mp3"), 1.0, "-b 192", 48000);
  E().SetDirection(kMp3ToMp3);
  E().formatIndex = 2;  // 128 kbit/s
  for (const char* n : {"song.mp3", "low.mp3", "rate48.mp3"}) E().AddFile(S(n));
  // 128 into 160 and a 48000 Hz file: no output, yet the rows are done.
  E().saveToSourceFolder = true;
  const std::uint8_t vbr = rig_.settings.Lame.VbrEnabled;
  const std::int32_t bitrate = rig_.settings.Lame.BitrateIndex;
  E().Run();
  EXPECT_TRUE(rig_.dialogs.Clean());
  for (const ConvertRow& r : E().Rows()) EXPECT_EQ(r.state, "Готово") << r.name;
  EXPECT_FALSE(FileExists(S("low(2).mp3")));
  EXPECT_FALSE(FileExists(S("rate48(2).mp3")));
  EXPECT_EQ(rig_.host.skipped.size(), 2u);
  // Into its own folder: song(2).mp3.
  const std::string out = S("song(2).mp3");
  ASSERT_TRUE(FileExists(out));
  const auto src = test::ReadAll(S("song.mp3"));
  const auto dst = test::ReadAll(out);
  const std::size_t tag = test::Id3v2Size(src);
  ASSERT_GT(tag, 10u);
  ASSERT_GE(dst.size(), tag);
  EXPECT_TRUE(std::equal(src.begin(), src.begin() + static_cast<long>(tag), dst.begin()))
      << "the source's leading ID3v2 tag, byte for byte";
  test::Mp3Frame f;
  ASSERT_TRUE(test::FindMp3Frame(dst, tag, &f));
  EXPECT_EQ(f.bitrateKbps, 128);
  EXPECT_EQ(test::ProbeValue(Probe(out), "TAG:title"), "Title");
  const auto ref = test::DecodeWithFfmpeg(S("song.mp3"));
  const auto mine = test::DecodeWithFfmpeg(out);
  EXPECT_LE(std::labs(Frames(mine) - Frames(ref)), 1152 * 2);
  EXPECT_GT(test::BestSnrDb(ref, mine, 2, 4096), 15.0);
  // The four LAME choices are given back; the output kind stays MP3.
  EXPECT_EQ(rig_.settings.Lame.VbrEnabled, vbr);
  EXPECT_EQ(rig_.settings.Lame.BitrateIndex, bitrate);
  EXPECT_EQ(rig_.settings.OutputKind, 1);
}

TEST_F(DirectionTest, WavToEveryEncoderWithTheRowsTag) {
  const auto tone = test::MakeWav(S("t.wav"), 2.0);
  for (int direction : {kWavToMp3, kWavToWma, kWavToOgg}) {
    E().RemoveAll();
    E().SetDirection(direction);
    E().AddFile(S("t.wav"));
    TrackTags* tag = E().RowTag(0);
    // A name no single-byte code page holds reaches the file whole.
    tag->Set(TagField::Artist, "Кино 東京");
    E().Run();
    EXPECT_TRUE(rig_.dialogs.Clean());
    ASSERT_EQ(E().Rows()[0].state, "Готово") << direction;
    const std::string out = E().OutputPath(0);
    const std::string probe = Probe(out);
    EXPECT_EQ(test::ProbeValue(probe, "TAG:artist").empty() ? test::ProbeValue(probe, "TAG:ARTIST")
                                                            : test::ProbeValue(probe, "TAG:artist"),
              "Кино 東京")
        << direction;
    EXPECT_EQ(test::ProbeValue(probe, "TAG:title").empty() ? test::ProbeValue(probe, "TAG:TITLE")
                                                           : test::ProbeValue(probe, "TAG:title"),
              "t.wav");
    const auto mine = test::DecodeWithFfmpeg(out);
    EXPECT_LE(std::labs(Frames(mine) - Frames(tone)), 2048) << direction;
    EXPECT_GT(test::BestSnrDb(tone, mine, 2, 4096), 15.0) << direction;
    EXPECT_TRUE(FileExists(S("t.wav")));
  }
  EXPECT_EQ(rig_.settings.CompressOutput, 1);
  EXPECT_EQ(rig_.settings.NormalizeEnabled, 0);
  // A CD-format file went to WMA without a copy in the temporary folder.
  EXPECT_TRUE(E().TemporaryOutputs().empty());
  ExpectNoPartials();
}

TEST_F(DirectionTest, WavThatIsNotCdAudioIsConvertedFirstForWma) {
  // 96 kHz: the WMA encoder takes CD audio only.
  int rc = -1;
  test::Run("ffmpeg -v error -nostdin -y -f lavfi -i sine=f=440:r=96000:d=1 -ac 2 -c:a pcm_s16le -fflags +bitexact -flags:a +bitexact " +
                test::Quote(S("hi.wav")),
            &rc);
  ASSERT_EQ(rc, 0);
  E().SetDirection(kWavToWma);
  E().AddFile(S("hi.wav"));
  E().deleteSources = true;
  E().Run();
  EXPECT_TRUE(rig_.dialogs.Clean());
  ASSERT_EQ(E().Rows()[0].state, "Готово");
  ASSERT_EQ(E().TemporaryOutputs().size(), 1u);
  const std::string converted = E().TemporaryOutputs()[0];
  EXPECT_EQ(converted.rfind(rig_.context.tempFolder, 0), 0u);
  EXPECT_TRUE(FileExists(converted));
  const std::string probe = Probe(O("hi.wma"));
  EXPECT_EQ(test::ProbeValue(probe, "sample_rate"), "44100");
  EXPECT_FALSE(FileExists(S("hi.wav"))) << "the source is deleted after encoding";
  ASSERT_TRUE(E().Close());
  EXPECT_FALSE(FileExists(converted)) << "temporary outputs go when the window closes";
  EXPECT_FALSE(DirectoryExists(rig_.context.tempFolder));
}

TEST_F(DirectionTest, AviSoundAsPcmMp3AndOtherFormats) {
  test::MakeAvi(S("pcm.avi"), 2.0, "pcm_s16le");
  test::MakeAvi(S("mp3.avi"), 2.0, "libmp3lame");
  test::MakeAvi(S("adpcm.avi"), 2.0, "adpcm_ms");
  test::MakeAvi(S("mute.avi"), 1.0, "");
  test::MakeWav(S("notavi.avi"), 0.5);
  E().SetDirection(kAviToMp3OrWav);
  for (const char* n : {"pcm.avi", "mp3.avi", "adpcm.avi", "mute.avi", "notavi.avi"})
    E().AddFile(S(n));
  E().Run();
  const auto& rows = E().Rows();
  EXPECT_EQ(rows[0].state, "Готово");
  EXPECT_EQ(rows[1].state, "Готово");
  EXPECT_EQ(rows[2].state, "Готово");
  EXPECT_EQ(rows[3].state, "не содержит звука");
  EXPECT_EQ(rows[4].state, "невозможно прочитать");
  // PCM comes out bit for bit.
  const std::string ref = test::Run("ffmpeg -v error -nostdin -i " + test::Quote(S("pcm.avi")) +
                                    " -map 0:a -f s16le -c:a copy -");
  const auto wav = test::ReadAll(O("pcm.wav"));
  ASSERT_EQ(wav.size(), kWavHeaderSize + ref.size());
  EXPECT_EQ(std::memcmp(wav.data() + kWavHeaderSize, ref.data(), ref.size()), 0);
  EXPECT_EQ(std::memcmp(wav.data(), "RIFF", 4), 0);
  // MP3 sound is its raw stream.
  const std::string rawMp3 = test::Run("ffmpeg -v error -nostdin -i " + test::Quote(S("mp3.avi")) +
                                       " -map 0:a -c:a copy -f mp3 -write_xing 0 -id3v2_version 0 -");
  const auto mp3 = test::ReadAll(O("mp3.mp3"));
  ASSERT_EQ(mp3.size(), rawMp3.size());
  EXPECT_EQ(std::memcmp(mp3.data(), rawMp3.data(), rawMp3.size()), 0);
  // Another format: a WAV of that format that FFmpeg decodes.
  const std::string probe = Probe(O("adpcm.wav"));
  EXPECT_EQ(test::ProbeValue(probe, "codec_name"), "adpcm_ms");
  const auto a = test::DecodeWithFfmpeg(O("adpcm.wav"));
  const auto b = test::DecodeWithFfmpeg(S("adpcm.avi"), "-map 0:a");
  EXPECT_EQ(a, b);
  EXPECT_FALSE(FileExists(O("mute.wav")));
  EXPECT_FALSE(FileExists(O("notavi.wav")));
  ExpectNoPartials();
}

TEST_F(DirectionTest, ATruncatedAviFailsAndTheNextRowGoesOn) {
  test::MakeAvi(S("whole.avi"), 4.0, "pcm_s16le");
  auto bytes = test::ReadAll(S("whole.avi"));
  bytes.resize(bytes.size() * 2 / 3);
  test::WriteAll(S("cut.avi"), bytes);
  test::MakeAvi(S("next.avi"), 1.0, "pcm_s16le");
  E().SetDirection(kAviToMp3OrWav);
  E().AddFile(S("cut.avi"));
  E().AddFile(S("next.avi"));
  E().Run();
  EXPECT_EQ(E().Rows()[0].state, "ошибка чтения");
  EXPECT_EQ(E().Rows()[1].state, "Готово");
  EXPECT_FALSE(FileExists(O("cut.wav")));
  ExpectNoPartials();
}

TEST_F(DirectionTest, AFullDiskFailsTheRowKeepsWhatWasThereAndGoesOn) {
  test::MakeWav(S("big.wav"), 6.0);
  test::MakeWav(S("small.wav"), 0.05);
  fs::create_directories(out_);
  test::WriteAll(O("big.ogg"), {'o', 'l', 'd'});
  E().SetDirection(kWavToOgg);
  E().AddFile(S("big.wav"));
  E().AddFile(S("small.wav"));
  // Leave to replace the file is asked first; the failed write still keeps it.
  rig_.dialogs.ExpectMessage("Файл '" + O("big.ogg") + "' уже существует. Заменить?", "Sonarvex v3.2",
                             MsgIcon::Question, MsgButtons::YesYesAllNo, IdYes);
  {
    test::FileSizeLimit limit(40000);
    E().Run();
  }
  EXPECT_TRUE(rig_.dialogs.Clean());
  EXPECT_EQ(E().Rows()[0].state, "ошибка записи");
  EXPECT_TRUE(E().Rows()[0].checked);
  EXPECT_EQ(E().Rows()[1].state, "Готово");
  EXPECT_EQ(test::ReadAll(O("big.ogg")), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
  ASSERT_EQ(rig_.host.failed.size(), 1u);
  EXPECT_NE(rig_.host.failed[0].second.find(std::strerror(EFBIG)), std::string::npos);
  ExpectNoPartials();
}

TEST_F(DirectionTest, AnOutputFolderThatCannotBeMadeFailsEveryRow) {
  test::MakeWav(S("a.wav"), 0.1);
  test::WriteAll(rig_.dir.File("file"), {1});
  E().outputFolder = rig_.dir.File("file") + "/sub";
  E().SetDirection(kWavToOgg);
  E().AddFile(S("a.wav"));
  E().Run();
  EXPECT_EQ(E().Rows()[0].state, "ошибка записи");
  ASSERT_EQ(rig_.host.failed.size(), 1u);
  EXPECT_NE(rig_.host.failed[0].second.find("Не удалось создать папку"), std::string::npos);
}

TEST_F(DirectionTest, CancelStopsTheCurrentFileAndStartsNoOther) {
  test::MakeWav(S("a.wav"), 5.0);
  test::MakeWav(S("b.wav"), 1.0);
  E().SetDirection(kWavToOgg);
  E().AddFile(S("a.wav"));
  E().AddFile(S("b.wav"));
  int pumps = 0;
  rig_.host.onPump = [&] {
    if (++pumps == 3) E().RequestCancel();
  };
  E().Run();
  EXPECT_EQ(E().Rows()[0].state, "Остановлено");
  EXPECT_EQ(E().Rows()[1].state, "Ждет начала");
  EXPECT_FALSE(FileExists(O("a.ogg")));
  EXPECT_FALSE(FileExists(O("b.ogg")));
  ExpectNoPartials();
}

class WmaBatchTest : public DirectionTest {
 protected:
  void SetUp() override {
    DirectionTest::SetUp();
    if (IsSkipped()) return;
    if (!WmaFileReader::DecoderAvailable()) GTEST_SKIP() << "no WMA decoder";
  }
  int Running() { return E().WmaReadersRunning(); }
};

TEST_F(WmaBatchTest, ThreeAtOnceTakeFiveRowsInOrderAndSkipUncheckedOnes) {
  for (int i = 0; i < 6; ++i) test::MakeWma(S("w" + std::to_string(i) + ".wma"), 2.0 + i * 0.3);
  rig_.settings.DecodeFilesAtOnce = 3;
  E().SetDirection(kWmaToWav);
  for (int i = 0; i < 6; ++i) E().AddFile(S("w" + std::to_string(i) + ".wma"));
  E().SetChecked(4, false);
  int most = 0;
  rig_.host.onPump = [&] { most = std::max(most, Running()); };
  E().Run();
  EXPECT_TRUE(rig_.dialogs.Clean());
  EXPECT_EQ(most, 3);
  for (int i = 0; i < 6; ++i) {
    const ConvertRow& r = E().Rows()[static_cast<std::size_t>(i)];
    if (i == 4) {
      EXPECT_EQ(r.state, "Ждет начала");
      EXPECT_FALSE(FileExists(O("w4.wav")));
      continue;
    }
    EXPECT_EQ(r.state, "Готово") << i;
    EXPECT_FALSE(r.checked);
    EXPECT_FALSE(r.taken);
    const auto mine = test::DecodeWithFfmpeg(O("w" + std::to_string(i) + ".wav"));
    const auto ref = test::DecodeWithFfmpeg(S("w" + std::to_string(i) + ".wma"));
    EXPECT_EQ(mine, ref) << i;
  }
  EXPECT_TRUE(E().TemporaryOutputs().empty());
  EXPECT_EQ(rig_.host.done.size(), 5u);
  ExpectNoPartials();
}

// The caption names each file as the batch takes it, with its place in the
// batch, as the one-at-a-time batches do.
TEST_F(WmaBatchTest, TheCaptionNamesEachFileAsItIsTaken) {
  for (const char* n : {"a.wma", "b.wma"}) test::MakeWma(S(n), 0.5);
  rig_.settings.DecodeFilesAtOnce = 2;
  E().SetDirection(kWmaToWav);
  for (const char* n : {"a.wma", "b.wma"}) E().AddFile(S(n));
  E().Run();
  EXPECT_EQ(rig_.host.captions,
            (std::vector<std::string>{"Конвертирование файлов - [a.wma] - 1/2",
                                      "Конвертирование файлов - [b.wma] - 2/2", "Конвертирование файлов"}));
  EXPECT_EQ(rig_.host.current, (std::vector<int>{0, 1}));
  EXPECT_EQ(E().Rows()[1].state, "Готово");
}

TEST_F(WmaBatchTest, OverTenAtOnceCountsAsOneAndBadFilesFailAlone) {
  test::MakeWma(S("a.wma"), 1.0);
  test::MakeWav(S("fake.wma"), 0.5);
  test::MakeWma(S("b.asf"), 1.0);
  rig_.settings.DecodeFilesAtOnce = 25;
  E().SetDirection(kWmaToWav);
  for (const char* n : {"a.wma", "fake.wma", "b.asf"}) E().AddFile(S(n));
  int most = 0;
  rig_.host.onPump = [&] { most = std::max(most, Running()); };
  E().Run();
  EXPECT_EQ(most, 1);
  EXPECT_EQ(E().Rows()[0].state, "Готово");
  EXPECT_EQ(E().Rows()[1].state, "ошибка чтения");
  EXPECT_TRUE(E().Rows()[1].checked);
  EXPECT_EQ(E().Rows()[2].state, "Готово");
  EXPECT_FALSE(FileExists(O("fake.wav")));
}

TEST_F(WmaBatchTest, CancelKeepsFinishedFilesAndDeletesThePartialOnes) {
  test::MakeWma(S("short.wma"), 0.3);
  // Ten minutes each: they are still decoding when the cancel comes.
  test::MakeWma(S("long0.wma"), 600.0);
  fs::copy_file(S("long0.wma"), S("long1.wma"));
  fs::copy_file(S("long0.wma"), S("long2.wma"));
  rig_.settings.DecodeFilesAtOnce = 3;
  E().SetDirection(kWmaToWav);
  E().AddFile(S("short.wma"));
  for (int i = 0; i < 3; ++i) E().AddFile(S("long" + std::to_string(i) + ".wma"));
  rig_.host.onPump = [&] {
    // Cancel once the short file is done and the three long ones run.
    if (E().Rows()[0].state == "Готово" && Running() == 3 && E().Status() == 0 &&
        E().Rows()[3].state.find("% завершено") != std::string::npos)
      E().RequestCancel();
  };
  E().Run();
  EXPECT_EQ(E().Rows()[0].state, "Готово");
  EXPECT_TRUE(FileExists(O("short.wav")));
  for (int i = 1; i < 4; ++i) {
    EXPECT_EQ(E().Rows()[static_cast<std::size_t>(i)].state, "Остановлено") << i;
    EXPECT_FALSE(FileExists(O("long" + std::to_string(i - 1) + ".wav")));
  }
  EXPECT_TRUE(E().TemporaryOutputs().empty());
  ExpectNoPartials();
}

TEST_F(WmaBatchTest, WmaToMp3OneAtATimeWithTheFilesTags) {
  test::MakeWma(S("t1.wma"), 1.5, 44100, "-metadata title=Первая -metadata artist=Кино");
  test::MakeWma(S("t2.wmv"), 1.0);
  test::MakeWma(S("t48.wma"), 1.0, 48000);
  rig_.settings.DecodeFilesAtOnce = 4;
  E().SetDirection(kWmaToMp3);
  for (const char* n : {"t1.wma", "t2.wmv", "t48.wma"}) E().AddFile(S(n));
  int most = 0;
  rig_.host.onPump = [&] { most = std::max(most, Running()); };
  E().Run();
  EXPECT_EQ(most, 1);
  EXPECT_EQ(E().Rows()[0].state, "Готово");
  EXPECT_EQ(E().Rows()[1].state, "Готово");
  EXPECT_EQ(E().Rows()[2].state, "ошибка чтения") << "48000 Hz is not transcoded to MP3";
  EXPECT_EQ(rig_.settings.OutputKind, 1);
  const std::string probe = Probe(O("t1.mp3"));
  EXPECT_EQ(test::ProbeValue(probe, "codec_name"), "mp3");
  EXPECT_EQ(test::ProbeValue(probe, "TAG:title"), "Первая");
  EXPECT_EQ(test::ProbeValue(probe, "TAG:artist"), "Кино");
  EXPECT_TRUE(FileExists(O("t2.mp3")));
  const auto mine = test::DecodeWithFfmpeg(O("t1.mp3"));
  const auto ref = test::DecodeWithFfmpeg(S("t1.wma"));
  EXPECT_LE(std::labs(Frames(mine) - Frames(ref)), 1152 * 2);
  EXPECT_GT(test::BestSnrDb(ref, mine, 2, 4096), 15.0);
}

}  // namespace
}  // namespace sonarvex
