#include "cli/CliRecord.h"

#include <unistd.h>

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

// The recording thread's host on a terminal: the phases and status lines as
// lines, the progress as a percentage of the disc.
class StreamHost : public WriteThreadHost {
 public:
  StreamHost(std::ostream& out, std::ostream& err, std::int32_t total, std::vector<std::string> names)
      : out_(out), err_(err), total_(total), names_(std::move(names)) {}
  void SetPhase(const std::string& text) override { err_ << text << "\n"; }
  void ShowErrorCount(bool) override {}
  std::string SetStatus(const std::string& text) override {
    std::string old = status_;
    status_ = text;
    if (!text.empty()) err_ << text << "\n";
    return old;
  }
  void Progress(std::int32_t current, std::int32_t, int errors, std::int32_t) override {
    errors_ = errors;
    const int percent = total_ > 0 ? static_cast<int>(static_cast<std::int64_t>(current) * 100 / total_) : 0;
    if (percent / 10 != lastPercent_ / 10) err_ << "  " << percent << "%\n";
    lastPercent_ = percent;
  }
  void TrackDone(int row) override {
    out_ << (row + 1) << "\t" << (row < static_cast<int>(names_.size()) ? names_[static_cast<std::size_t>(row)] : "")
         << "\n";
  }
  void WriteFinished() override {}
  void PlaySound(const std::string&) override {}
  void SourcesDeleted() override {}
  void CloseBlankWindow() override {}
  void Completed() override {}

 private:
  std::ostream& out_;
  std::ostream& err_;
  std::int32_t total_;
  std::vector<std::string> names_;
  std::string status_;
  int errors_ = 0;
  int lastPercent_ = -10;
};

struct Options {
  int drive = -1;
  bool test = false, overburn = false, full = false;
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
// false with the reason when there is none (exit code in *code).
bool OpenRecorder(Recorder& rec, const Options& o, const RecordingSettings& settings, std::ostream& err,
                  int* code) {
  rec.Create();
  std::vector<int> writers;
  for (const auto& d : rec.Drives())
    if (d.CanWriteCdr()) writers.push_back(d.device);
  if (writers.empty()) {
    err << "К сожалению диски записывать нечем... :(\n";
    *code = 1;
    return false;
  }
  int index = o.drive >= 0 ? o.drive : settings.DriveIndex;
  if (index >= static_cast<int>(writers.size())) {
    if (o.drive >= 0) {
      err << "Нет пишущего привода с номером " << o.drive << " (их " << writers.size() << ")\n";
      *code = 2;
      return false;
    }
    index = 0;
  }
  if (!rec.SelectDevice(writers[static_cast<std::size_t>(index)])) {
    err << "Не удалось открыть привод\n";
    *code = 1;
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
  return "Использование: sonarvex-cli burn [--drive N] [--test] [--speed X|max] [--overburn] FILE.wav|FILE.cue...\n";
}
const char* BlankUsage() { return "Использование: sonarvex-cli blank [--drive N] [--full]\n"; }

int RunBurnCommand(Session& session, const std::vector<std::string>& args, std::ostream& out,
                   std::ostream& err) {
  Options o;
  if (!ParseOptions(args, true, o, err)) return 2;
  StreamDialogs dialogs(err);
  RecordingSettings settings = LoadRecordingSettings(session.SettingFolder());
  Recorder rec(session.Spti(), session.Aspi(), dialogs);
  int code = 0;
  if (!OpenRecorder(rec, o, settings, err, &code)) return code;
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
  StreamHost host(out, err, rec.TotalSectors(), names);
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
  thread.Execute();
  rec.Destroy();

  switch (thread.Result()) {
    case TWriteThread::Outcome::Done:
      err << (o.test ? "Тестовая запись завершена\n" : "Диск записан\n");
      return 0;
    case TWriteThread::Outcome::Cancelled:
      err << (o.test ? "Тестовая запись прервана\n" : "Запись прервана: сессия диска не закрыта\n");
      return gRecordSignal != 0 ? 128 + static_cast<int>(gRecordSignal) : 1;
    default:
      // The thread named what failed, once.
      return 1;
  }
}

int RunBlankCommand(Session& session, const std::vector<std::string>& args, std::ostream& out,
                    std::ostream& err) {
  (void)out;
  Options o;
  if (!ParseOptions(args, false, o, err)) return 2;
  StreamDialogs dialogs(err);
  const RecordingSettings settings = LoadRecordingSettings(session.SettingFolder());
  Recorder rec(session.Spti(), session.Aspi(), dialogs);
  int code = 0;
  if (!OpenRecorder(rec, o, settings, err, &code)) return code;
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
  StreamHost host(out, err, 0, {});
  std::atomic<bool> never{false};
  TWriteThread thread(rec, host, dialogs, never);
  thread.mode = o.full ? TWriteThread::kBlankFull : TWriteThread::kBlankMinimal;
  thread.settings = settings;
  err << (o.full ? "Полная чистка диска ...\n" : "Быстрая чистка диска ...\n");
  thread.Execute();
  if (!rec.ReadDiscState().Blank()) {
    err << "Диск не очищен.\n";
    return 1;
  }
  err << "Диск очищен\n";
  return 0;
}

}  // namespace sonarvex
