// The command line of sonarvex-cli (CliHelp() gives the whole of it):
//   sonarvex-cli [OPTIONS] COMMAND [COMMAND OPTIONS]
// Options may stand before or after the command, as --opt value or
// --opt=value; convert, burn, blank and verify read their own options,
// the program's own are taken out of them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/Version.h"

namespace sonarvex {

struct CliOptions {
  std::string Home;  // program folder ("" = the executable's, or the XDG folders)
  std::vector<std::string> Images;
  // "drives", "toc", "rip", "cddb", "lookup", "settings", "play", "convert", "burn",
  // "blank", "offset", "verify", or the
  // answers without a session: "help", "version".
  std::string Command;
  // What follows the command that is not an option: help's COMMAND,
  // settings' show | set FIELD=VALUE..., play's FILE, convert's arguments
  // (all of them, untouched).
  std::vector<std::string> Arguments;
  std::optional<int> Drive;
  std::string Format;  // "wav", "mp3", "ogg", "wma", "flac" ("" = the profile's)
  std::string Tracks;  // "1,3-5" ("" = all audio tracks)
  bool OnTheFly = false;
  bool Overwrite = false;  // rip: replace files that are at the output names
  // rip --jobs N: tracks compressed at once (none: the setting).
  std::optional<int> Jobs;
  // rip --verify / --no-verify (none: when a server is set).
  std::optional<bool> Verify;
  // rip --secure / --no-secure (none: the setting [Rip] Secure).
  std::optional<bool> Secure;
  // rip --test-and-copy: every track read twice, both CRC32 in the log.
  bool TestAndCopy = false;
  // --accuraterip HOST[:PORT]: the AccurateRip server for this run.
  std::string ArServer;
  int Match = 1;
  // offset find --store: the offset found is stored without asking.
  bool Store = false;
  // rip --no-lookup: a disc the album database does not know is not looked up.
  bool NoLookup = false;
  // lookup --source musicbrainz|cddb|cdtext ("" = every source, one block
  // each) and --release MBID (MusicBrainz: the release to take).
  std::string Source;
  std::string Release;
  std::optional<int> Track;  // play --track N

  // The settings profile to use instead of the active one (its name as the
  // profile menu shows it).
  std::optional<std::string> Profile;
  // Overrides of the settings for this run (rip only); never saved.
  std::optional<std::string> Out;   // output folder
  std::optional<std::string> Name;  // file name format (%A %D %T %N)
  std::optional<int> Bitrate;       // kbit/s (MP3, Ogg or WMA, as the format says)
  std::optional<int> Vbr;           // LAME VBR quality 0..9
  std::optional<int> OggQuality;    // the Ogg quality slider's position, -100..1000
  // -1 quiet (only failures), 0 normal, 1 verbose.
  int Verbosity = 0;
};

// "--opt=value" as the two words "--opt" "value" (up to a "--"); nullopt
// with *error for "=value" given to an option that takes none.
std::optional<std::vector<std::string>> SplitOptionValues(const std::vector<std::string>& args,
                                                          std::string* error);

// Parses argv[1..]; on a usage error returns nullopt and sets *error (one
// line, Russian). The program's own options (--home, --image, --profile,
// -q, -v, --help, --version) may stand anywhere before a "--".
std::optional<CliOptions> ParseCli(const std::vector<std::string>& args, std::string* error);

// Track numbers (1-based) of a list like "1,3-5"; every number must lie in
// 1..maxTrack. nullopt (with *error) for a malformed list.
std::optional<std::vector<int>> ParseTrackList(const std::string& list, int maxTrack,
                                               std::string* error);
// The same for a disc whose tracks are numbered minTrack..maxTrack.
std::optional<std::vector<int>> ParseTrackList(const std::string& list, int minTrack, int maxTrack,
                                               std::string* error);

// "--ogg-quality" values: a decimal number -1..10 with at most one decimal,
// as the quality slider moves in steps of 0.1; the slider position (× 100).
std::optional<int> ParseOggQuality(const std::string& text);

// The short usage (after a usage error) and the help of the whole program
// or of one command ("" when there is no such command).
const char* CliUsage();
std::string CliHelp(const std::string& command = {});
// The commands help knows, in the order the help lists them.
const std::vector<std::string>& CliCommandNames();

}  // namespace sonarvex
