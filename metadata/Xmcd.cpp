#include "metadata/Xmcd.h"

#include <map>
#include <string>
#include <vector>

#include "metadata/AlbumView.h"
#include "platform/Cp1251.h"
#include "platform/Dialogs.h"
#include "records/TextFields.h"

namespace sonarvex {
namespace {

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

}  // namespace

int AlbumTrackCount(const AlbumRecord& album) {
  int n = album.TrackCount;
  return n > kMaxAlbumTracks - 1 ? kMaxAlbumTracks - 1 : n;
}

// One line of an answer as UTF-8: a line that is valid UTF-8 is taken as
// such, any other line as code page 1251 (servers mix both), so that one
// stray byte costs only its own line.
std::string LineToUtf8(std::string_view line) {
  if (IsAscii(line) || IsNonAsciiUtf8(line)) return std::string(line);
  return Cp1251ToUtf8(line);
}

bool ParseXmcd(std::string_view body, AlbumRecord& album, TagBuffer& tags, Dialogs& dialogs,
               AlbumView* view) {
  RecordTexts texts;
  return ParseXmcd(body, album, texts, tags, dialogs, view);
}

bool ParseXmcd(std::string_view body, AlbumRecord& album, RecordTexts& albumTexts,
               TagBuffer& tags, Dialogs& dialogs, AlbumView* view) {
  // The status line goes; the rest is cut at every CR and LF.
  std::vector<std::string> lines;
  std::size_t firstLf = body.find('\n');
  if (firstLf != std::string_view::npos) {
    std::string_view rest = body.substr(firstLf + 1);
    std::size_t start = 0;
    for (std::size_t i = 0; i <= rest.size(); ++i) {
      if (i == rest.size() || rest[i] == '\r' || rest[i] == '\n') {
        if (i > start) lines.push_back(LineToUtf8(rest.substr(start, i - start)));
        start = i + 1;
      }
    }
  }

  // Keyword lines: a keyword that comes again continues its value (a long
  // title is split over several lines of the same keyword). Several DISCID
  // lines each list identifiers.
  std::map<std::string, std::string> values;
  for (const std::string& line : lines) {
    if (line.front() == '#') continue;
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    while (!key.empty() && key.front() == ' ') key.erase(0, 1);
    auto [it, fresh] = values.try_emplace(key);
    if (!fresh && key == "DISCID") it->second += ',';
    it->second += line.substr(eq + 1);
  }
  auto find = [&values](const std::string& key) -> const std::string* {
    auto it = values.find(key);
    return it == values.end() ? nullptr : &it->second;
  };

  const int trackCount = AlbumTrackCount(album);
  const std::string ownId = Cp1251Lower(FieldText(album.CddbId));
  bool found = false;
  if (const std::string* ids = find("DISCID")) {
    std::string value;
    for (char c : *ids)
      if (c != ' ') value += c;
    if (!Contains(Cp1251Lower(Utf8ToCp1251(value)), ownId)) {
      dialogs.Message(
          "Сервер вернул не верный идентификатор диска: '" + Cp1251ToUtf8(ownId) + "' -> '" +
              value + "'.",
          kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
    }
  }
  if (const std::string* title = find("DTITLE")) {
    std::string_view value = *title;
    std::string_view artist = value, albumTitle = value.substr(value.size());
    std::size_t slash = value.find('/');
    if (slash != std::string_view::npos) {
      artist = value.substr(0, slash);
      albumTitle = value.substr(slash + 1);
    }
    if (!albumTitle.empty() && albumTitle.front() == ' ') albumTitle.remove_prefix(1);
    if (!artist.empty() && artist.back() == ' ') artist.remove_suffix(1);
    SetAlbumText(album, albumTexts, AlbumField::AlbumTitle, albumTitle);
    SetAlbumText(album, albumTexts, AlbumField::Artist, artist);
    if (view) {
      view->SetAlbumName(AlbumText(album, albumTexts, AlbumField::AlbumTitle));
      view->SetArtist(AlbumText(album, albumTexts, AlbumField::Artist));
    }
    found = true;
  }
  if (const std::string* year = find("DYEAR")) SetAlbumText(album, albumTexts, AlbumField::Year, *year);
  if (const std::string* genre = find("DGENRE"))
    SetAlbumText(album, albumTexts, AlbumField::Genre, *genre);
  const std::string artist = AlbumText(album, albumTexts, AlbumField::Artist);
  const std::string albumTitle = AlbumText(album, albumTexts, AlbumField::AlbumTitle);
  const std::string year = AlbumText(album, albumTexts, AlbumField::Year);
  const std::string genre = AlbumText(album, albumTexts, AlbumField::Genre);
  // Tracks without their TTITLE keep the titles they had.
  for (int k = 0; k < trackCount; ++k) {
    const std::string* title = find("TTITLE" + std::to_string(k));
    if (!title) continue;
    SetTrackTitleText(album, albumTexts, k, *title);
    const std::string full = TrackTitleText(album, albumTexts, k);
    if (view) view->SetTrackCaption(k, full);
    TrackTags tag = tags.GetTags(k, trackCount);
    tag.Set(TagField::Title, full);
    tag.Set(TagField::Artist, artist);
    tag.Set(TagField::OriginalArtist, artist);
    tag.Set(TagField::Album, albumTitle);
    tag.Set(TagField::Year, year);
    tag.Set(TagField::Genre, genre);
    tag.Set(TagField::TrackNumber, std::to_string(TrackNumberOfRow(album, k)));
    tag.Record.TagsOn = 1;
    tags.SetTags(k, trackCount, tag);
    found = true;
  }
  // An answer without any title is no record of this disc.
  return found;
}

}  // namespace sonarvex
