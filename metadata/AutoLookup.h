// What the automatic lookup of a disc (RunAutoLookup, LookupSources.h) did.
#pragma once

#include <string>
#include <vector>

namespace sonarvex {

struct AutoLookupResult {
  bool attempted = false;  // the disc was looked up (unknown to the album database, the option on)
  bool applied = false;    // a source answered, its entry was applied and stored
  std::string source;      // the one that answered ("MusicBrainz", "CDDB", "CD-Text")
  // The entries it offered when there were several (as a chooser shows
  // them), and the one taken (-1: none, the choice was cancelled).
  std::vector<std::string> matches;
  int chosen = -1;
  // What the user is told (Russian, one line; names the sources and why
  // they failed); empty when there is nothing to say.
  std::string notice;
};

}  // namespace sonarvex
