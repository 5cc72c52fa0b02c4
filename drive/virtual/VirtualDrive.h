// The software drive: an MMC drive that answers the program's command blocks
// from a VirtualDisc, with a tray, a lock, an analog play position that
// advances with the clock, configurable read forms and capabilities, the
// disc's catalogue number, ISRCs and Q sub-channel (READ SUB-CHANNEL 02h/03h,
// READ CD with formatted Q), and fault injection for tests. It is a ScsiDevice, so both transports reach it
// through their ordinary code paths.
//
// The drive is a recorder too (SetBurnTarget): its medium then is a blank
// CD-R or CD-RW that takes the write parameters page, a cue sheet, OPC and
// raw audio written in order from track 1's pregap, and becomes a CUE/BIN
// image when the session is closed. Reading and recording commands go
// through one dispatch, on one medium state.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "drive/ScsiDevice.h"
#include "drive/virtual/VirtualDisc.h"
#include "drive/virtual/VirtualDriveFaults.h"
#include "drive/virtual/VirtualRecorder.h"
#include "platform/SafeFile.h"

namespace sonarvex {

struct VirtualDriveConfig {
  std::string vendor = "SONARVEX";      // 8 characters in the inquiry data
  std::string product = "Virtual CD";   // 16
  std::string revision = "1.0";         // 4
  // Which audio read forms the drive accepts, one bit per ReadCommand index
  // (bit 0 standard READ CD ... bit 8 READ CD with user data only).
  std::uint16_t acceptedReadForms = 0x1FF;
  // The capabilities page 2A from its page code on (page byte k at [k]).
  std::array<std::uint8_t, 20> capabilities = DefaultCapabilities(false);
  // Writing and blanking take the time a drive at the set write speed would
  // take (so that progress and cancel can be seen); false makes them instant.
  bool simulateWriteTime = true;
  // The drive's read offset in samples, as AccurateRip counts it: a drive
  // with offset +N delivers, for every sector asked for, the audio that
  // starts N samples earlier on the disc (-N: later). What would come from
  // before the disc's start or beyond its lead-out is silence.
  int readOffsetSamples = 0;
  // The most the drive reads per second, as a factor of 1x (75 sectors,
  // 176 400 bytes of audio a second): audio reads take the time a drive of
  // that speed needs (less than asked by SET CD SPEED: that). 0: as fast as
  // the image can be read.
  int readSpeedFactor = 0;
  // READ SUB-CHANNEL formats 02h/03h (catalogue number, ISRC) and READ CD
  // with the formatted Q sub-channel (selection 010b). False: both answer
  // ILLEGAL REQUEST, INVALID FIELD IN CDB (5/24/00), as a drive without them.
  bool subChannelData = true;
  // A recorder's blank: where its lead-out may start at the latest (READ
  // DISC INFORMATION gives it; 79:59:74 on the 80-minute CD-R this models).
  // Audio cannot be written beyond it: a WRITE reaching past it fails with
  // ILLEGAL REQUEST, LOGICAL BLOCK ADDRESS OUT OF RANGE (5/21/00), whatever
  // the cue sheet promised.
  std::int32_t lastLeadOutLba = kBlankLastLeadOutLba;
  static constexpr std::int32_t kBlankLastLeadOutLba = 79 * 4500 + 59 * 75 + 74 - 150;

  static std::array<std::uint8_t, 20> DefaultCapabilities(bool recorder);
};

// What is in the drive: nothing, a blank disc, a disc being written (its
// session still open), a complete disc (readable).
enum class MediumState { None, Blank, Written, Complete };

class VirtualDrive : public ScsiDevice {
 public:
  explicit VirtualDrive(VirtualDriveConfig config = {});
  ~VirtualDrive() override;

  // A drive whose disc is the CUE/BIN image at cuePath, named after it
  // ("Virtual CD <name>", see NameAfterImage). When the image cannot be
  // loaded the drive has no disc and error says why. The image is loaded
  // again each time the tray closes.
  static std::shared_ptr<VirtualDrive> FromCueImage(const std::string& cuePath,
                                                    std::string* error,
                                                    VirtualDriveConfig config = {});

  ScsiOutcome Execute(const ScsiRequest& request) override;
  bool SetVolume(std::uint8_t volume) override;

