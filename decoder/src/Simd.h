// Four-float vectors for the filterbanks: SSE2 on x86-64, the compiler's
// generic vectors elsewhere with GCC or Clang, none otherwise (the callers
// then run their scalar code).
#pragma once

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kelpra {

#if defined(__GNUC__) && !defined(KELPRA_SCALAR)
// The compiler's own vector type (on x86-64 the same as __m128, without
// the may_alias attribute that templates would drop).
typedef float V4 __attribute__((vector_size(16)));
#define KELPRA_HAVE_V4 1
#endif

#if defined(KELPRA_HAVE_V4)
inline V4 LoadV4(const float* p) {
  V4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void StoreV4(float* p, V4 v) { std::memcpy(p, &v, sizeof v); }

// Transposes the 4 x 4 block of rows r0..r3 in place.
inline void Transpose4(V4& r0, V4& r1, V4& r2, V4& r3) {
#if defined(__SSE2__)
  __m128 a = r0, b = r1, c = r2, d = r3;
  _MM_TRANSPOSE4_PS(a, b, c, d);
  r0 = a;
  r1 = b;
  r2 = c;
  r3 = d;
#else
  const V4 a = r0, b = r1, c = r2, d = r3;
  r0 = V4{a[0], b[0], c[0], d[0]};
  r1 = V4{a[1], b[1], c[1], d[1]};
  r2 = V4{a[2], b[2], c[2], d[2]};
  r3 = V4{a[3], b[3], c[3], d[3]};
#endif
}
#endif

}  // namespace kelpra
