// The polyphase synthesis: fast DCT against the standard's matrixing, PCM
// conversion, silence, and the full filterbank against a direct evaluation.
#include "Synthesis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "Tables.h"

namespace kelpra {
namespace {

TEST(SynthesisTest, PcmConversionTruncatesAndClips) {
  EXPECT_EQ(Synthesis::ToPcm(40000.7f), 32767);
  EXPECT_EQ(Synthesis::ToPcm(-40000.7f), -32768);
  EXPECT_EQ(Synthesis::ToPcm(12.9f), 12);
  EXPECT_EQ(Synthesis::ToPcm(-12.9f), -12);
  EXPECT_EQ(Synthesis::ToPcm(32767.5f), 32767);
  EXPECT_EQ(Synthesis::ToPcm(-0.5f), 0);
}

TEST(SynthesisTest, FastDctMatchesDefinition) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(-1, 1);
  float in[32], out[32];
  for (float& v : in) v = u(rng);
  Synthesis::Dct32(in, out);
  for (int j = 0; j < 32; ++j) {
    double s = 0;
    for (int k = 0; k < 32; ++k) s += in[k] * std::cos(M_PI * j * (2 * k + 1) / 64.0);
    EXPECT_NEAR(out[j], s, 2e-5) << j;
  }
}

// The standard's synthesis: V by matrixing into a 1024 FIFO, U, window, sum.
class ReferenceSynthesis {
 public:
  void Block(const float* s, double* out) {
    for (int i = 1023; i >= 64; --i) v_[i] = v_[i - 64];
    for (int i = 0; i < 64; ++i) {
      double sum = 0;
      for (int k = 0; k < 32; ++k) sum += std::cos((16 + i) * (2 * k + 1) * M_PI / 64) * s[k];
      v_[i] = sum;
    }
    double u[512];
    for (int i = 0; i < 8; ++i)
      for (int j = 0; j < 32; ++j) {
        u[64 * i + j] = v_[128 * i + j];
        u[64 * i + 32 + j] = v_[128 * i + 96 + j];
      }
    for (int j = 0; j < 32; ++j) {
      double sum = 0;
      for (int i = 0; i < 16; ++i) sum += u[j + 32 * i] * kDewindow[j + 32 * i];
      out[j] = sum * 32768.0;
    }
  }

 private:
  double v_[1024] = {};
};

TEST(SynthesisTest, MatchesTheStandardFilterbankAndFlushesToSilence) {
  Synthesis synth;
  ReferenceSynthesis ref;
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(-0.2f, 0.2f);
  float blockL[32], blockR[32];
  int16_t out[64];
  double expect[32];
  for (int b = 0; b < 60; ++b) {
    for (int k = 0; k < 32; ++k) {
      blockL[k] = b < 40 ? u(rng) : 0.0f;
      blockR[k] = -blockL[k];
    }
    const float* in[2] = {blockL, blockR};
    synth.Block(in, 2, out);
    ref.Block(blockL, expect);
    for (int j = 0; j < 32; ++j) {
      const double e = std::clamp(std::trunc(expect[j]), -32768.0, 32767.0);
      EXPECT_NEAR(out[2 * j], e, 1.0) << "block " << b << " sample " << j;
      EXPECT_NEAR(out[2 * j + 1], -e, 1.0);
      if (b >= 40 + 16) {
        EXPECT_EQ(out[2 * j], 0);
        EXPECT_EQ(out[2 * j + 1], 0);
      }
    }
  }
}

TEST(SynthesisTest, StereoFramesOfAMonoFileAreMixed) {
  Synthesis a, b;
  float l[32], r[32], m[32];
  for (int k = 0; k < 32; ++k) {
    l[k] = 0.01f * float(k);
    r[k] = -0.005f * float(k);
    m[k] = 0.70710678f * (l[k] + r[k]);
  }
  int16_t mixed[32], mono[32];
  for (int i = 0; i < 20; ++i) {
    const float* st[2] = {l, r};
    const float* mo[2] = {m, m};
    a.Block(st, 2, 1, mixed);
    b.Block(mo, 1, 1, mono);
    for (int j = 0; j < 32; ++j) EXPECT_NEAR(mixed[j], mono[j], 1);
  }
}

// Runs of blocks (the DCT four blocks at a time) give exactly what block by
// block synthesis gives, for every channel layout and for run lengths that
// are and are not multiples of four.
TEST(SynthesisTest, RunsOfBlocksMatchSingleBlocks) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<float> u(-0.3f, 0.3f);
  struct Layout {
    int stream, out;
  };
  for (const Layout lay : {Layout{2, 2}, Layout{1, 1}, Layout{2, 1}, Layout{1, 2}}) {
    for (int count : {18, 36, 12, 7}) {
      SCOPED_TRACE(std::to_string(lay.stream) + "->" + std::to_string(lay.out) + " x" +
                   std::to_string(count));
      Synthesis runs, single;
      // Two runs, so that the second starts from a filled filter state.
      for (int round = 0; round < 2; ++round) {
        std::vector<float> sb(size_t(count) * 64);
        for (float& v : sb) v = u(rng);
        std::vector<int16_t> a(size_t(count) * 32 * size_t(lay.out)), b(a.size());
        // Layer I/II layout: [block][channel][32].
        runs.Blocks(sb.data(), sb.data() + 32, 64, count, lay.stream, lay.out, a.data());
        for (int t = 0; t < count; ++t) {
          const float* in[2] = {&sb[size_t(t) * 64], &sb[size_t(t) * 64 + 32]};
          single.Block(in, lay.stream, lay.out, &b[size_t(t) * 32 * size_t(lay.out)]);
        }
        ASSERT_EQ(a, b) << "round " << round;
      }
    }
  }
}

}  // namespace
}  // namespace kelpra
