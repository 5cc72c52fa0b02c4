// WMA output through FFmpeg's wmav2 encoder and ASF muxer: the files decode
// with FFmpeg to the source's length at a fitting quality, carry the
// bitrate of the table and the eight tags, and nothing is left behind when
// a file cannot be finished.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "codec/EncoderSet.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"
#include "tests/codec/CodecTestUtil.h"
#include "tests/codec/SignalCompare.h"

namespace sonarvex {
namespace {

constexpr int kWmaFrame = 2048;  // samples per channel in one wmav2 frame

SettingsRecord WmaDefaults(int bitrateIndex) {
  SettingsRecord s{};
  ApplyFirstStartDefaults(s, "/tmp/");
  s.OutputKind = 2;
  s.WmaBitrateIndex = static_cast<std::uint8_t>(bitrateIndex);
  return s;
}

TrackTagRecord Tagged() {
  TrackTagRecord t{};
  t.TagsOn = 1;
  SetFieldUtf8(t.Title, "Песня");
  SetFieldUtf8(t.Artist, "Кино");
  SetFieldUtf8(t.Album, "Группа крови");
  SetFieldUtf8(t.Comment, "Ёж");
  std::strcpy(t.Year, "1988");
  std::strcpy(t.Genre, "Rock");
  std::strcpy(t.TrackNumber, "7");
  std::strcpy(t.EncodedBy, "Sonarvex");
  std::strcpy(t.Composer, "not an ASF attribute here");
  return t;
}

std::string Probe(const std::string& path) {
  return test::Run("ffprobe -v error -show_format -show_streams " + test::Quote(path));
}

class WmaWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!WmaWriter().Available()) GTEST_SKIP() << "FFmpeg has no wmav2 encoder or ASF muxer";
  }
  test::TempDir dir_;
};

TEST(WmaTableTest, BitratesAndAttributes) {
  EXPECT_EQ(WmaBitrateFor(0), 32);
  EXPECT_EQ(WmaBitrateFor(6), 128);
  EXPECT_EQ(WmaBitrateFor(8), 192);
  EXPECT_EQ(WmaBitrateFor(-3), 32);
  EXPECT_EQ(WmaBitrateFor(40), 192);
  EXPECT_TRUE(WmaAttributesFor(nullptr).empty());
  TrackTagRecord off = Tagged();
  off.TagsOn = 0;
  EXPECT_TRUE(WmaAttributesFor(&off).empty());
  TrackTagRecord on = Tagged();
  auto a = WmaAttributesFor(&on);
  ASSERT_EQ(a.size(), 8u);
  EXPECT_EQ(a[0], (std::pair<std::string, std::string>{"title", "Песня"}));
  EXPECT_EQ(a[4], (std::pair<std::string, std::string>{"date", "1988"}));
  EXPECT_EQ(a[7], (std::pair<std::string, std::string>{"encoded_by", "Sonarvex"}));
}

