#include "cli/CliCommands.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>

#include "accuraterip/AccurateRip.h"
#include "accuraterip/ArClient.h"
#include "cli/CliConvert.h"
#include "cli/CliOptions.h"
#include "cli/CliPlay.h"
#include "cli/CliRecord.h"
#include "recording/Recorder.h"
#include "drive/virtual/VirtualDrive.h"
#include "cli/CliVerify.h"
#include "drive/DeviceDirectory.h"
#include "records/TextFields.h"
#include "cli/CliProgress.h"
#include "session/ProgramFolders.h"
#include "rip/RipPipeline.h"
#include "session/Session.h"
#include "settings/ProgramOptionFields.h"
#include "settings/ProgramOptions.h"
#include "settings/SettingsFields.h"
#include "codec/FormatRegistry.h"
#include "drive/DriveCommands.h"
#include "metadata/CddbCommand.h"
#include "metadata/LookupSources.h"
#include "drive/CdText.h"
#include "platform/ConsoleDialogs.h"
#include "platform/Cp1251.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"

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

std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

std::string MsfText(Msf m) {
  char b[16];
  std::snprintf(b, sizeof b, "%02d:%02d:%02d", m.minute, m.second, m.frame);
  return b;
}

// The loop's host on a terminal: rows are the disc's tracks, ticked when
// chosen; progress goes to standard error, finished tracks to standard output.
class CliRipHost : public RipHost {
 public:
  CliRipHost(std::ostream& out, CliProgress& progress, const AlbumRecord& album,
             std::vector<bool> ticked)
      : out_(out), progress_(progress), album_(album), ticked_(std::move(ticked)) {
    progress_.SetFirstTrackNumber(TrackNumberOfRow(album_, 0));
  }
  int RowCount() override { return static_cast<int>(ticked_.size()); }
  bool RowTicked(int row) override { return ticked_[row]; }
  void SetRowTicked(int row, bool on) override { ticked_[row] = on; }
  void SetRowStatus(int row, const std::string& text) override {
    // A stopped rip says so in one line of its own (see Rip).
    if (gStopSignal != 0) return;
    progress_.Status(row, text);
  }
  bool Interrupted() override { return gStopSignal != 0; }
  void SetRowImage(int, int) override {}
  // The loop selects the row of the track it starts.
  void SelectRow(int row) override {
    progress_.Start(row, album_.Tracks[row].Size / 176400.0);
  }
  std::string RowCaption(int row) override {
    return texts_ ? TrackTitleText(album_, *texts_, row) : Cp1251ToUtf8(FieldText(album_.Tracks[row].Title));
  }
  // The full titles beside the album record.
  void SetTexts(const RecordTexts* texts) { texts_ = texts; }
  // Where the notices of the hidden track go (standard error), unless quiet.
  void SetNotices(std::ostream* err) { notices_ = err; }
  void HiddenTrackNotice(const std::string& text) override {
    if (!notices_) return;
    progress_.CloseLine();
    *notices_ << text << "\n" << std::flush;
  }
  // The hidden track is track 0: its line comes before the tracks'.
  void HiddenTrackDone(const std::string& path) override {
    out_ << 0 << "\t" << path << "\n" << std::flush;
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
    ++done_;
    if (verifying_) {
      pending_.emplace_back(row, path);
      return;
    }
    out_ << TrackNumberOfRow(album_, row) << "\t" << path << "\n" << std::flush;
  }
  void TrackVerified(int row, const std::string& path, std::uint32_t v1, std::uint32_t v2,
                     const std::string& word) override {
    std::erase_if(pending_, [&](const auto& p) { return p.first == row; });
    out_ << TrackNumberOfRow(album_, row) << "\t" << path << "\t" << ArHex(v1) << "\t" << ArHex(v2) << "\t" << word
         << "\n"
         << std::flush;
  }
  // With verification the line of a track is printed with its result.
  void SetVerifying(bool on) { verifying_ = on; }
  // The tracks the check did not reach keep their plain line.
  void FlushUnverified() {
    for (const auto& [row, path] : pending_) out_ << TrackNumberOfRow(album_, row) << "\t" << path << "\n";
    out_ << std::flush;
    pending_.clear();
  }
  int Done() const { return done_; }
  bool EjectRequested() const { return ejectRequested_; }
  const std::string& MissingFolder() const { return missingFolder_; }

