#include "Imdct.h"

#include <cmath>
#include <cstring>

#include "Tables.h"

#include "Simd.h"

// The DCT-IV of N points (N even, M = N / 2) is computed through an M-point
// complex DFT: with v[n] = (x[2n] + i x[N-1-2n]) e^(-i pi n / N) and
// Y[k] = e^(-i pi (k + 1/4) / N) DFT_M(v)[k], X[2k] = Re Y[k] and
// X[N-1-2k] = -Im Y[k]. The 9-point DFT of the long blocks is split into
// 3 x 3 points (Cooley-Tukey with four twiddle factors), the 6-point DCT-IV
// of the short blocks needs a single 3-point DFT.
//
// Every transform is written once for a type T that is either one float
// (one subband) or a vector of four floats (four neighbouring subbands, one
// per lane): the filterbank runs four subbands at a time whenever they share
// their window.

namespace kelpra {

namespace {

struct ImdctConstants {
  float pre18[9][2];   // cos, sin of pi n / 18
  float post18[9][2];  // cos, sin of pi (k + 1/4) / 18
  float tw9[5][2];     // cos, sin of 2 pi e / 9
  float pre6[3][2];    // cos, sin of pi n / 6
  float post6[3][2];   // cos, sin of pi (k + 1/4) / 6
  // Long windows with the signs of the 36-from-18 unfolding folded in:
  // out[i] = overlap[i] + res[i] X[a(i)], overlap'[i] = ov[i] X[b(i)].
  float longRes[4][18];
  float longOv[4][18];
  float shortWin[12];  // likewise for the 12-from-6 unfolding
};

ImdctConstants Compute() {
  ImdctConstants k{};
  const double pi = 3.14159265358979323846;
  for (int n = 0; n < 9; ++n) {
    k.pre18[n][0] = float(std::cos(pi * n / 18));
    k.pre18[n][1] = float(std::sin(pi * n / 18));
    k.post18[n][0] = float(std::cos(pi * (n + 0.25) / 18));
    k.post18[n][1] = float(std::sin(pi * (n + 0.25) / 18));
  }
  for (int e = 0; e < 5; ++e) {
    k.tw9[e][0] = float(std::cos(2 * pi * e / 9));
    k.tw9[e][1] = float(std::sin(2 * pi * e / 9));
  }
  for (int n = 0; n < 3; ++n) {
    k.pre6[n][0] = float(std::cos(pi * n / 6));
    k.pre6[n][1] = float(std::sin(pi * n / 6));
    k.post6[n][0] = float(std::cos(pi * (n + 0.25) / 6));
    k.post6[n][1] = float(std::sin(pi * (n + 0.25) / 6));
  }
  const DerivedTables& d = Derived();
  for (int type = 0; type < 4; ++type) {
    if (type == kShortWindows) continue;
    const float* win = d.imdctWin[type];
    for (int i = 0; i < 18; ++i) {
      k.longRes[type][i] = i < 9 ? win[i] : -win[i];
      k.longOv[type][i] = -win[18 + i];
    }
  }
  for (int i = 0; i < 12; ++i) k.shortWin[i] = i < 3 ? d.imdctWin[2][i] : -d.imdctWin[2][i];
  return k;
}

const ImdctConstants& Constants() {
  static const ImdctConstants k = Compute();
  return k;
}

template <class T>
struct Cx {
  T re, im;
};

// z e^(-i theta), given cos and sin of theta.
template <class T>
inline Cx<T> Rotate(const Cx<T>& z, const float* cs) {
  return {z.re * cs[0] + z.im * cs[1], z.im * cs[0] - z.re * cs[1]};
}

// In place 3-point DFT: (a, b, c) -> (a + b + c, a + b W + c W^2, a + b W^2 + c W)
// with W = e^(-2 pi i / 3).
template <class T>
inline void Dft3(Cx<T>& a, Cx<T>& b, Cx<T>& c) {
  constexpr float kHalfSqrt3 = 0.866025403784438647f;
  const T sr = b.re + c.re, si = b.im + c.im;
  const T dr = (b.re - c.re) * kHalfSqrt3, di = (b.im - c.im) * kHalfSqrt3;
  const T mr = a.re - sr * 0.5f, mi = a.im - si * 0.5f;
  a.re = a.re + sr;
  a.im = a.im + si;
  b.re = mr + di;
  b.im = mi - dr;
  c.re = mr - di;
  c.im = mi + dr;
}

template <class T>
inline void Dct4N18(const T* x, T* X, const ImdctConstants& k) {
  Cx<T> v[9];
  v[0] = {x[0], x[17]};
  for (int n = 1; n < 9; ++n) v[n] = Rotate(Cx<T>{x[2 * n], x[17 - 2 * n]}, k.pre18[n]);
  // Inner 3-point DFTs over n1 (n = 3 n1 + n2): v[n2 + 3 k1] = A[n2][k1].
  for (int n2 = 0; n2 < 3; ++n2) Dft3(v[n2], v[3 + n2], v[6 + n2]);
  // Twiddles W9^(n2 k1).
  v[4] = Rotate(v[4], k.tw9[1]);
  v[7] = Rotate(v[7], k.tw9[2]);
  v[5] = Rotate(v[5], k.tw9[2]);
  v[8] = Rotate(v[8], k.tw9[4]);
  // Outer 3-point DFTs over n2: v[3 k1 + k2] = Z[k1 + 3 k2].
  for (int k1 = 0; k1 < 3; ++k1) Dft3(v[3 * k1], v[3 * k1 + 1], v[3 * k1 + 2]);
  for (int j = 0; j < 9; ++j) {
    const Cx<T> y = Rotate(v[3 * (j % 3) + j / 3], k.post18[j]);
    X[2 * j] = y.re;
    X[17 - 2 * j] = -y.im;
  }
}

template <class T>
inline void Dct4N6(const T* x, T* X, const ImdctConstants& k) {
  Cx<T> v0{x[0], x[5]};
  Cx<T> v1 = Rotate(Cx<T>{x[2], x[3]}, k.pre6[1]);
  Cx<T> v2 = Rotate(Cx<T>{x[4], x[1]}, k.pre6[2]);
  Dft3(v0, v1, v2);
  const Cx<T> y0 = Rotate(v0, k.post6[0]);
  const Cx<T> y1 = Rotate(v1, k.post6[1]);
  const Cx<T> y2 = Rotate(v2, k.post6[2]);
  X[0] = y0.re;
  X[5] = -y0.im;
  X[2] = y1.re;
  X[3] = -y1.im;
  X[4] = y2.re;
  X[1] = -y2.im;
}

// Column access to the [18][32] overlap and output arrays.
inline float Load(const float* p, float) { return *p; }
inline void Store(float* p, float v) { *p = v; }
#if defined(KELPRA_HAVE_V4)
inline V4 Load(const float* p, V4) { return LoadV4(p); }
inline void Store(float* p, V4 v) { StoreV4(p, v); }
#endif

// One long block: `x` its 18 lines, `ov` and `out` the column of its
// subband(s) in the [18][32] arrays, `flip` the factor of the odd outputs
// (-1 in odd subbands: frequency inversion).
template <class T>
inline void LongBlock(const T* x, int type, float* ov, float* out, T flip,
                      const ImdctConstants& k) {
  T t[18];
  Dct4N18(x, t, k);
  const float* wr = k.longRes[type];
  const float* wo = k.longOv[type];
  for (int i = 0; i < 18; ++i) {
    T r = Load(ov + 32 * i, T{}) + t[i < 9 ? 9 + i : 26 - i] * wr[i];
    if (i & 1) r = r * flip;
    Store(out + 32 * i, r);
    Store(ov + 32 * i, t[i < 9 ? 8 - i : i - 9] * wo[i]);
  }
}

// Three short blocks: x[3 j + w] is line j of window w.
template <class T>
inline void ShortBlocks(const T* x, float* ov, float* out, T flip, const ImdctConstants& k) {
  // The three windowed 12-point outputs, overlapping at offsets 6, 12, 18 of
  // the 36 outputs of the subband.
  T y[3][12];
  for (int w = 0; w < 3; ++w) {
    const T in[6] = {x[w], x[3 + w], x[6 + w], x[9 + w], x[12 + w], x[15 + w]};
    T t[6];
    Dct4N6(in, t, k);
    for (int i = 0; i < 12; ++i) y[w][i] = t[i < 3 ? 3 + i : (i < 9 ? 8 - i : i - 9)] * k.shortWin[i];
  }
  for (int i = 0; i < 18; ++i) {
    T r = Load(ov + 32 * i, T{});
    if (i >= 6) r = r + y[0][i - 6];
    if (i >= 12) r = r + y[1][i - 12];
    if (i & 1) r = r * flip;
    Store(out + 32 * i, r);
    T o;
    if (i < 6)
      o = y[1][i + 6] + y[2][i];
    else if (i < 12)
      o = y[2][i];
    else
      o = T{};
    Store(ov + 32 * i, o);
  }
}

// Subbands without data: the overlap goes out, nothing comes in.
template <class T>
inline void OverlapOnly(float* ov, float* out, T flip) {
  for (int i = 0; i < 18; ++i) {
    T r = Load(ov + 32 * i, T{});
    if (i & 1) r = r * flip;
    Store(out + 32 * i, r);
    Store(ov + 32 * i, T{});
  }
}

void OneSubband(const float* xr, int sb, int kind, int active, float (*overlap)[32],
                float (*out)[32], const ImdctConstants& k) {
  const float flip = (sb & 1) ? -1.0f : 1.0f;
  if (sb >= active)
    OverlapOnly(&overlap[0][sb], &out[0][sb], flip);
  else if (kind == kShortWindows)
    ShortBlocks(xr + 18 * sb, &overlap[0][sb], &out[0][sb], flip, k);
  else
    LongBlock(xr + 18 * sb, kind, &overlap[0][sb], &out[0][sb], flip, k);
}

}  // namespace

void InverseMdct(const float* xr, const uint8_t* kind, int active, float (*overlap)[32],
                 float (*out)[32]) {
  const ImdctConstants& k = Constants();
#if defined(KELPRA_HAVE_V4)
  const V4 flip = {1.0f, -1.0f, 1.0f, -1.0f};
  for (int sb = 0; sb < 32; sb += 4) {
    const int kd = kind[sb];
    if (sb >= active) {
      OverlapOnly(&overlap[0][sb], &out[0][sb], flip);
      continue;
    }
    if (kind[sb + 1] != kd || kind[sb + 2] != kd || kind[sb + 3] != kd) {
      for (int s = sb; s < sb + 4; ++s) OneSubband(xr, s, kind[s], active, overlap, out, k);
      continue;
    }
    // Lane l of x[j] is line j of subband sb + l.
    V4 x[18];
    const float* r0 = xr + 18 * sb;
    const float* r1 = r0 + 18;
    const float* r2 = r0 + 36;
    const float* r3 = r0 + 54;
    for (int j = 0; j < 16; j += 4) {
      x[j] = LoadV4(r0 + j);
      x[j + 1] = LoadV4(r1 + j);
      x[j + 2] = LoadV4(r2 + j);
      x[j + 3] = LoadV4(r3 + j);
      Transpose4(x[j], x[j + 1], x[j + 2], x[j + 3]);
    }
    for (int j = 16; j < 18; ++j) x[j] = V4{r0[j], r1[j], r2[j], r3[j]};
    if (kd == kShortWindows)
      ShortBlocks(x, &overlap[0][sb], &out[0][sb], flip, k);
    else
      LongBlock(x, kd, &overlap[0][sb], &out[0][sb], flip, k);
  }
#else
  for (int sb = 0; sb < 32; ++sb) OneSubband(xr, sb, kind[sb], active, overlap, out, k);
#endif
}

void Dct4_18(const float* in, float* out) { Dct4N18(in, out, Constants()); }
void Dct4_6(const float* in, float* out) { Dct4N6(in, out, Constants()); }

}  // namespace kelpra
