// What the program holds for its whole life, below every window: the
// settings and profiles, the device directory with the software drives, both
// transports and the drive list, the current disc (album, tags and what was
// read of it), the encoders, the program's folders and power control. The
// main window and the command-line ripper each run on one Session; every
// other window takes the Session it needs, never the main window.
//
// Qt-free: the questions a Session asks go through the Dialogs service.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "settings/ProfileList.h"
#include "settings/ProgramFacts.h"
#include "rip/RipPipeline.h"
#include "rip/RipReport.h"
#include "settings/SettingsStore.h"
#include "drive/DeviceDirectory.h"
#include "drive/DiscModel.h"
#include "drive/TransportSetup.h"
#include "metadata/AutoLookup.h"
#include "records/AlbumRecord.h"
#include "records/RecordTexts.h"
#include "records/SettingsRecord.h"
#include "records/TagBuffer.h"

namespace sonarvex {

class IniStore;

class AlbumView;
class AspiTransport;
struct CoverImage;
struct CdText;
struct LookupSourceOptions;
class MatchChooser;
class CdMixer;
class DeviceDirectory;
class MediaPlayer;
class NHandler;
class Dialogs;
class EncoderSet;
class PowerControl;
class SptiTransport;
class Transport;
class XdgAssociations;

struct SessionContext {
  std::string ProgramFolder;  // ends in '/'
  // Where the state lives when it is not beside the program (installed, see
  // ProgramFolders.h); each one left empty is the program folder's own:
  // setting/, setting/albums/, TempFiles/, and libkelpra.so beside it.
  std::string SettingFolder;
  std::string AlbumFolder;
  std::string TempFolder;
  std::string LibraryFolder;
  // A rip writes its temporary files on the output folder's file system when
  // the temporary folder lies on another one.
  bool TempNearOutput = false;
  Dialogs* DialogService = nullptr;
  XdgAssociations* Xdg = nullptr;  // the desktop's associations; none in some tests
  std::string ProgramPath;         // the executable, for the audio CD association
  // Look at the system's optical drives too (tests use software drives only).
  bool ScanSystemDrives = true;
  // Where the system's drives are looked for (tests give their own).
  DeviceFolders Devices;
  // Disc images given on the command line, each one more software drive.
  std::vector<std::string> Images;
  // Power control for "shut down after copying"; the system's when null.
  std::shared_ptr<PowerControl> Power;
};

class Session : public ProgramFacts {
 public:
  // Start-up: migrates the album folder, collects the devices and the
  // software drives of setting/vdrives.lst and of the context's images,
  // starts both transports and reads the search extensions. Settings are not
  // loaded yet (LoadSettings).
  explicit Session(const SessionContext& context);
  ~Session() override;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Why a disc image of the context could not be used; empty when all were.
  const std::string& StartError() const { return startError_; }

  // Folders, each ending in '/'.
  const std::string& ProgramFolder() const { return context_.ProgramFolder; }
  const std::string& AlbumFolder() const { return albumFolder_; }
  const std::string& TempFolder() const { return tempFolder_; }
  std::string SettingFolder() const { return store_.SettingFolder(); }
  // Where libkelpra.so lies.
  const std::string& LibraryFolder() const { return libraryFolder_; }

  Dialogs& Dialog() { return dialogs_; }
  SettingsStore& Store() { return store_; }
  SettingsRecord& Settings() { return settings_; }
  // The full texts of the settings' text fields (see RecordTexts.h): the
  // output folder, the format string, the server and proxy texts.
  RecordTexts& SettingsTexts() { return settingsTexts_; }
  ProfileList& Profiles() { return profiles_; }

