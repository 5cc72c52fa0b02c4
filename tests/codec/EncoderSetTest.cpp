#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "codec/CompressionRatio.h"
#include "codec/EncoderSet.h"
#include "codec/FfmpegMp3Driver.h"
#include "codec/SampleOps.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"
#include "tests/codec/CodecTestUtil.h"

namespace sonarvex {
namespace {

SettingsRecord Defaults() {
  SettingsRecord s{};
  ApplyFirstStartDefaults(s, "/tmp/");
  return s;
}

int PeakOf(const std::vector<std::int16_t>& s) {
  int p = 0;
  for (auto v : s) p = std::max(p, std::abs(static_cast<int>(v)));
  return p;
}

TEST(EncoderSetTest, WavKindOnlySetsTheOpenFlag) {
  test::TempDir dir;
  SettingsRecord s = Defaults();
  s.OutputKind = 0;
  ScriptedDialogs dialogs;
  EncoderSet enc(s, dialogs);
  const std::string out = dir.File("x.out");
  test::WriteAll(out, {1, 2, 3});
  enc.Open(nullptr, out);
  EXPECT_TRUE(enc.IsOpen());
  EXPECT_FALSE(FileExists(out)) << "an existing file of that name is deleted";
  enc.Write("abcd", 4);
  enc.Close();
  EXPECT_FALSE(enc.IsOpen());
  EXPECT_FALSE(FileExists(out));
  // WMA through the FFmpeg encoder: a file, and nothing is said.
  s.OutputKind = 2;
  ASSERT_TRUE(enc.Wma().Available());
  ASSERT_TRUE(enc.Open(nullptr, out));
  auto tone = test::Tone(4410, 2);
  EXPECT_TRUE(enc.Write(tone.data(), tone.size() * 2));
  EXPECT_TRUE(enc.Close());
  EXPECT_TRUE(FileExists(out));
  EXPECT_TRUE(dialogs.Clean());
}

TEST(EncoderSetTest, SecondOpenLeavesTheFirstFileAlone) {
  test::TempDir dir;
  SettingsRecord s = Defaults();
  ScriptedDialogs dialogs;
  EncoderSet enc(s, dialogs);
  auto tone = test::Tone(11026, 2);
  const std::string first = dir.File("first.mp3");
  const std::string second = dir.File("second.mp3");
  test::WriteAll(second, {9, 9, 9});
  enc.Open(nullptr, first);
  enc.Write(tone.data(), tone.size());
  enc.Open(nullptr, second);  // ignored
  // Settings changed while writing do not switch the writer under the file.
  s.OutputKind = 3;
  enc.Write(tone.data() + tone.size() / 2, tone.size());
  enc.Close();
  EXPECT_EQ(test::ReadAll(second), (std::vector<std::uint8_t>{9, 9, 9}));
  EXPECT_EQ(test::DecodeWithFfmpeg(first).size(), tone.size());
  EXPECT_TRUE(dialogs.Clean());
}

TEST(EncoderSetTest, NormalisationScalesTheConvertedFile) {
  test::TempDir dir;
  const std::string src = dir.File("quiet.wav");
  auto tone = test::Tone(44100 / 2, 2, 44100, 12000.0);
  test::WriteWav(src, tone, CdAudioFormat);
  std::int16_t peak = 0;
  FindPeak(tone.data(), tone.size() * 2, peak);
  for (int kind : {1, 3}) {
    SettingsRecord s = Defaults();
    s.OutputKind = static_cast<std::uint8_t>(kind);
    ScriptedDialogs dialogs;
    EncoderSet enc(s, dialogs);
    enc.SetPeak(peak);
    const std::string plain = dir.File("plain" + std::to_string(kind));
    enc.ConvertFile(src, plain, nullptr);
    s.NormalizeEnabled = 1;
    const std::string loud = dir.File("loud" + std::to_string(kind));
    enc.ConvertFile(src, loud, nullptr);
    const int p1 = PeakOf(test::DecodeWithFfmpeg(plain));
    const int p2 = PeakOf(test::DecodeWithFfmpeg(loud));
    EXPECT_NEAR(p1, 12000, 600) << kind;
    EXPECT_NEAR(p2, 29490, 1200) << kind;  // 90 % of full scale
  }
}

TEST(AcmMp3WriterTest, FormatsReachableFromCdAudio) {
  ScriptedDialogs dialogs;
  AcmMp3Writer acm(dialogs, InstalledMp3Drivers());
  ASSERT_TRUE(acm.CodecFound());
  EXPECT_NE(acm.CodecName().find("MPEG Layer-3"), std::string::npos);
  const auto& d = acm.FormatDescriptions();
  ASSERT_EQ(d.size(), acm.FormatCount());
  ASSERT_GE(d.size(), 60u);
  EXPECT_LE(d.size(), 150u);
  EXPECT_EQ(d[0], "320 kBit/s, 44100 Hz, Stereo");
  EXPECT_NE(std::find(d.begin(), d.end(), "128 kBit/s, 44100 Hz, Stereo"), d.end());
  EXPECT_NE(std::find(d.begin(), d.end(), "64 kBit/s, 22050 Hz, Mono"), d.end());
  const AudioFormatRecord* f = acm.FormatAt(0);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->FormatTag, kFormatMpegLayer3);
  EXPECT_EQ(f->AvgBytesPerSec, 40000u);
  EXPECT_EQ(acm.FormatAt(d.size()), nullptr);
}

// A driver offering more formats than the table holds.
class ManyFormatsDriver : public AcmMp3Driver {
 public:
  std::string LongName() const override { return "Many"; }
  std::vector<Mp3FormatDetails> Formats() override {
    std::vector<Mp3FormatDetails> v;
    for (int i = 0; i < 200; ++i)
      v.push_back({MakeMp3Format(8 + i, 44100, 2), "format " + std::to_string(i)});
    return v;
  }
  bool CanConvert(const AudioFormatRecord&, const Mp3FormatBytes& f) override {
    return Mp3FormatHeader(f).AvgBytesPerSec != 9 * 125;  // one format is unreachable
  }
  std::unique_ptr<AcmEncodeStream> OpenStream(const AudioFormatRecord&,
                                              const Mp3FormatBytes&) override {
    return nullptr;
  }
};
class NoMp3Driver : public ManyFormatsDriver {
 public:
  std::vector<Mp3FormatDetails> Formats() override { return {}; }
};

TEST(AcmMp3WriterTest, OnlyTheFirstDriverWithMp3AndAtMost150Formats) {
  std::vector<std::unique_ptr<AcmMp3Driver>> drivers;
  drivers.push_back(std::make_unique<NoMp3Driver>());
  drivers.push_back(std::make_unique<ManyFormatsDriver>());
  drivers.push_back(std::make_unique<FfmpegMp3Driver>());
  ScriptedDialogs dialogs;
  AcmMp3Writer acm(dialogs, std::move(drivers));
  EXPECT_EQ(acm.CodecName(), "Many");
  ASSERT_EQ(acm.FormatCount(), 150u);
  EXPECT_EQ(acm.FormatDescriptions()[0], "format 0");
  EXPECT_EQ(acm.FormatDescriptions()[1], "format 2");
  EXPECT_EQ(acm.FormatDescriptions()[149], "format 150");
  test::TempDir dir;
  acm.Configure(0);
  EXPECT_TRUE(acm.Open(nullptr, dir.File("x.mp3")).Failed()) << "stream refused";
  EXPECT_FALSE(FileExists(dir.File("x.mp3")));
  acm.Abort();

  AcmMp3Writer none(dialogs, {});
  EXPECT_FALSE(none.CodecFound());
  EXPECT_EQ(none.FormatCount(), 0u);
}

TEST(AcmMp3WriterTest, ConvertsThroughTheChosenFormat) {
  test::TempDir dir;
  const std::string src = dir.File("s.wav");
  auto tone = test::Tone(44100, 2);
  test::WriteWav(src, tone, CdAudioFormat);
  SettingsRecord s = Defaults();
  s.UseLame = 0;
  ScriptedDialogs dialogs;
  EncoderSet enc(s, dialogs);
  const auto& d = enc.Acm().FormatDescriptions();
  for (const char* want : {"128 kBit/s, 44100 Hz, Stereo", "64 kBit/s, 22050 Hz, Mono"}) {
    auto it = std::find(d.begin(), d.end(), want);
    ASSERT_NE(it, d.end());
    s.AcmFormatIndex = static_cast<std::uint16_t>(it - d.begin());
    const std::string out = dir.File("acm.mp3");
    TrackTagRecord tag{};
    tag.TagsOn = 1;
    enc.ConvertFile(src, out, &tag);
    auto bytes = test::ReadAll(out);
    EXPECT_EQ(test::Id3v2Size(bytes), 147u);
    test::Mp3Frame f;
    ASSERT_TRUE(test::FindMp3Frame(bytes, 147, &f));
    EXPECT_EQ(f.offset, 147u);
    const AudioFormatRecord* fmt = enc.Acm().FormatAt(s.AcmFormatIndex);
    EXPECT_EQ(f.bitrateKbps * 125, static_cast<int>(fmt->AvgBytesPerSec)) << want;
    EXPECT_EQ(f.sampleRate, static_cast<int>(fmt->SampleRate));
    EXPECT_EQ(f.mode == 3 ? 1 : 2, fmt->Channels);
    // One second of audio, give or take the codec's delay and last frame.
    const double seconds =
        static_cast<double>(test::DecodeWithFfmpeg(out, "-ar 44100 -ac 2").size()) / 88200.0;
    EXPECT_NEAR(seconds, 1.0, 0.08) << want;
  }
  // Source unavailable: message, no output.
  dialogs.ExpectMessage("Исходный файл недоступен.", "Sonarvex v3.2", MsgIcon::Warning,
                        MsgButtons::Ok);
  enc.ConvertFile(dir.File("missing.wav"), dir.File("none.mp3"), nullptr);
  EXPECT_FALSE(FileExists(dir.File("none.mp3")));
  EXPECT_TRUE(dialogs.Clean());
}

TEST(CompressionRatioTest, LameAndAcm) {
  LameSettings l = Defaults().Lame;  // 224 kbit/s
  EXPECT_DOUBLE_EQ(LameCompressionRatio(l), 176400.0 / 28000.0);
  l.Mode = 3;
  EXPECT_DOUBLE_EQ(LameCompressionRatio(l), 176400.0 / 28000.0);
  l.VbrEnabled = 1;  // the maximum bitrate counts
  EXPECT_DOUBLE_EQ(LameCompressionRatio(l), 176400.0 / 40000.0);
  l.VbrEnabled = 0;
  l.BitrateIndex = 0;
  EXPECT_TRUE(std::isinf(LameCompressionRatio(l)));

  AudioFormatRecord f = Mp3FormatHeader(MakeMp3Format(128, 44100, 2));
  EXPECT_DOUBLE_EQ(AcmCompressionRatio(f), 11.025);
  f = Mp3FormatHeader(MakeMp3Format(64, 22050, 1));
  EXPECT_DOUBLE_EQ(AcmCompressionRatio(f), 22.05);

  SettingsRecord s = Defaults();
  ScriptedDialogs dialogs;
  AcmMp3Writer acm(dialogs, InstalledMp3Drivers());
  EXPECT_DOUBLE_EQ(ExpectedCompressionRatio(s, acm), 176400.0 / 28000.0);
  s.UseLame = 0;
  s.AcmFormatIndex = 0;  // 320 kbit/s
  EXPECT_DOUBLE_EQ(ExpectedCompressionRatio(s, acm), 176400.0 / 40000.0);
  s.AcmFormatIndex = 5000;
  EXPECT_TRUE(std::isinf(ExpectedCompressionRatio(s, acm)));
}

}  // namespace
}  // namespace sonarvex
