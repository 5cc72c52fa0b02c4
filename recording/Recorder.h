// The recording layer: the drives that can be reached for writing, the audio
// files of a compilation (recording/TrackSource: WAV, FLAC, MP3, Ogg, Opus,
// WMA, decoded as they are written), their track table and cue sheet, and the drive
// operations of an audio disc written in one session at once (raw 2352-byte
// audio, buffer underrun protection on), blanking, OPC, speed, lock, eject,
// and the disc and mechanism state.
//
// It works on the program's two transports with a choice of its own: the
// generic SCSI transport whenever it finds a drive, else pass-through.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "drive/CommandBlock.h"
#include "recording/DiscTexts.h"
#include "recording/TrackGaps.h"

namespace sonarvex {

class AspiTransport;
class Dialogs;
class SptiTransport;
class TrackSource;
class Transport;

inline constexpr const char* kRecorderMessageCaption = "Sonarvex";
inline constexpr const char* kLeadInStatus = "Запись Lead-In ...";
// The status line while the lead-in's CD-Text is written (some seconds).
inline constexpr const char* kCdTextLeadInStatus = "Запись вводной области (CD-Text)…";

class Recorder {
 public:
  static constexpr int kMaxDrives = 16;
  static constexpr int kProbedNumbers = 8;
  static constexpr std::size_t kCapabilitiesLength = 36;
  static constexpr int kMaxTracks = 99;
  static constexpr int kCueSheetEntries = 200;
  static constexpr std::uint32_t kSmallBufferBytes = 176400;
  // WaitReady gives up after this long (a drive still "becoming ready" after
  // ten minutes is not going to be).
  static constexpr int kWaitReadyLimitMs = 10 * 60 * 1000;

  struct Drive {
    int device = 0;              // the number to select on the recording transport
    std::string identification;  // inquiry bytes 8..35 (UTF-8), trailing blanks kept
    std::array<std::uint8_t, kCapabilitiesLength> capabilities{};  // mode header + page 2A
    bool CanWriteCdr() const { return (capabilities[11] & 0x01) != 0; }
    bool CanTestWrite() const { return (capabilities[11] & 0x04) != 0; }
    // Page byte 5, bit 2: the drive takes the R-W sub-channel, which carries
    // CD-Text in the lead-in.
    bool CanWriteCdText() const { return (capabilities[13] & 0x04) != 0; }
  };

  // Called before each write with (current sector, track start, error count,
  // track end).
  using WriteProgressCallback =
      std::function<void(std::int32_t current, std::int32_t trackStart, int errors, std::int32_t trackEnd)>;
  // Replaces the status line with a text and returns the text it had.
  using StatusCallback = std::function<std::string(const std::string& text)>;

  Recorder(SptiTransport& spti, AspiTransport& aspi, Dialogs& dialogs);
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Chooses the transport, lists the drives and selects the first.
  void Create();
  // Closes the pass-through device and gives back the generic layer.
  void Destroy();

  bool UsesSpti() const { return useSpti_; }
  Transport& CurrentTransport();
  const std::vector<Drive>& Drives() const { return drives_; }
  int DeviceCount() const { return static_cast<int>(drives_.size()); }
  int CurrentDevice() const { return device_; }
  // The entry of the current device, or null.
  const Drive* CurrentDrive() const;

  bool SelectDevice(int device);

  // False for an empty list. gaps: one a file, or none for plain files.
  bool SetFiles(const std::vector<std::string>& files, std::vector<TrackGaps> gaps = {});
  const std::vector<std::string>& Files() const { return files_; }
  // Where libkelpra.so lies (the program's folder), for MP3 files.
  void SetDecoderFolder(std::string folder) { decoderFolder_ = std::move(folder); }
  const std::string& DecoderFolder() const { return decoderFolder_; }
  // The catalogue number, ISRCs and CD-Text of the disc (one track entry a
  // file); SendCUEToCD puts them into the cue sheet and the lead-in. Texts
  // CD-Text cannot hold (it is written in ISO 8859-1) are left out, and a
  // drive that cannot write CD-Text writes the disc without it; both are
  // said in a message.
  void SetDiscTexts(DiscTexts texts) { texts_ = std::move(texts); }
  const DiscTexts& Texts() const { return texts_; }
  // The CD-Text packs the lead-in carries (empty: none), and where the
  // lead-in starts.
  const std::vector<std::uint8_t>& CdTextPacks() const { return cdTextPacks_; }
  std::int32_t LeadInStart() const { return leadInStart_; }