  // Reads a settings file (set.dat or a profile) into the settings, then
  // applies the transport choice and rebuilds the drive list.
  void LoadSettings(const std::string& fileName);
  // The profile list and the active profile's settings, for a front end
  // without a profile menu.
  void LoadActiveProfile();
  // Writes the settings to a settings file, with the profile list and the
  // audio CD association; false when the file could not be written. Fields
  // that somebody else changed in that file since it was loaded (the
  // command line while the window runs) and that this session left as they
  // were keep the other's values (see TakeSettingsChangedOnDisk).
  bool SaveSettings(const std::string& fileName);
  // Takes into the settings the fields another program changed in the loaded
  // settings file since this session loaded or saved it, where this session
  // left them as they were; the number of fields taken (0: nothing new).
  int TakeSettingsChangedOnDisk();
  // The settings file the settings were last loaded from or saved to.
  const std::string& SettingsFileName() const { return settingsFile_; }

  // Drives.
  DeviceDirectory& Directory() { return *directory_; }
  SptiTransport& Spti() { return *spti_; }
  AspiTransport& Aspi() { return *aspi_; }
  const TransportFlags& Flags() const { return flags_; }
  // The transport the settings choose.
  Transport& CurrentTransport();
  // After the settings changed the transport choice.
  void ChooseTransport();
  // Probes the current transport's drives; DriveIndex is put into range.
  const std::vector<DriveEntry>& RebuildDriveList();
  const std::vector<DriveEntry>& Drives() const { return drives_; }

  // The current disc.
  AlbumRecord& Album() { return album_; }
  // The full texts of the album record (album, artist, year, genre, track
  // titles); the tag buffer holds those of the tags.
  RecordTexts& AlbumTexts() { return albumTexts_; }
  TagBuffer& Tags() { return tags_; }
  const DiscView& View() const { return view_; }
  bool DiscPresent() const { return view_.present; }
  // Saves the disc being left (unless saveFirst is false: the album database
  // was just edited and holds the newer record), then reads the disc of drive
  // `drive` (the settings' DriveIndex when negative) with its titles from
  // the album database.
  const DiscView& ReadDisc(int drive = -1, bool saveFirst = true);
  // Saves the current album and its tags into the album database (nothing
  // without a disc); artists new to the database are added to Artists().
  void SaveCurrentAlbum();
  // The artists of the album database, sorted; a lookup that stores a new
  // artist adds it here (at the end until the list is sorted again).
  std::vector<std::string>& Artists() { return artists_; }
  void ReloadArtists();
  void SortArtists();

  // The encoders, made on first use (a WAV rip never needs them).
  EncoderSet& Encoders();

  // Playback. The players hand their work to the front end's thread through
  // the poster (the window posts to its event loop, the command line to its
  // queue); set it before the first use of Digital().
  using Poster = std::function<void(std::function<void()>)>;
  void SetPoster(Poster post) { post_ = std::move(post); }
  // The ALSA device sound goes to: setting/placement.ini [Audio] Device=,
  // "default" when not set.
  std::string SoundDevice() const;
  std::string NamedSoundDevice() const;
  // The digital CD player, the media file player and the mixer's CD line,
  // each made on first use; the digital player still needs its Init.
  NHandler& Digital();
  bool DigitalMade() const { return digital_ != nullptr; }
  MediaPlayer& Media();
  bool MediaMade() const { return media_ != nullptr; }
  CdMixer& Mixer();
  PowerControl& Power() { return *power_; }

  // The MP3 player of the desktop (else a known player on the PATH; empty
  // when there is none), found when the settings load.
  const std::string& PlayerPath() const { return playerPath_; }
  // The help that ships with the program (its README), or "" when missing.
  std::string HelpDocument() const;
  std::vector<std::string>& Extensions() { return extensions_; }
  // Writes the search extensions to setting/ext.dat.
  bool SaveExtensions();

