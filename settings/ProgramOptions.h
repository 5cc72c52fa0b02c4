// The options the program keeps in setting/sonarvex.ini beside the settings
// record, read and written in one place: how many tracks a rip compresses at
// once, the options of the output formats (the FLAC level), the rip log,
// secure reading, the AccurateRip server, the MusicBrainz server, the Cover
// Art Archive and each drive's read offset.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "codec/FormatOptions.h"

namespace sonarvex {

class IniStore;

struct ProgramOptions {
  // [Rip] Workers: 0 is "auto" (one per processor), at most kMaxRipWorkers.
  int RipWorkers = 0;
  // [Rip] Format: the command-line name of the format a rip of the command
  // line writes when it names none ("flac"); "" (or a name no format has):
  // the settings record's OutputKind.
  std::string RipFormat;
  // [Rip] HiddenTrack: whether a rip that takes track 1 also rips the audio
  // before track 1's INDEX 01 (a hidden track) as track 0.
  bool HiddenTrack = true;
  // The options of the output formats ([FLAC] Level, ...), by
  // FormatOption::Id(); a format option without a value has its default.
  std::map<std::string, int> FormatValues;
  // [Rip] LogLossless / LogCompressed: whether a rip leaves a log and a cue
  // sheet beside lossless (WAV, FLAC) and compressed files.
  bool LogLossless = true;
  bool LogCompressed = false;
  // [AccurateRip] Server, HOST[:PORT]; "" when verification is off.
  std::string ArServer;
  // [ReadOffset] in samples (at most 5880 either way), by drive name; a drive
  // without an entry reads with 0.
  std::map<std::string, int> ReadOffsets;
  // [MusicBrainz] Enabled: whether discs are looked up in MusicBrainz.
  bool MusicBrainzEnabled = true;
  // [MusicBrainz] Server: the web service's address (http:// or https://,
  // host and port); "" is https://musicbrainz.org.
  std::string MusicBrainzServer;
  // [CoverArt] Enabled: whether the front cover of a release is fetched from
  // the Cover Art Archive, put into the files and beside them.
  bool CoverArtEnabled = true;
  // [CoverArt] Server: the archive's address (http:// or https://, host and
  // port); "" is https://coverartarchive.org.
  std::string CoverArtServer;
  // [CoverArt] Size: 250, 500 or 1200 pixels, 0 for the original image.
  int CoverArtSize = 500;
  // [Lookup] Auto: whether a disc the album database does not know is looked
  // up by itself (MusicBrainz, CDDB, CD-Text) when it is read and before a
  // rip of the command line.
  bool AutoLookup = true;

  // [ReplayGain] Enabled: "1" puts the ReplayGain of the tracks and the
  // album into every rip to a format with tags, "0" into none; missing (or
  // "auto"): lossless rips only (FLAC), lossy files keep their tags as
  // they were unless the user asks.
  std::optional<bool> ReplayGain;

  // [Rip] Secure: "1" reads every rip securely (each block twice with the
  // drive's cache read away between, sectors that differ read again until
  // two reads agree), "0" none; missing (or "auto"): lossless rips only
  // (WAV, FLAC).
  std::optional<bool> SecureRip;
  // [Rip] SecureReads: how many times at most a sector whose reads differ
  // is read again (1..kMaxSecureReads).
  int SecureReads = kDefaultSecureReads;
  // [Rip] C2: whether secure reads use the drive's C2 error pointers where
  // the drive has them.
  bool SecureC2 = true;
  // [Rip] TestAndCopy: every track is read twice whole, and the log says
  // whether the CRC32 of both passes agree.
  bool TestAndCopy = false;
  // [Write] Verify: after a disc is written, every track is read back and
  // compared with what was sent to the drive.
  bool WriteVerify = true;

  static constexpr int kMaxRipWorkers = 64;
  static constexpr int kDefaultSecureReads = 16;
  static constexpr int kMaxSecureReads = 1000;

  int ReadOffsetOf(const std::string& driveName) const;
  int FormatValue(const FormatOption& option) const;
  void SetFormatValue(const FormatOption& option, int value) {
    FormatValues[option.Id()] = option.Clamped(value);
  }
  // Whether a rip to a lossless or compressed format leaves a log.
  bool LogFor(bool lossless) const { return lossless ? LogLossless : LogCompressed; }
  // Whether a rip to a lossless or lossy format writes its ReplayGain.
  bool ReplayGainFor(bool lossless) const { return ReplayGain.value_or(lossless); }
  // Whether a rip to a lossless or lossy format reads securely.
  bool SecureFor(bool lossless) const { return SecureRip.value_or(lossless); }
};

// The options in ini; the read offsets of the drives named.
ProgramOptions ReadProgramOptions(const IniStore& ini, const std::vector<std::string>& driveNames);

// Writes into ini every option in which `now` differs from `before` (so a
// value changed on disk by another run is kept when this one left it alone).
// A refused value (a read offset out of range, an AccurateRip server that is
// not HOST[:PORT], a MusicBrainz or Cover Art Archive server that is no
// http:// or https:// address, a cover size the archive does not make) is
// not written and makes the answer false; the others are.
bool WriteProgramOptions(IniStore& ini, const ProgramOptions& before, const ProgramOptions& now);

}  // namespace sonarvex
