// A settings dialog host for tests: fixed answers, recorded calls.
#pragma once

#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "records/SettingsRecord.h"
#include "app/ProgramFacts.h"
#include "app/settingsform/SettingsFormHost.h"
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
  std::map<int, int> readOffsets;
  bool logLossless = true, logCompressed = false;
  std::string arServer;
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
  std::string LameVersionText() override { return lame; }
  std::string AcmCodecName() override { return acm; }
  std::vector<std::string> AcmFormatDescriptions() override { return acmFormats; }
  bool FormatAvailable(OutputKind kind) override { return kind == OutputKind::Flac ? flac : true; }
  WindowState State() override { return state; }
  bool DiscPresent() override { return disc; }
  int SelectedTrack() override { return selected; }
  bool PlayEnabled() override { return true; }
  bool StopEnabled() override { return true; }
  void PlayRange(int track, Msf from, Msf to) override { plays.push_back({track, from, to}); }
  void StopPlay() override { ++stops; }
  std::vector<std::string> SearchExtensions() override { return extensions; }
  void SetSearchExtensions(const std::vector<std::string>& e) override { storedExtensions = e; }

  int IniRipWorkers() override { return ripWorkers; }
  bool SetIniRipWorkers(int w) override {
    iniCalls.push_back("RipWorkers=" + std::to_string(w));
    if (!iniWritable || w < 0 || w > 64) return false;
    ripWorkers = w;
    return true;
  }
  // FLAC's level is the one option the formats keep in the INI store.
  int IniFormatOption(const FormatOption&) override { return flacLevel; }
  bool SetIniFormatOption(const FormatOption&, int level) override {
    iniCalls.push_back("FlacLevel=" + std::to_string(level));
    if (!iniWritable || level < 0 || level > 8) return false;
    flacLevel = level;
    return true;
  }
  int IniReadOffset(int drive) override {
    auto i = readOffsets.find(drive);
    return i == readOffsets.end() ? 0 : i->second;
  }
  bool SetIniReadOffset(int drive, int samples) override {
    iniCalls.push_back("ReadOffset" + std::to_string(drive) + "=" + std::to_string(samples));
    if (!iniWritable || drive < 0 || drive >= static_cast<int>(drives.size()) ||
        std::abs(samples) > 5880)
      return false;
    readOffsets[drive] = samples;
    return true;
  }
  bool IniRipLogLossless() override { return logLossless; }
  bool IniRipLogCompressed() override { return logCompressed; }
  bool SetIniRipLog(bool lossless, bool compressed) override {
    iniCalls.push_back(std::string("RipLog=") + (lossless ? "1" : "0") + (compressed ? "1" : "0"));
    if (!iniWritable) return false;
    logLossless = lossless;
    logCompressed = compressed;
    return true;
  }
  std::string IniAccurateRipServer() override { return arServer; }
  bool SetIniAccurateRipServer(const std::string& hostPort) override {
    iniCalls.push_back("ArServer=" + hostPort);
    if (!iniWritable) return false;
    arServer = hostPort;
    return true;
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
