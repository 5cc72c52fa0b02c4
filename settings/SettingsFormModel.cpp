#include "settings/SettingsFormModel.h"

#include <algorithm>
#include <cstring>

#include "settings/SettingsFormRules.h"
#include "codec/FlacWriter.h"
#include "codec/OpusWriter.h"
#include "drive/AudioReading.h"
#include "metadata/CoverArtClient.h"
#include "metadata/MusicBrainzClient.h"
#include "platform/Cp1251.h"
#include "records/TextFields.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"

namespace sonarvex {
namespace {

int Clamp(long long v, int lo, int hi) {
  return static_cast<int>(std::clamp<long long>(v, lo, hi));
}

std::string Trimmed(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  std::size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

int StoredDriveType(const std::array<std::uint8_t, 16>& types, int drive) {
  if (drive < 0 || drive >= 16) return 0;
  return types[drive] <= 23 ? types[drive] : 0;
}

}  // namespace

SettingsFormModel::SettingsFormModel(SettingsRecord& live, AlbumRecord& liveAlbum, TagBuffer& tags,
                                     SettingsFormHost& host, ProgramFacts& program,
                                     Dialogs& dialogs, RecordTexts* liveTexts,
                                     const RecordTexts* albumTexts)
    : live_(live),
      liveAlbum_(liveAlbum),
      tags_(tags),
      host_(host),
      program_(program),
      dialogs_(dialogs) {
  std::memcpy(&settings_, &live_, sizeof settings_);
  std::memcpy(&album_, &liveAlbum_, sizeof album_);
  liveTexts_ = liveTexts;
  if (liveTexts_) settingsTexts_ = *liveTexts_;
  if (albumTexts) albumTexts_ = *albumTexts;
  digitalPlaybackAtOpen_ = live_.DigitalPlayback != 0;
  codecItems_.push_back(program_.LameVersionText());
  std::string acm = program_.AcmCodecName();
  if (!acm.empty()) {
    codecItems_.push_back(acm);
    acmFormats_ = program_.AcmFormatDescriptions();
  }
  driveItems_ = program_.DriveNames();
  aspiUsable_ = program_.AspiUsable();
  sptiUsable_ = program_.SptiUsable();
  flacAvailable_ = program_.FormatAvailable(OutputKind::Flac);
  opusAvailable_ = program_.FormatAvailable(OutputKind::Opus);
  LoadControls();
  LoadIniOptions();
}

void SettingsFormModel::LoadIniOptions() {
  IniOptions& o = iniAtOpen_;
  const ProgramOptions stored = program_.Options();
  o.RipWorkers = Clamp(stored.RipWorkers, 0, kMaxRipWorkersBox);
  o.FlacLevel = stored.FormatValue(kFlacLevelOption);
  o.OpusBitrate = stored.FormatValue(kOpusBitrateOption);
  o.LogLossless = stored.LogLossless;
  o.LogCompressed = stored.LogCompressed;
  o.ArServer = stored.ArServer;
  o.AutoLookup = stored.AutoLookup;
  o.Stored = stored;
  o.ReadOffsets.clear();
  for (const std::string& drive : driveItems_)
    o.ReadOffsets.push_back(Clamp(stored.ReadOffsetOf(drive), -kMaxReadOffset, kMaxReadOffset));
  readOffsets_ = o.ReadOffsets;

  c_.RipWorkersBox = o.RipWorkers;
  c_.RipLogLosslessBox = o.LogLossless;
  c_.RipLogCompressedBox = o.LogCompressed;
  c_.FlacLevelBox = o.FlacLevel;
  c_.OpusBitrateBox = o.OpusBitrate;
  c_.ReadOffsetBox = ReadOffsetOf(c_.DeviceName);
  c_.ArServerEdit = o.ArServer;
  c_.AutoLookupBox = o.AutoLookup;
  c_.FlacVerifyBox = stored.FormatValue(kFlacVerifyOption) != 0;
  c_.ReplayGainBox = ChoiceIndex(stored.ReplayGain);
  c_.RipSecureBox = ChoiceIndex(stored.SecureRip);
  c_.RipSecureReadsBox = Clamp(stored.SecureReads, 1, ProgramOptions::kMaxSecureReads);
  c_.RipC2Box = stored.SecureC2;
  c_.RipTestAndCopyBox = stored.TestAndCopy;
  c_.RipHiddenTrackBox = stored.HiddenTrack;
  c_.MusicBrainzBox = stored.MusicBrainzEnabled;
  c_.MusicBrainzServerEdit = stored.MusicBrainzServer;
  c_.CoverArtBox = stored.CoverArtEnabled;
  c_.CoverArtServerEdit = stored.CoverArtServer;
  c_.CoverSizeBox = CoverSizeIndex(stored.CoverArtSize);
}

void SettingsFormModel::LoadControls() {
  const SettingsRecord& s = settings_;
  auto text = [&](SettingsField f) { return SettingsText(s, settingsTexts_, f); };
  c_.WorkDir = text(SettingsField::OutputFolder);
  c_.File_UseTrackName = s.NameHasTitle;
  c_.File_UseAlbumName = s.NameHasAlbum;
  c_.File_UseArtistName = s.NameHasArtist;
  c_.File_UseTrackNum = s.NameHasNumber;
  c_.Dir_AsArtistName = s.FolderPerArtist;
  c_.Dir_AsAlbumName = s.FolderPerAlbum;
  c_.UseFormatString = s.UseFormatString;
  c_.FormatEdit = text(SettingsField::FormatString);

  c_.EjectACopy = s.EjectAfterCopy;
  c_.PriorityBox = s.HighPriority;
  c_.ShutComp = s.ShutdownAfterCopy;
  c_.UseAsCDPlayerBox = s.CdPlayerAssociation;
  c_.VolumeOnCDBox = s.VolumeOnDrive;
  c_.ShowGridBox = s.ShowGrid;
  c_.DPBox = s.DigitalPlayback;
  c_.LockCDBox = s.LockTray;
  c_.CheckBox1 = s.NormalizeEnabled;
  c_.OnTheFlyEncodingBox = s.OnTheFlyEncoding;

  // LAME controls.
  c_.FormatBox = Clamp(BitrateBoxIndex(s.Lame.BitrateIndex), 0, 13);
  c_.MaxBR = Clamp(BitrateBoxIndex(s.Lame.MaxBitrateIndex), 0, 13);
  c_.LameModeBox = Clamp(s.Lame.Mode, 0, 3);
  c_.VBRBox = Clamp(s.Lame.VbrMethod + 1, 0, 4);
  c_.VBRQBox = Clamp(s.Lame.VbrQuality, 0, 9);
  c_.LameQualityBox = QualityIndexFromPreset(s.Lame.Preset);
  // The codec.
  c_.CodecBox = (!s.UseLame && codecItems_.size() > 1) ? 1 : 0;
  ApplyCodec(c_.CodecBox);
  c_.PageControl2 = Clamp(s.OutputKind, 0, kAudioPageCount - 1);

  c_.OggQualityBox = s.OggUseQuality;
  c_.OggBar = Clamp(s.OggQuality, -100, 1000);
  c_.OggMinBRBox = Clamp(s.OggMinBitrateIndex, 0, 10);
  c_.OggNomBRBox = Clamp(s.OggNominalBitrateIndex, 0, 10);
  c_.OggMaxBRBox = Clamp(s.OggMaxBitrateIndex, 0, 10);
  c_.WMABitrateBox = Clamp(s.WmaBitrateIndex, 0, 8);
  c_.UseDRMBox = s.WmaDrm;
  if (s.DecodeFilesAtOnce >= 1 && s.DecodeFilesAtOnce <= 10) {
    c_.DecodeFileBox = s.DecodeFilesAtOnce - 1;
  } else {
    // Out of range: the main window takes 1 at once.
    live_.DecodeFilesAtOnce = 1;
    settings_.DecodeFilesAtOnce = 1;
    c_.DecodeFileBox = 0;
  }
  c_.MinEdit = std::to_string(s.NormLowTarget);
  c_.SetMinEdit = std::to_string(s.NormLowThreshold);
  c_.MaxEdit = std::to_string(s.NormHighTarget);
  c_.SetMaxEdit = std::to_string(s.NormHighThreshold);

  // CDROM.
  c_.DeviceName = s.DriveIndex < driveItems_.size() ? s.DriveIndex : -1;
  std::memcpy(driveTypes_.data(), s.DriveTypes, driveTypes_.size());
  c_.DriveTypeBox = StoredDriveType(driveTypes_, c_.DeviceName >= 0 ? c_.DeviceName : s.DriveIndex);
  c_.CBMaxSpeed = s.ReadSpeed == 255;
  c_.SpeedBox = c_.CBMaxSpeed ? 49 : Clamp(s.ReadSpeed - 1, 0, 49);
  c_.NumSecReadEdit = s.SectorsPerRead == 0 ? "26" : std::to_string(s.SectorsPerRead);
  c_.SPTIBtn = s.UseSpti;
  c_.ErrorCorectionBox = s.NoiseCorrection;

  // FreeDB.
  c_.ServerEdit = text(SettingsField::CddbHost);
  c_.PathEdit = text(SettingsField::CddbPath);
  if (c_.ServerEdit.empty()) {
    c_.ServerEdit = kDefaultCddbHost;
    c_.PathEdit = kDefaultCddbPath;
  }
  c_.ProxyEdit = text(SettingsField::ProxyHost);
  c_.PortEdit = std::to_string(s.ProxyPort);
  c_.UserEdit = text(SettingsField::ProxyUser);
  c_.PasswordEdit = text(SettingsField::ProxyPassword);

  c_.ExtListBox = program_.SearchExtensions();

  c_.ShowPlayer = s.ShowPlayerButton;
  c_.ShowConvert = s.ShowConvertButton;
  c_.ShowFreeDB = s.ShowCddbButton;
  c_.ShowFIND = s.ShowFindButton;
  c_.ShowBURN = s.ShowBurnButton;
  c_.ShowWAVE = s.ShowWaveButton;
  c_.ShowWMA = s.ShowWmaButton;
  c_.MP3AsOGGBox = s.Mp3AsOgg;
  c_.WindowColorBox = s.WindowColor;
  c_.ControlColorBox = s.EditColor;
  c_.PageControl1 = s.SettingsPage < kPageCount ? s.SettingsPage : 0;

  // The copy range of the main list's selected track.
  int tracks = range_.TrackCount();
  int selected = host_.SelectedTrack();
  c_.TrackNames = tracks == 0 ? -1 : (selected >= 0 && selected < tracks ? selected : 0);
  range_.Show(c_.TrackNames);
}

std::vector<std::string> SettingsFormModel::TrackItems() const {
  std::vector<std::string> v;
  for (int i = 0; i < range_.TrackCount(); ++i) v.push_back(TrackTitleText(album_, albumTexts_, i));
  return v;
}

void SettingsFormModel::ApplyCodec(int index) {
  codec_ = CodecView{};
  if (index == 1 && codecItems_.size() > 1) {
    codec_.Lame = false;
    codec_.FormatItems = acmFormats_;
    codec_.FormatIndex = codec_.FormatItems.empty()
                             ? -1
                             : std::min<int>(settings_.AcmFormatIndex,
                                             static_cast<int>(codec_.FormatItems.size()) - 1);
    codec_.FormatWidth = 225;
    codec_.Label9 = "Формат";
  } else {
    index = 0;
    codec_.FormatItems = LameBitrateItems();
    codec_.FormatIndex = Clamp(BitrateBoxIndex(settings_.Lame.BitrateIndex), 0, 13);
    codec_.FormatWidth = 91;
    codec_.Label9 = "Битрейт: мин";
  }
  c_.CodecBox = index;
  c_.FormatBox = codec_.FormatIndex;
}

CodecView SettingsFormModel::ChangeCodec(int index) {
  // Keep what was chosen for the codec being left.
  if (c_.CodecBox == 1 && c_.FormatBox >= 0)
    settings_.AcmFormatIndex = static_cast<std::uint16_t>(c_.FormatBox);
  else if (c_.CodecBox == 0 && c_.FormatBox >= 0 && c_.FormatBox <= 13)
    settings_.Lame.BitrateIndex = BitrateFromBoxIndex(c_.FormatBox);
  ApplyCodec(index);
  return codec_;
}

std::string SettingsFormModel::CleanFormat(const std::string& text) const {
  return CleanFormatText(text);
}

std::optional<std::string> SettingsFormModel::Preview() const {
  NamingInput in{settings_, album_, tags_, &albumTexts_, &settingsTexts_};
  return FormatPreview(c_.FormatEdit, host_.DiscPresent(), in);
}

void SettingsFormModel::ChangeDrive(int index) {
  KeepReadOffset();
  c_.DeviceName = index;
  c_.DriveTypeBox = StoredDriveType(driveTypes_, index);
  c_.ReadOffsetBox = ReadOffsetOf(index);
}

void SettingsFormModel::ChangeReadOffset(int samples) {
  c_.ReadOffsetBox = Clamp(samples, -kMaxReadOffset, kMaxReadOffset);
  KeepReadOffset();
}

void SettingsFormModel::KeepReadOffset() {
  if (c_.DeviceName >= 0 && c_.DeviceName < static_cast<int>(readOffsets_.size()))
    readOffsets_[static_cast<std::size_t>(c_.DeviceName)] =
        Clamp(c_.ReadOffsetBox, -kMaxReadOffset, kMaxReadOffset);
}

int SettingsFormModel::ReadOffsetOf(int drive) const {
  if (drive < 0 || drive >= static_cast<int>(readOffsets_.size())) return 0;
  return readOffsets_[static_cast<std::size_t>(drive)];
}

void SettingsFormModel::ChangeDriveType(int type) {
  c_.DriveTypeBox = Clamp(type, 0, 23);
  if (c_.DeviceName >= 0 && c_.DeviceName < 16)
    driveTypes_[c_.DeviceName] = static_cast<std::uint8_t>(c_.DriveTypeBox);
}

bool SettingsFormModel::DetectReadCommand() {
  if (c_.DeviceName < 0) return false;
  auto n = ParseWholeNumber(c_.NumSecReadEdit);
  if (!n) {
    dialogs_.Message("'" + c_.NumSecReadEdit + "' не является целым числом.", kProgramTitle,
                     MsgIcon::Error, MsgButtons::Ok);
    return false;
  }
  if (*n < 1 || *n > 255) {
    dialogs_.Message(kSectorsRangeMessage, kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
    return false;
  }
  ReadCommandRequest req;
  req.Drive = c_.DeviceName;
  req.SectorsPerRead = static_cast<int>(*n);
  req.UseSpti = c_.SPTIBtn;
  req.WindowColor = c_.WindowColorBox;
  auto choice = host_.DetectReadCommand(req);
  if (!choice) return false;
  c_.NumSecReadEdit = std::to_string(choice->SectorsPerRead);
  ChangeDriveType(choice->DriveType);
  return true;
}

bool SettingsFormModel::FindReadOffset() {
  if (c_.DeviceName < 0 || c_.DeviceName >= static_cast<int>(driveItems_.size())) return false;
  const ReadOffsetFinding found = host_.FindReadOffset(c_.DeviceName);
  if (!found.Found) {
    // A search the user stopped says nothing more.
    if (!found.Message.empty()) dialogs_.Message(found.Message, kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
    return false;
  }
  const std::string samples = (found.Offset > 0 ? "+" : "") + std::to_string(found.Offset);
  if (dialogs_.Message(found.Message + "\n\nУстановить смещение " + samples + " для этого устройства?",
                       kProgramTitle, MsgIcon::Question, MsgButtons::YesNo) != IdYes)
    return false;
  ChangeReadOffset(found.Offset);
  return true;
}

void SettingsFormModel::AddExtension(const std::string& text) {
  std::string e = ExtensionEntry(text);
  if (!e.empty()) c_.ExtListBox.push_back(e);
}

void SettingsFormModel::RemoveExtension(int index) {
  if (index >= 0 && index < static_cast<int>(c_.ExtListBox.size()))
    c_.ExtListBox.erase(c_.ExtListBox.begin() + index);
}

RangeView SettingsFormModel::ShowTrack(int t) {
  c_.TrackNames = t;
  return range_.Show(t);
}

void SettingsFormModel::PlayRange() {
  WindowState st = host_.State();
  if (st == WindowState::Searching || st == WindowState::FileList) return;
  if (!host_.DiscPresent() || range_.Track() < 0 || range_.Track() >= range_.TrackCount()) return;
  live_.DigitalPlayback = 0;
  host_.PlayRange(range_.Track(), range_.PlayFrom(), range_.PlayTo());
}

void SettingsFormModel::StopPlay() {
  host_.StopPlay();
}

bool SettingsFormModel::TimerPosition(int track, int sector) {
  if (c_.PageControl1 != 1 || !c_.CBPos || track != range_.Track() || range_.Track() < 0)
    return false;
  if (activeStart_)
    range_.MoveStart(sector);
  else
    range_.MoveEnd(sector);
  timerMoved_ = true;
  return true;
}

bool SettingsFormModel::CheckNumbers(std::string* failedControl) {
  struct Edit {
    const char* name;
    const std::string& text;
    long long def, lo, hi;
    const char* message;
  };
  const Edit edits[] = {
      {"NumSecReadEdit", c_.NumSecReadEdit, 26, 1, 255, kSectorsRangeMessage},
      {"MinEdit", c_.MinEdit, 90, 0, 100, kNormRangeMessage},
      {"SetMinEdit", c_.SetMinEdit, 90, 0, 100, kNormRangeMessage},
      {"MaxEdit", c_.MaxEdit, 98, 0, 100, kNormRangeMessage},
      {"SetMaxEdit", c_.SetMaxEdit, 98, 0, 100, kNormRangeMessage},
      {"PortEdit", c_.PortEdit, 80, 1, 65535, kPortRangeMessage},
  };
  for (const Edit& e : edits) {
    if (std::string(e.name) == "PortEdit" && Trimmed(e.text).empty()) continue;
    if (!ReadNumberEdit(e.text, e.def, e.lo, e.hi).Ok) {
      dialogs_.Message(e.message, kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
      if (failedControl) *failedControl = e.name;
      return false;
    }
  }
  return true;
}

bool SettingsFormModel::Ok(std::string* failedControl) {
  // 1. The format string.
  if (c_.UseFormatString && !FormatStringValid(c_.FormatEdit)) {
    dialogs_.Message(kBadFormatMessage, kBadFormatCaption, MsgIcon::Information, MsgButtons::Ok);
    if (failedControl) *failedControl = "FormatEdit";
    return false;
  }
  if (c_.UseFormatString && !FormatNamesTrack(c_.FormatEdit)) {
    dialogs_.Message(kFormatWithoutTrackMessage, kBadFormatCaption, MsgIcon::Information,
                     MsgButtons::Ok);
    if (failedControl) *failedControl = "FormatEdit";
    return false;
  }
  // The output folder must fit its field; the number edits their fields.
  // Without the full texts to keep it in, a folder CP1251 cannot hold is
  // refused rather than stored with "?".
  FolderResult folder = liveTexts_ ? CheckFolderText(c_.WorkDir) : CheckOutputFolder(c_.WorkDir);
  if (!liveTexts_ && folder.Error.empty()) folder.Stored = Cp1251ToUtf8(folder.Stored);
  if (!folder.Error.empty()) {
    dialogs_.Message(folder.Error, kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
    if (failedControl) *failedControl = "WorkDir";
    return false;
  }
  if (!CheckNumbers(failedControl)) return false;
  const std::optional<std::string> arServer = ArServerSetting(c_.ArServerEdit);
  if (!arServer) {
    dialogs_.Message(BadArServerMessage(c_.ArServerEdit), kProgramTitle, MsgIcon::Warning,
                     MsgButtons::Ok);
    if (failedControl) *failedControl = "ArServerEdit";
    return false;
  }
  c_.ArServerEdit = *arServer;
  c_.MusicBrainzServerEdit = Trimmed(c_.MusicBrainzServerEdit);
  c_.CoverArtServerEdit = Trimmed(c_.CoverArtServerEdit);
  const struct {
    const std::string& text;
    std::string (*base)(const std::string&);
    const char* what;
    const char* control;
  } webServers[] = {
      {c_.MusicBrainzServerEdit, MusicBrainzServerBase, "MusicBrainz", "MusicBrainzServerEdit"},
      {c_.CoverArtServerEdit, CoverArtServerBase, "Cover Art Archive", "CoverArtServerEdit"}};
  for (const auto& w : webServers)
    if (!w.text.empty() && w.base(w.text).empty()) {
      dialogs_.Message(BadWebServerMessage(w.what, w.text), kProgramTitle, MsgIcon::Warning,
                       MsgButtons::Ok);
      if (failedControl) *failedControl = w.control;
      return false;
    }
  // 2. Offer to create a missing folder.
  if (!digitalPlaybackAtOpen_ && !DirectoryExists(c_.WorkDir)) {
    if (dialogs_.Message(CreateFolderQuestion(c_.WorkDir), kCreateFolderCaption, MsgIcon::Question,
                         MsgButtons::YesNo) == IdYes &&
        !MakeDirectories(c_.WorkDir)) {
      dialogs_.Message("Не удалось создать папку '" + c_.WorkDir + "'.", kProgramTitle,
                       MsgIcon::Warning, MsgButtons::Ok);
    }
  }
  // 3. The trailing separator.
  c_.WorkDir = folder.Stored;
  SetSettingsText(settings_, settingsTexts_, SettingsField::OutputFolder, folder.Stored);
  // 4. The search extensions and the options of the INI store.
  program_.SetSearchExtensions(c_.ExtListBox);
  if (!StoreIniOptions())
    dialogs_.Message(kIniWriteFailedMessage, kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
  // 5. Every field. A range slider moved by the play position applies the
  // start slider once more.
  if (timerMoved_ && range_.Track() >= 0) range_.MoveStart(range_.View().Start);
  StoreControls();
  // 6. Both copies back into the main window.
  std::memcpy(&liveBeforeOk_, &live_, sizeof live_);
  std::memcpy(&live_, &settings_, sizeof live_);
  if (liveTexts_) *liveTexts_ = ValidSettingsTexts(settings_, settingsTexts_);
  std::memcpy(&liveAlbum_, &album_, sizeof album_);
  accepted_ = true;
  return true;
}

bool SettingsFormModel::StoreIniOptions() {
  const IniOptions& o = iniAtOpen_;
  const int workers = Clamp(c_.RipWorkersBox, 0, kMaxRipWorkersBox);
  const int level = kFlacLevelOption.Clamped(c_.FlacLevelBox);
  const int opusKbits = kOpusBitrateOption.Clamped(c_.OpusBitrateBox);
  KeepReadOffset();
  const bool workersChanged = workers != o.RipWorkers;
  const bool levelChanged = flacAvailable_ && level != o.FlacLevel;
  const bool opusChanged = opusAvailable_ && opusKbits != o.OpusBitrate;
  bool offsetsChanged = false;
  for (std::size_t i = 0; i < readOffsets_.size() && i < o.ReadOffsets.size(); ++i)
    offsetsChanged |= readOffsets_[i] != o.ReadOffsets[i];
  const bool logChanged =
      c_.RipLogLosslessBox != o.LogLossless || c_.RipLogCompressedBox != o.LogCompressed;
  const bool serverChanged = c_.ArServerEdit != o.ArServer;
  const bool lookupChanged = c_.AutoLookupBox != o.AutoLookup;
  // The options only the INI store keeps: those the dialog changed.
  const ProgramOptions& was = o.Stored;
  ProgramOptions edited = was;
  if (flacAvailable_) edited.SetFormatValue(kFlacVerifyOption, c_.FlacVerifyBox ? 1 : 0);
  edited.ReplayGain = ChoiceValue(c_.ReplayGainBox);
  edited.SecureRip = ChoiceValue(c_.RipSecureBox);
  edited.SecureReads = Clamp(c_.RipSecureReadsBox, 1, ProgramOptions::kMaxSecureReads);
  edited.SecureC2 = c_.RipC2Box;
  edited.TestAndCopy = c_.RipTestAndCopyBox;
  edited.HiddenTrack = c_.RipHiddenTrackBox;
  edited.MusicBrainzEnabled = c_.MusicBrainzBox;
  edited.MusicBrainzServer = c_.MusicBrainzServerEdit;
  edited.CoverArtEnabled = c_.CoverArtBox;
  edited.CoverArtServer = c_.CoverArtServerEdit;
  edited.CoverArtSize = CoverSizeValue(c_.CoverSizeBox);
  const bool verifyChanged =
      edited.FormatValue(kFlacVerifyOption) != was.FormatValue(kFlacVerifyOption);
  const bool moreChanged = verifyChanged || edited.ReplayGain != was.ReplayGain ||
                           edited.SecureRip != was.SecureRip ||
                           edited.SecureReads != was.SecureReads ||
                           edited.SecureC2 != was.SecureC2 || edited.TestAndCopy != was.TestAndCopy ||
                           edited.HiddenTrack != was.HiddenTrack ||
                           edited.MusicBrainzEnabled != was.MusicBrainzEnabled ||
                           edited.MusicBrainzServer != was.MusicBrainzServer ||
                           edited.CoverArtEnabled != was.CoverArtEnabled ||
                           edited.CoverArtServer != was.CoverArtServer ||
                           edited.CoverArtSize != was.CoverArtSize;
  if (!workersChanged && !levelChanged && !opusChanged && !offsetsChanged && !logChanged && !serverChanged &&
      !lookupChanged && !moreChanged)
    return true;
  // Only what the dialog changed is stored; the rest stays as it is on disk.
  return program_.ChangeOptions([&](ProgramOptions& p) {
    if (workersChanged) p.RipWorkers = workers;
    if (levelChanged) p.SetFormatValue(kFlacLevelOption, level);
    if (opusChanged) p.SetFormatValue(kOpusBitrateOption, opusKbits);
    for (std::size_t i = 0;
         i < readOffsets_.size() && i < o.ReadOffsets.size() && i < driveItems_.size(); ++i)
      if (readOffsets_[i] != o.ReadOffsets[i]) p.ReadOffsets[driveItems_[i]] = readOffsets_[i];
    if (logChanged) {
      p.LogLossless = c_.RipLogLosslessBox;
      p.LogCompressed = c_.RipLogCompressedBox;
    }
    if (serverChanged) p.ArServer = c_.ArServerEdit;
    if (lookupChanged) p.AutoLookup = c_.AutoLookupBox;
    if (verifyChanged) p.SetFormatValue(kFlacVerifyOption, edited.FormatValue(kFlacVerifyOption));
    if (edited.ReplayGain != was.ReplayGain) p.ReplayGain = edited.ReplayGain;
    if (edited.SecureRip != was.SecureRip) p.SecureRip = edited.SecureRip;
    if (edited.SecureReads != was.SecureReads) p.SecureReads = edited.SecureReads;
    if (edited.SecureC2 != was.SecureC2) p.SecureC2 = edited.SecureC2;
    if (edited.TestAndCopy != was.TestAndCopy) p.TestAndCopy = edited.TestAndCopy;
    if (edited.HiddenTrack != was.HiddenTrack) p.HiddenTrack = edited.HiddenTrack;
    if (edited.MusicBrainzEnabled != was.MusicBrainzEnabled) p.MusicBrainzEnabled = edited.MusicBrainzEnabled;
    if (edited.MusicBrainzServer != was.MusicBrainzServer) p.MusicBrainzServer = edited.MusicBrainzServer;
    if (edited.CoverArtEnabled != was.CoverArtEnabled) p.CoverArtEnabled = edited.CoverArtEnabled;
    if (edited.CoverArtServer != was.CoverArtServer) p.CoverArtServer = edited.CoverArtServer;
    if (edited.CoverArtSize != was.CoverArtSize) p.CoverArtSize = edited.CoverArtSize;
  });
}

void SettingsFormModel::StoreControls() {
  SettingsRecord& s = settings_;
  s.NameHasTitle = c_.File_UseTrackName;
  s.NameHasAlbum = c_.File_UseAlbumName;
  s.NameHasArtist = c_.File_UseArtistName;
  s.NameHasNumber = c_.File_UseTrackNum;
  if (!s.NameHasTitle && !s.NameHasAlbum && !s.NameHasArtist && !s.NameHasNumber)
    s.NameHasTitle = 1;
  s.FolderPerArtist = c_.Dir_AsArtistName;
  s.FolderPerAlbum = c_.Dir_AsAlbumName;
  s.UseFormatString = c_.UseFormatString;
  SetSettingsText(s, settingsTexts_, SettingsField::FormatString,
                  FitField(CleanFormatText(c_.FormatEdit), 51));

  s.EjectAfterCopy = c_.EjectACopy;
  s.HighPriority = c_.PriorityBox;
  s.ShutdownAfterCopy = c_.ShutComp;
  s.CdPlayerAssociation = c_.UseAsCDPlayerBox;
  s.VolumeOnDrive = c_.VolumeOnCDBox;
  s.ShowGrid = c_.ShowGridBox;
  s.DigitalPlayback = c_.DPBox;
  s.LockTray = c_.LockCDBox;
  s.NormalizeEnabled = c_.CheckBox1;
  s.OnTheFlyEncoding = c_.OnTheFlyEncodingBox;

  s.UseLame = c_.CodecBox == 0;
  if (s.UseLame) {
    LameSettings& l = s.Lame;
    if (c_.FormatBox >= 0 && c_.FormatBox <= 13) l.BitrateIndex = BitrateFromBoxIndex(c_.FormatBox);
    l.MaxBitrateIndex = BitrateFromBoxIndex(Clamp(c_.MaxBR, 0, 13));
    l.VbrMethod = static_cast<std::int8_t>(Clamp(c_.VBRBox, 0, 4) - 1);
    l.VbrEnabled = c_.VBRBox > 0;
    l.VbrQuality = Clamp(c_.VBRQBox, 0, 9);
    l.Mode = Clamp(c_.LameModeBox, 0, 3);
    l.Preset = static_cast<std::int16_t>(PresetFromQualityIndex(c_.LameQualityBox));
  } else if (c_.FormatBox >= 0) {
    s.AcmFormatIndex = static_cast<std::uint16_t>(c_.FormatBox);
  }
  // The FLAC sheet is not one the record keeps: the one kept stays.
  if (c_.PageControl2 >= 0 && c_.PageControl2 < kAudioPageCount)
    s.OutputKind = static_cast<std::uint8_t>(c_.PageControl2);

  s.OggUseQuality = c_.OggQualityBox;
  s.OggQuality = Clamp(c_.OggBar, -100, 1000);
  s.OggMinBitrateIndex = Clamp(c_.OggMinBRBox, 0, 10);
  s.OggNominalBitrateIndex = Clamp(c_.OggNomBRBox, 0, 10);
  s.OggMaxBitrateIndex = Clamp(c_.OggMaxBRBox, 0, 10);
  s.WmaBitrateIndex = static_cast<std::uint8_t>(Clamp(c_.WMABitrateBox, 0, 8));
  s.WmaDrm = c_.UseDRMBox;
  s.DecodeFilesAtOnce = static_cast<std::uint8_t>(Clamp(c_.DecodeFileBox, 0, 9) + 1);
  s.NormLowTarget = static_cast<std::uint8_t>(ReadNumberEdit(c_.MinEdit, 90, 0, 100).Value);
  s.NormLowThreshold = static_cast<std::uint8_t>(ReadNumberEdit(c_.SetMinEdit, 90, 0, 100).Value);
  s.NormHighTarget = static_cast<std::uint8_t>(ReadNumberEdit(c_.MaxEdit, 98, 0, 100).Value);
  s.NormHighThreshold = static_cast<std::uint8_t>(ReadNumberEdit(c_.SetMaxEdit, 98, 0, 100).Value);

  if (c_.DeviceName >= 0 && c_.DeviceName <= 255)
    s.DriveIndex = static_cast<std::uint8_t>(c_.DeviceName);
  ChangeDriveType(c_.DriveTypeBox);
  std::memcpy(s.DriveTypes, driveTypes_.data(), driveTypes_.size());
  s.ReadSpeed = c_.CBMaxSpeed ? 255 : static_cast<std::uint8_t>(Clamp(c_.SpeedBox, 0, 49) + 1);
  s.SectorsPerRead = static_cast<std::uint8_t>(ReadNumberEdit(c_.NumSecReadEdit, 26, 1, 255).Value);
  s.UseSpti = c_.SPTIBtn;
  s.NoiseCorrection = c_.ErrorCorectionBox;

  auto set = [&](SettingsField f, const std::string& utf8) {
    SetSettingsText(s, settingsTexts_, f, utf8);  // cut to the field in characters
  };
  set(SettingsField::CddbHost, Trimmed(c_.ServerEdit));
  set(SettingsField::CddbPath, c_.PathEdit);
  set(SettingsField::ProxyHost, Trimmed(c_.ProxyEdit));
  if (!Trimmed(c_.PortEdit).empty())
    s.ProxyPort = static_cast<std::int32_t>(ReadNumberEdit(c_.PortEdit, 80, 1, 65535).Value);
  set(SettingsField::ProxyUser, c_.UserEdit);
  set(SettingsField::ProxyPassword, c_.PasswordEdit);
  s.ProxyEnabled = !FieldText(s.ProxyHost).empty();

  s.ShowPlayerButton = c_.ShowPlayer;
  s.ShowConvertButton = c_.ShowConvert;
  s.ShowCddbButton = c_.ShowFreeDB;
  s.ShowFindButton = c_.ShowFIND;
  s.ShowBurnButton = c_.ShowBURN;
  s.ShowWaveButton = c_.ShowWAVE;
  s.ShowWmaButton = c_.ShowWMA;
  s.Mp3AsOgg = c_.MP3AsOGGBox;
  s.WindowColor = c_.WindowColorBox;
  s.EditColor = c_.ControlColorBox;
  s.SettingsPage = static_cast<std::uint8_t>(Clamp(c_.PageControl1, 0, kPageCount - 1));
}

AfterCloseSteps CompareForAfterClose(const SettingsRecord& before, const SettingsRecord& after) {
  AfterCloseSteps r;
  r.ReselectDrive = before.DriveIndex != after.DriveIndex;
  r.ChooseTransport = before.UseSpti != after.UseSpti;
  r.DigitalPlaybackChanged = (before.DigitalPlayback != 0) != (after.DigitalPlayback != 0);
  return r;
}

}  // namespace sonarvex