 private:
  std::ostream& out_;
  CliProgress& progress_;
  const AlbumRecord& album_;
  const RecordTexts* texts_ = nullptr;
  std::vector<bool> ticked_;
  std::ostream* notices_ = nullptr;
  WindowState state_ = WindowState::Idle;
  int done_ = 0;
  bool verifying_ = false;
  std::vector<std::pair<int, std::string>> pending_;
  bool ejectRequested_ = false;
  std::string missingFolder_;
};

class Cli {
 public:
  Cli(const CliOptions& o, std::ostream& out, std::ostream& err, const CliEnvironment& env)
      : o_(o), out_(out), err_(err), env_(env), dialogs_() {
    // Messages and the command's own lines share standard error, in order.
    dialogs_.SetOutput([this](const std::string& line) {
      if (progress_) progress_->CloseLine();
      err_ << line << "\n" << std::flush;
    });
  }

  int Run() {
    // Where the state lives: --home is a portable folder; otherwise beside
    // the program when it runs portable, else the XDG folders.
    ProgramFolders folders;
    if (!o_.Home.empty()) {
      folders = PortableFolders(o_.Home);
      // libkelpra.so belongs to the program, not to the folder of its state.
      const std::string own = !env_.Folders.ExecutableFolder.empty() ? env_.Folders.ExecutableFolder
                                                                     : env_.ExecutableFolder;
      if (!own.empty()) folders.Library = PortableFolders(own).Library;
    } else if (!env_.Folders.ExecutableFolder.empty())
      folders = ChooseProgramFolders(env_.Folders);
    else
      folders = PortableFolders(env_.ExecutableFolder);
    // What runs that were killed left behind is cleared away; files that a
    // running writer holds stay.
    if (!folders.Portable)
      RemoveStaleRunFolders(folders.Cache);
    else
      RemoveStaleTemporaryFiles(folders.Temp);
    SessionContext context;
    FillSessionContext(folders, context);
    context.DialogService = &dialogs_;
    context.ScanSystemDrives = env_.ScanSystemDrives;
    context.Devices = env_.Devices;
    context.Images = o_.Images;
    session_ = std::make_unique<Session>(context);
    if (!session_->StartError().empty()) return Fail(session_->StartError());
    if (int status = LoadProfile(); status != 0) return status;
    if (o_.Verbosity > 0) SayFiles(folders);
    if (o_.Command == "settings") return Settings();
    const auto& drives = session_->Drives();
    // Drives that could not be opened (no permission...) are named once.
    if (o_.Command != "convert" && o_.Command != "verify") {
      const std::string problems = session_->Directory().ProblemsMessage();
      if (!problems.empty() && o_.Verbosity >= 0) err_ << problems << "\n";
    }

    if (o_.Command == "drives") return Drives();
    const ProgressMode mode{o_.Verbosity, env_.ErrIsTerminal};
    if (o_.Command == "convert")
      return RunConvertCommand(*session_, o_.Arguments, out_, err_, session_->LibraryFolder(), mode);
    if (o_.Command == "verify") return RunVerifyCommand(*session_, o_.Arguments, out_, err_);
    if (o_.Command == "burn") return RunBurnCommand(*session_, o_.Arguments, out_, err_, mode);
    if (o_.Command == "blank") return RunBlankCommand(*session_, o_.Arguments, out_, err_, mode);
    if (o_.Command == "play" && !o_.Arguments.empty()) {
      PlayRequest request;
      request.file = o_.Arguments[0];
      return RunPlayCommand(*session_, request, out_, err_);
    }
    // The one-run overrides of a rip are checked before any drive is asked:
    // a value the settings refuse is a usage error.
    if (o_.Command == "rip")
      if (int status = ApplyOverrides(session_->Settings(), static_cast<int>(RipKind())); status != 0)
        return status;
    const int stored = session_->Settings().DriveIndex;
    int drive = o_.Drive ? *o_.Drive : stored;
    if (drive < 0 || drive >= static_cast<int>(drives.size()))
      return Fail(drives.empty() ? std::string("Приводы не найдены.")
                                 : "Нет привода с номером " + std::to_string(drive) + " (приводов: " +
                                       std::to_string(drives.size()) + "; их номера выводит команда drives).");
    if (o_.Command == "play") {
      PlayRequest request;
      request.drive = drive;
      request.track = o_.Track.value_or(0);
      return RunPlayCommand(*session_, request, out_, err_);
    }
    if (o_.Command == "offset") return Offset(drive);
    if (!session_->ReadDisc(drive).present)
      return Fail("В приводе " + std::to_string(drive) + " нет диска.");
    if (o_.Command == "toc") return Toc();
    if (o_.Command == "cddb") return Cddb();
    if (o_.Command == "lookup") return Lookup();
    return Rip();
  }

