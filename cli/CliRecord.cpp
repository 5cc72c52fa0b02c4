#include "cli/CliRecord.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>

#include "session/Session.h"
#include "drive/AspiTransport.h"
#include "drive/SptiTransport.h"
#include "platform/Dialogs.h"
#include "recording/Compilation.h"
#include "recording/Recorder.h"
#include "recording/RecordingFolders.h"
#include "recording/TWriteThread.h"

namespace sonarvex {

std::string TrimmedDriveName(const std::string& name) {
  const auto b = name.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  return name.substr(b, name.find_last_not_of(' ') - b + 1);
}

const Recorder::Drive* RecorderDriveOf(const Recorder& rec, const Session& session, int index) {
  const auto& drives = session.Drives();
  if (index < 0 || index >= static_cast<int>(drives.size())) return nullptr;
  const std::string name = TrimmedDriveName(drives[static_cast<std::size_t>(index)].name);
  // Drives of one name are told apart by their order, the same in both lists.
  int place = 0;
  for (int k = 0; k < index; ++k)
    if (TrimmedDriveName(drives[static_cast<std::size_t>(k)].name) == name) ++place;
  for (const Recorder::Drive& d : rec.Drives())
    if (TrimmedDriveName(d.identification).rfind(name, 0) == 0 && place-- == 0) return &d;
  return nullptr;
}

int RecorderReadOffset(Session& session, const Recorder::Drive& drive) {
  // The offsets are kept by the names the session's drive list gives.
  const std::string name = TrimmedDriveName(drive.identification);
  const ProgramOptions options = session.Options();
  for (const auto& d : session.Drives()) {
    const std::string listed = TrimmedDriveName(d.name);
    if (!listed.empty() && name.rfind(listed, 0) == 0) return options.ReadOffsetOf(d.name);
  }
  return 0;
}

namespace {

std::atomic<bool> gRecordCancel{false};
volatile std::sig_atomic_t gRecordSignal = 0;
extern "C" void OnRecordStop(int sig) {
  gRecordSignal = sig;
  gRecordCancel.store(true);
}

// SIGINT and SIGTERM stop the writing at the next block; the session is left
// open and the tray unlocked (a second signal ends the program).
class RecordStopSignals {
 public:
  RecordStopSignals() {
    gRecordCancel = false;
    gRecordSignal = 0;
    struct sigaction sa{};
    sa.sa_handler = OnRecordStop;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &sa, &oldInt_);
    sigaction(SIGTERM, &sa, &oldTerm_);
  }
  ~RecordStopSignals() {
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
  }
  RecordStopSignals(const RecordStopSignals&) = delete;
  RecordStopSignals& operator=(const RecordStopSignals&) = delete;

 private:
  struct sigaction oldInt_{}, oldTerm_{};
};

// Message boxes become lines on standard error; questions are answered No.
class StreamDialogs : public WindowlessDialogs {
 public:
  explicit StreamDialogs(std::ostream& err) : err_(err) {}
  int Message(const std::string& text, const std::string&, MsgIcon, MsgButtons buttons) override {
    std::string line = text;
    for (auto& c : line)
      if (c == '\n') c = ' ';
    err_ << line << "\n";
    return buttons == MsgButtons::Ok ? IdOk : buttons == MsgButtons::YesNo ? IdNo : IdCancel;
  }

