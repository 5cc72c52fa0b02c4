// File conversion without a window: the four source lists, the rows of the
// current direction, the output names, and the batch in each direction (MP3
// to WAV or to a lower MP3 bitrate through libkelpra.so, WMA to WAV or MP3
// through WmaFileReader, several at once, the sound of AVI files, WAV to
// MP3, WMA, Ogg Vorbis or Opus through EncoderSet, FLAC to WAV, MP3, WMA,
// Ogg Vorbis or Opus through FlacReader, several at once, with its tags).
//
// TConvertForm shows the rows and forwards its commands here; the
// command-line converter drives the same engine. What a window must do
// (keep itself alive, show a row, its caption) goes through ConvertHost.
//
// Every output is written under its name + ".part" and renamed when
// complete, so a failed, cancelled or interrupted file leaves nothing under
// the output name. A file that is already at an output name is replaced only
// when the user says so (a question for each, or `overwrite`); two outputs of
// one batch never share a name: the later one gets " (2)", " (3)"... before
// its extension.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codec/AudioFormat.h"
#include "codec/FormatOptions.h"
#include "codec/ProgressCallback.h"
#include "conversion/Mp3DecoderLibrary.h"
#include "platform/SafeFile.h"
#include "records/OutputKind.h"
#include "records/SettingsRecord.h"
#include "records/TextFields.h"
#include "records/TrackTagRecord.h"

namespace sonarvex {

class Dialogs;
class EncoderSet;
class FlacConvertJob;
class WmaFileReader;

enum ConvertDirection : int {
  kMp3ToWav = 0,
  kMp3ToMp3 = 1,
  kWmaToWav = 2,
  kWmaToMp3 = 3,
  kAviToMp3OrWav = 4,
  kWavToMp3 = 5,
  kWavToWma = 6,
  kWavToOgg = 7,
  kWavToOpus = 8,
  kFlacToWav = 9,
  kFlacToMp3 = 10,
  kFlacToWma = 11,
  kFlacToOgg = 12,
  kFlacToOpus = 13,
};
inline constexpr int kDirectionCount = 14;
// Whether a direction reads FLAC files.
inline constexpr bool IsFlacDirection(int d) { return d >= kFlacToWav && d <= kFlacToOpus; }

// The DirectionBox items, by direction.
const std::vector<std::string>& DirectionItems();
// The FormatBox items and their bitrates (kbit/s).
const std::vector<std::string>& FormatItems();
inline constexpr int kFormatBitrates[8] = {192, 160, 128, 112, 96, 80, 64, 56};

inline constexpr const char* kConvertCaption = "Конвертирование файлов";
inline constexpr const char* kStateWaiting = "Ждет начала";
inline constexpr const char* kStateDone = "Готово";
inline constexpr const char* kStateCannotRead = "невозможно прочитать";
inline constexpr const char* kStateNoSound = "не содержит звука";
inline constexpr const char* kStateReadError = "ошибка чтения";
// Row states of the program's own, for outcomes the classic texts do not name.
inline constexpr const char* kStateDecodeError = "ошибка декодирования";
inline constexpr const char* kStateWriteError = "ошибка записи";
inline constexpr const char* kStateStopped = "Остановлено";
// The output's name was taken by a file the user chose to keep.
inline constexpr const char* kStateSkipped = "Пропущен";
inline constexpr const char* kWmaDecodingImpossibleText =
    "Декодирование WMA файлов невозможно т.к. необходимый компонент не установлен.";
inline constexpr const char* kWmaDecoderMissingText =
    "Не найден необходимый компонент (декодер WMA библиотеки libavcodec).\n"
    "Вы можете установить его из пакета Debian:\nlibavcodec59\n"
    "После перезапустите программу.";
inline constexpr const char* kSourceDecodeErrorText = "Произошла ошибка во время декодирования файла ";
inline constexpr const char* kStopQuestionText = "Остановить процесс???";
// The question before an output replaces a file that is there ("Да", "Да для
// всех", "Нет").
std::string ReplaceQuestionText(const std::string& path);
// The output name with " (n)" before its extension.
std::string NumberedName(const std::string& path, int n);

// The kind of source list a file goes to, by its extension (any case).
enum class SourceKind { None, Wav, Mp3, Avi, Wma, Flac };
SourceKind SourceKindOf(const std::string& path);
// Whether a source kind belongs to a direction.
bool DirectionTakes(int direction, SourceKind kind);
// What a direction reads, and the output kind it writes (the AVI direction:
// WAV, or MP3 when asked).
SourceKind DirectionSource(int direction);
OutputKind DirectionTarget(int direction);
// Whether a direction can write `kind`.
bool DirectionMakes(int direction, OutputKind kind);

// "N% завершено", with "Преобр. WAV " before it for mode -1.
std::string ProgressText(int percent, int mode);
// 100 - (total - done) div (total div 100), at most 100; totals below 100
// count in whole percent of the total (0 for a total of 0).
int ProgressPercent(std::uint64_t done, std::uint64_t total);

struct ConvertRow {
  std::string name;    // file name
  std::string folder;  // its folder, with the trailing '/'
  std::string state = kStateWaiting;
  bool checked = true;
  std::unique_ptr<TrackTags> tag;
  bool taken = false;  // started by the WMA batch
  std::string Path() const { return folder + name; }
};

// What a window (or the command line) does for the engine.
class ConvertHost {
 public:
  virtual ~ConvertHost() = default;
  // The rows were rebuilt (direction change, removal, cleared lists).
  virtual void RowsReset() {}
  // A row's state or check box changed.
  virtual void RowChanged(int /*row*/) {}
  // A row was added at the end.
  virtual void RowAdded(int /*row*/) {}
  // The batch works on this row now: select it and show it.
  virtual void CurrentRow(int /*row*/) {}
  virtual void CaptionChanged(const std::string& /*caption*/) {}
  // Keeps the window alive (processes pending events); false when the
  // window is gone.
  virtual bool Pump() { return true; }
  // Waits between polls of the WMA batch.
  virtual void Pause(int milliseconds);
  // A file finished: its source and its output (the command line prints them).
  virtual void FileDone(const std::string& /*source*/, const std::string& /*output*/) {}
  // A file was not converted for the reason given (the row shows its state).
  virtual void FileFailed(const std::string& /*source*/, const std::string& /*why*/) {}
  // A file needed no work (MP3 at or below the target bitrate, or not at
  // 44100 Hz): no output was made.
  virtual void FileSkipped(const std::string& /*source*/, const std::string& /*why*/) {}
};

struct ConvertEngineContext {
  SettingsRecord* settings = nullptr;
  // The settings' full texts (the output folder in every script); without
  // them the record's own text.
  RecordTexts* settingsTexts = nullptr;
  EncoderSet* encoders = nullptr;
  Dialogs* dialogs = nullptr;
  ConvertHost* host = nullptr;
  std::string programFolder;  // ends in '/': libkelpra.so lies there
  std::string tempFolder;     // ends in '/': "TempFile/" beside the program
  // Whether WMA files can be decoded (tests pretend they cannot); FFmpeg
  // must be there as well, which the engine asks when a WMA file or
  // direction is first used (other directions never load it).
  bool wmaDecoderAvailable = true;
  // The options of the output formats kept beside the settings record
  // (Opus's bitrate); without them the formats' defaults.
  FormatOptions formatOptions;
  // Makes one more encoder set on the same settings for the FLAC batch,
  // which encodes several files at once (one set per file); without it
  // the batch makes them with the program's encoder libraries.
  std::function<std::unique_ptr<EncoderSet>()> makeEncoders;
  // Whether FLAC files can be read (tests pretend they cannot); the library
  // must be there as well.
  bool flacDecoderAvailable = true;
};

class ConvertEngine {
 public:
  explicit ConvertEngine(const ConvertEngineContext& context);
  ~ConvertEngine();
  ConvertEngine(const ConvertEngine&) = delete;
  ConvertEngine& operator=(const ConvertEngine&) = delete;

