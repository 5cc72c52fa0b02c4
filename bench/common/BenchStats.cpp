#include "bench/common/BenchStats.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace sonarvex::bench {

Spread Summarise(std::vector<double> values) {
  Spread s;
  if (values.empty()) return s;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  s.runs = static_cast<int>(n);
  s.low = values.front();
  s.high = values.back();
  s.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  return s;
}

std::string SpreadText(const Spread& s, const char* unit, int decimals) {
  char b[160];
  std::snprintf(b, sizeof b, "%.*f %s (%.*f .. %.*f)", decimals, s.median, unit, decimals, s.low,
                decimals, s.high);
  return b;
}

std::string LoadAverageOf(const std::string& procLoadavg) {
  std::istringstream in(procLoadavg);
  std::string a, b, c;
  if (!(in >> a >> b >> c)) return "?";
  return a + " " + b + " " + c;
}

std::string LoadAverage() {
  std::ifstream f("/proc/loadavg");
  std::string text;
  std::getline(f, text);
  return LoadAverageOf(text);
}

Pair ComparePaired(int runs, const std::function<double()>& ours,
                   const std::function<double()>& peer) {
  Pair p;
  const std::string before = LoadAverage();
  std::vector<double> a, b;
  bool failed = ours() < 0 || peer() < 0;
  for (int k = 0; k < runs && !failed; ++k) {
    double x, y;
    if (k % 2 == 0) {
      x = ours();
      y = peer();
    } else {
      y = peer();
      x = ours();
    }
    failed = x < 0 || y < 0;
    a.push_back(x);
    b.push_back(y);
  }
  p.load = before + " -> " + LoadAverage();
  if (failed) {
    p.ratio = -1;
    return p;
  }
  p.ours = Summarise(a);
  p.peer = Summarise(b);
  p.ratio = p.peer.median > 0 ? p.ours.median / p.peer.median : 0;
  return p;
}

std::string PairText(const std::string& name, const Pair& p, const std::string& peerName) {
  if (p.ratio < 0) return name + "  failed (a run ended with an error)  [load " + p.load + "]";
  char ratio[32];
  std::snprintf(ratio, sizeof ratio, "%.3f", p.ratio);
  // Short runs (start-up) in milliseconds.
  auto text = [&](Spread s) {
    if (p.ours.high >= 1 || p.peer.high >= 1) return SpreadText(s);
    s.median *= 1000;
    s.low *= 1000;
    s.high *= 1000;
    return SpreadText(s, "ms", 1);
  };
  return name + "  ours " + text(p.ours) + "  " + peerName + " " + text(p.peer) +
         "  ratio " + ratio + "  [" + std::to_string(p.ours.runs) + " runs, load " + p.load + "]";
}

std::string NotAvailableText(const std::string& name, const std::string& reason) {
  return name + "  n/a (" + reason + ")";
}

}  // namespace sonarvex::bench
