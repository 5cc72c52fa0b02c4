// The settings dialog without its window: the private copies of the
// settings and album records, the value of every control, the codec, VBR
// and format string rules, the copy range, the range play and OK.
//
// The window shows Controls() and writes the user's changes back into it,
// then calls the rule for what changed; on OK it hands the controls to Ok().
//
// Beside the records the dialog edits the options of the INI store
// (ProgramFacts: compression workers, rip logs, FLAC level and verification,
// ReplayGain, secure reading, the hidden track, the drives' read offsets, the
// AccurateRip, MusicBrainz and Cover Art Archive servers); OK stores those
// that changed.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "records/SettingsRecord.h"
#include "settings/CopyRange.h"
#include "settings/ProgramFacts.h"
#include "settings/SettingsFormHost.h"
#include "records/AlbumRecord.h"
#include "records/RecordTexts.h"
#include "records/TagBuffer.h"

namespace sonarvex {

class Dialogs;

// Every control of the dialog, named after it. Texts are UTF-8.
struct SettingsControls {
  std::string WorkDir;
  // Файлы
  bool File_UseTrackName = false, File_UseAlbumName = false, File_UseArtistName = false,
       File_UseTrackNum = false, Dir_AsArtistName = false, Dir_AsAlbumName = false;
  bool UseFormatString = false;
  std::string FormatEdit;
  // Записи
  int TrackNames = -1;
  bool CBPos = false;
  // Общие
  bool EjectACopy = false, PriorityBox = false, ShutComp = false, UseAsCDPlayerBox = false,
       VolumeOnCDBox = false, ShowGridBox = false, DPBox = false, LockCDBox = false,
       CheckBox1 = false, OnTheFlyEncodingBox = false;
  int RipWorkersBox = 0;  // tracks compressed at once, 0: "авто"
  bool RipLogLosslessBox = true, RipLogCompressedBox = false;
  // Аудио
  int CodecBox = 0;   // 0 LAME, 1 the MP3 codec
  int FormatBox = 0;  // LAME bitrate or codec format
  int MaxBR = 0, VBRBox = 0, VBRQBox = 0, LameModeBox = 0, LameQualityBox = 0;
  bool OggQualityBox = false;
  int OggBar = 0;
  int OggMinBRBox = 0, OggNomBRBox = 0, OggMaxBRBox = 0;
  int WMABitrateBox = 0;
  bool UseDRMBox = false;
  int DecodeFileBox = 0;
  std::string MinEdit, SetMinEdit, MaxEdit, SetMaxEdit;
  int PageControl2 = 0;
  int FlacLevelBox = 5;  // the FLAC compression level, 0..8
  int OpusBitrateBox = 160;  // the Opus bitrate, 6..510 kbit/s
  bool FlacVerifyBox = true;  // [FLAC] Verify: each FLAC file decoded and compared as it is written
  int ReplayGainBox = 0;      // [ReplayGain] Enabled: kChoiceAuto, kChoiceOn or kChoiceOff
  // CDROM
  int DeviceName = -1;
  int SpeedBox = 0;
  bool CBMaxSpeed = false;
  std::string NumSecReadEdit;
  bool SPTIBtn = false;  // ASPIBtn is the other choice
  int DriveTypeBox = 0;  // the type of the drive shown in DeviceName
  bool ErrorCorectionBox = false;
  int ReadOffsetBox = 0;  // the read offset of the drive shown in DeviceName
  // Secure reading ([Rip] Secure, SecureReads, C2, TestAndCopy) and the
  // hidden track ([Rip] HiddenTrack).
  int RipSecureBox = 0;  // kChoiceAuto, kChoiceOn or kChoiceOff
  int RipSecureReadsBox = 16;
  bool RipC2Box = true, RipTestAndCopyBox = false, RipHiddenTrackBox = true;
  // FreeDB
  std::string ServerEdit, PathEdit, ProxyEdit, PortEdit, UserEdit, PasswordEdit;
  std::string ArServerEdit;  // the AccurateRip server, "" for none
  bool AutoLookupBox = true;  // [Lookup] Auto: look an unknown disc up when it is inserted
  // [MusicBrainz] Enabled and Server, [CoverArt] Enabled, Server and Size
  // (CoverSizeBox is the entry of CoverSizeItems()); "" is the public server.
  bool MusicBrainzBox = true, CoverArtBox = true;
  std::string MusicBrainzServerEdit, CoverArtServerEdit;
  int CoverSizeBox = 1;
  // Поиск
  std::vector<std::string> ExtListBox;
  // Вид
  bool ShowPlayer = false, ShowConvert = false, ShowFreeDB = false, ShowFIND = false,
       ShowBURN = false, ShowWAVE = false, ShowWMA = false, MP3AsOGGBox = false;
  std::uint32_t WindowColorBox = 0, ControlColorBox = 0;
  int PageControl1 = 0;
};

// The format list and label the codec rule gives.
struct CodecView {
  bool Lame = true;
  std::vector<std::string> FormatItems;
  int FormatIndex = 0;
  int FormatWidth = 91;
  std::string Label9;  // "Битрейт: мин" or "Формат"
};

class SettingsFormModel {
 public:
  // Create: copies the main window's records and sets every control from
  // them. When the stored DecodeFilesAtOnce is outside 1..10 the live
  // settings get 1 at once.
  // liveTexts: the full texts of the settings (output folder, format string,
  // server and proxy texts), edited in a copy and copied back on OK like the
  // record; albumTexts: the album's, for the track names and the preview.
  SettingsFormModel(SettingsRecord& live, AlbumRecord& liveAlbum, TagBuffer& tags,
                    SettingsFormHost& host, ProgramFacts& program, Dialogs& dialogs,
                    RecordTexts* liveTexts = nullptr, const RecordTexts* albumTexts = nullptr);

