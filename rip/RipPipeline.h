// The ripping loop: copies the ticked audio tracks of the current disc to
// WAV files or, through the encoder, to compressed files. The loop knows
// nothing of windows: a host gives it the track rows, the status column, the
// questions and the message pump, so the main window and the command-line
// ripper run the same code.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "codec/FormatOptions.h"
#include "platform/SafeFile.h"
#include "records/OutputKind.h"
#include "records/SettingsRecord.h"
#include "records/WindowState.h"
#include "records/AlbumRecord.h"
#include "records/TagBuffer.h"

namespace sonarvex {

class Dialogs;
class LoudnessMeter;
class PowerControl;

// The title of the audio before track 1's INDEX 01, ripped as track 0.
inline constexpr const char* kHiddenTrackTitle = "Скрытый трек";

// What the loop needs of the window (or the command line).
class RipHost {
 public:
  virtual ~RipHost() = default;
  virtual int RowCount() = 0;
  virtual bool RowTicked(int row) = 0;
  virtual void SetRowTicked(int row, bool on) = 0;
  virtual void SetRowStatus(int row, const std::string& text) = 0;  // UTF-8
  virtual void SetRowImage(int row, int image) = 0;
  virtual void SelectRow(int row) = 0;
  virtual std::string RowCaption(int row) = 0;  // UTF-8
  virtual void SetCaption(const std::string& text) = 0;
  // Lets the user act (the window pumps its message queue; Stop may run).
  virtual void Pump() = 0;
  virtual WindowState State() = 0;
  virtual void SetState(WindowState s) = 0;
  virtual void Stop() = 0;
  virtual void SetControlsEnabled(bool on) = 0;
  virtual void SetTimerEnabled(bool on) = 0;
  // SetVolume of the window, and the volume bar's position.
  virtual void SetVolume(int v) = 0;
  virtual int VolumePosition() = 0;
  virtual void Eject() = 0;
  // The output folder does not exist: show the message and let the user pick
  // another one (it is stored in the settings). False: the user gave up.
  virtual bool OutputFolderMissing(const std::string& folderUtf8) = 0;
  // The whole grab's progress, 0..100, while it runs; -1 when it has ended.
  virtual void SetOverallProgress(int /*percent*/) {}
  // A track was finished ("Скопирован") with this output file (UTF-8 path).
  virtual void TrackDone(int /*row*/, const std::string& /*path*/) {}
  // After the grab: a copied track was checked against the AccurateRip
  // database (its two checksums; word: "match N", "mismatch", "absent").
  virtual void TrackVerified(int /*row*/, const std::string& /*path*/, std::uint32_t /*v1*/,
                             std::uint32_t /*v2*/, const std::string& /*word*/) {}
  // The program was asked to stop (a signal on the command line): the grab
  // ends at the next block without a question, leaving nothing of the track.
  virtual bool Interrupted() { return false; }
  // The audio before track 1's INDEX 01 (a hidden track) is ripped as
  // track 0 before the tracks: the notice when it is found and when it is
  // done (Russian), its status while it is read, and its finished file.
  virtual void HiddenTrackNotice(const std::string& /*text*/) {}
  virtual void HiddenTrackStatus(const std::string& /*text*/) {}
  virtual void HiddenTrackDone(const std::string& /*path*/) {}
};

// The drive, through the transport the settings choose.
class RipDrive {
 public:
  virtual ~RipDrive() = default;
  // Reads `sectors` audio sectors starting at lba into buffer (sectors x
  // 2352 bytes). False when the drive reported a failure.
  virtual bool ReadCdda(std::uint8_t* buffer, std::uint32_t lba, std::uint32_t sectors) = 0;
  // Whether ReadCddaC2 gives the drive's C2 error pointers.
  virtual bool HasC2() { return false; }
  // Reads as ReadCdda does and fills c2 (sectors x 294 bytes, a bit for
  // every byte of audio, most significant first) with the drive's C2 error
  // pointers: set where the drive could not correct the byte. Without them
  // (HasC2 false) every pointer is clear.
  virtual bool ReadCddaC2(std::uint8_t* buffer, std::uint8_t* c2, std::uint32_t lba,
                          std::uint32_t sectors) {
    std::fill(c2, c2 + static_cast<std::size_t>(sectors) * (kBytesPerSector / 8), std::uint8_t{0});
    return ReadCdda(buffer, lba, sectors);
  }
  // The sector after the disc's last audio sector (album sectors), as far
  // as reads may go; 0: not known.
  virtual std::uint32_t AudioEnd() { return 0; }
  virtual void SetReadSpeed(int factor) = 0;
  virtual void LockMedium(bool lock) = 0;
  virtual void Seek(std::uint32_t lba) = 0;
  // Whether the disc is still in the drive and unchanged; asked after a read
  // failed for good, to tell a bad sector (the grab goes on with the next
  // track) from a disc that is gone (the grab stops).
  virtual bool MediumReady() { return true; }
};

// The encoder and WAV file writer. Every operation that writes says what
// failed (a message naming the file and the reason) or that the user
// cancelled; a failed file is already deleted when the failure is reported.
class RipEncoder {
 public:
  virtual ~RipEncoder() = default;
  // Whether the writer for an output kind can be used (its library is there).
  virtual bool Available(OutputKind kind) = 0;
  // The settings (encoder options), the output kind of the grab, the
  // options of its format kept outside the settings with the disc's tags,
  // and the progress routine.
  virtual void Configure(const SettingsRecord& settings, OutputKind kind,
                         const FormatOptions& options,
                         std::function<void(std::uint64_t, std::uint64_t, int*, int)> progress) = 0;
  // Streamed encoding (on the fly) into a new file (nothing may be at outPath).
  // tag: the track's tag record with its full texts.
  virtual WriteResult Open(const TrackTags& tag, const std::string& outPath) = 0;
  virtual WriteResult Write(const std::uint8_t* data, std::size_t bytes) = 0;
  virtual WriteResult Close() = 0;
  // Closes and deletes the streamed file.
  virtual void Abort() = 0;
  // Encoding a finished WAV file into a new file; Cancelled when the user
  // stopped it through the progress routine.
  virtual WriteResult ConvertFile(const std::string& wavPath, const std::string& outPath,
                                  const TrackTags& tag, int peak) = 0;
  // A new CD-format WAV file: header at creation, sizes at the end. durable:
  // synced to disk when finished (an output, not a temporary file).
  virtual WriteResult CreateWav(const std::string& path, bool durable) = 0;
  virtual WriteResult WriteWav(const std::uint8_t* data, std::size_t bytes) = 0;
  virtual WriteResult FinishWav(std::uint64_t dataBytes) = 0;
  // Closes and deletes the WAV file.
  virtual void AbortWav() = 0;
  // Largest absolute sample value of a block of 16-bit stereo PCM, folded
  // into peak.
  virtual void FindPeak(const std::uint8_t* data, std::size_t bytes, int& peak) = 0;
  // CD audio bytes per output byte the writer of `kind` is expected to make
  // with these settings and options (1: as big as the audio).
  virtual double ExpectedRatio(const SettingsRecord& /*settings*/, OutputKind /*kind*/,
                               const FormatOptions& /*options*/) {
    return 1;
  }
};

// Which command started the grab: the grab menu's command of a format (or
// the command line's --format), or a toolbar button. The MP3 button rips to
// Ogg Vorbis when the settings say so (Mp3AsOgg).
struct GrabSender {
  OutputKind kind;
  bool mp3Button = false;