 private:
  std::ostream& err_;
};

// The recording thread's host without a window: the phases and status
// lines as lines, the progress as a percentage of the disc (on a terminal an
// updating line; in a pipe nothing until a track is written; quiet: only
// failures, which come through the dialogs).
class StreamHost : public WriteThreadHost {
 public:
  StreamHost(std::ostream& out, std::ostream& err, std::int32_t total, std::vector<std::string> names,
             const ProgressMode& mode)
      : out_(out), err_(err), total_(total), names_(std::move(names)), mode_(mode) {}
  void SetPhase(const std::string& text) override { Line(text); }
  void ShowErrorCount(bool) override {}
  std::string SetStatus(const std::string& text) override {
    std::string old = status_;
    status_ = text;
    if (!text.empty()) Line(text);
    return old;
  }
  void Progress(std::int32_t current, std::int32_t, int errors, std::int32_t) override {
    errors_ = errors;
    // The lead-in comes before the disc's first sector (negative LBAs): 0%.
    const int percent =
        total_ > 0 ? static_cast<int>(std::max<std::int64_t>(current, 0) * 100 / total_) : 0;
    if (mode_.terminal && mode_.verbosity >= 0 && percent != lastPercent_) {
      err_ << "\r  " << percent << "%" << std::flush;
      lineOpen_ = true;
    }
    lastPercent_ = percent;
  }
  void TrackDone(int row) override {
    const std::string name = row < static_cast<int>(names_.size()) ? names_[static_cast<std::size_t>(row)] : "";
    out_ << (row + 1) << "\t" << name << "\n" << std::flush;
    if (!mode_.terminal) Line("Дорожка " + std::to_string(row + 1) + " записана: " + name);
  }
  void WriteFinished() override {}
  void Verified(const std::string& text, bool same) override {
    CloseLine();
    // A mismatch is a failure: said even when quiet.
    if (same) Line(text);
    else err_ << text << "\n" << std::flush;
  }
  void PlaySound(const std::string&) override {}
  void SourcesDeleted() override {}
  void CloseBlankWindow() override {}
  void Completed() override {}
  // A line of progress (nothing when quiet).
  void Line(const std::string& text) {
    if (mode_.verbosity < 0) return;
    CloseLine();
    err_ << text << "\n" << std::flush;
  }
  void CloseLine() {
    if (lineOpen_) err_ << "\n";
    lineOpen_ = false;
  }

 private:
  std::ostream& out_;
  std::ostream& err_;
  std::int32_t total_;
  std::vector<std::string> names_;
  ProgressMode mode_;
  std::string status_;
  int errors_ = 0;
  int lastPercent_ = -1;
  bool lineOpen_ = false;
};

struct Options {
  int drive = -1;
  bool test = false, overburn = false, full = false;
  int verify = -1;  // -1: as the settings say ([Write] Verify)
  int speed = -1;
  std::vector<std::string> files;
};

bool ParseInt(const std::string& s, int lo, int hi, int& v) {
  if (s.empty() || s.size() > 4) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  v = std::atoi(s.c_str());
  return v >= lo && v <= hi;
}

// Parses the options; false (with the reason on err) on a usage error.
bool ParseOptions(const std::vector<std::string>& args, bool burn, Options& o, std::ostream& err) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& v) {
      if (i + 1 >= args.size()) {
        err << "Не указано значение " << a << "\n";
        return false;
      }
      v = args[++i];
      return true;
    };
    std::string v;
    if (a == "--drive") {
      if (!value(v) || !ParseInt(v, 0, 99, o.drive)) {
        err << "--drive: номер привода от 0\n";
        return false;
      }
    } else if (burn && a == "--test") {
      o.test = true;
    } else if (burn && a == "--overburn") {
      o.overburn = true;
    } else if (burn && a == "--verify") {
      o.verify = 1;
    } else if (burn && a == "--no-verify") {
      o.verify = 0;
    } else if (burn && a == "--speed") {
      if (!value(v)) return false;
      if (v == "max") o.speed = 255;
      else if (!ParseInt(v, 1, 254, o.speed)) {
        err << "--speed: множитель скорости 1..254 или max\n";
        return false;
      }
    } else if (!burn && a == "--full") {
      o.full = true;
    } else if (a == "--") {
      for (++i; i < args.size(); ++i) o.files.push_back(args[i]);
    } else if (!a.empty() && a[0] == '-') {
      err << "Неизвестный параметр " << a << "\n" << (burn ? BurnUsage() : BlankUsage());
      return false;
    } else if (burn) {
      o.files.push_back(a);
    } else {
      err << "Лишний аргумент " << a << "\n" << BlankUsage();
      return false;
    }
  }
  if (burn && o.files.empty()) {
    err << "Добавьте файлы для записи!!!\n" << BurnUsage();
    return false;
  }
  return true;
}

