// Joint stereo of Layer III: the scale-factor layout of the lower sampling
// frequencies (with the intensity-coded right channel), the intensity factors,
// and where mid/side and intensity stereo apply in long, short and mixed
// blocks. Whole-stream behaviour is checked against FFmpeg by the accuracy
// tests (l3-test46); these pin each rule down on its own.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "JointStereo.h"
#include "Tables.h"

namespace kelpra {
namespace {

void ExpectLayout(const LsfScaleFactorLayout& got, int s0, int s1, int s2, int s3, int table,
                  int preflag, int intensityScale) {
  EXPECT_EQ(got.slen[0], s0);
  EXPECT_EQ(got.slen[1], s1);
  EXPECT_EQ(got.slen[2], s2);
  EXPECT_EQ(got.slen[3], s3);
  EXPECT_EQ(got.table, table);
  EXPECT_EQ(got.preflag, preflag);
  EXPECT_EQ(got.intensityScale, intensityScale);
}

TEST(LsfLayoutTest, OrdinaryChannelsUseTheThreeNormalRows) {
  // 345 = 21 * 16 + 9: 21 = 4 * 5 + 1, 9 = 2 * 4 + 1.
  ExpectLayout(LsfLayout(345, false), 4, 1, 2, 1, 0, 0, 0);
  // 457 - 400 = 57 = 14 * 4 + 1: 14 = 2 * 5 + 4.
  ExpectLayout(LsfLayout(457, false), 2, 4, 1, 0, 1, 0, 0);
  // From 500 on: two partitions and pre-emphasis.
  ExpectLayout(LsfLayout(511, false), 3, 2, 0, 0, 2, 1, 0);
}

TEST(LsfLayoutTest, IntensityRightChannelHalvesTheFieldAndKeepsItsLowestBitAsScale) {
  // 250 / 2 = 125 = 3 * 36 + 17, 17 = 2 * 6 + 5: lengths 3, 2, 5.
  ExpectLayout(LsfLayout(250, true), 3, 2, 5, 0, 3, 0, 0);
  ExpectLayout(LsfLayout(251, true), 3, 2, 5, 0, 3, 0, 1);
  // 401 / 2 = 200, 200 - 180 = 20 = 1 * 16 + 1 * 4 + 0.
  ExpectLayout(LsfLayout(401, true), 1, 1, 0, 0, 4, 0, 1);
  // 500 / 2 = 250, 250 - 244 = 6 = 2 * 3 + 0.
  ExpectLayout(LsfLayout(500, true), 2, 0, 0, 0, 5, 0, 0);
  // The right channel of an intensity frame never has pre-emphasis, even
  // where the same value would give it to an ordinary channel.
  EXPECT_EQ(LsfLayout(510, false).preflag, 1);
  EXPECT_EQ(LsfLayout(510, true).preflag, 0);
}

TEST(IntensityFactorsTest, LowerSamplingFrequencyPositions) {
  float kl = -1, kr = -1;
  ASSERT_TRUE(LsfIntensityFactors(0, 0, kl, kr));
  EXPECT_FLOAT_EQ(kl, 1.0f);
  EXPECT_FLOAT_EQ(kr, 1.0f);
  // Odd positions attenuate the left channel, even ones the right.
  ASSERT_TRUE(LsfIntensityFactors(1, 0, kl, kr));
  EXPECT_FLOAT_EQ(kl, float(std::pow(2.0, -0.25)));
  EXPECT_FLOAT_EQ(kr, 1.0f);
  ASSERT_TRUE(LsfIntensityFactors(6, 0, kl, kr));
  EXPECT_FLOAT_EQ(kl, 1.0f);
  EXPECT_FLOAT_EQ(kr, float(std::pow(2.0, -0.75)));
  // Intensity scale 1 steps by 2^-1/2.
  ASSERT_TRUE(LsfIntensityFactors(15, 1, kl, kr));
  EXPECT_FLOAT_EQ(kl, float(std::pow(2.0, -4.0)));
  EXPECT_FLOAT_EQ(kr, 1.0f);
  ASSERT_TRUE(LsfIntensityFactors(6, 1, kl, kr));
  EXPECT_FLOAT_EQ(kr, float(std::pow(2.0, -1.5)));
  // Positions 16 and above (5-bit fields) have no factors.
  EXPECT_FALSE(LsfIntensityFactors(16, 0, kl, kr));
  EXPECT_FALSE(LsfIntensityFactors(31, 1, kl, kr));
}

TEST(IntensityFactorsTest, Mpeg1Positions) {
  float kl, kr;
  ASSERT_TRUE(Mpeg1IntensityFactors(0, kl, kr));
  EXPECT_FLOAT_EQ(kl, 0.0f);
  EXPECT_FLOAT_EQ(kr, 1.0f);
  ASSERT_TRUE(Mpeg1IntensityFactors(3, kl, kr));
  EXPECT_FLOAT_EQ(kl, 0.5f);
  EXPECT_FLOAT_EQ(kr, 0.5f);
  ASSERT_TRUE(Mpeg1IntensityFactors(6, kl, kr));
  EXPECT_FLOAT_EQ(kl, 1.0f);
  EXPECT_FLOAT_EQ(kr, 0.0f);
  EXPECT_FALSE(Mpeg1IntensityFactors(7, kl, kr));
  EXPECT_FALSE(Mpeg1IntensityFactors(15, kl, kr));
}

// A granule pair: the left channel holds 1 + line / 1000 on every line, the
// right channel 0.5 on the lines it is given.
class JointStereoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 576; ++i) l_[i] = 1.0f + float(i) / 1000.0f;
    std::memset(r_, 0, sizeof r_);
    std::memset(&sf_, 0, sizeof sf_);
  }
  void RightData(int from, int to) {
    for (int i = from; i < to; ++i) r_[i] = 0.5f;
  }
  void Run(const JointStereoGranule& g) {
    for (int i = 0; i < 576; ++i) l0_[i] = l_[i], r0_[i] = r_[i];
    int nz[2] = {576, 576};
    ApplyJointStereo(g, sf_, l_, r_, nz);
  }
  // Line i came out as intensity stereo with the given factors.
  void ExpectIntensity(int i, float kl, float kr) {
    ASSERT_FLOAT_EQ(l_[i], l0_[i] * kl) << "line " << i;
    ASSERT_FLOAT_EQ(r_[i], l0_[i] * kr) << "line " << i;
  }
  void ExpectMidSide(int i) {
    const float inv = float(1.0 / std::sqrt(2.0));
    ASSERT_FLOAT_EQ(l_[i], (l0_[i] + r0_[i]) * inv) << "line " << i;
    ASSERT_FLOAT_EQ(r_[i], (l0_[i] - r0_[i]) * inv) << "line " << i;
  }
  void ExpectUnchanged(int i) {
    ASSERT_EQ(l_[i], l0_[i]) << "line " << i;
    ASSERT_EQ(r_[i], r0_[i]) << "line " << i;
  }
  static float Kl(int pos, int scale = 0) {
    float kl, kr;
    EXPECT_TRUE(LsfIntensityFactors(pos, scale, kl, kr));
    return kl;
  }
  static float Kr(int pos, int scale = 0) {
    float kl, kr;
    EXPECT_TRUE(LsfIntensityFactors(pos, scale, kl, kr));
    return kr;
  }
  static JointStereoGranule Lsf(bool midSide, int blockType = 0, int mixed = 0) {
    JointStereoGranule g;
    g.midSide = midSide;
    g.intensity = true;
    g.lsf = true;
    g.bands = &kBandTables[3];  // 22050 Hz
    g.blockType = blockType;
    g.mixed = mixed;
    return g;
  }
  const BandTable& bt_ = kBandTables[3];
  float l_[576], r_[576], l0_[576], r0_[576];
  ScaleFactors sf_;
};

