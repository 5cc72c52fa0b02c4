// Comparison of decoded 16-bit PCM with a reference decoder's float output:
// alignment by the best matching offset, then the ISO/IEC 11172-4 measures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelpra_test {

struct PcmComparison {
  long offset = 0;          // reference frame index = ours + offset
  size_t compared = 0;      // samples compared (all channels)
  double rmsLsb = 0;        // RMS of the difference, in 16-bit steps
  int maxDiff = 0;          // largest difference, in 16-bit steps
  double within1 = 0;       // share of samples differing by at most 1
  double within2 = 0;       // share of samples differing by at most 2
  size_t within2Count = 0;
};

// Float reference samples to 16 bits: scaled by 32768, truncated toward zero
// and clipped, the conversion the library itself uses.
std::vector<int16_t> FloatToPcm16(const std::vector<float>& f);

// Finds the offset (in sample frames, |offset| <= maxOffset) at which `ours`
// best matches `ref` and measures the difference over the overlap (less the
// first 1152 frames when the reference starts later than ours).
PcmComparison ComparePcm(const std::vector<int16_t>& ours, const std::vector<int16_t>& ref,
                         int channels, long maxOffset);

// The same measures at a given offset, from our sample frame `from` on.
PcmComparison MeasureAt(const std::vector<int16_t>& ours, const std::vector<int16_t>& ref,
                        int channels, long offset, long from = 0);

// Runs a command through /bin/sh; returns its exit status.
int RunCommand(const std::string& command);
std::vector<uint8_t> ReadFileBytes(const std::string& path);

}  // namespace kelpra_test
