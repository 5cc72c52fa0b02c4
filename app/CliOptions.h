// The command line of sonarvex-cli:
//   sonarvex-cli [--home DIR] [--image FILE.cue]... COMMAND ...
//   drives | toc [--drive N] | rip [--drive N] [--format wav|mp3|ogg]
//   [--tracks LIST] [--on-the-fly] | cddb [--drive N] [--match K]
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace sonarvex {

struct CliOptions {
  std::string Home;  // program folder ("" = the executable's)
  std::vector<std::string> Images;
  std::string Command;  // "drives", "toc", "rip", "cddb"
  std::optional<int> Drive;
  std::string Format;  // "wav", "mp3", "ogg" ("" = the profile's)
  std::string Tracks;  // "1,3-5" ("" = all audio tracks)
  bool OnTheFly = false;
  int Match = 1;
};

// Parses argv[1..]; on a usage error returns nullopt and sets *error.
std::optional<CliOptions> ParseCli(const std::vector<std::string>& args, std::string* error);

// Track numbers (1-based) of a list like "1,3-5"; every number must lie in
// 1..maxTrack. nullopt (with *error) for a malformed list.
std::optional<std::vector<int>> ParseTrackList(const std::string& list, int maxTrack,
                                               std::string* error);

const char* CliUsage();

}  // namespace sonarvex
