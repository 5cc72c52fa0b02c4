// Reading the disc: the table of contents of the selected drive turned into
// the album record's track rows, the disc identifier, and the texts the main
// window shows (track list rows, the two panels, the no-disc caption).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "drive/CommandBlock.h"
#include "drive/DiscToc.h"
#include "records/AlbumRecord.h"

namespace sonarvex {

class Dialogs;
class Transport;

inline constexpr const char* kNoDiscSuffix = " - Диска нет";
inline constexpr const char* kDriverUnavailable = "Драйвер CDROM'a не доступен";
static_assert(kMaxTocTracks == kMaxAlbumTracks - 1);  // 99 tracks plus the lead-out row

// Writes the disc's fields of rows 0..N (start, length, start sector, size,
// audio flag), the track count, the first-track offset and the disc
// identifier into the record; titles become "Track%d" unless titlesKnown.
// A data track that opens the last session (when the sessions are unknown:
// any data track after the first) is moved back over the gap between the
// sessions and ends the track before it there, unless that track would be
// left with no sectors. Returns N, the table's track count.
int FillTracksFromToc(const DiscToc& toc, AlbumRecord& album, bool titlesKnown);

// The CDDB identifier of the rows FillTracksFromToc makes of the table: on
// a disc whose data track opens a later session, the data track and the
// lead-out moved back over the gap. Earlier versions asked the server with
// it and may have stored albums under it; elsewhere it is CddbDiscId(toc).
std::uint32_t CorrectedCddbDiscId(const DiscToc& toc);

// One row of the main window's track list (UTF-8 texts).
struct TrackRow {
  bool audio = true;
  std::string caption;  // title, or "DataTrack"
  bool checked = false;
  int image = 1;        // 1 not copied, 2 copied, 3 data track
  std::string time;     // "04:00:00"; data rows have no sub-items
  std::string size;     // "40.37 Мб"
  std::string mp3;      // "" (the window fills in the expected size)
  std::string state;    // "Не скопирован" / "Cкопирован"
};

// "%2.2f Мб" of bytes / 1048576, independent of the locale.
std::string SizeText(double megabytes);

// Rows 0..trackCount-1 of the record.
std::vector<TrackRow> BuildTrackRows(const AlbumRecord& album, int trackCount);
// "Треков: N".
std::string TrackPanelText(int trackCount);
// "Время: M:S:F" of the lead-out row's start, without padding.
std::string TimePanelText(const AlbumRecord& album, int trackCount);

// Looks the disc up in the album database: fills the record (titles, artist,
// album, copied flags, ...) and returns true when the disc is known. It may
// be asked a second time (see ReadDisc); what it loaded for a record that is
// then refused is the caller's to drop (the disc is not known).
using AlbumLookup = std::function<bool(std::uint32_t discId, AlbumRecord& album)>;

struct DiscView {
  bool present = false;   // the table of contents was read
  bool hasAudio = false;  // at least one audio row
  int trackCount = 0;     // N
  std::uint16_t firstTrackOffset = 0;
  std::uint32_t discId = 0;  // CddbDiscId of the table, as the servers know the disc
  bool known = false;  // the album database had the disc
  // The table of contents as the drive gave it (its sessions unknown when
  // the drive did not answer); empty without a disc or a usable answer.
  DiscToc toc;
  std::vector<TrackRow> rows;
  std::string trackPanel;  // "Треков: N" (empty without a disc)
  std::string timePanel;   // "Время: ..." (empty without a disc)
  std::string inquiry;     // identification text of the drive (24 characters)

  // The commands that need a disc are enabled only with present && hasAudio.
  bool CommandsEnabled() const { return present && hasAudio; }
  // The caption suffix: kNoDiscSuffix when no disc, else "".
  std::string CaptionSuffix() const { return present ? std::string() : kNoDiscSuffix; }
};

// Reads the disc in `device` (a drive list device number / ASPI index) with
// the drive type: selects it on the transport (closing the open one on
// SPTI first), sends INQUIRY and READ TOC in the transport's order, then the
// multi-session information, zeroes and fills the album record (through
// lookup when given), and builds the rows and panels. A disc the database
// does not hold under discId is looked up under CorrectedCddbDiscId too; an
// album stored there is taken only when it was stored for this table (the
// same track count, row starts and audio flags), and then the record keeps
// that identifier, so that the disc stays in its file. An SPTI device that cannot be opened shows
// "Драйвер CDROM'a не доступен" and gives no disc.
DiscView ReadDisc(Transport& transport, int device, std::uint8_t driveType, Dialogs& dialogs,
                  AlbumRecord& album, const AlbumLookup& lookup = {});

}  // namespace sonarvex