 private:
  int Fail(const std::string& reason) {
    err_ << reason << "\n";
    return 1;
  }

  // The active profile's settings, or those of --profile.
  int LoadProfile() {
    ProfileList& profiles = session_->Profiles();
    profiles.Load(session_->SettingFolder());
    settingsFile_ = profiles.ActiveFileName();
    if (o_.Profile) {
      std::string names;
      settingsFile_.clear();
      for (int k = 0; k < profiles.ProfileCount(); ++k) {
        if (!ProfileList::IsUsableFileName(profiles.FileName(k))) continue;
        const std::string caption = ProfileList::LineText(profiles.Caption(k));
        if (caption == *o_.Profile) settingsFile_ = profiles.DiskFileName(k);
        names += (names.empty() ? "" : ", ") + caption;
      }
      if (settingsFile_.empty())
        return Fail("Нет профиля '" + *o_.Profile + "' в " + session_->SettingFolder() +
                    "prof.lst" +
                    (names.empty() ? std::string(": профилей нет.") : "; профили: " + names + "."));
    }
    session_->LoadSettings(settingsFile_);
    return 0;
  }

  // offset | offset set SAMPLES: the drive's read offset.
  int Offset(int drive) {
    const std::string& name = session_->Drives()[static_cast<std::size_t>(drive)].name;
    if (o_.Arguments.empty()) {
      out_ << session_->Options().ReadOffsetOf(name) << "\t" << name << "\n";
      return 0;
    }
    if (o_.Arguments[0] == "find") return FindOffset(drive);
    const int samples = std::stoi(o_.Arguments[1]);
    if (!session_->ChangeOptions([&](ProgramOptions& o) { o.ReadOffsets[name] = samples; }))
      return Fail("Не удалось сохранить смещение чтения в " + session_->SettingFolder() +
                  "sonarvex.ini.");
    out_ << samples << "\t" << name << "\n";
    return 0;
  }

