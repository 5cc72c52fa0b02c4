// The album database folder: names, loading, saving, artists, migration.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <algorithm>
#include <filesystem>

#include "TempFolder.h"
#include "metadata/AlbumDatabase.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "records/TextFields.h"

namespace sonarvex {
namespace {

using test::TempFolder;
namespace fs = std::filesystem;

AlbumRecord Named(std::int32_t id, const std::string& artist, const std::string& album,
                  int tracks = 2) {
  AlbumRecord a{};
  a.DiscId = id;
  a.TrackCount = static_cast<std::uint8_t>(tracks);
  SetFieldUtf8(a.Artist, artist);
  SetFieldUtf8(a.AlbumTitle, album);
  for (int i = 0; i < tracks; ++i) SetFieldUtf8(a.Tracks[i].Title, "Песня " + std::to_string(i + 1));
  return a;
}

TagBuffer Tags(int tracks, const char* comment) {
  TagBuffer t;
  for (int i = 0; i < tracks; ++i) {
    TrackTagRecord r{};
    r.TagsOn = 1;
    SetField(r.Comment, comment);
    t.Set(i, tracks, r);
  }
  return t;
}

void WriteRaw(const std::string& path, const std::string& bytes) {
  ASSERT_TRUE(WriteFileAtomically(path, bytes));
}

TEST(AlbumDatabase, NamesAndRoundTripWithTheTopBitSet) {
  TempFolder tmp;
  const std::string folder = AlbumFolder(tmp.Path());
  EXPECT_EQ(folder, tmp.Path() + "/setting/albums/");
  EXPECT_EQ(AlbumFileName(-1811239923), "-1811239923.dat");
  EXPECT_EQ(AlbumFileName(12345), "12345.dat");

  const std::int32_t id = static_cast<std::int32_t>(0x940aac0du);  // negative
  ASSERT_TRUE(SaveAlbum(folder, Named(id, "Кино", "Группа крови"), Tags(2, "c")));
  EXPECT_TRUE(FileExists(folder + "-1811239923.dat"));
  EXPECT_TRUE(FileExists(folder + "-1811239923.dat.tag"));
  EXPECT_EQ(fs::file_size(folder + "-1811239923.dat"), 9360u);
  EXPECT_EQ(fs::file_size(folder + "-1811239923.dat.tag"), 2u * 1529u);

  AlbumRecord a{};
  TagBuffer t;
  ASSERT_TRUE(LoadAlbum(folder, id, a, t));
  EXPECT_EQ(FieldUtf8(a.Artist), "Кино");
  EXPECT_EQ(FieldUtf8(a.Tracks[1].Title), "Песня 2");
  EXPECT_EQ(FieldText(t.Get(1, 2).Comment), "c");
  AlbumRecord untouched{};
  SetField(untouched.Artist, "same");
  EXPECT_FALSE(LoadAlbum(folder, 12345, untouched, t));
  EXPECT_EQ(FieldText(untouched.Artist), "same");
}

TEST(AlbumDatabase, FilesOfTheOlderProgramLoadUnchanged) {
  TempFolder tmp;
  const std::string folder = tmp.Path() + "/";
  // Built byte by byte as the Windows program wrote them.
  std::string album(9360, '\0');
  std::string artist = "\xCA\xE8\xED\xEE";  // "Кино" in code page 1251
  album.replace(0, 5, "Album");
  album.replace(50, artist.size(), artist);
  album[100] = 1;   // compilation
  album[104] = 2;   // tracks
  const std::uint32_t id = 0x0A0B0C0Du;
  std::memcpy(&album[108], &id, 4);
  album.replace(116, 3, "One");
  album[116 + 70] = 1;  // track 1 copied
  album.replace(116 + 92, 3, "Two");
  album.replace(9316, 4, "1988");
  album.replace(9326, 4, "Rock");
  album.replace(9346, 8, "0A0B0C0D");
  album[9356] = static_cast<char>(150);
  std::string tags(2 * 1529, '\0');
  tags[1529] = 1;
  tags.replace(1529 + 1, 3, "Two");
  tags.replace(1529 + 1175, 1, "2");
  WriteRaw(folder + "168496141.dat", album);
  WriteRaw(folder + "168496141.dat.tag", tags);

  AlbumRecord a{};
  TagBuffer t;
  ASSERT_TRUE(LoadAlbum(folder, 168496141, a, t));
  EXPECT_EQ(std::memcmp(&a, album.data(), 9360), 0);
  EXPECT_EQ(FieldUtf8(a.Artist), "Кино");
  EXPECT_EQ(a.Compilation, 1);
  EXPECT_EQ(a.Tracks[0].CopiedFlag, 1);
  EXPECT_EQ(a.FirstTrackOffset, 150);
  EXPECT_EQ(FieldText(t.Get(1, 2).Title), "Two");
  EXPECT_EQ(std::memcmp(t.Bytes().data(), tags.data(), tags.size()), 0);
  // Saved again, the files are byte for byte what was read.
  ASSERT_TRUE(SaveAlbum(folder, a, t));
  EXPECT_EQ(*ReadFileBytes(folder + "168496141.dat"), album);
  EXPECT_EQ(*ReadFileBytes(folder + "168496141.dat.tag"), tags);
}

TEST(AlbumDatabase, OddFilesInTheFolder) {
  TempFolder tmp;
  const std::string folder = tmp.Path() + "/";
  WriteRaw(folder + "abc.dat", std::string(9360, 'x'));
  WriteRaw(folder + "12x.dat", std::string(10, 'x'));
  WriteRaw(folder + ".dat", "");
  WriteRaw(folder + "99999999999999999999.dat", "");
  WriteRaw(folder + "-.dat", "");
  WriteRaw(folder + "5.txt", std::string(9360, 'y'));
  fs::create_directory(folder + "7.dat");  // a folder, not a file
  // An empty album file and a short one.
  WriteRaw(folder + "7.DAT.x.dat", "");
  WriteRaw(folder + "5.DAT", "Short");
  AlbumRecord a{};
  SetField(a.Genre, "before");
  TagBuffer t;
  EXPECT_FALSE(LoadAlbum(folder, 0, a, t));
  // "7.DAT.x.dat" is the album of disc 7 (the name up to its first "."); being
  // empty, it changes nothing in the record.
  ASSERT_TRUE(LoadAlbum(folder, 7, a, t));
  EXPECT_EQ(FieldText(a.Genre), "before");
  ASSERT_TRUE(LoadAlbum(folder, 5, a, t));
  EXPECT_EQ(FieldText(a.AlbumTitle), "Short");
  EXPECT_EQ(FieldText(a.Genre), "before") << "a short file overwrites only its length";
  EXPECT_EQ(t.Bytes().size(), 0u);
  EXPECT_EQ(CollectArtists(folder).size(), 2u);  // "" and "xxx..." of abc.dat
}

TEST(AlbumDatabase, TagFilesOfAnyLength) {
  TempFolder tmp;
  const std::string folder = tmp.Path() + "/";
  AlbumRecord a = Named(42, "A", "B", 3);
  WriteRaw(folder + "42.dat", std::string(reinterpret_cast<const char*>(&a), sizeof a));
  AlbumRecord out{};
  TagBuffer t;
  // No tag file: zero-filled records.
  ASSERT_TRUE(LoadAlbum(folder, 42, out, t));
  EXPECT_EQ(t.Bytes().size(), 3u * 1529u);
  // Longer (written for more tracks): read up to the track count.
  TagBuffer five = Tags(5, "long");
  WriteRaw(folder + "42.dat.tag",
           std::string(reinterpret_cast<const char*>(five.Bytes().data()), five.Bytes().size()));
  ASSERT_TRUE(LoadAlbum(folder, 42, out, t));
  EXPECT_EQ(t.Bytes().size(), 3u * 1529u);
  EXPECT_EQ(FieldText(t.Get(2, 3).Comment), "long");
  // Shorter: the rest is zero.
  WriteRaw(folder + "42.dat.tag", std::string(1529 + 200, '\x01'));
  ASSERT_TRUE(LoadAlbum(folder, 42, out, t));
  EXPECT_EQ(t.Get(0, 3).TagsOn, 1);
  EXPECT_EQ(t.Get(2, 3).TagsOn, 0);
  // A record of a disc without tracks beside a tag file: nothing to read.
  AlbumRecord empty = Named(43, "A", "B", 0);
  WriteRaw(folder + "43.dat", std::string(reinterpret_cast<const char*>(&empty), sizeof empty));
  WriteRaw(folder + "43.dat.tag", std::string(1529, '\x01'));
  ASSERT_TRUE(LoadAlbum(folder, 43, out, t));
  EXPECT_TRUE(t.Bytes().empty());
}

TEST(AlbumDatabase, SaveRules) {
  TempFolder tmp;
  const std::string folder = tmp.Path() + "/albums/";
  std::vector<std::string> list{"kino"};
  // Both artist and album empty and nothing but what the disc gives: not stored.
  AlbumRecord bare = Named(1, "", "");
  SetField(bare.Tracks[0].Title, "Track1");
  SetField(bare.Tracks[1].Title, "Track2");
  EXPECT_FALSE(SaveAlbum(folder, bare, TagBuffer(), &list));
  EXPECT_FALSE(FileExists(folder + "1.dat"));
  // A renamed track or a tag of such a disc is kept all the same.
  SetField(bare.Tracks[1].Title, "Renamed");
  EXPECT_TRUE(SaveAlbum(folder, bare, TagBuffer(), &list));
  SetField(bare.Tracks[1].Title, "Track2");
  EXPECT_TRUE(SaveAlbum(folder, bare, Tags(2, "x"), &list));
  EXPECT_EQ(list, (std::vector<std::string>{"kino"})) << "no artist to list";
  std::filesystem::remove(folder + "1.dat");
  std::filesystem::remove(folder + "1.dat.tag");
  // A differently cased name is added to the list again.
  EXPECT_TRUE(SaveAlbum(folder, Named(1, "Kino", ""), TagBuffer(), &list));
  EXPECT_TRUE(SaveAlbum(folder, Named(2, "Kino", "Other"), TagBuffer(), &list));
  EXPECT_EQ(list, (std::vector<std::string>{"kino", "Kino"}));
  EXPECT_FALSE(FileExists(folder + "1.dat.tag")) << "an empty tag buffer writes no tag file";
  // Artists listed once regardless of case.
  EXPECT_TRUE(SaveAlbum(folder, Named(3, "KINO", "Third"), TagBuffer()));
  EXPECT_TRUE(SaveAlbum(folder, Named(4, "Ария", "Four"), TagBuffer()));
  std::vector<std::string> artists = CollectArtists(folder);
  std::sort(artists.begin(), artists.end());
  ASSERT_EQ(artists.size(), 2u);
  EXPECT_EQ(Cp1251Lower(Utf8ToCp1251(artists[0])), "kino");
  EXPECT_EQ(artists[1], "Ария");
  EXPECT_TRUE(CollectArtists(tmp.Path() + "/missing").empty());
}

TEST(AlbumDatabase, FailedSaveKeepsTheStoredAlbum) {
  TempFolder tmp;
  const std::string folder = tmp.Path() + "/";
  ASSERT_TRUE(SaveAlbum(folder, Named(9, "Old", "Stored"), Tags(2, "old")));
  // A file size limit below the record's size makes every write fail (root too).
  struct rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  bool saved = SaveAlbum(folder, Named(9, "New", "Lost"), Tags(2, "new"));
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(saved);
  AlbumRecord a{};
  TagBuffer t;
  ASSERT_TRUE(LoadAlbum(folder, 9, a, t));
  EXPECT_EQ(FieldText(a.Artist), "Old");
  EXPECT_EQ(FieldText(t.Get(0, 2).Comment), "old");
  EXPECT_EQ(fs::file_size(folder + "9.dat"), 9360u);
  for (const auto& e : fs::directory_iterator(folder))
    EXPECT_EQ(e.path().string().find(".tmp"), std::string::npos) << "no temporary file is left";
}

TEST(AlbumDatabase, LoadForDiscKeepsWhatTheDiscDefines) {
  TempFolder tmp;
  const std::string folder = tmp.Path() + "/";
  AlbumRecord stored = Named(77, "A", "B", 2);
  stored.Tracks[0].CopiedFlag = 1;
  stored.Tracks[0].Start = {9, 9, 9};
  stored.Tracks[0].Size = 1;
  stored.Tracks[1].RangeFlag = 1;
  ASSERT_TRUE(SaveAlbum(folder, stored, Tags(2, "t")));

  AlbumRecord disc{};
  disc.DiscId = 77;
  disc.TrackCount = 2;
  disc.FirstTrackOffset = 150;
  disc.Tracks[0].Start = {0, 2, 0};
  disc.Tracks[0].Size = 2352 * 100;
  disc.Tracks[0].AudioFlag = 1;
  disc.Tracks[2].Start = {3, 0, 0};
  AlbumRecord a = disc;
  TagBuffer t;
  ASSERT_TRUE(LoadAlbumForDisc(folder, a, t));
  EXPECT_EQ(FieldText(a.Artist), "A");
  EXPECT_EQ(a.Tracks[0].CopiedFlag, 1);
  EXPECT_EQ(a.Tracks[1].RangeFlag, 1);
  EXPECT_EQ(a.Tracks[0].Start.second, 2);
  EXPECT_EQ(a.Tracks[0].Size, 2352u * 100);
  EXPECT_EQ(a.Tracks[2].Start.minute, 3);
  EXPECT_EQ(a.FirstTrackOffset, 150);
  EXPECT_EQ(FieldText(t.Get(1, 2).Comment), "t");

  AlbumRecord unknown = disc;
  unknown.DiscId = 78;
  ASSERT_FALSE(LoadAlbumForDisc(folder, unknown, t));
  EXPECT_EQ(FieldText(unknown.Tracks[0].Title), "Track1");
  EXPECT_EQ(FieldText(unknown.Tracks[1].Title), "Track2");
}

TEST(AlbumDatabase, MigrationFlattensTheOlderLayout) {
  TempFolder tmp;
  const std::string folder = tmp.Path() + "/albums/";
  ASSERT_TRUE(MakeDirectories(folder + "Kino/Deep"));
  ASSERT_TRUE(MakeDirectories(folder + "Aria"));
  ASSERT_TRUE(MakeDirectories(folder + "Keep"));
  WriteRaw(folder + "artn.dat", "");
  WriteRaw(folder + "Kino/1.dat", "one");
  WriteRaw(folder + "Kino/1.dat.tag", "one-tags");
  WriteRaw(folder + "Kino/Deep/2.DAT", "two");
  WriteRaw(folder + "Aria/3.dat", "three");
  WriteRaw(folder + "Aria/0.dat", "clash");  // the name exists: left in place
  WriteRaw(folder + "Keep/notes.txt", "x");
  WriteRaw(folder + "0.dat", "top");
  MigrateAlbumFolder(folder);
  EXPECT_FALSE(FileExists(folder + "artn.dat"));
  EXPECT_EQ(*ReadFileBytes(folder + "1.dat"), "one");
  EXPECT_EQ(*ReadFileBytes(folder + "1.dat.tag"), "one-tags");
  EXPECT_EQ(*ReadFileBytes(folder + "2.DAT"), "two");
  EXPECT_EQ(*ReadFileBytes(folder + "3.dat"), "three");
  EXPECT_EQ(*ReadFileBytes(folder + "0.dat"), "top");
  EXPECT_FALSE(DirectoryExists(folder + "Kino"));
  EXPECT_TRUE(FileExists(folder + "Aria/0.dat"));
  EXPECT_TRUE(DirectoryExists(folder + "Keep"));
  // Without the marker nothing moves.
  WriteRaw(folder + "Keep/5.dat", "five");
  MigrateAlbumFolder(folder);
  EXPECT_TRUE(FileExists(folder + "Keep/5.dat"));
}

// ---- Texts beyond code page 1251 ------------------------------------------

// A disc named with texts of several scripts, as a lookup leaves it.
struct WorldDisc {
  AlbumRecord album{};
  RecordTexts texts;
  TagBuffer tags;
  WorldDisc(std::int32_t id) {
    album.DiscId = id;
    album.TrackCount = 3;
    SetAlbumText(album, texts, AlbumField::Artist, "Björk");
    SetAlbumText(album, texts, AlbumField::AlbumTitle, "Homogenic — 東京");
    const char* titles[] = {"Jóga", "Ελληνικά", "Кино 🎸"};
    for (int i = 0; i < 3; ++i) {
      SetTrackTitleText(album, texts, i, titles[i]);
      TrackTags t;
      t.Set(TagField::Title, titles[i]);
      t.Set(TagField::Comment, "コメント");
      t.Record.TagsOn = 1;
      tags.SetTags(i, 3, t);
    }
  }
};

TEST(AlbumDatabaseTexts, FullTextsRoundTripThroughTheCompanions) {
  TempFolder tmp;
  const std::string folder = AlbumFolder(tmp.Path());
  WorldDisc disc(4242);
  ASSERT_TRUE(SaveAlbum(folder, disc.album, disc.tags, nullptr, &disc.texts));
  EXPECT_TRUE(FileExists(folder + "4242.dat.utf8"));
  EXPECT_TRUE(FileExists(folder + "4242.dat.tag.utf8"));
  // The records themselves keep their layout and CP1251 renderings.
  EXPECT_EQ(fs::file_size(folder + "4242.dat"), 9360u);
  EXPECT_EQ(fs::file_size(folder + "4242.dat.tag"), 3u * 1529u);
  auto raw = ReadFileBytes(folder + "4242.dat", 9360);
  EXPECT_EQ(raw->substr(50, 6), std::string("Bj?rk\0", 6));

  AlbumRecord album{};
  RecordTexts texts;
  TagBuffer tags;
  ASSERT_TRUE(LoadAlbum(folder, 4242, album, tags, &texts));
  EXPECT_EQ(AlbumText(album, texts, AlbumField::Artist), "Björk");
  EXPECT_EQ(AlbumText(album, texts, AlbumField::AlbumTitle), "Homogenic — 東京");
  EXPECT_EQ(TrackTitleText(album, texts, 1), "Ελληνικά");
  EXPECT_EQ(TrackTitleText(album, texts, 2), "Кино 🎸");
  EXPECT_EQ(tags.GetTags(0, 3).Get(TagField::Title), "Jóga");
  EXPECT_EQ(tags.GetTags(2, 3).Get(TagField::Comment), "コメント");
  EXPECT_EQ(CollectArtists(folder), std::vector<std::string>{"Björk"});

  // The disc read keeps the full texts too.
  AlbumRecord fromDisc{};
  fromDisc.DiscId = 4242;
  fromDisc.TrackCount = 3;
  RecordTexts discTexts;
  TagBuffer discTags;
  ASSERT_TRUE(LoadAlbumForDisc(folder, fromDisc, discTags, &discTexts));
  EXPECT_EQ(TrackTitleText(fromDisc, discTexts, 0), "Jóga");
  EXPECT_EQ(discTags.GetTags(1, 3).Get(TagField::Title), "Ελληνικά");
}

TEST(AlbumDatabaseTexts, RecordsThatFitCp1251AreWrittenAsBeforeWithoutCompanion) {
  TempFolder tmp;
  const std::string folder = AlbumFolder(tmp.Path());
  AlbumRecord plain = Named(77, "Кино", "Группа крови");
  TagBuffer tags = Tags(2, "комментарий");
  ASSERT_TRUE(SaveAlbum(folder, plain, tags));
  const std::string before = *ReadFileBytes(folder + "77.dat", 9360);
  const std::string tagsBefore = *ReadFileBytes(folder + "77.dat.tag", 1 << 20);

  // Written through the texts: the same bytes, and no companion.
  RecordTexts texts;
  AlbumRecord again = Named(77, "", "");
  SetAlbumText(again, texts, AlbumField::Artist, "Кино");
  SetAlbumText(again, texts, AlbumField::AlbumTitle, "Группа крови");
  ASSERT_TRUE(SaveAlbum(folder, again, tags, nullptr, &texts));
  EXPECT_EQ(*ReadFileBytes(folder + "77.dat", 9360), before);
  EXPECT_EQ(*ReadFileBytes(folder + "77.dat.tag", 1 << 20), tagsBefore);
  EXPECT_FALSE(FileExists(folder + "77.dat.utf8"));
  EXPECT_FALSE(FileExists(folder + "77.dat.tag.utf8"));

  // A companion left from an earlier save goes once nothing needs it.
  WorldDisc disc(77);
  ASSERT_TRUE(SaveAlbum(folder, disc.album, disc.tags, nullptr, &disc.texts));
  ASSERT_TRUE(FileExists(folder + "77.dat.utf8"));
  ASSERT_TRUE(SaveAlbum(folder, again, tags, nullptr, &texts));
  EXPECT_FALSE(FileExists(folder + "77.dat.utf8"));
  EXPECT_FALSE(FileExists(folder + "77.dat.tag.utf8"));
}

TEST(AlbumDatabaseTexts, WindowsRecordsWithoutCompanionLoadUnchanged) {
  TempFolder tmp;
  const std::string folder = AlbumFolder(tmp.Path());
  MakeDirectories(folder);
  AlbumRecord windows = Named(88, "Ария", "Герой асфальта");
  SetField(windows.Tracks[0].Title, "What? Why?");  // a "?" of its own
  WriteRaw(folder + "88.dat", std::string(reinterpret_cast<const char*>(&windows), sizeof windows));
  AlbumRecord album{};
  RecordTexts texts;
  TagBuffer tags;
  ASSERT_TRUE(LoadAlbum(folder, 88, album, tags, &texts));
  EXPECT_EQ(std::memcmp(&album, &windows, sizeof album), 0);
  EXPECT_TRUE(texts.Empty());
  EXPECT_EQ(AlbumText(album, texts, AlbumField::Artist), "Ария");
  EXPECT_EQ(TrackTitleText(album, texts, 0), "What? Why?");
}

TEST(AlbumDatabaseTexts, ARecordChangedByAnotherProgramLoadsItsOwnText) {
  TempFolder tmp;
  const std::string folder = AlbumFolder(tmp.Path());
  WorldDisc disc(99);
  ASSERT_TRUE(SaveAlbum(folder, disc.album, disc.tags, nullptr, &disc.texts));
  // The Windows program renames track 1 and the artist in the record only.
  std::string raw = *ReadFileBytes(folder + "99.dat", 9360);
  AlbumRecord edited{};
  std::memcpy(&edited, raw.data(), sizeof edited);
  SetFieldUtf8(edited.Artist, "Бьорк");
  SetFieldUtf8(edited.Tracks[1].Title, "Греческая");
  WriteRaw(folder + "99.dat", std::string(reinterpret_cast<const char*>(&edited), sizeof edited));
  std::string tagRaw = *ReadFileBytes(folder + "99.dat.tag", 1 << 20);
  TrackTagRecord t2{};
  std::memcpy(&t2, tagRaw.data() + 2 * 1529, 1529);
  SetFieldUtf8(t2.Comment, "изменено");
  std::memcpy(tagRaw.data() + 2 * 1529, &t2, 1529);
  WriteRaw(folder + "99.dat.tag", tagRaw);

  AlbumRecord album{};
  RecordTexts texts;
  TagBuffer tags;
  ASSERT_TRUE(LoadAlbum(folder, 99, album, tags, &texts));
  EXPECT_EQ(AlbumText(album, texts, AlbumField::Artist), "Бьорк");
  EXPECT_EQ(TrackTitleText(album, texts, 1), "Греческая");
  // What the other program left alone keeps its full text.
  EXPECT_EQ(TrackTitleText(album, texts, 2), "Кино 🎸");
  EXPECT_EQ(AlbumText(album, texts, AlbumField::AlbumTitle), "Homogenic — 東京");
  EXPECT_EQ(tags.GetTags(2, 3).Get(TagField::Comment), "изменено");
  EXPECT_EQ(tags.GetTags(1, 3).Get(TagField::Comment), "コメント");
  EXPECT_EQ(CollectArtists(folder), std::vector<std::string>{"Бьорк"});
}

TEST(AlbumDatabaseTexts, ArtistsBeyondCp1251AreNotMergedByTheirQuestionMarks) {
  TempFolder tmp;
  const std::string folder = AlbumFolder(tmp.Path());
  RecordTexts a, b;
  AlbumRecord one = Named(1, "", "x"), two = Named(2, "", "y");
  SetAlbumText(one, a, AlbumField::Artist, "東京事変");
  SetAlbumText(two, b, AlbumField::Artist, "椎名林檎");
  ASSERT_TRUE(SaveAlbum(folder, one, TagBuffer(), nullptr, &a));
  ASSERT_TRUE(SaveAlbum(folder, two, TagBuffer(), nullptr, &b));
  auto artists = CollectArtists(folder);
  std::sort(artists.begin(), artists.end());
  EXPECT_EQ(artists, (std::vector<std::string>{"東京事変", "椎名林檎"}));
}

}  // namespace
}  // namespace sonarvex
