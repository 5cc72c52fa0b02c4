// What a grab reports after its last track: every whole track it copied is
// checked against the AccurateRip database (the checksums are taken from the
// audio as it is read), and a rip log and a cue sheet are written beside the
// files.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "accuraterip/AccurateRip.h"
#include "accuraterip/ArClient.h"
#include "rip/RipLog.h"
#include "rip/RipPipeline.h"
#include "records/CoverImage.h"

namespace sonarvex {

class Dialogs;

// What the drive tells beyond the table of contents, for the cue sheet.
struct RipDiscExtras {
  std::string catalog;                  // 13 digits, or empty
  std::map<int, std::string> isrc;      // by row
  std::map<int, std::int32_t> pregap;   // sectors of INDEX 00 before INDEX 01, by row
  // INDEX 02, 03... as sectors after INDEX 01, by row (rows without any left out).
  std::map<int, std::vector<std::int32_t>> indices;
};

class RipReport : public RipWatcher {
 public:
  struct Options {
    // Ask the database after the grab.
    bool verify = false;
    ArServer server;
    ArLimits limits;
    // Write the log and the cue sheet.
    bool writeLog = false;
    // The log's heading (its tracks are filled here) and the cue sheet's
    // disc lines (catalogue, performer, title).
    RipLogInfo log;
    CueSheetInfo cue;
    // Run while waiting for the database (keeps a window alive).
    std::function<void()> pump;
    // Asked once after the grab, when a cue sheet is written.
    std::function<RipDiscExtras()> extras;
    // The disc's table of contents as the drive gave it (ArTocOf); without
    // it, the album's (whose data track of a later session has been moved over the
    // gap between the sessions).
    std::optional<ArToc> toc;
    // The album's full texts (the track titles of the cue sheet).
    const RecordTexts* albumTexts = nullptr;
    // The disc's front cover, written as cover.jpg (or cover.png) beside
    // the files; none: nothing is written.
    std::shared_ptr<const CoverImage> cover;
  };

  RipReport(RipHost& host, Dialogs& dialogs, const AlbumRecord& album, TagBuffer& tags,
            Options options);
  ~RipReport() override;

  void GrabStarted(OutputKind kind, const std::vector<int>& rows) override;
  void TrackReading(int row, std::uint32_t start, std::uint32_t end, bool wholeTrack) override;
  void TrackAudio(int row, const std::uint8_t* pcm, std::size_t bytes) override;
  void TrackRetry(int row) override;
  void TrackSecureRead(int row, int rereadSectors, const std::vector<std::uint32_t>& suspect) override;
  void TrackTestAndCopy(int row, std::uint32_t testCrc, std::uint32_t copyCrc) override;
  void TrackUnreadable(int row, std::uint32_t sector) override;
  void TrackCopied(int row, const std::string& path) override;
  void GrabEnding(bool normalEnd) override;

  struct Track {
    int row = 0;
    std::string path;  // the finished file; empty when not copied
    bool whole = false;
    std::uint32_t crc32 = 0;
    std::uint32_t v1 = 0, v2 = 0;
    bool checksummed = false;  // the whole track's audio went through the checksums
    bool verified = false;     // the database was asked for it
    ArVerdict verdict;
    int retries = 0;
    int readErrors = 0;
    std::optional<std::uint32_t> unreadableSector;
    // Secure mode: sectors read again, sectors that never agreed (from the
    // first track).
    bool secure = false;
    int rereadSectors = 0;
    std::vector<std::uint32_t> suspect;
    // Test and copy: the CRC32 of the two passes.
    bool tested = false;
    std::uint32_t testCrc = 0, copyCrc = 0;
    // Whether the track is to be trusted only when the database matches it.
    bool Suspect() const { return !suspect.empty() || (tested && testCrc != copyCrc); }
    bool Matched() const { return verified && verdict.status == ArStatus::Match; }
  };
  // Every row of the grab, in disc order.
  const std::vector<Track>& Tracks() const { return tracks_; }
  // Why the database could not be asked (empty: it was, or was not to be).
  const std::string& VerifyFailure() const { return verifyFailure_; }
  bool DiscInDatabase() const { return found_; }
  // Whether a copied track does not match the database.
  bool AnyMismatch() const;
  // The files written after the grab (empty when none).
  const std::string& LogPath() const { return logPath_; }
  const std::string& CuePath() const { return cuePath_; }
  // The cover pictures written beside the files (a folder that already had
  // one of its own keeps it and is not listed).
  const std::vector<std::string>& CoverPaths() const { return coverPaths_; }
  // Why the log or the cue sheet could not be written (empty: both were, or
  // were not to be); the rip then counts as failed.
  const std::string& WriteFailure() const { return writeFailure_; }

  // The table of contents of an album as AccurateRip counts it.
  static ArToc TocOf(const AlbumRecord& album);

 private:
  Track* Find(int row);
  void Verify();
  void WriteLogAndCue();
  void WriteCovers();
  void ReportFailure(const std::string& message);

  RipHost& host_;
  Dialogs& dialogs_;
  const AlbumRecord& album_;
  TagBuffer& tags_;
  Options options_;
  ArToc toc_;
  ArDiscIds ids_;  // of toc_
  OutputKind kind_ = OutputKind::Wav;
  std::vector<Track> tracks_;
  std::map<int, std::unique_ptr<ArChecksum>> checksums_;
  std::string verifyFailure_;
  bool found_ = false;
  std::string logPath_, cuePath_;
  std::vector<std::string> coverPaths_;
  std::string writeFailure_;
};

}  // namespace sonarvex