  static const GrabSender Mp3Button, Mp3Menu, Wma, Wave, Ogg, Flac;
  friend bool operator==(const GrabSender& a, const GrabSender& b) {
    return a.kind == b.kind && a.mp3Button == b.mp3Button;
  }
};
inline constexpr GrabSender GrabSender::Mp3Button{OutputKind::Mp3, true};
inline constexpr GrabSender GrabSender::Mp3Menu{OutputKind::Mp3};
inline constexpr GrabSender GrabSender::Wma{OutputKind::Wma};
inline constexpr GrabSender GrabSender::Wave{OutputKind::Wav};
inline constexpr GrabSender GrabSender::Ogg{OutputKind::Ogg};
inline constexpr GrabSender GrabSender::Flac{OutputKind::Flac};
// The output kind of a grab started by that command.
OutputKind GrabKind(GrabSender sender, const SettingsRecord& settings);

// Watches a grab for what is reported after it (the rip log, the cue sheet,
// the AccurateRip verification). Called on the grab's thread.
class RipWatcher {
 public:
  virtual ~RipWatcher() = default;
  // The grab starts with the ticked audio rows it will copy.
  virtual void GrabStarted(OutputKind /*kind*/, const std::vector<int>& /*rows*/) {}
  // A track's reading starts: its sectors (from the first track, end
  // exclusive) and whether they are the whole track (no copy range).
  virtual void TrackReading(int /*row*/, std::uint32_t /*start*/, std::uint32_t /*end*/,
                            bool /*wholeTrack*/) {}
  // The track's audio as read, in order (16-bit stereo, little-endian).
  virtual void TrackAudio(int /*row*/, const std::uint8_t* /*pcm*/, std::size_t /*bytes*/) {}
  // A read of the track failed and is tried again.
  virtual void TrackRetry(int /*row*/) {}
  // The track was read securely: how many of its sectors had to be read
  // again, and the sectors (from the first track) whose reads never agreed.
  virtual void TrackSecureRead(int /*row*/, int /*rereadSectors*/,
                               const std::vector<std::uint32_t>& /*suspect*/) {}
  // Test and copy: the CRC32 of the track's audio in the test pass and in
  // the copy pass.
  virtual void TrackTestAndCopy(int /*row*/, std::uint32_t /*testCrc*/,
                                std::uint32_t /*copyCrc*/) {}
  // A sector of the track could not be read even after the retries.
  virtual void TrackUnreadable(int /*row*/, std::uint32_t /*sector*/) {}
  // The track is finished under its final name.
  virtual void TrackCopied(int /*row*/, const std::string& /*path*/) {}
  // The grab ends; the computer may be switched off after this returns.
  virtual void GrabEnding(bool /*normalEnd*/) {}
};

class RipPipeline {
 public:
  RipPipeline(RipHost& host, RipDrive& drive, RipEncoder& encoder, Dialogs& dialogs,
              SettingsRecord& settings, AlbumRecord& album, TagBuffer& tags,
              std::string tempFolder);
  ~RipPipeline();
  // The full texts of the album and of the settings (names and folders in
  // every script); without them the records' own texts.
  void SetTexts(const RecordTexts* albumTexts, const RecordTexts* settingsTexts) {
    albumTexts_ = albumTexts;
    settingsTexts_ = settingsTexts;
  }

