#include <gtest/gtest.h>

#include <cstring>

#include "codec/SampleOps.h"
#include "codec/WavFile.h"
#include "tests/codec/CodecTestUtil.h"

namespace sonarvex {
namespace {

std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

TEST(WavFileTest, EmptyFileIs48BytesWithRiffSize40) {
  test::TempDir dir;
  const std::string path = dir.File("empty.wav");
  int h = CreateWavFile(path, CdAudioFormat);
  ASSERT_NE(h, kInvalidWavHandle);
  FinishWavFile(h, 0, CdAudioFormat);
  auto bytes = test::ReadAll(path);
  ASSERT_EQ(bytes.size(), 48u);
  EXPECT_EQ(std::memcmp(bytes.data(), "RIFF", 4), 0);
  EXPECT_EQ(Le32(bytes, 4), 40u);
  EXPECT_EQ(std::memcmp(bytes.data() + 8, "WAVEfmt ", 8), 0);
  EXPECT_EQ(Le32(bytes, 16), 20u);
  EXPECT_EQ(std::memcmp(bytes.data() + 20, &CdAudioFormat, 20), 0);
  EXPECT_EQ(std::memcmp(bytes.data() + 40, "data", 4), 0);
  EXPECT_EQ(Le32(bytes, 44), 0u);
}

TEST(WavFileTest, DataIsPatchedAndReadableByFfprobe) {
  test::TempDir dir;
  const std::string path = dir.File("tone.wav");
  auto tone = test::Tone(4410, 2);
  test::WriteWav(path, tone, CdAudioFormat);
  auto bytes = test::ReadAll(path);
  ASSERT_EQ(bytes.size(), 48u + tone.size() * 2);
  EXPECT_EQ(Le32(bytes, 44), tone.size() * 2);
  EXPECT_EQ(Le32(bytes, 4), tone.size() * 2 + 40);
  auto decoded = test::DecodeWithFfmpeg(path);
  EXPECT_EQ(decoded, tone);
}

TEST(WavFileTest, CreateFailsInMissingFolder) {
  EXPECT_EQ(CreateWavFile("/nonexistent-folder/x.wav", CdAudioFormat), kInvalidWavHandle);
}

TEST(NormalizeTest, GainFiguresWithDefaultThresholds) {
  auto gain = [](int peak) {
    return ComputeNormalizeGain(static_cast<std::int16_t>(peak), 90, 98, 90, 98);
  };
  EXPECT_NEAR(gain(16384), 1.80, 0.005);
  EXPECT_EQ(gain(30000), 1.0);  // exactly, between the thresholds
  EXPECT_NEAR(gain(32767), 0.98, 0.0005);
  EXPECT_LT(gain(29491), 1.0);
  EXPECT_NEAR(gain(29491), 0.99994, 0.00002);
  // A silent track keeps its samples.
  EXPECT_EQ(gain(0), 1.0);
}

TEST(NormalizeTest, ApplyGainRoundsAndLeavesUnityAlone) {
  std::vector<std::int16_t> s = {1000, -1000, 3, -3, 32767, -32768};
  auto copy = s;
  ApplyGain(copy.data(), copy.size() * 2, 1.0);
  EXPECT_EQ(copy, s);
  ApplyGain(copy.data(), copy.size() * 2, 0.0);
  EXPECT_EQ(copy, s);
  std::vector<std::int16_t> t = {1000, -1000, 3, -3};
  ApplyGain(t.data(), t.size() * 2, 1.5);
  // trunc(1.5 * x + 0.5): 1500, trunc(-1499.5) = -1499, trunc(5.0) = 5, trunc(-4.0) = -4
  EXPECT_EQ(t, (std::vector<std::int16_t>{1500, -1499, 5, -4}));
  std::vector<std::int16_t> loud = {30000, -30000};
  ApplyGain(loud.data(), 4, 2.0);  // never wraps around
  EXPECT_EQ(loud, (std::vector<std::int16_t>{32767, -32768}));
}

TEST(SampleOpsTest, PeakAndDownmix) {
  std::vector<std::int16_t> s = {100, -200, 5, -32768};
  std::int16_t peak = 150;
  FindPeak(s.data(), s.size() * 2, peak);
  EXPECT_EQ(peak, 32767);
  peak = 0;
  FindPeak(s.data(), 4, peak);
  EXPECT_EQ(peak, 200);

  std::vector<std::int16_t> frames(2352 * 2);
  for (std::size_t i = 0; i < 2352; ++i) {
    frames[2 * i] = static_cast<std::int16_t>(i % 2 ? -3 : 32767);
    frames[2 * i + 1] = static_cast<std::int16_t>(i % 2 ? -5 : 32767);
  }
  EXPECT_EQ(DownmixToMono(frames.data(), 9408), 4704u);
  EXPECT_EQ(frames[0], 32766);  // 16383 + 16383
  EXPECT_EQ(frames[1], -3);     // trunc(-1.5) + trunc(-2.5) = -1 + -2
  EXPECT_EQ(frames[2351], -3);
}

}  // namespace
}  // namespace sonarvex
