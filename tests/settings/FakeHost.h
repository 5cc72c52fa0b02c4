// A settings dialog host for tests: fixed answers, recorded calls.
#pragma once

#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "codec/FlacWriter.h"
#include "codec/OpusWriter.h"
#include "records/SettingsRecord.h"
#include "settings/ProgramFacts.h"
#include "settings/SettingsFormHost.h"
#include "records/AlbumRecord.h"
#include "platform/Cp1251.h"

namespace sonarvex {

class FakeHost : public SettingsFormHost, public ProgramFacts {
 public:
  std::vector<std::string> drives{"Drive A", "Drive B"};
  bool aspi = true, spti = true;
  std::string lame = "LAME 3.100", acm;
  std::vector<std::string> acmFormats;
  WindowState state = WindowState::Idle;
  bool disc = true;
  int selected = -1;
  std::vector<std::string> extensions{".mp3", ".wav"};
  std::optional<ReadCommandChoice> detection;
  // The options of the INI store (read offsets by drive index).
  int ripWorkers = 0;
  bool flac = true;
  int flacLevel = 5;
  bool opus = true;
  int opusBitrate = 160;
  std::map<int, int> readOffsets;
  bool logLossless = true, logCompressed = false;
  std::string arServer;
  bool autoLookup = true;
  // The options only the INI store keeps (ReplayGain, secure reading, the
  // hidden track, FLAC verification, MusicBrainz and the cover art).
  bool flacVerify = true;
  ProgramOptions more;
  bool iniWritable = true;  // false: every setter fails as an unwritable file does

  // Recorded.
  std::vector<ReadCommandRequest> detectRequests;
  struct Play {
    int track;
    Msf from, to;
  };
  std::vector<Play> plays;
  int stops = 0;
  std::optional<std::vector<std::string>> storedExtensions;
  // Every setter call of the INI options, in order ("RipWorkers=2", ...).
  std::vector<std::string> iniCalls;

  std::vector<std::string> DriveNames() override { return drives; }
  bool AspiUsable() override { return aspi; }
  bool SptiUsable() override { return spti; }
  std::optional<ReadCommandChoice> DetectReadCommand(const ReadCommandRequest& r) override {
    detectRequests.push_back(r);
    return detection;
  }
  // The read offset search: its answer, and the drives it was asked for.
  ReadOffsetFinding offsetFinding;
  std::vector<int> offsetSearches;
  ReadOffsetFinding FindReadOffset(int drive) override {
    offsetSearches.push_back(drive);
    return offsetFinding;
  }
  std::string LameVersionText() override { return lame; }
  std::string AcmCodecName() override { return acm; }
  std::vector<std::string> AcmFormatDescriptions() override { return acmFormats; }
  bool FormatAvailable(OutputKind kind) override {
    return kind == OutputKind::Flac ? flac : kind == OutputKind::Opus ? opus : true;
  }
  WindowState State() override { return state; }
  bool DiscPresent() override { return disc; }
  int SelectedTrack() override { return selected; }
  bool PlayEnabled() override { return true; }
  bool StopEnabled() override { return true; }
  void PlayRange(int track, Msf from, Msf to) override { plays.push_back({track, from, to}); }
  void StopPlay() override { ++stops; }
  std::vector<std::string> SearchExtensions() override { return extensions; }
  void SetSearchExtensions(const std::vector<std::string>& e) override { storedExtensions = e; }