TEST_F(WmaWriterTest, ConvertedFileHasTheBitrateTheTagsAndTheSound) {
  for (int index : {0, 6, 8}) {
    SettingsRecord s = WmaDefaults(index);
    ScriptedDialogs dialogs;
    EncoderSet enc(s, dialogs);
    ASSERT_TRUE(enc.Wma().Available());
    const auto tone = test::Tone(44100 * 2, 2);
    const std::string src = dir_.File("src.wav");
    test::WriteWav(src, tone, CdAudioFormat);
    const std::string out = dir_.File("out" + std::to_string(index) + ".wma");
    TrackTagRecord tag = Tagged();
    WriteResult r = enc.ConvertFile(src, out, &tag);
    ASSERT_TRUE(r) << r.message;
    const std::string probe = Probe(out);
    EXPECT_EQ(test::ProbeValue(probe, "codec_name"), "wmav2") << probe;
    EXPECT_EQ(test::ProbeValue(probe, "format_name"), "asf") << probe;
    EXPECT_EQ(test::ProbeValue(probe, "bit_rate"), std::to_string(kWmaBitrates[index] * 1000))
        << probe;
    EXPECT_EQ(test::ProbeValue(probe, "TAG:title"), "Песня");
    EXPECT_EQ(test::ProbeValue(probe, "TAG:artist"), "Кино");
    EXPECT_EQ(test::ProbeValue(probe, "TAG:album"), "Группа крови");
    EXPECT_EQ(test::ProbeValue(probe, "TAG:comment"), "Ёж");
    EXPECT_EQ(test::ProbeValue(probe, "TAG:date"), "1988");
    EXPECT_EQ(test::ProbeValue(probe, "TAG:genre"), "Rock");
    EXPECT_EQ(test::ProbeValue(probe, "TAG:track"), "7");
    EXPECT_EQ(test::ProbeValue(probe, "TAG:encoded_by"), "Sonarvex");
    const auto decoded = test::DecodeWithFfmpeg(out);
    const long frames = static_cast<long>(decoded.size() / 2);
    EXPECT_LE(std::labs(frames - 44100 * 2), kWmaFrame) << "length within one frame";
    // Even 32 kbit/s keeps a pure tone well above the noise.
    const double snr = test::BestSnrDb(tone, decoded, 2, 2 * kWmaFrame);
    EXPECT_GT(snr, index == 0 ? 10.0 : 20.0) << "index " << index;
    EXPECT_TRUE(dialogs.Clean());
  }
}

TEST_F(WmaWriterTest, StreamedMonoAtItsOwnRateWithoutTags) {
  WmaWriter w;
  w.SetBitrateIndex(3);
  w.SetSourceFormat(MakePcmFormat(22050, 1));
  const auto tone = test::Tone(22050, 1, 22050);
  const std::string out = dir_.File("mono.wma");
  TrackTagRecord off = Tagged();
  off.TagsOn = 0;
  ASSERT_TRUE(w.Open(&off, out));
  EXPECT_TRUE(w.IsOpen());
  // Odd block sizes: the writer collects whole encoder frames itself.
  std::size_t at = 0;
  for (std::size_t step : {1u, 999u, 4096u, 3u, 30000u}) {
    const std::size_t n = std::min(step, tone.size() - at);
    ASSERT_TRUE(w.Write(tone.data() + at, n * 2));
    at += n;
  }
  ASSERT_TRUE(w.Write(tone.data() + at, (tone.size() - at) * 2));
  ASSERT_TRUE(w.Close());
  EXPECT_FALSE(w.IsOpen());
  EXPECT_TRUE(SameFormat(w.SourceFormat(), CdAudioFormat)) << "Close resets the source format";
  const std::string probe = Probe(out);
  EXPECT_EQ(test::ProbeValue(probe, "channels"), "1");
  EXPECT_EQ(test::ProbeValue(probe, "sample_rate"), "22050");
  EXPECT_EQ(test::ProbeValue(probe, "TAG:title"), "") << "tags-on 0: no tags";
  const auto decoded = test::DecodeWithFfmpeg(out);
  EXPECT_LE(std::labs(static_cast<long>(decoded.size()) - 22050), kWmaFrame);
  EXPECT_GT(test::BestSnrDb(tone, decoded, 1, 2 * kWmaFrame), 20.0);
}

TEST_F(WmaWriterTest, RefusesWhatTheEncoderCannotTakeAndLeavesNoFile) {
  WmaWriter w;
  for (AudioFormatRecord f : {MakePcmFormat(96000, 2), MakePcmFormat(44100, 6)}) {
    w.SetSourceFormat(f);
    const std::string out = dir_.File("bad.wma");
    WriteResult r = w.Open(nullptr, out);
    EXPECT_TRUE(r.Failed());
    EXPECT_EQ(r.message, kWmaCodecErrorText);
    EXPECT_FALSE(FileExists(out));
    EXPECT_FALSE(w.IsOpen());
  }
  // Writing without an open file is no success.
  EXPECT_TRUE(w.Write("abcd", 4).Failed());
  EXPECT_TRUE(w.Close().Failed());
}

