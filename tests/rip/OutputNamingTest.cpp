#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "rip/OutputNaming.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "records/TextFields.h"

namespace sonarvex {
namespace {

class NamingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/sonarvex-naming-XXXXXX";
    folder_ = std::string(mkdtemp(tmpl)) + "/";
    SetField(s_.OutputFolder, folder_);
    s_.OutputKind = 1;
    SetFieldUtf8(a_.Artist, "Artist");
    SetFieldUtf8(a_.AlbumTitle, "Album");
    a_.TrackCount = 3;
    SetFieldUtf8(a_.Tracks[0].Title, "First");
    SetFieldUtf8(a_.Tracks[2].Title, "Title");
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  // Naming works on the full texts (UTF-8).
  std::string Rel(int i) { return RelativeOutputName(i, in_); }
  std::string Expand(const char* f, int i) { return ExpandFormat(f, i, in_); }

  std::string folder_;
  SettingsRecord s_{};
  AlbumRecord a_{};
  TagBuffer tags_;
  NamingInput in_{s_, a_, tags_};
};

TEST_F(NamingTest, FixedScheme) {
  s_.FolderPerArtist = s_.FolderPerAlbum = 1;
  s_.NameHasArtist = s_.NameHasAlbum = s_.NameHasTitle = 1;
  EXPECT_EQ(Rel(2), "Artist\\Album\\Artist - Album - Title.mp3");
  std::string full = BuildOutputPath(2, in_, nullptr);
  EXPECT_EQ(ToNativePath(full), folder_ + "Artist/Album/Artist - Album - Title.mp3");

  // Only the artist: the trailing space goes, the hyphen stays.
  s_.FolderPerArtist = s_.FolderPerAlbum = s_.NameHasAlbum = s_.NameHasTitle = 0;
  EXPECT_EQ(Rel(2), "Artist -.mp3");
  // The number counts from 0.
  s_.NameHasArtist = 0;
  s_.NameHasNumber = s_.NameHasTitle = 1;
  EXPECT_EQ(Rel(0), "0 - First.mp3");
  // Fallback texts.
  s_.FolderPerArtist = 1;
  std::memset(a_.Artist, 0, sizeof a_.Artist);
  s_.OutputKind = 3;
  EXPECT_EQ(Rel(1), "Неиз.Исполнитель\\1 - Track2.ogg");
}

TEST_F(NamingTest, FormatStrings) {
  EXPECT_EQ(Expand("%N. %A - %T", 2), "03. Artist - Title");
  EXPECT_EQ(Expand("%A - %T", 2), "Artist - Title");  // no leading space
  EXPECT_EQ(Expand("%A - %x %T", 2), "Artist - ");    // %x ends it
  EXPECT_EQ(Expand("%N", 0), "01");
  EXPECT_EQ(Expand("pre %%%D post", 0), "pre Album post");  // a run of % is one
  EXPECT_EQ(Expand("%Д\\%Т (%Н)", 2), "Album\\Title (03)");  // Cyrillic codes
  EXPECT_EQ(Expand("plain", 0), "plain");
  EXPECT_EQ(Expand("%t", 0), "");  // lower case is not a code
  s_.UseFormatString = 1;
  SetField(s_.FormatString, "%A\\%N %T");
  EXPECT_EQ(Rel(2), "Artist\\03 Title.mp3");
}

// Year, genre and disc number join the codes: the album's (or a
// compilation track's tag), the disc number of the release ("1" unknown).
TEST_F(NamingTest, YearGenreAndDiscNumberCodes) {
  SetFieldUtf8(a_.Year, "1997");
  SetFieldUtf8(a_.Genre, "Rock");
  EXPECT_EQ(Expand("%A\\%Y - %D\\%d-%N %T (%G)", 2), "Artist\\1997 - Album\\1-03 Title (Rock)");
  RecordTexts texts;
  texts.Put("DiscNumber", "2");
  in_.AlbumTexts = &texts;
  EXPECT_EQ(Expand("%d.%N", 0), "2.01");
  in_.AlbumTexts = nullptr;
  // Unknown year: empty, the rest stays.
  std::memset(a_.Year, 0, sizeof a_.Year);
  EXPECT_EQ(Expand("%Y%T", 2), "Title");
  // '/' from the command line is a folder separator.
  EXPECT_EQ(FormatFromCommandLine("%A/%D\\%T"), "%A\\%D\\%T");
}

// A disc whose first track is 4 (the second disc of a set numbered on):
// the numbers in names are the disc's own.
TEST_F(NamingTest, ADiscNumberedFromAnotherTrackNamesItsTracksByTheirNumbers) {
  a_.FirstTrackNumber = 4;
  EXPECT_EQ(Expand("%N. %A - %T", 2), "06. Artist - Title");
  EXPECT_EQ(Expand("%Н", 0), "04");
  // The fixed scheme's number stays one less than the track's number.
  s_.NameHasNumber = s_.NameHasTitle = 1;
  EXPECT_EQ(Rel(0), "3 - First.mp3");
  EXPECT_EQ(Rel(1), "4 - Track5.mp3");  // the fallback title too
}

TEST_F(NamingTest, ForbiddenCharacters) {
  EXPECT_EQ(FilterFileName("C:\\music\\a:b"), "C:\\music\\a b");
  EXPECT_EQ(FilterFileName("x\\*b"), "x\\b");
  EXPECT_EQ(FilterFileName("x\\*?b"), "x\\b");  // every one after the separator goes
  EXPECT_EQ(FilterFileName("a*|<>\"/?b"), "a       b");
  s_.NameHasTitle = 1;
  SetFieldUtf8(a_.Tracks[2].Title, "AC/DC");
  EXPECT_EQ(Rel(2), "AC DC.mp3");
  SetFieldUtf8(a_.Tracks[2].Title, "a\\*b");
  EXPECT_EQ(Rel(2), "a\\b.mp3");  // the backslash makes a sub-folder
  // Only forbidden characters: right after a separator they are removed,
  // elsewhere they become spaces; either way a name remains.
  SetFieldUtf8(a_.Tracks[2].Title, "***");
  EXPECT_EQ(Rel(2), ".mp3");
  s_.NameHasNumber = 1;
  EXPECT_EQ(Rel(2), "2 -    .mp3");
  s_.NameHasNumber = 0;
  // A colon in the output folder itself is kept (it is the user's folder).
  std::string colon = folder_ + "a:b/";
  MakeDirectories(colon);
  SetField(s_.OutputFolder, colon);
  EXPECT_EQ(ToNativePath(BuildOutputPath(2, in_, nullptr)), colon + ".mp3");
}

TEST_F(NamingTest, NamesNeverLeaveTheOutputFolder) {
  s_.NameHasTitle = 1;
  s_.FolderPerArtist = 1;
  SetFieldUtf8(a_.Artist, "..");
  SetFieldUtf8(a_.Tracks[2].Title, "..\\..\\etc\\passwd");
  std::string rel = Rel(2);
  EXPECT_EQ(rel, "_\\_\\_\\etc\\passwd.mp3");
  s_.UseFormatString = 1;
  SetField(s_.FormatString, "\\\\%T");
  SetFieldUtf8(a_.Tracks[2].Title, "x");
  EXPECT_EQ(Rel(2), "_\\_\\x.mp3");  // empty parts are not allowed either
}

TEST_F(NamingTest, LongNames) {
  s_.NameHasTitle = s_.NameHasAlbum = 1;
  std::string longAlbum(49, 'b');
  SetField(a_.AlbumTitle, longAlbum);
  std::string title(49, 't');
  SetField(a_.Tracks[2].Title, title);
  SetField(a_.Artist, std::string(49, 'a'));
  s_.FolderPerArtist = s_.FolderPerAlbum = 1;
  s_.NameHasArtist = 1;
  s_.NameHasNumber = 1;
  // 50+50+4+52+52+49+4 = 261 > 260: rebuilt without the album in the name.
  std::string rel = Rel(2);
  EXPECT_EQ(rel, std::string(49, 'a') + "\\" + longAlbum + "\\2 - " + std::string(49, 'a') +
                     " - " + title + ".mp3");
  // Cyrillic text doubles in UTF-8: each part still fits a file name.
  s_.FolderPerArtist = s_.FolderPerAlbum = s_.NameHasArtist = s_.NameHasNumber = 0;
  s_.UseFormatString = 1;
  SetField(s_.FormatString, "%T%T%T%T%T%T");
  SetFieldUtf8(a_.Tracks[2].Title, std::string(49 / 2 * 2, 'x') == "" ? "" : "ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ");
  std::string name = Rel(2);
  EXPECT_LE(name.size(), 255u);
  EXPECT_EQ(name.substr(name.size() - 4), ".mp3");
}

TEST_F(NamingTest, CompilationTakesTheTagRecord) {
  a_.Compilation = 1;
  s_.NameHasArtist = s_.NameHasTitle = 1;
  TrackTagRecord t{};
  t.TagsOn = 1;
  SetFieldUtf8(t.Artist, "Гость");
  SetFieldUtf8(t.Title, "Песня");
  tags_.Set(2, a_.TrackCount, t);
  EXPECT_EQ(Rel(2), "Гость - Песня.mp3");
  EXPECT_EQ(Rel(0), "Artist - First.mp3");  // no tags on: the album's
}

TEST_F(NamingTest, MissingOutputFolderAsksUntilItExists) {
  SetField(s_.OutputFolder, folder_ + "gone/");
  s_.NameHasTitle = 1;
  int asked = 0;
  std::string path = BuildOutputPath(2, in_, [&](const std::string& f) {
    EXPECT_EQ(MissingFolderMessage(f), "Директории '" + folder_ + "gone/' не существует. "
                                       "Выбирете другую папку.");
    if (++asked == 2) MakeDirectories(folder_ + "gone");
    return true;
  });
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(ToNativePath(path), folder_ + "gone/Title.mp3");
  // Giving up gives no path.
  SetField(s_.OutputFolder, folder_ + "never/");
  EXPECT_EQ(BuildOutputPath(2, in_, [](const std::string&) { return false; }), "");
}

// ---- Every script --------------------------------------------------------

class NamingTextsTest : public NamingTest {
 protected:
  void SetUp() override {
    NamingTest::SetUp();
    in_.AlbumTexts = &albumTexts_;
    in_.SettingsTexts = &settingsTexts_;
  }
  RecordTexts albumTexts_, settingsTexts_;
};

TEST_F(NamingTextsTest, LettersOfEveryScriptStayInNames) {
  SetAlbumText(a_, albumTexts_, AlbumField::Artist, "Björk");
  SetAlbumText(a_, albumTexts_, AlbumField::AlbumTitle, "Σίγουρος Ρος");
  SetTrackTitleText(a_, albumTexts_, 0, "東京事変 – 群青日和 🎸");
  SetTrackTitleText(a_, albumTexts_, 2, "Jóga: a/b? <Ørsted> \"½\"");
  s_.FolderPerArtist = s_.FolderPerAlbum = 1;
  s_.NameHasTitle = 1;
  EXPECT_EQ(Rel(0), "Björk\\Σίγουρος Ρος\\東京事変 – 群青日和 🎸.mp3");
  // Only the forbidden characters are replaced.
  EXPECT_EQ(Rel(2), "Björk\\Σίγουρος Ρος\\Jóga  a b   Ørsted   ½ .mp3");
  EXPECT_EQ(ToNativePath(BuildOutputPath(0, in_, nullptr)),
            folder_ + "Björk/Σίγουρος Ρος/東京事変 – 群青日和 🎸.mp3");
}

TEST_F(NamingTextsTest, FormatStringAndOutputFolderInFull) {
  const std::string tokyo = folder_ + "東京/";
  ASSERT_TRUE(MakeDirectories(tokyo));
  SetSettingsText(s_, settingsTexts_, SettingsField::OutputFolder, tokyo);
  SetSettingsText(s_, settingsTexts_, SettingsField::FormatString, "%N · %A — %T");
  s_.UseFormatString = 1;
  SetAlbumText(a_, albumTexts_, AlbumField::Artist, "Motörhead");
  SetTrackTitleText(a_, albumTexts_, 2, "Ace of Spades ♠");
  EXPECT_EQ(ToNativePath(BuildOutputPath(2, in_, nullptr)),
            tokyo + "03 · Motörhead — Ace of Spades ♠.mp3");
  // The Cyrillic codes in a UTF-8 format string.
  EXPECT_EQ(Expand("%Н %А", 2), "03 Motörhead");
}

TEST_F(NamingTextsTest, PartsAreCutAtCharacterBoundariesOfUtf8) {
  std::string japanese;
  for (int i = 0; i < 49; ++i) japanese += "曲";  // 147 bytes
  SetAlbumText(a_, albumTexts_, AlbumField::Artist, japanese);
  SetAlbumText(a_, albumTexts_, AlbumField::AlbumTitle, japanese);
  SetTrackTitleText(a_, albumTexts_, 2, japanese);
  s_.NameHasArtist = s_.NameHasAlbum = s_.NameHasTitle = 1;
  const std::string name = Rel(2);
  EXPECT_LE(name.size() + std::strlen(kPartialSuffix), 255u);
  EXPECT_EQ(name.substr(name.size() - 4), ".mp3");
  // Whole characters only.
  const std::string stem = name.substr(0, name.size() - 4);
  EXPECT_TRUE(IsNonAsciiUtf8(stem));
  EXPECT_EQ(stem.rfind("曲") + 3, stem.size());
}

TEST_F(NamingTextsTest, ControlCharactersStillLeaveNames) {
  SetTrackTitleText(a_, albumTexts_, 2, "東京\tnight\n");
  s_.NameHasTitle = 1;
  EXPECT_EQ(Rel(2), "東京 night .mp3");
}

}  // namespace
}  // namespace sonarvex
