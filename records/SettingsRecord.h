// All user settings in one fixed-layout record. Its raw 1220-byte image is
// "set.dat" and every profile file; the other subsystems read their options
// from it by field name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sonarvex {

#pragma pack(push, 1)
struct LameSettings {
  std::int32_t BitrateIndex;     // MPEG-1 Layer III bitrate index 1..14
  std::int32_t MaxBitrateIndex;  // the same, for the VBR maximum
  std::int32_t Mode;             // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
  std::int8_t VbrMethod;         // -1 none, 0 default, 1 old, 2 new, 3 mtrh
  std::uint8_t Reserved1[3];
  std::int32_t VbrQuality;  // 0..9
  std::uint8_t VbrEnabled;
  std::uint8_t Reserved2;
  std::int16_t Preset;
};

struct SettingsRecord {
  char OutputFolder[261];  // ends in the folder separator
  std::uint8_t NameHasTitle;
  std::uint8_t NameHasAlbum;
  std::uint8_t NameHasArtist;
  std::uint8_t NameHasNumber;
  std::uint8_t FolderPerAlbum;
  std::uint8_t FolderPerArtist;
  std::uint8_t CompressOutput;
  std::uint8_t Reserved1[150];
  std::uint16_t AcmFormatIndex;
  std::uint8_t OutputKind;  // 0 WAV, 1 MP3, 2 WMA, 3 Ogg Vorbis
  std::uint8_t Reserved2[226];
  std::uint8_t DriveIndex;
  std::uint8_t ReadSpeed;  // 1..50 (x 176.4 kB/s), 255 = maximum
  std::uint8_t CdPlayerAssociation;
  std::uint8_t EjectAfterCopy;
  std::uint8_t UseLame;
  std::uint8_t ShutdownAfterCopy;
  std::uint8_t SectorsPerRead;  // 0 means 26
  std::uint8_t UseSpti;
  std::uint8_t ShowGrid;
  std::uint8_t HighPriority;
  std::uint8_t ProxyEnabled;
  char CddbHost[25];
  char ProxyHost[25];
  char CddbPath[30];
  char ProxyUser[25];
  char ProxyPassword[25];
  std::int32_t ProxyPort;
  LameSettings Lame;
  std::uint8_t Volume;  // 0..255, 0 is read as 255
  std::uint8_t DecodeFilesAtOnce;
  std::uint8_t SettingsPage;
  std::uint8_t NormalizeEnabled;
  std::uint8_t VolumeOnDrive;
  std::uint8_t DigitalPlayback;
  std::uint8_t LockTray;
  std::uint8_t NoiseCorrection;
  std::int16_t ColumnWidths[5];
  std::uint8_t NormLowThreshold;
  std::uint8_t NormHighThreshold;
  std::uint8_t NormLowTarget;
  std::uint8_t NormHighTarget;
  std::uint8_t ShowWaveButton;
  std::uint8_t ShowWmaButton;
  std::uint8_t WmaDrm;
  std::uint8_t WmaBitrateIndex;  // into 32, 40, 48, 64, 80, 96, 128, 160, 192 kbit/s
  std::uint8_t ShowBurnButton;
  std::uint8_t ShowFindButton;
  std::uint8_t ShowConvertButton;
  std::uint8_t ShowCddbButton;
  std::uint8_t ShowPlayerButton;
  char ConvertFolder[261];
  std::uint8_t ConvertDirection;
  std::uint8_t ConvertSaveToFolder;
  std::uint8_t ConvertDeleteSource;
  std::uint8_t ConvertFormatIndex;
  std::uint8_t ShowCompressedSize;
  std::uint8_t Reserved3[3];
  std::uint32_t WindowColor;  // COLORREF 0x00BBGGRR
  std::uint32_t EditColor;
  std::uint8_t DriveTypes[16];
  std::uint8_t UseFormatString;
  char FormatString[51];
  std::uint8_t OnTheFlyEncoding;
  std::uint8_t Reserved4[3];
  std::int32_t OggMinBitrateIndex;
  std::int32_t OggMaxBitrateIndex;
  std::int32_t OggNominalBitrateIndex;
  std::int32_t OggQuality;  // thousandths, -100..1000
  std::uint8_t OggUseQuality;
  std::uint8_t Reserved5[3];
  std::uint8_t Mp3AsOgg;
  std::uint8_t Reserved6[3];
};
#pragma pack(pop)

