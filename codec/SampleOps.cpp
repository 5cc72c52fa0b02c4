#include "codec/SampleOps.h"

#include <cmath>
#include <cstring>

namespace sonarvex {
namespace {

inline std::int16_t Load(const std::uint8_t* p) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}
inline void Store(std::uint8_t* p, std::int16_t v) {
  auto u = static_cast<std::uint16_t>(v);
  p[0] = static_cast<std::uint8_t>(u);
  p[1] = static_cast<std::uint8_t>(u >> 8);
}

}  // namespace

void FindPeak(const void* samples, std::size_t byteCount, std::int16_t& peak) {
  const auto* p = static_cast<const std::uint8_t*>(samples);
  int best = peak;
  for (std::size_t i = 0; i + 1 < byteCount; i += 2) {
    int v = Load(p + i);
    if (v < 0) v = -v;
    if (v > 32767) v = 32767;
    if (v > best) best = v;
  }
  peak = static_cast<std::int16_t>(best);
}

double ComputeNormalizeGain(std::int16_t peak, int lowThreshold, int highThreshold, int lowTarget,
                            int highTarget) {
  const double level = (peak - 0.999999) * 100.0 / 32768.0;
  if (level < lowThreshold) {
    // A silent track (peak 0 or 1) has no level to scale: leave it as it is.
    if (level <= 0.0) return 1.0;
    return lowTarget / level * 0.9999;
  }
  if (level > highThreshold) return highTarget / level * 0.9999;
  return 1.0;
}

void ApplyGain(void* samples, std::size_t byteCount, double gain) {
  if (gain == 1.0 || gain == 0.0) return;
  auto* p = static_cast<std::uint8_t*>(samples);
  for (std::size_t i = 0; i + 1 < byteCount; i += 2) {
    double v = std::trunc(gain * Load(p + i) + 0.5);
    if (v > 32767.0) v = 32767.0;
    if (v < -32768.0) v = -32768.0;
    Store(p + i, static_cast<std::int16_t>(v));
  }
}

std::size_t DownmixToMono(void* samples, std::size_t byteCount) {
  auto* p = static_cast<std::uint8_t*>(samples);
  const std::size_t frames = byteCount / 4;
  for (std::size_t i = 0; i < frames; ++i) {
    int l = Load(p + i * 4);
    int r = Load(p + i * 4 + 2);
    Store(p + i * 2, static_cast<std::int16_t>(l / 2 + r / 2));  // C++ division truncates
  }
  return frames * 2;
}

}  // namespace sonarvex
