// Comparing decoded audio with its source: lossy codecs shift the signal by
// their delay, so the comparison looks for the best alignment first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sonarvex::test {

// The signal-to-noise ratio in dB of `decoded` against `reference`
// (interleaved, `channels` per frame) at the best shift of at most maxShift
// frames either way, over the frames both hold. -1000 when they share none.
double BestSnrDb(const std::vector<std::int16_t>& reference,
                 const std::vector<std::int16_t>& decoded, int channels, int maxShift);

// Sets a file size limit for the life of the object (SIGXFSZ ignored), so
// that every write beyond `bytes` fails with EFBIG, as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(std::uint64_t bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  std::uint64_t oldCur_ = 0;
  void (*oldHandler_)(int) = nullptr;
};

}  // namespace sonarvex::test
