#include <gtest/gtest.h>

#include <cstring>

#include "codec/EncoderSet.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"
#include "tests/codec/CodecTestUtil.h"

namespace sonarvex {
namespace {

SettingsRecord OggDefaults() {
  SettingsRecord s{};
  ApplyFirstStartDefaults(s, "/tmp/");
  s.OutputKind = 3;
  return s;
}

// Decoded length in samples by the reference decoder (ffmpeg's Vorbis decoder
// does not honour the granule position of the first page exactly).
std::size_t OggDecSamples(const std::string& path) {
  return test::Run("oggdec -Q -R -o - " + test::Quote(path)).size() / 2;
}

class VorbisTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stereo_ = dir_.File("stereo.wav");
    tone_ = test::Tone(44100 / 2, 2);
    test::WriteWav(stereo_, tone_, CdAudioFormat);
  }
  std::string OggInfo(const std::string& path, int* rc) {
    return test::Run("ogginfo " + test::Quote(path) + " 2>&1", rc);
  }
  test::TempDir dir_;
  std::string stereo_;
  std::vector<std::int16_t> tone_;
};

TEST(VorbisQualityTest, QualityIsClamped) {
  EXPECT_FLOAT_EQ(VorbisWriter::EncoderQuality(-200), -0.1f);
  EXPECT_FLOAT_EQ(VorbisWriter::EncoderQuality(1000), 1.0f);
  EXPECT_FLOAT_EQ(VorbisWriter::EncoderQuality(5000), 1.0f);
  EXPECT_FLOAT_EQ(VorbisWriter::EncoderQuality(900), 0.9f);
  EXPECT_EQ(OggBitrateFor(4), 128);
  EXPECT_EQ(OggBitrateFor(0), 350);
  EXPECT_EQ(OggBitrateFor(10), 32);
  EXPECT_EQ(OggBitrateFor(99), 32);
}

TEST_F(VorbisTest, ManagedBitratesReachTheIdentificationHeader) {
  SettingsRecord s = OggDefaults();
  s.OggUseQuality = 0;
  s.OggNominalBitrateIndex = 4;
  s.OggMaxBitrateIndex = 0;
  s.OggMinBitrateIndex = 10;
  ScriptedDialogs dialogs;
  EncoderSet enc(s, dialogs);
  TrackTagRecord t{};
  t.TagsOn = 1;
  SetFieldUtf8(t.Title, "Песня");
  SetFieldUtf8(t.Artist, "Artist");
  std::strcpy(t.TrackNumber, "3");
  std::strcpy(t.Year, "2001");
  SetFieldUtf8(t.Comment, "Ёж");
  std::strcpy(t.Composer, "unmapped");
  const std::string out = dir_.File("managed.ogg");
  enc.ConvertFile(stereo_, out, &t);
  int rc = -1;
  const std::string info = OggInfo(out, &rc);
  EXPECT_EQ(rc, 0) << info;
  EXPECT_NE(info.find("Nominal bitrate: 128.000000 kb/s"), std::string::npos) << info;
  EXPECT_NE(info.find("Upper bitrate: 350.000000 kb/s"), std::string::npos) << info;
  EXPECT_NE(info.find("Lower bitrate: 32.000000 kb/s"), std::string::npos) << info;
  const std::string comments = test::Run("vorbiscomment -l " + test::Quote(out));
  EXPECT_EQ(comments, "COMMENT=Ёж\nTRACKNUMBER=3\nDATE=2001\nTITLE=Песня\nARTIST=Artist\n");
  EXPECT_EQ(OggDecSamples(out), tone_.size());
  EXPECT_TRUE(dialogs.Clean());
}