TEST_F(JointStereoTest, LongBlocksIntensityStartsAboveTheRightChannelsLastNonZeroBand) {
  // Right data up to line 100, inside band 11 (96..116): bands 12.. are intensity.
  RightData(0, 101);
  for (int b = 0; b < 21; ++b) sf_.l[b] = b % 16;
  sf_.l[20] = 5;
  Run(Lsf(true));
  for (int i = 0; i < bt_.longBands[12]; ++i) ExpectMidSide(i);
  for (int b = 12; b < 21; ++b) {
    const int pos = b == 20 ? 5 : b % 16;
    for (int i = bt_.longBands[b]; i < bt_.longBands[b + 1]; ++i) ExpectIntensity(i, Kl(pos), Kr(pos));
  }
  // Band 21 has no scale factor: it takes band 20's position.
  for (int i = bt_.longBands[21]; i < 576; ++i) ExpectIntensity(i, Kl(5), Kr(5));
}

TEST_F(JointStereoTest, LongBlocksIllegalPositionLeavesAnOrdinaryBand) {
  RightData(0, 30);  // bands 0..4 hold data; intensity from band 5 on
  for (int b = 0; b < 21; ++b) sf_.l[b] = 2;
  sf_.l[7] = 16;   // beyond the position table: not intensity
  sf_.l[20] = 31;  // and band 21 follows band 20
  sf_.intensityScale = 1;
  Run(Lsf(true));
  for (int i = bt_.longBands[5]; i < bt_.longBands[7]; ++i) ExpectIntensity(i, Kl(2, 1), Kr(2, 1));
  for (int i = bt_.longBands[7]; i < bt_.longBands[8]; ++i) ExpectMidSide(i);
  for (int i = bt_.longBands[8]; i < bt_.longBands[20]; ++i) ExpectIntensity(i, Kl(2, 1), Kr(2, 1));
  for (int i = bt_.longBands[20]; i < 576; ++i) ExpectMidSide(i);

  // Without mid/side the same bands are left as they were coded.
  SetUp();
  RightData(0, 30);
  for (int b = 0; b < 21; ++b) sf_.l[b] = 2;
  sf_.l[7] = 16;
  Run(Lsf(false));
  for (int i = 0; i < bt_.longBands[5]; ++i) ExpectUnchanged(i);
  for (int i = bt_.longBands[7]; i < bt_.longBands[8]; ++i) ExpectUnchanged(i);
  for (int i = bt_.longBands[5]; i < bt_.longBands[7]; ++i) ExpectIntensity(i, Kl(2), Kr(2));
}

