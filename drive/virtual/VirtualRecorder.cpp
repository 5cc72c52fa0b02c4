#include "drive/virtual/VirtualRecorder.h"

#include <cstdio>

namespace sonarvex {

namespace {

constexpr int kMaxFrames = 100 * 4500 - 1;  // 99:59:74

std::optional<CueSheetLayout> Refuse(CueSheetProblem* problem, std::string text,
                                     std::uint8_t asc = 0x26, std::uint8_t ascq = 0x00) {
  if (problem) *problem = CueSheetProblem{asc, ascq, std::move(text)};
  return std::nullopt;
}

std::string CueMsf(std::int32_t lba) {
  char s[16];
  const std::int32_t f = lba < 0 ? 0 : lba;
  std::snprintf(s, sizeof s, "%02d:%02d:%02d", f / 4500, (f / 75) % 60, f % 75);
  return s;
}

// A text of the written sheet in quotes; the sheet has no escape for a quote
// mark, and a line ends the entry.
std::string CueQuoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) out += c == '"' ? '\'' : (c == '\r' || c == '\n') ? ' ' : c;
  return out + "\"";
}

}  // namespace

std::optional<CueSheetLayout> CheckCueSheet(const std::uint8_t* data, std::size_t size,
                                            CueSheetProblem* problem) {
  if (!data || size == 0 || size % 8 != 0)
    return Refuse(problem, "the cue sheet is not a whole number of 8-byte entries");
  const std::size_t n = size / 8;
  if (n < 3) return Refuse(problem, "a cue sheet needs a lead-in, a track and a lead-out");
  CueSheetLayout layout;
  std::int32_t lastAddress = -151;
  std::string pendingIsrc;  // read from ADR 3 entries, for the track that follows
  int pendingIsrcTrack = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t* e = data + 8 * i;
    const std::string at = "entry " + std::to_string(i) + ": ";
    const int adr = e[0] & 0x0F;
    if (adr == 0x02 || adr == 0x03) {
      // A code in two entries: the catalogue number after the lead-in entry,
      // an ISRC before its track's first entry.
      if (i == 0 || i + 1 >= n - 1 || (data[8 * (i + 1)] & 0x0F) != adr)
        return Refuse(problem, at + "a code entry without its second half");
      const std::uint8_t* f = e + 8;
      if (adr == 0x02) {
        if (i != 1 || !layout.catalog.empty()) return Refuse(problem, at + "the catalogue number must follow the lead-in");
        std::string mcn(reinterpret_cast<const char*>(e + 1), 7);
        mcn.append(reinterpret_cast<const char*>(f + 1), 6);
        for (char c : mcn)
          if (c < '0' || c > '9') return Refuse(problem, at + "the catalogue number is not 13 digits");
        if (f[7] != 0) return Refuse(problem, at + "reserved byte of the catalogue number is not zero");
        layout.catalog = mcn;
      } else {
        const int expected = layout.tracks.empty() ? 1 : layout.tracks.back().number + 1;
        if (e[1] != expected || f[1] != expected || !pendingIsrc.empty())
          return Refuse(problem, at + "an ISRC not before its track");
        std::string isrc(reinterpret_cast<const char*>(e + 2), 6);
        isrc.append(reinterpret_cast<const char*>(f + 2), 6);
        for (std::size_t k = 0; k < isrc.size(); ++k) {
          const char c = isrc[k];
          const bool digit = c >= '0' && c <= '9', upper = c >= 'A' && c <= 'Z';
          if (k < 5 ? !(digit || upper) : !digit) return Refuse(problem, at + "the ISRC is malformed");
        }
        pendingIsrc = isrc;
        pendingIsrcTrack = expected;
      }
      ++i;
      continue;
    }
    if (adr != 0x01) return Refuse(problem, at + "ADR is not 1, 2 or 3");
    const std::uint8_t control = e[0] >> 4;
    const int tno = e[1], index = e[2], form = e[3];
    if (e[5] > 99 || e[6] > 59 || e[7] > 74) return Refuse(problem, at + "address is not a valid MSF");
    const std::int32_t frames = e[5] * 4500 + e[6] * 75 + e[7];
    if (frames > kMaxFrames) return Refuse(problem, at + "address beyond the disc");
    const std::int32_t lba = frames - 150;
    if (i == 0) {
      if (tno != 0 || (form != 0x01 && form != 0x41)) return Refuse(problem, at + "the first entry must be the lead-in");
      layout.cdTextLeadIn = form == 0x41;
      continue;
    }
    if (i == n - 1) {
      if (tno != 0xAA || index != 1 || form != 0x01)
        return Refuse(problem, at + "the last entry must be the lead-out");
      if (lba <= lastAddress || layout.tracks.empty() || lba <= layout.tracks.back().index1)
        return Refuse(problem, at + "the lead-out must follow the last track", 0x21, 0x02);
      if (!pendingIsrc.empty()) return Refuse(problem, at + "an ISRC without its track");
      layout.leadOutLba = lba;
      continue;
    }
    if (tno == 0 || tno == 0xAA) return Refuse(problem, at + "lead-in or lead-out in the middle");
    if (form != 0x00) return Refuse(problem, at + "only raw audio tracks are accepted");
    if (control & 0x04) return Refuse(problem, at + "a data track in an audio cue sheet");
    if (lba < lastAddress || (lba == lastAddress && i > 1))
      return Refuse(problem, at + "addresses go backwards", 0x21, 0x02);
    const bool newTrack = layout.tracks.empty() || layout.tracks.back().number != tno;
    if (newTrack) {
      const int expected = layout.tracks.empty() ? 1 : layout.tracks.back().number + 1;
      if (tno != expected) return Refuse(problem, at + "track numbers out of order");
      if (!layout.tracks.empty() && layout.tracks.back().index1 == CueSheetTrack::kNoIndex0)
        return Refuse(problem, at + "the track before has no INDEX 01");
      if (!pendingIsrc.empty() && pendingIsrcTrack != tno) return Refuse(problem, at + "an ISRC not before its track");
      CueSheetTrack t;
      t.number = tno;
      t.control = control;
      t.isrc = std::move(pendingIsrc);
      pendingIsrc.clear();
      t.index1 = CueSheetTrack::kNoIndex0;  // not seen yet
      layout.tracks.push_back(t);
    }
    CueSheetTrack& t = layout.tracks.back();
    if (index == 0) {
      if (!newTrack) return Refuse(problem, at + "INDEX 00 after INDEX 01");
      t.index0 = lba;
    } else if (index == 1) {
      if (t.index1 != CueSheetTrack::kNoIndex0) return Refuse(problem, at + "INDEX 01 twice");
      t.index1 = lba;
    } else {
      if (t.index1 == CueSheetTrack::kNoIndex0) return Refuse(problem, at + "an index point before INDEX 01");
      if (index > 99 || index != 2 + static_cast<int>(t.indices.size()))
        return Refuse(problem, at + "index numbers out of order");
      if (lba <= lastAddress) return Refuse(problem, at + "addresses go backwards", 0x21, 0x02);
      t.indices.push_back(lba);
    }
    lastAddress = lba;
  }
  if (layout.tracks.empty()) return Refuse(problem, "no tracks");
  if (layout.tracks.back().index1 == CueSheetTrack::kNoIndex0)
    return Refuse(problem, "the last track has no INDEX 01");
  const CueSheetTrack& first = layout.tracks.front();
  // Session at once: the first track's pregap starts the program area at
  // 00:00:00, its audio at LBA 0, or later when the pregap is longer.
  if (first.index0 == CueSheetTrack::kNoIndex0 ? first.index1 != 0 : (first.index0 != -150 || first.index1 < 0))
    return Refuse(problem, "track 1 must start at 00:02:00 or later with its pregap at 00:00:00", 0x21, 0x02);
  layout.firstLba = first.index0 != CueSheetTrack::kNoIndex0 ? first.index0 : first.index1;
  return layout;
}

