// The rules of the settings dialog that need no window: the item lists of
// its boxes, the conversions between the boxes and the record fields, the
// number edits, the format string rules and the folder check.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rip/OutputNaming.h"
#include "metadata/CddbClient.h"

namespace sonarvex {

// Pages of the dialog (index = SettingsPage) and of its audio page.
inline constexpr int kPageCount = 8;
// The page of the audio formats (its first sheet is MP3).
inline constexpr int kAudioSettingsPage = 3;
// The page of the search extensions.
inline constexpr int kSearchSettingsPage = 6;
inline constexpr int kAudioPageCount = 4;
const std::vector<std::string>& PageCaptions();       // "Файлы" ... "Вид"
const std::vector<std::string>& AudioPageCaptions();  // "MP3", "OGG", "WMA", "Нормализация"
// The FLAC sheet of the audio page, after those above. The record's
// OutputKind keeps the sheet shown (one of the four); it never holds this one.
inline constexpr int kFlacAudioPage = kAudioPageCount;
inline constexpr const char* kFlacPageCaption = "FLAC";
// The Opus sheet, after FLAC's.
inline constexpr int kOpusAudioPage = kFlacAudioPage + 1;
inline constexpr const char* kOpusPageCaption = "Opus";
const std::vector<std::string>& ViewPageCaptions();  // "Кнопки", "Цветовая схема"

// Item lists.
const std::vector<std::string>& LameBitrateItems();  // "320kBit/s" .. "32kBit/s" (14)
const std::vector<std::string>& VbrItems();          // "Нет", "Default", "OLD", "NEW", "MTRH"
const std::vector<std::string>& VbrQualityItems();   // "VBR 0" .. "VBR 9"
const std::vector<std::string>& LameModeItems();     // "Stereo", "JoinStereo", ...
const std::vector<std::string>& LameQualityItems();  // "", "High", ... "Studio" (12)
const std::vector<std::string>& OggBitrateItems();   // "350 kBit/s" .. "32 kBit/s" (11)
const std::vector<std::string>& WmaBitrateItems();   // "32 kBit/s" .. "192 kBit/s" (9)
const std::vector<std::string>& DecodeFileItems();   // "Всегда один", "2" .. "10"
const std::vector<std::string>& SpeedItems();        // "1x ( 176 Кб/с )" .. 50 entries
const std::vector<std::string>& DriveTypeItems();    // 24 drive types

// LameQualityBox index <-> Preset.
int PresetFromQualityIndex(int index);   // another index gives 2
int QualityIndexFromPreset(int preset);  // an unknown preset gives 1

// FormatBox / MaxBR index <-> MPEG-1 Layer III bitrate index 1..14.
inline int BitrateBoxIndex(int bitrateIndex) {
  return 14 - bitrateIndex;
}
inline int BitrateFromBoxIndex(int index) {
  return 14 - index;
}

// The label of the Ogg quality slider: position / 100 as a decimal number.
std::string OggQualityText(int position);

// Number edits. A text that is not a whole number gives nullopt (the field
// then takes its default); a number gives its value, however large.
std::optional<long long> ParseWholeNumber(std::string_view text);

// The result of reading a number edit on OK.
struct NumberResult {
  bool Ok = true;       // false: out of range, the dialog stays open
  long long Value = 0;  // the value to store (the default for a non-number)
};
NumberResult ReadNumberEdit(std::string_view text, long long defaultValue, long long min,
                            long long max);

// Format string of file names.
// Characters refused while typing: " * / : < > ? | and anything without a
// CP1251 form.
bool FormatCharRefused(char32_t c);
// Removes refused characters and reduces every run of '%' to one.
std::string CleanFormatText(std::string_view utf8);
// The codes hint of the format edit (four lines).
std::string FormatHint();
// OK accepts a format string that is not empty, does not end with '\' or
// '%', and has a '%' before its last character.
// Why FormatStringValid refuses text, for a line of the command line
// (Russian; "" when it does not).
std::string FormatStringProblem(std::string_view text);
bool FormatStringValid(std::string_view text);
// Whether the expansion of a format string names the track (%T or %N, or
// their Cyrillic letters, before any code that ends the expansion): without
// either every track of a disc would get the same name.
bool FormatNamesTrack(std::string_view utf8);
// The preview below the edit: nullopt leaves it as it is, "" clears it,
// anything else is shown. `text` and the result are UTF-8.
std::optional<std::string> FormatPreview(std::string_view text, bool discPresent,
                                         const NamingInput& naming);

// Search extensions: the entry an added text gives (empty: none).
std::string ExtensionEntry(std::string_view utf8);

// The output folder on OK (UTF-8 as typed): the folder as stored in the
// record (CP1251, with the trailing '/'), or the reason it cannot be.
struct FolderResult {
  std::string Stored;  // CP1251, ends in '/'
  std::string Error;   // message text, empty when fine
};
FolderResult CheckOutputFolder(std::string_view utf8);
// The same for a folder kept whole beside the record (any script): Stored is
// the UTF-8 folder ending in '/', at most 260 characters.
FolderResult CheckFolderText(const std::string& utf8);

// Text fields of the record: the longest prefix of utf8 that fits a field of
// `fieldSize` bytes (one byte is the terminating NUL) in CP1251.
std::string FitField(std::string_view utf8, std::size_t fieldSize);

// The CDDB server offered when the field is empty: kDefaultCddbHost and
// kDefaultCddbPath of the CDDB client.

// Colours: the choices of the two colour boxes.
inline constexpr std::uint32_t kSystemWindowColor = 0x8000000A;  // inactive border
inline constexpr std::uint32_t kSystemEditColor = 0x80000005;    // window background
struct ColourItem {
  std::uint32_t Value;
  const char* Name;
};
const std::vector<ColourItem>& ColourItems();

// Messages.
inline constexpr const char* kBadFormatMessage = "Неверная сторока формата имени файлов.";
inline constexpr const char* kBadFormatCaption = "Sonarvex";
inline constexpr const char* kFormatWithoutTrackMessage =
    "В строке формата нет ни названия трека (%T), ни его номера (%N): все треки диска "
    "получили бы одно и то же имя.";
std::string CreateFolderQuestion(const std::string& folderUtf8);
inline constexpr const char* kCreateFolderCaption = "???";
inline constexpr const char* kSectorsRangeMessage = "Читать секторов: введите число от 1 до 255.";
inline constexpr const char* kNormRangeMessage = "Нормализация: введите число от 0 до 100.";
inline constexpr const char* kPortRangeMessage = "Порт: введите число от 1 до 65535.";
// The AccurateRip server edit on OK: the text to store without the spaces
// around it ("" turns verification off), or nullopt when it is not
// HOST[:PORT] as ParseArServer reads it.
std::optional<std::string> ArServerSetting(std::string_view text);
std::string BadArServerMessage(const std::string& textUtf8);
inline constexpr const char* kIniWriteFailedMessage =
    "Не удалось сохранить часть настроек в файл setting/sonarvex.ini.";

// The options kept in the INI store (setting/sonarvex.ini).
// "Сжимать дорожек одновременно": 0 is "авто"; the most is the Session's
// kMaxRipWorkers.
inline constexpr int kMaxRipWorkersBox = 64;
inline constexpr const char* kRipWorkersAutoText = "авто";
// The FLAC sheet (levels kFlacMinLevel..kFlacMaxLevel of codec/FlacWriter.h)
// without libFLAC: this note, the controls disabled.
inline constexpr const char* kNoFlacNote =
    "Кодирование в FLAC невозможно т.к. библиотека libFLAC не установлена.";
// The Opus sheet (bitrates kOpusMinKbits..kOpusMaxKbits of codec/OpusWriter.h)
// without libopusenc: this note, the controls disabled.
inline constexpr const char* kNoOpusNote =
    "Кодирование в Opus невозможно т.к. библиотека libopusenc не установлена.";

// The boxes of options that may be left to the program: entry kChoiceAuto
// leaves the option unset ("auto" in the INI store), the others set it.
inline constexpr int kChoiceAuto = 0, kChoiceOn = 1, kChoiceOff = 2;
// [Rip] Secure: "авто (WAV и FLAC)", "всегда", "никогда".
const std::vector<std::string>& SecureRipItems();
// [ReplayGain] Enabled: "авто (FLAC)", "во все файлы с тегами", "не записывать".
const std::vector<std::string>& ReplayGainItems();
// The box's entry for an optional flag, and the flag for an entry.
int ChoiceIndex(const std::optional<bool>& value);
std::optional<bool> ChoiceValue(int index);
// [CoverArt] Size: "250 точек", "500 точек", "1200 точек", "исходный" (the
// order of kCoverArtSizes); the entry of a size, the size of an entry.
const std::vector<std::string>& CoverSizeItems();
int CoverSizeIndex(int pixels);
int CoverSizeValue(int index);
// A MusicBrainz or Cover Art Archive address that is neither empty nor
// http(s)://HOST[:PORT].
std::string BadWebServerMessage(const std::string& what, const std::string& textUtf8);

}  // namespace sonarvex
