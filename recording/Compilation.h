// The compilation of a recording: its rows (folder, file, audio length),
// the totals as the recording window shows them, adding files, folders and
// cue sheets (WAV files that are not CD audio are converted into the
// temporary folder first), moving rows, project files, the
// recording settings file, and the checks made before a recording.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "records/RecordingSettings.h"
#include "recording/DiscTexts.h"
#include "recording/TrackGaps.h"

namespace sonarvex {

class Dialogs;

inline constexpr const char* kRecordingSettingsName = "wset.dat";
inline constexpr const char* kRecordingTempFolderName = "WCDDATF";
inline constexpr std::uint32_t kOrangeTimeColor = 0x649AEC;  // COLORREF: an orange

struct CompilationRow {
  std::string folder;  // with a trailing '/'
  std::string name;
  std::uint32_t bytes = 0;  // audio data length
  int image = 2;            // 2 added, 1 recorded
  // From a cue sheet: its pregap, index points and gaps (none for a file
  // added alone).
  TrackGaps gaps{};
  // From a cue sheet: the track's TITLE, PERFORMER and ISRC.
  std::string title{}, performer{}, isrc{};
  std::string Path() const { return folder + name; }
};

// "MM:SS:FF" of a sector count (each part two digits at least).
std::string SectorTimeText(std::uint32_t sectors);
// "%2.2f Мб" of bytes / 1048576.
std::string MegabyteText(std::uint64_t bytes);

class Compilation {
 public:
  // tempFolder: where converted files go (ends in '/'); created on first use.
  Compilation(std::string tempFolder, Dialogs& dialogs);

  const std::vector<CompilationRow>& Rows() const { return rows_; }
  std::vector<CompilationRow>& Rows() { return rows_; }
  std::vector<std::string> Paths() const;
  std::vector<TrackGaps> Gaps() const;
  // The disc's codes and texts for the recording: each row's, and the
  // album's TITLE, PERFORMER and CATALOG of a cue sheet loaded into an
  // empty list (the catalogue number is dropped again when anything else
  // joins it: the disc is no longer that release).
  DiscTexts Texts() const;
  const std::string& TempFolder() const { return tempFolder_; }

  // Where libkelpra.so lies, for MP3 rows (the session's library folder).
  void SetDecoderFolder(std::string folder) { decoderFolder_ = std::move(folder); }
  const std::string& DecoderFolder() const { return decoderFolder_; }
  // Adds one file as the recording window does; false when it was left out.
  // FLAC, MP3, Ogg Vorbis, Opus and WMA files (by their content) are listed
  // as they are, with their CD-format length from their headers, and
  // decoded while the disc is written; one that cannot be used is named in
  // a message with the reason.
  bool AddFile(const std::string& path, bool skipCompressed);
  // Every audio file below the folder (IsCompilationAudioName; folders
  // starting with '.' are skipped).
  int AddFolder(const std::string& folder, bool skipCompressed);
  // Adds the files of a cue sheet with one file a track (ReadAudioCueSheet),
  // in track order: WAV files as AddFile adds them, FLAC files listed as
  // they are with their length from their STREAMINFO block (decoded, and
  // their MD5 signature checked, while the disc is written). A hidden
  // track's file and track 1's are joined into one CD-audio WAV file in the
  // temporary folder (FLAC files decoded and checked for it). All or
  // nothing: when the sheet
  // cannot be read, or one of its files cannot be used, a message names the
  // sheet, the line and the file and why, nothing is added and whatever was
  // converted for it is deleted again.
  bool AddCueSheet(const std::string& path, bool skipCompressed);
  void Remove(int row);
  void Clear() {
    rows_.clear();
    disc_ = DiscTexts{};
  }
  // Moves a row onto another: before the target, or to the end when the
  // target is the last row. Returns the moved row's new index.
  int Move(int from, int to);

  std::uint64_t TotalBytes() const;
  std::uint32_t TotalSectors() const { return static_cast<std::uint32_t>(TotalBytes() / 2352); }
  std::string SizePanelText() const;   // "Размер 12.34 Мб"
  std::string TimePanelText() const;   // "Время MM:SS:FF"
  std::string FilePanelText() const;   // "Файлов N"
  // 76 minutes or more: the time panel turns orange.
  bool TimeWarning() const { return TotalSectors() / 4500 >= 76; }
  // 79 minutes or more: the recording asks first.
  bool OverLength() const { return TotalSectors() / 4500 > 78; }

  // The converted files made so far; DeleteConverted removes them and the
  // temporary folder when it is empty.
  const std::vector<std::string>& Converted() const { return converted_; }
  void DeleteConverted();

 private:
  enum class Prepared { Ok, InTempFolder, CannotOpen, NotWave, NotUsable, Skipped, ConversionFailed };
  Prepared PrepareWav(const std::string& path, bool skipCompressed, CompilationRow& row);
  // A CD-audio WAV file in the temporary folder of the audio of `lead`
  // followed by that of `row`, which then names it.
  bool JoinWav(const CompilationRow& lead, CompilationRow& row, std::string* why);
  // A free name for name in the temporary folder ("a.wav", "a (2).wav"...).
  std::string FreeTempName(const std::string& name) const;

