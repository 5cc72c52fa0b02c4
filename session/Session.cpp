#include "session/Session.h"

#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <cstring>

#include "rip/EncoderRipAdapter.h"
#include "rip/OutputNaming.h"
#include "session/ProgramFolders.h"
#include "rip/TransportRipDrive.h"
#include "rip/RipReport.h"
#include "platform/Version.h"
#include "drive/CommandBlock.h"
#include "accuraterip/ArClient.h"
#include "accuraterip/OffsetFinder.h"
#include "drive/AudioReading.h"
#include "drive/CapabilityReport.h"
#include "drive/DiscExtras.h"
#include "codec/EncoderSet.h"
#include "codec/FormatRegistry.h"
#include "drive/AspiTransport.h"
#include "drive/DeviceDirectory.h"
#include "drive/DriveCommands.h"
#include "drive/SptiTransport.h"
#include "drive/virtual/VirtualDrive.h"
#include "drive/virtual/VirtualDriveList.h"
#include "metadata/AlbumCover.h"
#include "metadata/AlbumDatabase.h"
#include "metadata/CoverArtClient.h"
#include "drive/CdText.h"
#include "metadata/LookupSources.h"
#include "metadata/DiscId.h"
#include "platform/Cp1251.h"
#include "records/TextFields.h"
#include "platform/Files.h"
#include "platform/IniStore.h"
#include "settings/ProgramOptions.h"
#include "playback/CdMixer.h"
#include "playback/MediaPlayer.h"
#include "playback/NHandler.h"
#include "playback/PcmOutput.h"
#include "platform/Shell.h"
#include "platform/System.h"
#include "platform/XdgAssociations.h"

namespace sonarvex {
namespace {

std::vector<std::string> ReadExtensions(const std::string& file) {
  std::vector<std::string> list;
  auto ext = ReadFileBytes(file, 1 << 20);
  if (!ext) return list;
  std::size_t pos = 0;
  while (pos < ext->size()) {
    auto nl = ext->find('\n', pos);
    std::string line = ext->substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) list.push_back(line);
    pos = nl == std::string::npos ? ext->size() : nl + 1;
  }
  return list;
}

}  // namespace

Session::Session(const SessionContext& context)
    : context_(context),
      dialogs_(*context.DialogService),
      store_(context.ProgramFolder, *context.DialogService, context.SettingFolder) {
  if (context_.ProgramFolder.empty() || context_.ProgramFolder.back() != '/')
    context_.ProgramFolder += '/';
  auto folder = [](const std::string& given, const std::string& own) {
    if (given.empty()) return own;
    return given.back() == '/' ? given : given + '/';
  };
  albumFolder_ = folder(context_.AlbumFolder, sonarvex::AlbumFolder(context_.ProgramFolder));
  MigrateAlbumFolder(albumFolder_);
  tempFolder_ = folder(context_.TempFolder, context_.ProgramFolder + "TempFiles/");
  libraryFolder_ = folder(context_.LibraryFolder, context_.ProgramFolder);
  std::memset(&album_, 0, sizeof album_);
  std::memset(&settings_, 0, sizeof settings_);

  directory_ = std::make_unique<DeviceDirectory>(context_.ScanSystemDrives, context_.Devices);
  if (context_.SettingFolder.empty())
    LoadVirtualDrives(context_.ProgramFolder, *directory_, dialogs_);
  else
    LoadVirtualDriveList(store_.SettingFolder() + "vdrives.lst", store_.SettingFolder(),
                         *directory_, dialogs_);
  for (const auto& image : context_.Images) {
    std::string error;
    auto drive = VirtualDrive::FromCueImage(image, &error);
    // An image named on the command line must load now: a drive without its
    // disc would only say "no disc" later.
    if (!drive || !error.empty()) {
      if (error.empty()) error = "the image could not be read";
      if (startError_.empty()) startError_ = "Не удалось подключить образ диска " + image + ": " + error;
      continue;
    }
    directory_->AddVirtual(drive);
  }
  spti_ = std::make_unique<SptiTransport>(*directory_);
  aspi_ = std::make_unique<AspiTransport>(*directory_);
  ChooseTransportAtStartup(*aspi_, dialogs_, flags_, settings_.UseSpti);

  power_ = context_.Power ? context_.Power : std::make_shared<SystemPowerControl>();
  extensions_ = ReadExtensions(store_.SettingFolder() + "ext.dat");
  ReloadArtists();
}

Session::~Session() { Shutdown(); }

void Session::LoadSettings(const std::string& fileName) {
  store_.LoadRecord(fileName, settings_, &settingsTexts_);
  // The base of later merges is the file as it lies on disk, before the
  // loader's defaults: a field the loader filled in counts as this
  // session's own value.
  settingsFile_ = fileName;
  settingsOnDisk_ = settings_;
  settingsTextsOnDisk_ = ValidSettingsTexts(settings_, settingsTexts_);
  const std::string path = store_.SettingFolder() + fileName;
  if (const auto bytes = ReadFileBytes(path, sizeof(SettingsRecord) + 1);
      bytes && bytes->size() == sizeof(SettingsRecord)) {
    std::memcpy(&settingsOnDisk_, bytes->data(), sizeof settingsOnDisk_);
    settingsTextsOnDisk_ = ValidSettingsTexts(settingsOnDisk_, ReadCompanion(path));
  }
  playerPath_.clear();
  if (context_.Xdg) playerPath_ = context_.Xdg->Mp3PlayerPath();
  // Without an associated player, a well-known one that is installed.
  for (const char* known : {"vlc", "mpv", "audacious", "rhythmbox", "totem", "celluloid",
                            "smplayer", "mplayer"}) {
    if (!playerPath_.empty()) break;
    playerPath_ = FindInPath(known);
  }
  ChooseTransport();
  RebuildDriveList();
}

