// What a writer is given besides the settings record: the options of its
// output format that the record has no field for (kept in the settings
// folder's INI store, such as FLAC's compression level) and the disc's tags
// beyond a track's tag record. Light on purpose: the writers, the format
// registry and the ripping loop all pass these around.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <string>

namespace sonarvex {

struct CoverImage;

// One option of an output format: where the INI store keeps it and the
// whole numbers it takes.
struct FormatOption {
  const char* section;  // INI section, e.g. "FLAC"
  const char* key;      // INI key, e.g. "Level"
  int min;
  int max;
  int def;  // when nothing (or nothing usable) is stored

  // "SECTION/KEY", the option's name in FormatOptions.
  std::string Id() const { return std::string(section) + '/' + key; }
  int Clamped(int v) const { return std::clamp(v, min, max); }
};

// The tags of a track that its tag record has no field for.
struct DiscTags {
  std::string AlbumArtist;  // written as ALBUMARTIST when not empty (compilations)
  int TrackTotal = 0;       // written as TRACKTOTAL when above 0
};

// The values a caller hands to the writers: those of the options it read
// (by FormatOption::Id), the disc's tags and its cover.
struct FormatOptions {
  std::map<std::string, int> values;
  DiscTags disc;
  // The disc's front cover, embedded in every file (none: no picture).
  std::shared_ptr<const CoverImage> cover;

  // The value given for the option (held to its range), else its default.
  int Value(const FormatOption& option) const {
    const auto it = values.find(option.Id());
    return it == values.end() ? option.def : option.Clamped(it->second);
  }
  void Set(const FormatOption& option, int value) { values[option.Id()] = value; }
};

}  // namespace sonarvex
