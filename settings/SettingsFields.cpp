#include "settings/SettingsFields.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>

#include "rip/OutputNaming.h"
#include "settings/SettingsFormRules.h"
#include "codec/FormatRegistry.h"
#include "platform/Cp1251.h"

namespace sonarvex {
namespace {

using Getter = std::function<std::string(const SettingsRecord&)>;
// Returns the reason a value is refused, or nothing when it was stored.
using Setter = std::function<std::optional<std::string>(SettingsRecord&, const std::string&)>;

struct Field {
  std::string Name;
  Getter Get;
  Setter Set;  // empty: the field is not set by hand (derived or the window's)
};

std::optional<long long> Whole(const std::string& text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    if (text.size() > 10) return std::nullopt;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str() + 2, &end, 16);
    if (*end != '\0' || text[2] == '-' || text[2] == '+') return std::nullopt;
    return v;
  }
  return ParseWholeNumber(text);
}

std::string RangeText(long long lo, long long hi) {
  return "введите число от " + std::to_string(lo) + " до " + std::to_string(hi) + ".";
}

// A number field of type T checked against lo..hi; `message` replaces the
// general text where the dialog has its own.
template <typename T>
Field Number(const std::string& name, T SettingsRecord::*member, long long lo, long long hi,
             const char* message = nullptr) {
  return Field{name,
               [member](const SettingsRecord& s) { return std::to_string(s.*member); },
               [member, lo, hi, message](SettingsRecord& s,
                                         const std::string& v) -> std::optional<std::string> {
                 auto n = Whole(v);
                 if (!n || *n < lo || *n > hi) return message ? message : RangeText(lo, hi);
                 s.*member = static_cast<T>(*n);
                 return std::nullopt;
               }};
}

template <typename T>
Field Lame(const std::string& name, T LameSettings::*member, long long lo, long long hi) {
  return Field{name,
               [member](const SettingsRecord& s) { return std::to_string(s.Lame.*member); },
               [member, lo, hi](SettingsRecord& s,
                                const std::string& v) -> std::optional<std::string> {
                 auto n = Whole(v);
                 if (!n || *n < lo || *n > hi) return RangeText(lo, hi);
                 s.Lame.*member = static_cast<T>(*n);
                 return std::nullopt;
               }};
}

std::optional<bool> FlagValue(const std::string& v) {
  if (v == "1" || v == "on" || v == "yes" || v == "true" || v == "да") return true;
  if (v == "0" || v == "off" || v == "no" || v == "false" || v == "нет") return false;
  return std::nullopt;
}

Field Flag(const std::string& name, std::uint8_t SettingsRecord::*member) {
  return Field{name,
               [member](const SettingsRecord& s) { return std::string(s.*member ? "1" : "0"); },
               [member](SettingsRecord& s, const std::string& v) -> std::optional<std::string> {
                 auto b = FlagValue(v);
                 if (!b) return std::string("введите 0 или 1.");
                 s.*member = *b ? 1 : 0;
                 return std::nullopt;
               }};
}

Field ReadOnly(const std::string& name, Getter get) { return Field{name, std::move(get), {}}; }

// A text field of N bytes: the text must fit whole (the dialog's edit stops
// at the field's length), in characters CP1251 has.
template <std::size_t N>
Field Text(const std::string& name, char (SettingsRecord::*member)[N], bool trim) {
  return Field{name,
               [member](const SettingsRecord& s) { return FieldUtf8(s.*member); },
               [member, trim](SettingsRecord& s,
                              const std::string& value) -> std::optional<std::string> {
                 std::string v = value;
                 if (trim) {
                   const auto a = v.find_first_not_of(" \t");
                   const auto b = v.find_last_not_of(" \t");
                   v = a == std::string::npos ? std::string() : v.substr(a, b - a + 1);
                 }
                 const std::string cp = Utf8ToCp1251(v);
                 if (Cp1251ToUtf8(cp) != v)
                   return std::string("в тексте есть символы, которые нельзя сохранить в настройках.");
                 if (cp.size() > N - 1)
                   return "текст длиннее " + std::to_string(N - 1) + " символов.";
                 SetField(s.*member, cp);
                 return std::nullopt;
               }};
}

