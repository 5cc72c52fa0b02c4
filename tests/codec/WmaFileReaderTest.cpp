// The WMA reader: decodes ASF files made by FFmpeg on its own thread into a
// WAV file holding exactly FFmpeg's decoded PCM, or into EncoderSet as MP3
// with the file's attributes as tags; refuses what it cannot take and leaves
// nothing under the output name when a file does not finish.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "codec/EncoderSet.h"
#include "codec/WavFile.h"
#include "codec/WmaFileReader.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"
#include "tests/codec/CodecTestUtil.h"
#include "tests/codec/SignalCompare.h"

namespace sonarvex {
namespace {

bool WaitDone(const WmaFileReader& r, int seconds = 60) {
  for (int i = 0; i < seconds * 100 && !r.Done(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return r.Done();
}

class WmaFileReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!WmaFileReader::DecoderAvailable()) GTEST_SKIP() << "FFmpeg has no ASF demuxer/WMA decoder";
    int rc = -1;
    test::Run("ffmpeg -version", &rc);
    if (rc != 0) GTEST_SKIP() << "ffmpeg is not installed";
  }
  // A WMA file made by FFmpeg from a sine.
  std::string MakeWma(const std::string& name, int rate, int channels, double seconds,
                      const std::string& codec = "wmav2", const std::string& extra = "") {
    const std::string out = dir_.File(name);
    int rc = -1;
    test::Run("ffmpeg -v error -nostdin -y -f lavfi -i sine=f=440:r=" + std::to_string(rate) +
                  ":d=" + std::to_string(seconds) + " -ac " + std::to_string(channels) +
                  " -c:a " + codec + " -b:a 128k " + extra + " " + test::Quote(out),
              &rc);
    EXPECT_EQ(rc, 0) << out;
    return out;
  }
  test::TempDir dir_;
};

TEST_F(WmaFileReaderTest, WavOutputHoldsFfmpegsDecodedPcm) {
  for (auto [codec, rate, channels] : {std::tuple{"wmav2", 44100, 2}, std::tuple{"wmav1", 48000, 1},
                                       std::tuple{"wmav2", 22050, 2}}) {
    const std::string wma = MakeWma(std::string(codec) + ".wma", rate, channels, 2.5, codec);
    const std::string out = dir_.File(std::string(codec) + std::to_string(rate) + ".wav");
    WmaFileReader reader(nullptr, false);
    ASSERT_TRUE(reader.Open(wma, out)) << reader.OpenFailure();
    EXPECT_NEAR(reader.Total(), 2500, 100);
    EXPECT_EQ(reader.OutputFormat().SampleRate, static_cast<std::uint32_t>(rate));
    EXPECT_EQ(reader.OutputFormat().Channels, channels);
    EXPECT_EQ(reader.OutputFormat().ExtraSize, 20);
    ASSERT_TRUE(reader.Start());
    ASSERT_TRUE(WaitDone(reader));
    ASSERT_TRUE(reader.Result()) << reader.Result().message;
    EXPECT_FALSE(FileExists(out + ".part"));
    const auto wav = test::ReadAll(out);
    ASSERT_GE(wav.size(), kWavHeaderSize);
    std::uint8_t header[kWavHeaderSize];
    BuildWavHeader(header, static_cast<std::uint32_t>(wav.size() - kWavHeaderSize), reader.OutputFormat());
    EXPECT_EQ(std::memcmp(wav.data(), header, kWavHeaderSize), 0) << "the program's 48-byte header";
    const std::string raw = test::Run("ffmpeg -v error -nostdin -i " + test::Quote(wma) +
                                      " -f s16le -c:a pcm_s16le -");
    ASSERT_EQ(wav.size() - kWavHeaderSize, raw.size()) << codec << " " << rate;
    EXPECT_EQ(std::memcmp(wav.data() + kWavHeaderSize, raw.data(), raw.size()), 0);
    EXPECT_EQ(reader.DeliveredBytes(), raw.size());
    EXPECT_GE(reader.Position() + 100, reader.Total());
  }
}

TEST_F(WmaFileReaderTest, Mp3OutputTakesTheAttributesAndReplacesTheExtension) {
  int rc = -1;
  test::Run("lame --version", &rc);
  SettingsRecord s{};
  ApplyFirstStartDefaults(s, "/tmp/");
  s.OutputKind = 1;
  s.UseLame = 1;
  ScriptedDialogs dialogs;
  EncoderSet enc(s, dialogs);
  if (!enc.Lame().Available()) GTEST_SKIP() << "libmp3lame.so.0 is missing";
  const std::string wma =
      MakeWma("tagged.wmv", 44100, 2, 2.0, "wmav2",
              "-metadata title=Песня -metadata artist=Кино -metadata album=Альбом "
              "-metadata comment=Ёж -metadata genre=Rock -metadata date=1988 -metadata track=7");
  WmaFileReader reader(&enc, true);
  ASSERT_TRUE(reader.Open(wma, dir_.File("tagged.whatever")));
  EXPECT_EQ(reader.Tags().TagsOn, 1);
  EXPECT_EQ(FieldUtf8(reader.Tags().Title), "Песня");
  EXPECT_EQ(FieldUtf8(reader.Tags().Artist), "Кино");
  EXPECT_EQ(FieldUtf8(reader.Tags().Album), "Альбом");
  EXPECT_EQ(FieldUtf8(reader.Tags().Comment), "Ёж");
  EXPECT_EQ(FieldText(reader.Tags().Year), "1988");
  EXPECT_EQ(FieldText(reader.Tags().TrackNumber), "7");
  ASSERT_TRUE(reader.Start());
  EXPECT_EQ(reader.OutputName(), dir_.File("tagged.mp3"));
  ASSERT_TRUE(WaitDone(reader));
  ASSERT_TRUE(reader.Result()) << reader.Result().message;
  const std::string out = dir_.File("tagged.mp3");
  const std::string probe =
      test::Run("ffprobe -v error -show_format -show_streams " + test::Quote(out));
  EXPECT_EQ(test::ProbeValue(probe, "codec_name"), "mp3");
  EXPECT_EQ(test::ProbeValue(probe, "TAG:title"), "Песня");
  EXPECT_EQ(test::ProbeValue(probe, "TAG:artist"), "Кино");
  const auto mine = test::DecodeWithFfmpeg(out);
  const auto ref = test::DecodeWithFfmpeg(wma);
  EXPECT_LE(std::labs(static_cast<long>(mine.size() / 2) - static_cast<long>(ref.size() / 2)), 1152);
  EXPECT_GT(test::BestSnrDb(ref, mine, 2, 4096), 15.0);
  EXPECT_TRUE(dialogs.Clean());
}

TEST_F(WmaFileReaderTest, RefusesWhatItCannotTake) {
  SettingsRecord s{};
  ApplyFirstStartDefaults(s, "/tmp/");
  ScriptedDialogs dialogs;
  EncoderSet enc(s, dialogs);
  // 48000 Hz converts to WAV but is not transcoded to MP3.
  const std::string at48 = MakeWma("48k.wma", 48000, 2, 1.0);
  WmaFileReader toMp3(&enc, true);
  EXPECT_FALSE(toMp3.Open(at48, dir_.File("48k.mp3")));
  EXPECT_NE(toMp3.OpenFailure().find("48000"), std::string::npos);
  WmaFileReader toWav(nullptr, false);
  EXPECT_TRUE(toWav.Open(at48, dir_.File("48k.wav")));
  // A WAV file named .wma, a text file, a missing file, a folder, a FIFO.
  const std::string fake = dir_.File("fake.wma");
  test::WriteWav(fake, test::Tone(4410, 2), CdAudioFormat);
  const std::string text = dir_.File("text.asf");
  test::WriteAll(text, std::vector<std::uint8_t>(5000, 'x'));
  const std::string fifo = dir_.File("fifo.wma");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& bad : {fake, text, dir_.File("missing.wma"), dir_.Path(), fifo}) {
    WmaFileReader r(nullptr, false);
    EXPECT_FALSE(r.Open(bad, dir_.File("bad.wav"))) << bad;
    EXPECT_FALSE(r.OpenFailure().empty());
    EXPECT_FALSE(r.Start());
  }
  EXPECT_FALSE(FileExists(dir_.File("bad.wav")));
}

