#include "settings/SettingsFormRules.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "accuraterip/ArClient.h"
#include "metadata/CoverArtClient.h"
#include "platform/Cp1251.h"
#include "records/RecordTexts.h"

namespace sonarvex {

const std::vector<std::string>& PageCaptions() {
  static const std::vector<std::string> v{"Файлы", "Записи", "Общие", "Аудио",
                                          "CDROM", "FreeDB", "Поиск", "Вид"};
  return v;
}
const std::vector<std::string>& AudioPageCaptions() {
  static const std::vector<std::string> v{"MP3", "OGG", "WMA", "Нормализация"};
  return v;
}
const std::vector<std::string>& ViewPageCaptions() {
  static const std::vector<std::string> v{"Кнопки", "Цветовая схема"};
  return v;
}

const std::vector<std::string>& LameBitrateItems() {
  static const std::vector<std::string> v{
      "320kBit/s", "256kBit/s", "224kBit/s", "192kBit/s", "160kBit/s", "128kBit/s", "112kBit/s",
      "96kBit/s",  "80kBit/s",  "64kBit/s",  "56kBit/s",  "48kBit/s",  "40kBit/s",  "32kBit/s"};
  return v;
}
const std::vector<std::string>& VbrItems() {
  static const std::vector<std::string> v{"Нет", "Default", "OLD", "NEW", "MTRH"};
  return v;
}
const std::vector<std::string>& VbrQualityItems() {
  static const std::vector<std::string> v = [] {
    std::vector<std::string> r;
    for (int i = 0; i <= 9; ++i) r.push_back("VBR " + std::to_string(i));
    return r;
  }();
  return v;
}
const std::vector<std::string>& LameModeItems() {
  static const std::vector<std::string> v{"Stereo", "JoinStereo", "Dualchannel", "Mono"};
  return v;
}
const std::vector<std::string>& LameQualityItems() {
  static const std::vector<std::string> v{"",      "High",  "Normal", "Low",   "Phone", "FM",
                                          "Voice", "Radio", "Tape",   "HI FI", "CD",    "Studio"};
  return v;
}
const std::vector<std::string>& OggBitrateItems() {
  static const std::vector<std::string> v{"350 kBit/s", "256 kBit/s", "192 kBit/s", "160 kBit/s",
                                          "128 kBit/s", "96 kBit/s",  "80 kBit/s",  "64 kBit/s",
                                          "48 kBit/s",  "40 kBit/s",  "32 kBit/s"};
  return v;
}
const std::vector<std::string>& WmaBitrateItems() {
  static const std::vector<std::string> v{"32 kBit/s",  "40 kBit/s",  "48 kBit/s",
                                          "64 kBit/s",  "80 kBit/s",  "96 kBit/s",
                                          "128 kBit/s", "160 kBit/s", "192 kBit/s"};
  return v;
}
const std::vector<std::string>& DecodeFileItems() {
  static const std::vector<std::string> v = [] {
    std::vector<std::string> r{"Всегда один"};
    for (int i = 2; i <= 10; ++i) r.push_back(std::to_string(i));
    return r;
  }();
  return v;
}
const std::vector<std::string>& SpeedItems() {
  static const std::vector<std::string> v = [] {
    std::vector<std::string> r;
    for (int n = 1; n <= 50; ++n)
      r.push_back(std::to_string(n) + "x ( " + std::to_string(n * 176400 / 1000) + " Кб/с )");
    return r;
  }();
  return v;
}
const std::vector<std::string>& DriveTypeItems() {
  static const std::vector<std::string> v{"Стандартный (IDE/SCSI)",
                                          "Toshiba",
                                          "Toshiba (новый)",
                                          "IBM",
                                          "NEC",
                                          "DEC",
                                          "IMS",
                                          "Kodak",
                                          "Ricoh",
                                          "HP",
                                          "Philips",
                                          "Plasmon",
                                          "Grundic CD-R",
                                          "Mitsumi CD-R",
                                          "Plextor",
                                          "Sony",
                                          "Yamaha",
                                          "NRC",
                                          "IMS CDD-5",
                                          "MMC2",
                                          "MMC3",
                                          "Read_D4_12",
                                          "Read_D5",
                                          "Read_A8"};
  return v;
}

namespace {
constexpr int kPresets[12] = {-1, 2, 0, 1, 1000, 4000, 5000, 6000, 7000, 8000, 9000, 10000};
}

int PresetFromQualityIndex(int index) {
  if (index < 0 || index >= 12) return 2;
  return kPresets[index];
}

int QualityIndexFromPreset(int preset) {
  for (int i = 0; i < 12; ++i)
    if (kPresets[i] == preset) return i;
  return 1;
}

std::string OggQualityText(int position) {
  // Shortest decimal form of position / 100, independent of the locale.
  bool negative = position < 0;
  unsigned v = static_cast<unsigned>(negative ? -position : position);
  std::string s = std::to_string(v / 100);
  unsigned frac = v % 100;
  if (frac != 0) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02u", frac);
    std::string f = buf;
    if (f.back() == '0') f.pop_back();
    s += "." + f;
  }
  return (negative ? "-" : "") + s;
}

