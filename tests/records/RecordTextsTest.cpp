// Full texts beside the CP1251 record fields: what the field and the
// companion hold, when an entry counts, the companion file's text.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "records/RecordTexts.h"
#include "records/TagBuffer.h"
#include "records/TextFields.h"

namespace sonarvex {
namespace {

TEST(RecordTexts, TextsCp1251HoldsStayInTheFieldAlone) {
  char field[50];
  RecordTexts t;
  t.Set("Title", field, "Группа крови — “Live”");
  EXPECT_EQ(Cp1251ToUtf8(FieldText(field)), "Группа крови — “Live”");
  EXPECT_TRUE(t.Empty());
  EXPECT_EQ(t.Get("Title", field), "Группа крови — “Live”");
}

TEST(RecordTexts, OtherScriptsAreKeptWholeBesideTheField) {
  for (const std::string text : {"Björk: Jóga / Ørsted", "Σίγουρος Ρος", "東京事変 – 群青日和",
                                 "Motörhead 🤘"}) {
    char field[50];
    RecordTexts t;
    t.Set("Title", field, text);
    EXPECT_EQ(std::string(FieldText(field)), Utf8ToCp1251(text)) << text;
    EXPECT_NE(std::string(FieldText(field)).find('?'), std::string::npos) << text;
    EXPECT_EQ(t.Get("Title", field), text);
    ASSERT_NE(t.Find("Title"), nullptr);
  }
}

TEST(RecordTexts, LimitsCountCharactersNotBytes) {
  char field[50];
  RecordTexts t;
  std::string japanese;
  for (int i = 0; i < 60; ++i) japanese += "東";
  t.Set("Title", field, japanese);
  EXPECT_EQ(CharacterCount(t.Get("Title", field)), 49u);
  EXPECT_EQ(FieldText(field).size(), 49u);

  std::string cyrillic;
  for (int i = 0; i < 60; ++i) cyrillic += "ж";
  t.Set("Other", field, cyrillic);
  EXPECT_EQ(CharacterCount(t.Get("Other", field)), 49u);
  EXPECT_EQ(CutToCharacters("a😀b", 2), "a😀");
}

TEST(RecordTexts, AFieldChangedElsewhereWins) {
  char field[50];
  RecordTexts t;
  t.Set("Title", field, "東京");
  SetField(field, Utf8ToCp1251("Москва"));  // another program rewrote the field
  EXPECT_EQ(t.Get("Title", field), "Москва");
  // The same characters CP1251 cannot hold but another text: the field's.
  SetField(field, "?? ");
  EXPECT_EQ(t.Get("Title", field), "?? ");
}

TEST(RecordTexts, CompanionTextRoundTripsEscapes) {
  RecordTexts t;
  t.Put("Comment", "line 1\nline 2\r\\end = x");
  t.Put("Title.3", "東京");
  RecordTexts back = RecordTexts::Parse(t.Serialize());
  EXPECT_EQ(back, t);
  // Not UTF-8, no "=", comments: skipped.
  RecordTexts odd = RecordTexts::Parse("# c\nnoequals\nA=\xC0\xC1\nB=ok\n");
  EXPECT_EQ(odd.Find("A"), nullptr);
  ASSERT_NE(odd.Find("B"), nullptr);
  EXPECT_EQ(*odd.Find("B"), "ok");
}

TEST(RecordTexts, CompanionIsWrittenOnlyWhenSomethingIsLost) {
  namespace fs = std::filesystem;
  std::string pattern = (fs::temp_directory_path() / "sonarvex-texts-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const std::string record = pattern + "/r.dat";
  RecordTexts lossy;
  lossy.Put("Title", "東京");
  ASSERT_TRUE(WriteRecordFiles(record, "??", lossy));
  EXPECT_TRUE(FileExists(CompanionPath(record)));
  EXPECT_EQ(ReadCompanion(record), lossy);
  ASSERT_TRUE(WriteRecordFiles(record, "ab", RecordTexts()));
  EXPECT_FALSE(FileExists(CompanionPath(record)));
  EXPECT_EQ(*ReadFileBytes(record, 100), "ab");
  fs::remove_all(pattern);
}

TEST(TrackTags, TagBufferKeepsTextsPerTrackAndDropsThemWithChangedFields) {
  TagBuffer buffer;
  TrackTags tags;
  tags.Set(TagField::Title, "Jóga");
  tags.Set(TagField::Artist, "Björk");
  tags.Set(TagField::Comment, "Кино");
  tags.Record.TagsOn = 1;
  buffer.SetTags(1, 3, tags);
  TrackTags back = buffer.GetTags(1, 3);
  EXPECT_EQ(back.Get(TagField::Title), "Jóga");
  EXPECT_EQ(back.Get(TagField::Artist), "Björk");
  EXPECT_EQ(back.Get(TagField::Comment), "Кино");
  EXPECT_EQ(buffer.GetTags(0, 3).Get(TagField::Title), "");

  // A raw record that changes the title keeps the artist's full text.
  TrackTagRecord raw = buffer.Get(1, 3);
  SetField(raw.Title, "New");
  buffer.Set(1, 3, raw);
  back = buffer.GetTags(1, 3);
  EXPECT_EQ(back.Get(TagField::Title), "New");
  EXPECT_EQ(back.Get(TagField::Artist), "Björk");

  // Another track count replaces the buffer, texts included.
  EXPECT_EQ(buffer.GetTags(1, 4).Get(TagField::Artist), "");
  EXPECT_TRUE(buffer.Texts().Empty());
}

TEST(TrackTags, TrackNumberFieldTakesThreeCharacters) {
  TrackTags tags;
  tags.Set(TagField::TrackNumber, "12345");
  EXPECT_EQ(std::string(FieldText(tags.Record.TrackNumber)), "123");
  EXPECT_EQ(tags.Record.Url[0], 0);
}

TEST(AlbumTexts, TitlesOfRowsAndAlbumFields) {
  AlbumRecord a{};
  RecordTexts t;
  SetAlbumText(a, t, AlbumField::Artist, "Sigur Rós");
  SetTrackTitleText(a, t, 4, "Hoppípolla");
  SetTrackTitleText(a, t, 5, "Без названия");
  EXPECT_EQ(AlbumText(a, t, AlbumField::Artist), "Sigur Rós");
  EXPECT_EQ(TrackTitleText(a, t, 4), "Hoppípolla");
  EXPECT_EQ(TrackTitleText(a, t, 5), "Без названия");
  EXPECT_EQ(t.Entries().size(), 2u);
  RecordTexts valid = ValidAlbumTexts(a, t);
  EXPECT_EQ(valid, t);
  SetField(a.Artist, "Other");
  EXPECT_EQ(ValidAlbumTexts(a, t).Entries().size(), 1u);
}

TEST(InfoTexts, KeysNoFieldHoldsStayWithTheAlbumAndTheTracks) {
  AlbumRecord a{};
  SetField(a.AlbumTitle, "Album");
  RecordTexts t;
  t.Put("MusicBrainzAlbumId", "6c4f766f-3351-4c10-a53d-b119452c27b2");
  t.Put("Label", "Союз");
  t.Put("NoSuchKey", "dropped");
  const RecordTexts valid = ValidAlbumTexts(a, t);
  ASSERT_TRUE(valid.Find("MusicBrainzAlbumId"));
  EXPECT_EQ(*valid.Find("Label"), "Союз");
  EXPECT_FALSE(valid.Find("NoSuchKey"));
  ClearAlbumInfo(t);
  EXPECT_FALSE(t.Find("Label"));
  EXPECT_TRUE(t.Find("NoSuchKey"));

  TagBuffer buffer;
  TrackTags tag = buffer.GetTags(1, 3);
  tag.Set(TagField::Title, "Two");
  tag.Texts.Put("Isrc", "GBAHS1400099");
  tag.Texts.Put("Date", "2001-02-03");
  buffer.SetTags(1, 3, tag);
  EXPECT_EQ(buffer.GetTags(1, 3).Info("Isrc"), "GBAHS1400099");
  EXPECT_EQ(buffer.GetTags(1, 3).Info("Date"), "2001-02-03");
  EXPECT_EQ(buffer.GetTags(0, 3).Info("Isrc"), "");
  // Stored in the tag file's companion under the track's number.
  const RecordTexts stored = buffer.ValidTexts();
  ASSERT_TRUE(stored.Find("Isrc.1"));
  EXPECT_EQ(*stored.Find("Date.1"), "2001-02-03");
  // A changed field keeps them; a record set without them drops them.
  TrackTagRecord record = buffer.Get(1, 3);
  SetField(record.Title, "Other");
  buffer.Set(1, 3, record);
  EXPECT_EQ(buffer.GetTags(1, 3).Info("Isrc"), "GBAHS1400099");
  TrackTags without = buffer.GetTags(1, 3);
  without.Texts.Erase("Isrc");
  buffer.SetTags(1, 3, without);
  EXPECT_EQ(buffer.GetTags(1, 3).Info("Isrc"), "");
  EXPECT_EQ(buffer.GetTags(1, 3).Info("Date"), "2001-02-03");
  buffer.ClearInfo();
  EXPECT_EQ(buffer.GetTags(1, 3).Info("Date"), "");
  EXPECT_EQ(buffer.GetTags(1, 3).Get(TagField::Title), "Other");
}

TEST(SettingsTexts, OutputFolderBeyondCp1251) {
  SettingsRecord s{};
  RecordTexts t;
  SetSettingsText(s, t, SettingsField::OutputFolder, "/home/u/東京/");
  EXPECT_EQ(SettingsText(s, t, SettingsField::OutputFolder), "/home/u/東京/");
  SetSettingsText(s, t, SettingsField::OutputFolder, "/home/u/Música/");
  EXPECT_EQ(SettingsText(s, t, SettingsField::OutputFolder), "/home/u/Música/");
  SetSettingsText(s, t, SettingsField::OutputFolder, "/home/u/Музыка/");
  EXPECT_TRUE(t.Empty());
}

}  // namespace
}  // namespace sonarvex

namespace sonarvex {
namespace {

// Three copies of one settings file: as loaded, as this program changed it,
// as another program left it on disk meanwhile.
TEST(SettingsMerge, FieldsChangedElsewhereAreTakenOwnChangesWin) {
  SettingsRecord base{};
  RecordTexts baseTexts;
  SetSettingsText(base, baseTexts, SettingsField::OutputFolder, "/music/");
  base.Lame.BitrateIndex = 9;
  base.ReadSpeed = 30;

  SettingsRecord mine = base, theirs = base;
  RecordTexts mineTexts = baseTexts, theirsTexts = baseTexts;
  mine.Volume = 90;                 // only here
  mine.ReadSpeed = 4;               // both: this copy's value wins
  mine.Lame.VbrQuality = 2;         // beside a field changed there
  theirs.ReadSpeed = 8;
  theirs.Lame.BitrateIndex = 0x0100;  // a multi-byte field moves whole
  theirs.ColumnWidths[3] = 200;
  SetSettingsText(theirs, theirsTexts, SettingsField::OutputFolder, "/музыка/日本/");
  SetSettingsText(theirs, theirsTexts, SettingsField::FormatString, "%N %T");

  EXPECT_EQ(MergeSettings(base, baseTexts, mine, mineTexts, theirs, theirsTexts), 4);
  EXPECT_EQ(mine.Volume, 90);
  EXPECT_EQ(mine.ReadSpeed, 4);
  EXPECT_EQ(mine.Lame.BitrateIndex, 0x0100);
  EXPECT_EQ(mine.ColumnWidths[3], 200);
  EXPECT_EQ(SettingsText(mine, mineTexts, SettingsField::OutputFolder), "/музыка/日本/");
  EXPECT_EQ(SettingsText(mine, mineTexts, SettingsField::FormatString), "%N %T");

  // Nothing new on disk: nothing taken, nothing changed.
  SettingsRecord again = mine;
  RecordTexts againTexts = mineTexts;
  EXPECT_EQ(MergeSettings(theirs, theirsTexts, again, againTexts, theirs, theirsTexts), 0);
  EXPECT_EQ(std::memcmp(&again, &mine, sizeof again), 0);
}

}  // namespace
}  // namespace sonarvex
