// The figures the benchmarks print: medians with their spread, the load
// average, and ours and the peer's run alternately after a warm-up.
#include "bench/common/BenchStats.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sonarvex::bench {
namespace {

TEST(BenchStats, MedianAndSpreadOfOddAndEvenCounts) {
  Spread s = Summarise({3.0, 1.0, 2.0});
  EXPECT_DOUBLE_EQ(s.median, 2.0);
  EXPECT_DOUBLE_EQ(s.low, 1.0);
  EXPECT_DOUBLE_EQ(s.high, 3.0);
  EXPECT_EQ(s.runs, 3);
  s = Summarise({4.0, 1.0, 10.0, 2.0});
  EXPECT_DOUBLE_EQ(s.median, 3.0);
  EXPECT_DOUBLE_EQ(s.high, 10.0);
  s = Summarise({});
  EXPECT_EQ(s.runs, 0);
  EXPECT_DOUBLE_EQ(s.median, 0.0);
  EXPECT_EQ(SpreadText(Summarise({1.0, 1.5, 1.25})), "1.25 s (1.00 .. 1.50)");
}

TEST(BenchStats, LoadAverageIsTheFirstThreeFields) {
  EXPECT_EQ(LoadAverageOf("0.52 0.48 0.40 1/123 4567\n"), "0.52 0.48 0.40");
  EXPECT_EQ(LoadAverageOf(""), "?");
  EXPECT_EQ(LoadAverageOf("0.52"), "?");
  EXPECT_NE(LoadAverage(), "?") << "/proc/loadavg is readable on Linux";
}

TEST(BenchStats, OursAndThePeerAlternateAfterAWarmUp) {
  std::string order;
  double oursTime = 0.9, peerTime = 2.0;
  Pair p = ComparePaired(
      4, [&] { order += 'o'; return oursTime += 0.1; }, [&] { order += 'p'; return peerTime; });
  // Warm-up of each, then who goes first changes every round.
  EXPECT_EQ(order, "op" "op" "po" "op" "po");
  // The warm-up's 1.0 is not counted: 1.1, 1.2, 1.3, 1.4.
  EXPECT_DOUBLE_EQ(p.ours.low, 1.1);
  EXPECT_DOUBLE_EQ(p.ours.median, 1.25);
  EXPECT_EQ(p.ours.runs, 4);
  EXPECT_DOUBLE_EQ(p.ratio, 1.25 / 2.0);
  EXPECT_NE(p.load.find(" -> "), std::string::npos);
  const std::string text = PairText("WAV rip", p, "cd-paranoia");
  EXPECT_EQ(text.rfind("WAV rip  ours 1.25 s (1.10 .. 1.40)  cd-paranoia 2.00 s (2.00 .. 2.00)  ratio 0.625", 0),
            0u)
      << text;
  EXPECT_NE(text.find("load "), std::string::npos);

  // Start-up figures are milliseconds.
  Pair quick = ComparePaired(3, [] { return 0.0123; }, [] { return 0.004; });
  const std::string q = PairText("toc", quick, "cd-paranoia -Q");
  EXPECT_EQ(q.rfind("toc  ours 12.3 ms (12.3 .. 12.3)  cd-paranoia -Q 4.0 ms (4.0 .. 4.0)  ratio 3.075", 0), 0u)
      << q;
}

TEST(BenchStats, AFailedRunStopsTheComparisonAndSaysSo) {
  int peerRuns = 0;
  Pair p = ComparePaired(5, [] { return 1.0; }, [&] { return ++peerRuns == 3 ? -1.0 : 1.0; });
  EXPECT_EQ(p.ratio, -1);
  EXPECT_EQ(peerRuns, 3);
  EXPECT_NE(PairText("x", p).find("failed"), std::string::npos);
  EXPECT_EQ(NotAvailableText("FLAC without verify", "unknown setting FLAC.Verify"),
            "FLAC without verify  n/a (unknown setting FLAC.Verify)");
}

}  // namespace
}  // namespace sonarvex::bench