std::optional<long long> ParseWholeNumber(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  std::string_view t = text.substr(b, e - b);
  std::size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
  if (i == t.size()) return std::nullopt;
  long long v = 0;
  constexpr long long kCap = 1'000'000'000'000LL;  // anything larger is just "too large"
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return std::nullopt;
    if (v < kCap) v = v * 10 + (t[i] - '0');
  }
  return negative ? -v : v;
}

NumberResult ReadNumberEdit(std::string_view text, long long defaultValue, long long min,
                            long long max) {
  auto v = ParseWholeNumber(text);
  if (!v) return {true, defaultValue};
  if (*v < min || *v > max) return {false, *v};
  return {true, *v};
}

namespace {
// Splits UTF-8 into its characters (an invalid byte is a character of its own).
std::vector<std::string_view> Utf8Chars(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    if (i + n > s.size()) n = 1;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) n = 1;
    out.push_back(s.substr(i, n));
    i += n;
  }
  return out;
}

}  // namespace

bool FormatCharRefused(char32_t c) {
  switch (c) {
    case '"':
    case '*':
    case '/':
    case ':':
    case '<':
    case '>':
    case '?':
    case '|':
      return true;
    default:
      break;
  }
  // Letters of every script are taken: the settings keep the full text.
  return c < 0x20;
}

std::string CleanFormatText(std::string_view utf8) {
  std::string out;
  for (std::string_view ch : Utf8Chars(utf8)) {
    if (ch.size() == 1) {
      char c = ch[0];
      if (static_cast<unsigned char>(c) >= 0x80) continue;  // a stray byte
      if (FormatCharRefused(static_cast<char32_t>(c))) continue;
      if (c == '%' && !out.empty() && out.back() == '%') continue;
      out += c;
    } else {
      out += ch;  // letters of every script: the settings keep them in full
    }
  }
  return out;
}

std::string FormatHint() {
  return "%A(А) - Исполнитель\n%D(Д) - Название альбома\n%T(Т) - Название трека\n"
         "%N(Н) - Номер трека\n%Y - Год\n%G - Жанр\n%d - Номер диска";
}

std::string FormatStringProblem(std::string_view text) {
  if (text.empty()) return "строка пуста: нужен хотя бы код %T (название трека) или %N (номер трека).";
  if (text.back() == '\\' || text.back() == '/')
    return "строка кончается разделителем папок: после него нужно имя файла, например %N %T.";
  if (text.back() == '%') return "строка кончается знаком %: после него нужна буква кода (%T, %N, ...).";
  if (text.substr(0, text.size() - 1).find('%') == std::string_view::npos)
    return "в строке нет ни одного кода: нужен хотя бы %T (название трека) или %N (номер трека); "
           "коды: %A исполнитель, %D альбом, %T трек, %N номер, %Y год, %G жанр, %d номер диска.";
  return {};
}

bool FormatStringValid(std::string_view text) {
  if (text.empty()) return false;
  if (text.back() == '\\' || text.back() == '%') return false;
  return text.substr(0, text.size() - 1).find('%') != std::string_view::npos;
}

bool FormatNamesTrack(std::string_view utf8) {
  // Walks the codes as the expansion does: a run of '%' is one separator and
  // any code other than A, D, T, N (Latin or Cyrillic) ends the expansion.
  const std::string f = Utf8ToCp1251(utf8);
  std::size_t pos = f.find('%');
  while (pos != std::string::npos) {
    while (pos < f.size() && f[pos] == '%') ++pos;
    if (pos >= f.size()) return false;
    const char code = f[pos];
    if (code == 'T' || code == 'N' || code == '\xD2' || code == '\xCD') return true;
    if (code != 'A' && code != 'D' && code != '\xC0' && code != '\xC4' && code != 'Y' &&
        code != 'G' && code != 'd')
      return false;
    pos = f.find('%', pos);
  }
  return false;
}

std::optional<std::string> FormatPreview(std::string_view text, bool discPresent,
                                         const NamingInput& naming) {
  if (text.empty() || text == "%") return std::string();
  if (!discPresent || text.back() == '%') return std::nullopt;
  return ExpandFormat(text, 0, naming) + ".mp3";
}

std::string ExtensionEntry(std::string_view utf8) {
  if (utf8.empty()) return {};
  std::string lower = Cp1251ToUtf8(Cp1251Lower(Utf8ToCp1251(utf8)));
  return lower.front() == '.' ? lower : "." + lower;
}

std::string CreateFolderQuestion(const std::string& folderUtf8) {
  return "Директории '" + folderUtf8 + "' не существует. Создать???";
}