  // offset find [--store]: the offset from a disc the AccurateRip database
  // knows; stored with --store, or when the user says so on a terminal.
  int FindOffset(int drive) {
    if (!o_.ArServer.empty()) {
      ArServer server;
      if (!ParseArServer(o_.ArServer, server)) {
        err_ << "--accuraterip: неверный сервер '" << o_.ArServer << "' (HOST или HOST:PORT)\n";
        return 2;
      }
    }
    StopSignals signals;
    if (o_.Verbosity >= 0) err_ << "Определение смещения чтения привода " << drive << "...\n" << std::flush;
    const Session::OffsetResult r = session_->FindReadOffset(
        drive, o_.ArServer, [] { return gStopSignal == 0; },
        [this](const std::string& what) {
          if (o_.Verbosity > 0) err_ << what << "\n" << std::flush;
        });
    if (r.outcome != Session::OffsetResult::Outcome::Found) return Fail(r.message);
    out_ << r.offset << "\t" << r.driveName << "\n" << std::flush;
    if (o_.Verbosity >= 0) err_ << r.message << "\n";
    const std::string& name = session_->Drives()[static_cast<std::size_t>(drive)].name;
    bool store = o_.Store;
    if (!store && env_.InIsTerminal) {
      std::istream& in = env_.In ? *env_.In : std::cin;
      err_ << "Сохранить смещение " << (r.offset > 0 ? "+" : "") << r.offset << " для этого привода? [y/N] "
           << std::flush;
      std::string answer;
      std::getline(in, answer);
      store = !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y' || answer == "д" || answer == "Д" ||
                                  answer.rfind("да", 0) == 0 || answer.rfind("Да", 0) == 0);
    }
    if (!store) {
      if (o_.Verbosity >= 0 && !env_.InIsTerminal)
        err_ << "Смещение не сохранено (сохраняет его --store).\n";
      return 0;
    }
    if (!session_->ChangeOptions([&](ProgramOptions& o) { o.ReadOffsets[name] = r.offset; }))
      return Fail("Не удалось сохранить смещение чтения в " + session_->SettingFolder() + "sonarvex.ini.");
    if (o_.Verbosity >= 0) err_ << "Смещение сохранено.\n";
    return 0;
  }

  // settings show | settings set FIELD=VALUE...: the fields of the settings
  // record and, under dotted names, the options of sonarvex.ini.
  int Settings() {
    SettingsRecord& settings = session_->Settings();
    const std::vector<std::string> driveNames = session_->DriveNames();
    if (o_.Arguments[0] == "show") {
      for (auto [name, value] : SettingsFieldValues(settings)) {
        // Texts kept whole beside the record are shown whole.
        if (name == "OutputFolder")
          value = SettingsText(settings, session_->SettingsTexts(), SettingsField::OutputFolder);
        out_ << name << "=" << value << "\n";
      }
      for (const auto& [name, value] : ProgramOptionValues(session_->Options(), driveNames))
        out_ << name << "=" << value << "\n";
      return 0;
    }
    std::vector<std::string> assignments, iniAssignments;
    for (auto a = o_.Arguments.begin() + 1; a != o_.Arguments.end(); ++a)
      (IsProgramOptionAssignment(*a) ? iniAssignments : assignments).push_back(*a);
    // Every value is checked before anything is written.
    if (!iniAssignments.empty()) {
      ProgramOptions options = session_->Options();
      if (auto refused = SetProgramOptionFields(options, iniAssignments, driveNames))
        return Fail(*refused + " Настройки не изменены.");
    }
    if (!assignments.empty()) {
      SettingsLimits limits;
      limits.DriveCount = static_cast<int>(session_->Drives().size());
      for (const auto& a : assignments)
        if (a.rfind("AcmFormatIndex=", 0) == 0)
          limits.AcmFormatCount = static_cast<int>(session_->AcmFormatDescriptions().size());
      if (auto refused =
              SetSettingsFields(settings, assignments, limits, &session_->SettingsTexts()))
        return Fail(*refused + " Настройки не изменены.");
      // The store says what failed, naming the file and the reason.
      if (!session_->SaveSettings(settingsFile_)) return 1;
      if (o_.Verbosity > 0)
        err_ << "Сохранено в " << session_->SettingFolder() << settingsFile_ << "\n";
    }
    if (!iniAssignments.empty()) {
      const bool saved = session_->ChangeOptions([&](ProgramOptions& options) {
        SetProgramOptionFields(options, iniAssignments, driveNames);
      });
      if (!saved)
        return Fail("Не удалось сохранить настройки в " + session_->SettingFolder() +
                    "sonarvex.ini.");
      if (o_.Verbosity > 0)
        err_ << "Сохранено в " << session_->SettingFolder() << "sonarvex.ini\n";
    }
    return 0;
  }

  // The one-run overrides of the settings for a rip of `kind`. A value the
  // settings refuse is a usage error (2); the --out folder is kept for the
  // rip to make when it starts.
  int ApplyOverrides(SettingsRecord& settings, int kind) {
    auto usage = [this](const std::string& line) {
      err_ << line << "\n";
      return 2;
    };
    std::string folder;
    if (o_.Out) {
      folder = *o_.Out;
      if (folder.front() != '/') {
        std::error_code ec;
        folder = (std::filesystem::current_path(ec) / folder).lexically_normal().string();
      }
      if (auto refused = OverrideOutputFolder(settings, folder, &session_->SettingsTexts()))
        return usage("--out " + *o_.Out + ": " + *refused);
    }
    if (o_.Name) {
      if (auto refused = OverrideNameFormat(settings, *o_.Name))
        return usage("--name " + *o_.Name + ": " + *refused);
    }
    if (o_.Bitrate) {
      if (auto refused = OverrideBitrate(settings, kind, *o_.Bitrate, &runFormatOptions_))
        return usage("--bitrate " + std::to_string(*o_.Bitrate) + ": " + *refused);
    }
    if (o_.Vbr) {
      if (auto refused = OverrideVbr(settings, kind, *o_.Vbr))
        return usage("--vbr " + std::to_string(*o_.Vbr) + ": " + *refused);
    }
    if (o_.OggQuality) {
      if (auto refused = OverrideOggQuality(settings, kind, *o_.OggQuality))
        return usage("--ogg-quality: " + *refused);
    }
    // The folder is made when the rip starts (Rip).
    outFolder_ = folder;
    return 0;
  }

  // drives: INDEX TAB KIND TAB NAME TAB writes|reads, KIND being drive,
  // software-drive or software-recorder.
  int Drives() {
    const auto& drives = session_->Drives();
    const auto& software = session_->Directory().VirtualDrives();
    const std::size_t firstSoftware =
        drives.size() >= software.size() ? drives.size() - software.size() : drives.size();
    std::vector<bool> writes(drives.size(), false);
    {
      ConsoleDialogs quiet;
      quiet.SetOutput([](const std::string&) {});
      Recorder rec(session_->Spti(), session_->Aspi(), quiet);
      rec.Create();
      for (std::size_t k = 0; k < drives.size(); ++k) {
        const Recorder::Drive* d = RecorderDriveOf(rec, *session_, static_cast<int>(k));
        writes[k] = d != nullptr && d->CanWriteCdr();
      }
      rec.Destroy();
    }
    for (std::size_t k = 0; k < drives.size(); ++k) {
      const char* kind = "drive";
      if (k >= firstSoftware)
        kind = !software[k - firstSoftware]->BurnTarget().empty() ? "software-recorder" : "software-drive";
      out_ << k << "\t" << kind << "\t" << TrimmedDriveName(drives[k].name) << "\t"
           << (writes[k] ? "writes" : "reads") << "\n";
    }
    return 0;
  }

  // -v: every file and folder of the program in the mode it runs in.
  void SayFiles(const ProgramFolders& folders) {
    const std::string setting = session_->SettingFolder();
    err_ << "Режим: " << (folders.Portable ? "переносной (всё в папке программы)" : "установленный (папки XDG)")
         << "\n"
         << "Настройки: " << setting << settingsFile_ << "\n"
         << "Параметры: " << setting << "sonarvex.ini\n"
         << "Профили: " << setting << "prof.lst\n"
         << "Программные приводы: " << setting << "vdrives.lst\n"
         << "Расширения поиска: " << setting << "ext.dat\n"
         << "Настройки записи: " << setting << "wset.dat\n"
         << "Положение окна: " << setting << "placement.ini\n"
         << "База альбомов: " << session_->AlbumFolder() << "\n"
         << "Временные файлы: " << session_->TempFolder() << "\n"
         << "Библиотека декодера: " << session_->LibraryFolder() << "libkelpra.so\n";
  }

  // The table of contents as the drive reports it (the identifier is computed
  // from the same addresses), then the disc's CD-Text when it carries some:
  // "cdtext TAB album|NUMBER TAB title|performer TAB TEXT", one line a text
  // given, the album's first, then the tracks' in order (control characters
  // of a text, tabs among them, printed as "?"). A disc without CD-Text, or
  // a drive that cannot read it, prints the table alone.
  int Toc() {
    const DiscView& view = session_->View();
    const AlbumRecord& album = session_->Album();
    char id[16];
    std::snprintf(id, sizeof id, "%08x", view.discId);
    out_ << id << "\n";
    const DiscToc& toc = view.toc;
    for (int i = 0; i < view.trackCount && i < toc.TrackCount(); ++i) {
      const TocTrack& t = toc.tracks[static_cast<std::size_t>(i)];
      out_ << TrackNumberOfRow(album, i) << "\t" << MsfText(FramesToMsf(t.Frames())) << "\t"
           << MsfText(FramesToMsf(t.lengthFrames)) << "\t" << t.startLba << "\t"
           << (album.Tracks[i].AudioFlag ? "audio" : "data") << "\n";
    }
    out_ << "leadout\t" << MsfText(FramesToMsf(toc.leadOut.Frames())) << "\n";
    if (const auto text = session_->ReadCdTextOfCurrent(); text && !text->Empty()) {
      auto line = [this](const std::string& who, const char* what, const std::string& value) {
        if (!value.empty()) out_ << "cdtext\t" << who << "\t" << what << "\t" << TerminalSafeText(value) << "\n";
      };
      line("album", "title", text->title);
      line("album", "performer", text->performer);
      for (const CdTextTrack& t : text->tracks) {
        line(std::to_string(t.number), "title", t.title);
        line(std::to_string(t.number), "performer", t.performer);
      }
    }
    return 0;
  }

  int Cddb() {
    const DiscView& view = session_->View();
    CddbCommandOptions options;
    options.match = o_.Match;
    options.toc = &view.toc;
    // The titles in full, and the server and proxy texts as the user gave them.
    options.albumTexts = &session_->AlbumTexts();
    options.settingsTexts = &session_->SettingsTexts();
    CddbCommandResult r = RunCddbCommand(session_->Settings(), session_->Album(),
                                         session_->Tags(), session_->AlbumFolder(), options);
    return Report(r);
  }

  // One source's lookup of the current disc into album, tags and texts.
  CddbCommandResult LookupIn(const std::string& source, AlbumRecord& album, TagBuffer& tags,
                             RecordTexts& texts, bool store) {
    const DiscView& view = session_->View();
    if (source == "cddb") {
      CddbCommandOptions options;
      options.match = o_.Match;
      options.toc = &view.toc;
      options.albumTexts = &texts;
      options.settingsTexts = &session_->SettingsTexts();
      options.store = store;
      return RunCddbCommand(session_->Settings(), album, tags, session_->AlbumFolder(), options);
    }
    if (source == "cdtext") {
      CdTextCommandOptions options;
      options.read = [this] { return session_->ReadCdTextOfCurrent(); };
      options.albumTexts = &texts;
      options.store = store;
      return RunCdTextCommand(session_->Settings(), album, tags, session_->AlbumFolder(), options);
    }
    const LookupSourceOptions sources = session_->LookupSources();
    MusicBrainzCommandOptions mb;
    mb.server = sources.musicBrainzServer;
    mb.release = o_.Release;
    mb.toc = &view.toc;
    mb.albumTexts = &texts;
    mb.proxy = sources.proxy;
    mb.store = store;
    return RunMusicBrainzCommand(session_->Settings(), album, tags, session_->AlbumFolder(), mb);
  }

  int Lookup() {
    // --release names a MusicBrainz release.
    const std::string source = !o_.Source.empty() ? o_.Source : !o_.Release.empty() ? "musicbrainz" : "";
    if (!source.empty()) {
      CddbCommandResult r =
          LookupIn(source, session_->Album(), session_->Tags(), session_->AlbumTexts(), true);
      if (!r.notice.empty()) err_ << TerminalSafeLines(r.notice) << "\n";
      return Report(r);
    }
    // Every source, one block each, read without storing; the first that
    // knows the disc is stored.
    const LookupSourceOptions sources = session_->LookupSources();
    std::vector<std::pair<std::string, std::string>> asked;  // name, --source word
    if (sources.musicBrainz) asked.emplace_back("MusicBrainz", "musicbrainz");
    if (sources.cddb) asked.emplace_back("CDDB", "cddb");
    asked.emplace_back("CD-Text", "cdtext");
    const AlbumRecord album = session_->Album();
    const TagBuffer tags = session_->Tags();
    const RecordTexts texts = session_->AlbumTexts();
    bool stored = false;
    for (std::size_t k = 0; k < asked.size(); ++k) {
      AlbumRecord a = album;
      TagBuffer t = tags;
      RecordTexts x = texts;
      const CddbCommandResult r = LookupIn(asked[k].second, a, t, x, false);
      out_ << (k ? "\n" : "") << "[" << asked[k].first << "]\n";
      if (!r.ok) {
        std::string reason = !r.failure.empty() ? r.failure
                             : r.messages.empty() ? std::string("нет сведений о диске")
                                                  : r.messages.back();
        out_ << "# " << TerminalSafeText(OneLine(reason)) << "\n";
        continue;
      }
      for (const auto& line : CddbCommandLines(r)) out_ << line << "\n";
      if (!r.notice.empty()) err_ << TerminalSafeLines(r.notice) << "\n";
      if (stored) continue;
      session_->Album() = a;
      session_->Tags() = t;
      session_->AlbumTexts() = x;
      session_->SaveCurrentAlbum();
      stored = true;
    }
    if (!stored) return Fail("Сведения о диске не найдены.");
    return 0;
  }

  // Prints what a lookup found, or says why it failed.
  int Report(const CddbCommandResult& r) {
    if (!r.ok) {
      // Read but not stored: what was found is still shown.
      if (r.outcome == LookupOutcome::Done)
        for (const auto& line : CddbCommandLines(r)) out_ << line << "\n";
      std::string reason = !r.failure.empty()    ? r.failure
                           : r.messages.empty() ? std::string("lookup failed")
                                                : r.messages.back();
      for (char& c : reason)
        if (c == '\n') c = ' ';
      return Fail(TerminalSafeText(reason));
    }
    for (const auto& line : CddbCommandLines(r)) out_ << line << "\n";
    return 0;
  }

  // Each line of a text made safe for a terminal, the line breaks kept.
  static std::string TerminalSafeLines(const std::string& text) {
    std::string out;
    std::size_t start = 0;
    for (;;) {
      const std::size_t end = text.find('\n', start);
      out += TerminalSafeText(text.substr(start, end == std::string::npos ? end : end - start));
      if (end == std::string::npos) return out;
      out += '\n';
      start = end + 1;
    }
  }

  // The format of a rip: the one named (the options allow known names
  // only), else [Rip] Format of sonarvex.ini, else the settings' kind; a
  // stored value the record cannot hold means MP3, the record's default.
  OutputKind RipKind() {
    const SettingsRecord& settings = session_->Settings();
    if (const OutputFormat* named = FindFormatByName(o_.Format)) return named->kind;
    if (const OutputFormat* stored = FindFormatByName(session_->Options().RipFormat)) return stored->kind;
    if (const OutputKind stored = OutputKindFromRecord(settings.OutputKind);
        static_cast<std::uint8_t>(stored) == settings.OutputKind)
      return stored;
    return OutputKind::Mp3;
  }

  int Rip() {
    // A disc the album database does not know is looked up first, so that
    // the files are named from its titles; a failure is a line, not a stop.
    if (!o_.NoLookup && env_.AutoLookup) {
      const AutoLookupResult looked = session_->AutoLookup();
      if (!looked.notice.empty()) err_ << TerminalSafeText(looked.notice) << "\n";
      else if (looked.applied && o_.Verbosity > 0)
        err_ << "Названия диска взяты из " << looked.source << ".\n";
      // The first of several was taken: how another one is chosen.
      if (looked.applied && looked.matches.size() > 1)
        err_ << (looked.source == "MusicBrainz"
                     ? "Другой релиз выбирается командой lookup --release MBID (список: lookup --source musicbrainz).\n"
                     : "Другое совпадение выбирается командой lookup --source cddb --match K.\n");
    }
    SettingsRecord& settings = session_->Settings();
    const AlbumRecord& album = session_->Album();
    const int tracks = session_->View().trackCount;
    std::vector<bool> ticked(static_cast<std::size_t>(tracks), false);
    if (o_.Tracks.empty()) {
      for (int i = 0; i < tracks; ++i) ticked[i] = album.Tracks[i].AudioFlag != 0;
    } else {
      std::string error;
      // The disc's own numbers: a disc numbered from 4 has tracks 4, 5, ...
      const int first = TrackNumberOfRow(album, 0);
      auto list = ParseTrackList(o_.Tracks, first, first + tracks - 1, &error);
      if (!list) {
        err_ << "--tracks: " << error << "\n";
        return 2;
      }
      for (int t : *list) {
        if (!album.Tracks[t - first].AudioFlag)
          return Fail("Дорожка " + std::to_string(t) + " содержит данные, а не звук.");
        ticked[static_cast<std::size_t>(t - first)] = true;
      }
    }
    const OutputKind kind = RipKind();
    // The grab menu's command of the format: the MP3 button's Ogg choice does
    // not apply.
    const GrabSender sender{kind};
    // A folder named on the command line is made when it is missing.
    if (!outFolder_.empty() && !MakeDirectories(outFolder_))
      return Fail("Не удалось создать папку '" + outFolder_ + "': " + std::strerror(errno) + ".");
    // These two changes live in memory only: the command line never saves
    // the settings.
    if (o_.OnTheFly) settings.OnTheFlyEncoding = 1;
    // Scripts run unattended: nothing but the grab itself changes the machine.
    settings.ShutdownAfterCopy = 0;

    progress_ = std::make_unique<CliProgress>(err_, env_.ErrIsTerminal, o_.Verbosity);
    CliRipHost host(out_, *progress_, album, ticked);
    host.SetTexts(&session_->AlbumTexts());
    if (o_.Verbosity >= 0) host.SetNotices(&err_);
    Session::RipResult result;
    int stopSignal = 0;
    {
      StopSignals signals;
      Session::RipChoices choices;
      choices.workers = o_.Jobs.value_or(-1);
      choices.verify = o_.Verify;
      choices.formatValues = runFormatOptions_.values;
      choices.secure = o_.Secure;
      if (o_.TestAndCopy) choices.testAndCopy = true;
      // Unattended, a file already there is kept unless --overwrite says otherwise.
      choices.existing = o_.Overwrite ? RipPipeline::ExistingFiles::Replace
                                      : RipPipeline::ExistingFiles::Number;
      if (!o_.ArServer.empty()) {
        choices.arServer = o_.ArServer;
        // Naming a server asks for the check unless --no-verify says otherwise.
        if (!choices.verify) choices.verify = true;
      }
      // With the check, a track's line waits for its result.
      host.SetVerifying(choices.verify.value_or(!session_->Options().ArServer.empty()));
      result = session_->Rip(sender, host, choices);
      stopSignal = gStopSignal;
    }
    if (stopSignal != 0) {
      // The loop has deleted the track it was writing; the temporary folder
      // goes with the session when it is empty.
      session_->SaveCurrentAlbum();
      progress_->CloseLine();
      err_ << "Копирование прервано сигналом " << (stopSignal == SIGINT ? "SIGINT" : "SIGTERM")
           << ": незаконченный файл удалён, готовые дорожки сохранены.\n";
      return 128 + stopSignal;
    }
    if (host.EjectRequested()) StartStopUnit(session_->CurrentTransport(), true);
    // The copied marks are kept with the album, as the window keeps them.
    session_->SaveCurrentAlbum();
    // Lines of tracks that were copied but could not be checked.
    host.FlushUnverified();
    switch (result.outcome) {
      case RipPipeline::Outcome::Done:
        if (!result.verifyFailure.empty()) {
          // The loop has said why (one line through the console dialogs).
          if (dialogs_.LastProblem().find(OneLine(result.verifyFailure)) != std::string::npos)
            return 1;
          return Fail("AccurateRip: " + result.verifyFailure);
        }
        if (result.mismatch) return Fail("AccurateRip: не все дорожки совпадают с базой.");
        return 0;
      case RipPipeline::Outcome::NotStarted:
        // The loop has said why (one line through the console dialogs).
        if (!dialogs_.LastProblem().empty()) return 1;
        return Fail("Ничего не скопировано.");
      case RipPipeline::Outcome::Cancelled:
        return Fail("Копирование отменено.");
      case RipPipeline::Outcome::Failed:
        if (!host.MissingFolder().empty())
          return Fail("Папки вывода '" + host.MissingFolder() + "' нет: укажите существующую папку (--out DIR создаёт её).");
        // The loop has shown its failure already (one line through the
        // console dialogs); it is not said twice.
        if (!result.failure.empty() && dialogs_.LastProblem() == OneLine(result.failure)) return 1;
        return Fail(result.failure);
    }
    return 1;
  }

  const CliOptions& o_;
  std::ostream& out_;
  std::ostream& err_;
  const CliEnvironment& env_;
  ConsoleDialogs dialogs_;
  // Declared before the session: what the session says at its end still
  // finds it.
  std::unique_ptr<CliProgress> progress_;  // while a rip runs
  std::unique_ptr<Session> session_;
  std::string settingsFile_;  // the settings file in use (set.dat or a profile)
  // The formats' options this run overrides (Opus's bitrate), never saved.
  FormatOptions runFormatOptions_;
  std::string outFolder_;     // rip --out, made when the rip starts
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
  // Help and version need no settings, drives or folders.
  if (options->Command == "help") {
    out << CliHelp(options->Arguments.empty() ? std::string() : options->Arguments[0]);
    return 0;
  }
  if (options->Command == "version") {
    out << "sonarvex-cli " << kProgramVersion << "\n";
    return 0;
  }
  Cli cli(*options, out, err, env);
  return cli.Run();
}

}  // namespace sonarvex