  // Medium and tray.
  void InsertDisc(VirtualDisc disc);  // closes the tray with this disc, reports a change
  void RemoveDisc();                  // opens the tray, no disc
  bool TrayOpen() const;
  bool HasDisc() const;
  bool Locked() const;
  const std::string& ImagePath() const { return imagePath_; }
  MediumState Medium() const;
  bool Erasable() const;

  // Recorder drives: the .cue file a written disc becomes (with the BIN
  // beside it, see BinPathForCue), and whether the medium is rewritable.
  // When the image exists the disc is complete (and a CD-R refuses further
  // writing), else blank; BLANK on a CD-RW removes the image. The drive is
  // named after the file ("Virtual CD-R <name>").
  void SetBurnTarget(std::string cuePath, bool rewritable);
  const std::string& BurnTarget() const { return burnTarget_; }
  bool Rewritable() const { return rewritable_; }

  // Unplugging makes every command fail as if the device had gone away, and
  // the transports can no longer open it.
  void Unplug();
  void Plug();
  bool Attached() const;

  // The identification the drive list shows: inquiry bytes 8..31 (vendor
  // and product, CP1251, padded with blanks).
  std::string Identification() const;
  // Names the drive after an image file, within the 24 characters the drive
  // list shows: vendor "Virtual", product the kind ("CD", "CD-R", "CD-RW"), a
  // blank and the file name without ".cue". A name too long for the product
  // field keeps its start and its end with "…" between them, so that
  // "Album CD1" and "Album CD2" stay apart.
  void NameAfterImage(const std::string& kind, const std::string& imagePath);
  bool NamedAfterImage() const;
  // Ends the product (as NameAfterImage gave it) with " n", shortening the
  // name where needed: for a drive whose name another software drive
  // already shows.
  void NumberName(int n);

  void SetFaults(const VirtualDriveFaults& faults);
  void SetConfig(const VirtualDriveConfig& config);
  // Milliseconds of a monotonic clock; tests drive the play position with it.
  void SetClock(std::function<std::int64_t()> clockMs);
  // The clock (microseconds) and the wait (microseconds) of reads paced to
  // the drive's speed; without them, the steady clock and the drive's own
  // timed wait. Tests count the waits with them.
  void SetReadPacing(std::function<std::int64_t()> clockUs,
                     std::function<void(std::int64_t us)> wait);

  // What the drive saw.
  struct Stats {
    int audioReads = 0;
    int commands = 0;
    std::uint16_t readSpeed = 0, writeSpeed = 0;
    std::int64_t readWaitUs = 0;  // waited to keep reads at the drive's speed
    int writes = 0;            // WRITE commands received
    int writtenSectors = 0;    // sectors accepted (test writes too)
    int writeErrors = 0;
    int blanks = 0, opcs = 0, cueSheets = 0, sessionsClosed = 0;
    bool testWrite = false;    // the write parameters' test flag
    int writeType = -1;        // the write parameters' write type (-1: never set)
    std::array<std::uint8_t, 4> volume{255, 255, 255, 255};
  };
  Stats GetStats() const;
  // The command blocks received (the last 4096).
  std::vector<std::vector<std::uint8_t>> CommandLog() const;

 protected:

 private:
  // The session being written.
  struct BurnState {
    int writeType = 1;  // track at once until the host says otherwise
    int blockType = 8;
    bool testWrite = false;
    std::optional<CueSheetLayout> cue;
    std::int32_t nextLba = 0;
    bool started = false;
    std::unique_ptr<OutputFile> bin;
    // The CD-Text packs the lead-in's R-W sub-channel carried (each once,
    // by block and sequence number; those whose CRC does not check are not
    // kept).
    std::map<int, std::array<std::uint8_t, 18>> leadInPacks;
  };
  struct PlayState {
    bool playing = false;
    bool paused = false;
    bool completedPending = false;
    std::int32_t startLba = 0, endLba = 0;  // end is exclusive
    std::int64_t startedMs = 0;
    std::int32_t positionLba = 0;
  };