TEST_F(JointStereoTest, PositionsBelowTheTableEndAreIntensityWhateverTheFieldWidth) {
  // All ones in a 1-bit partition and 15 in a 4-bit one are positions, not
  // markers (this is how the reference decoder reads MPEG-2 streams).
  for (int b = 0; b < 21; ++b) sf_.l[b] = b < 10 ? 1 : 15;
  Run(Lsf(false));
  for (int i = 0; i < bt_.longBands[10]; ++i) ExpectIntensity(i, Kl(1), Kr(1));
  for (int i = bt_.longBands[10]; i < 576; ++i) ExpectIntensity(i, Kl(15), Kr(15));
}

TEST_F(JointStereoTest, ShortBlocksFindTheBoundInEachWindow) {
  auto line = [&](int band, int w) {
    const int width = bt_.shortBands[band + 1] - bt_.shortBands[band];
    return 3 * bt_.shortBands[band] + w * width;
  };
  auto width = [&](int band) { return bt_.shortBands[band + 1] - bt_.shortBands[band]; };
  // Window 0: data in band 5; window 1: none; window 2: data in band 10.
  r_[line(5, 0) + 1] = 0.5f;
  r_[line(10, 2)] = 0.5f;
  for (int b = 0; b < 13; ++b)
    for (int w = 0; w < 3; ++w) sf_.s[b][w] = (b + w) % 16;
  sf_.s[11][2] = 9;
  Run(Lsf(true, 2, 0));
  for (int b = 0; b < 13; ++b) {
    const int pos0 = b == 12 ? 11 % 16 : b;  // band 12 takes band 11's position
    for (int i = 0; i < width(b); ++i) {
      if (b <= 5)
        ExpectMidSide(line(b, 0) + i);
      else
        ExpectIntensity(line(b, 0) + i, Kl(pos0), Kr(pos0));
      const int pos1 = (b == 12 ? 11 : b) + 1;
      ExpectIntensity(line(b, 1) + i, Kl(pos1 % 16), Kr(pos1 % 16));
      if (b <= 10)
        ExpectMidSide(line(b, 2) + i);
      else
        ExpectIntensity(line(b, 2) + i, Kl(9), Kr(9));  // bands 11 and 12 of window 2
    }
  }
}

