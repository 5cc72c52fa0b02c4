#include "drive/DiscModel.h"

#include <charconv>
#include <cstring>

#include "drive/DriveCommands.h"
#include "drive/Transport.h"
#include "platform/Cp1251.h"
#include "platform/Dialogs.h"

namespace sonarvex {

namespace {

constexpr int kDescriptorCount = (kTocLength - 4) / 8;  // 100

const std::uint8_t* Descriptor(const std::uint8_t (&toc)[kTocLength], int i) {
  static const std::uint8_t kEmpty[8] = {};
  if (i < 0 || i >= kDescriptorCount) return kEmpty;
  return toc + 4 + 8 * i;
}

int DescriptorFrames(const std::uint8_t (&toc)[kTocLength], int i) {
  const std::uint8_t* d = Descriptor(toc, i);
  return d[5] * kFramesPerMinute + d[6] * kFramesPerSecond + d[7];
}

int DescriptorSeconds(const std::uint8_t (&toc)[kTocLength], int i) {
  const std::uint8_t* d = Descriptor(toc, i);
  return d[5] * 60 + d[6];
}

// Bit 2 of the control nibble marks a data track; the other bits (copy
// permitted, pre-emphasis, four channels) say nothing about it.
bool AudioControl(int control) { return (control & 0x04) == 0; }

std::uint32_t SizeOfLength(Msf length) {
  return static_cast<std::uint32_t>(MsfToFrames(length)) * kBytesPerSector;
}

// A data track that opens a second session: moves its start back over the
// lead-out and lead-in between the sessions and ends the previous track
// there. When the previous track would be left with no sectors the gap is
// not there, and nothing changes.
bool SecondSessionCorrection(AlbumTrackEntry& t, AlbumTrackEntry& p, int d) {
  if (t.AudioFlag) return false;
  const int e = MsfToFrames(t.Start) - d - 11250;
  const int f = e - d - p.StartSector;
  if (f <= 0) return false;
  t.StartSector = e - d;
  t.Start = FramesToMsf(e);
  p.Length = FramesToMsf(f);
  p.Size = SizeOfLength(p.Length);
  return true;
}

// Whether descriptor i starts a later session. Without the drive's word
// every data track after the first may; with it, only the first track of
// the last session does, and only when that is not the disc's first track.
// The lead-out (i == n) moves with the last session's first track.
bool OpensLaterSession(const std::uint8_t (&toc)[kTocLength], int i, int n,
                       const SessionInfo& sessions, bool lastSessionMoved) {
  if (!sessions.known) return true;
  if (i == n) return lastSessionMoved;
  const int first = sessions.firstTrackOfLastSession;
  return first != Descriptor(toc, 0)[2] && Descriptor(toc, i)[2] == first;
}

std::string TwoDigits(int value) {
  std::string s = std::to_string(value);
  return s.size() < 2 ? "0" + s : s;
}

}  // namespace

int TocTrackCount(const std::uint8_t (&toc)[kTocLength]) {
  int n = toc[3];
  if (n > kMaxTocTracks) n = kMaxTocTracks;
  const int dataLength = toc[0] << 8 | toc[1];
  if (dataLength > 0) {
    int available = dataLength >= 2 ? (dataLength - 2) / 8 : 0;
    if (available > kDescriptorCount) available = kDescriptorCount;
    if (n + 1 > available) n = available - 1;
  }
  return n;
}

std::uint32_t DiscIdFromToc(const std::uint8_t (&toc)[kTocLength]) {
  int n = TocTrackCount(toc);
  if (n < 0) n = 0;
  std::uint32_t sum = 0;
  for (int i = 0; i < n; ++i)
    for (int s = DescriptorSeconds(toc, i); s > 0; s /= 10) sum += static_cast<std::uint32_t>(s % 10);
  const std::uint32_t t =
      static_cast<std::uint32_t>(DescriptorSeconds(toc, n) - DescriptorSeconds(toc, 0));
  return (sum % 255) << 24 | t << 8 | static_cast<std::uint32_t>(n);
}

SessionInfo SessionInfoFromReply(const std::uint8_t (&reply)[kSessionInfoLength]) {
  SessionInfo info;
  const int dataLength = reply[0] << 8 | reply[1];
  if (dataLength < 6) return info;  // not even the first track of the last session
  info.known = true;
  info.firstTrackOfLastSession = reply[6];
  return info;
}

int FillTracksFromToc(const std::uint8_t (&toc)[kTocLength], AlbumRecord& album,
                      bool titlesKnown, const SessionInfo& sessions) {
  int n = TocTrackCount(toc);
  const std::uint8_t* first = Descriptor(toc, 0);
  const int d = static_cast<std::uint16_t>(first[6] * kFramesPerSecond + first[7]);
  album.FirstTrackOffset = static_cast<std::uint16_t>(d);
  album.DiscId = static_cast<std::int32_t>(DiscIdFromToc(toc));
  if (n < 0) {
    album.TrackCount = 0;
    return 0;
  }
  album.TrackCount = static_cast<std::uint8_t>(n);
  bool lastSessionMoved = false;
  for (int i = 0; i <= n; ++i) {
    AlbumTrackEntry& rec = album.Tracks[i];
    if (!titlesKnown) SetField(rec.Title, "Track" + std::to_string(i + 1));
    int length = DescriptorFrames(toc, i + 1) - DescriptorFrames(toc, i);
    if (length < 0) length = 0;  // a lead-out (or next track) before this start
    rec.Length = FramesToMsf(length);
    const std::uint8_t* desc = Descriptor(toc, i);
    rec.Start = Msf{desc[5], desc[6], desc[7]};
    rec.Size = SizeOfLength(rec.Length);
    rec.StartSector = DescriptorFrames(toc, i) - d;
    rec.AudioFlag = AudioControl(desc[1] & 0x0F) ? 1 : 0;
    if (!rec.AudioFlag && i > 0 && OpensLaterSession(toc, i, n, sessions, lastSessionMoved))
      lastSessionMoved = SecondSessionCorrection(rec, album.Tracks[i - 1], d) || lastSessionMoved;
  }
  return n;
}

std::string SizeText(double megabytes) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, megabytes, std::chars_format::fixed, 2);
  if (r.ec != std::errc()) return "0.00 Мб";
  return std::string(buf, r.ptr) + " Мб";
}


