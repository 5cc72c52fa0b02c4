#include "accuraterip/AccurateRip.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "drive/DiscToc.h"

namespace sonarvex {

namespace {

std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

int DigitSum(std::uint32_t n) {
  int s = 0;
  for (; n > 0; n /= 10) s += static_cast<int>(n % 10);
  return s;
}

}  // namespace

ArToc ArTocOf(const DiscToc& toc) {
  ArToc out;
  for (const TocTrack& t : toc.tracks) out.tracks.push_back({t.startLba, t.Audio()});
  out.leadOut = toc.leadOut.startLba;
  return out;
}

ArDiscIds ComputeArDiscIds(const ArToc& toc) {
  ArDiscIds ids;
  int number = 0;
  for (const ArTocTrack& t : toc.tracks) {
    if (!t.audio) continue;
    ++number;
    const std::uint32_t offset = static_cast<std::uint32_t>(std::max<std::int32_t>(t.start, 0));
    ids.id1 += offset;
    ids.id2 += std::max<std::uint32_t>(offset, 1) * static_cast<std::uint32_t>(number);
  }
  const std::uint32_t leadOut = static_cast<std::uint32_t>(std::max<std::int32_t>(toc.leadOut, 0));
  ids.trackCount = number;
  ids.id1 += leadOut;
  ids.id2 += leadOut * static_cast<std::uint32_t>(number + 1);

  // The CDDB identifier counts in seconds from the start of the lead-in.
  int digits = 0;
  for (const ArTocTrack& t : toc.tracks)
    digits += DigitSum(static_cast<std::uint32_t>(std::max<std::int32_t>(t.start, 0) + 150) / 75);
  const std::uint32_t first = toc.tracks.empty() ? 0 : static_cast<std::uint32_t>(
                                                           std::max<std::int32_t>(toc.tracks[0].start, 0));
  const std::uint32_t seconds = (leadOut + 150) / 75 - (first + 150) / 75;
  ids.cddb = (static_cast<std::uint32_t>(digits % 255) << 24) | ((seconds & 0xFFFF) << 8) |
             (static_cast<std::uint32_t>(toc.tracks.size()) & 0xFF);
  return ids;
}

std::string ArDiscName(const ArDiscIds& ids) {
  char name[64];
  std::snprintf(name, sizeof name, "dBAR-%03d-%08x-%08x-%08x", ids.trackCount & 0xFFF, ids.id1, ids.id2,
                ids.cddb);
  return name;
}

std::string ArEntryPath(const ArDiscIds& ids) {
  const std::string hex = ArHex(ids.id1);
  return std::string("/accuraterip/") + hex[7] + '/' + hex[6] + '/' + hex[5] + '/' + ArDiscName(ids) + ".bin";
}

int ArEntryIndex(const ArToc&, int tocIndex0) { return tocIndex0 + 1; }

bool IsFirstArTrack(const ArToc& toc, int tocIndex0) {
  for (int i = 0; i < static_cast<int>(toc.tracks.size()); ++i)
    if (toc.tracks[i].audio) return i == tocIndex0;
  return false;
}

bool IsLastArTrack(const ArToc& toc, int tocIndex0) {
  for (int i = static_cast<int>(toc.tracks.size()) - 1; i >= 0; --i)
    if (toc.tracks[i].audio) return i == tocIndex0;
  return false;
}

ArChecksum::ArChecksum(std::uint64_t totalSamples, bool firstTrack, bool lastTrack) {
  to_ = totalSamples;
  if (firstTrack) from_ += kArSkippedSamples - 1;
  if (lastTrack) to_ = totalSamples >= kArSkippedSamples ? totalSamples - kArSkippedSamples : 0;
}

void ArChecksum::Add(const void* pcm, std::size_t bytes) {
  const auto* p = static_cast<const unsigned char*>(pcm);
  auto take = [this](const unsigned char* s) {
    const std::uint64_t k = ++position_;
    if (k < from_ || k > to_) return;
    const std::uint64_t product = static_cast<std::uint64_t>(Le32(s)) * k;
    v1_ += static_cast<std::uint32_t>(product);
    v2_ += static_cast<std::uint32_t>(product) + static_cast<std::uint32_t>(product >> 32);
  };
  // A sample split between two calls is completed first.
  while (carried_ > 0 && bytes > 0) {
    carry_[carried_++] = *p++;
    --bytes;
    if (carried_ == 4) {
      take(carry_);
      carried_ = 0;
    }
  }
  // The whole samples: only those inside the counted range, without a test
  // per sample.
  const std::uint64_t n = bytes / 4;
  const std::uint64_t before = position_;
  const std::uint64_t lo = std::max(before + 1, from_);
  const std::uint64_t hi = std::min(before + n, to_);
  std::uint32_t v1 = v1_, v2 = v2_;
  for (std::uint64_t k = lo; k <= hi; ++k) {
    const std::uint64_t product = static_cast<std::uint64_t>(Le32(p + (k - before - 1) * 4)) * k;
    v1 += static_cast<std::uint32_t>(product);
    v2 += static_cast<std::uint32_t>(product) + static_cast<std::uint32_t>(product >> 32);
  }
  v1_ = v1;
  v2_ = v2;
  position_ = before + n;
  p += n * 4;
  bytes -= n * 4;
  while (bytes > 0) {
    carry_[carried_++] = *p++;
    --bytes;
  }
}

bool ParseArEntry(std::string_view bytes, std::vector<ArSubmission>& out, std::string* error) {
  out.clear();
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    out.clear();
    return false;
  };
  if (bytes.empty()) return fail("запись базы пуста");
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t at = 0;
  while (at < bytes.size()) {
    if (bytes.size() - at < 13) return fail("запись базы обрывается в заголовке");
    ArSubmission s;
    s.ids.trackCount = p[at];
    s.ids.id1 = Le32(p + at + 1);
    s.ids.id2 = Le32(p + at + 5);
    s.ids.cddb = Le32(p + at + 9);
    at += 13;
    const std::size_t need = static_cast<std::size_t>(s.ids.trackCount) * 9;
    if (bytes.size() - at < need) return fail("запись базы обрывается в значениях дорожек");
    s.tracks.resize(static_cast<std::size_t>(s.ids.trackCount));
    for (ArTrackValue& t : s.tracks) {
      t.confidence = p[at];
      t.crc = Le32(p + at + 1);
      t.frame450Crc = Le32(p + at + 5);
      at += 9;
    }
    out.push_back(std::move(s));
  }
  return true;
}

