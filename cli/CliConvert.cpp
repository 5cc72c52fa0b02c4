#include "cli/CliConvert.h"

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <map>

#include "session/Session.h"
#include "codec/EncoderSet.h"
#include "codec/FormatRegistry.h"
#include "conversion/ConvertEngine.h"
#include "platform/Dialogs.h"

namespace sonarvex {

namespace {

// The signal that stopped the batch (0: none).
volatile std::sig_atomic_t gConvertStop = 0;
extern "C" void OnConvertStop(int sig) { gConvertStop = sig; }

// SIGINT and SIGTERM stop the batch after the current file (a second one
// ends the program at once).
class ConvertStopSignals {
 public:
  ConvertStopSignals() {
    gConvertStop = 0;
    struct sigaction sa{};
    sa.sa_handler = OnConvertStop;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &sa, &oldInt_);
    sigaction(SIGTERM, &sa, &oldTerm_);
  }
  ~ConvertStopSignals() {
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
  }
  ConvertStopSignals(const ConvertStopSignals&) = delete;
  ConvertStopSignals& operator=(const ConvertStopSignals&) = delete;

 private:
  struct sigaction oldInt_{}, oldTerm_{};
};

constexpr const char* kPairs =
    "mp3->wav, mp3->mp3, wma/wmv/asf->wav, wma/wmv/asf->mp3, avi->mp3|wav, wav->mp3, "
    "wav->wma, wav->ogg, wav->opus, flac->wav, flac->mp3, flac->wma, flac->ogg, flac->opus";

// The codec layer's MP3 format at a bitrate from CD audio (stereo first),
// or -1.
int AcmFormatAt(const AcmMp3Writer& acm, int kbits) {
  int mono = -1;
  for (std::size_t i = 0; i < acm.FormatCount(); ++i) {
    const AudioFormatRecord* f = acm.FormatAt(i);
    if (f == nullptr || f->SampleRate != 44100 || f->AvgBytesPerSec * 8u != static_cast<unsigned>(kbits) * 1000u)
      continue;
    if (f->Channels == 2) return static_cast<int>(i);
    if (mono < 0) mono = static_cast<int>(i);
  }
  return mono;
}

// Where --bitrate applies: every direction that encodes; it is set into
// settings (or options) here, or the reason it cannot be is returned. The
// MP3 to MP3 direction takes the window's bitrates; the AVI direction
// copies the sound as it is (no --bitrate for it).
std::string BitrateRefusal(int direction, int kbits, const OutputFormat& to,
                           SettingsRecord& settings, FormatOptions& options,
                           const EncoderSet& encoders) {
  if (to.setBitrate == nullptr)
    return "--bitrate: файлы " + std::string(to.title) +
           " пишутся без сжатия, битрейт к ним не применяется; --bitrate берут mp3, ogg, wma и opus.";
  if (direction == kAviToMp3OrWav)
    return "--bitrate: звук файлов AVI переносится без перекодирования, битрейт к нему не применяется.";
  if (direction == kMp3ToMp3) {
    for (int k : kFormatBitrates)
      if (k == kbits) return {};
    return "--bitrate: 192, 160, 128, 112, 96, 80, 64 или 56.";
  }
  // MP3 through the codec layer's driver when the settings choose it and
  // it has the bitrate; otherwise through LAME.
  if (to.kind == OutputKind::Mp3 && settings.UseLame == 0 && encoders.Acm().Available()) {
    if (const int format = AcmFormatAt(encoders.Acm(), kbits); format >= 0) {
      settings.AcmFormatIndex = static_cast<std::uint16_t>(format);
      return {};
    }
  }
  if (auto refused = to.setBitrate(settings, options, kbits))
    return "--bitrate " + std::to_string(kbits) + ": " + *refused;
  return {};
}

// The direction of a source for a target, or -1 when the window has none.
int DirectionFor(SourceKind kind, const OutputFormat& to) {
  for (int d = 0; d < kDirectionCount; ++d)
    if (DirectionTakes(d, kind) && DirectionMakes(d, to.kind)) return d;
  return -1;
}

// The formats some direction writes, in the command line's order.
std::vector<const OutputFormat*> ConvertTargets() {
  std::vector<const OutputFormat*> targets;
  for (const OutputFormat& f : OutputFormats())
    for (int d = 0; d < kDirectionCount; ++d)
      if (DirectionMakes(d, f.kind)) {
        targets.push_back(&f);
        break;
      }
  return targets;
}

// The target --to names, nullptr when no direction writes it.
const OutputFormat* ConvertTarget(const std::string& to) {
  for (const OutputFormat* f : ConvertTargets())
    if (to == f->name) return f;
  return nullptr;
}

bool ParseInt(const std::string& s, int lo, int hi, int* v) {
  if (s.empty() || s.size() > 6) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  *v = std::atoi(s.c_str());
  return *v >= lo && *v <= hi;
}

std::string Absolute(const std::string& p) {
  if (!p.empty() && p[0] == '/') return p;
  const char* pwd = std::getenv("PWD");
  char buf[4096];
  std::string cwd = ::getcwd(buf, sizeof buf) != nullptr ? buf : (pwd != nullptr ? pwd : ".");
  return cwd + "/" + p;
}

// Progress on standard error, finished files on standard output. On a
// terminal one updating line; otherwise one line per finished file; quiet:
// failures only.
class CliConvertHost : public ConvertHost {
 public:
  CliConvertHost(std::ostream& out, std::ostream& err, const ProgressMode& mode)
      : out_(out), err_(err), mode_(mode) {}
  void SetEngine(ConvertEngine* e) { engine_ = e; }
  void RowChanged(int row) override {
    if (engine_ == nullptr || row < 0 || row >= static_cast<int>(engine_->Rows().size())) return;
    if (!mode_.terminal || mode_.verbosity < 0) return;
    const ConvertRow& r = engine_->Rows()[static_cast<std::size_t>(row)];
    if (r.state.find("% завершено") == std::string::npos) return;
    err_ << "\r" << r.name << ": " << r.state << "   " << std::flush;
    progress_ = true;
  }
  bool Pump() override {
    if (gConvertStop != 0 && !stopSaid_ && engine_ != nullptr && engine_->Status() != 1) {
      engine_->RequestCancel();
      EndProgress();
      err_ << "Конвертирование прервано сигналом " << (gConvertStop == SIGINT ? "SIGINT" : "SIGTERM")
           << ": незаконченный файл удалён.\n";
      stopSaid_ = true;
    }
    return true;
  }
  void FileDone(const std::string& source, const std::string& output) override {
    EndProgress();
    out_ << source << "\t" << output << "\n" << std::flush;
    if (!mode_.terminal && mode_.verbosity >= 0) err_ << source << ": " << kStateDone << "\n" << std::flush;
  }
  void FileFailed(const std::string& source, const std::string& why) override {
    EndProgress();
    ++failed_;
    // Said once: the batch's own message box may have named it already.
    if (!lastMessage_.empty() && lastMessage_.find(why) != std::string::npos) return;
    // A reason that names the file already is said as it is.
    if (why.find("'" + source + "'") == std::string::npos) err_ << source << ": ";
    err_ << why << "\n";
  }
  void FileSkipped(const std::string& source, const std::string& why) override {
    EndProgress();
    err_ << source << ": " << why << "\n";
  }
  int Failed() const { return failed_; }
  // The last message box the batch showed (see CliConvertDialogs).
  void SetLastMessage(const std::string& text) { lastMessage_ = text; }

