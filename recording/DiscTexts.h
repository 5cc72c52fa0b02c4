// What a compilation says of the disc beyond its audio: the catalogue
// number, the ISRCs and the titles and performers that a session-at-once
// write puts on the disc (the codes in the Q sub-channel, the texts as
// CD-Text in the lead-in).
#pragma once

#include <string>
#include <vector>

namespace sonarvex {

struct DiscTexts {
  std::string catalog;           // 13 digits, or ""
  std::string title, performer;  // the album's (UTF-8)
  struct Track {
    std::string title, performer;  // UTF-8
    std::string isrc;              // 12 characters, or ""
    bool operator==(const Track&) const = default;
  };
  std::vector<Track> tracks;  // one a file of the compilation, in order
  bool operator==(const DiscTexts&) const = default;
};

}  // namespace sonarvex
