// Sample operations shared by every writer: peak, normalisation gain, gain,
// stereo-to-mono fold. Samples are interleaved signed 16-bit little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sonarvex {

// peak := max(peak, |sample|) over byteCount / 2 samples; |-32768| counts as 32767.
void FindPeak(const void* samples, std::size_t byteCount, std::int16_t& peak);

// The gain that brings a peak outside [low threshold, high threshold] (percent
// of full scale) to the matching target; exactly 1.0 between the thresholds.
double ComputeNormalizeGain(std::int16_t peak, int lowThreshold, int highThreshold, int lowTarget,
                            int highTarget);

// Each sample := trunc(gain * sample + 0.5); nothing when the gain is exactly
// 1.0 or 0.0. Results are kept within the 16-bit range.
void ApplyGain(void* samples, std::size_t byteCount, double gain);

// Folds byteCount / 4 stereo frames to mono in place: trunc(l / 2) + trunc(r / 2).
// Returns the new byte count (byteCount / 4 * 2).
std::size_t DownmixToMono(void* samples, std::size_t byteCount);

}  // namespace sonarvex
