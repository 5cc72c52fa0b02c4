// Finding the read offset: a disc made in memory, read by a pretend drive
// that delivers every sample `offset` samples early or late, and database
// entries whose checksums are computed here apart from the program's code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "accuraterip/OffsetFinder.h"

namespace sonarvex {
namespace {

constexpr std::int64_t kSectorBytes = 2352;

// The disc's true audio: noise, silence before sector 0 and from its end.
std::uint32_t TrueSample(std::int64_t position, std::int64_t endSamples) {
  if (position < 0 || position >= endSamples) return 0;
  std::uint64_t x = static_cast<std::uint64_t>(position) * 0x9E3779B97F4A7C15ull + 0x1234567ull;
  x ^= x >> 29;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 32;
  return static_cast<std::uint32_t>(x);
}

struct Disc {
  ArToc toc;
  std::int32_t audioEnd = 0;
  std::int64_t EndSamples() const { return static_cast<std::int64_t>(audioEnd) * 588; }
};

Disc FiveTracks() {
  Disc d;
  d.toc.tracks = {{0, true}, {40, true}, {77, true}, {110, true}, {152, true}};
  d.toc.leadOut = 190;
  d.audioEnd = 190;
  return d;
}

// v1 and v2 of track `index` (0-based) written out apart from ArChecksum:
// sample k (1-based) weighs k; the disc's first track leaves out its first
// 2939 samples, its last its last 2940.
struct Sums {
  std::uint32_t v1 = 0, v2 = 0;
};
Sums Reference(const Disc& d, std::size_t index) {
  const std::int64_t start = d.toc.tracks[index].start * 588LL;
  const std::int64_t end =
      (index + 1 < d.toc.tracks.size() ? d.toc.tracks[index + 1].start : d.audioEnd) * 588LL;
  const std::int64_t n = end - start;
  const std::int64_t from = index == 0 ? 2940 : 1;
  const std::int64_t to = index + 1 == d.toc.tracks.size() ? n - 2940 : n;
  Sums s;
  for (std::int64_t k = from; k <= to; ++k) {
    const std::uint64_t product =
        static_cast<std::uint64_t>(TrueSample(start + k - 1, d.EndSamples())) * static_cast<std::uint64_t>(k);
    s.v1 += static_cast<std::uint32_t>(product);
    s.v2 += static_cast<std::uint32_t>(product) + static_cast<std::uint32_t>(product >> 32);
  }
  return s;
}

// An entry of one submission: every track's v1 (or v2) with confidence 5;
// `without` tracks get no value.
std::vector<ArSubmission> EntryOf(const Disc& d, bool v2, std::vector<std::size_t> without = {}) {
  ArSubmission s;
  s.ids = ComputeArDiscIds(d.toc);
  for (std::size_t i = 0; i < d.toc.tracks.size(); ++i) {
    const Sums sums = Reference(d, i);
    ArTrackValue v;
    v.confidence = 5;
    v.crc = v2 ? sums.v2 : sums.v1;
    if (std::find(without.begin(), without.end(), i) != without.end()) v = {};
    s.tracks.push_back(v);
  }
  return {s};
}

// A drive with read offset `offset`: at sample p it gives the true sample
// p - offset. Remembers what was asked.
struct Drive {
  Drive(const Disc& d, int o) : disc(d), offset(o) {}
  const Disc& disc;
  int offset;
  std::vector<std::pair<std::int32_t, std::int32_t>> reads;
  std::int32_t failAt = -1;

