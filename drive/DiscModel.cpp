#include "drive/DiscModel.h"

#include <charconv>
#include <cstring>

#include "drive/DriveCommands.h"
#include "drive/Transport.h"
#include "platform/Cp1251.h"
#include "platform/Dialogs.h"

namespace sonarvex {

namespace {

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

// Whether track i starts a later session. Without the drive's word every
// data track after the first may; with it, only the first track of the
// last session does, and only when that is not the disc's first track.
// The lead-out (i == n) moves with the last session's first track.
bool OpensLaterSession(const DiscToc& toc, int i, bool lastSessionMoved) {
  const SessionInfo& sessions = toc.sessions;
  if (!sessions.known) return true;
  if (i == toc.TrackCount()) return lastSessionMoved;
  const int first = sessions.firstTrackOfLastSession;
  return first != toc.Descriptor(0).number && toc.Descriptor(i).number == first;
}

// The identifier of the table with the addresses of the rows.
std::uint32_t RowsCddbDiscId(const DiscToc& toc, const AlbumRecord& rows) {
  DiscToc moved = toc;
  const int n = toc.TrackCount();
  for (int i = 0; i < n; ++i) moved.tracks[static_cast<std::size_t>(i)].address = rows.Tracks[i].Start;
  moved.leadOut.address = rows.Tracks[n].Start;
  return CddbDiscId(moved);
}

// Whether a stored album was stored for the disc whose rows these are.
bool StoredForRows(const AlbumRecord& stored, const AlbumRecord& rows) {
  if (stored.TrackCount != rows.TrackCount) return false;
  for (int i = 0; i <= rows.TrackCount && i < kMaxAlbumTracks; ++i) {
    const AlbumTrackEntry& a = stored.Tracks[i];
    const AlbumTrackEntry& b = rows.Tracks[i];
    if (a.Start.minute != b.Start.minute || a.Start.second != b.Start.second ||
        a.Start.frame != b.Start.frame || (a.AudioFlag != 0) != (b.AudioFlag != 0))
      return false;
  }
  return true;
}

std::string TwoDigits(int value) {
  std::string s = std::to_string(value);
  return s.size() < 2 ? "0" + s : s;
}

}  // namespace

int FillTracksFromToc(const DiscToc& toc, AlbumRecord& album, bool titlesKnown) {
  const int n = toc.TrackCount();
  const Msf& first = toc.Descriptor(0).address;
  const int d = static_cast<std::uint16_t>(first.second * kFramesPerSecond + first.frame);
  album.FirstTrackOffset = static_cast<std::uint16_t>(d);
  album.DiscId = static_cast<std::int32_t>(CddbDiscId(toc));
  album.TrackCount = static_cast<std::uint8_t>(n);
  // Numbered as the disc numbers its first track; the rows after it count on
  // from there.
  const int firstNumber = n > 0 ? toc.tracks.front().number : 1;
  album.FirstTrackNumber =
      firstNumber > 1 && firstNumber + n - 1 <= kMaxTocTracks ? static_cast<std::uint8_t>(firstNumber) : 0;
  bool lastSessionMoved = false;
  for (int i = 0; i <= n; ++i) {
    AlbumTrackEntry& rec = album.Tracks[i];
    const TocTrack& desc = toc.Descriptor(i);
    if (!titlesKnown) SetField(rec.Title, "Track" + std::to_string(TrackNumberOfRow(album, i)));
    rec.Length = FramesToMsf(desc.lengthFrames);
    rec.Start = desc.address;
    rec.Size = SizeOfLength(rec.Length);
    rec.StartSector = desc.Frames() - d;
    rec.AudioFlag = desc.Audio() ? 1 : 0;
    if (!rec.AudioFlag && i > 0 && OpensLaterSession(toc, i, lastSessionMoved))
      lastSessionMoved = SecondSessionCorrection(rec, album.Tracks[i - 1], d) || lastSessionMoved;
  }
  return n;
}

std::uint32_t CorrectedCddbDiscId(const DiscToc& toc) {
  AlbumRecord rows{};
  FillTracksFromToc(toc, rows, true);
  return RowsCddbDiscId(toc, rows);
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
  std::uint8_t answer[kTocLength] = {};
  CommandResult tocResult;
  if (transport.Kind() == TransportKind::Spti) {
    transport.Close();
    if (!transport.SelectDevice(device, driveType)) {
      dialogs.Message(kDriverUnavailable, kProgramTitle, MsgIcon::Error, MsgButtons::Ok);
      return view;
    }
    Inquiry(transport, inquiry);
    tocResult = ReadTOC(transport, answer);
  } else {
    if (!transport.SelectDevice(device, driveType)) return view;
    tocResult = ReadTOC(transport, answer);
    Inquiry(transport, inquiry);
  }
  view.inquiry = Cp1251ToUtf8(IdentificationText(inquiry, 24));
  if (!transport.Succeeded(tocResult)) return view;
  view.present = true;
  // An answer with no usable table leaves the disc without tracks.
  std::optional<DiscToc> parsed = ParseTocAnswer(answer, sizeof answer);
  const bool tableRead = parsed.has_value();
  if (tableRead) view.toc = std::move(*parsed);
  // Whether the disc really has a later session: an image or disc whose
  // data track follows the audio in the same session keeps its lengths.
  std::uint8_t sessionReply[kSessionInfoLength] = {};
  if (transport.Succeeded(ReadSessionInfo(transport, sessionReply)))
    ApplySessionInfo(view.toc, SessionInfoFromReply(sessionReply));
  view.discId = CddbDiscId(view.toc);
  view.known = lookup && lookup(view.discId, album);
  std::uint32_t albumId = view.discId;
  if (!view.known && lookup && tableRead) {
    AlbumRecord rows{};
    FillTracksFromToc(view.toc, rows, true);
    const std::uint32_t corrected = RowsCddbDiscId(view.toc, rows);
    if (corrected != view.discId) {
      AlbumRecord stored{};
      if (lookup(corrected, stored) && StoredForRows(stored, rows)) {
        album = stored;
        view.known = true;
        albumId = corrected;
      }
    }
  }
  if (tableRead) {
    view.trackCount = FillTracksFromToc(view.toc, album, view.known);
    album.DiscId = static_cast<std::int32_t>(albumId);
  } else {
    album.FirstTrackOffset = 0;
    album.DiscId = static_cast<std::int32_t>(view.discId);
    album.TrackCount = 0;
  }
  view.firstTrackOffset = album.FirstTrackOffset;
  view.rows = BuildTrackRows(album, view.trackCount);
  for (const auto& r : view.rows) view.hasAudio = view.hasAudio || r.audio;
  view.trackPanel = TrackPanelText(view.trackCount);
  view.timePanel = TimePanelText(album, view.trackCount);
  return view;
}

}  // namespace sonarvex
