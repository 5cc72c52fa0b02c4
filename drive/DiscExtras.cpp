#include "drive/DiscExtras.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <vector>

#include "drive/DriveCommands.h"
#include "drive/Transport.h"

namespace sonarvex {

namespace {

// Sectors either side of the one just before track 1's INDEX 01 tried when
// it says nothing usable (a bad CRC, a catalogue or ISRC section, a failed
// read).
constexpr int kNeighbourReach = 3;
// How far the address a Q section gives for itself may lie from the sector
// asked for (drives that return a neighbour's Q); the section counts for its
// own address.
constexpr int kAddressTolerance = 3;
// Failed commands in a row after which the drive is asked nothing more
// (medium errors and refusals, which concern one sector or one command, do
// not count).
constexpr int kFailureLimit = 8;
// Q reads that may all come back without a usable position before the
// drive's Q is taken for unusable (a drive that garbles it, or gives it in a
// form of its own) and no more are read.
constexpr int kUselessQLimit = 24;
// Probes of one search in a row that tell nothing new before that pregap is
// given up.
constexpr int kFruitlessProbeLimit = 12;

// The commands of one ReadDiscExtras and what the drive made of them.
class Asking {
 public:
  Asking(Transport& t, DiscExtras& out) : t_(t), out_(out) {}

  enum class Answer { Good, Refused, Failed };

  bool Stopped() const { return stopped_; }

  // Books a command's completion: not ready or a changed medium stops all
  // asking, and so do too many failures in a row.
  Answer Note(CommandResult r) {
    ++out_.commands;
    if (t_.Succeeded(r)) {
      failures_ = 0;
      return Answer::Good;
    }
    const auto& sense = t_.LastSense();
    const std::uint8_t key = SenseKey(sense.data());
    if (key == 2 || key == 6 || (key != 3 && key != 5 && ++failures_ >= kFailureLimit)) {
      stopped_ = true;
      out_.interrupted = true;
      return Answer::Failed;
    }
    // INVALID COMMAND OPERATION CODE, INVALID FIELD IN CDB: the drive does
    // not do this at all.
    if (key == 5 && (sense[12] == 0x20 || sense[12] == 0x24)) return Answer::Refused;
    return Answer::Failed;
  }

  // The Q of a sector when it is a usable position. The first READ CD asks
  // for any sector type (0xF8); a drive refusing that is asked for CD-DA
  // sectors (0x10) instead; refusing both, for nothing more.
  std::optional<SubQ> Q(std::int32_t lba) {
    while (!stopped_ && !QDone()) {
      std::uint8_t q[kFormattedQLength];
      ++out_.subQReads;
      const Answer a = Note(ReadSectorQ(t_, lba, anySectorType_, q));
      if (a == Answer::Refused && !qSettled_) {
        if (anySectorType_) {
          anySectorType_ = false;
          continue;
        }
        out_.qRefused = true;
        return std::nullopt;
      }
      if (a == Answer::Good) qSettled_ = true;
      const SubQ s = ParseFormattedQ(q);
      if (a != Answer::Good || s.kind != SubQKind::Position ||
          std::abs(s.absoluteLba - lba) > kAddressTolerance) {
        if (!usable_ && out_.subQReads >= kUselessQLimit) out_.qUnusable = true;
        return std::nullopt;
      }
      usable_ = true;
      return s;
    }
    return std::nullopt;
  }

  // No more Q reads: refused, or nothing usable came of them.
  bool QDone() const { return out_.qRefused || out_.qUnusable; }