TEST_F(VorbisTest, QualityModeMonoAndEmptyComments) {
  SettingsRecord s = OggDefaults();
  s.OggUseQuality = 1;
  s.OggQuality = 900;
  ScriptedDialogs dialogs;
  EncoderSet enc(s, dialogs);
  const std::string out = dir_.File("q9.ogg");
  enc.ConvertFile(stereo_, out, nullptr);
  int rc = -1;
  std::string info = OggInfo(out, &rc);
  EXPECT_EQ(rc, 0) << info;
  // Quality 0.9 at 44.1 kHz stereo is nominally 256 kb/s or more; 0.4 would be ~128.
  const auto at = info.find("Nominal bitrate: ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_GT(std::stod(info.substr(at + 17)), 200.0) << info;

  const std::string monoSrc = dir_.File("mono.wav");
  auto mono = test::Tone(11025, 1, 22050);
  test::WriteWav(monoSrc, mono, MakePcmFormat(22050, 1));
  TrackTagRecord empty{};
  empty.TagsOn = 1;
  const std::string out2 = dir_.File("mono.ogg");
  enc.ConvertFile(monoSrc, out2, &empty);
  EXPECT_EQ(enc.Vorbis().BlockSize(), 1024u);
  info = OggInfo(out2, &rc);
  EXPECT_EQ(rc, 0) << info;
  EXPECT_NE(info.find("Channels: 1"), std::string::npos);
  EXPECT_NE(info.find("Rate: 22050"), std::string::npos);
  EXPECT_EQ(test::Run("vorbiscomment -l " + test::Quote(out2)), "");
  EXPECT_EQ(OggDecSamples(out2), mono.size());
}

TEST_F(VorbisTest, StreamedWritesAndCancelDeletesOutput) {
  SettingsRecord s = OggDefaults();
  ScriptedDialogs dialogs;
  EncoderSet enc(s, dialogs);
  const std::string out = dir_.File("stream.ogg");
  enc.Open(nullptr, out);
  enc.Write(tone_.data(), 0);  // an empty write does not end the stream
  for (std::size_t at = 0; at + 1176 <= tone_.size(); at += 1176) enc.Write(&tone_[at], 2352);
  enc.Close();
  int rc = -1;
  std::string info = OggInfo(out, &rc);
  EXPECT_EQ(rc, 0) << info;
  EXPECT_EQ(OggDecSamples(out), tone_.size() / 1176 * 1176);

  int calls = 0;
  enc.SetProgressCallback([&](std::uint32_t done, std::uint32_t total, bool* cancel, int mode) {
    EXPECT_EQ(mode, 0);
    EXPECT_EQ(done, static_cast<std::uint32_t>(calls) * 2048u);
    EXPECT_EQ(total, tone_.size() * 2);
    if (++calls == 3) *cancel = true;
  });
  const std::string cancelled = dir_.File("cancelled.ogg");
  enc.ConvertFile(stereo_, cancelled, nullptr);
  EXPECT_EQ(calls, 3);
  EXPECT_FALSE(FileExists(cancelled));
  EXPECT_TRUE(dialogs.Clean());
}

TEST_F(VorbisTest, DataChunkClaimingMoreThanTheFileEndsAtTheEnd) {
  auto bytes = test::ReadAll(stereo_);
  const std::uint32_t claimed = 0x7FFFFFF0;
  std::memcpy(bytes.data() + 44, &claimed, 4);
  const std::string lying = dir_.File("lying.wav");
  test::WriteAll(lying, bytes);
  SettingsRecord s = OggDefaults();
  ScriptedDialogs dialogs;
  EncoderSet enc(s, dialogs);
  const std::string out = dir_.File("lying.ogg");
  enc.ConvertFile(lying, out, nullptr);  // returns instead of reading forever
  int rc = -1;
  OggInfo(out, &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(OggDecSamples(out), tone_.size());
}

TEST(VorbisLibraryTest, MissingLibraryIsQuiet) {
  test::TempDir dir;
  const std::string src = dir.File("s.wav");
  test::WriteWav(src, test::Tone(4000, 2), CdAudioFormat);
  SettingsRecord s = OggDefaults();
  ScriptedDialogs dialogs;  // expects no message at all
  CodecLibraryNames names;
  names.VorbisEnc = "libsonarvex-no-such-vorbisenc.so.2";
  EncoderSet enc(s, dialogs, names);
  EXPECT_FALSE(enc.Vorbis().Available());
  EXPECT_TRUE(enc.Lame().Available());
  enc.ConvertFile(src, dir.File("x.ogg"), nullptr);
  EXPECT_FALSE(FileExists(dir.File("x.ogg")));
  s.OutputKind = 1;
  enc.ConvertFile(src, dir.File("x.mp3"), nullptr);
  EXPECT_TRUE(FileExists(dir.File("x.mp3")));
  EXPECT_TRUE(dialogs.Clean());
}

}  // namespace
}  // namespace sonarvex