void Session::LoadActiveProfile() {
  profiles_.Load(store_.SettingFolder());
  LoadSettings(profiles_.ActiveFileName());
}

int Session::TakeSettingsChangedOnDisk() {
  if (settingsFile_.empty()) return 0;
  const std::string path = store_.SettingFolder() + settingsFile_;
  const auto bytes = ReadFileBytes(path, sizeof(SettingsRecord) + 1);
  // Only a whole record counts: a file being replaced or cut short is not a
  // change somebody made.
  if (!bytes || bytes->size() != sizeof(SettingsRecord)) return 0;
  SettingsRecord theirs;
  std::memcpy(&theirs, bytes->data(), sizeof theirs);
  const RecordTexts theirsTexts = ValidSettingsTexts(theirs, ReadCompanion(path));
  if (std::memcmp(&theirs, &settingsOnDisk_, sizeof theirs) == 0 &&
      theirsTexts == settingsTextsOnDisk_)
    return 0;
  const int taken = MergeSettings(settingsOnDisk_, settingsTextsOnDisk_, settings_, settingsTexts_,
                                  theirs, theirsTexts);
  settingsOnDisk_ = theirs;
  settingsTextsOnDisk_ = theirsTexts;
  return taken;
}

bool Session::SaveSettings(const std::string& fileName) {
  if (context_.Xdg)
    store_.ApplyCdPlayerAssociation(settings_.CdPlayerAssociation != 0, context_.ProgramPath,
                                    *context_.Xdg);
  if (store_.EnsureSettingFolder()) profiles_.Save(store_.SettingFolder());
  // What another program stored in the same file meanwhile is not written over.
  if (fileName == settingsFile_) TakeSettingsChangedOnDisk();
  if (!store_.SaveRecord(fileName, settings_, &settingsTexts_)) return false;
  settingsFile_ = fileName;
  settingsOnDisk_ = settings_;
  settingsTextsOnDisk_ = ValidSettingsTexts(settings_, settingsTexts_);
  return true;
}

Transport& Session::CurrentTransport() { return ActiveTransport(*spti_, *aspi_, settings_.UseSpti); }

void Session::ChooseTransport() { ChooseTransportAfterSettings(*spti_, flags_, settings_.UseSpti); }

const std::vector<DriveEntry>& Session::RebuildDriveList() {
  int index = settings_.DriveIndex;
  drives_ = BuildDriveList(CurrentTransport(), settings_.DriveTypes, index);
  settings_.DriveIndex = static_cast<std::uint8_t>(index < 0 ? 0 : index);
  return drives_;
}

const DiscView& Session::ReadDisc(int drive, bool saveFirst) {
  // The disc being left keeps its titles, tags and copied marks.
  if (saveFirst) SaveCurrentAlbum();
  std::memset(&album_, 0, sizeof album_);
  albumTexts_.Clear();
  tags_.Clear();
  view_ = DiscView();
  discDrive_ = -1;
  const int index = drive >= 0 ? drive : settings_.DriveIndex;
  if (index < static_cast<int>(drives_.size())) {
    discDrive_ = index;
    const std::uint8_t type = settings_.DriveTypes[index < 16 ? index : 0];
    view_ = sonarvex::ReadDisc(CurrentTransport(), drives_[index].device, type, dialogs_, album_,
                               [this](std::uint32_t id, AlbumRecord& a) {
                                 return LoadAlbum(albumFolder_, SignedDiscId(id), a, tags_,
                                                  &albumTexts_);
                               });
    // An album the read refused (stored for another table) leaves nothing.
    if (!view_.known) {
      tags_.Clear();
      albumTexts_.Clear();
    }
    // The rows show the titles in full.
    for (std::size_t i = 0; i < view_.rows.size(); ++i)
      if (view_.rows[i].audio)
        view_.rows[i].caption = TrackTitleText(album_, albumTexts_, static_cast<int>(i));
  }
  return view_;
}

void Session::SaveCurrentAlbum() {
  if (!view_.present) return;
  const std::size_t before = artists_.size();
  SaveAlbum(albumFolder_, album_, tags_, &artists_, &albumTexts_);
  if (artists_.size() != before) SortArtists();
}

void Session::ReloadArtists() {
  artists_ = CollectArtists(albumFolder_);
  SortArtists();
}

void Session::SortArtists() {
  // Code point order (UTF-8 bytes compare that way), without regard to case
  // for the Latin and Cyrillic letters.
  auto key = [](const std::string& s) { return Cp1251Lower(Utf8ToCp1251(s)); };
  std::stable_sort(artists_.begin(), artists_.end(), [&](const std::string& a, const std::string& b) {
    std::string ka = key(a), kb = key(b);
    return ka != kb ? Cp1251ToUtf8(ka) < Cp1251ToUtf8(kb) : a < b;
  });
}