std::optional<std::string> SetFolder(char (&field)[261], const std::string& value) {
  FolderResult folder = CheckOutputFolder(value);
  if (!folder.Error.empty()) return folder.Error;
  SetField(field, folder.Stored);
  return std::nullopt;
}

std::optional<std::string> SetColour(std::uint32_t& field, const std::string& value) {
  auto n = Whole(value);
  if (!n || ((*n < 0 || *n > 0xFFFFFF) && *n != kSystemWindowColor && *n != kSystemEditColor))
    return std::string("введите цвет 0xBBGGRR (от 0 до 0xFFFFFF) или системный цвет 0x8000000A, "
                       "0x80000005.");
  field = static_cast<std::uint32_t>(*n);
  return std::nullopt;
}

std::string Hex(std::uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%06X", v);
  return b;
}

// The format string rules of the dialog: characters its edit refuses while
// typing, its length, and then OK's checks.
std::optional<std::string> CheckFormatText(const std::string& format) {
  if (CleanFormatText(format) != format)
    return std::string("в строке формата есть символы, которые нельзя использовать в имени файла "
                       "(\" * / : < > ? | или два % подряд).");
  if (Utf8ToCp1251(format).size() > 50) return std::string("строка формата длиннее 50 символов.");
  return std::nullopt;
}

std::optional<std::string> CheckFormat(const std::string& format) {
  if (auto refused = CheckFormatText(format)) return refused;
  if (!FormatStringValid(format))
    return std::string(kBadFormatMessage) + " " + FormatStringProblem(format);
  if (!FormatNamesTrack(format)) return std::string(kFormatWithoutTrackMessage);
  return std::nullopt;
}