TEST_F(WmaFileReaderTest, ATruncatedFileFailsAndLeavesNothing) {
  const std::string wma = MakeWma("long.wma", 44100, 2, 6.0);
  auto bytes = test::ReadAll(wma);
  bytes.resize(bytes.size() / 2);
  const std::string cut = dir_.File("cut.wma");
  test::WriteAll(cut, bytes);
  const std::string out = dir_.File("cut.wav");
  test::WriteAll(out, {'m', 'i', 'n', 'e'});  // what was there stays on failure
  WmaFileReader reader(nullptr, false);
  ASSERT_TRUE(reader.Open(cut, out));
  ASSERT_TRUE(reader.Start());
  ASSERT_TRUE(WaitDone(reader));
  EXPECT_TRUE(reader.Result().Failed());
  EXPECT_NE(reader.Result().message.find("обрезан"), std::string::npos) << reader.Result().message;
  EXPECT_EQ(test::ReadAll(out), (std::vector<std::uint8_t>{'m', 'i', 'n', 'e'}));
  EXPECT_FALSE(FileExists(out + ".part"));
}

TEST_F(WmaFileReaderTest, CancelStopAndFullDiskLeaveNothing) {
  const std::string wma = MakeWma("c.wma", 44100, 2, 20.0);
  {
    WmaFileReader reader(nullptr, false);
    ASSERT_TRUE(reader.Open(wma, dir_.File("c.wav")));
    reader.SetCancel(1);  // cancelled before the first delivery
    ASSERT_TRUE(reader.Start());
    ASSERT_TRUE(WaitDone(reader));
    EXPECT_TRUE(reader.Result().Cancelled());
  }
  {
    WmaFileReader reader(nullptr, false);
    ASSERT_TRUE(reader.Open(wma, dir_.File("c.wav")));
    ASSERT_TRUE(reader.Start());
    reader.Stop();  // the owner gives up at once
  }
  {
    // Destroyed while running.
    WmaFileReader reader(nullptr, false);
    ASSERT_TRUE(reader.Open(wma, dir_.File("c.wav")));
    ASSERT_TRUE(reader.Start());
  }
  EXPECT_FALSE(FileExists(dir_.File("c.wav")));
  EXPECT_FALSE(FileExists(dir_.File("c.wav.part")));
  {
    test::FileSizeLimit limit(100000);
    WmaFileReader reader(nullptr, false);
    ASSERT_TRUE(reader.Open(wma, dir_.File("c.wav")));
    ASSERT_TRUE(reader.Start());
    ASSERT_TRUE(WaitDone(reader));
    EXPECT_EQ(reader.Result().message, WriteFailureText(dir_.File("c.wav.part"), EFBIG));
  }
  EXPECT_FALSE(FileExists(dir_.File("c.wav")));
  EXPECT_FALSE(FileExists(dir_.File("c.wav.part")));
}

}  // namespace
}  // namespace sonarvex