ArVerdict VerifyArTrack(const std::vector<ArSubmission>& entry, const ArDiscIds& disc, int index,
                        std::uint32_t v1, std::uint32_t v2) {
  ArVerdict v;
  bool known = false;
  for (const ArSubmission& s : entry) {
    if (s.ids.id1 != disc.id1 || s.ids.id2 != disc.id2 || s.ids.cddb != disc.cddb) continue;
    if (index < 1 || index > static_cast<int>(s.tracks.size())) continue;
    const ArTrackValue& t = s.tracks[static_cast<std::size_t>(index - 1)];
    if (t.confidence == 0) continue;
    known = true;
    if (t.crc == v1 || t.crc == v2) {
      v.status = ArStatus::Match;
      v.confidence += t.confidence;
    }
  }
  if (v.status != ArStatus::Match) v.status = known ? ArStatus::Mismatch : ArStatus::Absent;
  return v;
}

std::string ArVerdictText(const ArVerdict& v) {
  switch (v.status) {
    case ArStatus::Match: return "точно (достоверность " + std::to_string(v.confidence) + ")";
    case ArStatus::Mismatch: return "не совпадает";
    case ArStatus::Absent: break;
  }
  return "нет в базе";
}

std::string ArVerdictWord(const ArVerdict& v) {
  switch (v.status) {
    case ArStatus::Match: return "match " + std::to_string(v.confidence);
    case ArStatus::Mismatch: return "mismatch";
    case ArStatus::Absent: break;
  }
  return "absent";
}

std::string ArHex(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

}  // namespace sonarvex