// The recording layer on the drive the options or the settings choose;
// false with the reason when there is none (exit code in *code). --drive N
// is the number `drives` prints; without it the recording window's last
// choice among the drives that write.
bool OpenRecorder(Recorder& rec, Session& session, const Options& o, const RecordingSettings& settings,
                  std::ostream& err, int* code) {
  rec.Create();
  *code = 1;
  if (o.drive >= 0) {
    const auto& drives = session.Drives();
    if (o.drive >= static_cast<int>(drives.size())) {
      err << "Нет привода с номером " << o.drive << " (приводов: " << drives.size()
          << "; их номера выводит команда drives).\n";
      return false;
    }
    const Recorder::Drive* d = RecorderDriveOf(rec, session, o.drive);
    if (d == nullptr || !d->CanWriteCdr()) {
      err << "Привод " << o.drive << " (" << TrimmedDriveName(drives[static_cast<std::size_t>(o.drive)].name)
          << ") не записывает диски.\n";
      return false;
    }
    if (!rec.SelectDevice(d->device)) {
      err << "Не удалось открыть привод " << o.drive << ".\n";
      return false;
    }
    return true;
  }
  std::vector<int> writers;
  for (const auto& d : rec.Drives())
    if (d.CanWriteCdr()) writers.push_back(d.device);
  if (writers.empty()) {
    err << "К сожалению диски записывать нечем... :(\n";
    return false;
  }
  int index = settings.DriveIndex;
  if (index < 0 || index >= static_cast<int>(writers.size())) index = 0;
  if (!rec.SelectDevice(writers[static_cast<std::size_t>(index)])) {
    err << "Не удалось открыть привод\n";
    return false;
  }
  return true;
}

std::string AbsolutePath(const std::string& p) {
  if (!p.empty() && p[0] == '/') return p;
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) return p;
  return std::string(cwd) + "/" + p;
}

}  // namespace

const char* BurnUsage() {
  return "Использование: sonarvex-cli burn [--drive N] [--test] [--speed X|max] [--overburn] [--verify|--no-verify] "
         "FILE.wav|FILE.cue...\n";
}
const char* BlankUsage() { return "Использование: sonarvex-cli blank [--drive N] [--full]\n"; }

int RunBurnCommand(Session& session, const std::vector<std::string>& args, std::ostream& out,
                   std::ostream& err, const ProgressMode& mode) {
  Options o;
  if (!ParseOptions(args, true, o, err)) return 2;
  StreamDialogs dialogs(err);
  RecordingSettings settings = LoadRecordingSettings(session.SettingFolder());
  Recorder rec(session.Spti(), session.Aspi(), dialogs);
  int code = 0;
  if (!OpenRecorder(rec, session, o, settings, err, &code)) return code;
  const Recorder::Drive* drive = rec.CurrentDrive();
  if (!drive || !drive->CanWriteCdr()) {
    err << "Выбранный привод не умеет записывать диски!!!\n";
    return 1;
  }
  if (o.test && !drive->CanTestWrite()) {
    err << "Привод не умеет писать в тестовом режиме\n";
    return 1;
  }

  Compilation compilation(RecordingTempFolder(session.ProgramFolder(), session.TempFolder()), dialogs);
  struct Cleanup {
    Compilation& c;
    ~Cleanup() { c.DeleteConverted(); }
  } cleanup{compilation};
  // MP3 files are decoded by libkelpra.so from the program's library folder.
  compilation.SetDecoderFolder(session.LibraryFolder());
  rec.SetDecoderFolder(session.LibraryFolder());
  for (const auto& f : o.files) {
    if (IsCueSheetPath(f)) {
      // A cue sheet brings its files; why it could not is on err already.
      if (!compilation.AddCueSheet(AbsolutePath(f), settings.SkipCompressedWav)) return 1;
      continue;
    }
    const std::size_t before = compilation.Rows().size();
    if (!compilation.AddFile(AbsolutePath(f), settings.SkipCompressedWav) ||
        compilation.Rows().size() == before) {
      err << "Файл не может быть записан на AudioCD: " << f << "\n";
      return 1;
    }
  }
  if (compilation.OverLength() && !o.overburn) {
    err << "Общее время не должно превышать 79 минут!!! (" << compilation.TimePanelText()
        << "; --overburn пишет всё равно)\n";
    return 1;
  }
  rec.WaitReady();  // a newly inserted disc reports itself once
  const Recorder::DiscState disc = rec.ReadDiscState();
  if (!disc.Blank()) {
    err << "Вставьте чистый CD-R/RW диск.\n";
    if (disc.ready && disc.erasable)
      err << "Перед началом записи AudioCD надо отчистить RW диск: sonarvex-cli blank\n";
    return 1;
  }

  std::vector<std::string> names;
  for (const auto& r : compilation.Rows()) names.push_back(r.name);
  rec.SetFiles(compilation.Paths(), compilation.Gaps());
  rec.SetDiscTexts(compilation.Texts());
  // Every file is checked before the drive is given anything to do; the
  // one that cannot be written is named with the reason on err.
  if (!rec.CheckFiles()) return 1;
  StreamHost* hostPtr = nullptr;
  if (!rec.InitWriteProcess(o.test, [&](std::int32_t c, std::int32_t s, int e, std::int32_t end) {
        if (hostPtr) hostPtr->Progress(c, s, e, end);
      })) {
    err << "Запись невозможна (InitWriteProcess - failed)!!!\n";
    return 1;
  }
  if (!rec.SendCUEToCD()) {
    err << "Невозможно записать таблицу размещения треков!!!(SendCUEToCD - failed)\n";
    return 1;
  }
  StreamHost host(out, err, rec.TotalSectors(), names, mode);
  hostPtr = &host;
  rec.SetNormalize(settings.Normalize != 0);
  rec.SetStatusCallback([&](const std::string& t) { return host.SetStatus(t); });

  RecordStopSignals signals;
  TWriteThread thread(rec, host, dialogs, gRecordCancel);
  thread.mode = TWriteThread::kWrite;
  thread.testWrite = o.test;
  thread.settings = settings;
  if (o.speed > 0) thread.settings.WriteSpeed = static_cast<std::uint8_t>(o.speed);
  // Without a window there is nothing to play and no one to ask about the
  // sources.
  thread.settings.PlaySound = 0;
  thread.settings.DeleteWavAfterBurn = 0;
  thread.files = compilation.Paths();
  thread.names = names;
  thread.verify = o.verify >= 0 ? o.verify == 1 : session.Options().WriteVerify;
  thread.readOffset = RecorderReadOffset(session, *drive);
  thread.Execute();
  rec.Destroy();

  host.CloseLine();
  switch (thread.Result()) {
    case TWriteThread::Outcome::Done:
      host.Line(o.test ? "Тестовая запись завершена" : "Диск записан");
      if (thread.VerifyResult() == TWriteThread::Verify::Cancelled) {
        err << kVerifyCancelledText << "\n";
        return gRecordSignal != 0 ? 128 + static_cast<int>(gRecordSignal) : 1;
      }
      // Written, but not as it was sent: a failure.
      return thread.VerifyResult() == TWriteThread::Verify::Differs ? 1 : 0;
    case TWriteThread::Outcome::Cancelled:
      err << (o.test ? "Тестовая запись прервана\n" : "Запись прервана: сессия диска не закрыта\n");
      return gRecordSignal != 0 ? 128 + static_cast<int>(gRecordSignal) : 1;
    default:
      // The thread named what failed, once.
      return 1;
  }
}