const std::vector<Field>& Fields() {
  static const std::vector<Field> fields = [] {
    std::vector<Field> f;
    f.push_back(Field{"OutputFolder", [](const SettingsRecord& s) { return FieldUtf8(s.OutputFolder); },
                      [](SettingsRecord& s, const std::string& v) { return SetFolder(s.OutputFolder, v); }});
    f.push_back(Flag("NameHasTitle", &SettingsRecord::NameHasTitle));
    f.push_back(Flag("NameHasAlbum", &SettingsRecord::NameHasAlbum));
    f.push_back(Flag("NameHasArtist", &SettingsRecord::NameHasArtist));
    f.push_back(Flag("NameHasNumber", &SettingsRecord::NameHasNumber));
    f.push_back(Flag("FolderPerAlbum", &SettingsRecord::FolderPerAlbum));
    f.push_back(Flag("FolderPerArtist", &SettingsRecord::FolderPerArtist));
    // Set by every grab for itself.
    f.push_back(ReadOnly("CompressOutput", [](const SettingsRecord& s) {
      return std::string(s.CompressOutput ? "1" : "0");
    }));
    f.push_back(Number("AcmFormatIndex", &SettingsRecord::AcmFormatIndex, 0, 65535));
    f.push_back(Number("OutputKind", &SettingsRecord::OutputKind, 0, 3));
    f.push_back(Number("DriveIndex", &SettingsRecord::DriveIndex, 0, 255));
    f.push_back(Field{"ReadSpeed", [](const SettingsRecord& s) { return std::to_string(s.ReadSpeed); },
                      [](SettingsRecord& s, const std::string& v) -> std::optional<std::string> {
                        if (v == "max" || v == "Max") {
                          s.ReadSpeed = 255;
                          return std::nullopt;
                        }
                        auto n = Whole(v);
                        if (!n || !((*n >= 1 && *n <= 50) || *n == 255))
                          return std::string("введите число от 1 до 50 или max (255).");
                        s.ReadSpeed = static_cast<std::uint8_t>(*n);
                        return std::nullopt;
                      }});
    f.push_back(Flag("CdPlayerAssociation", &SettingsRecord::CdPlayerAssociation));
    f.push_back(Flag("EjectAfterCopy", &SettingsRecord::EjectAfterCopy));
    f.push_back(Flag("UseLame", &SettingsRecord::UseLame));
    f.push_back(Flag("ShutdownAfterCopy", &SettingsRecord::ShutdownAfterCopy));
    f.push_back(Number("SectorsPerRead", &SettingsRecord::SectorsPerRead, 1, 255,
                       kSectorsRangeMessage));
    f.push_back(Flag("UseSpti", &SettingsRecord::UseSpti));
    f.push_back(Flag("ShowGrid", &SettingsRecord::ShowGrid));
    f.push_back(Flag("HighPriority", &SettingsRecord::HighPriority));
    f.push_back(ReadOnly("ProxyEnabled", [](const SettingsRecord& s) {
      return std::string(s.ProxyEnabled ? "1" : "0");
    }));
    f.push_back(Text("CddbHost", &SettingsRecord::CddbHost, true));
    f.push_back(Text("ProxyHost", &SettingsRecord::ProxyHost, true));
    f.push_back(Text("CddbPath", &SettingsRecord::CddbPath, false));
    f.push_back(Text("ProxyUser", &SettingsRecord::ProxyUser, false));
    Field password = Text("ProxyPassword", &SettingsRecord::ProxyPassword, false);
    password.Get = [](const SettingsRecord& s) {
      return FieldText(s.ProxyPassword).empty() ? std::string() : std::string("***");
    };
    f.push_back(password);
    f.push_back(Number("ProxyPort", &SettingsRecord::ProxyPort, 1, 65535, kPortRangeMessage));
    f.push_back(Lame("BitrateIndex", &LameSettings::BitrateIndex, 1, 14));
    f.push_back(Lame("MaxBitrateIndex", &LameSettings::MaxBitrateIndex, 1, 14));
    f.push_back(Lame("Mode", &LameSettings::Mode, 0, 3));
    f.push_back(Lame("VbrMethod", &LameSettings::VbrMethod, -1, 3));
    f.push_back(Lame("VbrQuality", &LameSettings::VbrQuality, 0, 9));
    f.push_back(ReadOnly("VbrEnabled", [](const SettingsRecord& s) {
      return std::string(s.Lame.VbrEnabled ? "1" : "0");
    }));
    f.push_back(Field{"Preset", [](const SettingsRecord& s) { return std::to_string(s.Lame.Preset); },
                      [](SettingsRecord& s, const std::string& v) -> std::optional<std::string> {
                        // The presets of the quality box.
                        auto n = Whole(v);
                        for (int index = 0; n && index < 12; ++index) {
                          if (PresetFromQualityIndex(index) == *n) {
                            s.Lame.Preset = static_cast<std::int16_t>(*n);
                            return std::nullopt;
                          }
                        }
                        return std::string("введите одно из чисел -1, 0, 1, 2, 1000, 4000, 5000, "
                                           "6000, 7000, 8000, 9000, 10000.");
                      }});
    f.push_back(Number("Volume", &SettingsRecord::Volume, 0, 255));
    f.push_back(Number("DecodeFilesAtOnce", &SettingsRecord::DecodeFilesAtOnce, 1, 10));
    f.push_back(Number("SettingsPage", &SettingsRecord::SettingsPage, 0, kPageCount - 1));
    f.push_back(Flag("NormalizeEnabled", &SettingsRecord::NormalizeEnabled));
    f.push_back(Flag("VolumeOnDrive", &SettingsRecord::VolumeOnDrive));
    f.push_back(Flag("DigitalPlayback", &SettingsRecord::DigitalPlayback));
    f.push_back(Flag("LockTray", &SettingsRecord::LockTray));
    f.push_back(Flag("NoiseCorrection", &SettingsRecord::NoiseCorrection));
    f.push_back(ReadOnly("ColumnWidths", [](const SettingsRecord& s) {
      std::string t;
      for (int k = 0; k < 5; ++k) t += (k ? "," : "") + std::to_string(s.ColumnWidths[k]);
      return t;
    }));
    f.push_back(Number("NormLowThreshold", &SettingsRecord::NormLowThreshold, 0, 100,
                       kNormRangeMessage));
    f.push_back(Number("NormHighThreshold", &SettingsRecord::NormHighThreshold, 0, 100,
                       kNormRangeMessage));
    f.push_back(Number("NormLowTarget", &SettingsRecord::NormLowTarget, 0, 100, kNormRangeMessage));
    f.push_back(Number("NormHighTarget", &SettingsRecord::NormHighTarget, 0, 100,
                       kNormRangeMessage));
    f.push_back(Flag("ShowWaveButton", &SettingsRecord::ShowWaveButton));
    f.push_back(Flag("ShowWmaButton", &SettingsRecord::ShowWmaButton));
    f.push_back(Flag("WmaDrm", &SettingsRecord::WmaDrm));
    f.push_back(Number("WmaBitrateIndex", &SettingsRecord::WmaBitrateIndex, 0, 8));
    f.push_back(Flag("ShowBurnButton", &SettingsRecord::ShowBurnButton));
    f.push_back(Flag("ShowFindButton", &SettingsRecord::ShowFindButton));
    f.push_back(Flag("ShowConvertButton", &SettingsRecord::ShowConvertButton));
    f.push_back(Flag("ShowCddbButton", &SettingsRecord::ShowCddbButton));
    f.push_back(Flag("ShowPlayerButton", &SettingsRecord::ShowPlayerButton));
    f.push_back(Field{"ConvertFolder", [](const SettingsRecord& s) { return FieldUtf8(s.ConvertFolder); },
                      [](SettingsRecord& s, const std::string& v) { return SetFolder(s.ConvertFolder, v); }});
    // The conversion window's own choices.
    f.push_back(ReadOnly("ConvertDirection", [](const SettingsRecord& s) {
      return std::to_string(s.ConvertDirection);
    }));
    f.push_back(Flag("ConvertSaveToFolder", &SettingsRecord::ConvertSaveToFolder));
    f.push_back(Flag("ConvertDeleteSource", &SettingsRecord::ConvertDeleteSource));
    f.push_back(ReadOnly("ConvertFormatIndex", [](const SettingsRecord& s) {
      return std::to_string(s.ConvertFormatIndex);
    }));
    f.push_back(Flag("ShowCompressedSize", &SettingsRecord::ShowCompressedSize));
    f.push_back(Field{"WindowColor", [](const SettingsRecord& s) { return Hex(s.WindowColor); },
                      [](SettingsRecord& s, const std::string& v) { return SetColour(s.WindowColor, v); }});
    f.push_back(Field{"EditColor", [](const SettingsRecord& s) { return Hex(s.EditColor); },
                      [](SettingsRecord& s, const std::string& v) { return SetColour(s.EditColor, v); }});
    f.push_back(Field{"DriveTypes",
                      [](const SettingsRecord& s) {
                        std::string t;
                        for (int k = 0; k < 16; ++k) t += (k ? "," : "") + std::to_string(s.DriveTypes[k]);
                        return t;
                      },
                      [](SettingsRecord& s, const std::string& v) -> std::optional<std::string> {
                        // Up to 16 types, drive 0 first; the drives not named keep theirs.
                        std::uint8_t types[16];
                        std::memcpy(types, s.DriveTypes, sizeof types);
                        std::size_t pos = 0;
                        for (int k = 0; pos <= v.size(); ++k) {
                          const auto comma = v.find(',', pos);
                          auto n = Whole(v.substr(pos, comma == std::string::npos ? std::string::npos
                                                                                  : comma - pos));
                          if (k >= 16 || !n || *n < 0 || *n > 23)
                            return std::string("введите до 16 чисел от 0 до 23 через запятую.");
                          types[k] = static_cast<std::uint8_t>(*n);
                          if (comma == std::string::npos) break;
                          pos = comma + 1;
                        }
                        std::memcpy(s.DriveTypes, types, sizeof types);
                        return std::nullopt;
                      }});
    f.push_back(Flag("UseFormatString", &SettingsRecord::UseFormatString));
    f.push_back(Field{"FormatString", [](const SettingsRecord& s) { return FieldUtf8(s.FormatString); },
                      [](SettingsRecord& s, const std::string& v) -> std::optional<std::string> {
                        // Checked whole at the end when it is in use; '/'
                        // separates folders here as '\\' does.
                        const std::string format = FormatFromCommandLine(v);
                        if (auto refused = CheckFormatText(format)) return refused;
                        SetFieldUtf8(s.FormatString, format);
                        return std::nullopt;
                      }});
    f.push_back(Flag("OnTheFlyEncoding", &SettingsRecord::OnTheFlyEncoding));
    f.push_back(Number("OggMinBitrateIndex", &SettingsRecord::OggMinBitrateIndex, 0, 10));
    f.push_back(Number("OggMaxBitrateIndex", &SettingsRecord::OggMaxBitrateIndex, 0, 10));
    f.push_back(Number("OggNominalBitrateIndex", &SettingsRecord::OggNominalBitrateIndex, 0, 10));
    f.push_back(Field{"OggQuality", [](const SettingsRecord& s) { return std::to_string(s.OggQuality); },
                      [](SettingsRecord& s, const std::string& v) -> std::optional<std::string> {
                        // The slider: -100..1000 in steps of 10.
                        auto n = ParseWholeNumber(v);
                        if (!n || *n < -100 || *n > 1000 || *n % 10 != 0)
                          return std::string("введите число от -100 до 1000, кратное 10.");
                        s.OggQuality = static_cast<std::int32_t>(*n);
                        return std::nullopt;
                      }});
    f.push_back(Flag("OggUseQuality", &SettingsRecord::OggUseQuality));
    f.push_back(Flag("Mp3AsOgg", &SettingsRecord::Mp3AsOgg));
    return f;
  }();
  return fields;
}