// The ALSA device named in placement.ini, "" when none is.
std::string Session::NamedSoundDevice() const {
  IniStore ini(store_.SettingFolder() + "placement.ini");
  ini.Load();
  auto device = ini.Get("Audio", "Device");
  return device ? *device : std::string();
}

std::string Session::SoundDevice() const {
  std::string device = NamedSoundDevice();
  return device.empty() ? std::string("default") : device;
}

NHandler& Session::Digital() {
  if (!digital_) {
    Poster post = post_;
    if (!post) post = [](std::function<void()> f) { f(); };
    digital_ = std::make_unique<NHandler>(MakeAlsaPcmOutput(SoundDevice()), std::move(post));
  }
  return *digital_;
}

MediaPlayer& Session::Media() {
  if (!media_) {
    // A device named in placement.ini takes the sound; else the desktop's own.
    MediaPlayerOptions options;
    options.audioDevice = NamedSoundDevice();
    media_ = std::make_unique<MediaPlayer>(options);
  }
  return *media_;
}

CdMixer& Session::Mixer() {
  if (!mixer_) mixer_ = std::make_unique<CdMixer>();
  return *mixer_;
}

EncoderSet& Session::Encoders() {
  if (!encoders_) encoders_ = std::make_unique<EncoderSet>(settings_, dialogs_);
  return *encoders_;
}

std::string Session::HelpDocument() const {
  for (const std::string& candidate :
       {context_.ProgramFolder + "README.md",
        context_.ProgramFolder + "../share/doc/sonarvex/README.md",
        std::string("/usr/share/doc/sonarvex/README.md"),
        std::string("/usr/local/share/doc/sonarvex/README.md")})
    if (FileExists(candidate)) return candidate;
  return {};
}

bool Session::SaveExtensions() {
  if (!store_.EnsureSettingFolder()) return false;
  std::string ext;
  for (const auto& e : extensions_) ext += e + "\r\n";
  return WriteFileAtomically(store_.SettingFolder() + "ext.dat", ext);
}

namespace {

IniStore LoadedIni(const std::string& path) {
  IniStore ini(path);
  ini.Load();
  return ini;
}

}  // namespace

ProgramOptions Session::Options() {
  return ReadProgramOptions(LoadedIni(store_.SettingFolder() + "sonarvex.ini"), DriveNames());
}

bool Session::ChangeOptions(const std::function<void(ProgramOptions&)>& change) {
  if (!store_.EnsureSettingFolder()) return false;
  IniStore ini = LoadedIni(store_.SettingFolder() + "sonarvex.ini");
  const ProgramOptions before = ReadProgramOptions(ini, DriveNames());
  ProgramOptions now = before;
  change(now);
  const bool accepted = WriteProgramOptions(ini, before, now);
  return ini.Save() && accepted;
}

const DriveEntry* Session::DriveAt(int driveIndex) const {
  if (driveIndex < 0 || driveIndex >= static_cast<int>(drives_.size())) return nullptr;
  return &drives_[static_cast<std::size_t>(driveIndex)];
}

std::string Session::CurrentDriveName() const {
  const DriveEntry* drive = DriveAt(settings_.DriveIndex);
  return drive ? drive->name : std::string();
}

Session::RipResult Session::Rip(GrabSender sender, RipHost& host, int workers) {
  RipChoices choices;
  choices.workers = workers;
  return Rip(sender, host, choices);
}

namespace {

// The sector after the last audio track (album sectors).
std::uint32_t AudioEndOf(const AlbumRecord& album) {
  const int count = std::clamp<int>(album.TrackCount, 0, kMaxAlbumTracks - 1);
  std::int32_t end = 0;
  for (int i = 0; i < count; ++i)
    if (album.Tracks[i].AudioFlag) end = std::max(end, album.Tracks[i + 1].StartSector);
  return static_cast<std::uint32_t>(std::max<std::int32_t>(end, 0));
}

// The ripping loop's host for the hidden track alone: one ticked row,
// track 0, whose status and file go to the grab's own host as the hidden
// track's; the rest is the grab's host (the drive is not ejected after it).
class HiddenTrackHost : public RipHost {
 public:
  explicit HiddenTrackHost(RipHost& host) : h_(host) {}
  int RowCount() override { return 1; }
  bool RowTicked(int) override { return true; }
  void SetRowTicked(int, bool) override {}
  void SetRowStatus(int, const std::string& text) override { h_.HiddenTrackStatus(text); }
  void SetRowImage(int, int) override {}
  void SelectRow(int) override {}
  std::string RowCaption(int) override { return kHiddenTrackTitle; }
  void SetCaption(const std::string& text) override { h_.SetCaption(text); }
  void Pump() override { h_.Pump(); }
  WindowState State() override { return h_.State(); }
  void SetState(WindowState s) override { h_.SetState(s); }
  void Stop() override { h_.Stop(); }
  void SetControlsEnabled(bool on) override { h_.SetControlsEnabled(on); }
  void SetTimerEnabled(bool on) override { h_.SetTimerEnabled(on); }
  void SetVolume(int v) override { h_.SetVolume(v); }
  int VolumePosition() override { return h_.VolumePosition(); }
  void Eject() override {}
  bool OutputFolderMissing(const std::string& folder) override { return h_.OutputFolderMissing(folder); }
  void TrackDone(int, const std::string& path) override { path_ = path; }
  bool Interrupted() override { return h_.Interrupted(); }
  const std::string& Path() const { return path_; }

