#include "accuraterip/OffsetFinder.h"

#include <algorithm>
#include <cstdlib>
#include <set>

namespace sonarvex {

namespace {

constexpr std::int64_t kSectorBytes = 2352;
constexpr std::int64_t kSampleBytes = 4;

std::uint32_t SampleAt(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// One track as the drive gave it, with `margin` samples either side.
struct ReadTrack {
  int tocIndex = 0;
  int entryIndex = 0;
  bool first = false, last = false;
  std::uint64_t samples = 0;  // the track's length
  std::int64_t margin = 0;    // samples read before (and after) it
  std::vector<std::uint8_t> pcm;
  // With the range search: the v1 checksum at every offset -range..range.
  std::vector<std::uint32_t> slidV1;

  const std::uint8_t* At(int offset) const {
    return pcm.data() + (margin + offset) * kSampleBytes;
  }
};

// Whether the entry holds a value with some confidence for this track.
bool HasValue(const std::vector<ArSubmission>& entry, const ArDiscIds& ids, int index) {
  for (const ArSubmission& s : entry) {
    if (s.ids.id1 != ids.id1 || s.ids.id2 != ids.id2 || s.ids.cddb != ids.cddb) continue;
    if (index >= 1 && index <= static_cast<int>(s.tracks.size()) &&
        s.tracks[static_cast<std::size_t>(index - 1)].confidence > 0)
      return true;
  }
  return false;
}

// The track's checksums with its audio taken `offset` samples on.
ArVerdict Check(const ReadTrack& t, const std::vector<ArSubmission>& entry, const ArDiscIds& ids, int offset,
                std::uint32_t* v1 = nullptr) {
  ArChecksum sum(t.samples, t.first, t.last);
  sum.Add(t.At(offset), static_cast<std::size_t>(t.samples * kSampleBytes));
  if (v1) *v1 = sum.V1();
  return VerifyArTrack(entry, ids, t.entryIndex, sum.V1(), sum.V2());
}

// The v1 checksum of the track at every offset -range..range, each from the
// one before: with x the audio from the offset on, the sum of k * x[k] over
// the counted positions from..to moves by one position as
//   w(o+1) = w(o) - from * x[o+from] + (to+1) * x[o+to+1] - S(o+1),
// S being the plain sum of the counted samples (everything modulo 2^32).
// Only a proposal: a hit is confirmed with ArChecksum.
void Slide(ReadTrack& t, int range) {
  const std::uint64_t from = t.first ? kArSkippedSamples : 1;
  const std::uint64_t to = t.last ? (t.samples >= kArSkippedSamples ? t.samples - kArSkippedSamples : 0)
                                  : t.samples;
  t.slidV1.assign(static_cast<std::size_t>(2 * range + 1), 0);
  if (to < from) return;
  // x(o, k): sample k (1-based) of the track read `o` samples on.
  auto x = [&t](int o, std::uint64_t k) { return SampleAt(t.At(o) + (k - 1) * kSampleBytes); };
  std::uint32_t w = 0, s = 0;
  for (std::uint64_t k = from; k <= to; ++k) {
    const std::uint32_t v = x(-range, k);
    w += static_cast<std::uint32_t>(k) * v;
    s += v;
  }
  t.slidV1[0] = w;
  for (int o = -range; o < range; ++o) {
    const std::uint32_t out = x(o, from), in = x(o, to + 1);
    s = s - out + in;
    w = w - static_cast<std::uint32_t>(from) * out + static_cast<std::uint32_t>(to + 1) * in - s;
    t.slidV1[static_cast<std::size_t>(o + 1 + range)] = w;
  }
}

// Whether the entry holds this v1 value for the track (a proposal of Slide).
bool EntryHolds(const std::vector<ArSubmission>& entry, const ArDiscIds& ids, int index, std::uint32_t v1) {
  return VerifyArTrack(entry, ids, index, v1, v1).status == ArStatus::Match;
}

}  // namespace

OffsetFinding FindReadOffset(const ArToc& toc, std::int32_t audioEnd, const std::vector<ArSubmission>& entry,
                             const RawSectorReader& read, const OffsetSearch& search) {
  OffsetFinding result;
  auto pump = [&search] { return !search.pump || search.pump(); };
  auto status = [&search](const std::string& text) {
    if (search.status) search.status(text);
  };
  const ArDiscIds ids = ComputeArDiscIds(toc);
  const int range = std::max(0, search.range);
  int reach = range;
  for (int c : search.common) reach = std::max(reach, std::abs(c));

  // The tracks: those the entry knows, the second to the fourth first (the
  // first and the last are read with less of their audio counted).
  std::vector<int> chosen, later;
  const int count = static_cast<int>(toc.tracks.size());
  for (int i = 0; i < count; ++i) {
    if (!toc.tracks[static_cast<std::size_t>(i)].audio) continue;
    if (!HasValue(entry, ids, ArEntryIndex(toc, i))) continue;
    const bool edge = IsFirstArTrack(toc, i) || IsLastArTrack(toc, i);
    (edge ? later : chosen).push_back(i);
  }
  chosen.insert(chosen.end(), later.begin(), later.end());
  if (static_cast<int>(chosen.size()) > search.maxTracks) chosen.resize(static_cast<std::size_t>(search.maxTracks));
  std::sort(chosen.begin(), chosen.end());
  if (chosen.empty()) {
    result.outcome = OffsetFinding::Outcome::NoValues;
    return result;
  }

  // Each read once, as the drive gives it, with room for every offset tried.
  const std::int64_t marginSectors = (reach + kArSamplesPerSector - 1) / kArSamplesPerSector;
  std::vector<ReadTrack> tracks;
  for (int i : chosen) {
    const std::int32_t start = toc.tracks[static_cast<std::size_t>(i)].start;
    std::int32_t end = i + 1 < count ? toc.tracks[static_cast<std::size_t>(i) + 1].start : toc.leadOut;
    end = std::min(end, audioEnd);
    if (end <= start) continue;
    ReadTrack t;
    t.tocIndex = i;
    t.entryIndex = ArEntryIndex(toc, i);
    t.first = IsFirstArTrack(toc, i);
    t.last = IsLastArTrack(toc, i);
    t.samples = static_cast<std::uint64_t>(end - start) * kArSamplesPerSector;
    t.margin = marginSectors * kArSamplesPerSector;
    const std::int64_t from = start - marginSectors, to = end + marginSectors;
    t.pcm.assign(static_cast<std::size_t>((to - from) * kSectorBytes), 0);
    const std::int64_t readFrom = std::max<std::int64_t>(from, 0), readTo = std::min<std::int64_t>(to, audioEnd);
    status("чтение дорожки " + std::to_string(i + 1));
    // In pieces, so that a window stays alive and a stop is heard.
    constexpr std::int64_t kPiece = 75 * 4;
    for (std::int64_t at = readFrom; at < readTo; at += kPiece) {
      if (!pump()) {
        result.outcome = OffsetFinding::Outcome::Stopped;
        return result;
      }
      const auto n = static_cast<std::int32_t>(std::min(kPiece, readTo - at));
      if (!read(static_cast<std::int32_t>(at), n, t.pcm.data() + (at - from) * kSectorBytes)) {
        result.outcome = OffsetFinding::Outcome::ReadFailed;
        result.failedLba = static_cast<int>(at);
        return result;
      }
    }
    tracks.push_back(std::move(t));
  }
  result.tracksTried = static_cast<int>(tracks.size());
  if (tracks.empty()) {
    result.outcome = OffsetFinding::Outcome::NoValues;
    return result;
  }
  const int needed = std::min(2, result.tracksTried);

  // An offset fits when enough of the tracks match there.
  auto tryOffset = [&](int offset, bool slidOnly) -> bool {
    int matched = 0, confidence = 0;
    for (const ReadTrack& t : tracks) {
      if (slidOnly && !EntryHolds(entry, ids, t.entryIndex, t.slidV1[static_cast<std::size_t>(offset + range)]))
        continue;
      const ArVerdict v = Check(t, entry, ids, offset);
      if (v.status != ArStatus::Match) continue;
      confidence = matched == 0 ? v.confidence : std::min(confidence, v.confidence);
      ++matched;
    }
    if (matched < needed) return false;
    result.outcome = OffsetFinding::Outcome::Found;
    result.offset = offset;
    result.tracksMatched = matched;
    result.confidence = confidence;
    return true;
  };

  std::set<int> tried;
  status("проверка распространённых смещений");
  for (int offset : search.common) {
    if (!tried.insert(offset).second) continue;
    if (!pump()) {
      result.outcome = OffsetFinding::Outcome::Stopped;
      return result;
    }
    if (tryOffset(offset, false)) return result;
  }

  // Every offset of the range, nearest to zero first: first by the v1
  // checksums computed sliding, ...
  status("проверка смещений от -" + std::to_string(range) + " до +" + std::to_string(range));
  for (ReadTrack& t : tracks) {
    if (!pump()) {
      result.outcome = OffsetFinding::Outcome::Stopped;
      return result;
    }
    Slide(t, range);
  }
  std::vector<int> order;
  for (int d = 0; d <= range; ++d) {
    order.push_back(d);
    if (d > 0) order.push_back(-d);
  }
  for (int offset : order)
    if (!tried.count(offset) && tryOffset(offset, true)) return result;

  // ... then, for entries holding v2 values, by the whole checksums of the
  // shortest track, each offset it matches at confirmed on the others.
  const ReadTrack* shortest = &tracks.front();
  for (const ReadTrack& t : tracks)
    if (t.samples < shortest->samples) shortest = &t;
  int step = 0;
  for (int offset : order) {
    if (tried.count(offset)) continue;
    if (++step % 16 == 0 && !pump()) {
      result.outcome = OffsetFinding::Outcome::Stopped;
      return result;
    }
    std::uint32_t v1 = 0;
    if (Check(*shortest, entry, ids, offset, &v1).status != ArStatus::Match) continue;
    if (EntryHolds(entry, ids, shortest->entryIndex, v1)) continue;  // a v1 value: seen above
    if (tryOffset(offset, false)) return result;
  }
  result.outcome = OffsetFinding::Outcome::NoneFits;
  return result;
}

}  // namespace sonarvex
