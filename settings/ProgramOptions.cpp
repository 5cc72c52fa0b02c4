#include "settings/ProgramOptions.h"

#include <algorithm>

#include "accuraterip/ArClient.h"
#include "codec/FormatRegistry.h"
#include "drive/AudioReading.h"
#include "metadata/CoverArtClient.h"
#include "metadata/MusicBrainzClient.h"
#include "platform/IniStore.h"

namespace sonarvex {

namespace {

bool IniFlag(const IniStore& ini, const char* section, const char* key, bool otherwise) {
  const auto v = ini.Get(section, key);
  if (!v || v->empty()) return otherwise;
  return *v == "1" || *v == "yes" || *v == "true" || *v == "on";
}

}  // namespace

int ProgramOptions::FormatValue(const FormatOption& option) const {
  const auto it = FormatValues.find(option.Id());
  return it == FormatValues.end() ? option.def : option.Clamped(it->second);
}

int ProgramOptions::ReadOffsetOf(const std::string& driveName) const {
  const auto it = ReadOffsets.find(driveName);
  return it == ReadOffsets.end() ? 0 : it->second;
}

ProgramOptions ReadProgramOptions(const IniStore& ini, const std::vector<std::string>& driveNames) {
  ProgramOptions o;
  const auto workers = ini.GetInt("Rip", "Workers");
  // "auto", a missing or a nonsensical value: one worker per processor.
  o.RipWorkers = !workers || *workers < 0
                     ? 0
                     : static_cast<int>(std::min<long long>(*workers, ProgramOptions::kMaxRipWorkers));
  o.RipFormat = ini.Get("Rip", "Format").value_or(std::string());
  o.FormatValues = StoredFormatOptions(ini).values;
  o.LogLossless = IniFlag(ini, "Rip", "LogLossless", true);
  o.LogCompressed = IniFlag(ini, "Rip", "LogCompressed", false);
  const auto server = ini.Get(kArIniSection, kArIniServerKey);
  o.ArServer = server ? *server : std::string();
  o.MusicBrainzEnabled = IniFlag(ini, "MusicBrainz", "Enabled", true);
  o.MusicBrainzServer = ini.Get("MusicBrainz", "Server").value_or(std::string());
  o.CoverArtEnabled = IniFlag(ini, "CoverArt", "Enabled", true);
  o.CoverArtServer = ini.Get("CoverArt", "Server").value_or(std::string());
  const long long size = ini.GetInt("CoverArt", "Size").value_or(kDefaultCoverArtSize);
  o.CoverArtSize = size >= 0 && size <= 10000 ? CoverArtSize(static_cast<int>(size))
                                              : kDefaultCoverArtSize;
  o.AutoLookup = IniFlag(ini, "Lookup", "Auto", true);
  if (const auto rg = ini.Get("ReplayGain", "Enabled"); rg && !rg->empty() && *rg != "auto")
    o.ReplayGain = IniFlag(ini, "ReplayGain", "Enabled", false);
  if (const auto secure = ini.Get("Rip", "Secure"); secure && !secure->empty() && *secure != "auto")
    o.SecureRip = IniFlag(ini, "Rip", "Secure", false);
  // A nonsensical count keeps the default; a large one is cut to the most.
  if (const auto reads = ini.GetInt("Rip", "SecureReads"); reads && *reads >= 1)
    o.SecureReads = static_cast<int>(std::min<long long>(*reads, ProgramOptions::kMaxSecureReads));
  o.SecureC2 = IniFlag(ini, "Rip", "C2", true);
  o.TestAndCopy = IniFlag(ini, "Rip", "TestAndCopy", false);
  o.HiddenTrack = IniFlag(ini, "Rip", "HiddenTrack", true);
  o.WriteVerify = IniFlag(ini, "Write", "Verify", true);
  for (const std::string& name : driveNames)
    if (const int samples = ReadOffsetFor(ini, name); samples != 0) o.ReadOffsets[name] = samples;
  return o;
}

bool WriteProgramOptions(IniStore& ini, const ProgramOptions& before, const ProgramOptions& now) {
  bool written = true;
  if (now.RipWorkers != before.RipWorkers) {
    if (now.RipWorkers <= 0)
      ini.Set("Rip", "Workers", "auto");
    else
      ini.SetInt("Rip", "Workers", std::min(now.RipWorkers, ProgramOptions::kMaxRipWorkers));
  }
  if (now.RipFormat != before.RipFormat) {
    if (now.RipFormat.empty())
      ini.Remove("Rip", "Format");
    else if (FindFormatByName(now.RipFormat) != nullptr)
      ini.Set("Rip", "Format", now.RipFormat);
    else
      written = false;
  }
  for (const OutputFormat& format : OutputFormats())
    for (const FormatOption& option : format.options)
      if (now.FormatValue(option) != before.FormatValue(option))
        StoreOptionValue(ini, option, now.FormatValue(option));
  if (now.LogLossless != before.LogLossless || now.LogCompressed != before.LogCompressed) {
    ini.Set("Rip", "LogLossless", now.LogLossless ? "1" : "0");
    ini.Set("Rip", "LogCompressed", now.LogCompressed ? "1" : "0");
  }
  if (now.ArServer != before.ArServer) {
    ArServer parsed;
    if (now.ArServer.empty() || ParseArServer(now.ArServer, parsed))
      ini.Set(kArIniSection, kArIniServerKey, now.ArServer);
    else
      written = false;
  }
  if (now.MusicBrainzEnabled != before.MusicBrainzEnabled)
    ini.Set("MusicBrainz", "Enabled", now.MusicBrainzEnabled ? "1" : "0");
  if (now.MusicBrainzServer != before.MusicBrainzServer) {
    if (now.MusicBrainzServer.empty() || !MusicBrainzServerBase(now.MusicBrainzServer).empty())
      ini.Set("MusicBrainz", "Server", now.MusicBrainzServer);
    else
      written = false;
  }
  if (now.CoverArtEnabled != before.CoverArtEnabled)
    ini.Set("CoverArt", "Enabled", now.CoverArtEnabled ? "1" : "0");
  if (now.CoverArtServer != before.CoverArtServer) {
    if (now.CoverArtServer.empty() || !CoverArtServerBase(now.CoverArtServer).empty())
      ini.Set("CoverArt", "Server", now.CoverArtServer);
    else
      written = false;
  }
  if (now.CoverArtSize != before.CoverArtSize) {
    if (CoverArtSize(now.CoverArtSize) == now.CoverArtSize)
      ini.SetInt("CoverArt", "Size", now.CoverArtSize);
    else
      written = false;
  }
  if (now.AutoLookup != before.AutoLookup) ini.Set("Lookup", "Auto", now.AutoLookup ? "1" : "0");
  if (now.ReplayGain != before.ReplayGain)
    ini.Set("ReplayGain", "Enabled", !now.ReplayGain ? "auto" : *now.ReplayGain ? "1" : "0");
  if (now.SecureRip != before.SecureRip)
    ini.Set("Rip", "Secure", !now.SecureRip ? "auto" : *now.SecureRip ? "1" : "0");
  if (now.SecureReads != before.SecureReads) {
    if (now.SecureReads >= 1 && now.SecureReads <= ProgramOptions::kMaxSecureReads)
      ini.SetInt("Rip", "SecureReads", now.SecureReads);
    else
      written = false;
  }
  if (now.SecureC2 != before.SecureC2) ini.Set("Rip", "C2", now.SecureC2 ? "1" : "0");
  if (now.WriteVerify != before.WriteVerify) ini.Set("Write", "Verify", now.WriteVerify ? "1" : "0");
  if (now.TestAndCopy != before.TestAndCopy)
    ini.Set("Rip", "TestAndCopy", now.TestAndCopy ? "1" : "0");
  if (now.HiddenTrack != before.HiddenTrack)
    ini.Set("Rip", "HiddenTrack", now.HiddenTrack ? "1" : "0");
  // Offsets set or changed, and those taken away (stored as no entry).
  for (const auto& [name, samples] : now.ReadOffsets)
    if (before.ReadOffsetOf(name) != samples) written &= StoreReadOffset(ini, name, samples);
  for (const auto& [name, samples] : before.ReadOffsets)
    if (!now.ReadOffsets.count(name)) StoreReadOffset(ini, name, 0);
  return written;
}

}  // namespace sonarvex