TEST_F(WmaWriterTest, AMissingEncoderFailsWithTheProgramsMessage) {
  WmaWriter w("no-such-encoder");
  EXPECT_FALSE(w.Available());
  EXPECT_EQ(w.Unavailable(), 1u);
  const std::string out = dir_.File("x.wma");
  EXPECT_EQ(w.Open(nullptr, out).message, kWmaUnavailableText);
  const std::string src = dir_.File("s.wav");
  test::WriteWav(src, test::Tone(1000, 2), CdAudioFormat);
  EXPECT_EQ(w.ConvertFile(src, out, nullptr).message, kWmaUnavailableText);
  EXPECT_FALSE(FileExists(out));
}

TEST_F(WmaWriterTest, CancelledConversionLeavesNothing) {
  WmaWriter w;
  const std::string src = dir_.File("s.wav");
  test::WriteWav(src, test::Tone(44100 * 3, 2), CdAudioFormat);
  int calls = 0;
  w.SetProgress([&](std::uint32_t, std::uint32_t, bool* cancel, int mode) {
    EXPECT_EQ(mode, 0);
    if (++calls == 5 && cancel != nullptr) *cancel = true;
  });
  const std::string out = dir_.File("c.wma");
  EXPECT_TRUE(w.ConvertFile(src, out, nullptr).Cancelled());
  EXPECT_EQ(calls, 5);
  EXPECT_FALSE(FileExists(out));
  EXPECT_FALSE(w.IsOpen());
}

TEST_F(WmaWriterTest, AFullDiskIsAFailureAndLeavesNoFile) {
  const std::string src = dir_.File("s.wav");
  test::WriteWav(src, test::Tone(44100 * 4, 2), CdAudioFormat);
  WmaWriter w;
  w.SetBitrateIndex(8);
  const std::string out = dir_.File("full.wma");
  WriteResult r;
  {
    test::FileSizeLimit limit(20000);
    r = w.ConvertFile(src, out, nullptr);
  }
  ASSERT_TRUE(r.Failed());
  EXPECT_EQ(r.message, WriteFailureText(out, EFBIG));
  EXPECT_FALSE(FileExists(out));
  // Streamed: the failing Write says so, Close repeats it.
  w.SetSourceFormat(CdAudioFormat);
  const auto tone = test::Tone(44100 * 4, 2);
  ASSERT_TRUE(w.Open(nullptr, out));
  WriteResult written;
  {
    test::FileSizeLimit limit(20000);
    for (std::size_t at = 0; at < tone.size() && written; at += 8192)
      written = w.Write(tone.data() + at, std::min<std::size_t>(8192, tone.size() - at) * 2);
  }
  EXPECT_TRUE(written.Failed());
  EXPECT_TRUE(w.Close().Failed());
  EXPECT_FALSE(FileExists(out));
}

TEST_F(WmaWriterTest, RippingThroughTheEncoderSetStreamsWma) {
  SettingsRecord s = WmaDefaults(7);
  ScriptedDialogs dialogs;
  EncoderSet enc(s, dialogs);
  const auto tone = test::Tone(44100, 2);
  const std::string out = dir_.File("track.wma");
  TrackTagRecord tag = Tagged();
  ASSERT_TRUE(enc.Open(&tag, out));
  for (std::size_t at = 0; at < tone.size(); at += 2352 / 2 * 10)
    ASSERT_TRUE(enc.Write(tone.data() + at, std::min<std::size_t>(2352 * 10 / 2, tone.size() - at) * 2));
  ASSERT_TRUE(enc.Close());
  const std::string probe = Probe(out);
  EXPECT_EQ(test::ProbeValue(probe, "bit_rate"), "160000");
  EXPECT_EQ(test::ProbeValue(probe, "TAG:artist"), "Кино");
  EXPECT_GT(test::BestSnrDb(tone, test::DecodeWithFfmpeg(out), 2, 2 * kWmaFrame), 20.0);
}

}  // namespace
}  // namespace sonarvex
