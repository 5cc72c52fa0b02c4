#include "app/CliCommands.h"

#include <cstdio>
#include <memory>

#include "app/CliOptions.h"
#include "app/EncoderRipAdapter.h"
#include "app/ProfileList.h"
#include "app/RipPipeline.h"
#include "app/SettingsStore.h"
#include "app/TransportRipDrive.h"
#include "codec/EncoderSet.h"
#include "drive/AspiTransport.h"
#include "drive/DeviceDirectory.h"
#include "drive/DiscModel.h"
#include "drive/DriveCommands.h"
#include "drive/SptiTransport.h"
#include "drive/TransportSetup.h"
#include "drive/virtual/VirtualDrive.h"
#include "drive/virtual/VirtualDriveList.h"
#include "metadata/AlbumDatabase.h"
#include "metadata/CddbCommand.h"
#include "metadata/DiscId.h"
#include "platform/ConsoleDialogs.h"
#include "platform/Cp1251.h"

namespace sonarvex {
namespace {

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
    err_ << "\r" << (row + 1) << ": " << text << "        " << std::flush;
    if (text.rfind("копирование", 0) != 0 && text.rfind("сжатие", 0) != 0) err_ << "\n";
  }
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
  bool ejectRequested_ = false;
  std::string missingFolder_;
};

class Cli {
 public:
  Cli(const CliOptions& o, std::ostream& out, std::ostream& err, const CliEnvironment& env)
      : o_(o), out_(out), err_(err), env_(env), dialogs_() {}

  int Run() {
    home_ = o_.Home.empty() ? env_.ExecutableFolder : o_.Home;
    if (home_.empty() || home_.back() != '/') home_ += '/';
    SettingsStore store(home_, dialogs_);
    ProfileList profiles;
    profiles.Load(store.SettingFolder());
    store.LoadRecord(profiles.ActiveFileName(), settings_);

    directory_ = std::make_unique<DeviceDirectory>(env_.ScanSystemDrives);
    LoadVirtualDrives(home_, *directory_, dialogs_);
    for (const auto& image : o_.Images) {
      std::string error;
      auto drive = VirtualDrive::FromCueImage(image, &error);
      if (!drive) return Fail("cannot use image " + image + ": " + error);
      directory_->AddVirtual(drive);
    }
    spti_ = std::make_unique<SptiTransport>(*directory_);
    aspi_ = std::make_unique<AspiTransport>(*directory_);
    TransportFlags flags;
    std::uint8_t useSpti = settings_.UseSpti;
    ChooseTransportAtStartup(*aspi_, dialogs_, flags, useSpti);
    settings_.UseSpti = useSpti;
    ChooseTransportAfterSettings(*spti_, flags, settings_.UseSpti);
    int index = settings_.DriveIndex;
    drives_ = BuildDriveList(Active(), settings_.DriveTypes, index);

    if (o_.Command == "drives") return Drives();
    int drive = o_.Drive ? *o_.Drive : (index < 0 ? 0 : index);
    if (drive >= static_cast<int>(drives_.size()))
      return Fail(drives_.empty() ? "no drive found"
                                  : "no drive " + std::to_string(drive) + " (" +
                                        std::to_string(drives_.size()) + " drives)");
    driveIndex_ = drive;
    view_ = ReadDisc(Active(), drives_[drive].device, settings_.DriveTypes[drive < 16 ? drive : 0],
                     dialogs_, album_, [this](std::uint32_t id, AlbumRecord& a) {
                       return LoadAlbum(AlbumFolder(home_), SignedDiscId(id), a, tags_);
                     });
    if (!view_.present) return Fail("no disc in drive " + std::to_string(drive));
    if (o_.Command == "toc") return Toc();
    if (o_.Command == "cddb") return Cddb();
    return Rip();
  }

 private:
  Transport& Active() { return ActiveTransport(*spti_, *aspi_, settings_.UseSpti); }

  int Fail(const std::string& reason) {
    err_ << reason << "\n";
    return 1;
  }

  int Drives() {
    const char* kind = settings_.UseSpti ? "SPTI" : "ASPI";
    for (std::size_t k = 0; k < drives_.size(); ++k)
      out_ << k << "\t" << kind << "\t" << drives_[k].name << "\n";
    return 0;
  }

