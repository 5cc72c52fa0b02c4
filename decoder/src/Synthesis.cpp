#include "Synthesis.h"

#include <cstring>

#include "Simd.h"
#include "Tables.h"

namespace kelpra {

namespace {

// Lee's recursive factorisation of the unnormalised DCT-II of N points, on
// floats or on vectors of four independent blocks.
template <class T, int N, int Level>
struct DctII {
  static inline void Run(const T* in, T* out, const float (*cosTab)[16]) {
    constexpr int H = N / 2;
    T g[H], h[H], G[H], Hh[H];
    const float* c = cosTab[Level];
    for (int k = 0; k < H; ++k) {
      g[k] = in[k] + in[N - 1 - k];
      h[k] = (in[k] - in[N - 1 - k]) * c[k];
    }
    DctII<T, H, Level + 1>::Run(g, G, cosTab);
    DctII<T, H, Level + 1>::Run(h, Hh, cosTab);
    for (int j = 0; j < H - 1; ++j) {
      out[2 * j] = G[j];
      out[2 * j + 1] = Hh[j] + Hh[j + 1];
    }
    out[N - 2] = G[H - 1];
    out[N - 1] = Hh[H - 1];
  }
};

template <class T, int Level>
struct DctII<T, 1, Level> {
  static inline void Run(const T* in, T* out, const float (*)[16]) { out[0] = in[0]; }
};

}  // namespace

void Synthesis::Reset() {
  std::memset(v_, 0, sizeof v_);
  pos_[0] = pos_[1] = 0;
}

void Synthesis::Dct32(const float* in, float* out) {
  DctII<float, 32, 0>::Run(in, out, Derived().dctCos);
}

int16_t Synthesis::ToPcm(float s) {
  if (s >= 32767.0f) return 32767;
  if (s <= -32768.0f) return -32768;
  if (!(s == s)) return 0;
  return static_cast<int16_t>(static_cast<int>(s));
}

void Synthesis::Block(const float* const in[2], int streamChannels, int channels,
                      int16_t* out) {
  alignas(16) float a[2][32];
  for (int ch = 0; ch < streamChannels; ++ch) Dct32(in[ch], a[ch]);
  Window(a, streamChannels, channels, out);
}

void Synthesis::Blocks(const float* in0, const float* in1, size_t stride, int count,
                       int streamChannels, int channels, int16_t* out) {
  const float (*cosTab)[16] = Derived().dctCos;
  const float* in[2] = {in0, in1};
  int b = 0;
#if defined(KELPRA_HAVE_V4)
  // Four blocks at a time through the DCT, one per lane.
  for (; b + 4 <= count; b += 4) {
    alignas(16) float a[4][2][32];
    for (int ch = 0; ch < streamChannels; ++ch) {
      const float* r0 = in[ch] + size_t(b) * stride;
      const float* r1 = r0 + stride;
      const float* r2 = r1 + stride;
      const float* r3 = r2 + stride;
      V4 x[32], y[32];
      for (int k = 0; k < 32; k += 4) {
        x[k] = LoadV4(r0 + k);
        x[k + 1] = LoadV4(r1 + k);
        x[k + 2] = LoadV4(r2 + k);
        x[k + 3] = LoadV4(r3 + k);
        Transpose4(x[k], x[k + 1], x[k + 2], x[k + 3]);
      }
      DctII<V4, 32, 0>::Run(x, y, cosTab);
      for (int j = 0; j < 32; j += 4) {
        Transpose4(y[j], y[j + 1], y[j + 2], y[j + 3]);
        for (int l = 0; l < 4; ++l) StoreV4(&a[l][ch][j], y[j + l]);
      }
    }
    for (int l = 0; l < 4; ++l)
      Window(a[l], streamChannels, channels, out + size_t(b + l) * 32 * size_t(channels));
  }
#endif
  for (; b < count; ++b) {
    const float* blk[2] = {in0 + size_t(b) * stride, in1 ? in1 + size_t(b) * stride : nullptr};
    Block(blk, streamChannels, channels, out + size_t(b) * 32 * size_t(channels));
  }
}

void Synthesis::Window(const float (*a)[32], int streamChannels, int channels, int16_t* out) {
  const float* window = Derived().window;
  alignas(16) float sums[2][32];
  for (int ch = 0; ch < streamChannels; ++ch) {
    const int pos = pos_[ch];
    // The 64 values of the standard's matrixing, from the 32 DCT outputs:
    // V[i] = A[i + 16] with A[64 - j] = -A[j], A[32] = 0, A[64 + j] = -A[j].
    float* v = v_[ch][pos];
    const float* ac = a[ch];
    for (int j = 0; j < 16; ++j) v[j] = ac[16 + j];
    v[16] = 0.0f;
    for (int j = 17; j < 32; ++j) v[j] = -ac[48 - j];
    for (int j = 0; j < 16; ++j) v[32 + j] = -ac[16 - j];
    v[48] = -ac[0];
    for (int j = 17; j < 32; ++j) v[32 + j] = -ac[j - 16];

    // Window: out[j] = sum over the 16 latest blocks (age m) of
    // D[32 m + j] * V_m[32 (m & 1) + j].
#if defined(__SSE2__)
    __m128 acc[8];
    for (int q = 0; q < 8; ++q) acc[q] = _mm_setzero_ps();
    for (int m = 0; m < 16; ++m) {
      const float* src = &v_[ch][(pos + m) & 15][(m & 1) * 32];
      const float* d = window + 32 * m;
      for (int q = 0; q < 8; ++q)
        acc[q] = _mm_add_ps(acc[q], _mm_mul_ps(_mm_loadu_ps(d + 4 * q), _mm_load_ps(src + 4 * q)));
    }
    for (int q = 0; q < 8; ++q) _mm_store_ps(&sums[ch][4 * q], acc[q]);
#else
    for (int j = 0; j < 32; ++j) sums[ch][j] = 0.0f;
    for (int m = 0; m < 16; ++m) {
      const float* src = &v_[ch][(pos + m) & 15][(m & 1) * 32];
      const float* d = window + 32 * m;
      for (int j = 0; j < 32; ++j) sums[ch][j] += d[j] * src[j];
    }
#endif
    pos_[ch] = (pos + 15) & 15;
  }
  if (streamChannels != channels) {
    constexpr float kMix = 0.70710678f;
    if (streamChannels == 2)
      for (int j = 0; j < 32; ++j) sums[0][j] = kMix * (sums[0][j] + sums[1][j]);
    else
      for (int j = 0; j < 32; ++j) sums[0][j] = sums[1][j] = kMix * sums[0][j];
  }

#if defined(__SSE2__)
  const __m128 lo = _mm_set1_ps(-32768.0f);
  const __m128 hi = _mm_set1_ps(32767.0f);
  for (int q = 0; q < 32; q += 8) {
    // maxps/minps return their second operand for NaN: a NaN sum gives -32768.
    __m128i l0 = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(_mm_load_ps(&sums[0][q]), lo), hi));
    __m128i l1 = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(_mm_load_ps(&sums[0][q + 4]), lo), hi));
    __m128i l = _mm_packs_epi32(l0, l1);
    if (channels == 1) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + q), l);
    } else {
      __m128i r0 = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(_mm_load_ps(&sums[1][q]), lo), hi));
      __m128i r1 = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(_mm_load_ps(&sums[1][q + 4]), lo), hi));
      __m128i r = _mm_packs_epi32(r0, r1);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * q), _mm_unpacklo_epi16(l, r));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * q + 8), _mm_unpackhi_epi16(l, r));
    }
  }
#else
  for (int j = 0; j < 32; ++j)
    for (int ch = 0; ch < channels; ++ch) out[j * channels + ch] = ToPcm(sums[ch][j]);
#endif
}

}  // namespace kelpra
