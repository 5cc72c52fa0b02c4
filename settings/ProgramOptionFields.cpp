#include "settings/ProgramOptionFields.h"

#include <cstdlib>
#include <strings.h>

#include "codec/FormatRegistry.h"
#include "drive/AudioReading.h"
#include "metadata/CoverArtClient.h"
#include "metadata/MusicBrainzClient.h"
#include "settings/SettingsFormRules.h"

namespace sonarvex {

namespace {

bool SameName(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

std::optional<int> WholeNumber(const std::string& text, int min, int max) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  std::size_t k = text[0] == '-' ? 1 : 0;
  if (k == text.size()) return std::nullopt;
  for (; k < text.size(); ++k)
    if (text[k] < '0' || text[k] > '9') return std::nullopt;
  const long v = std::strtol(text.c_str(), nullptr, 10);
  if (v < min || v > max) return std::nullopt;
  return static_cast<int>(v);
}

std::optional<bool> Flag(const std::string& text) {
  if (text == "1") return true;
  if (text == "0") return false;
  return std::nullopt;
}

std::string NumberRange(const std::string& name, int min, int max) {
  return name + ": введите число от " + std::to_string(min) + " до " + std::to_string(max) + ".";
}

std::string FlagRefused(const std::string& name) { return name + ": введите 0 или 1."; }

// One assignment into o; the reason when it is refused.
std::optional<std::string> SetOne(ProgramOptions& o, const std::string& name, const std::string& value,
                                  const std::vector<std::string>& driveNames) {
  const auto dot = name.find('.');
  const std::string section = name.substr(0, dot), key = name.substr(dot + 1);
  auto is = [&](const char* s, const char* k) { return SameName(section, s) && SameName(key, k); };
  auto flag = [&](bool& field) -> std::optional<std::string> {
    const auto f = Flag(value);
    if (!f) return FlagRefused(name);
    field = *f;
    return std::nullopt;
  };
  if (is("Rip", "Format")) {
    if (value.empty()) {
      o.RipFormat.clear();
      return std::nullopt;
    }
    if (FindFormatByName(value) == nullptr)
      return name + ": нет формата '" + value + "' (" + JoinFormatNames(", ", " или ") +
             "; пусто: формат из настроек).";
    o.RipFormat = value;
    return std::nullopt;
  }
  if (is("Rip", "Workers")) {
    if (value == "auto") {
      o.RipWorkers = 0;
      return std::nullopt;
    }
    const auto n = WholeNumber(value, 0, kMaxRipWorkersBox);
    if (!n) return NumberRange(name, 0, kMaxRipWorkersBox) + " 0 или auto: по числу процессоров.";
    o.RipWorkers = *n;
    return std::nullopt;
  }
  if (is("Rip", "LogLossless")) return flag(o.LogLossless);
  if (is("Rip", "LogCompressed")) return flag(o.LogCompressed);
  if (is("Rip", "Secure")) {
    if (value == "auto") {
      o.SecureRip.reset();
      return std::nullopt;
    }
    const auto f = Flag(value);
    if (!f) return name + ": введите 0, 1 или auto.";
    o.SecureRip = *f;
    return std::nullopt;
  }
  if (is("Rip", "SecureReads")) {
    const auto n = WholeNumber(value, 1, ProgramOptions::kMaxSecureReads);
    if (!n) return NumberRange(name, 1, ProgramOptions::kMaxSecureReads);
    o.SecureReads = *n;
    return std::nullopt;
  }
  if (is("Rip", "C2")) return flag(o.SecureC2);
  if (is("Rip", "TestAndCopy")) return flag(o.TestAndCopy);
  if (is("Rip", "HiddenTrack")) return flag(o.HiddenTrack);
  if (is("Write", "Verify")) return flag(o.WriteVerify);
  for (const OutputFormat& format : OutputFormats())
    for (const FormatOption& option : format.options)
      if (is(option.section, option.key)) {
        const auto n = WholeNumber(value, option.min, option.max);
        if (!n) return NumberRange(name, option.min, option.max);
        o.SetFormatValue(option, *n);
        return std::nullopt;
      }
  if (is("AccurateRip", "Server")) {
    const auto server = ArServerSetting(value);
    if (!server) {
      std::string message = BadArServerMessage(value);
      for (char& c : message)
        if (c == '\n') c = ' ';
      return message;
    }
    o.ArServer = *server;
    return std::nullopt;
  }
  if (is("MusicBrainz", "Enabled")) return flag(o.MusicBrainzEnabled);
  if (is("MusicBrainz", "Server")) {
    if (!value.empty() && MusicBrainzServerBase(value).empty())
      return name + ": укажите адрес http:// или https:// (имя и порт) либо оставьте пустым.";
    o.MusicBrainzServer = value;
    return std::nullopt;
  }
  if (is("CoverArt", "Enabled")) return flag(o.CoverArtEnabled);
  if (is("CoverArt", "Server")) {
    if (!value.empty() && CoverArtServerBase(value).empty())
      return name + ": укажите адрес http:// или https:// (имя и порт) либо оставьте пустым.";
    o.CoverArtServer = value;
    return std::nullopt;
  }
  if (is("CoverArt", "Size")) {
    const auto n = WholeNumber(value, 0, 10000);
    if (!n || CoverArtSize(*n) != *n) return name + ": введите 250, 500, 1200 или 0 (исходный размер).";
    o.CoverArtSize = *n;
    return std::nullopt;
  }
  if (is("Lookup", "Auto")) return flag(o.AutoLookup);
  if (is("ReplayGain", "Enabled")) {
    if (value == "auto") {
      o.ReplayGain.reset();
      return std::nullopt;
    }
    const auto f = Flag(value);
    if (!f) return name + ": введите 0, 1 или auto.";
    o.ReplayGain = *f;
    return std::nullopt;
  }
  if (SameName(section, "ReadOffset")) {
    const auto drive = WholeNumber(key, 0, 999);
    if (!drive || *drive >= static_cast<int>(driveNames.size()))
      return name + ": нет привода с номером " + key + " (номера приводов выводит команда drives).";
    const auto n = WholeNumber(value, -kMaxReadOffset, kMaxReadOffset);
    if (!n) return NumberRange(name, -kMaxReadOffset, kMaxReadOffset);
    const std::string& drive_name = driveNames[static_cast<std::size_t>(*drive)];
    if (*n == 0)
      o.ReadOffsets.erase(drive_name);
    else
      o.ReadOffsets[drive_name] = *n;
    return std::nullopt;
  }
  return "Нет параметра " + name + " в sonarvex.ini (их список выводит settings show).";
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ProgramOptionValues(
    const ProgramOptions& o, const std::vector<std::string>& driveNames) {
  std::vector<std::pair<std::string, std::string>> v;
  auto flag = [](bool b) { return std::string(b ? "1" : "0"); };
  v.emplace_back("Rip.Format", o.RipFormat);
  v.emplace_back("Rip.Workers", o.RipWorkers <= 0 ? std::string("auto") : std::to_string(o.RipWorkers));
  v.emplace_back("Rip.LogLossless", flag(o.LogLossless));
  v.emplace_back("Rip.LogCompressed", flag(o.LogCompressed));
  v.emplace_back("Rip.Secure", !o.SecureRip ? std::string("auto") : flag(*o.SecureRip));
  v.emplace_back("Rip.SecureReads", std::to_string(o.SecureReads));
  v.emplace_back("Rip.C2", flag(o.SecureC2));
  v.emplace_back("Rip.TestAndCopy", flag(o.TestAndCopy));
  v.emplace_back("Rip.HiddenTrack", flag(o.HiddenTrack));
  v.emplace_back("Write.Verify", flag(o.WriteVerify));
  for (const OutputFormat& format : OutputFormats())
    for (const FormatOption& option : format.options)
      v.emplace_back(std::string(option.section) + "." + option.key, std::to_string(o.FormatValue(option)));
  v.emplace_back("AccurateRip.Server", o.ArServer);
  v.emplace_back("MusicBrainz.Enabled", flag(o.MusicBrainzEnabled));
  v.emplace_back("MusicBrainz.Server", o.MusicBrainzServer);
  v.emplace_back("CoverArt.Enabled", flag(o.CoverArtEnabled));
  v.emplace_back("CoverArt.Server", o.CoverArtServer);
  v.emplace_back("CoverArt.Size", std::to_string(o.CoverArtSize));
  v.emplace_back("Lookup.Auto", flag(o.AutoLookup));
  v.emplace_back("ReplayGain.Enabled", !o.ReplayGain ? std::string("auto") : flag(*o.ReplayGain));
  for (std::size_t k = 0; k < driveNames.size(); ++k)
    v.emplace_back("ReadOffset." + std::to_string(k), std::to_string(o.ReadOffsetOf(driveNames[k])));
  return v;
}

bool IsProgramOptionAssignment(const std::string& assignment) {
  const auto eq = assignment.find('=');
  const auto dot = assignment.find('.');
  return dot != std::string::npos && dot > 0 && (eq == std::string::npos || dot < eq);
}

std::optional<std::string> SetProgramOptionFields(ProgramOptions& o,
                                                  const std::vector<std::string>& assignments,
                                                  const std::vector<std::string>& driveNames) {
  ProgramOptions changed = o;
  for (const std::string& a : assignments) {
    const auto eq = a.find('=');
    if (eq == std::string::npos || eq == 0) return "Нужно ИМЯ=ЗНАЧЕНИЕ, а не " + a + ".";
    if (auto refused = SetOne(changed, a.substr(0, eq), a.substr(eq + 1), driveNames)) return refused;
  }
  o = std::move(changed);
  return std::nullopt;
}

}  // namespace sonarvex