  // Rips the ticked rows of `host` from the current drive with the output
  // kind the command chooses.
  struct RipResult {
    RipPipeline::Outcome outcome = RipPipeline::Outcome::NotStarted;
    std::string failure;  // what failed, for Failed
    // The AccurateRip check: whether it ran, why it could not ask the
    // database, whether a track did not match.
    bool verified = false;
    std::string verifyFailure;
    bool mismatch = false;
    // The rip log and the cue sheet written beside the files ("" when none).
    std::string logPath, cuePath;
    // Why the disc's cover could not be fetched (the files have none); the
    // cover pictures written beside the files.
    std::string coverFailure;
    std::vector<std::string> coverPaths;
    // Tracks read securely (or tested and copied) that are not to be
    // trusted and that the AccurateRip database did not vouch for: rows
    // with the sectors that never read the same twice. They make the rip
    // fail.
    std::map<int, std::vector<std::uint32_t>> suspect;
    // The audio before track 1's INDEX 01 ripped as track 0 ("" when the
    // disc has none, the rip left track 1 out or [Rip] HiddenTrack is off).
    std::string hiddenTrackPath;
  };
  struct RipChoices {
    // How many tracks are compressed at once (see
    // RipPipeline::SetEncoderPool); negative: the setting Options().RipWorkers.
    int workers = -1;
    // Check the copied tracks against the AccurateRip database; without a
    // choice, when a server is set (Options().ArServer).
    std::optional<bool> verify;
    // The server for this rip ("HOST[:PORT]"); empty: the setting, else
    // the public database.
    std::string arServer;
    // Write the rip log and the cue sheet; without a choice, the log switch of the grab's kind.
    std::optional<bool> writeLog;
    // A file at a track's output name: the window asks; the command line
    // replaces it with --overwrite, else numbers the new one.
    RipPipeline::ExistingFiles existing = RipPipeline::ExistingFiles::Ask;
    // Values of the formats' options for this rip only (by FormatOption::Id),
    // over the stored ones: the command line's --bitrate for Opus.
    std::map<std::string, int> formatValues;
    // Secure reading; without a choice, the setting for the grab's kind
    // (Options().SecureFor).
    std::optional<bool> secure;
    // Test and copy; without a choice, Options().TestAndCopy.
    std::optional<bool> testAndCopy;
  };
  RipResult Rip(GrabSender sender, RipHost& host, int workers = -1);
  RipResult Rip(GrabSender sender, RipHost& host, const RipChoices& choices);

  // The front cover of the current disc's MusicBrainz release: the one kept
  // in the album database, else (fetch, and [CoverArt] Enabled) the Cover
  // Art Archive's, which is then kept there. Null without a release or a
  // cover; failure (when given) says why the archive gave none.
  std::shared_ptr<const CoverImage> CurrentCover(bool fetch, std::string* failure = nullptr,
                                                 const std::function<void()>& pump = {});

  // The identification text of the drive the settings select ("" when none).
  std::string CurrentDriveName() const;
  // The drive a rip reads from: the one whose disc was read last (the
  // transport's current device), else the one the settings select.
  int RipDriveIndex() const { return discDrive_ >= 0 ? discDrive_ : settings_.DriveIndex; }
  // What the drive tells of the current disc beyond its table of contents
  // (catalogue number, ISRCs, pregaps), for the cue sheet of a rip.
  RipDiscExtras ReadDiscExtrasOfCurrent();
  // The current disc's CD-Text from its drive; nullopt when it has none.
  std::optional<CdText> ReadCdTextOfCurrent();

  // The sources a lookup of the current disc asks, from the settings and
  // sonarvex.ini: MusicBrainz when enabled, the CDDB server when one is set,
  // the disc's CD-Text; the settings' proxy.
  LookupSourceOptions LookupSources(std::function<void()> pump = {});
  // Looks the current disc up by itself when the album database does not
  // know it and [Lookup] Auto is on (see RunAutoLookup): the album, tags and
  // texts are filled and stored; `view` (may be null) shows the titles.
  // chooser (may be null: the first is taken) picks one of several entries.
  AutoLookupResult AutoLookup(AlbumView* view = nullptr, std::function<void()> pump = {},
                              MatchChooser* chooser = nullptr);

