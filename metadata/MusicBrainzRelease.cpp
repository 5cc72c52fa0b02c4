#include "metadata/MusicBrainzRelease.h"

#include <cJSON.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace sonarvex {

namespace {

struct JsonDeleter {
  void operator()(cJSON* j) const { cJSON_Delete(j); }
};

const cJSON* Member(const cJSON* object, const char* name) {
  return cJSON_IsObject(object) ? cJSON_GetObjectItemCaseSensitive(object, name) : nullptr;
}

std::string Text(const cJSON* object, const char* name) {
  const cJSON* item = Member(object, name);
  return cJSON_IsString(item) && item->valuestring ? std::string(item->valuestring) : std::string();
}

int Integer(const cJSON* object, const char* name) {
  const cJSON* item = Member(object, name);
  if (!cJSON_IsNumber(item) || !std::isfinite(item->valuedouble)) return 0;
  const double v = item->valuedouble;
  return v < 0 || v > 1e9 ? 0 : static_cast<int>(v);
}

// The members of an array member; none when it is absent or no array.
template <typename F>
void EachOf(const cJSON* object, const char* name, F&& f) {
  const cJSON* array = Member(object, name);
  if (!cJSON_IsArray(array)) return;
  const cJSON* item = nullptr;
  cJSON_ArrayForEach(item, array) f(item);
}

void AddDistinct(std::vector<std::string>& list, const std::string& text) {
  if (!text.empty() && std::find(list.begin(), list.end(), text) == list.end())
    list.push_back(text);
}

// An artist credit: the credited names with their join phrases, and the
// artists' identifiers. False when the object has none.
bool ReadCredit(const cJSON* object, std::string& text, std::vector<std::string>& ids) {
  const cJSON* credit = Member(object, "artist-credit");
  if (!cJSON_IsArray(credit) || cJSON_GetArraySize(credit) == 0) return false;
  text.clear();
  ids.clear();
  EachOf(object, "artist-credit", [&](const cJSON* c) {
    const cJSON* artist = Member(c, "artist");
    std::string name = Text(c, "name");
    if (name.empty()) name = Text(artist, "name");
    text += name + Text(c, "joinphrase");
    AddDistinct(ids, Text(artist, "id"));
  });
  return true;
}

// The name with the most votes of a "genres" (or "tags") list.
std::string MostVoted(const cJSON* object, const char* list) {
  std::string best;
  int votes = -1;
  EachOf(object, list, [&](const cJSON* g) {
    const std::string name = Text(g, "name");
    const int count = Integer(g, "count");
    if (!name.empty() && count > votes) {
      best = name;
      votes = count;
    }
  });
  return best;
}

MusicBrainzTrack ReadTrack(const cJSON* t, const MusicBrainzRelease& release) {
  MusicBrainzTrack track;
  const cJSON* recording = Member(t, "recording");
  track.position = Integer(t, "position");
  track.number = Text(t, "number");
  track.title = Text(t, "title");
  if (track.title.empty()) track.title = Text(recording, "title");
  track.trackId = Text(t, "id");
  track.recordingId = Text(recording, "id");
  if (!ReadCredit(t, track.artist, track.artistIds) &&
      !ReadCredit(recording, track.artist, track.artistIds)) {
    track.artist = release.artist;
    track.artistIds = release.artistIds;
  }
  EachOf(recording, "isrcs", [&](const cJSON* i) {
    if (cJSON_IsString(i) && i->valuestring) AddDistinct(track.isrcs, i->valuestring);
  });
  track.lengthMs = Integer(t, "length");
  if (track.lengthMs == 0) track.lengthMs = Integer(recording, "length");
  return track;
}

MusicBrainzRelease ReadRelease(const cJSON* r) {
  MusicBrainzRelease release;
  release.id = Text(r, "id");
  release.title = Text(r, "title");
  ReadCredit(r, release.artist, release.artistIds);
  release.date = Text(r, "date");
  release.country = Text(r, "country");
  release.barcode = Text(r, "barcode");
  EachOf(r, "label-info", [&](const cJSON* info) {
    AddDistinct(release.labels, Text(Member(info, "label"), "name"));
    AddDistinct(release.catalogNumbers, Text(info, "catalog-number"));
  });
  const cJSON* group = Member(r, "release-group");
  release.releaseGroupId = Text(group, "id");
  release.originalDate = Text(group, "first-release-date");
  release.genre = MostVoted(group, "genres");
  if (release.genre.empty()) release.genre = MostVoted(r, "genres");
  EachOf(r, "media", [&](const cJSON* m) {
    MusicBrainzMedium medium;
    medium.position = Integer(m, "position");
    medium.format = Text(m, "format");
    medium.title = Text(m, "title");
    EachOf(m, "discs", [&](const cJSON* d) { AddDistinct(medium.discIds, Text(d, "id")); });
    EachOf(m, "tracks", [&](const cJSON* t) {
      if (cJSON_IsObject(t)) medium.tracks.push_back(ReadTrack(t, release));
    });
    medium.trackCount = Integer(m, "track-count");
    if (medium.trackCount == 0) medium.trackCount = static_cast<int>(medium.tracks.size());
    release.media.push_back(std::move(medium));
  });
  return release;
}

}  // namespace

const MusicBrainzMedium* MusicBrainzRelease::MediumFor(std::string_view discId,
                                                       int audioTracks) const {
  for (const MusicBrainzMedium& m : media)
    for (const std::string& id : m.discIds)
      if (!discId.empty() && id == discId) return &m;
  for (const MusicBrainzMedium& m : media)
    if (m.trackCount == audioTracks && m.format.find("CD") != std::string::npos) return &m;
  for (const MusicBrainzMedium& m : media)
    if (m.trackCount == audioTracks) return &m;
  return nullptr;
}

bool ParseMusicBrainzAnswer(std::string_view json, std::vector<MusicBrainzRelease>& releases,
                            std::string& reason) {
  releases.clear();
  std::unique_ptr<cJSON, JsonDeleter> root(cJSON_ParseWithLength(json.data(), json.size()));
  if (!root) {
    reason = json.empty() ? "пустой ответ" : "ответ не в формате JSON";
    return false;
  }
  if (!cJSON_IsObject(root.get())) {
    reason = "в ответе нет описания диска или релиза";
    return false;
  }
  const cJSON* list = Member(root.get(), "releases");
  if (!list) {
    // A release of its own (a lookup by its identifier).
    if (Text(root.get(), "id").empty() || !cJSON_IsArray(Member(root.get(), "media"))) {
      reason = "в ответе нет списка релизов";
      return false;
    }
    releases.push_back(ReadRelease(root.get()));
    return true;
  }
  if (!cJSON_IsArray(list)) {
    reason = "список релизов в ответе не является массивом";
    return false;
  }
  const cJSON* item = nullptr;
  cJSON_ArrayForEach(item, list) {
    if (!cJSON_IsObject(item) || Text(item, "id").empty()) {
      reason = "релиз номер " + std::to_string(releases.size() + 1) + " в ответе без идентификатора";
      releases.clear();
      return false;
    }
    releases.push_back(ReadRelease(item));
  }
  return true;
}

}  // namespace sonarvex