const Field* FindField(const std::string& name) {
  for (const Field& f : Fields())
    if (f.Name == name) return &f;
  return nullptr;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> SettingsFieldValues(const SettingsRecord& s) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const Field& f : Fields()) out.emplace_back(f.Name, f.Get(s));
  return out;
}

std::optional<std::string> SetSettingsFields(SettingsRecord& s,
                                             const std::vector<std::string>& assignments,
                                             const SettingsLimits& limits, RecordTexts* texts) {
  SettingsRecord copy;
  std::memcpy(&copy, &s, sizeof copy);
  RecordTexts textsCopy = texts ? *texts : RecordTexts();
  for (const std::string& a : assignments) {
    const auto eq = a.find('=');
    const std::string name = a.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : a.substr(eq + 1);
    if (name == "OutputFolder" && texts) {
      if (auto refused = OverrideOutputFolder(copy, value, &textsCopy))
        return "Поле " + name + ": " + *refused;
      continue;
    }
    const Field* f = FindField(name);
    if (!f) return "Нет поля настроек '" + name + "'; их список выводит команда settings show.";
    if (!f->Set)
      return "Поле " + name + " не задаётся вручную: программа устанавливает его сама.";
    if (auto refused = f->Set(copy, value)) return "Поле " + name + ": " + *refused;
    if (name == "DriveIndex" && limits.DriveCount > 0 && copy.DriveIndex >= limits.DriveCount)
      return "Поле DriveIndex: приводов " + std::to_string(limits.DriveCount) +
             ", введите число от 0 до " + std::to_string(limits.DriveCount - 1) + ".";
    if (name == "AcmFormatIndex" && limits.AcmFormatCount > 0 &&
        copy.AcmFormatIndex >= limits.AcmFormatCount)
      return "Поле AcmFormatIndex: " + RangeText(0, limits.AcmFormatCount - 1);
  }
  // What OK does besides storing the controls.
  if (copy.UseFormatString) {
    if (auto refused = CheckFormat(FieldUtf8(copy.FormatString)))
      return "Поле FormatString: " + *refused;
  }
  if (!copy.NameHasTitle && !copy.NameHasAlbum && !copy.NameHasArtist && !copy.NameHasNumber)
    copy.NameHasTitle = 1;
  copy.ProxyEnabled = !FieldText(copy.ProxyHost).empty();
  copy.Lame.VbrEnabled = copy.Lame.VbrMethod >= 0;
  std::memcpy(&s, &copy, sizeof s);
  if (texts) *texts = std::move(textsCopy);
  return std::nullopt;
}

