#include "app/RipPipeline.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <vector>

#include "app/OutputNaming.h"
#include "platform/Cp1251.h"
#include "records/TextFields.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/SafeFile.h"
#include "platform/System.h"

namespace sonarvex {
namespace {

constexpr const char* kAskCancelCopy = "Вы хотите прервать копироание ???";
constexpr const char* kAskCancelCompress = "Вы хотите останоить сжатие???";
constexpr const char* kNoWma = "Кодирование в WMA невозможно т.к. кодер не установлен.";
constexpr const char* kNoOgg = "Кодирование в OGG невозможно т.к. нет необходимых библиотек.";
constexpr const char* kNoSpace = "Вы уверены, что вам хватит места на жестком диске?";
constexpr int kChunkDefault = 26;
constexpr const char* kAborted = "Копирование прервано.";
constexpr const char* kUnreadableStatus = "Ошибка чтения";
constexpr const char* kNothingToCopy =
    "Копировать нечего: среди отмеченных дорожек нет звуковых (дорожки с данными не "
    "копируются).";

// Percent done of a range: the classic x / (total / 100), which needs total
// of at least 100; shorter ranges are computed directly.
unsigned PercentDone(std::uint64_t remaining, std::uint64_t total) {
  if (total == 0) return 100;
  std::uint64_t done = remaining >= total ? 0 : total - remaining;
  std::uint64_t p = total >= 100 ? 100 - std::min<std::uint64_t>(100, remaining / (total / 100))
                                 : done * 100 / total;
  return static_cast<unsigned>(std::min<std::uint64_t>(p, 100));
}

std::string ParentFolder(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == 0) return "/";
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// Two folder paths that differ at most in a trailing '/'.
bool SameFolder(std::string a, std::string b) {
  while (a.size() > 1 && a.back() == '/') a.pop_back();
  while (b.size() > 1 && b.back() == '/') b.pop_back();
  return a == b;
}

}  // namespace

RipPipeline::RipPipeline(RipHost& host, RipDrive& drive, RipEncoder& encoder, Dialogs& dialogs,
                         SettingsRecord& settings, AlbumRecord& album, TagBuffer& tags,
                         std::string tempFolder)
    : host_(host),
      drive_(drive),
      encoder_(encoder),
      dialogs_(dialogs),
      settings_(settings),
      album_(album),
      tags_(tags),
      tempFolder_(std::move(tempFolder)),
      kind_(OutputKindFromRecord(settings.OutputKind)),
      compress_(settings.CompressOutput != 0) {
  if (!tempFolder_.empty() && tempFolder_.back() != '/') tempFolder_ += '/';
}

bool RipPipeline::CheckFreeSpace(std::uint64_t needed, const std::string& folder) {
  auto free = FreeBytes(folder);
  if (!free) return true;  // cannot tell: go on
  if (needed < *free) return true;
  return dialogs_.Message(kNoSpace, "Sonarvex", MsgIcon::Warning, MsgButtons::YesNo) == IdYes;
}

void RipPipeline::GrabCommand(GrabSender sender) {
  outcome_ = Outcome::NotStarted;
  failure_.clear();
  if (sender == GrabSender::Wma && !encoder_.WmaAvailable()) {
    dialogs_.Message(kNoWma, kProgramTitle, MsgIcon::Information, MsgButtons::Ok);
    return;
  }
  bool toOgg = sender == GrabSender::Ogg || (sender == GrabSender::Mp3Button && settings_.Mp3AsOgg);
  if (toOgg && !encoder_.VorbisAvailable()) {
    dialogs_.Message(kNoOgg, kProgramTitle, MsgIcon::Information, MsgButtons::Ok);
    return;
  }
  // A grab with no ticked audio track would copy nothing: say so.
  bool anyAudio = false;
  for (int i = 0, rows = TrackRows(); i < rows && !anyAudio; ++i)
    anyAudio = host_.RowTicked(i) && album_.Tracks[i].AudioFlag;
  if (!anyAudio) {
    failure_ = kNothingToCopy;
    dialogs_.Message(kNothingToCopy, kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
    return;
  }
  int last = album_.TrackCount > 0 ? std::min<int>(album_.TrackCount, kMaxAlbumTracks) - 1 : 0;
  std::uint64_t needed =
      2352ull * static_cast<std::uint32_t>(std::max<std::int32_t>(0, album_.Tracks[last].StartSector));
  if (!CheckFreeSpace(needed, OutputFolderText(settings_, settingsTexts_))) return;

  host_.SetTimerEnabled(false);
  drive_.SetReadSpeed(settings_.ReadSpeed);
  if (settings_.LockTray) drive_.LockMedium(true);
  // The kind of this grab is handed down; the settings record keeps the
  // user's choice.
  compress_ = true;
  switch (sender) {
    case GrabSender::Mp3Button:
      kind_ = settings_.Mp3AsOgg ? OutputKind::Ogg : OutputKind::Mp3;
      break;
    case GrabSender::Mp3Menu:
      kind_ = OutputKind::Mp3;
      break;
    case GrabSender::Wma:
      kind_ = OutputKind::Wma;
      break;
    case GrabSender::Wave:
      kind_ = OutputKind::Wav;
      compress_ = false;
      break;
    case GrabSender::Ogg:
      kind_ = OutputKind::Ogg;
      break;
  }
  encoder_.Configure(settings_, kind_,
                     [this](std::uint64_t done, std::uint64_t total, int* cancel, int mode) {
                       CompressionProgress(done, total, cancel, mode);
                     });
  CopyTracks();
  drive_.LockMedium(false);
  if (settings_.EjectAfterCopy && outcome_ != Outcome::NotStarted) host_.Eject();
}

int RipPipeline::TrackRows() {
  return std::max(0, std::min<int>({host_.RowCount(), album_.TrackCount, kMaxAlbumTracks - 1}));
}

RipPipeline::Range RipPipeline::TrackRange(int i) {
  AlbumTrackEntry& e = album_.Tracks[i];
  const std::uint32_t entryStart = static_cast<std::uint32_t>(e.StartSector);
  const std::uint32_t entryEnd = static_cast<std::uint32_t>(album_.Tracks[i + 1].StartSector);
  Range r{entryStart, entryEnd};
  if (e.RangeFlag) {
    auto sector = [&](Msf m) {
      return static_cast<std::uint32_t>((m.minute * 60 + m.second) * 75 + m.frame) -
             album_.FirstTrackOffset;
    };
    r.Start = sector(e.RangeStart);
    bool endZero = e.RangeEnd.minute == 0 && e.RangeEnd.second == 0 && e.RangeEnd.frame == 0;
    r.End = endZero ? entryEnd : sector(e.RangeEnd);
    if (r.Start < entryStart || r.Start > entryEnd) r.Start = entryStart;
    if (r.End <= r.Start || r.End > entryEnd) {
      r = {entryStart, entryEnd};
      e.RangeFlag = 0;
    }
  }
  return r;
}

int RipPipeline::CheckPair(std::uint8_t* a, std::uint8_t* b, std::uint32_t sector) {
  host_.Pump();
  std::size_t m = 0;
  for (std::size_t k = 0; k < kBytesPerSector / 2; ++k) {
    const std::uint8_t* wa = a + kBytesPerSector - 2 * (k + 1);
    const std::uint8_t* wb = b + 2 * k;
    if (wa[0] != wb[0] || wa[1] != wb[1]) break;
    m += 2;
  }
  if (m == 0 || m >= kBytesPerSector / 2) return 0;
  if (rereading_) return 1;
  drive_.SetReadSpeed(4);
  drive_.Seek(sector);
  drive_.ReadCdda(a, sector, 1);
  drive_.ReadCdda(b, sector + 1, 1);
  rereading_ = true;
  int result = CheckPair(a, b, sector);
  rereading_ = false;
  return result;
}

int RipPipeline::CheckChunk(std::uint8_t* buffer, std::uint32_t count, std::uint32_t chunkStart) {
  int sum = 0;
  for (std::uint32_t n = 0; n + 1 < count; ++n)
    sum += CheckPair(buffer + n * kBytesPerSector, buffer + (n + 1) * kBytesPerSector,
                     chunkStart + n);
  return sum;
}

void RipPipeline::CompressionProgress(std::uint64_t done, std::uint64_t total, int* cancel, int) {
  host_.Pump();
  if (host_.Interrupted()) {
    if (cancel) *cancel = 1;
    return;
  }
  if (host_.State() != WindowState::Compressing) {
    if (dialogs_.Message(kAskCancelCompress, kProgramTitle, MsgIcon::Question,
                         MsgButtons::YesNo) == IdYes) {
      if (cancel) *cancel = 1;
      return;
    }
    host_.SetState(WindowState::Compressing);
  }
  unsigned percent = total >= 100 ? static_cast<unsigned>(std::min<std::uint64_t>(done / (total / 100), 100))
                     : total > 0  ? static_cast<unsigned>(std::min<std::uint64_t>(done * 100 / total, 100))
                                  : 0;
  if (static_cast<int>(percent) != lastCompressionPercent_) {
    host_.SetRowStatus(compressionRow_, "сжатие " + std::to_string(percent) + "%");
    lastCompressionPercent_ = static_cast<std::int16_t>(percent);
  }
}

void RipPipeline::Fail(const std::string& text) {
  outcome_ = Outcome::Failed;
  failure_ = text;
  dialogs_.Message(text, kProgramTitle, MsgIcon::Error, MsgButtons::Ok);
}

std::string RipPipeline::UniqueInGrab(const std::string& out) {
  std::string path = out;
  for (int n = 2; writtenInGrab_.count(path) != 0; ++n) path = NumberedOutputPath(out, n);
  return path;
}

RipPipeline::TrackResult RipPipeline::CopyTrack(int i) {
  host_.SelectRow(i);
  host_.SetCaption(std::string(kProgramTitle) + " - " + host_.RowCaption(i));

  // A fresh account has no music folder yet: the default output folder is
  // made when it is first used rather than failing the first rip.
  const std::string folderNative = OutputFolderText(settings_, settingsTexts_);
  if (!DirectoryExists(folderNative) && SameFolder(folderNative, DefaultOutputFolder()))
    MakeDirectories(folderNative);

  // The name takes the extension of this grab's kind; the settings record
  // itself keeps the user's choice.
  SettingsRecord namingSettings = settings_;
  namingSettings.OutputKind = static_cast<std::uint8_t>(kind_);
  NamingInput naming{namingSettings, album_, tags_, albumTexts_, settingsTexts_};
  std::string outNaming = BuildOutputPath(i, naming, [&](const std::string& folder) {
    const bool chosen = host_.OutputFolderMissing(folder);
    namingSettings = settings_;  // the folder the user chose
    namingSettings.OutputKind = static_cast<std::uint8_t>(kind_);
    return chosen;
  });
  if (outNaming.empty()) {
    failure_ = MissingFolderMessage(OutputFolderText(settings_, settingsTexts_));
    return TrackResult::Failed;
  }
  // Two tracks of one grab never share a file: the later one is numbered.
  // A file of an earlier grab under the name is replaced, as always.
  const std::string out = UniqueInGrab(ToNativePath(outNaming));
  // Everything is written under a partial name and renamed when complete, so
  // a cancelled or failed track never leaves a half file under its name.
  const std::string partial = out + kPartialSuffix;
  // The folders this track makes are removed again when it leaves nothing.
  std::vector<std::string> madeFolders;
  for (std::string f = ParentFolder(out); !f.empty() && f != "." && !DirectoryExists(f);
       f = ParentFolder(f)) {
    madeFolders.push_back(f);
    if (f.find('/') == std::string::npos) break;
  }
  auto removeMadeFolders = [&] {
    for (const auto& f : madeFolders) RemoveEmptyDirectory(f);
  };
  MakeDirectories(tempFolder_);
  if (!MakeDirectories(ParentFolder(out))) {
    const int err = errno;
    removeMadeFolders();
    Fail("Не удалось создать папку '" + ParentFolder(out) + "': " + std::strerror(err) + ". " +
         kAborted);
    return TrackResult::Failed;
  }
  // A partial file left by an earlier run is removed only when it is
  // recognisably the program's own; anything else there (a link above all)
  // stops the track untouched.
  switch (RemoveStalePartial(partial)) {
    case StaleFile::None:
    case StaleFile::Removed:
      break;
    case StaleFile::Foreign:
      removeMadeFolders();
      Fail("Файл '" + partial + "' уже существует и создан не этой программой. " + kAborted);
      return TrackResult::Failed;
    case StaleFile::Error:
      Fail(CreateFailureText(partial, errno) + " " + kAborted);
      removeMadeFolders();
      return TrackResult::Failed;
  }
  const RecordTexts noTexts;
  std::string tempName =
      FilterFileName(TrackTitleText(album_, albumTexts_ ? *albumTexts_ : noTexts, i) + ".wav");
  std::replace(tempName.begin(), tempName.end(), '\\', '_');
  if (tempName.find_first_not_of('.') == std::string::npos) tempName = "_";
  std::string temp = tempFolder_ + tempName;
  const bool compress = compress_;
  const bool onTheFly = compress && settings_.OnTheFlyEncoding;
  // The temporary folder is the program's own: whatever has the temporary
  // file's name there is replaced (a link itself, never its target).
  if (compress && !onTheFly && !RemoveForReplacement(temp)) {
    Fail(CreateFailureText(temp, errno) + " " + kAborted);
    removeMadeFolders();
    return TrackResult::Failed;
  }
  if (!compress) temp = partial;

  Range range = TrackRange(i);
  std::uint32_t start = range.Start;
  const std::uint32_t end = range.End;
  const std::uint32_t total = end - start;
  unsigned lastPercent = 0;
  int peak = 0;
  const std::uint32_t chunk = settings_.SectorsPerRead ? settings_.SectorsPerRead : kChunkDefault;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(chunk) * kBytesPerSector);
  const TrackTags tag = tags_.GetTags(i, album_.TrackCount);

  // Closes and deletes what this track has written so far.
  auto discard = [&] {
    if (onTheFly)
      encoder_.Abort();
    else
      encoder_.AbortWav();
    removeMadeFolders();
  };
  auto failed = [&](const WriteResult& r) {
    discard();
    Fail(r.message + " " + kAborted);
    return TrackResult::Failed;
  };
  auto cancelled = [&] {
    host_.SetRowStatus(i, "Отменено");
    discard();
    return TrackResult::Cancelled;
  };

  WriteResult opened = onTheFly ? encoder_.Open(tag, partial) : encoder_.CreateWav(temp, !compress);
  if (!opened) {
    removeMadeFolders();
    if (opened.Cancelled()) return cancelled();
    Fail((opened.message.empty() ? CreateFailureText(onTheFly ? partial : temp, 0)
                                 : opened.message) +
         " " + kAborted);
    return TrackResult::Failed;
  }
  const std::uint32_t d = album_.FirstTrackOffset;
  while (start < end) {
    host_.Pump();
    if (host_.Interrupted()) return cancelled();
    if (host_.State() != WindowState::Copying) {
      if (dialogs_.Message(kAskCancelCopy, kProgramTitle, MsgIcon::Question, MsgButtons::YesNo) ==
          IdYes)
        return cancelled();
      host_.SetState(WindowState::Copying);
    }
    const std::uint32_t count = std::min(chunk, end - start);
    bool ok = drive_.ReadCdda(buffer.data(), start, count);
    for (int attempt = 0; !ok && attempt < readRetries_ && !host_.Interrupted(); ++attempt) {
      host_.Pump();
      ok = drive_.ReadCdda(buffer.data(), start, count);
    }
    if (!ok && host_.Interrupted()) return cancelled();
    if (!ok) {
      discard();
      if (!drive_.MediumReady()) {
        // The disc is gone or was changed: no later track can be read either.
        Fail("Ошибка чтения диска (сектор " + std::to_string(start) +
             "). Копирование прервано.");
        return TrackResult::Failed;
      }
      // A sector that cannot be read fails this track alone.
      host_.SetRowStatus(i, kUnreadableStatus);
      unreadableRows_.push_back(i);
      unreadableSectors_.push_back(start);
      return TrackResult::Unreadable;
    }
    if (settings_.NoiseCorrection && total - d >= end - start && end - start > d)
      CheckChunk(buffer.data(), count, start);
    const std::size_t bytes = static_cast<std::size_t>(count) * kBytesPerSector;
    if (settings_.NormalizeEnabled) encoder_.FindPeak(buffer.data(), bytes, peak);
    WriteResult written = onTheFly ? encoder_.Write(buffer.data(), bytes)
                                   : encoder_.WriteWav(buffer.data(), bytes);
    if (!written) return failed(written);
    start += chunk;
    unsigned percent = PercentDone(start >= end ? 0 : end - start, total);
    if (percent != lastPercent) {
      host_.SetRowStatus(i, "копирование " + std::to_string(percent) + "%");
      lastPercent = percent;
    }
  }
  WriteResult closed = onTheFly ? encoder_.Close()
                                : encoder_.FinishWav(static_cast<std::uint64_t>(total) * kBytesPerSector);
  if (!closed) return failed(closed);
  if (compress && !onTheFly) {
    compressionRow_ = i;
    host_.SetState(WindowState::Compressing);
    WriteResult converted = encoder_.ConvertFile(temp, partial, tag, peak);
    if (host_.State() == WindowState::Compressing) host_.SetState(WindowState::Copying);
    ::unlink(temp.c_str());
    if (converted.Cancelled()) {
      // Cancelled while compressing: the track is not copied.
      ::unlink(partial.c_str());
      removeMadeFolders();
      host_.SetRowStatus(i, "Отменено");
      host_.SetState(WindowState::Copying);
      return TrackResult::CompressionCancelled;
    }
    if (!converted) {
      // The writer has deleted what it wrote.
      removeMadeFolders();
      Fail(converted.message + " " + kAborted);
      return TrackResult::Failed;
    }
  }
  // The finished file is no partial file any more; rename(2) replaces
  // whatever is at the final name, a link included, without following it.
  ClearOwnMark(partial);
  if (::rename(partial.c_str(), out.c_str()) != 0) {
    const int err = errno;
    ::unlink(partial.c_str());
    removeMadeFolders();
    Fail("Не удалось переименовать файл '" + partial + "' в '" + out + "': " +
         std::strerror(err) + ". " + kAborted);
    return TrackResult::Failed;
  }
  writtenInGrab_.insert(out);
  host_.SetRowStatus(i, "Скопирован");
  host_.SetRowImage(i, 2);
  album_.Tracks[i].CopiedFlag = 1;
  host_.SetRowTicked(i, false);
  host_.TrackDone(i, out);
  return TrackResult::Copied;
}

void RipPipeline::FinishGrab(bool normalEnd) {
  host_.SetVolume(host_.VolumePosition());
  if (normalEnd) host_.SetState(WindowState::Idle);
  host_.SetControlsEnabled(true);
  host_.SetTimerEnabled(true);
  if (settings_.HighPriority) SetHighPriority(false);
  if (normalEnd && settings_.ShutdownAfterCopy && power_) power_->PowerOff();
}

void RipPipeline::CopyTracks() {
  WindowState state = host_.State();
  if (state == WindowState::Searching || state == WindowState::FileList) return;
  if (settings_.HighPriority) SetHighPriority(true);
  if (state != WindowState::Idle) host_.Stop();
  host_.SetState(WindowState::Copying);
  host_.SetControlsEnabled(false);
  host_.SetTimerEnabled(false);
  host_.SetVolume(255);
  outcome_ = Outcome::Done;
  writtenInGrab_.clear();
  unreadableRows_.clear();
  unreadableSectors_.clear();
  const int rows = TrackRows();
  for (int i = 0; i < rows; ++i) {
    if (!host_.RowTicked(i) || !album_.Tracks[i].AudioFlag) continue;
    TrackResult r = CopyTrack(i);
    if (r == TrackResult::Cancelled || host_.Interrupted()) {
      outcome_ = Outcome::Cancelled;
      FinishGrab(false);
      return;
    }
    if (r == TrackResult::CompressionCancelled) outcome_ = Outcome::Cancelled;
    if (r == TrackResult::Failed) {
      outcome_ = Outcome::Failed;
      host_.SetRowStatus(i, "Ошибка");
      host_.SetState(WindowState::Idle);
      FinishGrab(false);
      return;
    }
  }
  if (!unreadableRows_.empty()) {
    // The other tracks are done; the user learns which ones could not be read.
    std::string list;
    for (std::size_t k = 0; k < unreadableRows_.size(); ++k) {
      if (k) list += ", ";
      list += std::to_string(unreadableRows_[k] + 1) + " (сектор " +
              std::to_string(unreadableSectors_[k]) + ")";
    }
    Fail("Не удалось прочитать дорожки: " + list +
         ". Эти сектора не читаются и после повторных попыток; дорожки не скопированы.");
  }
  FinishGrab(true);
}

}  // namespace sonarvex
