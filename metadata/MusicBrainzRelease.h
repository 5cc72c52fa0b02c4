// What a MusicBrainz web-service answer (JSON, "fmt=json") says of the
// releases that hold a disc: a plain record per release, with the texts as
// the server gave them (UTF-8). The JSON reader stays inside the .cpp.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sonarvex {

struct MusicBrainzTrack {
  int position = 0;                    // 1-based on its medium
  std::string number;                  // as printed ("1", "A1")
  std::string title;
  std::string artist;                  // the artist credit, join phrases included
  std::vector<std::string> artistIds;  // one per credited artist
  std::string trackId;                 // of the track on this release
  std::string recordingId;
  std::vector<std::string> isrcs;      // of the recording
  int lengthMs = 0;                    // 0: unknown
};

struct MusicBrainzMedium {
  int position = 0;  // the disc number
  std::string format;  // "CD", "Enhanced CD", ...
  std::string title;
  int trackCount = 0;
  std::vector<std::string> discIds;  // the disc identifiers attached to it
  std::vector<MusicBrainzTrack> tracks;
};

struct MusicBrainzRelease {
  std::string id;
  std::string title;
  std::string artist;                  // the artist credit, join phrases included
  std::vector<std::string> artistIds;  // one per credited artist
  std::string date;                    // "YYYY", "YYYY-MM" or "YYYY-MM-DD", or ""
  std::string country;
  std::string barcode;
  std::vector<std::string> labels;          // distinct, in the answer's order
  std::vector<std::string> catalogNumbers;  // distinct, in the answer's order
  std::string releaseGroupId;
  std::string originalDate;  // the release group's first release date
  std::string genre;         // the most voted genre (release group, else release), or ""
  std::vector<MusicBrainzMedium> media;

  // The medium the disc is: the one the disc identifier is attached to;
  // without one (a fuzzy answer), the first CD with that many tracks, then
  // the first medium with that many tracks. Null when none fits.
  const MusicBrainzMedium* MediumFor(std::string_view discId, int audioTracks) const;
  // The year of the date ("" without one).
  std::string Year() const { return date.substr(0, date.size() >= 4 ? 4 : 0); }
};

// Reads a disc identifier or toc answer ({"releases": [...]}, the disc's own
// fields beside it) or a single release. False when the text is no such
// answer; reason then says what is wrong with it (Russian, without the
// server's name). Fields of unexpected types are taken as absent.
bool ParseMusicBrainzAnswer(std::string_view json, std::vector<MusicBrainzRelease>& releases,
                            std::string& reason);

}  // namespace sonarvex