 private:
  RipHost& h_;
  std::string path_;
};

std::string LocalTimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

}  // namespace

std::shared_ptr<const CoverImage> Session::CurrentCover(bool fetch, std::string* failure,
                                                       const std::function<void()>& pump) {
  if (failure) failure->clear();
  const std::string* release = albumTexts_.Find("MusicBrainzAlbumId");
  if (!view_.present || release == nullptr || release->empty()) return nullptr;
  const ProgramOptions options = Options();
  CoverArtClient client(options.CoverArtServer);
  if (pump) client.SetPump(pump);
  if (settings_.ProxyEnabled) {
    HttpProxy proxy;
    proxy.host = SettingsText(settings_, settingsTexts_, SettingsField::ProxyHost);
    proxy.port = settings_.ProxyPort != 0 ? settings_.ProxyPort : 80;
    proxy.user = SettingsText(settings_, settingsTexts_, SettingsField::ProxyUser);
    proxy.password = SettingsText(settings_, settingsTexts_, SettingsField::ProxyPassword);
    client.SetProxy(proxy);
  }
  AlbumCoverResult found = FindAlbumCover(albumFolder_, album_.DiscId, *release,
                                          fetch && options.CoverArtEnabled, client,
                                          options.CoverArtSize);
  if (failure) *failure = std::move(found.failure);
  return std::move(found.image);
}

std::string Session::RipHiddenTrack(GrabSender sender, RipHost& host, const RipHiddenTrackSetup& setup,
                                    std::string* logLine) {
  logLine->clear();
  // Only a rip that takes track 1 of a disc whose track 1 starts after
  // sector 0.
  const std::int32_t firstLba = static_cast<std::int32_t>(album_.FirstTrackOffset) - 150;
  if (firstLba <= 0 || album_.TrackCount < 1 || TrackNumberOfRow(album_, 0) != 1 ||
      !album_.Tracks[0].AudioFlag || host.RowCount() < 1 || !host.RowTicked(0))
    return {};
  const std::int32_t audioEnd = firstLba + static_cast<std::int32_t>(AudioEndOf(album_));
  const std::int32_t sectors =
      HiddenTrackSectors(CurrentTransport(), firstLba, setup.readOffset, audioEnd, 26);
  if (sectors <= 0) return {};
  host.HiddenTrackNotice("Перед дорожкой 1 найден скрытый трек (" + TrackTimeText(static_cast<std::uint32_t>(sectors)) +
                         "): он копируется как дорожка 0.");
  // An album of the hidden track alone, in sectors from the disc's start.
  AlbumRecord hidden = album_;
  hidden.TrackCount = 1;
  hidden.FirstTrackNumber = kHiddenTrackAlbumMark;
  hidden.FirstTrackOffset = 150;
  AlbumTrackEntry& t = hidden.Tracks[0];
  t = album_.Tracks[0];
  t.StartSector = 0;
  t.Start = FramesToMsf(150);
  t.Length = FramesToMsf(sectors);
  t.Size = static_cast<std::uint32_t>(sectors) * kBytesPerSector;
  t.RangeFlag = 0;
  t.CopiedFlag = 0;
  t.AudioFlag = 1;
  hidden.Tracks[1] = album_.Tracks[0];
  hidden.Tracks[1].StartSector = sectors;
  RecordTexts texts = albumTexts_;
  SetTrackTitleText(hidden, texts, 0, kHiddenTrackTitle);
  TrackTags tag = tags_.GetTags(0, album_.TrackCount);
  tag.Set(TagField::Title, kHiddenTrackTitle);
  tag.Set(TagField::TrackNumber, "0");
  TagBuffer tags;
  tags.SetTags(0, 1, tag);

  TransportRipDrive drive(CurrentTransport(), 150);
  drive.SetReadOffset(setup.readOffset, static_cast<std::uint32_t>(audioEnd));
  drive.SetC2Reads(setup.c2);
  EncoderRipAdapter encoder([this]() -> EncoderSet& { return Encoders(); });
  HiddenTrackHost hiddenHost(host);
  // The tray stays closed for the tracks that follow.
  const std::uint8_t eject = settings_.EjectAfterCopy;
  settings_.EjectAfterCopy = 0;
  {
    RipPipeline rip(hiddenHost, drive, encoder, dialogs_, settings_, hidden, tags, setup.temp);
    rip.SetTexts(&texts, &settingsTexts_);
    rip.SetExistingFiles(setup.existing);
    rip.SetFormatOptions(setup.formatOptions);
    rip.SetSecure(setup.secure, setup.secureReads, setup.c2);
    rip.SetTestAndCopy(setup.testAndCopy);
    rip.GrabCommand(sender);
  }
  settings_.EjectAfterCopy = eject;
  if (hiddenHost.Path().empty()) {
    host.HiddenTrackNotice("Скрытый трек не скопирован.");
    return {};
  }
  *logLine = "Скрытый трек (дорожка 0, " + TrackTimeText(static_cast<std::uint32_t>(sectors)) +
            " перед INDEX 01 дорожки 1): " + hiddenHost.Path();
  host.HiddenTrackNotice("Скрытый трек скопирован: " + hiddenHost.Path());
  host.HiddenTrackDone(hiddenHost.Path());
  return hiddenHost.Path();
}