  // The options of the output formats kept outside the settings record and
  // the disc's tags, for the encoders of the next grabs.
  void SetFormatOptions(FormatOptions options) { formatOptions_ = std::move(options); }

  // Whether the grabs measure the tracks' loudness as they are read and,
  // when every track is done, write their ReplayGain (track and album gain
  // and peak) into the files. Formats without tags, and WMA, get none.
  void SetReplayGain(bool on) { replayGain_ = on; }

  void SetPowerControl(PowerControl* power) { power_ = power; }
  void SetWatcher(RipWatcher* watcher) { watcher_ = watcher; }

  // Makes the encoder of one worker of the encoder pool, on the grab's
  // thread before the workers start. Its messages go to `dialogs`, which
  // shows them on the grab's thread.
  using EncoderFactory = std::function<std::unique_ptr<RipEncoder>(Dialogs& dialogs)>;
  // While the drive reads the next track, up to `workers` finished
  // temporary WAV files are compressed at once, each by a worker with an
  // encoder of its own. 0: one worker per processor. With one worker (or
  // without a factory) the tracks are read and compressed one after the
  // other on the grab's thread.
  void SetEncoderPool(int workers, EncoderFactory make) {
    workers_ = workers;
    makeEncoder_ = std::move(make);
  }
  // The workers a grab of `tracks` compressed tracks uses: the setting (or
  // the number of processors), at most one per track.
  int WorkersFor(int tracks) const;
  // At most this much audio read ahead waits, in all, for the workers that
  // encode tracks on the fly (the drive waits meanwhile), whatever the
  // number of workers and the length of the tracks.
  static constexpr std::size_t kDefaultStreamBudget = 16u << 20;
  void SetStreamBudget(std::size_t bytes) { streamBudget_ = bytes; }
  // Whether a track encoded on the fly may spill what the budget cannot
  // hold into a file in the temporary folder when a worker would otherwise
  // be idle, so that the drive reads on into the next track (on by
  // default; off, the drive waits for the workers).
  void SetStreamSpill(bool on) { spill_ = on; }
  // Whether a pooled grab encodes its last track as the drive reads it,
  // whatever the format (on by default; not when it is normalised).
  void SetStreamLastTrack(bool on) { streamLastTrack_ = on; }
  // The most audio the streams of the last pooled grab held at once.
  std::size_t StreamPeakBytes() const { return streamPeak_; }
  // How many times a failing read is tried again before the track fails.
  void SetReadRetries(int n) { readRetries_ = n; }