int RunBlankCommand(Session& session, const std::vector<std::string>& args, std::ostream& out,
                    std::ostream& err, const ProgressMode& mode) {
  (void)out;
  Options o;
  if (!ParseOptions(args, false, o, err)) return 2;
  StreamDialogs dialogs(err);
  const RecordingSettings settings = LoadRecordingSettings(session.SettingFolder());
  Recorder rec(session.Spti(), session.Aspi(), dialogs);
  int code = 0;
  if (!OpenRecorder(rec, session, o, settings, err, &code)) return code;
  rec.WaitReady();
  const Recorder::DiscState disc = rec.ReadDiscState();
  if (!disc.ready) {
    err << "Вставьте CD-RW диск.\n";
    return 1;
  }
  if (!disc.erasable) {
    err << "Диск не перезаписываемый: очистить можно только CD-RW.\n";
    return 1;
  }
  StreamHost host(out, err, 0, {}, mode);
  // The drive blanks on its own once asked; a signal is answered when it
  // has done so (128 + the signal, as every command).
  RecordStopSignals signals;
  std::atomic<bool> never{false};
  TWriteThread thread(rec, host, dialogs, never);
  thread.mode = o.full ? TWriteThread::kBlankFull : TWriteThread::kBlankMinimal;
  thread.settings = settings;
  host.Line(o.full ? "Полная чистка диска ..." : "Быстрая чистка диска ...");
  thread.Execute();
  if (gRecordSignal != 0) {
    const bool blank = rec.ReadDiscState().Blank();
    err << "Очистка остановлена сигналом " << (gRecordSignal == SIGINT ? "SIGINT" : "SIGTERM")
        << (blank ? ": диск очищен.\n" : ": диск не очищен.\n");
    return 128 + static_cast<int>(gRecordSignal);
  }
  if (!rec.ReadDiscState().Blank()) {
    err << "Диск не очищен.\n";
    return 1;
  }
  host.Line("Диск очищен");
  return 0;
}

}  // namespace sonarvex
