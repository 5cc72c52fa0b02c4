#include "PcmCompare.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace kelpra_test {

std::vector<int16_t> FloatToPcm16(const std::vector<float>& f) {
  std::vector<int16_t> out(f.size());
  for (size_t i = 0; i < f.size(); ++i) {
    const float s = f[i] * 32768.0f;
    out[i] = s >= 32767.0f ? 32767 : s <= -32768.0f ? -32768 : int16_t(int(s));
  }
  return out;
}

PcmComparison ComparePcm(const std::vector<int16_t>& ours, const std::vector<int16_t>& ref,
                         int channels, long maxOffset) {
  const long na = long(ours.size()) / channels;
  const long nb = long(ref.size()) / channels;
  // Match a window of our output where there is signal.
  const long window = std::min<long>(4096, na / 2);
  long start = 0;
  for (long i = 0; i + window < na; i += 256) {
    double energy = 0;
    for (long k = 0; k < 256 * channels && (i * channels + k) < long(ours.size()); ++k)
      energy += std::abs(int(ours[size_t(i * channels + k)]));
    if (energy > 256.0 * channels * 8) {
      start = i;
      break;
    }
  }
  // Keep every candidate offset inside both signals.
  if (start < maxOffset && maxOffset + window <= na) start = maxOffset;
  double best = -1;
  long bestOff = 0;
  // Nearest offsets first: a periodic signal matches at several.
  for (long k = 0; k <= 2 * maxOffset; ++k) {
    const long off = (k & 1) ? -(k + 1) / 2 : k / 2;
    if (start + off < 0 || start + off + window > nb || start + window > na) continue;
    double sum = 0;
    const int16_t* a = ours.data() + start * channels;
    const int16_t* b = ref.data() + (start + off) * channels;
    for (long k = 0; k < window * channels; ++k) sum += std::abs(int(a[k]) - int(b[k]));
    if (best < 0 || sum < best * 0.5) {
      best = sum;
      bestOff = off;
      if (sum == 0) break;
    }
  }
  // When the reference started later (it dropped leading frames), its
  // filterbanks start from silence there while ours carry history: skip
  // that settling stretch.
  long from = bestOff < 0 ? -bestOff + 1152 : 0;
  // Frames the library does not decode because their main data are not yet
  // in the bit reservoir come out silent: compare from the first sound on,
  // after the same settling stretch.
  long firstSound = 0;
  while (firstSound < na && ours[size_t(firstSound * channels)] == 0 &&
         ours[size_t(firstSound * channels + channels - 1)] == 0)
    ++firstSound;
  long refSound = std::max<long>(0, -bestOff);
  while (refSound < std::min(na, nb - bestOff) &&
         ref[size_t((refSound + bestOff) * channels)] == 0)
    ++refSound;
  if (firstSound > refSound) from = std::max(from, firstSound + 1152);
  return MeasureAt(ours, ref, channels, bestOff, from);
}

PcmComparison MeasureAt(const std::vector<int16_t>& ours, const std::vector<int16_t>& ref,
                        int channels, long offset, long from) {
  PcmComparison r;
  r.offset = offset;
  const long na = long(ours.size()) / channels;
  const long nb = long(ref.size()) / channels;
  from = std::max(from, -offset);
  const long to = std::min<long>(na, nb - offset);
  double sq = 0;
  size_t ok = 0, n = 0;
  for (long i = from; i < to; ++i) {
    for (int c = 0; c < channels; ++c) {
      const int d = std::abs(int(ours[size_t(i * channels + c)]) -
                             int(ref[size_t((i + offset) * channels + c)]));
      sq += double(d) * d;
      r.maxDiff = std::max(r.maxDiff, d);
      if (d <= 1) ++ok;
      if (d <= 2) ++r.within2Count;
      ++n;
    }
  }
  r.compared = n;
  r.rmsLsb = n ? std::sqrt(sq / double(n)) : 0;
  r.within1 = n ? double(ok) / double(n) : 0;
  r.within2 = n ? double(r.within2Count) / double(n) : 0;
  return r;
}

int RunCommand(const std::string& command) {
  const int rc = std::system(command.c_str());
  if (rc == -1) return -1;
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace kelpra_test