  // The table of contents as the drive reports it (the identifier is computed
  // from the same addresses).
  int Toc() {
    char id[16];
    std::snprintf(id, sizeof id, "%08x", view_.discId);
    out_ << id << "\n";
    auto frames = [this](int i) {
      const std::uint8_t* d = view_.toc + 4 + 8 * i;
      return d[5] * kFramesPerMinute + d[6] * kFramesPerSecond + d[7];
    };
    for (int i = 0; i < view_.trackCount; ++i) {
      int start = frames(i);
      out_ << (i + 1) << "\t" << MsfText(FramesToMsf(start)) << "\t"
           << MsfText(FramesToMsf(frames(i + 1) - start)) << "\t" << (start - 150) << "\t"
           << (album_.Tracks[i].AudioFlag ? "audio" : "data") << "\n";
    }
    out_ << "leadout\t" << MsfText(FramesToMsf(frames(view_.trackCount))) << "\n";
    return 0;
  }

  int Cddb() {
    CddbCommandOptions options;
    options.match = o_.Match;
    options.rawToc.assign(view_.toc, view_.toc + kTocLength);
    CddbCommandResult r =
        RunCddbCommand(settings_, album_, tags_, AlbumFolder(home_), options);
    if (!r.ok) {
      std::string reason = r.messages.empty() ? "lookup failed" : r.messages.back();
      for (char& c : reason)
        if (c == '\n') c = ' ';
      return Fail(reason);
    }
    for (const auto& line : CddbCommandLines(r)) out_ << line << "\n";
    return 0;
  }

  int Rip() {
    const int tracks = view_.trackCount;
    std::vector<bool> ticked(static_cast<std::size_t>(tracks), false);
    if (o_.Tracks.empty()) {
      for (int i = 0; i < tracks; ++i) ticked[i] = album_.Tracks[i].AudioFlag != 0;
    } else {
      std::string error;
      auto list = ParseTrackList(o_.Tracks, tracks, &error);
      if (!list) {
        err_ << error << "\n";
        return 2;
      }
      for (int t : *list) {
        if (!album_.Tracks[t - 1].AudioFlag)
          return Fail("track " + std::to_string(t) + " is a data track");
        ticked[t - 1] = true;
      }
    }
    GrabSender sender = GrabSender::Mp3Menu;
    std::string format = o_.Format;
    if (format.empty()) {
      static const char* kKinds[] = {"wav", "mp3", "wma", "ogg"};
      format = kKinds[settings_.OutputKind < 4 ? settings_.OutputKind : 1];
    }
    if (format == "wav") sender = GrabSender::Wave;
    if (format == "ogg") sender = GrabSender::Ogg;
    if (format == "wma") sender = GrabSender::Wma;
    if (o_.OnTheFly) settings_.OnTheFlyEncoding = 1;
    // Scripts run unattended: nothing but the grab itself changes the machine.
    settings_.ShutdownAfterCopy = 0;

    std::unique_ptr<EncoderSet> encoder;
    EncoderRipAdapter encoderAdapter([&]() -> EncoderSet& {
      if (!encoder) encoder = std::make_unique<EncoderSet>(settings_, dialogs_);
      return *encoder;
    });
    TransportRipDrive drive(Active(), album_.FirstTrackOffset);
    CliRipHost host(out_, err_, album_, ticked);
    RipPipeline rip(host, drive, encoderAdapter, dialogs_, settings_, album_, tags_,
                    home_ + "TempFiles/");
    rip.GrabCommand(sender);
    if (host.EjectRequested()) StartStopUnit(Active(), true);
    // The copied marks are kept with the album, as the window keeps them.
    SaveAlbum(AlbumFolder(home_), album_, tags_);
    switch (rip.LastOutcome()) {
      case RipPipeline::Outcome::Done:
        return 0;
      case RipPipeline::Outcome::NotStarted:
        return Fail(dialogs_.LastProblem().empty() ? "nothing was ripped" : dialogs_.LastProblem());
      case RipPipeline::Outcome::Cancelled:
        return Fail("cancelled");
      case RipPipeline::Outcome::Failed:
        if (!host.MissingFolder().empty())
          return Fail("the output folder " + host.MissingFolder() + " does not exist");
        return Fail(rip.FailureText());
    }
    return 1;
  }

  const CliOptions& o_;
  std::ostream& out_;
  std::ostream& err_;
  const CliEnvironment& env_;
  ConsoleDialogs dialogs_;
  std::string home_;
  SettingsRecord settings_{};
  AlbumRecord album_{};
  TagBuffer tags_;
  std::unique_ptr<DeviceDirectory> directory_;
  std::unique_ptr<SptiTransport> spti_;
  std::unique_ptr<AspiTransport> aspi_;
  std::vector<DriveEntry> drives_;
  int driveIndex_ = 0;
  DiscView view_;
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
