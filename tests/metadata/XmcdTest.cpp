// The xmcd record turned into the album record, the rows and the tags.
#include <gtest/gtest.h>

#include <map>

#include "metadata/AlbumView.h"
#include "metadata/Xmcd.h"
#include "platform/Cp1251.h"
#include "platform/ScriptedDialogs.h"
#include "records/TextFields.h"

namespace sonarvex {
namespace {

struct RecordingView : AlbumView {
  std::string album, artist;
  std::map<int, std::string> rows;
  void SetAlbumName(const std::string& t) override { album = t; }
  void SetArtist(const std::string& t) override { artist = t; }
  void SetTrackCaption(int row, const std::string& t) override { rows[row] = t; }
};

AlbumRecord Disc(int tracks, const char* id = "940AAC0D") {
  AlbumRecord a{};
  a.TrackCount = static_cast<std::uint8_t>(tracks);
  SetField(a.CddbId, id);
  for (int i = 0; i <= tracks; ++i) SetField(a.Tracks[i].Title, "Track" + std::to_string(i + 1));
  return a;
}

const char* kStatus = "210 rock 940aac0d CD database entry follows (until terminating `.')\r\n";

TEST(Xmcd, FullRecordFillsAlbumRowsAndTags) {
  AlbumRecord a = Disc(3);
  TagBuffer tags;
  TrackTagRecord old{};
  SetField(old.Comment, "kept");
  SetField(old.Composer, "kept too");
  tags.Set(1, 3, old);
  ScriptedDialogs dialogs;
  RecordingView view;
  std::string body = std::string(kStatus) +
                     "# xmcd\r\n#\r\n# Track frame offsets:\r\n#\t150\r\n#\t20000\r\n#\r\n"
                     "DISCID=940aac0d\r\nDTITLE=Artist / Album\r\nDYEAR=1999\r\nDGENRE=Rock\r\n"
                     "TTITLE0=One\r\nTTITLE1=Two\r\nTTITLE2=Three\r\nEXTD=\r\nPLAYORDER=\r\n";
  EXPECT_TRUE(ParseXmcd(body, a, tags, dialogs, &view));
  EXPECT_EQ(FieldText(a.Artist), "Artist");
  EXPECT_EQ(FieldText(a.AlbumTitle), "Album");
  EXPECT_EQ(FieldText(a.Year), "1999");
  EXPECT_EQ(FieldText(a.Genre), "Rock");
  EXPECT_EQ(FieldText(a.Tracks[2].Title), "Three");
  EXPECT_EQ(FieldText(a.Tracks[3].Title), "Track4") << "the lead-out row stays";
  EXPECT_EQ(view.artist, "Artist");
  EXPECT_EQ(view.album, "Album");
  EXPECT_EQ(view.rows.size(), 3u);
  EXPECT_EQ(view.rows[1], "Two");
  TrackTagRecord t = tags.Get(1, 3);
  EXPECT_EQ(t.TagsOn, 1);
  EXPECT_EQ(FieldText(t.Title), "Two");
  EXPECT_EQ(FieldText(t.Artist), "Artist");
  EXPECT_EQ(FieldText(t.OriginalArtist), "Artist");
  EXPECT_EQ(FieldText(t.Album), "Album");
  EXPECT_EQ(FieldText(t.Year), "1999");
  EXPECT_EQ(FieldText(t.Genre), "Rock");
  EXPECT_EQ(FieldText(t.TrackNumber), "2");
  EXPECT_EQ(FieldText(t.Comment), "kept");
  EXPECT_EQ(FieldText(t.Composer), "kept too");
  EXPECT_TRUE(dialogs.Clean());
}

// CDDB numbers the titles from 0 whatever the disc: on a disc whose first
// track is 4, TTITLE0 is track 4's title and its tag says 4.
TEST(Xmcd, TheTagsOfADiscNumberedFromFourCarryItsNumbers) {
  AlbumRecord a = Disc(2);
  a.FirstTrackNumber = 4;
  TagBuffer tags;
  ScriptedDialogs dialogs;
  std::string body = std::string(kStatus) + "DISCID=940aac0d\r\nDTITLE=Artist / Album\r\nDYEAR=1999\r\n"
                                            "DGENRE=Rock\r\nTTITLE0=Four\r\nTTITLE1=Five\r\n";
  EXPECT_TRUE(ParseXmcd(body, a, tags, dialogs, nullptr));
  EXPECT_EQ(FieldText(a.Tracks[0].Title), "Four");
  EXPECT_EQ(FieldText(tags.Get(0, 2).TrackNumber), "4");
  EXPECT_EQ(FieldText(tags.Get(1, 2).TrackNumber), "5");
  EXPECT_TRUE(dialogs.Clean());
}

TEST(Xmcd, TitleSplitting) {
  struct Case {
    const char* value;
    const char* artist;
    const char* album;
  } cases[] = {{"Various", "Various", ""},
               {"Artist / Album", "Artist", "Album"},
               {"AC/DC / Back in Black", "AC", "DC / Back in Black"},
               {"  Two  /  Spaces ", "  Two ", " Spaces "},
               {"/Only album", "", "Only album"}};
  for (const Case& c : cases) {
    AlbumRecord a = Disc(1);
    TagBuffer tags;
    ScriptedDialogs dialogs;
    ParseXmcd(std::string(kStatus) + "DTITLE=" + c.value + "\n", a, tags, dialogs, nullptr);
    EXPECT_EQ(FieldText(a.Artist), c.artist) << c.value;
    EXPECT_EQ(FieldText(a.AlbumTitle), c.album) << c.value;
  }
}

TEST(Xmcd, DiscIdCheck) {
  TagBuffer tags;
  {
    AlbumRecord a = Disc(1);
    ScriptedDialogs dialogs;  // no message: one of the listed identifiers is ours
    ParseXmcd(std::string(kStatus) + "DISCID=12345678, 940AAC0D,abcdef01\r\n", a, tags, dialogs,
              nullptr);
    EXPECT_TRUE(dialogs.Clean());
  }
  {
    AlbumRecord a = Disc(1);
    ScriptedDialogs dialogs;
    dialogs.ExpectMessage("Сервер вернул не верный идентификатор диска: '940aac0d' -> '0B0C0D0E'.",
                          kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
    ParseXmcd(std::string(kStatus) + "DISCID= 0B0C 0D0E\r\nDTITLE=Still / Taken\r\n", a, tags,
              dialogs, nullptr);
    std::string why;
    EXPECT_TRUE(dialogs.Clean(&why)) << why;
    EXPECT_EQ(FieldText(a.Artist), "Still") << "parsing goes on after the warning";
  }
}

TEST(Xmcd, TrackLinesInTurn) {
  ScriptedDialogs dialogs;
  {  // More TTITLE lines than tracks: the extra ones are ignored.
    AlbumRecord a = Disc(2);
    TagBuffer tags;
    ParseXmcd(std::string(kStatus) + "TTITLE0=A\nTTITLE1=B\nTTITLE2=C\nTTITLE3=D\n", a, tags,
              dialogs, nullptr);
    EXPECT_EQ(FieldText(a.Tracks[1].Title), "B");
    EXPECT_EQ(FieldText(a.Tracks[2].Title), "Track3");
  }
  {  // Fewer: the rows without a line keep their titles; the record may just end.
    AlbumRecord a = Disc(4);
    TagBuffer tags;
    RecordingView view;
    ParseXmcd(std::string(kStatus) + "TTITLE0=A\nTTITLE1=B", a, tags, dialogs, &view);
    EXPECT_EQ(FieldText(a.Tracks[1].Title), "B");
    EXPECT_EQ(FieldText(a.Tracks[2].Title), "Track3");
    EXPECT_EQ(view.rows.size(), 2u);
    EXPECT_EQ(tags.Get(2, 4).TagsOn, 0);
  }
  {  // A keyword that comes again continues its value: the titles after a
     // long one are all taken, and so is a disc title split in two.
    AlbumRecord a = Disc(3);
    TagBuffer tags;
    EXPECT_TRUE(ParseXmcd(std::string(kStatus) +
                              "DTITLE=Some Art\nDTITLE=ist / The Album\nTTITLE0=Long ti\n"
                              "TTITLE0=tle\nTTITLE1=B\nTTITLE2=C\n",
                          a, tags, dialogs, nullptr));
    EXPECT_EQ(FieldText(a.Tracks[0].Title), "Long title");
    EXPECT_EQ(FieldText(a.Tracks[1].Title), "B");
    EXPECT_EQ(FieldText(a.Tracks[2].Title), "C");
    EXPECT_EQ(FieldText(a.Artist), "Some Artist");
    EXPECT_EQ(FieldText(a.AlbumTitle), "The Album");
    EXPECT_EQ(FieldText(tags.Get(0, 3).Title), "Long title");
  }
  {  // A disc without tracks, a body without any line break, an answer
     // without titles: nothing was read.
    AlbumRecord a = Disc(0);
    TagBuffer tags;
    EXPECT_FALSE(ParseXmcd(std::string(kStatus) + "TTITLE0=A\n", a, tags, dialogs, nullptr));
    EXPECT_FALSE(ParseXmcd("210 no line break DTITLE=x / y", a, tags, dialogs, nullptr));
    EXPECT_FALSE(ParseXmcd(std::string(kStatus) + "# xmcd\nDYEAR=1999\n", a, tags, dialogs,
                           nullptr));
    EXPECT_EQ(FieldText(a.Artist), "");
  }
  EXPECT_TRUE(dialogs.Clean());
}

TEST(Xmcd, TextEncodingAndFieldLengths) {
  ScriptedDialogs dialogs;
  TagBuffer tags;
  {  // UTF-8 from the server is stored as code page 1251.
    AlbumRecord a = Disc(1);
    ParseXmcd(std::string(kStatus) + "DTITLE=Кино / Группа крови\nTTITLE0=Звезда по имени Солнце\n",
              a, tags, dialogs, nullptr);
    EXPECT_EQ(std::string(FieldText(a.Artist)), Utf8ToCp1251("Кино"));
    EXPECT_EQ(Cp1251ToUtf8(FieldText(a.Tracks[0].Title)), "Звезда по имени Солнце");
  }
  {  // Code page 1251 is stored as it is.
    AlbumRecord a = Disc(1);
    std::string cp = Utf8ToCp1251("Ария / Герой асфальта");
    ParseXmcd(std::string(kStatus) + "DTITLE=" + cp + "\n", a, tags, dialogs, nullptr);
    EXPECT_EQ(Cp1251ToUtf8(FieldText(a.AlbumTitle)), "Герой асфальта");
  }
  {  // One line in code page 1251 among UTF-8 lines costs only itself.
    AlbumRecord a = Disc(2);
    ParseXmcd(std::string(kStatus) + "DTITLE=Кино / Группа крови\nTTITLE0=" +
                  Utf8ToCp1251("Война") + "\nTTITLE1=Закрой за мной дверь\n",
              a, tags, dialogs, nullptr);
    EXPECT_EQ(FieldUtf8(a.Artist), "Кино");
    EXPECT_EQ(FieldUtf8(a.Tracks[0].Title), "Война");
    EXPECT_EQ(FieldUtf8(a.Tracks[1].Title), "Закрой за мной дверь");
  }
  {  // Long values are cut to their fields.
    AlbumRecord a = Disc(1);
    std::string longText(300, 'x');
    std::string longCyr;
    for (int i = 0; i < 80; ++i) longCyr += "ж";
    ParseXmcd(std::string(kStatus) + "DTITLE=" + longCyr + " / " + longText + "\nDYEAR=" +
                  longText + "\nDGENRE=" + longText + "\nTTITLE0=" + longText + "\n",
              a, tags, dialogs, nullptr);
    EXPECT_EQ(FieldText(a.Artist).size(), 49u);
    EXPECT_EQ(Cp1251ToUtf8(FieldText(a.Artist)).substr(0, 4), "жж");
    EXPECT_EQ(FieldText(a.AlbumTitle).size(), 49u);
    EXPECT_EQ(FieldText(a.Year).size(), 9u);
    EXPECT_EQ(FieldText(a.Genre).size(), 19u);
    EXPECT_EQ(FieldText(a.Tracks[0].Title).size(), 49u);
    EXPECT_EQ(FieldText(tags.Get(0, 1).Title).size(), 49u);
  }
  EXPECT_TRUE(dialogs.Clean());
}

TEST(XmcdTexts, TitlesOfEveryScriptReachTheRowsTheRecordAndTheTags) {
  AlbumRecord a = Disc(5);
  RecordTexts texts;
  TagBuffer tags;
  ScriptedDialogs dialogs;
  RecordingView view;
  std::string body = std::string(kStatus) +
                     "# xmcd\r\nDISCID=940aac0d\r\nDTITLE=Björk / Jóga – Ørsted\r\n"
                     "DYEAR=1997\r\nDGENRE=Électronique\r\n"
                     "TTITLE0=Ça plane pour moi\r\nTTITLE1=Σίγουρος Ρος\r\n"
                     "TTITLE2=Группа крови\r\nTTITLE3=東京事変 – 群青日和\r\nTTITLE4=Party 🎉\r\n.\r\n";
  ASSERT_TRUE(ParseXmcd(body, a, texts, tags, dialogs, &view));
  const char* titles[] = {"Ça plane pour moi", "Σίγουρος Ρος", "Группа крови",
                          "東京事変 – 群青日和", "Party 🎉"};
  EXPECT_EQ(view.artist, "Björk");
  EXPECT_EQ(view.album, "Jóga – Ørsted");
  EXPECT_EQ(AlbumText(a, texts, AlbumField::Artist), "Björk");
  EXPECT_EQ(AlbumText(a, texts, AlbumField::Genre), "Électronique");
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(view.rows[k], titles[k]);
    EXPECT_EQ(TrackTitleText(a, texts, k), titles[k]);
    TrackTags t = tags.GetTags(k, 5);
    EXPECT_EQ(t.Get(TagField::Title), titles[k]);
    EXPECT_EQ(t.Get(TagField::Artist), "Björk");
    EXPECT_EQ(t.Get(TagField::OriginalArtist), "Björk");
    EXPECT_EQ(t.Get(TagField::Album), "Jóga – Ørsted");
    EXPECT_EQ(t.Get(TagField::Genre), "Électronique");
  }
  // The record holds the CP1251 renderings, as the Windows program reads them.
  EXPECT_EQ(std::string(FieldText(a.Artist)), "Bj?rk");
  EXPECT_EQ(std::string(FieldText(a.Tracks[2].Title)), Utf8ToCp1251("Группа крови"));
  // Titles that fit CP1251 need no companion entry.
  EXPECT_EQ(texts.Find(TrackTitleKey(2)), nullptr);
}

TEST(XmcdTexts, LongTitlesAreCutAtFortyNineCharacters) {
  AlbumRecord a = Disc(2);
  RecordTexts texts;
  TagBuffer tags;
  ScriptedDialogs dialogs;
  std::string longJapanese;
  for (int i = 0; i < 70; ++i) longJapanese += "曲";
  std::string body = std::string(kStatus) + "DTITLE=A / B\r\nTTITLE0=" + longJapanese +
                     "\r\nTTITLE1=x\r\n.\r\n";
  ASSERT_TRUE(ParseXmcd(body, a, texts, tags, dialogs, nullptr));
  std::string expected;
  for (int i = 0; i < 49; ++i) expected += "曲";
  EXPECT_EQ(TrackTitleText(a, texts, 0), expected);
  EXPECT_EQ(tags.GetTags(0, 2).Get(TagField::Title), expected);
}

}  // namespace
}  // namespace sonarvex