std::optional<std::string> ArServerSetting(std::string_view text) {
  const std::size_t b = text.find_first_not_of(" \t");
  if (b == std::string_view::npos) return std::string();
  const std::size_t e = text.find_last_not_of(" \t");
  std::string server(text.substr(b, e - b + 1));
  ArServer parsed;
  if (!ParseArServer(server, parsed)) return std::nullopt;
  return server;
}

std::string BadArServerMessage(const std::string& textUtf8) {
  return "Адрес сервера AccurateRip указан неверно: " + textUtf8 +
         "\nУкажите сервер как ИМЯ или ИМЯ:ПОРТ либо оставьте поле пустым, чтобы не "
         "проверять копии по AccurateRip.";
}

// The output folder as typed (any script): not empty, ending in '/', at most
// 260 characters (the record's limit).
FolderResult CheckFolderText(const std::string& utf8) {
  FolderResult r;
  if (utf8.empty()) {
    r.Error = "Укажите папку, в которую складывать музыку.";
    return r;
  }
  std::string folder = utf8;
  if (folder.back() != '/') folder += '/';
  if (CharacterCount(folder) > 260) {
    r.Error = "Слишком длинный путь к папке: допускается не более 260 символов.";
    return r;
  }
  r.Stored = folder;
  return r;
}


FolderResult CheckOutputFolder(std::string_view utf8) {
  FolderResult r;
  if (utf8.empty()) {
    r.Error = "Укажите папку, в которую складывать музыку.";
    return r;
  }
  std::string cp = Utf8ToCp1251(utf8);
  if (Cp1251ToUtf8(cp) != utf8) {
    r.Error = "В пути к папке есть символы, которые нельзя сохранить в настройках.";
    return r;
  }
  if (cp.back() != '/') cp += '/';
  if (cp.size() > 260) {
    r.Error = "Слишком длинный путь к папке: допускается не более 260 символов.";
    return r;
  }
  r.Stored = cp;
  return r;
}

std::string FitField(std::string_view utf8, std::size_t fieldSize) {
  std::string out;
  std::size_t used = 0;
  for (std::string_view ch : Utf8Chars(utf8)) {
    if (used + 1 > fieldSize - 1) break;
    out += ch;
    ++used;  // every character is one CP1251 byte
  }
  return out;
}

const std::vector<ColourItem>& ColourItems() {
  static const std::vector<ColourItem> v{
      {13758449, "Исходный (окно)"},
      {13758462, "Исходный (ввод)"},
      {kSystemWindowColor, "Системный: рамка"},
      {kSystemEditColor, "Системный: фон"},
      {0x000000, "Чёрный"},
      {0x000080, "Тёмно-красный"},
      {0x008000, "Зелёный"},
      {0x008080, "Оливковый"},
      {0x800000, "Тёмно-синий"},
      {0x800080, "Пурпурный"},
      {0x808000, "Сине-зелёный"},
      {0x808080, "Серый"},
      {0xC0C0C0, "Серебристый"},
      {0x0000FF, "Красный"},
      {0x00FF00, "Лаймовый"},
      {0x00FFFF, "Жёлтый"},
      {0xFF0000, "Синий"},
      {0xFF00FF, "Фуксия"},
      {0xFFFF00, "Голубой"},
      {0xFFFFFF, "Белый"},
  };
  return v;
}

const std::vector<std::string>& SecureRipItems() {
  static const std::vector<std::string> items{"авто (WAV и FLAC)", "всегда", "никогда"};
  return items;
}

const std::vector<std::string>& ReplayGainItems() {
  static const std::vector<std::string> items{"авто (FLAC)", "во все файлы с тегами", "не записывать"};
  return items;
}

int ChoiceIndex(const std::optional<bool>& value) {
  return !value ? kChoiceAuto : *value ? kChoiceOn : kChoiceOff;
}

std::optional<bool> ChoiceValue(int index) {
  if (index == kChoiceOn) return true;
  if (index == kChoiceOff) return false;
  return std::nullopt;
}

const std::vector<std::string>& CoverSizeItems() {
  static const std::vector<std::string> items{"250 точек", "500 точек", "1200 точек", "исходный"};
  return items;
}

int CoverSizeIndex(int pixels) {
  const int size = CoverArtSize(pixels);
  for (std::size_t i = 0; i < std::size(kCoverArtSizes); ++i)
    if (kCoverArtSizes[i] == size) return static_cast<int>(i);
  return 1;
}

int CoverSizeValue(int index) {
  if (index < 0 || index >= static_cast<int>(std::size(kCoverArtSizes))) return kDefaultCoverArtSize;
  return kCoverArtSizes[index];
}

std::string BadWebServerMessage(const std::string& what, const std::string& textUtf8) {
  return "Адрес сервера " + what + " '" + textUtf8 +
         "' не подходит: укажите http:// или https:// с именем (и портом) либо оставьте поле пустым.";
}

}  // namespace sonarvex
