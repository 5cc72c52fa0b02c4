// The fast inverse MDCT against the direct formulas of the Layer III
// filterbank: the DCT-IV kernels, and the whole granule transform with every
// window kind, subbands of different kinds side by side, subbands without
// data, and the overlap carried from one granule into the next.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "Imdct.h"

namespace kelpra {
namespace {

const double kPi = 3.14159265358979323846;

double LongWindow(int type, int i) {
  switch (type) {
    case kStartWindow:
      if (i < 18) return std::sin(kPi / 36 * (i + 0.5));
      if (i < 24) return 1.0;
      if (i < 30) return std::sin(kPi / 12 * (i - 18 + 0.5));
      return 0.0;
    case kStopWindow:
      if (i < 6) return 0.0;
      if (i < 12) return std::sin(kPi / 12 * (i - 6 + 0.5));
      if (i < 18) return 1.0;
      return std::sin(kPi / 36 * (i + 0.5));
    default:
      return std::sin(kPi / 36 * (i + 0.5));
  }
}

// The 36 windowed outputs of one subband, straight from the definitions.
std::vector<double> DirectSubband(const float* x, int kind) {
  std::vector<double> z(36, 0.0);
  if (kind != kShortWindows) {
    for (int i = 0; i < 36; ++i) {
      double s = 0;
      for (int k = 0; k < 18; ++k) s += x[k] * std::cos(kPi / 72 * (2 * i + 1 + 18) * (2 * k + 1));
      z[i] = s * LongWindow(kind, i);
    }
    return z;
  }
  for (int w = 0; w < 3; ++w)
    for (int i = 0; i < 12; ++i) {
      double s = 0;
      for (int k = 0; k < 6; ++k)
        s += x[3 * k + w] * std::cos(kPi / 24 * (2 * i + 1 + 6) * (2 * k + 1));
      z[6 + 6 * w + i] += s * std::sin(kPi / 12 * (i + 0.5));
    }
  return z;
}

TEST(ImdctTest, Dct4KernelsMatchTheDefinition) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(-1000.0f, 1000.0f);
  for (int n : {18, 6}) {
    for (int round = 0; round < 20; ++round) {
      float in[18], out[18];
      for (int k = 0; k < n; ++k) in[k] = u(rng);
      if (n == 18)
        Dct4_18(in, out);
      else
        Dct4_6(in, out);
      for (int k = 0; k < n; ++k) {
        double ref = 0;
        for (int j = 0; j < n; ++j) ref += in[j] * std::cos(kPi / n * (j + 0.5) * (k + 0.5));
        EXPECT_NEAR(out[k], ref, 2e-3) << "N " << n << " k " << k;
      }
    }
  }
}

struct KindCase {
  const char* name;
  uint8_t kinds[32];
  int active;
};

KindCase Make(const char* name, int active, uint8_t all, int longBelow = 0) {
  KindCase c{name, {}, active};
  for (int sb = 0; sb < 32; ++sb) c.kinds[sb] = sb < longBelow ? uint8_t(kLongWindow) : all;
  return c;
}

TEST(ImdctTest, GranulesMatchTheDirectTransform) {
  std::vector<KindCase> cases = {
      Make("long", 32, kLongWindow),         Make("start", 32, kStartWindow),
      Make("stop", 32, kStopWindow),         Make("short", 32, kShortWindows),
      Make("mixed", 32, kShortWindows, 2),   Make("mixed8k", 32, kShortWindows, 4),
      Make("partlyActive", 13, kLongWindow), Make("shortPartlyActive", 6, kShortWindows),
  };
  // A start block whose two lowest subbands keep the normal window.
  KindCase odd = Make("startMixed", 32, kStartWindow, 2);
  cases.push_back(odd);

  std::mt19937 rng(11);
  std::uniform_real_distribution<float> u(-3000.0f, 3000.0f);
  for (const KindCase& c : cases) {
    SCOPED_TRACE(c.name);
    alignas(16) float overlap[18][32];
    alignas(16) float out[18][32];
    std::vector<double> refOverlap(18 * 32, 0.0);
    for (int i = 0; i < 18; ++i)
      for (int sb = 0; sb < 32; ++sb) overlap[i][sb] = 0.0f;
    // Three granules: the third follows a granule of long blocks, so short
    // and long overlaps meet.
    for (int granule = 0; granule < 3; ++granule) {
      const KindCase& g = granule == 1 ? cases[0] : c;
      alignas(16) float xr[576];
      for (int i = 0; i < 576; ++i) xr[i] = i < 18 * g.active ? u(rng) : 0.0f;
      InverseMdct(xr, g.kinds, g.active, overlap, out);
      for (int sb = 0; sb < 32; ++sb) {
        const std::vector<double> z = DirectSubband(xr + 18 * sb, g.kinds[sb]);
        for (int i = 0; i < 18; ++i) {
          double ref = z[i] + refOverlap[18 * sb + i];
          if ((sb & 1) && (i & 1)) ref = -ref;
          refOverlap[18 * sb + i] = z[18 + i];
          ASSERT_NEAR(out[i][sb], ref, 0.05) << "granule " << granule << " sb " << sb << " i " << i;
        }
      }
    }
  }
}

}  // namespace
}  // namespace kelpra