  RawSectorReader Reader() {
    return [this](std::int32_t lba, std::int32_t count, std::uint8_t* out) {
      reads.emplace_back(lba, count);
      if (failAt >= lba && failAt < lba + count) return false;
      for (std::int64_t i = 0; i < count * 588LL; ++i) {
        const std::uint32_t v = TrueSample(lba * 588LL + i - offset, disc.EndSamples());
        std::memcpy(out + i * 4, &v, 4);
      }
      return true;
    };
  }
};

TEST(OffsetFinderTest, FindsCommonAndUncommonOffsetsEitherWay) {
  const Disc disc = FiveTracks();
  for (bool v2 : {false, true}) {
    for (int offset : {667, -472, 6, 0, -1234, 1501, -2900}) {
      SCOPED_TRACE(testing::Message() << "offset " << offset << (v2 ? " v2" : " v1"));
      Drive drive{disc, offset};
      const OffsetFinding f = FindReadOffset(disc.toc, disc.audioEnd, EntryOf(disc, v2), drive.Reader());
      ASSERT_EQ(f.outcome, OffsetFinding::Outcome::Found);
      EXPECT_EQ(f.offset, offset);
      EXPECT_EQ(f.tracksTried, 3);
      EXPECT_EQ(f.tracksMatched, 3);
      EXPECT_EQ(f.confidence, 5);
      // Nothing before the disc or beyond its audio is asked of the drive.
      for (const auto& [lba, count] : drive.reads) {
        EXPECT_GE(lba, 0);
        EXPECT_LE(lba + count, disc.audioEnd);
      }
    }
  }
}

TEST(OffsetFinderTest, ReadsTheSecondToFourthTracksOnce) {
  const Disc disc = FiveTracks();
  Drive drive{disc, 102};
  const OffsetFinding f = FindReadOffset(disc.toc, disc.audioEnd, EntryOf(disc, false), drive.Reader());
  ASSERT_EQ(f.outcome, OffsetFinding::Outcome::Found);
  EXPECT_EQ(f.offset, 102);
  std::int64_t sectors = 0;
  for (const auto& r : drive.reads) sectors += r.second;
  // Tracks 2-4 (112 sectors) with five sectors of margin either side.
  EXPECT_EQ(sectors, 112 + 3 * 10);
}

TEST(OffsetFinderTest, OneTrackDiscAndTracksWithoutValues) {
  Disc one;
  one.toc.tracks = {{0, true}};
  one.toc.leadOut = one.audioEnd = 60;
  Drive drive{one, -1164};
  OffsetFinding f = FindReadOffset(one.toc, one.audioEnd, EntryOf(one, true), drive.Reader());
  ASSERT_EQ(f.outcome, OffsetFinding::Outcome::Found);
  EXPECT_EQ(f.offset, -1164);
  EXPECT_EQ(f.tracksTried, 1);

  // Tracks the entry has no value for are not read; the others stand in.
  const Disc disc = FiveTracks();
  Drive partial{disc, 48};
  f = FindReadOffset(disc.toc, disc.audioEnd, EntryOf(disc, false, {1, 2}), partial.Reader());
  ASSERT_EQ(f.outcome, OffsetFinding::Outcome::Found);
  EXPECT_EQ(f.offset, 48);
  for (const auto& [lba, count] : partial.reads) EXPECT_TRUE(lba + count <= 40 + 5 || lba >= 110 - 5) << lba;

  f = FindReadOffset(disc.toc, disc.audioEnd, EntryOf(disc, false, {0, 1, 2, 3, 4}), partial.Reader());
  EXPECT_EQ(f.outcome, OffsetFinding::Outcome::NoValues);
}

TEST(OffsetFinderTest, NoneFitsBeyondTheRangeOrForOtherAudio) {
  const Disc disc = FiveTracks();
  Drive far{disc, 3500};
  OffsetSearch search;
  search.common = {6, 667};
  EXPECT_EQ(FindReadOffset(disc.toc, disc.audioEnd, EntryOf(disc, true), far.Reader(), search).outcome,
            OffsetFinding::Outcome::NoneFits);

  // One track of another pressing is not enough when several are read.
  std::vector<ArSubmission> entry = EntryOf(disc, false);
  entry[0].tracks[2].crc ^= 1;
  entry[0].tracks[3].crc ^= 1;
  Drive drive{disc, 30};
  EXPECT_EQ(FindReadOffset(disc.toc, disc.audioEnd, entry, drive.Reader()).outcome,
            OffsetFinding::Outcome::NoneFits);
  // Two of three are.
  entry = EntryOf(disc, false);
  entry[0].tracks[2].crc ^= 1;
  const OffsetFinding f = FindReadOffset(disc.toc, disc.audioEnd, entry, drive.Reader());
  ASSERT_EQ(f.outcome, OffsetFinding::Outcome::Found);
  EXPECT_EQ(f.offset, 30);
  EXPECT_EQ(f.tracksMatched, 2);
}

TEST(OffsetFinderTest, AFailedReadAndAStopEndTheSearch) {
  const Disc disc = FiveTracks();
  Drive drive{disc, 6};
  drive.failAt = 80;
  OffsetFinding f = FindReadOffset(disc.toc, disc.audioEnd, EntryOf(disc, false), drive.Reader());
  EXPECT_EQ(f.outcome, OffsetFinding::Outcome::ReadFailed);
  EXPECT_LE(f.failedLba, 80);

  Drive ok{disc, 1501};
  OffsetSearch search;
  int pumps = 0;
  search.pump = [&pumps] { return ++pumps < 5; };
  f = FindReadOffset(disc.toc, disc.audioEnd, EntryOf(disc, false), ok.Reader(), search);
  EXPECT_EQ(f.outcome, OffsetFinding::Outcome::Stopped);
}

}  // namespace
}  // namespace sonarvex