Session::RipResult Session::Rip(GrabSender sender, RipHost& host, const RipChoices& choices) {
  // The options kept beside the settings record, read once for the rip.
  const ProgramOptions options = Options();
  FormatOptions formatOptions;
  formatOptions.values = options.FormatValues;
  for (const auto& [id, value] : choices.formatValues) formatOptions.values[id] = value;
  // The disc's front cover goes into the files and beside them; a cover
  // that cannot be had leaves them without one, and the rip goes on. The
  // window is not pumped meanwhile: the grab has not yet taken its
  // commands away (the request is bounded, see CoverArtLimits).
  std::string coverFailure;
  std::shared_ptr<const CoverImage> cover;
  if (options.CoverArtEnabled) {
    cover = CurrentCover(true, &coverFailure);
    if (!coverFailure.empty())
      dialogs_.Message("Не удалось получить обложку альбома: " + coverFailure, kProgramTitle,
                       MsgIcon::Warning, MsgButtons::Ok);
  }
  formatOptions.cover = cover;
  // The files carry the album artist when the tracks' artists differ (as
  // far as their tags hold one: FLAC's do).
  const int count = std::clamp<int>(album_.TrackCount, 0, kMaxAlbumTracks - 1);
  const std::string albumArtist = AlbumText(album_, albumTexts_, AlbumField::Artist);
  for (int i = 0; i < count; ++i) {
    if (!album_.Tracks[i].AudioFlag) continue;
    ++formatOptions.disc.TrackTotal;
    if (tags_.GetTags(i, album_.TrackCount).Get(TagField::Artist) != albumArtist)
      formatOptions.disc.AlbumArtist = albumArtist;
  }
  EncoderRipAdapter encoder([this]() -> EncoderSet& { return Encoders(); });
  TransportRipDrive drive(CurrentTransport(), album_.FirstTrackOffset);
  // The drive of the disc being ripped gives its name, offset and read
  // command, whichever drive the settings select.
  const int ripDrive = RipDriveIndex();
  const DriveEntry* ripEntry = DriveAt(ripDrive);
  const std::string driveName = ripEntry ? ripEntry->name : std::string();
  const int readOffset = driveName.empty() ? 0 : options.ReadOffsetOf(driveName);
  drive.SetReadOffset(readOffset, AudioEndOf(album_));
  // Installed, the temporary files go where the music goes when the cache
  // lies on another file system.
  const std::string temp =
      context_.TempNearOutput
          ? TempFolderForOutput(tempFolder_, OutputFolderText(settings_, &settingsTexts_),
                                static_cast<int>(::getpid()))
          : tempFolder_;
  RipPipeline rip(host, drive, encoder, dialogs_, settings_, album_, tags_, temp);
  rip.SetPowerControl(power_.get());
  rip.SetTexts(&albumTexts_, &settingsTexts_);
  rip.SetExistingFiles(choices.existing);
  const FormatOptions hiddenFormatOptions = formatOptions;
  rip.SetFormatOptions(std::move(formatOptions));
  rip.SetReplayGain(options.ReplayGainFor(FormatFor(GrabKind(sender, settings_)).lossless));
  // Secure reading, with the drive's C2 error pointers where it has them.
  const bool secure =
      choices.secure.value_or(options.SecureFor(FormatFor(GrabKind(sender, settings_)).lossless));
  const bool testAndCopy = choices.testAndCopy.value_or(options.TestAndCopy);
  const bool c2 = secure && options.SecureC2 && DriveHasC2Pointers(CurrentTransport());
  drive.SetC2Reads(c2);
  rip.SetSecure(secure, options.SecureReads, c2);
  rip.SetTestAndCopy(testAndCopy);
  // Every worker of the pool compresses with writers of its own; the
  // program's own encoder has made the grab's writer before (the grab
  // asks it first), so that a missing library is reported once.
  rip.SetEncoderPool(choices.workers < 0 ? options.RipWorkers : choices.workers,
                     [this](Dialogs& d) {
                       Encoders();
                       return std::make_unique<OwnEncoderRipAdapter>(settings_, d);
                     });

  // What is reported after the grab.
  RipReport::Options report;
  const std::string storedServer = options.ArServer;
  report.verify = choices.verify.value_or(!storedServer.empty());
  const std::string serverText = !choices.arServer.empty() ? choices.arServer
                                 : !storedServer.empty()   ? storedServer
                                                           : std::string(kDefaultArHost);
  if (report.verify && !ParseArServer(serverText, report.server)) {
    dialogs_.Message("Адрес сервера AccurateRip указан неверно: " + serverText, kProgramTitle,
                     MsgIcon::Error, MsgButtons::Ok);
    RipResult refused;
    refused.failure = "Адрес сервера AccurateRip указан неверно: " + serverText;
    return refused;
  }
  report.writeLog =
      choices.writeLog.value_or(options.LogFor(FormatFor(GrabKind(sender, settings_)).lossless));
  report.log.programVersion = kProgramVersion;
  report.log.date = LocalTimeText();
  report.log.drive = driveName;
  while (!report.log.drive.empty() && report.log.drive.back() == ' ') report.log.drive.pop_back();
  report.log.readOffset = readOffset;
  const int driveIndex = std::clamp<int>(ripDrive, 0, 15);
  report.log.readCommand =
      std::string(ReadCommandName(ReadCommandForDriveType(settings_.DriveTypes[driveIndex])));
  report.log.readSpeed = settings_.ReadSpeed == 255 || settings_.ReadSpeed == 0
                             ? std::string("максимальная")
                             : std::to_string(settings_.ReadSpeed) + "x";
  report.log.readMode =
      secure ? "безопасный, до " + std::to_string(options.SecureReads) +
                   " повторных чтений сектора, C2: " + (c2 ? "да" : "нет")
             : std::string("обычный");
  if (testAndCopy) report.log.readMode += ", проверка и копирование";
  report.log.artist = albumArtist;
  report.log.album = AlbumText(album_, albumTexts_, AlbumField::AlbumTitle);
  report.cue.performer = report.log.artist;
  report.cue.title = report.log.album;
  report.pump = [&host] { host.Pump(); };
  report.albumTexts = &albumTexts_;
  report.cover = cover;
  if (view_.present && view_.trackCount > 0)
    report.toc = ArTocOf(view_.toc);
  report.extras = [this] { return ReadDiscExtrasOfCurrent(); };
  // The audio before track 1's INDEX 01, when there is any, is track 0 of
  // the rip, copied first; the cue sheet keeps it as track 1's pregap.
  std::string hiddenPath;
  if (options.HiddenTrack) {
    RipHiddenTrackSetup setup;
    setup.readOffset = readOffset;
    setup.temp = temp;
    setup.existing = choices.existing;
    setup.formatOptions = hiddenFormatOptions;
    setup.secure = secure;
    setup.secureReads = options.SecureReads;
    setup.c2 = c2;
    setup.testAndCopy = testAndCopy;
    hiddenPath = RipHiddenTrack(sender, host, setup, &report.log.hiddenTrack);
    report.cue.hiddenFile = hiddenPath;
  }
  RipReport watcher(host, dialogs_, album_, tags_, report);
  // Without a check or a log nothing needs the checksums of the audio.
  if (report.verify || report.writeLog || report.cover || secure || testAndCopy)
    rip.SetWatcher(&watcher);

  rip.GrabCommand(sender);
  if (temp != tempFolder_) RemoveEmptyDirectory(temp);
  RipResult result;
  result.hiddenTrackPath = hiddenPath;
  result.outcome = rip.LastOutcome();
  result.failure = rip.FailureText();
  result.verified = report.verify;
  result.verifyFailure = watcher.VerifyFailure();
  result.mismatch = watcher.AnyMismatch();
  result.logPath = watcher.LogPath();
  result.cuePath = watcher.CuePath();
  result.coverFailure = coverFailure;
  result.coverPaths = watcher.CoverPaths();
  // Tracks with places that never read the same twice are there, but fail
  // the rip unless the database matched them.
  std::string suspectList;
  for (const auto& [row, sectors] : rip.SuspectRows()) {
    const auto& tracks = watcher.Tracks();
    const bool matched = std::any_of(tracks.begin(), tracks.end(), [&, r = row](const auto& t) {
      return t.row == r && t.Matched();
    });
    if (matched) continue;
    result.suspect[row] = sectors;
    if (!suspectList.empty()) suspectList += ", ";
    suspectList += std::to_string(TrackNumberOfRow(album_, row)) + " (";
    if (sectors.empty()) suspectList += "проверка и копирование не совпали";
    constexpr std::size_t kMostNamed = 10;
    const auto trackStart = static_cast<std::uint32_t>(album_.Tracks[row].StartSector);
    for (std::size_t k = 0; k < sectors.size() && k < kMostNamed; ++k)
      suspectList += (k ? ", " : "") + TrackTimeText(sectors[k] - trackStart);
    if (sectors.size() > kMostNamed)
      suspectList += " и ещё " + std::to_string(sectors.size() - kMostNamed);
    suspectList += ")";
  }
  if (!suspectList.empty()) {
    const std::string text = "Дорожки прочитаны ненадёжно: " + suspectList +
                             ". Эти места не читаются одинаково и после повторных чтений, а база "
                             "AccurateRip их не подтвердила.";
    dialogs_.Message(text, kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
    if (result.outcome == RipPipeline::Outcome::Done) {
      result.outcome = RipPipeline::Outcome::Failed;
      result.failure = text;
    }
  }
  // A log or cue sheet that could not be written fails the rip: the files
  // are there, but not all that was asked for.
  if (!watcher.WriteFailure().empty() && result.outcome == RipPipeline::Outcome::Done) {
    result.outcome = RipPipeline::Outcome::Failed;
    result.failure = watcher.WriteFailure();
  }
  return result;
}

namespace {

std::string SignedSamples(int samples) { return (samples > 0 ? "+" : "") + std::to_string(samples); }

}  // namespace

Session::OffsetResult Session::FindReadOffset(int drive, const std::string& arServer,
                                              const std::function<bool()>& pump,
                                              const std::function<void(const std::string&)>& status) {
  OffsetResult result;
  using Outcome = OffsetResult::Outcome;
  auto finish = [&result](Outcome outcome, std::string message) {
    result.outcome = outcome;
    result.message = std::move(message);
    return result;
  };
  if (drive < 0 || drive >= static_cast<int>(drives_.size()))
    return finish(Outcome::NoDrive, drives_.empty() ? "Приводов не найдено."
                                                    : "Нет привода " + std::to_string(drive) + ".");
  result.driveName = drives_[static_cast<std::size_t>(drive)].name;
  while (!result.driveName.empty() && result.driveName.back() == ' ') result.driveName.pop_back();
  const std::string driveText = "В приводе " + std::to_string(drive) + " (" + result.driveName + ")";

  // The disc is read into a record of its own: the current disc stays.
  Transport& transport = CurrentTransport();
  AlbumRecord scratch{};
  const std::uint8_t type = settings_.DriveTypes[drive < 16 ? drive : 0];
  const DiscView view = sonarvex::ReadDisc(transport, drives_[static_cast<std::size_t>(drive)].device, type,
                                           dialogs_, scratch);
  // Later commands go to the drive of the current disc again.
  struct Reselect {
    Session& s;
    int drive;
    ~Reselect() {
      if (s.discDrive_ >= 0 && s.discDrive_ != drive && s.discDrive_ < static_cast<int>(s.drives_.size())) {
        const int d = s.discDrive_;
        s.CurrentTransport().SelectDevice(s.drives_[static_cast<std::size_t>(d)].device,
                                          s.settings_.DriveTypes[d < 16 ? d : 0]);
      }
    }
  } reselect{*this, drive};
  if (!view.present || view.toc.tracks.empty()) return finish(Outcome::NoDisc, driveText + " нет диска.");
  if (!view.hasAudio) return finish(Outcome::NoAudio, driveText + " диск без звуковых дорожек.");

  std::string serverText = arServer;
  if (serverText.empty()) serverText = Options().ArServer;
  if (serverText.empty()) serverText = kDefaultArHost;
  ArServer server;
  if (!ParseArServer(serverText, server))
    return finish(Outcome::BadServer, "Адрес сервера AccurateRip указан неверно: " + serverText);

  const ArToc toc = ArTocOf(view.toc);
  const ArDiscIds ids = ComputeArDiscIds(toc);
  if (status) status("запрос записи диска в базе AccurateRip");
  ArClient client(server);
  if (pump) client.SetPump([&pump] { pump(); });
  const ArFetch fetch = client.Fetch(ids);
  if (fetch.outcome == ArFetch::Outcome::Failed)
    return finish(Outcome::DatabaseFailed, "Не удалось получить запись диска из базы AccurateRip: " + fetch.message);
  if (fetch.outcome == ArFetch::Outcome::NotFound)
    return finish(Outcome::NotInDatabase, "Диска в приводе " + std::to_string(drive) +
                                              " нет в базе AccurateRip: по нему смещение не определить. "
                                              "Вставьте другой диск (чем известнее, тем лучше).");

  // The disc's audio ends where its last audio track does.
  std::int32_t audioEnd = 0;
  for (int i = 0; i < view.toc.TrackCount(); ++i)
    if (view.toc.tracks[static_cast<std::size_t>(i)].Audio())
      audioEnd = std::max(audioEnd, view.toc.Descriptor(i + 1).startLba);
  const int perRead = EffectiveSectorsPerRead(settings_.SectorsPerRead);
  RawSectorReader read = [&transport, perRead](std::int32_t lba, std::int32_t count, std::uint8_t* out) {
    // A failed request is asked once more before the read fails.
    for (int attempt = 0; attempt < 2; ++attempt) {
      bool ok = true;
      ReadAudioRange(transport, lba, count, perRead,
                     [&](std::int32_t at, int sectors, const std::uint8_t* data, CommandResult r) {
                       if (!transport.Succeeded(r)) return ok = false;
                       std::memcpy(out + static_cast<std::size_t>(at - lba) * kBytesPerSector, data,
                                   static_cast<std::size_t>(sectors) * kBytesPerSector);
                       return true;
                     });
      if (ok) return true;
    }
    return false;
  };
  OffsetSearch search;
  search.pump = pump;
  search.status = status;
  const OffsetFinding f = sonarvex::FindReadOffset(toc, audioEnd, fetch.submissions, read, search);
  result.offset = f.offset;
  result.tracksTried = f.tracksTried;
  result.tracksMatched = f.tracksMatched;
  result.confidence = f.confidence;
  switch (f.outcome) {
    case OffsetFinding::Outcome::Found:
      return finish(Outcome::Found, "Смещение чтения привода " + std::to_string(drive) + " (" + result.driveName +
                                        "): " + SignedSamples(f.offset) + " (совпало дорожек: " +
                                        std::to_string(f.tracksMatched) + " из " + std::to_string(f.tracksTried) +
                                        ", достоверность " + std::to_string(f.confidence) + ").");
    case OffsetFinding::Outcome::NoValues:
      return finish(Outcome::NoValues, "В записи базы AccurateRip нет значений для дорожек этого диска.");
    case OffsetFinding::Outcome::ReadFailed:
      return finish(Outcome::ReadFailed, driveText + " не удалось прочитать звук диска (сектор " +
                                             std::to_string(f.failedLba) + ").");
    case OffsetFinding::Outcome::Stopped:
      return finish(Outcome::Stopped, "Определение смещения прервано.");
    case OffsetFinding::Outcome::NoneFits:
      break;
  }
  return finish(Outcome::NoneFits, "Ни одно смещение от -" + std::to_string(search.range) + " до +" +
                                       std::to_string(search.range) +
                                       " сэмплов не дало контрольных сумм из базы AccurateRip (прочитано дорожек: " +
                                       std::to_string(f.tracksTried) + ").");
}

RipDiscExtras Session::ReadDiscExtrasOfCurrent() {
  RipDiscExtras r;
  if (drives_.empty() || !view_.present) return r;
  DiscToc toc = view_.toc;
  DiscExtrasOptions options;
  options.readIndexPoints = true;
  const DiscExtras extras = ReadDiscExtras(CurrentTransport(), toc, options);
  ApplyDiscExtras(extras, toc);
  r.catalog = toc.catalog;
  for (std::size_t row = 0; row < extras.tracks.size(); ++row) {
    const TrackExtras& x = extras.tracks[row];
    std::vector<std::int32_t> after;
    for (std::int32_t at : x.indexLbas) after.push_back(at - x.startLba);
    if (!after.empty()) r.indices[static_cast<int>(row)] = std::move(after);
  }
  for (std::size_t row = 0; row < toc.tracks.size(); ++row) {
    const TocTrack& t = toc.tracks[row];
    if (!t.isrc.empty()) r.isrc[static_cast<int>(row)] = t.isrc;
    if (t.pregapKnown) r.pregap[static_cast<int>(row)] = t.pregapSectors;
  }
  return r;
}

std::optional<CdText> Session::ReadCdTextOfCurrent() {
  if (drives_.empty() || !view_.present) return std::nullopt;
  return ReadCdText(CurrentTransport());
}

LookupSourceOptions Session::LookupSources(std::function<void()> pump) {
  const ProgramOptions options = Options();
  LookupSourceOptions o;
  o.musicBrainz = options.MusicBrainzEnabled;
  o.musicBrainzServer = options.MusicBrainzServer;
  if (settings_.ProxyEnabled) {
    o.proxy.host = SettingsText(settings_, settingsTexts_, SettingsField::ProxyHost);
    o.proxy.port = settings_.ProxyPort != 0 ? settings_.ProxyPort : 80;
    o.proxy.user = SettingsText(settings_, settingsTexts_, SettingsField::ProxyUser);
    o.proxy.password = SettingsText(settings_, settingsTexts_, SettingsField::ProxyPassword);
  }
  o.cddb = CddbServerSet(settings_, settingsTexts_);
  o.cdText = [this] { return ReadCdTextOfCurrent(); };
  o.toc = &view_.toc;
  o.pump = std::move(pump);
  return o;
}

AutoLookupResult Session::AutoLookup(AlbumView* view, std::function<void()> pump,
                                     MatchChooser* chooser) {
  if (!view_.present || !view_.hasAudio || view_.known || !Options().AutoLookup) return {};
  const std::size_t before = artists_.size();
  AutoLookupResult r = RunAutoLookup(settings_, settingsTexts_, album_, albumTexts_, tags_,
                                     albumFolder_, &artists_, view, LookupSources(std::move(pump)),
                                     chooser);
  if (artists_.size() != before) SortArtists();
  if (r.applied) {
    // The rows show the titles found; the disc counts as known from now on.
    for (std::size_t i = 0; i < view_.rows.size(); ++i)
      if (view_.rows[i].audio)
        view_.rows[i].caption = TrackTitleText(album_, albumTexts_, static_cast<int>(i));
    view_.known = true;
  }
  return r;
}

void Session::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  if (digital_) digital_->Terminate();
  if (media_) media_->CloseMedia();
  if (mixer_) mixer_->Close();
  RemoveEmptyDirectory(tempFolder_);
  if (!drives_.empty()) {
    Transport& t = CurrentTransport();
    StopPlayScan(t);
    LockMedium(t, false);
  }
  spti_->Close();
  aspi_->Unload();
}

std::vector<std::string> Session::DriveNames() {
  std::vector<std::string> names;
  for (const auto& d : drives_) names.push_back(d.name);
  return names;
}

std::string Session::LameVersionText() { return Encoders().LameVersionText(); }

std::string Session::AcmCodecName() {
  return Encoders().Acm().CodecFound() ? Encoders().Acm().CodecName() : std::string();
}

std::vector<std::string> Session::AcmFormatDescriptions() {
  return Encoders().Acm().FormatDescriptions();
}

bool Session::FormatAvailable(OutputKind kind) { return Encoders().Available(kind); }

}  // namespace sonarvex