  // Secure mode: every block is read twice with the drive's cache read away
  // in between; sectors whose reads differ are read again alone, at most
  // `rereads` times, until two reads agree; with c2 the drive's C2 error
  // pointers (where it has them) mark sectors that do not agree. Sectors
  // that never agree make their track suspect ("подозрительно").
  void SetSecure(bool on, int rereads = 16, bool c2 = true) {
    secure_ = on;
    secureRereads_ = rereads;
    secureC2_ = c2;
  }
  // Test and copy: each track is read twice whole, the first time only for
  // its CRC32; a track whose two passes differ is suspect.
  void SetTestAndCopy(bool on) { testAndCopy_ = on; }
  // The suspect tracks of the last grab (rows, 0-based) with their sectors
  // that never read the same twice (from the first track; none for a track
  // whose test and copy passes differed only).
  const std::map<int, std::vector<std::uint32_t>>& SuspectRows() const { return suspectRows_; }

  // What happens to a file that is at a track's output name before the grab
  // writes it: the user is asked (Yes, Yes for all, No: the track is
  // skipped), it is replaced (the user said so beforehand), or the track
  // gets the next free numbered name ("NAME (2).mp3"), as the rip log does.
  enum class ExistingFiles { Ask, Replace, Number };
  void SetExistingFiles(ExistingFiles e) { existing_ = e; }

  void GrabCommand(GrabSender sender);
  void CopyTracks();
  void CompressionProgress(std::uint64_t done, std::uint64_t total, int* cancel, int mode);
  bool CheckFreeSpace(std::uint64_t needed, const std::string& folder);
  // The bytes a grab of the ticked audio rows into `kind` is expected to
  // take on the output's disk: the files at the writer's expected ratio,
  // and the largest track's temporary WAV file when one is written.
  std::uint64_t NeededBytes(OutputKind kind);

  // The sample range of track i after the copy-range rules (sectors
  // relative to the first track); clears the range flag of a bad range.
  struct Range {
    std::uint32_t Start, End;
  };
  Range TrackRange(int i);

  // Noise correction: compares the end of sector A with the start of sector
  // B; re-reads both when they match only partly. 1 when still suspect.
  int CheckPair(std::uint8_t* a, std::uint8_t* b, std::uint32_t sector);
  int CheckChunk(std::uint8_t* buffer, std::uint32_t count, std::uint32_t chunkStart);

  // What the last grab ended with, for the command line.
  enum class Outcome { Done, Cancelled, Failed, NotStarted };
  Outcome LastOutcome() const { return outcome_; }
  const std::string& FailureText() const { return failure_; }
  // The rows (0-based) whose sectors could not be read in the last grab.
  const std::vector<int>& UnreadableRows() const { return unreadableRows_; }

  // What the streams of a pooled grab hold together (kDefaultStreamBudget).
  struct StreamBudget;

 private:
  enum class TrackResult { Copied, Cancelled, CompressionCancelled, Failed, Unreadable, Skipped };
  struct TrackJob;
  class EncoderPool;
  class PoolDialogs;
  TrackResult CopyTrack(int row);
  // The steps of one track: the names and folders, the reading into the
  // temporary (or final) WAV file or the streamed encoder, and the rename
  // of the finished file.
  TrackResult PrepareTrack(int row, TrackJob& job);
  TrackResult ReadTrack(TrackJob& job);
  TrackResult CompleteTrack(TrackJob& job);
  // Takes back what a track that failed or was cancelled had made.
  void ForgetTrack(const TrackJob& job);
  // The grab with the encoder pool.
  void CopyTracksPooled(const std::vector<int>& rows, int workers);
  // On the grab's thread: the pool's messages, its finished tracks and the
  // compression percentages of the running ones.
  void ServicePool();
  // A failure in a pooled grab: remembered (shown when every worker has
  // ended); stopEncoders also stops the running compressions (a write
  // failure: the disk is full), else they finish.
  void FailPooled(const std::string& text, bool stopEncoders);
  // The overall progress: a track's reading and compressing (when it is
  // compressed) count half each, tracks weighed by their length.
  void TrackProgress(int row, double read, double compressed);
  void TrackOver(int row) { TrackProgress(row, 1, 1); }
  // The first sector of a chunk that fails to read alone (the chunk's
  // start when none does).
  std::uint32_t FirstUnreadableSector(std::uint32_t start, std::uint32_t count);
  // Names the tracks whose sectors could not be read.
  void ReportUnreadable();
  // Chooses the output path of a track from its name: numbered when an
  // earlier track of the same grab has the name or another run is writing
  // it, and by the ExistingFiles rule when a file is there.
  TrackResult ChooseOutput(TrackJob& job, const std::string& name);
  // Renames the finished partial file to its output name; a file that has
  // appeared there meanwhile is only replaced when the user said so, else
  // the next free numbered name is taken. False with errno set.
  bool RenameIntoPlace(TrackJob& job);
  // The rows that can hold tracks of the album.
  int TrackRows();
  // Whether tracks of `kind` are encoded as the drive reads them (on the
  // fly) rather than from a temporary WAV file.
  bool EncodesWhileReading(OutputKind kind) const;
  bool EncodesWhileReading() const { return EncodesWhileReading(kind_); }
  // After the last track: the ReplayGain of each copied track and of all of
  // them together into their files. False when a file could not take them
  // (the user has been told).
  bool WriteReplayGain();
  void Fail(const std::string& text, bool stopEncoders = true);
  void FinishGrab(bool normalEnd);