  ProgramOptions Options() override {
    ProgramOptions o;
    o.RipWorkers = ripWorkers;
    o.FormatValues[kFlacLevelOption.Id()] = flacLevel;
    o.FormatValues[kOpusBitrateOption.Id()] = opusBitrate;
    o.LogLossless = logLossless;
    o.LogCompressed = logCompressed;
    o.ArServer = arServer;
    o.AutoLookup = autoLookup;
    o.FormatValues[kFlacVerifyOption.Id()] = flacVerify ? 1 : 0;
    o.ReplayGain = more.ReplayGain;
    o.SecureRip = more.SecureRip;
    o.SecureReads = more.SecureReads;
    o.SecureC2 = more.SecureC2;
    o.TestAndCopy = more.TestAndCopy;
    o.HiddenTrack = more.HiddenTrack;
    o.MusicBrainzEnabled = more.MusicBrainzEnabled;
    o.MusicBrainzServer = more.MusicBrainzServer;
    o.CoverArtEnabled = more.CoverArtEnabled;
    o.CoverArtServer = more.CoverArtServer;
    o.CoverArtSize = more.CoverArtSize;
    for (const auto& [drive, samples] : readOffsets)
      if (drive >= 0 && drive < static_cast<int>(drives.size()))
        o.ReadOffsets[drives[static_cast<std::size_t>(drive)]] = samples;
    return o;
  }
  // Records each option the change altered, as one store of it, in order.
  bool ChangeOptions(const std::function<void(ProgramOptions&)>& change) override {
    const ProgramOptions before = Options();
    ProgramOptions now = before;
    change(now);
    bool stored = true;
    if (now.RipWorkers != before.RipWorkers) {
      iniCalls.push_back("RipWorkers=" + std::to_string(now.RipWorkers));
      if (iniWritable && now.RipWorkers >= 0 && now.RipWorkers <= 64)
        ripWorkers = now.RipWorkers;
      else
        stored = false;
    }
    // The options the formats keep in the INI store: FLAC's level, Opus's bitrate.
    const int level = now.FormatValue(kFlacLevelOption);
    if (level != before.FormatValue(kFlacLevelOption)) {
      iniCalls.push_back("FlacLevel=" + std::to_string(level));
      if (iniWritable && level >= 0 && level <= 8)
        flacLevel = level;
      else
        stored = false;
    }
    const int kbits = now.FormatValue(kOpusBitrateOption);
    if (kbits != before.FormatValue(kOpusBitrateOption)) {
      iniCalls.push_back("OpusBitrate=" + std::to_string(kbits));
      if (iniWritable && kbits >= 6 && kbits <= 510)
        opusBitrate = kbits;
      else
        stored = false;
    }
    for (const auto& [name, samples] : now.ReadOffsets) {
      if (before.ReadOffsetOf(name) == samples) continue;
      int drive = -1;
      for (std::size_t d = 0; d < drives.size(); ++d)
        if (drives[d] == name) drive = static_cast<int>(d);
      iniCalls.push_back("ReadOffset" + std::to_string(drive) + "=" + std::to_string(samples));
      if (iniWritable && drive >= 0 && std::abs(samples) <= 5880)
        readOffsets[drive] = samples;
      else
        stored = false;
    }
    if (now.LogLossless != before.LogLossless || now.LogCompressed != before.LogCompressed) {
      iniCalls.push_back(std::string("RipLog=") + (now.LogLossless ? "1" : "0") +
                         (now.LogCompressed ? "1" : "0"));
      if (iniWritable) {
        logLossless = now.LogLossless;
        logCompressed = now.LogCompressed;
      } else {
        stored = false;
      }
    }
    if (now.ArServer != before.ArServer) {
      iniCalls.push_back("ArServer=" + now.ArServer);
      if (iniWritable)
        arServer = now.ArServer;
      else
        stored = false;
    }
    if (now.AutoLookup != before.AutoLookup) {
      iniCalls.push_back(std::string("AutoLookup=") + (now.AutoLookup ? "1" : "0"));
      if (iniWritable)
        autoLookup = now.AutoLookup;
      else
        stored = false;
    }
    auto choice = [](const std::optional<bool>& v) { return !v ? std::string("auto") : *v ? "1" : "0"; };
    auto store = [&](bool changed, const std::string& call, auto& field, const auto& value) {
      if (!changed) return;
      iniCalls.push_back(call);
      if (iniWritable)
        field = value;
      else
        stored = false;
    };
    const bool verify = now.FormatValue(kFlacVerifyOption) != 0;
    store(verify != (before.FormatValue(kFlacVerifyOption) != 0),
          std::string("FlacVerify=") + (verify ? "1" : "0"), flacVerify, verify);
    store(now.ReplayGain != before.ReplayGain, "ReplayGain=" + choice(now.ReplayGain), more.ReplayGain,
          now.ReplayGain);
    store(now.SecureRip != before.SecureRip, "Secure=" + choice(now.SecureRip), more.SecureRip, now.SecureRip);
    store(now.SecureReads != before.SecureReads, "SecureReads=" + std::to_string(now.SecureReads),
          more.SecureReads, now.SecureReads);
    store(now.SecureC2 != before.SecureC2, std::string("C2=") + (now.SecureC2 ? "1" : "0"), more.SecureC2,
          now.SecureC2);
    store(now.TestAndCopy != before.TestAndCopy, std::string("TestAndCopy=") + (now.TestAndCopy ? "1" : "0"),
          more.TestAndCopy, now.TestAndCopy);
    store(now.HiddenTrack != before.HiddenTrack, std::string("HiddenTrack=") + (now.HiddenTrack ? "1" : "0"),
          more.HiddenTrack, now.HiddenTrack);
    store(now.MusicBrainzEnabled != before.MusicBrainzEnabled,
          std::string("MusicBrainz=") + (now.MusicBrainzEnabled ? "1" : "0"), more.MusicBrainzEnabled,
          now.MusicBrainzEnabled);
    store(now.MusicBrainzServer != before.MusicBrainzServer, "MusicBrainzServer=" + now.MusicBrainzServer,
          more.MusicBrainzServer, now.MusicBrainzServer);
    store(now.CoverArtEnabled != before.CoverArtEnabled,
          std::string("CoverArt=") + (now.CoverArtEnabled ? "1" : "0"), more.CoverArtEnabled,
          now.CoverArtEnabled);
    store(now.CoverArtServer != before.CoverArtServer, "CoverArtServer=" + now.CoverArtServer,
          more.CoverArtServer, now.CoverArtServer);
    store(now.CoverArtSize != before.CoverArtSize, "CoverArtSize=" + std::to_string(now.CoverArtSize),
          more.CoverArtSize, now.CoverArtSize);
    return stored;
  }
};

// A settings record as a first start leaves it, with every field in range.
inline SettingsRecord TestSettings(const std::string& outputFolder) {
  SettingsRecord s;
  std::memset(&s, 0, sizeof s);
  ApplyFirstStartDefaults(s, outputFolder.c_str());
  s.ReadSpeed = 30;
  s.NameHasTitle = 1;
  s.WindowColor = kDefaultWindowColor;
  s.EditColor = kDefaultEditColor;
  s.Volume = 255;
  s.DecodeFilesAtOnce = 1;
  s.SectorsPerRead = 26;
  SetField(s.CddbHost, "cddb.example.org");
  SetField(s.CddbPath, "/~cddb/cddb.cgi");
  return s;
}

// Three tracks of 3:00, 2:00 and 1:00 after the usual two-second offset.
inline AlbumRecord TestAlbum() {
  AlbumRecord a;
  std::memset(&a, 0, sizeof a);
  SetField(a.AlbumTitle, "Album");
  SetField(a.Artist, "Artist");
  a.TrackCount = 3;
  a.FirstTrackOffset = 150;
  const int lengths[3] = {13500, 9000, 4500};
  int sector = 0;
  for (int i = 0; i <= 3; ++i) {
    AlbumTrackEntry& e = a.Tracks[i];
    e.StartSector = sector;
    e.Start = FramesToMsf(sector + 150);
    if (i < 3) {
      SetField(e.Title, "Track" + std::to_string(i + 1));
      e.Length = FramesToMsf(lengths[i]);
      e.Size = static_cast<std::uint32_t>(lengths[i]) * 2352;
      e.AudioFlag = 1;
      sector += lengths[i];
    }
  }
  return a;
}

}  // namespace sonarvex
