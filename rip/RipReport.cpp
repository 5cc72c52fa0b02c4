#include "rip/RipReport.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "rip/OutputNaming.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "records/TagBuffer.h"
#include "records/TextFields.h"

namespace sonarvex {
namespace {

constexpr const char* kNotCopied = "копирование прервано";

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return "./";
  return path.substr(0, slash + 1);
}

// The file's name as the cue sheet in `folder` names it: relative below the
// folder, else the whole path.
std::string NameFrom(const std::string& folder, const std::string& path) {
  if (path.compare(0, folder.size(), folder) == 0) return path.substr(folder.size());
  return path;
}

// A name beside the files that no file has yet ("NAME (2).log"...).
std::string FreeName(const std::string& path) {
  auto taken = [](const std::string& p) {
    struct stat st;
    return ::lstat(p.c_str(), &st) == 0;
  };
  std::string candidate = path;
  for (int n = 2; taken(candidate) && n < 1000; ++n) candidate = NumberedOutputPath(path, n);
  return candidate;
}

std::string Trimmed(std::string s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// The CDDB disc identifier in 8 upper-case hexadecimal digits: the one the
// album was looked up with, else the one of the disc's table of contents.
std::string CddbIdText(const AlbumRecord& album, std::uint32_t fromToc) {
  std::string id;
  for (std::size_t i = 0; i < sizeof album.CddbId && album.CddbId[i] != '\0'; ++i)
    id += static_cast<char>(std::toupper(static_cast<unsigned char>(album.CddbId[i])));
  if (id.size() == 8 && id.find_first_not_of("0123456789ABCDEF") == std::string::npos) return id;
  char text[9];
  std::snprintf(text, sizeof text, "%08X", fromToc);
  return text;
}

}  // namespace

RipReport::RipReport(RipHost& host, Dialogs& dialogs, const AlbumRecord& album, TagBuffer& tags,
                     Options options)
    : host_(host),
      dialogs_(dialogs),
      album_(album),
      tags_(tags),
      options_(std::move(options)),
      toc_(options_.toc ? *options_.toc : TocOf(album)),
      ids_(ComputeArDiscIds(toc_)) {}

RipReport::~RipReport() = default;

ArToc RipReport::TocOf(const AlbumRecord& album) {
  ArToc toc;
  const int count = std::clamp<int>(album.TrackCount, 0, kMaxAlbumTracks - 1);
  // Album sectors count from the first track; the table's from 00:02:00.
  const std::int32_t shift = static_cast<std::int32_t>(album.FirstTrackOffset) - 150;
  for (int i = 0; i < count; ++i)
    toc.tracks.push_back({album.Tracks[i].StartSector + shift, album.Tracks[i].AudioFlag != 0});
  toc.leadOut = album.Tracks[count].StartSector + shift;
  return toc;
}

RipReport::Track* RipReport::Find(int row) {
  for (auto& t : tracks_)
    if (t.row == row) return &t;
  return nullptr;
}

void RipReport::GrabStarted(OutputKind kind, const std::vector<int>& rows) {
  kind_ = kind;
  tracks_.clear();
  checksums_.clear();
  verifyFailure_.clear();
  found_ = false;
  logPath_.clear();
  cuePath_.clear();
  coverPaths_.clear();
  for (int row : rows) {
    Track t;
    t.row = row;
    tracks_.push_back(t);
  }
}

void RipReport::TrackReading(int row, std::uint32_t start, std::uint32_t end, bool wholeTrack) {
  Track* t = Find(row);
  if (!t) return;
  t->whole = wholeTrack;
  t->crc32 = 0;
  t->checksummed = false;
  checksums_.erase(row);
  if (options_.verify && wholeTrack && row < static_cast<int>(toc_.tracks.size()))
    checksums_[row] = std::make_unique<ArChecksum>(
        static_cast<std::uint64_t>(end - start) * kArSamplesPerSector, IsFirstArTrack(toc_, row),
        IsLastArTrack(toc_, row));
}

void RipReport::TrackAudio(int row, const std::uint8_t* pcm, std::size_t bytes) {
  Track* t = Find(row);
  if (!t) return;
  auto c = checksums_.find(row);
  AddTrackSums(options_.writeLog ? &t->crc32 : nullptr,
               c != checksums_.end() ? c->second.get() : nullptr, pcm, bytes);
}

void RipReport::TrackRetry(int row) {
  if (Track* t = Find(row)) ++t->retries;
}

void RipReport::TrackSecureRead(int row, int rereadSectors,
                                const std::vector<std::uint32_t>& suspect) {
  if (Track* t = Find(row)) {
    t->secure = true;
    t->rereadSectors = rereadSectors;
    t->suspect = suspect;
  }
}

void RipReport::TrackTestAndCopy(int row, std::uint32_t testCrc, std::uint32_t copyCrc) {
  if (Track* t = Find(row)) {
    t->tested = true;
    t->testCrc = testCrc;
    t->copyCrc = copyCrc;
  }
}

void RipReport::TrackUnreadable(int row, std::uint32_t sector) {
  if (Track* t = Find(row)) {
    ++t->readErrors;
    t->unreadableSector = sector;
  }
}

void RipReport::TrackCopied(int row, const std::string& path) {
  Track* t = Find(row);
  if (!t) return;
  t->path = path;
  auto c = checksums_.find(row);
  if (c != checksums_.end()) {
    t->v1 = c->second->V1();
    t->v2 = c->second->V2();
    t->checksummed = true;
  }
}

bool RipReport::AnyMismatch() const {
  return std::any_of(tracks_.begin(), tracks_.end(), [](const Track& t) {
    return t.verified && t.verdict.status == ArStatus::Mismatch;
  });
}

void RipReport::GrabEnding(bool) {
  const bool anyCopied =
      std::any_of(tracks_.begin(), tracks_.end(), [](const Track& t) { return !t.path.empty(); });
  if (!anyCopied) return;
  if (options_.cover && !options_.cover->Empty()) WriteCovers();
  if (options_.verify) Verify();
  if (options_.writeLog) WriteLogAndCue();
}

void RipReport::Verify() {
  const ArDiscIds& ids = ids_;
  if (ids.trackCount == 0) return;
  host_.SetCaption(std::string(kProgramTitle) + " - проверка по базе AccurateRip");
  ArClient client(options_.server, options_.limits);
  if (options_.pump) client.SetPump(options_.pump);
  const ArFetch fetch = client.Fetch(ids);
  if (fetch.outcome == ArFetch::Outcome::Failed) {
    verifyFailure_ = fetch.message;
    dialogs_.Message("Не удалось проверить дорожки по базе AccurateRip: " + fetch.message,
                     kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
    return;
  }
  found_ = fetch.outcome == ArFetch::Outcome::Found;
  for (Track& t : tracks_) {
    if (t.path.empty() || !t.checksummed) continue;
    t.verified = true;
    t.verdict = found_ ? VerifyArTrack(fetch.submissions, ids, ArEntryIndex(toc_, t.row), t.v1, t.v2)
                       : ArVerdict{};
    // A suspect track keeps its word unless the database vouches for it.
    host_.SetRowStatus(t.row, t.Suspect() && !t.Matched() ? "подозрительно" : ArVerdictText(t.verdict));
    host_.TrackVerified(t.row, t.path, t.v1, t.v2, ArVerdictWord(t.verdict));
  }
}

void RipReport::WriteLogAndCue() {
  std::string folder;
  for (const Track& t : tracks_)
    if (!t.path.empty()) {
      folder = FolderOf(t.path);
      break;
    }
  RipLogInfo log = options_.log;
  if (options_.verify && verifyFailure_.empty()) log.arDisc = ArDiscName(ids_);
  CueSheetInfo cue = options_.cue;
  const RipDiscExtras extras = options_.extras ? options_.extras() : RipDiscExtras{};
  if (cue.catalog.empty()) cue.catalog = extras.catalog;
  const RecordTexts noAlbumTexts;
  const RecordTexts& albumTexts = options_.albumTexts ? *options_.albumTexts : noAlbumTexts;
  if (cue.genre.empty()) cue.genre = Trimmed(AlbumText(album_, albumTexts, AlbumField::Genre));
  if (cue.date.empty()) cue.date = Trimmed(AlbumText(album_, albumTexts, AlbumField::Year));
  if (cue.discId.empty()) cue.discId = CddbIdText(album_, ids_.cddb);
  if (cue.comment.empty() && !options_.log.programVersion.empty())
    cue.comment = "Sonarvex " + options_.log.programVersion;
  // Data tracks are in no file, but the disc's identifiers count them.
  for (std::size_t i = 0; i < toc_.tracks.size(); ++i)
    if (!toc_.tracks[i].audio)
      cue.dataTracks.push_back({TrackNumberOfRow(album_, static_cast<int>(i)), toc_.tracks[i].start,
                                i + 1 < toc_.tracks.size() ? toc_.tracks[i + 1].start : toc_.leadOut});
  const std::int32_t shift = static_cast<std::int32_t>(album_.FirstTrackOffset) - 150;
  for (const Track& t : tracks_) {
    RipLogTrack lt;
    lt.number = TrackNumberOfRow(album_, t.row);
    lt.retries = t.retries;
    lt.readErrors = t.readErrors;
    lt.secure = t.secure;
    lt.rereadSectors = t.rereadSectors;
    for (std::uint32_t sector : t.suspect)
      lt.suspectTimes.push_back(TrackTimeText(
          sector - static_cast<std::uint32_t>(album_.Tracks[t.row].StartSector)));
    lt.tested = t.tested;
    lt.testCrc32 = t.testCrc;
    lt.copyCrc32 = t.copyCrc;
    if (t.path.empty()) {
      lt.failure = t.unreadableSector
                       ? "сектор " + std::to_string(*t.unreadableSector) + " не читается"
                       : std::string(kNotCopied);
    } else {
      lt.file = NameFrom(folder, t.path);
      lt.crc32 = t.crc32;
      lt.verified = t.verified;
      lt.arV1 = t.v1;
      lt.arV2 = t.v2;
      if (t.verified) lt.arResult = ArVerdictText(t.verdict);
    }
    log.tracks.push_back(lt);
    // The cue sheet describes the files of whole tracks: a copy range is
    // not the disc's track.
    if (t.path.empty() || !t.whole) continue;
    CueTrack ct;
    ct.number = TrackNumberOfRow(album_, t.row);
    ct.file = NameFrom(folder, t.path);
    const RecordTexts noTexts;
    ct.title = TrackTitleText(album_, options_.albumTexts ? *options_.albumTexts : noTexts, t.row);
    // A track names its performer where it is not the disc's (compilations).
    const TrackTags tag = tags_.GetTags(t.row, album_.TrackCount);
    if (tag.On() && tag.Get(TagField::Artist) != cue.performer)
      ct.performer = tag.Get(TagField::Artist);
    if (auto i = extras.isrc.find(t.row); i != extras.isrc.end()) ct.isrc = i->second;
    ct.startLba = album_.Tracks[t.row].StartSector + shift;
    ct.sectors = album_.Tracks[t.row + 1].StartSector - album_.Tracks[t.row].StartSector;
    if (auto p = extras.pregap.find(t.row); p != extras.pregap.end()) ct.pregapSectors = p->second;
    if (auto i = extras.indices.find(t.row); i != extras.indices.end()) ct.indices = i->second;
    // Audio before the first track's INDEX 01 beyond the usual two seconds
    // is that track's pregap.
    if (t.row == 0 && ct.pregapSectors == 0 && ct.startLba > 0) ct.pregapSectors = ct.startLba;
    cue.tracks.push_back(ct);
  }
  std::string base = FilterFileName(
      (cue.performer.empty() ? std::string() : cue.performer + " - ") + cue.title);
  if (base.find_first_not_of(". ") == std::string::npos) base = "Sonarvex";
  // The names are cut as the tracks' names are: a long artist and album
  // still leave a log and a cue sheet.
  const std::string logPath = FreeName(folder + FitFileName(base + ".log"));
  if (WriteResult r = WriteTextFile(logPath, RipLogText(log)); r)
    logPath_ = logPath;
  else
    ReportFailure(r.message);
  if (cue.tracks.empty()) return;
  // The hidden track's file stands before track 1's, when track 1 is there.
  if (!cue.hiddenFile.empty())
    cue.hiddenFile = cue.tracks.front().number == 1 && cue.tracks.front().pregapSectors > 0
                         ? NameFrom(folder, cue.hiddenFile)
                         : std::string();
  const std::string cuePath = FreeName(folder + FitFileName(base + ".cue"));
  if (WriteResult r = WriteTextFile(cuePath, CueSheetText(cue)); r)
    cuePath_ = cuePath;
  else
    ReportFailure(r.message);
}

void RipReport::WriteCovers() {
  const CoverImage& cover = *options_.cover;
  std::vector<std::string> folders;
  for (const Track& t : tracks_)
    if (!t.path.empty() && std::find(folders.begin(), folders.end(), FolderOf(t.path)) == folders.end())
      folders.push_back(FolderOf(t.path));
  for (const std::string& folder : folders) {
    const std::string path = folder + "cover." + cover.Extension();
    // What is there stays: the same picture from an earlier rip, or a
    // picture of the user's own.
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) continue;
    OutputFile file;
    WriteResult r = file.Create(path);
    if (!r && ::lstat(path.c_str(), &st) == 0) continue;  // somebody else's came first
    if (r) r = file.Write(cover.bytes.data(), cover.bytes.size());
    if (r) r = file.Finish();
    if (r) {
      ClearOwnMark(path);
      coverPaths_.push_back(path);
    } else {
      file.Abort();
      ReportFailure(r.message);
    }
  }
}

void RipReport::ReportFailure(const std::string& message) {
  // The first failure is the run's; each one is said once.
  if (writeFailure_.empty()) writeFailure_ = message;
  dialogs_.Message(message, kProgramTitle, MsgIcon::Error, MsgButtons::Ok);
}

}  // namespace sonarvex