  // Checks every file before anything is sent to the drive: it exists, is a
  // regular file that can be read, is CD audio, and holds at least one whole
  // sector of it. The first that fails is named with the reason (a message)
  // and the result is false.
  bool CheckFiles();
  bool InitWriteProcess(bool testWrite, WriteProgressCallback progress);
  // Measures the files (as CheckFiles checks them: a file holding less audio
  // than its header claims gives the sectors it holds) and sends the cue sheet.
  bool SendCUEToCD();
  // Writes one track (the first with track 1's pregap before it). True only
  // when every sector of it was read from its file and taken by the drive.
  // Writing stops at the first failure: FailureText then says what failed;
  // it is empty when the cancel flag stopped it.
  bool WriteTrack(int index, int sectorsPerWrite, const std::atomic<bool>& cancel);
  const std::string& FailureText() const { return failure_; }

  // What a written track read back as: the same as the audio sent, or from
  // which sector of it (counted from the track's start on the disc) it
  // differs or cannot be read.
  struct TrackCheck {
    int track = 0;  // 1-based
    bool same = false;
    bool readFailed = false;
    std::int32_t firstBad = -1;  // sectors from the track's start; -1 when same
  };
  // Reads every written track back from the disc in the drive (the audio
  // corrected by the drive's read offset, in samples) and compares each
  // sector's CRC32 with that of the sector sent while writing. Progress goes
  // through the write progress callback. The sectors a drive with a read
  // offset cannot reach (the disc's first or last few) are not compared.
  // False when the cancel flag stopped
  // it (checks then holds the tracks done) or nothing was written.
  bool VerifyTracks(int readOffsetSamples, const std::atomic<bool>& cancel, std::vector<TrackCheck>& checks);
  // The result in words: "Проверка записи: все дорожки совпадают", or a line
  // for each track that differs ("Дорожка N отличается от источника с
  // позиции mm:ss.ff") or cannot be read.
  static std::string VerifyText(const std::vector<TrackCheck>& checks);
  // CRC32 of each sector sent from LBA 0 on (test hooks and the verify step).
  const std::vector<std::uint32_t>& WrittenSectorCrcs() const { return sectorCrcs_; }

  // False (with FailureText) when the drive does not close the session.
  bool CloseSession();
  bool BlankMinimal();
  bool BlankFull();
  bool DoOPC();
  bool SetSpeed(int factor);
  bool Lock(bool lock);
  bool Eject(bool eject);
  bool IsReady();
  bool MediaChanged();
  // TEST UNIT READY until the drive is no longer becoming ready, 100 ms
  // apart, at most kWaitReadyLimitMs (SetWaitReadyLimitMs); 0 ready, 1
  // failed, 2 still not ready.
  int WaitReady();
  void SetWaitReadyLimitMs(int ms) { waitReadyLimitMs_ = ms; }
  bool DiscInfo(std::uint8_t (&buffer)[kDiscInfoLength]);
  int Mechanism();

  // The disc as the recording window sees it.
  struct DiscState {
    bool ready = false;
    int status = 0;  // disc status bits 0..1 (0 blank, 1 incomplete, 2 complete)
    bool erasable = false;
    bool Blank() const { return ready && status == 0; }
  };
  DiscState ReadDiscState();

  // Where each track lies on the disc (LBA; track 1's INDEX 00 is at -150).
  struct TrackMarks {
    static constexpr std::int32_t kNone = -1000000;
    std::int32_t index0 = kNone;  // its pregap, when it has one
    std::int32_t index1 = 0;
    std::vector<std::int32_t> indices;  // INDEX 02, 03...
    bool operator==(const TrackMarks&) const = default;
  };
  // A stretch of the disc and what is written there: silence, or sectors of
  // a file.
  struct Segment {
    std::int32_t lba = 0;
    std::int32_t sectors = 0;
    int file = -1;  // -1: silence
    std::int32_t fileSector = 0;
  };
  struct DiscPlan {
    std::vector<std::int32_t> trackTable;
    std::vector<TrackMarks> marks;
    std::vector<Segment> segments;
  };
  // Lays the files (of these sector counts) out on the disc with their
  // gaps: every file whole, PREGAP and POSTGAP silence around it, the index
  // marks where the gaps put them. False, with the reason (Russian) and the
  // file it concerns, when the gaps do not fit the files.
  static bool PlanDisc(const std::vector<std::string>& files, const std::vector<std::int32_t>& sectors,
                       const std::vector<TrackGaps>& gaps, DiscPlan& plan, std::string* why, int* file);

