#include "app/CliCommands.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/CliOptions.h"
#include "app/RipPipeline.h"
#include "app/Session.h"
#include "drive/DriveCommands.h"
#include "metadata/CddbCommand.h"
#include "platform/ConsoleDialogs.h"
#include "platform/Cp1251.h"

namespace sonarvex {
namespace {

// The signal that asked a running rip to stop (0: none). Set by the handler
// only; the ripping loop reads it at every block.
volatile std::sig_atomic_t gStopSignal = 0;

extern "C" void OnStopSignal(int sig) { gStopSignal = sig; }

// SIGINT and SIGTERM stop the rip at the next block while it runs; a second
// one ends the program at once (the handler is reset after the first).
class StopSignals {
 public:
  StopSignals() {
    gStopSignal = 0;
    struct sigaction sa{};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &sa, &oldInt_);
    sigaction(SIGTERM, &sa, &oldTerm_);
  }
  ~StopSignals() {
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  struct sigaction oldInt_{}, oldTerm_{};
};

std::string MsfText(Msf m) {
  char b[16];
  std::snprintf(b, sizeof b, "%02d:%02d:%02d", m.minute, m.second, m.frame);
  return b;
}

// The loop's host on a terminal: rows are the disc's tracks, ticked when
// chosen; progress goes to standard error, finished tracks to standard output.
class CliRipHost : public RipHost {
 public:
  CliRipHost(std::ostream& out, std::ostream& err, const AlbumRecord& album,
             std::vector<bool> ticked)
      : out_(out), err_(err), album_(album), ticked_(std::move(ticked)) {}
  int RowCount() override { return static_cast<int>(ticked_.size()); }
  bool RowTicked(int row) override { return ticked_[row]; }
  void SetRowTicked(int row, bool on) override { ticked_[row] = on; }
  void SetRowStatus(int row, const std::string& text) override {
    // A stopped rip says so in one line of its own (see Rip).
    if (gStopSignal != 0) return;
    err_ << "\r" << (row + 1) << ": " << text << "        " << std::flush;
    progressShown_ = text.rfind("копирование", 0) == 0 || text.rfind("сжатие", 0) == 0;
    if (!progressShown_) err_ << "\n";
  }
  bool Interrupted() override { return gStopSignal != 0; }
  // Whether a progress line is still open on standard error.
  bool ProgressShown() const { return progressShown_; }
  void SetRowImage(int, int) override {}
  void SelectRow(int) override {}
  std::string RowCaption(int row) override {
    return Cp1251ToUtf8(FieldText(album_.Tracks[row].Title));
  }
  void SetCaption(const std::string&) override {}
  void Pump() override {}
  WindowState State() override { return state_; }
  void SetState(WindowState s) override { state_ = s; }
  void Stop() override { state_ = WindowState::Idle; }
  void SetControlsEnabled(bool) override {}
  void SetTimerEnabled(bool) override {}
  void SetVolume(int) override {}
  int VolumePosition() override { return 255; }
  void Eject() override { ejectRequested_ = true; }
  bool OutputFolderMissing(const std::string& folder) override {
    missingFolder_ = folder;
    return false;
  }
  void TrackDone(int row, const std::string& path) override {
    out_ << (row + 1) << "\t" << path << "\n" << std::flush;
    ++done_;
  }
  int Done() const { return done_; }
  bool EjectRequested() const { return ejectRequested_; }
  const std::string& MissingFolder() const { return missingFolder_; }

 private:
  std::ostream& out_;
  std::ostream& err_;
  const AlbumRecord& album_;
  std::vector<bool> ticked_;
  WindowState state_ = WindowState::Idle;
  int done_ = 0;
  bool progressShown_ = false;
  bool ejectRequested_ = false;
  std::string missingFolder_;
};

class Cli {
 public:
  Cli(const CliOptions& o, std::ostream& out, std::ostream& err, const CliEnvironment& env)
      : o_(o), out_(out), err_(err), env_(env), dialogs_() {}

  int Run() {
    SessionContext context;
    context.ProgramFolder = o_.Home.empty() ? env_.ExecutableFolder : o_.Home;
    if (context.ProgramFolder.empty() || context.ProgramFolder.back() != '/')
      context.ProgramFolder += '/';
    context.DialogService = &dialogs_;
    context.ScanSystemDrives = env_.ScanSystemDrives;
    context.Images = o_.Images;
    session_ = std::make_unique<Session>(context);
    if (!session_->StartError().empty()) return Fail(session_->StartError());
    session_->LoadActiveProfile();
    const auto& drives = session_->Drives();

    if (o_.Command == "drives") return Drives();
    const int stored = session_->Settings().DriveIndex;
    int drive = o_.Drive ? *o_.Drive : stored;
    if (drive >= static_cast<int>(drives.size()))
      return Fail(drives.empty() ? "no drive found"
                                 : "no drive " + std::to_string(drive) + " (" +
                                       std::to_string(drives.size()) + " drives)");
    if (!session_->ReadDisc(drive).present)
      return Fail("no disc in drive " + std::to_string(drive));
    if (o_.Command == "toc") return Toc();
    if (o_.Command == "cddb") return Cddb();
    return Rip();
  }

 private:
  int Fail(const std::string& reason) {
    err_ << reason << "\n";
    return 1;
  }

