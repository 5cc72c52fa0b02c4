#include "drive/DiscToc.h"

#include <algorithm>

namespace sonarvex {

std::optional<DiscToc> ParseTocAnswer(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr || size < 4) return std::nullopt;
  const std::size_t held = std::min<std::size_t>(size, kTocLength);
  auto byte = [&](std::size_t at) -> std::uint8_t { return at < held ? data[at] : 0; };

  int n = std::min<int>(byte(3), kMaxTocTracks);
  const int dataLength = byte(0) << 8 | byte(1);
  if (dataLength > 0) {
    const int available = std::min(dataLength >= 2 ? (dataLength - 2) / 8 : 0, kTocDescriptorCount);
    if (n + 1 > available) n = available - 1;
  }
  if (n < 0) return std::nullopt;  // not even a lead-out

  DiscToc toc;
  toc.firstTrack = byte(2);
  toc.lastTrack = byte(3);
  auto descriptor = [&](int i) {
    const std::size_t at = 4 + 8 * static_cast<std::size_t>(i);
    TocTrack t;
    t.control = static_cast<std::uint8_t>(byte(at + 1) & 0x0F);
    t.number = byte(at + 2);
    t.address = Msf{byte(at + 5), byte(at + 6), byte(at + 7)};
    t.startLba = t.Frames() - kLeadInFrames;
    return t;
  };
  toc.tracks.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) toc.tracks.push_back(descriptor(i));
  toc.leadOut = descriptor(n);
  for (int i = 0; i < n; ++i) {
    TocTrack& t = toc.tracks[static_cast<std::size_t>(i)];
    t.lengthFrames = std::max(0, toc.Descriptor(i + 1).Frames() - t.Frames());
  }
  return toc;
}

SessionInfo SessionInfoFromReply(const std::uint8_t (&reply)[kSessionInfoLength]) {
  SessionInfo info;
  const int dataLength = reply[0] << 8 | reply[1];
  if (dataLength < 6) return info;  // not even the first track of the last session
  info.known = true;
  info.firstTrackOfLastSession = reply[6];
  info.lastSession = reply[3];
  return info;
}

void ApplySessionInfo(DiscToc& toc, const SessionInfo& sessions) {
  toc.sessions = sessions;
  const bool known = sessions.known && sessions.lastSession >= 1;
  for (TocTrack& t : toc.tracks) {
    if (!known)
      t.session = 0;
    else if (t.number >= sessions.firstTrackOfLastSession)
      t.session = sessions.lastSession;
    else
      t.session = sessions.lastSession <= 2 ? 1 : 0;  // which earlier session is not said
  }
  toc.leadOut.session = known ? sessions.lastSession : 0;
}

std::uint32_t CddbDiscId(const DiscToc& toc) {
  auto seconds = [](const TocTrack& t) { return t.address.minute * 60 + t.address.second; };
  const int n = toc.TrackCount();
  std::uint32_t sum = 0;
  for (int i = 0; i < n; ++i)
    for (int s = seconds(toc.tracks[static_cast<std::size_t>(i)]); s > 0; s /= 10)
      sum += static_cast<std::uint32_t>(s % 10);
  const std::uint32_t t = static_cast<std::uint32_t>(seconds(toc.leadOut) - seconds(toc.Descriptor(0)));
  return (sum % 255) << 24 | t << 8 | static_cast<std::uint32_t>(n);
}

}  // namespace sonarvex