  // Finds the read offset of drive `drive` with the disc in it (see
  // OffsetFinder.h): its AccurateRip entry is fetched from `arServer`
  // ("HOST[:PORT]"; empty: the setting, else the public database), a few
  // tracks are read once and shifted in memory. Nothing is stored; the
  // current disc stays as it was. pump (may be empty) runs while reading,
  // computing and waiting, and stops the search by returning false; status
  // (may be empty) hears what is being done.
  struct OffsetResult {
    enum class Outcome {
      Found, NoDrive, NoDisc, NoAudio, BadServer, DatabaseFailed, NotInDatabase, NoValues,
      ReadFailed, NoneFits, Stopped
    };
    Outcome outcome = Outcome::NoDrive;
    int offset = 0;
    int tracksTried = 0, tracksMatched = 0, confidence = 0;
    std::string driveName;
    std::string message;  // one Russian sentence: the offset found or why none was
  };
  OffsetResult FindReadOffset(int drive, const std::string& arServer = {},
                              const std::function<bool()>& pump = {},
                              const std::function<void(const std::string&)>& status = {});

  // Drive `driveIndex` of the drive list, nullptr when there is none.
  const DriveEntry* DriveAt(int driveIndex) const;

  // Stops play, unlocks the tray and closes the transports, removes the
  // empty temporary folder. Settings and album are saved by the caller.
  void Shutdown();

  // ProgramFacts.
  std::vector<std::string> DriveNames() override;
  bool AspiUsable() override { return flags_.aspiUsable; }
  bool SptiUsable() override { return flags_.platformIsNt; }
  std::string LameVersionText() override;
  std::string AcmCodecName() override;
  std::vector<std::string> AcmFormatDescriptions() override;
  bool FormatAvailable(OutputKind kind) override;
  std::vector<std::string> SearchExtensions() override { return extensions_; }
  void SetSearchExtensions(const std::vector<std::string>& e) override { extensions_ = e; }
  // The options of setting/sonarvex.ini (see ProgramOptions).
  ProgramOptions Options() override;
  bool ChangeOptions(const std::function<void(ProgramOptions&)>& change) override;

 private:
  // How the hidden track before track 1 is read and written: as the rip's tracks are.
  struct RipHiddenTrackSetup {
    int readOffset = 0;
    std::string temp;
    RipPipeline::ExistingFiles existing = RipPipeline::ExistingFiles::Ask;
    FormatOptions formatOptions;
    bool secure = false, c2 = false, testAndCopy = false;
    int secureReads = 16;
  };
  // Rips the audio before track 1's INDEX 01 as track 0 when the rip takes
  // track 1 and that audio is not silence; its file ("" when none), and the
  // rip log's line of it in *logLine.
  std::string RipHiddenTrack(GrabSender sender, RipHost& host, const RipHiddenTrackSetup& setup,
                             std::string* logLine);
  SessionContext context_;
  Dialogs& dialogs_;
  SettingsStore store_;
  SettingsRecord settings_{};
  RecordTexts settingsTexts_;
  // The settings file as last read or written by this session: the base of
  // the merge with changes made on disk by others.
  std::string settingsFile_;
  SettingsRecord settingsOnDisk_{};
  RecordTexts settingsTextsOnDisk_;
  ProfileList profiles_;
  std::string albumFolder_;
  std::string tempFolder_;
  std::string libraryFolder_;
  std::string startError_;
  std::unique_ptr<DeviceDirectory> directory_;
  std::unique_ptr<SptiTransport> spti_;
  std::unique_ptr<AspiTransport> aspi_;
  TransportFlags flags_;
  std::vector<DriveEntry> drives_;
  AlbumRecord album_{};
  RecordTexts albumTexts_;
  TagBuffer tags_;
  DiscView view_;
  int discDrive_ = -1;  // the drive view_ was read from
  std::vector<std::string> artists_;
  std::unique_ptr<EncoderSet> encoders_;
  Poster post_;
  std::unique_ptr<NHandler> digital_;
  std::unique_ptr<MediaPlayer> media_;
  std::unique_ptr<CdMixer> mixer_;
  std::shared_ptr<PowerControl> power_;
  std::string playerPath_;
  std::vector<std::string> extensions_;
  bool shutDown_ = false;
};

}  // namespace sonarvex