  // Loads libkelpra.so (a message and false when it cannot), creates the
  // temporary folder and takes the window's choices from the settings.
  bool Create();
  // Refused (false) while busy. Stores the choices into the settings,
  // deletes the temporary outputs and removes the temporary folder.
  bool Close();

  // The directions that can run: all of them, less those to WMA without
  // the WMA encoder, those to Opus without libopusenc and those from FLAC
  // without libFLAC (DirectionItems() indexes stay the directions' numbers).
  std::vector<int> AvailableDirections() const;
  bool DirectionAvailable(int direction) const;

  // Adding files: one path (kept in its source list; a row when it belongs
  // to the current direction), or every matching file below a folder.
  void AddFile(const std::string& path);
  void AddFolder(const std::string& folder);
  // Changes the direction: rows rebuilt from its source list. A change from
  // 5 to 6, or between two FLAC directions, keeps everything as it is; a
  // direction that cannot run is refused.
  void SetDirection(int direction);
  int Direction() const { return direction_; }

  void RemoveAll();
  void RemoveChecked(bool checked);  // "Удалить выбранное" (true) / "Удалить НЕ выбранное"
  void SetChecked(int row, bool checked);
  void CheckAll(bool checked);

  // The choices of the window.
  std::string outputFolder;   // DirEdit (native, may be empty)
  bool saveToSourceFolder = false;  // SaveDirBox
  bool deleteSources = false;       // DelAfterEncodingBox
  int formatIndex = 0;              // FormatBox
  // Files at output names are replaced without a question (the command
  // line's --overwrite).
  bool overwrite = false;

  // Whether the tag button and the delete-sources box apply (the directions
  // from WAV and from FLAC into an encoder), and whether FormatBox is shown
  // (direction 1).
  bool TagsApply() const { return direction_ >= kWavToMp3 && direction_ != kFlacToWav; }
  bool FormatApplies() const { return direction_ == kMp3ToMp3; }

