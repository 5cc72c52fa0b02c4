#include "conversion/ConvertEngine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "codec/AviSoundReader.h"
#include "codec/EncoderSet.h"
#include "codec/FlacReader.h"
#include "codec/FormatRegistry.h"
#include "codec/WavFile.h"
#include "codec/WavSourceReader.h"
#include "codec/WmaFileReader.h"
#include "conversion/FlacSource.h"
#include "conversion/Mp3StreamInfo.h"
#include "platform/Cp1251.h"
#include "platform/Dialogs.h"

namespace sonarvex {

namespace fs = std::filesystem;

namespace {

// The engine whose MP3 file the decoder library is decoding (the library
// calls its progress routine without a context; one call at a time).
thread_local ConvertEngine* activeEngine = nullptr;

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string ExtensionOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return Lower(path.substr(dot));
}

std::string WithExtension(const std::string& name, const std::string& ext) {
  const std::size_t dot = name.rfind('.');
  return (dot == std::string::npos ? name : name.substr(0, dot)) + ext;
}

bool Exists(const std::string& path) {
  struct stat st{};
  return ::lstat(path.c_str(), &st) == 0;
}

// Gives a finished partial file its name. Without leave to replace, a file
// that appeared at the name meanwhile stays and the rename fails (EEXIST).
int RenameOutput(const std::string& part, const std::string& output, bool replace) {
  if (replace) return std::rename(part.c_str(), output.c_str());
  if (::renameat2(AT_FDCWD, part.c_str(), AT_FDCWD, output.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  // A file system without that rename: a new link fails just as well when
  // the name is taken.
  if (::link(part.c_str(), output.c_str()) != 0) return -1;
  ::unlink(part.c_str());
  return 0;
}

// Makes room for a partial output: a partial file of an earlier run goes,
// anything else at that name stays and the file is not written.
WriteResult PreparePart(const std::string& part) {
  const StaleFile s = RemoveStalePartial(part);
  if (s == StaleFile::Foreign) return WriteResult::Failure(CreateFailureText(part, EEXIST));
  if (s == StaleFile::Error) return WriteResult::Failure(CreateFailureText(part, errno));
  return {};
}

std::string ReadFailure(const std::string& path, const std::string& why) {
  return "Не удалось прочитать файл '" + path + "': " + why + ".";
}

struct DecoderOwner {
  MP3_DECODER_OWNER base;
  Dialogs* dialogs;
};

void DecoderMessage(MP3_DECODER_OWNER* owner, const char* text, const char* caption,
                    std::uint32_t type) {
  auto* o = reinterpret_cast<DecoderOwner*>(owner);
  if (o->dialogs == nullptr) return;
  o->dialogs->Message(text != nullptr ? text : "", caption != nullptr ? caption : kProgramTitle,
                      type == MP3_MB_ICONERROR ? MsgIcon::Error : MsgIcon::Warning, MsgButtons::Ok);
}

// The decoded bytes of the current MP3 (counted through the progress routine).
thread_local std::uint64_t* activeDecodedBytes = nullptr;

void DecoderProgress(std::uint32_t position, std::uint32_t length, std::uint8_t*,
                     std::uint32_t pcmBytes) {
  if (activeDecodedBytes != nullptr) *activeDecodedBytes += pcmBytes;
  if (activeEngine != nullptr) activeEngine->Progress(position, length, nullptr, 0);
}

}  // namespace

const std::vector<std::string>& DirectionItems() {
  static const std::vector<std::string> items{
      "MP3    -> WAVE", "MP3    -> MP3",     "WMA   -> WAVE", "WMA   -> MP3",
      "AVI     -> MP3/WAV", "WAVE -> MP3", "WAVE -> WMA",   "WAVE -> OGG", "WAVE -> OPUS",
      "FLAC -> WAVE",       "FLAC -> MP3", "FLAC -> WMA",   "FLAC -> OGG", "FLAC -> OPUS"};
  return items;
}

const std::vector<std::string>& FormatItems() {
  static const std::vector<std::string> items{"192kBit/s", "160kBit/s", "128kBit/s", "112kBit/s",
                                              "96kBit/s",  "80kBit/s",  "64kBit/s",  "56kBit/s"};
  return items;
}

SourceKind SourceKindOf(const std::string& path) {
  const std::string ext = ExtensionOf(path);
  if (ext == ".wav") return SourceKind::Wav;
  if (ext == ".mp3") return SourceKind::Mp3;
  if (ext == ".avi") return SourceKind::Avi;
  if (ext == ".wma" || ext == ".wmv" || ext == ".asf") return SourceKind::Wma;
  if (ext == ".flac") return SourceKind::Flac;
  return SourceKind::None;
}

namespace {

// The directions in order: what each reads and writes.
struct DirectionEnds {
  SourceKind source;
  OutputKind target;
};
constexpr DirectionEnds kDirectionEnds[kDirectionCount] = {
    {SourceKind::Mp3, OutputKind::Wav}, {SourceKind::Mp3, OutputKind::Mp3},
    {SourceKind::Wma, OutputKind::Wav}, {SourceKind::Wma, OutputKind::Mp3},
    {SourceKind::Avi, OutputKind::Wav}, {SourceKind::Wav, OutputKind::Mp3},
    {SourceKind::Wav, OutputKind::Wma}, {SourceKind::Wav, OutputKind::Ogg},
    {SourceKind::Wav, OutputKind::Opus}, {SourceKind::Flac, OutputKind::Wav},
    {SourceKind::Flac, OutputKind::Mp3}, {SourceKind::Flac, OutputKind::Wma},
    {SourceKind::Flac, OutputKind::Ogg}, {SourceKind::Flac, OutputKind::Opus}};

bool ValidDirection(int direction) { return direction >= 0 && direction < kDirectionCount; }

}  // namespace

SourceKind DirectionSource(int direction) {
  return ValidDirection(direction) ? kDirectionEnds[direction].source : SourceKind::None;
}

OutputKind DirectionTarget(int direction) {
  return ValidDirection(direction) ? kDirectionEnds[direction].target : OutputKind::Wav;
}

bool DirectionMakes(int direction, OutputKind kind) {
  if (!ValidDirection(direction)) return false;
  // The sound of an AVI file becomes WAV or MP3.
  if (direction == kAviToMp3OrWav && kind == OutputKind::Mp3) return true;
  return DirectionTarget(direction) == kind;
}

bool DirectionTakes(int direction, SourceKind kind) {
  return kind != SourceKind::None && DirectionSource(direction) == kind;
}

std::string ReplaceQuestionText(const std::string& path) {
  return "Файл '" + path + "' уже существует. Заменить?";
}

std::string NumberedName(const std::string& path, int n) {
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  const bool ext = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  const std::string suffix = " (" + std::to_string(n) + ")";
  return ext ? path.substr(0, dot) + suffix + path.substr(dot) : path + suffix;
}

std::string ProgressText(int percent, int mode) {
  return std::string(mode == -1 ? "Преобр. WAV " : "") + std::to_string(percent) + "% завершено";
}

int ProgressPercent(std::uint64_t done, std::uint64_t total) {
  if (total == 0) return 0;
  std::uint64_t p;
  if (total >= 100) {
    const std::uint64_t left = total > done ? total - done : 0;
    const std::uint64_t step = left / (total / 100);
    p = step >= 100 ? 0 : 100 - step;
  } else {
    p = std::min(done, total) * 100 / total;
  }
  return static_cast<int>(std::min<std::uint64_t>(p, 100));
}

void ConvertHost::Pause(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// The decoder's options record with what the event routine needs beside it.
struct ConvertEngine::Mp3Call {
  MP3_DECODER_OPTIONS options;  // first: the library hands back its address
  ConvertEngine* engine = nullptr;
  int row = -1;
  int target = 0;  // kbit/s
  std::string output;
  std::string part;
  Outcome claim = Outcome::Done;
  bool partMine = false;  // the partial name is free for this file's output
  bool opened = false;
  bool skipped = false;
  WriteResult failure;

  static std::uint8_t Event(MP3_DECODER_OPTIONS* o, std::int32_t event, std::intptr_t a,
                            std::intptr_t b) {
    auto* call = reinterpret_cast<Mp3Call*>(o);
    ConvertEngine& e = *call->engine;
    switch (event) {
      case MP3_EVENT_FIRST_FRAME: {
        if (call->target >= o->bitrate || o->sampleRate != 44100) {
          call->skipped = true;
          return 0;
        }
        call->claim = e.ClaimOutput(call->row, call->output);
        if (call->claim != Outcome::Done) return 0;
        call->part = call->output + ".part";
        if (WriteResult r = PreparePart(call->part); !r) {
          call->failure = r;
          return 0;
        }
        call->partMine = true;
        e.settings_.Lame.BitrateIndex = call->target;
        const AudioFormatRecord format =
            MakePcmFormat(o->waveFormat.samplesPerSec, o->waveFormat.channels);
        e.context_.encoders->SetSourceFormat(&format);
        e.context_.encoders->SetRawTag(o->fileData,
                                       static_cast<std::uint32_t>(std::max(0, o->firstFrameOffset)));
        WriteResult r = e.context_.encoders->Open(nullptr, call->part, OutputKind::Mp3);
        if (!r) {
          call->failure = r;
          return 0;
        }
        call->opened = true;
        return 1;
      }
      case MP3_EVENT_BATCH: {
        e.decodedBytes_ += static_cast<std::uint64_t>(b);
        if (!call->failure.Ok() || !call->opened) return 1;
        WriteResult r = e.context_.encoders->Write(reinterpret_cast<const void*>(a),
                                                   static_cast<std::size_t>(b));
        if (!r) {
          call->failure = r;
          *o->status = MP3_STATUS_CANCEL;  // stops the walk
        }
        return 1;
      }
      case MP3_EVENT_PROGRESS:
        e.Progress(static_cast<std::uint64_t>(a), static_cast<std::uint64_t>(b), nullptr, 0);
        return 1;
      default: return 1;
    }
  }
};

ConvertEngine::ConvertEngine(const ConvertEngineContext& context)
    : context_(context), settings_(*context.settings), host_(*context.host) {}

bool ConvertEngine::WmaDecodable() const {
  if (wmaDecodable_ < 0)
    wmaDecodable_ = context_.wmaDecoderAvailable && WmaFileReader::DecoderAvailable() ? 1 : 0;
  return wmaDecodable_ == 1;
}

bool ConvertEngine::FlacReadable() const {
  if (flacReadable_ < 0)
    flacReadable_ = context_.flacDecoderAvailable && FlacReader().Available() ? 1 : 0;
  return flacReadable_ == 1;
}

ConvertEngine::~ConvertEngine() {
  if (activeEngine == this) activeEngine = nullptr;
  flacJobs_.clear();
}

bool ConvertEngine::Create() {
  switch (decoder_.Load(context_.programFolder + kMp3DecoderLibraryName)) {
    case Mp3DecoderLibrary::LoadResult::Missing:
      context_.dialogs->Warning(kMp3DecoderMissingText);
      return false;
    case Mp3DecoderLibrary::LoadResult::NoExport:
      context_.dialogs->Warning(kMp3DecoderNoExportText);
      return false;
    case Mp3DecoderLibrary::LoadResult::Loaded: break;
  }
  std::error_code ec;
  fs::create_directories(context_.tempFolder, ec);
  formatIndex = std::clamp<int>(settings_.ConvertFormatIndex, 0, 7);
  outputFolder = context_.settingsTexts
                     ? SettingsText(settings_, *context_.settingsTexts, SettingsField::ConvertFolder)
                     : FieldUtf8(settings_.ConvertFolder);
  saveToSourceFolder = settings_.ConvertSaveToFolder != 0;
  deleteSources = settings_.ConvertDeleteSource != 0;
  direction_ = std::clamp<int>(settings_.ConvertDirection, 0, kDirectionCount - 1);
  // A remembered direction that cannot run moves back to one that can.
  while (direction_ > 0 && !DirectionAvailable(direction_)) --direction_;
  RebuildRows();
  return true;
}

bool ConvertEngine::Close() {
  if (busy_) return false;
  if (context_.settingsTexts)
    SetSettingsText(settings_, *context_.settingsTexts, SettingsField::ConvertFolder, outputFolder);
  else
    SetFieldUtf8(settings_.ConvertFolder, outputFolder);
  settings_.ConvertSaveToFolder = saveToSourceFolder ? 1 : 0;
  settings_.ConvertDirection = static_cast<std::uint8_t>(direction_);
  settings_.ConvertDeleteSource = deleteSources ? 1 : 0;
  settings_.ConvertFormatIndex = static_cast<std::uint8_t>(std::clamp(formatIndex, 0, 7));
  for (const std::string& t : temporary_)
    if (!t.empty()) ::unlink(t.c_str());
  temporary_.clear();
  ::rmdir(context_.tempFolder.c_str());  // only when empty
  decoder_.Unload();
  return true;
}

bool ConvertEngine::DirectionAvailable(int direction) const {
  if (direction < 0 || direction >= kDirectionCount) return false;
  if (IsFlacDirection(direction) && !FlacReadable()) return false;
  if (direction == kWavToWma || direction == kFlacToWma) return context_.encoders->Wma().Available();
  if (direction == kWavToOpus || direction == kFlacToOpus) return context_.encoders->Opus().Available();
  return true;
}

std::vector<int> ConvertEngine::AvailableDirections() const {
  std::vector<int> v;
  for (int d = 0; d < kDirectionCount; ++d)
    if (DirectionAvailable(d)) v.push_back(d);
  return v;
}

std::vector<std::string>& ConvertEngine::ListFor(int direction) {
  switch (direction) {
    case kMp3ToWav:
    case kMp3ToMp3: return mp3_;
    case kWmaToWav:
    case kWmaToMp3: return wma_;
    case kAviToMp3OrWav: return avi_;
    default: return IsFlacDirection(direction) ? flac_ : wav_;
  }
}

const std::vector<std::string>& ConvertEngine::SourceList(SourceKind kind) const {
  switch (kind) {
    case SourceKind::Mp3: return mp3_;
    case SourceKind::Wma: return wma_;
    case SourceKind::Avi: return avi_;
    case SourceKind::Flac: return flac_;
    default: return wav_;
  }
}

void ConvertEngine::RebuildRows() {
  rows_.clear();
  for (const std::string& path : ListFor(direction_)) {
    ConvertRow row;
    const std::size_t slash = path.rfind('/');
    row.name = slash == std::string::npos ? path : path.substr(slash + 1);
    row.folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    rows_.push_back(std::move(row));
  }
  host_.RowsReset();
}

void ConvertEngine::AddFile(const std::string& path) {
  const SourceKind kind = SourceKindOf(path);
  if (kind == SourceKind::None) return;
  if (kind == SourceKind::Wma && !WmaDecodable()) return;
  std::vector<std::string>& list = kind == SourceKind::Wav    ? wav_
                                   : kind == SourceKind::Mp3  ? mp3_
                                   : kind == SourceKind::Avi  ? avi_
                                   : kind == SourceKind::Flac ? flac_
                                                              : wma_;
  list.push_back(path);
  if (!DirectionTakes(direction_, kind)) return;
  ConvertRow row;
  const std::size_t slash = path.rfind('/');
  row.name = slash == std::string::npos ? path : path.substr(slash + 1);
  row.folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  rows_.push_back(std::move(row));
  host_.RowAdded(static_cast<int>(rows_.size()) - 1);
}

void ConvertEngine::AddFolder(const std::string& folder) {
  std::error_code ec;
  std::vector<fs::directory_entry> entries;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    entries.push_back(*it);
  std::sort(entries.begin(), entries.end(),
            [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path() < b.path(); });
  for (const fs::directory_entry& e : entries) {
    std::error_code ec2;
    // Sub-folders, but never through a link (no loops).
    if (e.is_directory(ec2) && !e.is_symlink(ec2)) {
      AddFolder(e.path().string());
    } else if (SourceKindOf(e.path().string()) != SourceKind::None) {
      AddFile(e.path().string());
    }
  }
}

void ConvertEngine::SetDirection(int direction) {
  if (direction < 0 || direction >= kDirectionCount) return;
  if (direction == kWmaToWav && !WmaDecodable())
    context_.dialogs->Warning(kWmaDecodingImpossibleText);
  if (!DirectionAvailable(direction) || direction == direction_) return;
  // From "WAVE -> MP3" to "WAVE -> WMA" the rows (and their tags) stay.
  const bool keepRows = (direction_ == kWavToMp3 && direction == kWavToWma) ||
                        (IsFlacDirection(direction_) && IsFlacDirection(direction));
  direction_ = direction;
  if (!keepRows) RebuildRows();
}

void ConvertEngine::RemoveAll() {
  rows_.clear();
  wav_.clear();
  mp3_.clear();
  avi_.clear();
  wma_.clear();
  flac_.clear();
  host_.RowsReset();
}

void ConvertEngine::RemoveChecked(bool checked) {
  if (busy_) return;
  std::vector<std::string>& list = ListFor(direction_);
  for (std::size_t i = rows_.size(); i-- > 0;) {
    if (rows_[i].checked != checked) continue;
    rows_.erase(rows_.begin() + static_cast<long>(i));
    if (i < list.size()) list.erase(list.begin() + static_cast<long>(i));
  }
  host_.RowsReset();
}

void ConvertEngine::SetChecked(int row, bool checked) {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return;
  if (rows_[static_cast<std::size_t>(row)].checked == checked) return;
  rows_[static_cast<std::size_t>(row)].checked = checked;
  host_.RowChanged(row);
}

void ConvertEngine::CheckAll(bool checked) {
  for (int i = 0; i < static_cast<int>(rows_.size()); ++i) SetChecked(i, checked);
}

std::string ConvertEngine::OutputPath(int row) const {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return "";
  const ConvertRow& r = rows_[static_cast<std::size_t>(row)];
  std::string folder = saveToSourceFolder ? r.folder : outputFolder;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder + WithExtension(r.name, FormatFor(DirectionTarget(direction_)).extension);
}

TrackTags* ConvertEngine::RowTag(int row) {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
  ConvertRow& r = rows_[static_cast<std::size_t>(row)];
  if (r.tag == nullptr) {
    r.tag = std::make_unique<TrackTags>();
    r.tag->Record.TagsOn = 1;
    // A FLAC file's own tags are where the user starts from.
    TrackTags own;
    if (IsFlacDirection(direction_) && ReadFlacTags(r.Path(), &own, nullptr) && own.On()) {
      *r.tag = std::move(own);
    } else {
      // The title in full, whatever its script.
      r.tag->Set(TagField::Title, r.name);
    }
  }
  return r.tag.get();
}

int ConvertEngine::WmaReadersAtOnce() const {
  const int n = settings_.DecodeFilesAtOnce;
  return n < 1 || n > 10 ? 1 : n;
}

int ConvertEngine::WmaReadersRunning() const {
  return static_cast<int>(std::count_if(slots_.begin(), slots_.end(),
                                        [](const auto& s) { return s != nullptr; }));
}

void ConvertEngine::SetState(int row, const std::string& state) {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return;
  std::string& s = rows_[static_cast<std::size_t>(row)].state;
  if (s == state) return;
  s = state;
  host_.RowChanged(row);
}

void ConvertEngine::Progress(std::uint64_t done, std::uint64_t total, bool* cancel, int mode) {
  const bool alive = host_.Pump();
  if (mode == 0 && cancel != nullptr) *cancel = status_ == 1 || !alive;
  if (!alive) return;
  SetState(current_, ProgressText(ProgressPercent(done, total), mode));
}

ConvertEngine::Outcome ConvertEngine::Fail(int row, const char* state, const std::string& why) {
  SetState(row, state);
  host_.FileFailed(rows_[static_cast<std::size_t>(row)].Path(), why);
  return Outcome::Failed;
}

ConvertEngine::Outcome ConvertEngine::Finish(int row, const std::string& part,
                                             const std::string& output, WriteResult r) {
  // The finished file is no partial file any more.
  if (r) ClearOwnMark(part);
  if (r && RenameOutput(part, output, replaceCurrent_) != 0)
    r = WriteResult::Failure(WriteFailureText(output, errno));
  if (!r) {
    ::unlink(part.c_str());
    return Fail(row, kStateWriteError, r.message);
  }
  host_.FileDone(rows_[static_cast<std::size_t>(row)].Path(), output);
  return Outcome::Done;
}

ConvertEngine::Outcome ConvertEngine::ClaimOutput(int row, std::string& output) {
  auto taken = [&](const std::string& p) {
    return std::find(claimed_.begin(), claimed_.end(), p) != claimed_.end();
  };
  if (taken(output)) {
    int n = 2;
    while (taken(NumberedName(output, n))) ++n;
    output = NumberedName(output, n);
  }
  replaceCurrent_ = false;
  struct stat st{};
  if (::lstat(output.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return Fail(row, kStateWriteError, CreateFailureText(output, EISDIR));
    if (!overwrite && !replaceAll_) {
      const int answer = context_.dialogs->Message(ReplaceQuestionText(output), kProgramTitle,
                                                   MsgIcon::Question, MsgButtons::YesYesAllNo);
      if (answer == IdYesAll) {
        replaceAll_ = true;
      } else if (answer != IdYes) {
        SetState(row, kStateSkipped);
        host_.FileSkipped(rows_[static_cast<std::size_t>(row)].Path(),
                          "файл '" + output + "' уже существует и не заменён");
        return Outcome::Declined;
      }
    }
    replaceCurrent_ = true;
  }
  claimed_.push_back(output);
  return Outcome::Done;
}

bool ConvertEngine::CutShort(const std::string& source, std::string* why) const {
  Mp3StreamInfo info;
  if (!InspectMp3Source(source, &info).empty() || decodedBlockAlign_ <= 0) return false;
  const std::uint64_t want = info.MinimumSamples();
  const std::uint64_t got = decodedBytes_ / static_cast<std::uint64_t>(decodedBlockAlign_);
  // A frame's worth of slack for how encoders count the header frame.
  if (want == 0 || got + static_cast<std::uint64_t>(info.samplesPerFrame) >= want) return false;
  *why = ReadFailure(source, "файл обрезан: декодировано " + std::to_string(got) + " из " +
                                 std::to_string(want) + " отсчётов, о которых говорит его заголовок");
  return true;
}

void ConvertEngine::Run(bool newBatch) {
  if (busy_) return;
  if (newBatch) {
    claimed_.clear();
    replaceAll_ = false;
  }
  if (!outputFolder.empty() && !saveToSourceFolder) {
    std::error_code ec;
    fs::create_directories(outputFolder, ec);
    if (!fs::is_directory(outputFolder)) {
      const std::string why = "Не удалось создать папку '" + outputFolder + "': " +
                              (ec ? ec.message() : std::strerror(ENOTDIR)) + ".";
      for (int i = 0; i < static_cast<int>(rows_.size()); ++i)
        if (rows_[static_cast<std::size_t>(i)].checked) Fail(i, kStateWriteError, why);
      return;
    }
  }
  const int checked = static_cast<int>(
      std::count_if(rows_.begin(), rows_.end(), [](const ConvertRow& r) { return r.checked; }));
  if (checked == 0) return;
  busy_ = true;
  status_ = 0;
  taken_ = 0;
  checkedAtStart_ = checked;
  if (direction_ == kWmaToWav || direction_ == kWmaToMp3) {
    RunWmaBatch(direction_ == kWmaToMp3);
  } else if (IsFlacDirection(direction_)) {
    RunFlacBatch();
  } else {
    int ordinal = 0;
    for (int i = 0; i < static_cast<int>(rows_.size()) && status_ != 1; ++i) {
      if (!rows_[static_cast<std::size_t>(i)].checked) continue;
      current_ = i;
      lastPercent_ = -1;
      ShowFile(i, ++ordinal, checked);
      Outcome o = Outcome::Failed;
      switch (direction_) {
        case kMp3ToWav: o = ConvertMp3ToWav(i); break;
        case kMp3ToMp3: o = ConvertMp3ToMp3(i); break;
        case kAviToMp3OrWav: o = ConvertAvi(i); break;
        default: o = ConvertWav(i); break;
      }
      if (o == Outcome::Done || o == Outcome::Skipped) {
        SetState(i, kStateDone);
        SetChecked(i, false);
      } else if (o == Outcome::Declined) {
        // The row shows it was skipped; it stays checked for another run.
      } else if (o == Outcome::Cancelled) {
        SetState(i, kStateStopped);
      } else if (status_ != 1) {
        status_ = 0;  // the row keeps its error; the batch goes on
      }
    }
  }
  current_ = -1;
  caption_ = kConvertCaption;
  host_.CaptionChanged(caption_);
  busy_ = false;
}

void ConvertEngine::ShowFile(int row, int ordinal, int count) {
  caption_ = std::string(kConvertCaption) + " - [" + rows_[static_cast<std::size_t>(row)].name + "] - " +
             std::to_string(ordinal) + "/" + std::to_string(count);
  host_.CaptionChanged(caption_);
  host_.CurrentRow(row);
}

ConvertEngine::Outcome ConvertEngine::ConvertMp3ToWav(int row) {
  const std::string source = rows_[static_cast<std::size_t>(row)].Path();
  if (!decoder_.Loaded()) return Fail(row, kStateDecodeError, kMp3DecoderMissingText);
  Mp3StreamInfo info;
  if (const std::string why = InspectMp3Source(source, &info); !why.empty())
    return Fail(row, kStateReadError, ReadFailure(source, why));
  std::string output = OutputPath(row);
  if (Outcome c = ClaimOutput(row, output); c != Outcome::Done) return c;
  const std::string part = output + ".part";
  if (WriteResult r = PreparePart(part); !r) return Fail(row, kStateWriteError, r.message);
  decodedBytes_ = 0;
  DecoderOwner owner{{&DecoderMessage}, context_.dialogs};
  MP3_DECODER_OPTIONS o{};
  o.inputFile = source.c_str();
  o.outputFile = part.c_str();
  o.progressCallback = &DecoderProgress;
  o.writeWav = 1;
  o.status = &status_;
  o.ownerWindow = &owner.base;
  o.reserved3 = -1;
  activeEngine = this;
  activeDecodedBytes = &decodedBytes_;
  decoder_.Convert()(&o);
  activeEngine = nullptr;
  activeDecodedBytes = nullptr;
  decodedBlockAlign_ = o.waveFormat.blockAlign;
  switch (status_) {
    case MP3_STATUS_CANCEL: ::unlink(part.c_str()); return Outcome::Cancelled;
    case MP3_STATUS_CANNOT_CREATE:
      return Fail(row, kStateWriteError, CreateFailureText(output, EIO));
    case MP3_STATUS_CANNOT_DECODE:
      ::unlink(part.c_str());
      return Fail(row, kStateDecodeError, ReadFailure(source, "не получилось декодировать файл"));
    case MP3_STATUS_WRITE_FAILED:
      ::unlink(part.c_str());
      return Fail(row, kStateWriteError, "Не получилось записать файл '" + output + "'.");
    default: break;
  }
  // The library says nothing when it cannot read its input.
  if (!Exists(part)) return Fail(row, kStateReadError, ReadFailure(source, std::strerror(EIO)));
  if (std::string why; CutShort(source, &why)) {
    ::unlink(part.c_str());
    return Fail(row, kStateDecodeError, why);
  }
  return Finish(row, part, output, {});
}

ConvertEngine::Outcome ConvertEngine::ConvertMp3ToMp3(int row) {
  const std::string source = rows_[static_cast<std::size_t>(row)].Path();
  if (!decoder_.Loaded()) return Fail(row, kStateDecodeError, kMp3DecoderMissingText);
  Mp3StreamInfo info;
  if (const std::string why = InspectMp3Source(source, &info); !why.empty())
    return Fail(row, kStateReadError, ReadFailure(source, why));
  std::string output = OutputPath(row);
  if (output == source) output = output.substr(0, output.size() - 4) + "(2).mp3";
  decodedBytes_ = 0;
  Mp3Call call{};
  call.engine = this;
  call.row = row;
  call.target = kFormatBitrates[std::clamp(formatIndex, 0, 7)];
  // The output is claimed (and a file there asked about) only once the
  // source is known to need re-encoding.
  call.output = output;

  SettingsRecord& s = settings_;
  const std::uint8_t normalize = s.NormalizeEnabled, useLame = s.UseLame, vbr = s.Lame.VbrEnabled;
  const std::int32_t bitrateIndex = s.Lame.BitrateIndex;
  s.OutputKind = static_cast<std::uint8_t>(OutputKind::Mp3);
  s.UseLame = 1;
  s.NormalizeEnabled = 0;
  s.Lame.VbrEnabled = 0;

  DecoderOwner owner{{&DecoderMessage}, context_.dialogs};
  MP3_DECODER_OPTIONS& o = call.options;
  o.inputFile = source.c_str();
  o.eventCallback = &Mp3Call::Event;
  o.writeWav = 0;
  o.status = &status_;
  o.ownerWindow = &owner.base;
  o.reserved3 = -1;
  activeEngine = this;
  decoder_.Convert()(&o);
  activeEngine = nullptr;
  decodedBlockAlign_ = o.waveFormat.blockAlign;
  std::string cutShort;
  if (call.opened && call.failure.Ok() && status_ == 0 && CutShort(source, &cutShort))
    call.failure = WriteResult::Failure(cutShort);

  WriteResult closed;
  if (call.opened) {
    if (!call.failure.Ok() || status_ != 0) {
      context_.encoders->Abort();
    } else {
      closed = context_.encoders->Close();
    }
  }
  s.NormalizeEnabled = normalize;
  s.UseLame = useLame;
  s.Lame.VbrEnabled = vbr;
  s.Lame.BitrateIndex = bitrateIndex;

  if (call.claim != Outcome::Done) return call.claim;
  if (!call.failure.Ok()) {
    if (call.partMine) ::unlink(call.part.c_str());
    if (status_ == MP3_STATUS_CANCEL) status_ = 0;  // the write failure stopped the walk
    return Fail(row, cutShort.empty() ? kStateWriteError : kStateDecodeError, call.failure.message);
  }
  if (status_ == MP3_STATUS_CANCEL) {
    if (call.partMine) ::unlink(call.part.c_str());
    return Outcome::Cancelled;
  }
  if (status_ == MP3_STATUS_CANNOT_DECODE) {
    if (call.partMine) ::unlink(call.part.c_str());
    return Fail(row, kStateDecodeError, ReadFailure(source, "не получилось декодировать файл"));
  }
  if (call.skipped) {
    host_.FileSkipped(source, "битрейт не выше " + std::to_string(call.target) +
                                  " kBit/s или частота не 44100 Гц: файл не перекодирован");
    return Outcome::Skipped;
  }
  if (!call.opened) return Fail(row, kStateReadError, ReadFailure(source, std::strerror(EIO)));
  return Finish(row, call.part, call.output, closed);
}

ConvertEngine::Outcome ConvertEngine::ConvertAvi(int row) {
  const std::string source = rows_[static_cast<std::size_t>(row)].Path();
  AviSoundReader avi;
  switch (avi.Open(source)) {
    case AviSoundReader::OpenResult::CannotOpen:
      return Fail(row, kStateCannotRead, ReadFailure(source, "это не файл AVI"));
    case AviSoundReader::OpenResult::NoSound:
      return Fail(row, kStateNoSound, ReadFailure(source, "в файле нет звука"));
    case AviSoundReader::OpenResult::Ok: break;
  }
  const bool mp3 = avi.Format().FormatTag == kFormatMpegLayer3;
  std::string output = WithExtension(OutputPath(row), mp3 ? ".mp3" : ".wav");
  if (Outcome c = ClaimOutput(row, output); c != Outcome::Done) return c;
  const std::string part = output + ".part";
  if (WriteResult r = PreparePart(part); !r) return Fail(row, kStateWriteError, r.message);
  OutputFile file;
  WriteResult w = file.Create(part);
  // The WAV header: the program's own for PCM; other formats keep their
  // codec bytes after the wave format.
  std::vector<std::uint8_t> header;
  std::size_t dataSizeAt = 0;
  if (!mp3) {
    if (avi.Format().FormatTag == kFormatPcm) {
      header.resize(kWavHeaderSize);
      BuildWavHeader(header.data(), 0, avi.Format());
      dataSizeAt = 44;
    } else {
      const std::vector<std::uint8_t>& extra = avi.FormatExtra();
      const std::uint32_t fmtSize = static_cast<std::uint32_t>(18 + extra.size());
      auto put = [&](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) header.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
      };
      static constexpr std::uint8_t riff[16] = {'R', 'I', 'F', 'F', 0,   0,   0,   0,
                                                 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
      header.reserve(64 + extra.size());
      header.assign(std::begin(riff), std::end(riff));
      put(fmtSize + (fmtSize & 1), 4);
      const AudioFormatRecord& f = avi.Format();
      put(f.FormatTag, 2);
      put(f.Channels, 2);
      put(f.SampleRate, 4);
      put(f.AvgBytesPerSec, 4);
      put(f.BlockAlign, 2);
      put(f.BitsPerSample, 2);
      put(static_cast<std::uint32_t>(extra.size()), 2);
      header.insert(header.end(), extra.begin(), extra.end());
      if (fmtSize & 1) header.push_back(0);
      header.insert(header.end(), {'d', 'a', 't', 'a', 0, 0, 0, 0});
      dataSizeAt = header.size() - 4;
    }
    if (w) w = file.Write(header.data(), header.size());
  }
  std::vector<std::uint8_t> block;
  std::uint64_t written = 0;
  bool cancelled = false;
  AviSoundReader::ReadResult rr = AviSoundReader::ReadResult::End;
  while (w) {
    if (status_ == 1) {
      cancelled = true;
      break;
    }
    rr = avi.Read(block);
    if (rr != AviSoundReader::ReadResult::Block) break;
    w = file.Write(block.data(), block.size());
    written += block.size();
    if (!mp3 && written > 0xFFFFFFFFull - header.size())
      w = WriteResult::Failure(WriteFailureText(output, EFBIG));
    Progress(avi.Position(), std::max(avi.StatedBytes(), avi.Position()), nullptr, 0);
  }
  if (!w) {
    file.Abort();
    return Fail(row, kStateWriteError, w.message);
  }
  if (cancelled) {
    file.Abort();
    return Outcome::Cancelled;
  }
  if (rr == AviSoundReader::ReadResult::Failed || written < avi.StatedBytes()) {
    file.Abort();
    return Fail(row, kStateReadError,
                ReadFailure(source, rr == AviSoundReader::ReadResult::Failed
                                        ? avi.Failure()
                                        : std::string("файл обрезан или повреждён")));
  }
  if (!mp3) {
    std::uint8_t le[4];
    auto patch = [&](std::uint64_t at, std::uint32_t v) {
      for (int i = 0; i < 4; ++i) le[i] = static_cast<std::uint8_t>(v >> (8 * i));
      return file.WriteAt(at, le, 4);
    };
    const std::uint64_t total = header.size() + written;
    w = patch(dataSizeAt, static_cast<std::uint32_t>(written));
    if (w) w = patch(4, static_cast<std::uint32_t>(total - 8));
  }
  if (w) w = file.Finish();
  else file.Abort();
  return Finish(row, part, output, w);
}

ConvertEngine::Outcome ConvertEngine::ConvertWav(int row) {
  const ConvertRow& r = rows_[static_cast<std::size_t>(row)];
  const std::string source = r.Path();
  const OutputKind kind = DirectionTarget(direction_);
  SettingsRecord& s = settings_;
  s.CompressOutput = 1;
  // The record holds the kinds it has numbers for; Opus is given to the
  // encoder below and leaves the rip's kind alone.
  if (static_cast<std::uint8_t>(kind) <= static_cast<std::uint8_t>(OutputKind::Ogg))
    s.OutputKind = static_cast<std::uint8_t>(kind);
  s.NormalizeEnabled = 0;
  EncoderSet& enc = *context_.encoders;
  ProgressCallback progress = [this](std::uint32_t done, std::uint32_t total, bool* cancel,
                                     int mode) { Progress(done, total, cancel, mode); };

  // Every encoder gets CD audio: any other WAV (another rate, channel
  // count, sample width or a compressed format) is first converted into the
  // temporary folder, as the recording side converts its files.
  std::string input = source;
  {
    WavSourceReader reader;
    const int opened = reader.Open(source, false);
    if (opened == WavSourceReader::kUsable || opened == WavSourceReader::kNeedsConversion) {
      if (reader.IsOpen() &&
          reader.AudioBytes() < std::max<std::uint64_t>(reader.Format().BlockAlign, 1))
        return Fail(row, kStateReadError, ReadFailure(source, "в файле нет звука"));
    }
    if (opened == WavSourceReader::kNeedsConversion && reader.IsOpen()) {
      std::error_code ec;
      fs::create_directories(context_.tempFolder, ec);
      const std::string converted = context_.tempFolder + std::to_string(row) + "-" + r.name;
      ::unlink(converted.c_str());
      reader.SetConvertedFileName(converted);
      temporary_.push_back(converted);
      if (!reader.ConvertToCd(&progress, false)) {
        if (status_ == 1) return Outcome::Cancelled;
        if (reader.ProblemIsWrite()) {
          context_.dialogs->Warning(reader.Problem());
          return Fail(row, kStateWriteError, reader.Problem());
        }
        context_.dialogs->Warning(kSourceDecodeErrorText + r.name);
        return Fail(row, kStateDecodeError, reader.Problem());
      }
      input = converted;
    } else if (opened != WavSourceReader::kUsable) {
      return Fail(row, kStateReadError,
                  reader.Problem().empty() ? SourceUnavailableText(source) : reader.Problem());
    }
    reader.Close();
  }
  if (status_ == 1) return Outcome::Cancelled;

  std::string output = OutputPath(row);
  if (Outcome c = ClaimOutput(row, output); c != Outcome::Done) return c;
  const std::string part = output + ".part";
  if (WriteResult p = PreparePart(part); !p) return Fail(row, kStateWriteError, p.message);
  enc.SetProgressCallback(progress);
  const FormatOptions& options = context_.formatOptions;
  WriteResult w = r.tag ? enc.ConvertFile(input, part, *r.tag, kind, options)
                        : enc.ConvertFile(input, part, static_cast<const TrackTagRecord*>(nullptr),
                                          kind, options);
  enc.SetProgressCallback({});
  if (w.Cancelled()) {
    ::unlink(part.c_str());
    return Outcome::Cancelled;
  }
  if (w && !Exists(part)) w = WriteResult::Failure(CreateFailureText(output, ENOENT));
  Outcome o = Finish(row, part, output, w);
  if (o == Outcome::Done && deleteSources && status_ == 0 && Exists(output))
    ::unlink(source.c_str());
  return o;
}

int ConvertEngine::NextWmaRow(int& lastStarted) {
  for (int i = lastStarted + 1; i < static_cast<int>(rows_.size()); ++i) {
    ConvertRow& r = rows_[static_cast<std::size_t>(i)];
    if (!r.checked || r.taken) continue;
    r.taken = true;
    lastStarted = i;
    return i;
  }
  return -1;
}

bool ConvertEngine::StartWmaReader(std::unique_ptr<WmaFileReader>& slot, int row, bool toMp3) {
  const std::string source = rows_[static_cast<std::size_t>(row)].Path();
  std::string output = OutputPath(row);
  if (ClaimOutput(row, output) != Outcome::Done) return false;
  auto reader = std::make_unique<WmaFileReader>(context_.encoders, toMp3);
  if (!reader->Open(source, output)) {
    Fail(row, kStateReadError, reader->OpenFailure());
    return false;
  }
  reader->Row = row;
  if (!reader->Start()) {
    Fail(row, kStateWriteError, reader->Result().message);
    return false;
  }
  // The partial output stays on the list until the file is finished.
  temporary_.push_back(reader->OutputName() + ".part");
  reader->OutputIndex = static_cast<int>(temporary_.size()) - 1;
  slot = std::move(reader);
  return true;
}

// The end of a batch of files converted several at once: every row free
// again, and the outputs left unfinished (their temporary names) deleted.
void ConvertEngine::EndBatch() {
  for (ConvertRow& r : rows_) r.taken = false;
  for (const std::string& t : temporary_)
    if (!t.empty()) ::unlink(t.c_str());
  temporary_.clear();
}

void ConvertEngine::RunWmaBatch(bool toMp3) {
  for (const std::string& t : temporary_)
    if (!t.empty()) ::unlink(t.c_str());
  temporary_.clear();
  status_ = 0;
  if (!WmaDecodable()) {
    context_.dialogs->Info(kWmaDecoderMissingText);
    return;
  }
  int n = WmaReadersAtOnce();
  if (toMp3) {
    n = 1;
    settings_.OutputKind = static_cast<std::uint8_t>(OutputKind::Mp3);
    settings_.NormalizeEnabled = 0;
  }
  slots_.clear();
  slots_.resize(static_cast<std::size_t>(n));
  auto& slots = slots_;
  int lastStarted = -1;
  auto takeNext = [&](std::unique_ptr<WmaFileReader>& slot) {
    for (;;) {
      const int row = NextWmaRow(lastStarted);
      if (row < 0) return false;
      // Several files run at once: the caption names the one taken last.
      ShowFile(row, ++taken_, checkedAtStart_);
      if (StartWmaReader(slot, row, toMp3)) return true;
      // A file that does not start: the slot tries the following row.
    }
  };
  for (int i = 0; i < n; ++i) {
    host_.Pump();
    if (!takeNext(slots[static_cast<std::size_t>(i)])) break;
    host_.Pause(50);
  }
  for (;;) {
    const bool alive = host_.Pump();
    if (!alive) status_ = 1;
    int busy = 0;
    for (auto& slot : slots) {
      if (slot == nullptr && !takeNext(slot)) continue;
      if (slot->Done()) {
        const int row = slot->Row;
        const WriteResult r = slot->Result();
        if (r) {
          SetState(row, kStateDone);
          SetChecked(row, false);
          host_.FileDone(slot->SourceName(), slot->OutputName());
        } else if (r.Cancelled()) {
          SetState(row, kStateStopped);
        } else {
          Fail(row, r.message.find("записать") != std::string::npos ? kStateWriteError
                                                                       : kStateReadError,
               r.message);
        }
        temporary_[static_cast<std::size_t>(slot->OutputIndex)].clear();
        slot.reset();
        if (status_ == 1 || !takeNext(slot)) continue;
      }
      ++busy;
      slot->SetCancel(status_);
      current_ = slot->Row;
      Progress(slot->Position(), slot->Total(), nullptr, 0);
    }
    if (busy == 0 || status_ == 1) break;
    host_.Pause(30);
  }
  for (auto& slot : slots) {
    if (slot == nullptr) continue;
    slot->SetCancel(1);
    slot->Stop();
    const int row = slot->Row;
    if (slot->Done() && slot->Result().Ok()) {
      // It finished while the batch was being stopped.
      SetState(row, kStateDone);
      SetChecked(row, false);
      host_.FileDone(slot->SourceName(), slot->OutputName());
      temporary_[static_cast<std::size_t>(slot->OutputIndex)].clear();
    } else {
      SetState(row, kStateStopped);
    }
    slot.reset();
  }
  slots_.clear();
  EndBatch();
}

int ConvertEngine::FlacJobsRunning() const {
  return static_cast<int>(std::count_if(flacJobs_.begin(), flacJobs_.end(),
                                        [](const auto& j) { return j != nullptr; }));
}

bool ConvertEngine::StartFlacJob(std::unique_ptr<FlacConvertJob>& slot, int row,
                                 EncoderSet* encoders) {
  const ConvertRow& r = rows_[static_cast<std::size_t>(row)];
  const std::string source = r.Path();
  auto job = std::make_unique<FlacConvertJob>(source, DirectionTarget(direction_), encoders);
  // A file that cannot be read fails before its output is asked about.
  if (WriteResult opened = job->Open(); !opened) {
    Fail(row, kStateReadError, opened.message);
    return false;
  }
  std::string output = OutputPath(row);
  if (ClaimOutput(row, output) != Outcome::Done) return false;
  const std::string part = output + ".part";
  if (WriteResult p = PreparePart(part); !p) {
    Fail(row, kStateWriteError, p.message);
    return false;
  }
  // The file's own tags and cover, or the row's tags when the user edited them.
  TrackTags tags;
  CoverImage cover;
  ReadFlacTags(source, &tags, &cover);
  if (r.tag != nullptr) tags = *r.tag;
  FormatOptions options = context_.formatOptions;
  if (!cover.Empty() && options.cover == nullptr)
    options.cover = std::make_shared<const CoverImage>(std::move(cover));
  job->Row = row;
  job->Replace = replaceCurrent_;
  if (WriteResult started = job->Start(output, tags, options); !started) {
    ::unlink(part.c_str());
    Fail(row, kStateWriteError, started.message);
    return false;
  }
  temporary_.push_back(part);
  job->OutputIndex = static_cast<int>(temporary_.size()) - 1;
  slot = std::move(job);
  return true;
}

void ConvertEngine::CollectFlacJob(FlacConvertJob& job) {
  const int row = job.Row;
  const WriteResult r = job.Result();
  if (r.Cancelled()) {
    ::unlink(job.Part().c_str());
    SetState(row, kStateStopped);
  } else if (!r && job.SourceFailed()) {
    ::unlink(job.Part().c_str());
    Fail(row, kStateDecodeError, r.message);
  } else {
    replaceCurrent_ = job.Replace;
    if (Finish(row, job.Part(), job.Output(), r) == Outcome::Done) {
      SetState(row, kStateDone);
      SetChecked(row, false);
      if (deleteSources && TagsApply() && Exists(job.Output())) ::unlink(job.Source().c_str());
    }
  }
  temporary_[static_cast<std::size_t>(job.OutputIndex)].clear();
}

void ConvertEngine::RunFlacBatch() {
  for (const std::string& t : temporary_)
    if (!t.empty()) ::unlink(t.c_str());
  temporary_.clear();
  status_ = 0;
  flacJobsSeen_ = 0;
  const OutputKind kind = DirectionTarget(direction_);
  SettingsRecord& s = settings_;
  s.CompressOutput = 1;
  if (static_cast<std::uint8_t>(kind) <= static_cast<std::uint8_t>(OutputKind::Ogg))
    s.OutputKind = static_cast<std::uint8_t>(kind);
  s.NormalizeEnabled = 0;
  int n = WmaReadersAtOnce();
  // An encoder set writes one file at a time: each slot has its own.
  std::vector<std::unique_ptr<EncoderSet>> own;
  std::vector<EncoderSet*> sets(1, kind == OutputKind::Wav ? nullptr : context_.encoders);
  if (kind != OutputKind::Wav) {
    // Only a kind this computer writes gets more sets (a missing library
    // is said once, by the file that fails).
    for (int i = 1; i < n && context_.encoders->Available(kind); ++i) {
      std::unique_ptr<EncoderSet> more =
          context_.makeEncoders ? context_.makeEncoders()
                                : std::make_unique<EncoderSet>(settings_, *context_.dialogs);
      if (more == nullptr || !more->Available(kind)) break;
      sets.push_back(more.get());
      own.push_back(std::move(more));
    }
    n = static_cast<int>(sets.size());
  } else {
    sets.resize(static_cast<std::size_t>(n), nullptr);
  }
  flacJobs_.clear();
  flacJobs_.resize(static_cast<std::size_t>(n));
  int lastStarted = -1;
  auto takeNext = [&](std::size_t i) {
    for (;;) {
      const int row = NextWmaRow(lastStarted);
      if (row < 0) return false;
      ShowFile(row, ++taken_, checkedAtStart_);
      if (StartFlacJob(flacJobs_[i], row, sets[i])) {
        flacJobsSeen_ = std::max(flacJobsSeen_, FlacJobsRunning());
        return true;
      }
      // A file that does not start: the slot tries the following row.
    }
  };
  for (std::size_t i = 0; i < flacJobs_.size() && status_ != 1; ++i) {
    host_.Pump();
    if (!takeNext(i)) break;
  }
  for (;;) {
    if (!host_.Pump()) status_ = 1;
    int busy = 0;
    for (std::size_t i = 0; i < flacJobs_.size(); ++i) {
      std::unique_ptr<FlacConvertJob>& job = flacJobs_[i];
      if (job == nullptr && (status_ == 1 || !takeNext(i))) continue;
      if (job->Done()) {
        job->Stop();
        CollectFlacJob(*job);
        job.reset();
        if (status_ == 1 || !takeNext(i)) continue;
      }
      ++busy;
      job->SetCancel(status_ == 1);
      current_ = job->Row;
      Progress(job->Position(), job->Total(), nullptr, 0);
    }
    if (busy == 0 || status_ == 1) break;
    host_.Pause(30);
  }
  for (std::unique_ptr<FlacConvertJob>& job : flacJobs_) {
    if (job == nullptr) continue;
    job->SetCancel(true);
    // The thread ends; a file it finished meanwhile keeps its output.
    while (!job->Done()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (job->Result().Ok()) {
      job->Stop();
      CollectFlacJob(*job);
    } else {
      job->Stop();
      SetState(job->Row, kStateStopped);
      temporary_[static_cast<std::size_t>(job->OutputIndex)].clear();
    }
    job.reset();
  }
  flacJobs_.clear();
  EndBatch();
}

}  // namespace sonarvex