  RipHost& host_;
  RipDrive& drive_;
  RipEncoder& encoder_;
  Dialogs& dialogs_;
  SettingsRecord& settings_;
  AlbumRecord& album_;
  TagBuffer& tags_;
  const RecordTexts* albumTexts_ = nullptr;
  const RecordTexts* settingsTexts_ = nullptr;
  std::string tempFolder_;  // native, ends in '/'
  // The output kind of the grab and whether it compresses (not WAV).
  OutputKind kind_;
  bool compress_;
  FormatOptions formatOptions_;
  PowerControl* power_ = nullptr;
  RipWatcher* watcher_ = nullptr;
  int readRetries_ = 3;
  ExistingFiles existing_ = ExistingFiles::Ask;
  bool replaceAll_ = false;  // "Yes for all" in this grab
  int compressionRow_ = 0;
  std::int16_t lastCompressionPercent_ = 0;
  bool rereading_ = false;
  // The read speed the grab set (the settings'), put back after noise
  // correction has read a pair again at 4x.
  int readSpeed_ = 0;
  bool slowedForReread_ = false, checkingChunk_ = false;
  void RestoreReadSpeed();
  Outcome outcome_ = Outcome::NotStarted;
  std::string failure_;
  // Output paths written in this grab (native), and the unreadable rows
  // with the sector that failed.
  struct Progress {
    double weight = 0, read = 0, compressed = 0;
  };
  std::map<int, Progress> progress_;
  int shownOverall_ = -1;
  std::set<std::string> writtenInGrab_;
  std::vector<int> unreadableRows_;
  std::vector<std::uint32_t> unreadableSectors_;
  // Secure mode and test and copy (see SetSecure, SetTestAndCopy).
  bool secure_ = false;
  int secureRereads_ = 16;
  bool secureC2_ = true;
  bool testAndCopy_ = false;
  std::map<int, std::vector<std::uint32_t>> suspectRows_;
  // The encoder pool (see SetEncoderPool); pool_ is set while a pooled
  // grab runs. Temporary WAV names in use by tracks not yet compressed.
  int workers_ = 1;
  std::size_t streamBudget_ = kDefaultStreamBudget;
  bool spill_ = true, streamLastTrack_ = true;
  bool moreToRead_ = false;  // the track being read is not the grab's last
  std::size_t streamPeak_ = 0;
  EncoderFactory makeEncoder_;
  EncoderPool* pool_ = nullptr;
  PoolDialogs* poolDialogs_ = nullptr;
  std::set<std::string> tempsInUse_;
  std::string pooledFailure_;
  bool stopReading_ = false;
  bool compressionCancelled_ = false;
  std::set<std::string> shownPoolMessages_;
  std::vector<std::string> deferredFolders_;
  // ReplayGain: the loudness of the tracks read in this grab, and the
  // tracks finished under their final names with the gain the encoder
  // applied to their audio (normalisation).
  bool replayGain_ = false;
  std::map<int, std::shared_ptr<LoudnessMeter>> meters_;
  struct CopiedFile {
    std::string path;
    double gain = 1.0;
  };
  std::map<int, CopiedFile> copiedFiles_;
};

}  // namespace sonarvex