std::string WrittenCueText(const CueSheetLayout& layout, std::int32_t endLba,
                           const std::string& binName, const CdText* cdText) {
  std::string text;
  if (!layout.catalog.empty()) text += "CATALOG " + layout.catalog + "\n";
  if (cdText && !cdText->performer.empty()) text += "PERFORMER " + CueQuoted(cdText->performer) + "\n";
  if (cdText && !cdText->title.empty()) text += "TITLE " + CueQuoted(cdText->title) + "\n";
  text += "FILE \"" + binName + "\" BINARY\n";
  for (const auto& t : layout.tracks) {
    if (t.index1 >= endLba) break;
    char head[32];
    std::snprintf(head, sizeof head, "  TRACK %02d AUDIO\n", t.number);
    text += head;
    if (const CdTextTrack* ct = cdText ? cdText->Track(t.number) : nullptr) {
      if (!ct->title.empty()) text += "    TITLE " + CueQuoted(ct->title) + "\n";
      if (!ct->performer.empty()) text += "    PERFORMER " + CueQuoted(ct->performer) + "\n";
    }
    if (!t.isrc.empty()) text += "    ISRC " + t.isrc + "\n";
    std::string flags;
    if (t.control & 0x02) flags += " DCP";
    if (t.control & 0x08) flags += " 4CH";
    if (t.control & 0x01) flags += " PRE";
    if (!flags.empty()) text += "    FLAGS" + flags + "\n";
    if (t.index0 != CueSheetTrack::kNoIndex0 && t.index0 >= 0 && t.index0 < t.index1)
      text += "    INDEX 00 " + CueMsf(t.index0) + "\n";
    else if (&t == &layout.tracks.front() && t.index1 > 0)
      text += "    INDEX 00 " + CueMsf(0) + "\n";
    text += "    INDEX 01 " + CueMsf(t.index1) + "\n";
    for (std::size_t i = 0; i < t.indices.size() && t.indices[i] < endLba; ++i) {
      char line[40];
      std::snprintf(line, sizeof line, "    INDEX %02d %s\n", static_cast<int>(i + 2), CueMsf(t.indices[i]).c_str());
      text += line;
    }
  }
  return text;
}

std::string BinPathForCue(const std::string& cuePath) {
  if (cuePath.size() > 4) {
    std::string ext = cuePath.substr(cuePath.size() - 4);
    for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (ext == ".cue") return cuePath.substr(0, cuePath.size() - 4) + ".bin";
  }
  return cuePath + ".bin";
}

}  // namespace sonarvex