  // The output path of row k (with the extension of the direction's target).
  std::string OutputPath(int row) const;

  // The tag record of a row, made on first use (tags on, the title = the
  // file name; a FLAC file's own tags when it has any); nullptr for a row
  // that does not exist.
  TrackTags* RowTag(int row);

  // Runs the batch over the checked rows; returns at its end or on cancel.
  // newBatch: false continues the batch of the last run (the command line
  // runs one batch per direction): its output names stay taken and an
  // answer "Да для всех" holds.
  void Run(bool newBatch = true);
  // The status byte: 1 asks the batch to stop after the current file.
  void RequestCancel() { status_ = 1; }
  std::uint8_t Status() const { return status_; }
  bool Busy() const { return busy_; }
  int CurrentRowIndex() const { return current_; }

  const std::vector<ConvertRow>& Rows() const { return rows_; }
  const std::vector<std::string>& SourceList(SourceKind kind) const;
  const std::vector<std::string>& TemporaryOutputs() const { return temporary_; }
  const std::string& Caption() const { return caption_; }
  const std::string& TempFolder() const { return context_.tempFolder; }

  // The progress routine of the batch (done, total, cancel flag, mode).
  void Progress(std::uint64_t done, std::uint64_t total, bool* cancel, int mode);
  // The number of readers the WMA and the FLAC batch run at once.
  int WmaReadersAtOnce() const;
  // Readers of the WMA batch in their slots now (finished ones until collected).
  int WmaReadersRunning() const;
  // Files of the FLAC batch in their slots now, and the most there were at once.
  int FlacJobsRunning() const;
  int FlacJobsAtOnceSeen() const { return flacJobsSeen_; }

 private:
  enum class Outcome { Done, Skipped, Declined, Failed, Cancelled };
  struct Mp3Call;

  std::vector<std::string>& ListFor(int direction);
  void RebuildRows();
  void SetState(int row, const std::string& state);
  Outcome Fail(int row, const char* state, const std::string& why);
  Outcome Finish(int row, const std::string& part, const std::string& output, WriteResult r);
  // Makes output a name no other output of the batch has and, when a file
  // is there, asks whether to replace it. Done when the output may be
  // written (and the name is taken), Declined or Failed otherwise (the row
  // shows why).
  Outcome ClaimOutput(int row, std::string& output);
  // The decoded PCM of an MP3 against what its VBR header promises.
  bool CutShort(const std::string& source, std::string* why) const;

  Outcome ConvertMp3ToWav(int row);
  Outcome ConvertMp3ToMp3(int row);
  Outcome ConvertAvi(int row);
  Outcome ConvertWav(int row);
  void RunWmaBatch(bool toMp3);
  bool StartWmaReader(std::unique_ptr<WmaFileReader>& slot, int row, bool toMp3);
  int NextWmaRow(int& lastStarted);
  void RunFlacBatch();
  void EndBatch();
  // The batch takes row `row`, its `ordinal`-th file of `count`: the caption
  // names it and the window shows its row.
  void ShowFile(int row, int ordinal, int count);
  bool StartFlacJob(std::unique_ptr<FlacConvertJob>& slot, int row, EncoderSet* encoders);
  void CollectFlacJob(FlacConvertJob& job);

  ConvertEngineContext context_;
  SettingsRecord& settings_;
  ConvertHost& host_;
  Mp3DecoderLibrary decoder_;
  std::vector<std::string> wav_, mp3_, avi_, wma_, flac_;
  std::vector<ConvertRow> rows_;
  std::vector<std::string> temporary_;
  std::vector<std::unique_ptr<WmaFileReader>> slots_;
  std::vector<std::unique_ptr<FlacConvertJob>> flacJobs_;
  int flacJobsSeen_ = 0;
  // Whether WMA files can be decoded: asked of FFmpeg on first need.
  bool WmaDecodable() const;
  // Whether FLAC files can be read: asked of libFLAC on first need.
  bool FlacReadable() const;
  mutable int wmaDecodable_ = -1;  // -1: not asked yet
  mutable int flacReadable_ = -1;  // -1: not asked yet
  std::vector<std::string> claimed_;  // output names of this batch
  bool replaceAll_ = false;           // "Да для всех" was answered
  bool replaceCurrent_ = false;       // the current output may replace a file
  std::uint64_t decodedBytes_ = 0;    // PCM of the MP3 being decoded
  int decodedBlockAlign_ = 0;
  int direction_ = 0;
  std::uint8_t status_ = 0;
  bool busy_ = false;
  int current_ = -1;
  int lastPercent_ = -1;
  int taken_ = 0, checkedAtStart_ = 0;  // files the batch took so far, and of how many
  std::string caption_ = kConvertCaption;
};

}  // namespace sonarvex
