// Layer III hybrid filterbank back end: the inverse MDCT of the 32 subbands
// of one granule channel, windowing, overlap-add with the previous granule
// and the frequency inversion of the odd subbands.
#pragma once

#include <cstdint>

namespace kelpra {

// Window kind of one subband: the block types 0, 1 and 3 are one 36-point
// transform with their window, 2 is three 12-point transforms.
enum : uint8_t { kLongWindow = 0, kStartWindow = 1, kShortWindows = 2, kStopWindow = 3 };

// `xr`: 576 lines, 18 per subband (short blocks ordered line-major, window
// minor). `kind[sb]`: the window of each subband. Subbands from `active` on
// hold only zeros: they just give out their overlap. `overlap[i][sb]` is the
// second half of the previous granule's output; `out[i][sb]` receives the 18
// subband samples of each subband.
void InverseMdct(const float* xr, const uint8_t* kind, int active, float (*overlap)[32],
                 float (*out)[32]);

// X[k] = sum_n x[n] cos(pi / N (n + 1/2) (k + 1/2)) for N = 18 and 6.
void Dct4_18(const float* in, float* out);
void Dct4_6(const float* in, float* out);

}  // namespace kelpra