std::vector<TrackRow> BuildTrackRows(const AlbumRecord& album, int trackCount) {
  std::vector<TrackRow> rows;
  if (trackCount > kMaxTocTracks) trackCount = kMaxTocTracks;
  for (int i = 0; i < trackCount; ++i) {
    const AlbumTrackEntry& t = album.Tracks[i];
    TrackRow row;
    row.audio = t.AudioFlag != 0;
    if (!row.audio) {
      row.caption = "DataTrack";
      row.image = 3;
      row.checked = false;
    } else {
      row.caption = FieldUtf8(t.Title);
      row.checked = t.CopiedFlag == 0;
      row.image = row.checked ? 1 : 2;
      row.time = TwoDigits(t.Length.minute) + ":" + TwoDigits(t.Length.second) + ":" +
                 TwoDigits(t.Length.frame);
      row.size = SizeText(t.Size / 1048576.0);
      row.state = row.checked ? "Не скопирован" : "Cкопирован";
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string TrackPanelText(int trackCount) { return "Треков: " + std::to_string(trackCount); }

std::string TimePanelText(const AlbumRecord& album, int trackCount) {
  if (trackCount < 0) trackCount = 0;
  if (trackCount > kMaxTocTracks) trackCount = kMaxTocTracks;
  const Msf& m = album.Tracks[trackCount].Start;
  return "Время: " + std::to_string(m.minute) + ":" + std::to_string(m.second) + ":" +
         std::to_string(m.frame);
}

DiscView ReadDisc(Transport& transport, int device, std::uint8_t driveType, Dialogs& dialogs,
                  AlbumRecord& album, const AlbumLookup& lookup) {
  DiscView view;
  std::memset(&album, 0, sizeof album);
  std::uint8_t inquiry[kInquiryLength] = {};
  CommandResult tocResult;
  if (transport.Kind() == TransportKind::Spti) {
    transport.Close();
    if (!transport.SelectDevice(device, driveType)) {
      dialogs.Message(kDriverUnavailable, kProgramTitle, MsgIcon::Error, MsgButtons::Ok);
      return view;
    }
    Inquiry(transport, inquiry);
    tocResult = ReadTOC(transport, view.toc);
  } else {
    if (!transport.SelectDevice(device, driveType)) return view;
    tocResult = ReadTOC(transport, view.toc);
    Inquiry(transport, inquiry);
  }
  view.inquiry = Cp1251ToUtf8(IdentificationText(inquiry, 24));
  if (!transport.Succeeded(tocResult)) {
    std::memset(view.toc, 0, sizeof view.toc);
    return view;
  }
  view.present = true;
  // Whether the disc really has a later session: an image or disc whose
  // data track follows the audio in the same session keeps its lengths.
  std::uint8_t sessionReply[kSessionInfoLength] = {};
  if (transport.Succeeded(ReadSessionInfo(transport, sessionReply)))
    view.sessions = SessionInfoFromReply(sessionReply);
  view.discId = DiscIdFromToc(view.toc);
  view.known = lookup && lookup(view.discId, album);
  view.trackCount = FillTracksFromToc(view.toc, album, view.known, view.sessions);
  view.firstTrackOffset = album.FirstTrackOffset;
  view.rows = BuildTrackRows(album, view.trackCount);
  for (const auto& r : view.rows) view.hasAudio = view.hasAudio || r.audio;
  view.trackPanel = TrackPanelText(view.trackCount);
  view.timePanel = TimePanelText(album, view.trackCount);
  return view;
}

}  // namespace sonarvex