  int Drives() {
    const char* kind = session_->Settings().UseSpti ? "SPTI" : "ASPI";
    const auto& drives = session_->Drives();
    for (std::size_t k = 0; k < drives.size(); ++k)
      out_ << k << "\t" << kind << "\t" << drives[k].name << "\n";
    return 0;
  }

  // The table of contents as the drive reports it (the identifier is computed
  // from the same addresses).
  int Toc() {
    const DiscView& view = session_->View();
    const AlbumRecord& album = session_->Album();
    char id[16];
    std::snprintf(id, sizeof id, "%08x", view.discId);
    out_ << id << "\n";
    auto frames = [&view](int i) {
      const std::uint8_t* d = view.toc + 4 + 8 * i;
      return d[5] * kFramesPerMinute + d[6] * kFramesPerSecond + d[7];
    };
    for (int i = 0; i < view.trackCount; ++i) {
      int start = frames(i);
      out_ << (i + 1) << "\t" << MsfText(FramesToMsf(start)) << "\t"
           << MsfText(FramesToMsf(frames(i + 1) - start)) << "\t" << (start - 150) << "\t"
           << (album.Tracks[i].AudioFlag ? "audio" : "data") << "\n";
    }
    out_ << "leadout\t" << MsfText(FramesToMsf(frames(view.trackCount))) << "\n";
    return 0;
  }

  int Cddb() {
    const DiscView& view = session_->View();
    CddbCommandOptions options;
    options.match = o_.Match;
    options.rawToc.assign(view.toc, view.toc + kTocLength);
    CddbCommandResult r = RunCddbCommand(session_->Settings(), session_->Album(),
                                         session_->Tags(), session_->AlbumFolder(), options);
    if (!r.ok) {
      std::string reason = !r.failure.empty()    ? r.failure
                           : r.messages.empty() ? std::string("lookup failed")
                                                : r.messages.back();
      for (char& c : reason)
        if (c == '\n') c = ' ';
      return Fail(reason);
    }
    for (const auto& line : CddbCommandLines(r)) out_ << line << "\n";
    return 0;
  }

  int Rip() {
    SettingsRecord& settings = session_->Settings();
    const AlbumRecord& album = session_->Album();
    const int tracks = session_->View().trackCount;
    std::vector<bool> ticked(static_cast<std::size_t>(tracks), false);
    if (o_.Tracks.empty()) {
      for (int i = 0; i < tracks; ++i) ticked[i] = album.Tracks[i].AudioFlag != 0;
    } else {
      std::string error;
      auto list = ParseTrackList(o_.Tracks, tracks, &error);
      if (!list) {
        err_ << error << "\n";
        return 2;
      }
      for (int t : *list) {
        if (!album.Tracks[t - 1].AudioFlag)
          return Fail("track " + std::to_string(t) + " is a data track");
        ticked[t - 1] = true;
      }
    }
    GrabSender sender = GrabSender::Mp3Menu;
    std::string format = o_.Format;
    if (format.empty()) {
      static const char* kKinds[] = {"wav", "mp3", "wma", "ogg"};
      format = kKinds[settings.OutputKind < 4 ? settings.OutputKind : 1];
    }
    if (format == "wav") sender = GrabSender::Wave;
    if (format == "ogg") sender = GrabSender::Ogg;
    if (format == "wma") sender = GrabSender::Wma;
    // These two changes live in memory only: the command line never saves
    // the settings.
    if (o_.OnTheFly) settings.OnTheFlyEncoding = 1;
    // Scripts run unattended: nothing but the grab itself changes the machine.
    settings.ShutdownAfterCopy = 0;

    CliRipHost host(out_, err_, album, ticked);
    Session::RipResult result;
    int stopSignal = 0;
    {
      StopSignals signals;
      result = session_->Rip(sender, host);
      stopSignal = gStopSignal;
    }
    if (stopSignal != 0) {
      // The loop has deleted the track it was writing; the temporary folder
      // goes with the session when it is empty.
      session_->SaveCurrentAlbum();
      if (host.ProgressShown()) err_ << "\n";
      err_ << "Копирование прервано сигналом " << (stopSignal == SIGINT ? "SIGINT" : "SIGTERM")
           << ": незаконченный файл удалён, готовые дорожки сохранены.\n";
      return 128 + stopSignal;
    }
    if (host.EjectRequested()) StartStopUnit(session_->CurrentTransport(), true);
    // The copied marks are kept with the album, as the window keeps them.
    session_->SaveCurrentAlbum();
    switch (result.outcome) {
      case RipPipeline::Outcome::Done:
        return 0;
      case RipPipeline::Outcome::NotStarted:
        return Fail(dialogs_.LastProblem().empty() ? "nothing was ripped" : dialogs_.LastProblem());
      case RipPipeline::Outcome::Cancelled:
        return Fail("cancelled");
      case RipPipeline::Outcome::Failed:
        if (!host.MissingFolder().empty())
          return Fail("the output folder " + host.MissingFolder() + " does not exist");
        return Fail(result.failure);
    }
    return 1;
  }

  const CliOptions& o_;
  std::ostream& out_;
  std::ostream& err_;
  const CliEnvironment& env_;
  ConsoleDialogs dialogs_;
  std::unique_ptr<Session> session_;
};

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const CliEnvironment& env) {
  std::string error;
  auto options = ParseCli(args, &error);
  if (!options) {
    err << "sonarvex-cli: " << error << "\n" << CliUsage();
    return 2;
  }
  Cli cli(*options, out, err, env);
  return cli.Run();
}

}  // namespace sonarvex
