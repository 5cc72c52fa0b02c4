// What every benchmark prints: figures of several runs as the median with
// the spread (lowest .. highest), ours and the peer's measured alternately
// after a warm-up of each, and the machine's load average beside each
// figure, so that a figure taken on a busy machine shows as such.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace sonarvex::bench {

struct Spread {
  double median = 0, low = 0, high = 0;
  int runs = 0;
};

// The median (of the middle two for an even count) and the extremes; all 0
// for no values.
Spread Summarise(std::vector<double> values);

// "1.23 s (1.20 .. 1.31)"; the unit follows each number.
std::string SpreadText(const Spread& s, const char* unit = "s", int decimals = 2);

// The 1, 5 and 15 minute load averages from the text of /proc/loadavg
// ("0.52 0.48 0.40 1/123 4567" gives "0.52 0.48 0.40"); "?" when unreadable.
std::string LoadAverageOf(const std::string& procLoadavg);
// The machine's, now.
std::string LoadAverage();

// One measurement of ours against the peer's.
struct Pair {
  Spread ours, peer;
  double ratio = 0;      // median of ours / median of the peer
  std::string load;      // the load average when the runs started and ended
};

// Runs ours and peer once each as a warm-up (not counted), then `runs`
// rounds, alternating which goes first (ours, peer / peer, ours / ...), so
// that neither always runs on the cache or the clock the other left. Each
// function returns the seconds of one run (a negative value: the run
// failed; the comparison stops and reports ratio -1).
Pair ComparePaired(int runs, const std::function<double()>& ours,
                   const std::function<double()>& peer);

// "NAME  ours S (..)  peer S (..)  ratio R  [N runs, load L]"; in
// milliseconds when every run took less than a second.
std::string PairText(const std::string& name, const Pair& p, const std::string& peerName = "peer");

// The figure of a line whose input is not there: "NAME  n/a (REASON)".
std::string NotAvailableText(const std::string& name, const std::string& reason);

}  // namespace sonarvex::bench