TEST_F(JointStereoTest, MixedBlockLongPartIsIntensityOnlyWhenTheShortPartIsSilent) {
  const int longEnd = bt_.longBands[6];  // 36 lines: two subbands
  // Data in the long part (band 1) only: long bands 2..5 and every short band
  // are intensity.
  RightData(6, 8);
  for (int b = 0; b < 6; ++b) sf_.l[b] = 3;
  for (int b = 3; b < 13; ++b)
    for (int w = 0; w < 3; ++w) sf_.s[b][w] = 4;
  Run(Lsf(true, 2, 1));
  for (int i = 0; i < bt_.longBands[2]; ++i) ExpectMidSide(i);
  for (int i = bt_.longBands[2]; i < longEnd; ++i) ExpectIntensity(i, Kl(3), Kr(3));
  for (int i = longEnd; i < 576; ++i) ExpectIntensity(i, Kl(4), Kr(4));

  // The same with one non-zero line in short band 4, window 1: the long part
  // is mid/side throughout.
  SetUp();
  RightData(6, 8);
  const int width4 = bt_.shortBands[5] - bt_.shortBands[4];
  r_[3 * bt_.shortBands[4] + width4] = 0.25f;
  for (int b = 0; b < 6; ++b) sf_.l[b] = 3;
  for (int b = 3; b < 13; ++b)
    for (int w = 0; w < 3; ++w) sf_.s[b][w] = 4;
  Run(Lsf(true, 2, 1));
  for (int i = 0; i < longEnd; ++i) ExpectMidSide(i);
  // Window 1 of band 4 and below stay mid/side, the rest above is intensity.
  for (int i = 0; i < width4; ++i) ExpectMidSide(3 * bt_.shortBands[4] + width4 + i);
  for (int i = 0; i < width4; ++i) ExpectIntensity(3 * bt_.shortBands[4] + i, Kl(4), Kr(4));
}

TEST_F(JointStereoTest, Mpeg1UsesTheTangentRatiosAndSevenIsIllegal) {
  JointStereoGranule g;
  g.midSide = true;
  g.intensity = true;
  g.lsf = false;
  g.bands = &kBandTables[0];
  const BandTable& bt = kBandTables[0];
  for (int b = 0; b < 21; ++b) sf_.l[b] = b % 8;
  Run(g);
  float kl, kr;
  for (int b = 0; b < 22; ++b) {
    const int pos = b == 21 ? 20 % 8 : b % 8;
    for (int i = bt.longBands[b]; i < bt.longBands[b + 1]; ++i) {
      if (pos == 7) {
        ExpectMidSide(i);
      } else {
        ASSERT_TRUE(Mpeg1IntensityFactors(pos, kl, kr));
        ExpectIntensity(i, kl, kr);
      }
    }
  }
}

TEST_F(JointStereoTest, MidSideOnlyCoversBothChannelsExtent) {
  RightData(0, 200);
  JointStereoGranule g = Lsf(true);
  g.intensity = false;
  for (int i = 0; i < 576; ++i) l0_[i] = l_[i], r0_[i] = r_[i];
  int nz[2] = {300, 200};
  ApplyJointStereo(g, sf_, l_, r_, nz);
  for (int i = 0; i < 300; ++i) ExpectMidSide(i);
  for (int i = 300; i < 576; ++i) ExpectUnchanged(i);
  EXPECT_EQ(nz[0], 300);
  EXPECT_EQ(nz[1], 300);
}

}  // namespace
}  // namespace kelpra