  SettingsControls& Controls() { return c_; }
  const SettingsControls& Controls() const { return c_; }
  const SettingsRecord& SettingsCopy() const { return settings_; }
  const RecordTexts& SettingsTextsCopy() const { return settingsTexts_; }
  const AlbumRecord& AlbumCopy() const { return album_; }
  SettingsFormHost& Host() { return host_; }

  // Entries of the boxes that depend on the host.
  const std::vector<std::string>& CodecItems() const { return codecItems_; }
  const std::vector<std::string>& DriveItems() const { return driveItems_; }
  std::vector<std::string> TrackItems() const;
  bool AspiEnabled() const { return aspiUsable_; }
  bool SptiEnabled() const { return sptiUsable_; }
  // The FLAC sheet's controls work only with libFLAC.
  bool FlacEnabled() const { return flacAvailable_; }
  // The Opus sheet's controls work only with libopusenc.
  bool OpusEnabled() const { return opusAvailable_; }

  // Codec rule: CodecBox changed to `index`. The format chosen for the codec
  // that is left is kept in the copy for when the user comes back to it.
  CodecView ChangeCodec(int index);
  const CodecView& Codec() const { return codec_; }
  // VBR rule: MaxBR, its label and VBRQBox are enabled only with VBR.
  bool VbrControlsEnabled() const { return c_.VBRBox > 0; }
  // UseFormatString rule: the six naming boxes are enabled without it, the
  // format edit with it.
  bool NamingBoxesEnabled() const { return !c_.UseFormatString; }

  // The format edit changed: the cleaned text (refused characters removed,
  // "%%" reduced) and the preview (nullopt: leave the preview as it is).
  std::string CleanFormat(const std::string& text) const;
  std::optional<std::string> Preview() const;