 private:
  Transport& t_;
  DiscExtras& out_;
  bool stopped_ = false;
  int failures_ = 0;
  bool anySectorType_ = true;
  bool qSettled_ = false;  // a Q read succeeded with the current form
  bool usable_ = false;    // a Q read gave a usable position
};

// What one Q section says about the search for track `number`'s pregap.
enum class Fact { None, Before, Inside, Contradiction };

Fact Classify(const SubQ& q, int number, std::int32_t start) {
  if (q.track == number) {
    // This track's INDEX 01 (or a later index) before the table's INDEX 01:
    // Q and the table of contents disagree.
    if (q.index != 0 && q.absoluteLba < start) return Fact::Contradiction;
    return q.absoluteLba < start ? Fact::Inside : Fact::None;
  }
  // A later track (or the lead-out) before this one's start.
  if (q.track > number) return Fact::Contradiction;
  return Fact::Before;
}

// The first sector of the pregap of track `number` whose INDEX 01 is at
// `start` (not track 1), searched above `lowest`, the previous track's
// INDEX 01. Every Q section read is a fact about its own address: one of
// this track lies at or after the pregap's start, one of an earlier track
// before it; the bracket between the two closes in. A probe that tells
// nothing new (a bad CRC, a catalogue or ISRC section, an unreadable
// sector) is not read again: the next one is the middle of the largest
// stretch of the bracket not yet probed, and when none is left, a sector
// just outside the bracket (a drive may return a neighbour's Q, which
// counts for its own address). Unknown when no probe is left, when the reads
// run out, or when sections contradict each other or the table of
// contents. (So the boundary is unknown too when the one sector between the
// two sides is a catalogue or ISRC section: nothing says which side it is
// on.)
std::optional<std::int32_t> FindPregapStart(Asking& asking, int number, std::int32_t start,
                                            std::int32_t lowest, const DiscExtrasOptions& o) {
  std::int32_t before = lowest;  // the last sector known to lie before the pregap
  std::int32_t inside = start;   // the first sector known to lie in it (or INDEX 01)
  // A track without a pregap shows at once; then the common 2 seconds; then
  // the window's far end, beyond which a pregap is seldom.
  const std::int32_t guesses[] = {start - 1, start - 150, start - 151, start - o.pregapWindow};
  std::size_t next = 0;
  std::vector<std::int32_t> spent;  // probes that told nothing new
  auto isSpent = [&](std::int32_t x) { return std::find(spent.begin(), spent.end(), x) != spent.end(); };
  auto usable = [&](std::int32_t x) { return x > before && x < inside && !isSpent(x); };
  // After a probe that told nothing, its neighbour (an isolated bad section
  // is the common case); after that one too, the middle of the largest
  // stretch not yet probed.
  std::optional<std::int32_t> neighbour;
  auto nextProbe = [&]() -> std::optional<std::int32_t> {
    if (neighbour && usable(*neighbour)) return neighbour;
    for (; next < std::size(guesses); ++next)
      if (usable(guesses[next])) return guesses[next++];
    std::vector<std::int32_t> cuts{before, inside};
    for (std::int32_t x : spent)
      if (x > before && x < inside) cuts.push_back(x);
    std::sort(cuts.begin(), cuts.end());
    std::int32_t lo = 0, width = 0;
    for (std::size_t k = 0; k + 1 < cuts.size(); ++k)
      if (cuts[k + 1] - cuts[k] - 1 > width) {
        lo = cuts[k];
        width = cuts[k + 1] - cuts[k] - 1;
      }
    if (width > 0) return lo + (width + 1) / 2;
    // Nothing left inside: just outside, for a drive whose Q is a
    // neighbour's.
    for (std::int32_t d = 0; d < kAddressTolerance; ++d)
      for (std::int32_t x : {before - d, inside + d})
        if (x >= 0 && !isSpent(x)) return x;
    return std::nullopt;
  };
  int reads = 0, fruitless = 0;
  while (inside - before > 1) {
    if (next >= std::size(guesses) && !o.followLongPregaps && before < start - o.pregapWindow)
      return std::nullopt;  // the pregap reaches beyond the window
    const auto probe = nextProbe();
    if (!probe || reads++ >= o.maxQReadsPerTrack) return std::nullopt;
    const bool wasNeighbour = probe == neighbour;
    neighbour.reset();
    const auto q = asking.Q(*probe);
    if (asking.Stopped() || asking.QDone()) return std::nullopt;
    bool progress = false;
    if (q) {
      const std::int32_t a = q->absoluteLba;
      switch (Classify(*q, number, start)) {
        case Fact::Contradiction: return std::nullopt;
        case Fact::None: break;
        case Fact::Inside:
          if (a <= before) return std::nullopt;  // an earlier track was seen there
          progress = a < inside;
          if (progress) inside = a;
          break;
        case Fact::Before:
          if (a >= inside) return std::nullopt;  // this track was seen there
          progress = a > before;
          if (progress) before = a;
          break;
      }
    }
    if (progress) {
      fruitless = 0;
      continue;
    }
    spent.push_back(*probe);
    if (++fruitless >= kFruitlessProbeLimit) return std::nullopt;
    if (!wasNeighbour) neighbour = usable(*probe + 1) ? *probe + 1 : *probe - 1;
  }
  return inside;
}

// Track 1: every sector before its INDEX 01 is its pregap (its pause begins
// at the disc's start, 150 sectors before LBA 0), so nothing is searched;
// one section just before INDEX 01 confirms the drive's Q says so.
std::optional<std::int32_t> ConfirmFirstPregap(Asking& asking, int number, std::int32_t start) {
  if (start == 0) return 0;
  for (int step = 0; step <= 2 * kNeighbourReach; ++step) {
    const std::int32_t at = start - 1 + (step + 1) / 2 * (step % 2 ? 1 : -1);
    if (at < 0) continue;
    const auto q = asking.Q(at);
    if (asking.Stopped() || asking.QDone()) return std::nullopt;
    if (!q) continue;
    switch (Classify(*q, number, start)) {
      case Fact::Inside: return 0;
      case Fact::None: break;
      case Fact::Before:
      case Fact::Contradiction: return std::nullopt;  // an earlier track than the first
    }
  }
  return std::nullopt;
}

// The starts of the index points 2, 3... of track `number`, whose INDEX 01
// is at `start` and whose sectors (of index 1 and later) end before `end`.
// Index numbers only grow within a track, so each start is bisected
// between a sector known below it and one known at or after it. Whatever
// is unclear (an unreadable stretch, a section of another track, a probe
// that tells nothing new) ends the search with the points found so far.
std::vector<std::int32_t> FindIndexPoints(Asking& asking, int number, std::int32_t start, std::int32_t end,
                                          int maxReads) {
  std::vector<std::int32_t> points;
  int reads = 0;
  // The index at a sector of this track at `at` or just beside it (past a
  // catalogue or ISRC section); *where is the address the section gives.
  auto indexNear = [&](std::int32_t at, std::int32_t* where) -> std::optional<int> {
    for (const std::int32_t x : {at, at + 1, at - 1, at + 2}) {
      if (x < start || x >= end) continue;
      if (reads++ >= maxReads) return std::nullopt;
      const auto q = asking.Q(x);
      if (asking.Stopped() || asking.QDone()) return std::nullopt;
      if (!q) continue;
      if (q->track != number || q->index < 1 || q->absoluteLba < start || q->absoluteLba >= end)
        return std::nullopt;
      *where = q->absoluteLba;
      return q->index;
    }
    return std::nullopt;
  };
  if (end - start < 2) return points;
  std::int32_t lastAt = 0;
  const auto last = indexNear(end - 1, &lastAt);
  if (!last || *last < 2) return points;
  std::int32_t below = start;  // a sector known to have an index below j
  for (int j = 2; j <= *last && j <= 99; ++j) {
    std::int32_t above = lastAt;  // one known to have index j or later
    int aboveIndex = *last;
    while (above - below > 1) {
      std::int32_t at = 0;
      const auto index = indexNear(below + (above - below) / 2, &at);
      if (!index || at <= below || at >= above) return points;
      if (*index >= j) {
        above = at;
        aboveIndex = *index;
      } else {
        below = at;
      }
    }
    // Index numbers go up one at a time: two starting together is a Q
    // sub-channel that cannot be right.
    if (aboveIndex != j) return points;
    points.push_back(above);
    below = above;
  }
  return points;
}

}  // namespace

DiscExtras ReadDiscExtras(Transport& transport, const DiscToc& toc,
                          const DiscExtrasOptions& options) {
  DiscExtras out;
  for (const TocTrack& d : toc.tracks) {
    TrackExtras t;
    t.number = d.number;
    t.audio = d.Audio();
    t.startLba = d.startLba;
    out.tracks.push_back(t);
  }
  Asking asking(transport, out);

  bool askCatalog = options.readCodes, askIsrc = options.readCodes;
  if (askCatalog && !out.tracks.empty()) {
    const Asking::Answer a = asking.Note(ReadMediaCatalogNumber(transport, out.catalog));
    if (a == Asking::Answer::Refused) {
      out.codesRefused = true;
      // No READ SUB-CHANNEL at all: no ISRC either.
      if (transport.LastSense()[12] == 0x20) askIsrc = false;
    }
  }

  bool isrcAnswered = false;
  for (std::size_t i = 0; i < out.tracks.size() && !asking.Stopped(); ++i) {
    TrackExtras& t = out.tracks[i];
    if (!t.audio || t.number < 1 || t.number > 99) continue;
    // The search first, then the ISRC: both are near the track's start.
    if (options.readPregaps && !asking.QDone()) {
      const std::int32_t lowest = i == 0 ? -1 : out.tracks[i - 1].startLba;
      if (t.startLba > lowest && t.startLba >= 0) {
        const auto first =
            i == 0 ? ConfirmFirstPregap(asking, t.number, t.startLba)
                   : FindPregapStart(asking, t.number, t.startLba, lowest, options);
        if (first) {
          t.pregapKnown = true;
          t.pregapSectors = t.startLba - *first;
        }
      }
    }
    if (askIsrc && !asking.Stopped()) {
      const Asking::Answer a = asking.Note(ReadTrackIsrc(transport, t.number, t.isrc));
      if (a == Asking::Answer::Good) {
        isrcAnswered = true;
      } else if (a == Asking::Answer::Refused && !isrcAnswered) {
        out.codesRefused = true;
        askIsrc = false;
      }
    }
  }
  if (options.readIndexPoints) {
    for (std::size_t i = 0; i < out.tracks.size() && !asking.Stopped() && !asking.QDone(); ++i) {
      TrackExtras& t = out.tracks[i];
      if (!t.audio || t.number < 1 || t.number > 99 || t.startLba < 0) continue;
      // The track's index 1 and later end where the next track's pregap
      // begins (or, not known, the next track), or at the lead-out.
      std::int32_t end = toc.leadOut.startLba;
      if (i + 1 < out.tracks.size()) {
        const TrackExtras& n = out.tracks[i + 1];
        end = n.pregapKnown ? n.PregapStartLba() : n.startLba;
      }
      const TocTrack& d = toc.tracks[i];
      if (d.lengthFrames > 0) end = std::min(end, t.startLba + d.lengthFrames);
      t.indexLbas = FindIndexPoints(asking, t.number, t.startLba, end, options.maxQReadsPerTrack);
    }
  }
  return out;
}

void ApplyDiscExtras(const DiscExtras& extras, DiscToc& toc) {
  toc.catalog = extras.catalog;
  const std::size_t n = std::min(extras.tracks.size(), toc.tracks.size());
  for (std::size_t i = 0; i < n; ++i) {
    const TrackExtras& x = extras.tracks[i];
    TocTrack& t = toc.tracks[i];
    t.isrc = x.isrc;
    t.pregapKnown = x.pregapKnown;
    t.pregapSectors = x.pregapKnown ? x.pregapSectors : 0;
  }
}

}  // namespace sonarvex