 private:
  void EndProgress() {
    if (progress_) err_ << "\n";
    progress_ = false;
  }
  std::ostream& out_;
  std::ostream& err_;
  ProgressMode mode_;
  ConvertEngine* engine_ = nullptr;
  bool progress_ = false;
  bool stopSaid_ = false;
  int failed_ = 0;
  std::string lastMessage_;
};

// Message boxes of the batch as lines on standard error.
class CliConvertDialogs : public WindowlessDialogs {
 public:
  CliConvertDialogs(std::ostream& err, CliConvertHost& host) : err_(err), host_(host) {}
  int Message(const std::string& text, const std::string&, MsgIcon, MsgButtons buttons) override {
    std::string line = text;
    for (char& c : line)
      if (c == '\n') c = ' ';
    // Nobody answers a question here: it is "no" (a file that is there is
    // kept; --overwrite replaces it), and the item reports itself.
    if (buttons == MsgButtons::YesYesAllNo) return IdNo;
    err_ << line << "\n";
    problem_ = line;
    host_.SetLastMessage(line);
    return buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel ? IdNo : IdOk;
  }
  const std::string& Problem() const { return problem_; }

 private:
  std::ostream& err_;
  CliConvertHost& host_;
  std::string problem_;
};

}  // namespace

const char* ConvertUsage() {
  static const std::string usage = "convert --to " + JoinFormatNames(ConvertTargets(), "|", "|") +
                                   " [--bitrate K] [--out DIR] [--at-once N] [--overwrite] FILE...";
  return usage.c_str();
}

