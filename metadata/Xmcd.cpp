#include "metadata/Xmcd.h"

#include <string>
#include <vector>

#include "metadata/AlbumView.h"
#include "platform/Cp1251.h"
#include "platform/Dialogs.h"

namespace sonarvex {
namespace {

std::string_view AfterEquals(std::string_view line) {
  std::size_t eq = line.find('=');
  return eq == std::string_view::npos ? line.substr(line.size()) : line.substr(eq + 1);
}

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

}  // namespace

int AlbumTrackCount(const AlbumRecord& album) {
  int n = album.TrackCount;
  return n > kMaxAlbumTracks - 1 ? kMaxAlbumTracks - 1 : n;
}

bool ParseXmcd(std::string_view rawBody, AlbumRecord& album, TagBuffer& tags, Dialogs& dialogs,
               AlbumView* view) {
  // Everything below works on code page 1251, the text of the records.
  std::string converted;
  std::string_view body = rawBody;
  if (IsNonAsciiUtf8(rawBody)) {
    converted = Utf8ToCp1251(rawBody);
    body = converted;
  }

  // The status line goes; the rest is cut at every CR and LF.
  std::vector<std::string_view> lines;
  std::size_t firstLf = body.find('\n');
  if (firstLf != std::string_view::npos) {
    std::string_view rest = body.substr(firstLf + 1);
    std::size_t start = 0;
    for (std::size_t i = 0; i <= rest.size(); ++i) {
      if (i == rest.size() || rest[i] == '\r' || rest[i] == '\n') {
        if (i > start) lines.push_back(rest.substr(start, i - start));
        start = i + 1;
      }
    }
  }

  const int trackCount = AlbumTrackCount(album);
  const std::string ownId = Cp1251Lower(FieldText(album.CddbId));
  bool xmcdSeen = false, titleSeen = false, yearSeen = false, genreSeen = false;

  std::size_t i = 0;
  while (i < lines.size()) {
    std::string_view line = lines[i];
    if (line.front() == '#') {
      if (Contains(line, "xmcd")) {
        xmcdSeen = true;
        ++i;
        continue;
      }
      if (Contains(line, "Track frame offsets")) {
        ++i;
        continue;
      }
    }
    if (Contains(line, "DISCID=")) {
      std::string value;
      for (char c : AfterEquals(line))
        if (c != ' ') value += c;
      if (!Contains(Cp1251Lower(value), ownId)) {
        dialogs.Message(
            "Сервер вернул не верный идентификатор диска: '" + Cp1251ToUtf8(ownId) + "' -> '" +
                Cp1251ToUtf8(value) + "'.",
            kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
      }
    } else if (Contains(line, "DTITLE=")) {
      std::string_view value = AfterEquals(line);
      std::string_view artist = value, albumTitle = value.substr(value.size());
      std::size_t slash = value.find('/');
      if (slash != std::string_view::npos) {
        artist = value.substr(0, slash);
        albumTitle = value.substr(slash + 1);
      }
      if (!albumTitle.empty() && albumTitle.front() == ' ') albumTitle.remove_prefix(1);
      if (!artist.empty() && artist.back() == ' ') artist.remove_suffix(1);
      SetField(album.AlbumTitle, albumTitle);
      SetField(album.Artist, artist);
      if (view) {
        view->SetAlbumName(Cp1251ToUtf8(FieldText(album.AlbumTitle)));
        view->SetArtist(Cp1251ToUtf8(FieldText(album.Artist)));
      }
      titleSeen = true;
    } else if (Contains(line, "DYEAR=")) {
      SetField(album.Year, AfterEquals(line));
      yearSeen = true;
    } else if (Contains(line, "DGENRE=")) {
      SetField(album.Genre, AfterEquals(line));
      genreSeen = true;
    } else if (Contains(line, "TTITLE0=")) {
      // One line per track, in turn; a line that is not the track's own
      // leaves that track as it was but still uses up its turn.
      for (int k = 0; k < trackCount && i < lines.size(); ++k, ++i) {
        std::string_view current = lines[i];
        if (!Contains(current, "TTITLE" + std::to_string(k) + "=")) continue;
        AlbumTrackEntry& entry = album.Tracks[k];
        SetField(entry.Title, AfterEquals(current));
        if (view) view->SetTrackCaption(k, Cp1251ToUtf8(FieldText(entry.Title)));
        TrackTagRecord tag = tags.Get(k, trackCount);
        SetField(tag.Title, FieldText(entry.Title));
        SetField(tag.Artist, FieldText(album.Artist));
        SetField(tag.OriginalArtist, FieldText(album.Artist));
        SetField(tag.Album, FieldText(album.AlbumTitle));
        SetField(tag.Year, FieldText(album.Year));
        SetField(tag.Genre, FieldText(album.Genre));
        SetField(tag.TrackNumber, std::to_string(k + 1));
        tag.TagsOn = 1;
        tags.Set(k, trackCount, tag);
      }
      if (xmcdSeen && titleSeen && yearSeen && genreSeen) break;
      ++i;  // one more line is skipped
      continue;
    }
    ++i;
  }
  return true;
}

}  // namespace sonarvex
