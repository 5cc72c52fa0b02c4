#include "metadata/AlbumDatabase.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "metadata/Xmcd.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "records/TextFields.h"

namespace sonarvex {
namespace {

bool HasExtension(const std::string& name, const char* ext) {
  std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  return Cp1251Lower(name.substr(dot)) == ext;
}

// The decimal number a file name starts with (up to its first "."); nullopt
// when that part is not a decimal integer that fits in 32 bits.
std::optional<std::int32_t> NameNumber(const std::string& name) {
  std::string part = name.substr(0, name.find('.'));
  std::size_t i = 0;
  bool negative = false;
  if (i < part.size() && (part[i] == '-' || part[i] == '+')) negative = part[i++] == '-';
  if (i == part.size()) return std::nullopt;
  long long value = 0;
  for (; i < part.size(); ++i) {
    if (part[i] < '0' || part[i] > '9') return std::nullopt;
    value = value * 10 + (part[i] - '0');
    if (value > 2147483648LL) return std::nullopt;
  }
  if (negative) value = -value;
  if (value < -2147483648LL || value > 2147483647LL) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

std::vector<std::string> ListNames(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return names;
  while (struct dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

void CollectForMigration(const std::string& folder, std::vector<std::string>& files, int depth) {
  if (depth > 32) return;
  for (const std::string& name : ListNames(folder)) {
    std::string path = JoinPath(folder, name);
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      CollectForMigration(path, files, depth + 1);
    } else if (S_ISREG(st.st_mode) && (HasExtension(name, ".dat") || HasExtension(name, ".tag"))) {
      files.push_back(path);
    }
  }
}

// The comparison key of a name without regard to case: the Latin and
// Cyrillic letters folded; a name beyond code page 1251 folds its ASCII.
std::string CaseKey(const std::string& utf8) {
  const std::string cp1251 = Utf8ToCp1251(utf8);
  if (Cp1251ToUtf8(cp1251) == utf8) return Cp1251Lower(cp1251);
  std::string key = utf8;
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return "\x01" + key;
}

}  // namespace

std::string AlbumFolder(const std::string& programFolder) {
  return JoinPath(programFolder, "setting/albums/");
}

std::string AlbumFileName(std::int32_t discId) { return std::to_string(discId) + ".dat"; }

std::vector<std::string> ListAlbumFiles(const std::string& albumFolder) {
  std::vector<std::string> files;
  for (const std::string& name : ListNames(albumFolder)) {
    if (!HasExtension(name, ".dat")) continue;
    std::string path = JoinPath(albumFolder, name);
    if (FileExists(path)) files.push_back(path);
  }
  return files;
}

std::string FindAlbumFile(const std::string& albumFolder, std::int32_t discId) {
  for (const std::string& path : ListAlbumFiles(albumFolder)) {
    std::string name = path.substr(path.rfind('/') + 1);
    if (name == "artn.dat") continue;
    auto number = NameNumber(name);
    if (number && *number == discId) return path;
  }
  return {};
}

bool ReadAlbumFile(const std::string& path, AlbumRecord& album) {
  auto data = ReadFileBytes(path, sizeof(AlbumRecord));
  if (!data) return false;
  std::memcpy(&album, data->data(), data->size());
  return true;
}

void ReadTagFile(const std::string& path, int trackCount, TagBuffer& tags) {
  if (trackCount < 0) trackCount = 0;
  std::size_t want = static_cast<std::size_t>(trackCount) * sizeof(TrackTagRecord);
  std::vector<std::uint8_t> bytes(want, 0);
  // A disc without tracks has no tag bytes to read (and no buffer to copy into).
  if (auto data = ReadFileBytes(path, want); data && !data->empty())
    std::memcpy(bytes.data(), data->data(), data->size());
  tags.Assign(std::move(bytes));
  tags.AssignTexts(ReadCompanion(path));
  tags.AssignTexts(tags.ValidTexts());
}

bool LoadAlbum(const std::string& albumFolder, std::int32_t discId, AlbumRecord& album,
               TagBuffer& tags, RecordTexts* albumTexts) {
  std::string path = FindAlbumFile(albumFolder, discId);
  if (path.empty()) return false;
  AlbumRecord loaded = album;
  if (!ReadAlbumFile(path, loaded)) return false;
  album = loaded;
  if (albumTexts) *albumTexts = ValidAlbumTexts(album, ReadCompanion(path));
  ReadTagFile(path + ".tag", AlbumTrackCount(album), tags);
  return true;
}

bool LoadAlbumForDisc(const std::string& albumFolder, AlbumRecord& album, TagBuffer& tags,
                      RecordTexts* albumTexts) {
  const AlbumRecord disc = album;
  AlbumRecord stored{};
  RecordTexts storedTexts;
  // The track count of the tags follows the disc, not the stored record.
  bool known = LoadAlbum(albumFolder, disc.DiscId, stored, tags, &storedTexts);
  if (albumTexts) *albumTexts = known ? storedTexts : RecordTexts();
  if (known) {
    album = stored;
    album.TrackCount = disc.TrackCount;
    album.DiscId = disc.DiscId;
    album.FirstTrackOffset = disc.FirstTrackOffset;
    album.FirstTrackNumber = disc.FirstTrackNumber;
    for (int i = 0; i < kMaxAlbumTracks; ++i) {
      AlbumTrackEntry& row = album.Tracks[i];
      const AlbumTrackEntry& d = disc.Tracks[i];
      row.Start = d.Start;
      row.Length = d.Length;
      row.StartSector = d.StartSector;
      row.Size = d.Size;
      row.AudioFlag = d.AudioFlag;
    }
    ReadTagFile(FindAlbumFile(albumFolder, disc.DiscId) + ".tag", AlbumTrackCount(album), tags);
  } else {
    for (int i = 0; i <= AlbumTrackCount(album); ++i) {
      char title[32];
      std::snprintf(title, sizeof title, "Track%d", TrackNumberOfRow(album, i));
      SetField(album.Tracks[i].Title, title);
    }
  }
  return known;
}

namespace {

// Whether the user gave the disc anything beyond what the disc alone gives
// ("Track1"... and no tags): a rename or a tag edit of a disc without artist
// and album is kept too.
bool HasOwnTitlesOrTags(const AlbumRecord& album, const TagBuffer& tags) {
  for (int i = 0; i < AlbumTrackCount(album); ++i)
    if (FieldText(album.Tracks[i].Title) != "Track" + std::to_string(TrackNumberOfRow(album, i))) return true;
  for (std::uint8_t b : tags.Bytes())
    if (b != 0) return true;
  return false;
}

}  // namespace

bool SaveAlbum(const std::string& albumFolder, const AlbumRecord& album, const TagBuffer& tags,
               std::vector<std::string>* artistList, const RecordTexts* albumTexts,
               std::string* problem) {
  if (problem) problem->clear();
  auto failed = [&](const std::string& file) {
    if (problem) *problem = "Не удалось записать файл '" + file + "': " + std::strerror(errno);
  };
  if (FieldText(album.Artist).empty() && FieldText(album.AlbumTitle).empty() &&
      !HasOwnTitlesOrTags(album, tags))
    return false;
  const RecordTexts texts = albumTexts ? ValidAlbumTexts(album, *albumTexts) : RecordTexts();
  std::string artist = AlbumText(album, texts, AlbumField::Artist);
  if (artistList && !artist.empty()) {
    bool listed = false;
    for (const std::string& a : *artistList) listed = listed || a == artist;
    if (!listed) artistList->push_back(artist);
  }
  if (!MakeDirectories(albumFolder)) {
    if (problem) *problem = "Не удалось создать папку '" + albumFolder + "': " + std::strerror(errno);
    return false;
  }
  std::string path = JoinPath(albumFolder, AlbumFileName(album.DiscId));
  // An existing file of the same number under another spelling ("0123.dat",
  // "123.DAT") is the one that is found again, so it is the one replaced.
  if (std::string existing = FindAlbumFile(albumFolder, album.DiscId); !existing.empty())
    path = existing;
  if (!WriteRecordFiles(path, std::string_view(reinterpret_cast<const char*>(&album), sizeof album),
                        texts)) {
    failed(path);
    return false;
  }
  const auto& bytes = tags.Bytes();
  if (!bytes.empty() &&
      !WriteRecordFiles(path + ".tag",
                        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                        tags.ValidTexts()))
    failed(path + ".tag");
  return true;
}

std::vector<std::string> CollectArtists(const std::string& albumFolder) {
  std::vector<std::string> artists;
  std::vector<std::string> lowered;
  for (const std::string& path : ListAlbumFiles(albumFolder)) {
    auto data = ReadFileBytes(path, 100);
    if (!data) continue;
    std::string field = data->size() > 50 ? data->substr(50) : std::string();
    std::string artist(FieldText(field.data(), field.size()));
    // The full artist of the companion while it still matches the record.
    const RecordTexts texts = ReadCompanion(path);
    std::string full = texts.Get(AlbumFieldName(AlbumField::Artist), artist.c_str(), artist.size() + 1);
    std::string key = CaseKey(full);
    bool seen = false;
    for (const std::string& l : lowered) seen = seen || l == key;
    if (seen) continue;
    lowered.push_back(key);
    artists.push_back(full);
  }
  return artists;
}

void MigrateAlbumFolder(const std::string& albumFolder) {
  const std::string marker = JoinPath(albumFolder, "artn.dat");
  if (!FileExists(marker)) return;
  std::vector<std::string> files;
  CollectForMigration(albumFolder, files, 0);
  std::string top = albumFolder;
  while (top.size() > 1 && top.back() == '/') top.pop_back();
  for (const std::string& file : files) {
    std::string folder = file.substr(0, file.rfind('/'));
    if (folder == top) continue;  // already in place
    std::string target = JoinPath(albumFolder, file.substr(file.rfind('/') + 1));
    // A name that exists already is left where it is.
    if (::access(target.c_str(), F_OK) == 0) continue;
    ::rename(file.c_str(), target.c_str());
  }
  for (const std::string& file : files) {
    // Remove the emptied folders, innermost first, up to the album folder.
    std::string folder = file.substr(0, file.rfind('/'));
    while (folder.size() > top.size() && folder.compare(0, top.size(), top) == 0) {
      RemoveEmptyDirectory(folder);
      folder = folder.substr(0, folder.rfind('/'));
    }
  }
  ::unlink(marker.c_str());
}

}  // namespace sonarvex