  // TrackTable: entry k = where track k begins (its pregap first), the last
  // entry the lead-out. For plain files: entry 0 = 0, entry k+1 = entry k +
  // sectors of file k.
  const std::vector<std::int32_t>& TrackTable() const { return trackTable_; }
  std::int32_t TotalSectors() const { return trackTable_.empty() ? 0 : trackTable_.back(); }
  const std::vector<TrackMarks>& Marks() const { return plan_.marks; }
  // The cue sheet as sent (8 bytes an entry).
  const std::vector<std::uint8_t>& CueSheet() const { return cueSheet_; }
  int ErrorCount() const { return errorCount_; }

  std::array<double, 100>& Gains() { return gains_; }
  void SetNormalize(bool on) { normalize_ = on; }
  bool Normalize() const { return normalize_; }
  void SetStatusCallback(StatusCallback status) { status_ = std::move(status); }

  // The buffer WriteTrack uses for a number of sectors per write.
  static std::size_t WriteBufferBytes(int sectorsPerWrite);
  // The cue sheet of a track table (lead-in, track 1's pregap, the tracks,
  // the lead-out), 8 bytes an entry.
  static std::vector<std::uint8_t> BuildCueSheet(const std::vector<std::int32_t>& trackTable);
  // The cue sheet of tracks with their marks: INDEX 00 of track 1 at
  // 00:00:00 and of every other track with a pregap, INDEX 01, INDEX 02...
  static std::vector<std::uint8_t> BuildCueSheet(const std::vector<TrackMarks>& marks, std::int32_t leadOut);
  // The same with the disc's codes: the catalogue number after the lead-in
  // entry, each track's ISRC before its first entry (ADR 2 and 3, two
  // entries each), and the lead-in's data form 41h when the host writes
  // CD-Text there.
  struct CueCodes {
    std::string catalog;             // 13 digits, or "" for none
    std::vector<std::string> isrcs;  // one a track, "" for none
    bool cdText = false;
  };
  static std::vector<std::uint8_t> BuildCueSheet(const std::vector<TrackMarks>& marks, std::int32_t leadOut,
                                                 const CueCodes& codes);
  // Whether a text can be written as CD-Text (ISO 8859-1, no control
  // characters).
  static bool FitsCdText(const std::string& utf8);

 private:
  bool Ok(CommandResult result);
  // Measures one file as CheckFiles checks it; false after its message.
  bool MeasureFile(const std::string& path, std::int32_t* sectors);
  // Why the drive refused the last command, from its sense (and its own
  // words where it gave some).
  std::string DriveReason();
  // Decides what CD-Text the disc gets (cdTextPacks_, leadInStart_),
  // saying what is left out and why.
  void PrepareCdText();
  // The catalogue number and ISRCs as they may be written (valid codes only).
  CueCodes Codes() const;

  SptiTransport& spti_;
  AspiTransport& aspi_;
  Dialogs& dialogs_;
  bool useSpti_ = true;
  bool aspiLoaded_ = false;
  int device_ = -1;
  std::vector<std::string> files_;
  std::vector<TrackGaps> gaps_;
  DiscPlan plan_;
  // The file being written (decoded as it is read) and the sector its next
  // read gives: kept from one track to the next, whose pregap may be the
  // end of this file.
  std::unique_ptr<TrackSource> reader_;
  int readerFile_ = -1;
  std::int32_t readerSector_ = 0;
  WriteProgressCallback progress_;
  std::atomic<int> errorCount_{0};
  std::uint8_t mediaState_ = 0xFF;
  std::vector<Drive> drives_;
  std::vector<std::int32_t> trackTable_;
  std::vector<std::uint8_t> cueSheet_;
  std::array<double, 100> gains_{};
  bool normalize_ = false;
  StatusCallback status_;
  std::string failure_;
  std::string decoderFolder_;
  std::vector<std::uint32_t> sectorCrcs_;
  std::vector<bool> sectorWritten_;
  DiscTexts texts_;
  std::vector<std::uint8_t> cdTextPacks_;
  std::int32_t leadInStart_ = 0;
  int waitReadyLimitMs_ = kWaitReadyLimitMs;
};

}  // namespace sonarvex
