#include "metadata/DiscId.h"

namespace sonarvex {
namespace {

int DigitSum(int n) {
  int sum = 0;
  if (n < 0) n = -n;
  while (n > 0) {
    sum += n % 10;
    n /= 10;
  }
  return sum;
}

int Seconds(const CddbTocEntry& e) { return e.minutes * 60 + e.seconds; }

}  // namespace

std::uint32_t ComputeDiscId(const CddbTocTable& toc) {
  if (toc.count < 1 || toc.count > 100) return 0;
  const int n = toc.count - 1;
  std::uint32_t sum = 0;
  for (int i = 0; i < n; ++i) sum += static_cast<std::uint32_t>(DigitSum(Seconds(toc.entries[i])));
  const std::uint32_t t =
      static_cast<std::uint32_t>(Seconds(toc.entries[n]) - Seconds(toc.entries[0]));
  return ((sum % 255) << 24) | (t << 8) | static_cast<std::uint32_t>(n);
}

CddbTocTable TocTableFromAlbum(const AlbumRecord& album) {
  CddbTocTable toc{};
  int n = album.TrackCount;
  if (n > kMaxAlbumTracks - 1) n = kMaxAlbumTracks - 1;
  toc.count = n + 1;
  for (int i = 0; i <= n; ++i) {
    const Msf& m = album.Tracks[i].Start;
    toc.entries[i] = CddbTocEntry{m.minute, m.second, m.frame};
  }
  return toc;
}

}  // namespace sonarvex