  void Check(ScsiOutcome& out, std::uint8_t key, std::uint8_t asc, std::uint8_t ascq);
  void Good(ScsiOutcome& out, const ScsiRequest& r, std::uint32_t transferred);
  void UpdatePlay();
  bool MediumReady(ScsiOutcome& out);
  bool DiscReadable(ScsiOutcome& out);
  bool IsRecorder() const { return !burnTarget_.empty(); }
  void LoadBurnMedium();
  void AbortBurn();
  void Busy(std::unique_lock<std::mutex>& lock, std::int64_t ms);
  int WriteFactor() const;
  int ReadFactor() const;
  void PaceRead(std::unique_lock<std::mutex>& lock, std::uint32_t sectors);
  void DoSendCueSheet(const ScsiRequest& r, ScsiOutcome& out);
  void DoWrite(const ScsiRequest& r, ScsiOutcome& out, std::unique_lock<std::mutex>& lock);
  void DoCloseSession(const ScsiRequest& r, ScsiOutcome& out, std::unique_lock<std::mutex>& lock);
  void DoBlank(const ScsiRequest& r, ScsiOutcome& out, std::unique_lock<std::mutex>& lock);
  void DoInquiry(const ScsiRequest& r, ScsiOutcome& out);
  void DoReadToc(const ScsiRequest& r, ScsiOutcome& out);
  void DoRead(const ScsiRequest& r, ScsiOutcome& out, int form, std::unique_lock<std::mutex>& lock);
  void DoPlay(const ScsiRequest& r, ScsiOutcome& out);
  void DoSubChannel(const ScsiRequest& r, ScsiOutcome& out);
  void DoStartStop(const ScsiRequest& r, ScsiOutcome& out);
  void DoModeSense(const ScsiRequest& r, ScsiOutcome& out);
  void DoModeSelect(const ScsiRequest& r, ScsiOutcome& out);
  void DoMechanismStatus(const ScsiRequest& r, ScsiOutcome& out);
  void DoDiscInfo(const ScsiRequest& r, ScsiOutcome& out);
  void Reply(const ScsiRequest& r, ScsiOutcome& out, const std::uint8_t* data, std::size_t size);

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  VirtualDriveConfig config_;
  VirtualDriveFaults faults_;
  std::function<std::int64_t()> clock_;
  std::function<std::int64_t()> readClockUs_;
  std::function<void(std::int64_t)> readWait_;
  // When (clock microseconds) the reads asked so far are done at the
  // drive's speed.
  std::int64_t readsDoneUs_ = 0;
  std::optional<VirtualDisc> disc_;
  MediumState medium_ = MediumState::None;
  BurnState burn_;
  std::string imagePath_;
  std::string burnTarget_;
  bool rewritable_ = false;
  bool namedAfterImage_ = false;
  std::string imageProduct_;  // the product NameAfterImage gave, before any number
  bool trayOpen_ = false;
  bool locked_ = false;
  bool attached_ = true;
  bool mediumChanged_ = false;
  PlayState play_;
  Stats stats_;
  std::array<std::uint8_t, kSenseLength> lastSense_{};
  std::vector<std::vector<std::uint8_t>> log_;
  // Reads of each flaky sector so far (VirtualDriveFaults::flakyFirst).
  std::map<std::int32_t, int> flakyReads_;
  // The bytes a wrong read of a flaky sector changes: every kFlakyByteStep-th
  // from kFlakyFirstByte.
  static constexpr std::uint32_t kFlakyFirstByte = 37, kFlakyByteStep = 211;
};

// Where a blank's lead-in starts (97:26:66, as READ DISC INFORMATION gives
// it): a cue sheet whose lead-in carries CD-Text is written from here.
inline constexpr std::int32_t kBlankLeadInStartLba = 97 * 4500 + 26 * 75 + 66 - 450150;

// Which read form (ReadCommand index 0..8) a block is, or -1.
int ReadFormOfBlock(const std::uint8_t* cdb, int cdbLength);

// The Q sub-channel of a sector of the disc as READ CD returns it formatted
// (16 bytes: control/ADR, then BCD fields, the CRC as recorded, zero pad).
// Mode 1 (position) everywhere: index 0 in a track's pregap (and before the
// first track), the relative time counting down to INDEX 01 there and up
// from it after (index 2, 3... from the track's later index points on);
// except that, as on a pressed disc, one section in every
// 100 is mode 2 (the catalogue number; absolute frame % 100 ==
// kCatalogQPhase) on a disc with a catalogue, and one in every 100 is mode 3
// (the ISRC; % 100 == kIsrcQPhase) after INDEX 01 of a track with an ISRC.
inline constexpr int kCatalogQPhase = 10;
inline constexpr int kIsrcQPhase = 60;
void FormattedSubQ(const VirtualDisc& disc, std::int32_t lba, std::uint8_t (&q)[16]);

}  // namespace sonarvex