  std::string tempFolder_;
  std::string decoderFolder_;
  Dialogs& dialogs_;
  std::vector<CompilationRow> rows_;
  std::vector<std::string> converted_;
  DiscTexts disc_;  // catalog, title and performer only
};

// Whether a path names a cue sheet (".cue", any case).
bool IsCueSheetPath(const std::string& path);

// A cue sheet whose files each hold one audio track from its INDEX 01 (a
// track's pregap may lie at the end of the file before, as INDEX 00 there),
// as a rip leaves it beside its files (app/RipLog.h, CueSheetText).
struct AudioCueTrack {
  enum class Kind { Wave, Flac };
  int number = 0;
  std::string name;   // the file as the sheet writes it
  std::string path;   // resolved from the sheet's folder (an absolute name stays)
  Kind kind = Kind::Wave;  // by the file's content, not by the sheet's word
  int fileLine = 0;   // the FILE line (1-based)
  int trackLine = 0;  // the TRACK line
  std::int32_t index1 = 0;  // INDEX 01 in the file, sectors (0 in a rip's sheet)
  // INDEX 00 in the file before (sectors into that file), -1 when the pregap
  // is not there.
  std::int32_t index0InPrevious = -1;
  std::vector<std::int32_t> indices;  // INDEX 02, 03... in the file, sectors
  std::int32_t pregap = 0;  // PREGAP, sectors not held by any file
  std::int32_t postgap = 0;
  // Track 1's INDEX 00 at the start of a file of its own before track 1's
  // file (a hidden track ripped as track 0): that file's audio is the
  // track's pregap, burned before its INDEX 01. Empty name: none.
  std::string leadName, leadPath;
  Kind leadKind = Kind::Wave;
  int leadLine = 0;
  std::string title, performer;  // TITLE, PERFORMER (UTF-8)
  std::string isrc;              // ISRC (12 characters), or ""
};

// A data track the files do not hold, from "REM DATATRACK NN START LBA END LBA"
// (END: where the next track or the lead-out begins).
struct AudioCueDataTrack {
  int number = 0;
  std::int32_t start = 0;
  std::int32_t end = 0;
  int line = 0;
};

struct AudioCueSheet {
  std::vector<AudioCueTrack> tracks;          // in track order, one a file
  std::vector<AudioCueDataTrack> dataTracks;  // in the order of the sheet
  // "REM DATATRACKLENGTH mm:ss:ff" (as other rippers write it for an
  // enhanced CD's data track): its length in sectors; -1 when absent.
  std::int32_t dataTrackLength = -1;
  std::string catalog;           // CATALOG (13 digits), or ""
  std::string title, performer;  // the album's TITLE, PERFORMER (UTF-8)
};

// Reads a cue sheet of WAVE and FLAC files, one a track (a FILE of another
// type, a file holding no track or more than one, a data track in a file,
// are refused; only the first file may hold no track's INDEX 01, when it
// holds the first track's INDEX 00 at its start: see leadName). Every file must be a regular file, and a WAV or FLAC file
// by its content. A sheet that is not UTF-8 is read as code page 1251.
// nullopt with the reason ("строка N CUE-файла: ..." where a line is to
// blame, naming the file where a file is).
std::optional<AudioCueSheet> ReadAudioCueSheet(const std::string& path, std::string* error);

// A cue sheet of WAVE and FLAC files in any layout a ripper leaves: one
// file for the whole disc (tracks at their INDEX 01 inside it), one file a
// track with each track's pregap at the end of the file before (INDEX 00
// there) or at the start of its own file (INDEX 00 00:00:00), or left out
// (PREGAP). The files, taken one after the other, are the disc's audio.
struct AudioCueFile {
  std::string name;   // as the sheet writes it
  std::string path;   // resolved from the sheet's folder
  AudioCueTrack::Kind kind = AudioCueTrack::Kind::Wave;  // by the file's content
  int line = 0;       // the FILE line
};

struct AudioCueLayoutTrack {
  int number = 0;
  int trackLine = 0;
  int file = 0;               // into AudioCueLayout::files: the file holding INDEX 01
  std::int32_t index1 = 0;    // sectors into that file
  int index0File = -1;        // the file holding INDEX 00, -1 without one
  std::int32_t index0 = 0;    // sectors into that file
  std::int32_t pregap = 0;    // PREGAP: silence no file holds, before the track's indexes
  std::int32_t postgap = 0;   // POSTGAP: silence after the track's audio
};

struct AudioCueLayout {
  std::vector<AudioCueFile> files;
  std::vector<AudioCueLayoutTrack> tracks;    // in track order
  std::vector<AudioCueDataTrack> dataTracks;  // as in AudioCueSheet
  std::int32_t dataTrackLength = -1;
};

// Reads such a sheet: the same checks of the text and the files as
// ReadAudioCueSheet, without asking for one file a track (a file may hold
// several tracks, or none when it only holds the gap before the next one).
std::optional<AudioCueLayout> ReadAudioCueLayout(const std::string& path, std::string* error);

// wset.dat in the settings folder: the defaults when it is missing or not
// 280 bytes.
RecordingSettings LoadRecordingSettings(const std::string& settingFolder);
// Replaces wset.dat atomically (the folder is made when missing); on failure
// "Не могу сохранить настройки!!!" and false.
bool SaveRecordingSettings(const std::string& settingFolder, const RecordingSettings& settings,
                           Dialogs& dialogs);

// Project files (.cgp): one full path a line, UTF-8.
bool SaveProject(const std::string& path, const std::vector<std::string>& files);
std::optional<std::vector<std::string>> LoadProject(const std::string& path);

}  // namespace sonarvex