std::optional<std::string> OverrideOutputFolder(SettingsRecord& s, const std::string& folder,
                                                RecordTexts* texts) {
  if (!texts) return SetFolder(s.OutputFolder, folder);
  FolderResult checked = CheckFolderText(folder);
  if (!checked.Error.empty()) return checked.Error;
  SetSettingsText(s, *texts, SettingsField::OutputFolder, checked.Stored);
  return std::nullopt;
}

std::optional<std::string> OverrideNameFormat(SettingsRecord& s, const std::string& given) {
  // On the command line '/' separates folders as '\\' does.
  const std::string format = FormatFromCommandLine(given);
  if (auto refused = CheckFormat(format)) return refused;
  SetFieldUtf8(s.FormatString, format);
  s.UseFormatString = 1;
  return std::nullopt;
}

std::optional<std::string> OverrideBitrate(SettingsRecord& s, int kind, int kbits,
                                           FormatOptions* options) {
  const OutputFormat& format = FormatForValue(kind);
  if (format.setBitrate != nullptr) {
    FormatOptions scratch;
    FormatOptions& into = options ? *options : scratch;
    if (auto refused = format.setBitrate(s, into, kbits)) return refused;
    // A bitrate that went nowhere would be a choice silently lost.
    if (!options && !scratch.values.empty())
      return std::string("битрейт ") + format.title + " здесь не задаётся.";
    return std::nullopt;
  }
  std::vector<const OutputFormat*> withBitrate;
  for (const OutputFormat& f : OutputFormats())
    if (f.setBitrate != nullptr) withBitrate.push_back(&f);
  return std::string("у ") + format.title + " нет битрейта: --bitrate задаётся для " +
         JoinFormatNames(withBitrate, ", ", " и ") + ".";
}

std::optional<std::string> OverrideVbr(SettingsRecord& s, int kind, int quality) {
  if (kind != 1) return std::string("--vbr задаётся только для mp3.");
  if (quality < 0 || quality > 9) return std::string("качество VBR: " + RangeText(0, 9));
  s.UseLame = 1;
  s.Lame.VbrQuality = quality;
  if (s.Lame.VbrMethod < 0) s.Lame.VbrMethod = 0;  // "Default"
  s.Lame.VbrEnabled = 1;
  return std::nullopt;
}

std::optional<std::string> OverrideOggQuality(SettingsRecord& s, int kind, int position) {
  if (kind != 3) return std::string("--ogg-quality задаётся только для ogg.");
  if (position < -100 || position > 1000 || position % 10 != 0)
    return std::string("качество Ogg Vorbis: от -1 до 10 с шагом 0.1.");
  s.OggUseQuality = 1;
  s.OggQuality = position;
  return std::nullopt;
}

}  // namespace sonarvex
