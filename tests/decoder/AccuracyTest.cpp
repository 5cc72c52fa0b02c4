// Accuracy of the decoder against FFmpeg's float decoder, converted to 16 bits
// with the same truncation: the ISO/IEC 11172-4 limited-accuracy RMS bound and
// at least 99.9 % of the samples within 1 LSB, on aligned samples.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "DecoderTestUtil.h"
#include "PcmCompare.h"

namespace kelpra_test {
namespace {

const double kLimitedAccuracyLsb = 16.0 / std::sqrt(12.0);  // 2^-11 / sqrt(12) of full scale

void ExpectMatchesFfmpeg(const std::string& stream, const TempDir& tmp) {
  SCOPED_TRACE(stream);
  const Decoded d = DecodeToWav(stream, tmp / "out.wav");
  ASSERT_EQ(d.status, 0);
  ASSERT_GT(d.pcm.size(), 0u);
  const int channels = d.options.waveFormat.channels;
  ASSERT_TRUE(channels == 1 || channels == 2);
  const std::vector<int16_t> ref = FfmpegReference(stream, tmp / "ref.f32");
  ASSERT_GT(ref.size(), 0u) << "ffmpeg failed";
  const PcmComparison c = ComparePcm(d.pcm, ref, channels, 3000);
  // Most of our output is compared (the walk leaves out only the last frames).
  EXPECT_GT(c.compared, d.pcm.size() * 3 / 4);
  EXPECT_LT(c.rmsLsb, kLimitedAccuracyLsb);
  EXPECT_GE(c.within1, 0.999) << "offset " << c.offset << ", max " << c.maxDiff;
}

class ComplianceStreams : public ::testing::TestWithParam<const char*> {};

TEST_P(ComplianceStreams, MatchFfmpeg) {
  const std::string shared = SharedDir();
  if (shared.empty()) GTEST_SKIP() << "shared reference folder absent";
  if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  TempDir tmp;
  ExpectMatchesFfmpeg(shared + "/mpeg-audio/vectors/" + GetParam() + ".bit", tmp);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, ComplianceStreams,
    ::testing::Values("l1-fl1", "l1-fl2", "l1-fl3", "l1-fl4", "l1-fl5", "l1-fl6", "l1-fl7",
                      "l2-fl10", "l2-fl11", "l2-fl12", "l2-fl13", "l2-fl14", "l2-fl15",
                      "l2-test32", "l3-compl", "l3-he_32khz", "l3-he_44khz", "l3-he_48khz",
                      "l3-he_mode", "l3-hecommon", "l3-si", "l3-si_block", "l3-si_huff",
                      "l3-sin1k0db", "M2L3_bitrate_16_all", "M2L3_bitrate_22_all",
                      "M2L3_bitrate_24_all", "M2L3_compl24",
                      "l3-nonstandard-sin1k0db_lame_vbrtag"),
    [](const auto& info) {
      std::string n = info.param;
      for (char& c : n)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      return n;
    });

struct EncodedCase {
  const char* name;
  const char* encoder;  // lame or twolame
  int rate;             // of the source WAV
  int channels;
  const char* args;
};

class EncodedStreams : public ::testing::TestWithParam<EncodedCase> {};

TEST_P(EncodedStreams, MatchFfmpeg) {
  const EncodedCase& c = GetParam();
  if (!HaveProgram(c.encoder) || !HaveProgram("ffmpeg")) GTEST_SKIP() << "encoder or ffmpeg missing";
  TempDir tmp;
  WriteTestWav(tmp / "src.wav", c.rate, c.channels, 2.5);
  const std::string stream = tmp / "stream.mp3";
  ASSERT_EQ(RunCommand(std::string(c.encoder) + " --quiet " + c.args + " '" + (tmp / "src.wav") +
                       "' '" + stream + "' >/dev/null 2>&1"),
            0);
  ExpectMatchesFfmpeg(stream, tmp);
}

INSTANTIATE_TEST_SUITE_P(
    Encoders, EncodedStreams,
    ::testing::Values(
        EncodedCase{"Mpeg1Cbr128Joint", "lame", 44100, 2, "-b 128"},
        EncodedCase{"Mpeg1Vbr48kStereo", "lame", 48000, 2, "-V 2 -m s"},
        EncodedCase{"Mpeg1Cbr96Mono32k", "lame", 32000, 1, "-b 96 -m m"},
        EncodedCase{"Mpeg1Cbr112Dual", "lame", 44100, 2, "-b 112 -m d"},
        EncodedCase{"Mpeg1Cbr320Id3v2v1", "lame", 44100, 2,
                    "-b 320 --add-id3v2 --tt Title --ta Artist --pad-id3v2"},
        EncodedCase{"Mpeg2Cbr64_22k", "lame", 22050, 2, "-b 64"},
        EncodedCase{"Mpeg2Vbr24k", "lame", 24000, 2, "-V 5"},
        EncodedCase{"Mpeg2Cbr32Mono16k", "lame", 16000, 1, "-b 32 -m m"},
        EncodedCase{"Mpeg25Cbr24_11k", "lame", 11025, 2, "-b 24"},
        EncodedCase{"Mpeg25Vbr12k", "lame", 12000, 2, "-V 6"},
        EncodedCase{"Mpeg25Cbr16Mono8k", "lame", 8000, 1, "-b 16 -m m --id3v1-only --tt T"},
        EncodedCase{"Layer2Stereo192", "twolame", 44100, 2, "-b 192 -m s"},
        EncodedCase{"Layer2Joint128", "twolame", 48000, 2, "-b 128 -m j"},
        EncodedCase{"Layer2Mono64", "twolame", 32000, 1, "-b 64 -m m"},
        EncodedCase{"Layer2Dual96", "twolame", 44100, 2, "-b 96 -m d"},
        EncodedCase{"Layer2Lsf24k", "twolame", 24000, 2, "-b 64"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kelpra_test