  // DeviceName changed: DriveTypeBox and ReadOffsetBox show the chosen
  // drive's type and read offset (the offset of the drive left is kept).
  void ChangeDrive(int index);
  // ReadOffsetBox changed, for the drive shown.
  void ChangeReadOffset(int samples);
  // The read offset of drive `drive` as the dialog holds it now.
  int ReadOffsetOf(int drive) const;
  // DriveTypeBox changed.
  void ChangeDriveType(int type);
  // The detection window, for the drive shown; true when a choice was taken
  // (NumSecReadEdit and DriveTypeBox changed).
  bool DetectReadCommand();
  // "Определить…" beside the read offset: finds the offset of the drive
  // shown and, on the user's yes, puts it into ReadOffsetBox (stored with
  // the other options on OK). True when the box changed.
  bool FindReadOffset();

  // Search extensions.
  void AddExtension(const std::string& text);
  void RemoveExtension(int index);

  // Copy range page.
  CopyRange& Range() { return range_; }
  RangeView ShowTrack(int t);
  // Range play (SpeedButton11) and stop (SpeedButton16).
  void PlayRange();
  void StopPlay();
  // The main window's timer reports the play position (track, frames into
  // it). When the dialog shows that track on the page "Записи" with CBPos
  // down, the active slider goes there; true when it moved.
  bool TimerPosition(int track, int sector);
  void SetActiveSlider(bool start) { activeStart_ = start; }
  bool ActiveSliderIsStart() const { return activeStart_; }

  // OK: validates, asks, stores every field and copies both records back,
  // and stores the options of the INI store that changed (a file that could
  // not be written is reported; the dialog closes all the same).
  // false keeps the dialog open; failedControl names the control to focus.
  bool Ok(std::string* failedControl = nullptr);
  bool Accepted() const { return accepted_; }
  // The live settings as they were just before OK copied the dialog's copy
  // over them (the range play may have changed DigitalPlayback meanwhile).
  const SettingsRecord& LiveBeforeOk() const { return liveBeforeOk_; }

 private:
  void LoadControls();
  void LoadIniOptions();
  void StoreControls();
  void KeepReadOffset();
  bool StoreIniOptions();
  void ApplyCodec(int index);
  bool CheckNumbers(std::string* failedControl);

  SettingsRecord& live_;
  AlbumRecord& liveAlbum_;
  TagBuffer& tags_;
  SettingsFormHost& host_;
  ProgramFacts& program_;
  Dialogs& dialogs_;
  SettingsRecord settings_{};
  RecordTexts* liveTexts_ = nullptr;
  RecordTexts settingsTexts_;
  RecordTexts albumTexts_;
  SettingsRecord liveBeforeOk_{};
  AlbumRecord album_{};
  SettingsControls c_;
  CopyRange range_{album_};
  CodecView codec_;
  std::vector<std::string> codecItems_, driveItems_, acmFormats_;
  std::array<std::uint8_t, 16> driveTypes_{};
  bool aspiUsable_ = false, sptiUsable_ = false;
  bool flacAvailable_ = false;
  bool opusAvailable_ = false;
  // The options of the INI store as the dialog found them, and the read
  // offset of every drive of DriveItems() as edited so far.
  struct IniOptions {
    int RipWorkers = 0;
    int FlacLevel = 5;
    int OpusBitrate = 160;
    bool LogLossless = true, LogCompressed = false;
    std::string ArServer;
    bool AutoLookup = true;
    std::vector<int> ReadOffsets;
    // The options only the INI store keeps, as read.
    ProgramOptions Stored;
  };
  IniOptions iniAtOpen_;
  std::vector<int> readOffsets_;
  bool digitalPlaybackAtOpen_ = false;
  bool activeStart_ = true;
  bool timerMoved_ = false;
  bool accepted_ = false;
};

// What the main window has to do after the dialog closed with OK.
struct AfterCloseSteps {
  bool ReselectDrive = false;    // DriveIndex changed: select it and read the disc
  bool ChooseTransport = false;  // UseSpti changed
  bool DigitalPlaybackChanged = false;
};
AfterCloseSteps CompareForAfterClose(const SettingsRecord& before, const SettingsRecord& after);

}  // namespace sonarvex