static_assert(sizeof(LameSettings) == 24);
static_assert(offsetof(LameSettings, BitrateIndex) == 0);
static_assert(offsetof(LameSettings, MaxBitrateIndex) == 4);
static_assert(offsetof(LameSettings, Mode) == 8);
static_assert(offsetof(LameSettings, VbrMethod) == 12);
static_assert(offsetof(LameSettings, VbrQuality) == 16);
static_assert(offsetof(LameSettings, VbrEnabled) == 20);
static_assert(offsetof(LameSettings, Preset) == 22);

static_assert(sizeof(SettingsRecord) == 1220);
static_assert(offsetof(SettingsRecord, OutputFolder) == 0);
static_assert(offsetof(SettingsRecord, NameHasTitle) == 261);
static_assert(offsetof(SettingsRecord, NameHasAlbum) == 262);
static_assert(offsetof(SettingsRecord, NameHasArtist) == 263);
static_assert(offsetof(SettingsRecord, NameHasNumber) == 264);
static_assert(offsetof(SettingsRecord, FolderPerAlbum) == 265);
static_assert(offsetof(SettingsRecord, FolderPerArtist) == 266);
static_assert(offsetof(SettingsRecord, CompressOutput) == 267);
static_assert(offsetof(SettingsRecord, Reserved1) == 268);
static_assert(offsetof(SettingsRecord, AcmFormatIndex) == 418);
static_assert(offsetof(SettingsRecord, OutputKind) == 420);
static_assert(offsetof(SettingsRecord, Reserved2) == 421);
static_assert(offsetof(SettingsRecord, DriveIndex) == 647);
static_assert(offsetof(SettingsRecord, ReadSpeed) == 648);
static_assert(offsetof(SettingsRecord, CdPlayerAssociation) == 649);
static_assert(offsetof(SettingsRecord, EjectAfterCopy) == 650);
static_assert(offsetof(SettingsRecord, UseLame) == 651);
static_assert(offsetof(SettingsRecord, ShutdownAfterCopy) == 652);
static_assert(offsetof(SettingsRecord, SectorsPerRead) == 653);
static_assert(offsetof(SettingsRecord, UseSpti) == 654);
static_assert(offsetof(SettingsRecord, ShowGrid) == 655);
static_assert(offsetof(SettingsRecord, HighPriority) == 656);
static_assert(offsetof(SettingsRecord, ProxyEnabled) == 657);
static_assert(offsetof(SettingsRecord, CddbHost) == 658);
static_assert(offsetof(SettingsRecord, ProxyHost) == 683);
static_assert(offsetof(SettingsRecord, CddbPath) == 708);
static_assert(offsetof(SettingsRecord, ProxyUser) == 738);
static_assert(offsetof(SettingsRecord, ProxyPassword) == 763);
static_assert(offsetof(SettingsRecord, ProxyPort) == 788);
static_assert(offsetof(SettingsRecord, Lame) == 792);
static_assert(offsetof(SettingsRecord, Volume) == 816);
static_assert(offsetof(SettingsRecord, DecodeFilesAtOnce) == 817);
static_assert(offsetof(SettingsRecord, SettingsPage) == 818);
static_assert(offsetof(SettingsRecord, NormalizeEnabled) == 819);
static_assert(offsetof(SettingsRecord, VolumeOnDrive) == 820);
static_assert(offsetof(SettingsRecord, DigitalPlayback) == 821);
static_assert(offsetof(SettingsRecord, LockTray) == 822);
static_assert(offsetof(SettingsRecord, NoiseCorrection) == 823);
static_assert(offsetof(SettingsRecord, ColumnWidths) == 824);
static_assert(offsetof(SettingsRecord, NormLowThreshold) == 834);
static_assert(offsetof(SettingsRecord, NormHighThreshold) == 835);
static_assert(offsetof(SettingsRecord, NormLowTarget) == 836);
static_assert(offsetof(SettingsRecord, NormHighTarget) == 837);
static_assert(offsetof(SettingsRecord, ShowWaveButton) == 838);
static_assert(offsetof(SettingsRecord, ShowWmaButton) == 839);
static_assert(offsetof(SettingsRecord, WmaDrm) == 840);
static_assert(offsetof(SettingsRecord, WmaBitrateIndex) == 841);
static_assert(offsetof(SettingsRecord, ShowBurnButton) == 842);
static_assert(offsetof(SettingsRecord, ShowFindButton) == 843);
static_assert(offsetof(SettingsRecord, ShowConvertButton) == 844);
static_assert(offsetof(SettingsRecord, ShowCddbButton) == 845);
static_assert(offsetof(SettingsRecord, ShowPlayerButton) == 846);
static_assert(offsetof(SettingsRecord, ConvertFolder) == 847);
static_assert(offsetof(SettingsRecord, ConvertDirection) == 1108);
static_assert(offsetof(SettingsRecord, ConvertSaveToFolder) == 1109);
static_assert(offsetof(SettingsRecord, ConvertDeleteSource) == 1110);
static_assert(offsetof(SettingsRecord, ConvertFormatIndex) == 1111);
static_assert(offsetof(SettingsRecord, ShowCompressedSize) == 1112);
static_assert(offsetof(SettingsRecord, Reserved3) == 1113);
static_assert(offsetof(SettingsRecord, WindowColor) == 1116);
static_assert(offsetof(SettingsRecord, EditColor) == 1120);
static_assert(offsetof(SettingsRecord, DriveTypes) == 1124);
static_assert(offsetof(SettingsRecord, UseFormatString) == 1140);
static_assert(offsetof(SettingsRecord, FormatString) == 1141);
static_assert(offsetof(SettingsRecord, OnTheFlyEncoding) == 1192);
static_assert(offsetof(SettingsRecord, Reserved4) == 1193);
static_assert(offsetof(SettingsRecord, OggMinBitrateIndex) == 1196);
static_assert(offsetof(SettingsRecord, OggMaxBitrateIndex) == 1200);
static_assert(offsetof(SettingsRecord, OggNominalBitrateIndex) == 1204);
static_assert(offsetof(SettingsRecord, OggQuality) == 1208);
static_assert(offsetof(SettingsRecord, OggUseQuality) == 1212);
static_assert(offsetof(SettingsRecord, Reserved5) == 1213);
static_assert(offsetof(SettingsRecord, Mp3AsOgg) == 1216);
static_assert(offsetof(SettingsRecord, Reserved6) == 1217);

inline constexpr std::uint32_t kDefaultWindowColor = 13758449;
inline constexpr std::uint32_t kDefaultEditColor = 13758462;

// The defaults a first start gets (no settings file): sets the listed fields
// and leaves every other field as it is. outputFolder is stored as given.
void ApplyFirstStartDefaults(SettingsRecord& s, const char* outputFolder);

// The default output folder: the user's XDG music folder (else ~/Music/),
// ending in '/'; only a folder that OutputFolder can hold whole (CP1251, at
// most 260 bytes) is chosen.
const char* DefaultOutputFolder();

// The same choice, with the folder that was passed over (empty when none):
// the XDG music folder when the record could not hold it.
struct DefaultFolderChoice {
  std::string Folder;
  std::string PassedOver;
};
DefaultFolderChoice ChooseDefaultOutputFolder();
// Whether OutputFolder can hold this native folder path whole.
bool OutputFolderFits(const std::string& utf8);

}  // namespace sonarvex
