#include "tests/codec/SignalCompare.h"

#include <sys/resource.h>

#include <cmath>
#include <csignal>

namespace sonarvex::test {

double BestSnrDb(const std::vector<std::int16_t>& reference,
                 const std::vector<std::int16_t>& decoded, int channels, int maxShift) {
  const long refFrames = static_cast<long>(reference.size()) / channels;
  const long decFrames = static_cast<long>(decoded.size()) / channels;
  double best = -1000.0;
  // Coarse search on a stride of frames, then the exact shift near the best.
  auto snrAt = [&](int shift, long stride) {
    double signal = 0, noise = 0;
    for (long i = 0; i < refFrames; i += stride) {
      const long j = i + shift;
      if (j < 0 || j >= decFrames) continue;
      for (int c = 0; c < channels; ++c) {
        const double r = reference[static_cast<std::size_t>(i * channels + c)];
        const double d = decoded[static_cast<std::size_t>(j * channels + c)];
        signal += r * r;
        noise += (r - d) * (r - d);
      }
    }
    if (signal == 0) return -1000.0;
    if (noise == 0) return 1000.0;
    return 10.0 * std::log10(signal / noise);
  };
  int bestShift = 0;
  for (int s = -maxShift; s <= maxShift; ++s) {
    const double v = snrAt(s, 7);
    if (v > best) {
      best = v;
      bestShift = s;
    }
  }
  best = -1000.0;
  for (int s = bestShift - 2; s <= bestShift + 2; ++s) best = std::max(best, snrAt(s, 1));
  return best;
}

FileSizeLimit::FileSizeLimit(std::uint64_t bytes) {
  struct rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  oldCur_ = old.rlim_cur;
  oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = bytes;
  ::setrlimit(RLIMIT_FSIZE, &small);
}

FileSizeLimit::~FileSizeLimit() {
  struct rlimit lim{};
  ::getrlimit(RLIMIT_FSIZE, &lim);
  lim.rlim_cur = oldCur_;
  ::setrlimit(RLIMIT_FSIZE, &lim);
  std::signal(SIGXFSZ, oldHandler_);
}

}  // namespace sonarvex::test
