#include "metadata/MusicBrainzDiscId.h"

#include <cstdio>

#include "drive/DiscToc.h"
#include "platform/Sha1.h"

namespace sonarvex {

namespace {

// Lead-out, then lead-in, between the first and the second session.
constexpr std::int32_t kSessionGapSectors = 11400;

}  // namespace

std::optional<MusicBrainzToc> MusicBrainzTocOf(const DiscToc& toc) {
  int last = toc.TrackCount() - 1;
  while (last >= 0 && !toc.tracks[static_cast<std::size_t>(last)].Audio()) --last;
  if (last < 0) return std::nullopt;
  const int first = toc.tracks.front().number;
  if (first < 1 || first + last > kMaxTocTracks) return std::nullopt;
  MusicBrainzToc out;
  out.firstTrack = first;
  out.lastTrack = first + last;
  for (int i = 0; i <= last; ++i) out.offsets.push_back(toc.tracks[static_cast<std::size_t>(i)].Frames());
  if (last + 1 < toc.TrackCount()) {
    const TocTrack& data = toc.tracks[static_cast<std::size_t>(last) + 1];
    const TocTrack& audio = toc.tracks[static_cast<std::size_t>(last)];
    // The drive's word on the sessions counts when it gave one; without it
    // a data track behind the audio is taken for the enhanced CD's.
    const bool sameSession = data.session != 0 && data.session == audio.session;
    out.leadOut = data.Frames();
    if (!sameSession && data.Frames() - kSessionGapSectors > audio.Frames())
      out.leadOut = data.Frames() - kSessionGapSectors;
  } else {
    out.leadOut = toc.leadOut.Frames();
  }
  return out;
}

std::string MusicBrainzDiscId(const MusicBrainzToc& toc) {
  char piece[16];
  std::string text;
  text.reserve(4 + 8 * 100);
  std::snprintf(piece, sizeof piece, "%02X%02X", toc.firstTrack & 0xFF, toc.lastTrack & 0xFF);
  text += piece;
  std::snprintf(piece, sizeof piece, "%08X", static_cast<std::uint32_t>(toc.leadOut));
  text += piece;
  for (int track = 1; track <= 99; ++track) {
    const int i = track - toc.firstTrack;
    const std::int32_t offset =
        i >= 0 && i < static_cast<int>(toc.offsets.size()) ? toc.offsets[static_cast<std::size_t>(i)] : 0;
    std::snprintf(piece, sizeof piece, "%08X", static_cast<std::uint32_t>(offset));
    text += piece;
  }
  const Sha1Digest digest = Sha1(text);
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._";
  std::string id;
  for (std::size_t i = 0; i < digest.size(); i += 3) {
    const std::uint32_t b0 = digest[i];
    const std::uint32_t b1 = i + 1 < digest.size() ? digest[i + 1] : 0;
    const std::uint32_t b2 = i + 2 < digest.size() ? digest[i + 2] : 0;
    const std::uint32_t v = b0 << 16 | b1 << 8 | b2;
    id += kAlphabet[v >> 18 & 63];
    id += kAlphabet[v >> 12 & 63];
    id += i + 1 < digest.size() ? kAlphabet[v >> 6 & 63] : '-';
    id += i + 2 < digest.size() ? kAlphabet[v & 63] : '-';
  }
  return id;
}

std::string MusicBrainzTocParameter(const MusicBrainzToc& toc) {
  std::string text = std::to_string(toc.firstTrack) + "+" + std::to_string(toc.lastTrack) + "+" +
                     std::to_string(toc.leadOut);
  for (std::int32_t offset : toc.offsets) text += "+" + std::to_string(offset);
  return text;
}

}  // namespace sonarvex