int RunConvertCommand(Session& session, const std::vector<std::string>& args, std::ostream& out,
                      std::ostream& err, const std::string& libraryFolder,
                      const ProgressMode& mode) {
  gConvertStop = 0;
  auto usage = [&](const std::string& why) {
    err << why << "\n" << "Использование: sonarvex-cli " << ConvertUsage() << "\n";
    return 2;
  };
  std::string to, outDir;
  int bitrate = -1, atOnce = -1;
  bool overwrite = false;
  std::vector<std::string> files;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* v) {
      if (i + 1 >= args.size()) return false;
      *v = args[++i];
      return true;
    };
    std::string v;
    if (a == "--to") {
      if (!value(&to)) return usage("Не указано значение --to.");
    } else if (a == "--out") {
      if (!value(&outDir) || outDir.empty()) return usage("--out: укажите папку.");
    } else if (a == "--bitrate") {
      if (!value(&v) || !ParseInt(v, 1, 100000, &bitrate)) return usage("--bitrate: укажите битрейт в кбит/с.");
    } else if (a == "--at-once") {
      if (!value(&v) || !ParseInt(v, 1, 255, &atOnce)) return usage("--at-once: введите число от 1 до 255.");
    } else if (a == "--overwrite") {
      overwrite = true;
    } else if (a == "--") {
      files.insert(files.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    } else if (a.size() > 1 && a[0] == '-') {
      return usage("Неизвестный параметр " + a + ".");
    } else {
      files.push_back(a);
    }
  }
  const OutputFormat* target = ConvertTarget(to);
  if (target == nullptr)
    return usage(to.empty() ? "Не указан формат: --to " + JoinFormatNames(ConvertTargets(), ", ", " или ") + "."
                            : "Нельзя конвертировать в " + to + ": --to " +
                                  JoinFormatNames(ConvertTargets(), ", ", " или ") + ".");
  if (files.empty()) return usage("Не указаны файлы.");
  int formatIndex = -1;
  // Opus keeps its bitrate beside the settings: the stored one unless given here.
  FormatOptions formatOptions;
  formatOptions.values = session.Options().FormatValues;
  // The encoders' settings of this run (given back at its end).
  SettingsRecord runSettings = session.Settings();
  // Every file's direction first: a pair the window does not have is a usage error.
  std::map<int, std::vector<std::string>> byDirection;
  int missing = 0;
  for (const std::string& f : files) {
    const int d = DirectionFor(SourceKindOf(f), *target);
    if (d < 0)
      return usage("Файл '" + f + "' нельзя конвертировать в " + to + "; возможные направления: " + kPairs + ".");
    // --bitrate applies to every file of the run, or the run does not start.
    if (bitrate >= 0) {
      if (const std::string why = BitrateRefusal(d, bitrate, *target, runSettings, formatOptions,
                                                     session.Encoders());
          !why.empty()) {
        err << why << "\n";
        return 2;
      }
      if (d == kMp3ToMp3)
        for (int k = 0; k < 8; ++k)
          if (kFormatBitrates[k] == bitrate) formatIndex = k;
    }
    // A file that cannot be read is said once, plainly; the others go on.
    if (const std::string why = FileProblem(f); !why.empty()) {
      err << "Не удалось прочитать файл '" << f << "': " << why << "\n";
      ++missing;
      continue;
    }
    byDirection[d].push_back(Absolute(f));
  }
  if (byDirection.empty()) return 1;

  SettingsRecord& settings = session.Settings();
  // The run's choices are not the window's: the settings are given back as
  // they were.
  const SettingsRecord original = settings;
  settings = runSettings;
  if (atOnce > 0) settings.DecodeFilesAtOnce = static_cast<std::uint8_t>(atOnce);
  // The engine starts on this run's first direction: one remembered from
  // the window (to WMA) would load a library this run does not need.
  settings.ConvertDirection = static_cast<std::uint8_t>(byDirection.begin()->first);
  CliConvertHost host(out, err, mode);
  CliConvertDialogs dialogs(err, host);
  ConvertEngineContext context;
  context.settings = &settings;
  context.settingsTexts = &session.SettingsTexts();
  context.encoders = &session.Encoders();
  context.dialogs = &dialogs;
  context.host = &host;
  context.programFolder = libraryFolder.empty() || libraryFolder.back() == '/' ? libraryFolder
                                                                               : libraryFolder + "/";
  const bool portable = session.TempFolder() == session.ProgramFolder() + "TempFiles/";
  context.tempFolder = (portable ? session.ProgramFolder() : session.TempFolder()) + "TempFile/";
  context.formatOptions = formatOptions;
  ConvertEngine engine(context);
  host.SetEngine(&engine);
  int status = 0;
  if (!engine.Create()) {
    status = 1;
  } else {
    ConvertStopSignals signals;
    engine.outputFolder = outDir.empty() ? "" : Absolute(outDir);
    engine.saveToSourceFolder = outDir.empty();
    engine.deleteSources = false;
    engine.overwrite = overwrite;
    bool newBatch = true;
    if (formatIndex >= 0) engine.formatIndex = formatIndex;
    for (const auto& [direction, list] : byDirection) {
      if (engine.Status() == 1) break;
      if (!engine.DirectionAvailable(direction)) {
        err << (!engine.DirectionAvailable(kFlacToWav) && IsFlacDirection(direction)
                    ? std::string("Файлы FLAC не прочитать: нет библиотеки ") + kFlacLibraryName +
                          " (пакет libflac12)."
                : direction == kWavToWma || direction == kFlacToWma ? kWmaUnavailableText
                : direction == kWavToOpus || direction == kFlacToOpus
                    ? FormatFor(OutputKind::Opus).missingText
                    : "Это направление конвертирования недоступно.")
            << "\n";
        status = 1;
        continue;
      }
      engine.RemoveAll();
      engine.SetDirection(direction);
      for (const std::string& f : list) engine.AddFile(f);
      if (engine.Rows().size() != list.size()) {
        // WMA files without a decoder; choosing the WMA direction has said
        // so already.
        if (direction != kWmaToWav) err << kWmaDecodingImpossibleText << "\n";
        status = 1;
        continue;
      }
      // One batch for the whole command: no two outputs share a name.
      engine.Run(newBatch);
      newBatch = false;
      for (const ConvertRow& r : engine.Rows())
        if (r.state != kStateDone) status = 1;
    }
    engine.Close();
  }
  settings = original;
  if (host.Failed() > 0 || missing > 0) status = 1;
  // Stopped by a signal: 128 + its number, as every command.
  if (gConvertStop != 0) return 128 + static_cast<int>(gConvertStop);
  return status;
}

}  // namespace sonarvex
