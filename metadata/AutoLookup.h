// What the automatic lookup of a disc (RunAutoLookup, LookupSources.h) did.
#pragma once

#include <string>

namespace sonarvex {

struct AutoLookupResult {
  bool attempted = false;  // the disc was looked up (unknown to the album database, the option on)
  bool applied = false;    // a source answered, its entry was applied and stored
  std::string source;      // the one that answered ("MusicBrainz", "CDDB", "CD-Text")
  // What the user is told (Russian, one line; names the sources and why
  // they failed); empty when there is nothing to say.
  std::string notice;
};

}  // namespace sonarvex
