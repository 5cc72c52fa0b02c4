#include "JointStereo.h"

#include <algorithm>
#include <cmath>

namespace kelpra {

LsfScaleFactorLayout LsfLayout(int scalefacCompress, bool intensityRight) {
  LsfScaleFactorLayout o{{0, 0, 0, 0}, 0, 0, 0};
  int sfc = scalefacCompress & 511;
  if (!intensityRight) {
    if (sfc < 400) {
      o.slen[0] = (sfc >> 4) / 5;
      o.slen[1] = (sfc >> 4) % 5;
      o.slen[2] = (sfc & 15) >> 2;
      o.slen[3] = sfc & 3;
      o.table = 0;
    } else if (sfc < 500) {
      sfc -= 400;
      o.slen[0] = (sfc >> 2) / 5;
      o.slen[1] = (sfc >> 2) % 5;
      o.slen[2] = sfc & 3;
      o.table = 1;
    } else {
      sfc -= 500;
      o.slen[0] = sfc / 3;
      o.slen[1] = sfc % 3;
      o.table = 2;
      o.preflag = 1;
    }
    return o;
  }
  // The right channel of an intensity frame: intensity_scale in the lowest
  // bit, the lengths in the eight bits above it.
  o.intensityScale = sfc & 1;
  int isc = sfc >> 1;
  if (isc < 180) {
    o.slen[0] = isc / 36;
    o.slen[1] = (isc % 36) / 6;
    o.slen[2] = (isc % 36) % 6;
    o.table = 3;
  } else if (isc < 244) {
    isc -= 180;
    o.slen[0] = (isc % 64) >> 4;
    o.slen[1] = (isc % 16) >> 2;
    o.slen[2] = isc % 4;
    o.table = 4;
  } else {
    isc -= 244;
    o.slen[0] = isc / 3;
    o.slen[1] = isc % 3;
    o.table = 5;
  }
  return o;
}

namespace {

struct IntensityTables {
  float lsf[2][16][2];  // [intensity scale][position][left, right]
  float mpeg1[7][2];
};

IntensityTables MakeIntensityTables() {
  IntensityTables t{};
  const double pi = 3.14159265358979323846;
  // Lower sampling frequencies: odd positions attenuate the left channel,
  // even ones the right, by i0 per step of two; i0 = 2^-1/4 or 2^-1/2.
  for (int scale = 0; scale < 2; ++scale) {
    const double i0 = std::pow(2.0, -0.25 * (1 + scale));
    for (int p = 0; p < 16; ++p) {
      double kl = 1, kr = 1;
      if (p & 1)
        kl = std::pow(i0, (p + 1) / 2);
      else if (p)
        kr = std::pow(i0, p / 2);
      t.lsf[scale][p][0] = static_cast<float>(kl);
      t.lsf[scale][p][1] = static_cast<float>(kr);
    }
  }
  // MPEG-1: the ratio tan(pos * pi / 12) of left to right.
  for (int p = 0; p < 7; ++p) {
    if (p == 6) {
      t.mpeg1[p][0] = 1.0f;
      t.mpeg1[p][1] = 0.0f;
      continue;
    }
    const double ratio = std::tan(p * pi / 12);
    t.mpeg1[p][0] = static_cast<float>(ratio / (1 + ratio));
    t.mpeg1[p][1] = static_cast<float>(1 / (1 + ratio));
  }
  return t;
}

const IntensityTables& Intensity() {
  static const IntensityTables t = MakeIntensityTables();
  return t;
}

// Index after the last non-zero value of x[0..n).
int LastNonZero(const float* x, int n) {
  while (n > 0 && x[n - 1] == 0.0f) --n;
  return n;
}

}  // namespace

bool LsfIntensityFactors(int pos, int intensityScale, float& kl, float& kr) {
  if (pos < 0 || pos >= 16) return false;
  const float* k = Intensity().lsf[intensityScale & 1][pos];
  kl = k[0];
  kr = k[1];
  return true;
}

bool Mpeg1IntensityFactors(int pos, float& kl, float& kr) {
  if (pos < 0 || pos >= 7) return false;
  kl = Intensity().mpeg1[pos][0];
  kr = Intensity().mpeg1[pos][1];
  return true;
}

void ApplyJointStereo(const JointStereoGranule& g, const ScaleFactors& right, float* l, float* r,
                      int* nz) {
  if (!g.midSide && !g.intensity) return;
  const BandTable& bt = *g.bands;
  const float inv = static_cast<float>(1.0 / std::sqrt(2.0));

  auto midSide = [&](int from, int to) {
    for (int i = from; i < to; ++i) {
      const float m = l[i], s = r[i];
      l[i] = (m + s) * inv;
      r[i] = (m - s) * inv;
    }
  };
  // Intensity stereo of lines [from, to) at position `pos`; a position
  // without factors leaves the band an ordinary (mid/side or plain) band.
  auto intensity = [&](int from, int to, int pos) {
    float kl, kr;
    const bool legal = g.lsf ? LsfIntensityFactors(pos, right.intensityScale, kl, kr)
                             : Mpeg1IntensityFactors(pos, kl, kr);
    if (!legal) {
      if (g.midSide) midSide(from, to);
      return;
    }
    for (int i = from; i < to; ++i) {
      const float v = l[i];
      l[i] = v * kl;
      r[i] = v * kr;
    }
  };

  const int extent = std::max(nz[0], nz[1]);
  if (!g.intensity) {
    midSide(0, extent);
  } else if (g.blockType != 2) {
    // Long blocks: every band from the first one above the right channel's
    // last non-zero line is intensity coded. Band 21 has no scale factor of
    // its own and takes band 20's position.
    const int last = LastNonZero(r, nz[1]);
    int b = 0;
    while (b < 22 && bt.longBands[b] < last) ++b;
    if (g.midSide) midSide(0, b < 22 ? bt.longBands[b] : 576);
    for (; b < 22; ++b)
      intensity(bt.longBands[b], bt.longBands[b + 1], right.l[b == 21 ? 20 : b]);
  } else {
    // Short blocks: the bound is found in each window on its own; band 12
    // takes band 11's position of the same window. In a mixed block the
    // short part starts at short band 3.
    const int firstShort = g.mixed ? 3 : 0;
    bool shortHasData = false;
    for (int w = 0; w < 3; ++w) {
      int lastBand = firstShort - 1;  // last short band of this window with data
      for (int b = 12; b >= firstShort && lastBand < firstShort; --b) {
        const int width = bt.shortBands[b + 1] - bt.shortBands[b];
        const int start = 3 * bt.shortBands[b] + w * width;
        for (int i = start; i < start + width; ++i)
          if (r[i] != 0.0f) {
            lastBand = b;
            break;
          }
      }
      if (lastBand >= firstShort) shortHasData = true;
      for (int b = firstShort; b < 13; ++b) {
        const int width = bt.shortBands[b + 1] - bt.shortBands[b];
        const int start = 3 * bt.shortBands[b] + w * width;
        if (b <= lastBand) {
          if (g.midSide) midSide(start, start + width);
        } else {
          intensity(start, start + width, right.s[b == 12 ? 11 : b][w]);
        }
      }
    }
    if (g.mixed) {
      // The long part lies below every short band: it holds intensity only
      // when no window of the short part has data, and then from the band
      // above its own last non-zero line.
      const int longBands = g.lsf ? 6 : 8;
      int first = longBands;
      if (!shortHasData) {
        const int last = LastNonZero(r, std::min(nz[1], int(bt.longBands[longBands])));
        first = 0;
        while (first < longBands && bt.longBands[first] < last) ++first;
      }
      if (g.midSide) midSide(0, bt.longBands[first]);
      for (int b = first; b < longBands; ++b)
        intensity(bt.longBands[b], bt.longBands[b + 1], right.l[b]);
    }
  }
  nz[0] = nz[1] = extent;
}

}  // namespace kelpra
