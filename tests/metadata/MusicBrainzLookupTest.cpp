// The MusicBrainz lookup ("sonarvex-cli lookup --source musicbrainz") against
// a loopback server answering recorded MusicBrainz answers: what reaches the
// album record, its texts, the tags and the album database, the choice
// among several releases, the fuzzy lookup by table of contents, and
// failures that leave the disc as it was.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "LoopbackServer.h"
#include "MusicBrainzTesting.h"
#include "TempFolder.h"
#include "drive/DiscModel.h"
#include "drive/DiscToc.h"
#include "metadata/AlbumDatabase.h"
#include "metadata/CddbCommand.h"
#include "metadata/MusicBrainzDiscId.h"
#include "metadata/MusicBrainzSource.h"
#include "metadata/Xmcd.h"
#include "platform/Cp1251.h"
#include "records/SettingsRecord.h"
#include "records/TextFields.h"

namespace sonarvex {
namespace {

using test::DiscIdAnswer;
using test::JsonResponse;
using test::LoopbackServer;
using test::MusicBrainzData;
using test::TempFolder;
using Conn = LoopbackServer::Connection;

DiscToc MakeToc(const std::vector<int>& starts, int leadOut) {
  DiscToc toc;
  toc.firstTrack = 1;
  toc.lastTrack = static_cast<int>(starts.size());
  for (std::size_t i = 0; i < starts.size(); ++i) {
    TocTrack t;
    t.number = static_cast<int>(i) + 1;
    t.address = FramesToMsf(starts[i]);
    t.startLba = starts[i] - kLeadInFrames;
    t.lengthFrames = (i + 1 < starts.size() ? starts[i + 1] : leadOut) - starts[i];
    toc.tracks.push_back(t);
  }
  toc.leadOut.number = 0xAA;
  toc.leadOut.address = FramesToMsf(leadOut);
  toc.leadOut.startLba = leadOut - kLeadInFrames;
  return toc;
}

// Medium 2 of Picard's release_5medias.json, as MusicBrainz lists its disc.
DiscToc BoxSetDisc2() {
  return MakeToc({150, 91851, 148493, 230435, 240674, 273050}, 301068);
}
DiscToc FourTracks() { return MakeToc({150, 19350, 39075, 58725}, 77850); }
DiscToc TenTracks() {
  return MakeToc({150, 5276, 17930, 35225, 65945, 87255, 115961, 151200, 166666, 183686}, 193552);
}

const char* kOther6 = R"({"id":"0f0e0d0c-0000-4000-8000-000000000006","title":"Другой релиз",
  "artist-credit":[{"name":"Кто-то","artist":{"id":"a0000000-0000-4000-8000-000000000001"}}],
  "date":"1999","country":"RU","media":[{"position":1,"format":"CD","track-count":6,"tracks":[
  {"position":1,"title":"Раз","id":"t1","recording":{"id":"r1","isrcs":["RUA019900001"]}},
  {"position":2,"title":"Два","id":"t2","recording":{"id":"r2"}},
  {"position":3,"title":"Три","id":"t3","recording":{"id":"r3"}},
  {"position":4,"title":"Четыре","id":"t4","recording":{"id":"r4"}},
  {"position":5,"title":"Пять","id":"t5","recording":{"id":"r5"}},
  {"position":6,"title":"Шесть","id":"t6","artist-credit":[{"name":"Гость","joinphrase":" и ",
   "artist":{"id":"g1"}},{"name":"Кто-то","artist":{"id":"a0000000-0000-4000-8000-000000000001"}}],
   "recording":{"id":"r6"}}]}]})";

class MusicBrainzLookup : public ::testing::Test {
 protected:
  SettingsRecord settings{};
  AlbumRecord album{};
  TagBuffer tags;
  RecordTexts texts;
  DiscToc toc;
  TempFolder tmp;
  std::string folder = AlbumFolder(tmp.Path());

  void Insert(const DiscToc& disc) {
    toc = disc;
    album = AlbumRecord{};
    FillTracksFromToc(toc, album, false);
    album.DiscId = SignedDiscId(CddbDiscId(toc));
    // What every lookup writes first (the disc's own CDDB identifier).
    char id[16];
    std::snprintf(id, sizeof id, "%08X", CddbDiscId(toc));
    SetField(album.CddbId, id);
    for (int i = 0; i < AlbumTrackCount(album); ++i)
      SetField(album.Tracks[i].Title, "Track" + std::to_string(i + 1));
  }
  CddbCommandResult Run(const LoopbackServer& server, const std::string& release = "",
                        int waitMs = 1000) {
    MusicBrainzCommandOptions o;
    o.server = "http://127.0.0.1:" + std::to_string(server.Port());
    o.release = release;
    o.limits.waitMs = waitMs;
    o.limits.totalMs = 3000;
    o.limits.requestIntervalMs = 0;
    o.toc = &toc;
    o.albumTexts = &texts;
    return RunMusicBrainzCommand(settings, album, tags, folder, o);
  }
  std::string Info(const char* key) const {
    const std::string* text = texts.Find(key);
    return text ? *text : std::string("(none)");
  }
};

TEST_F(MusicBrainzLookup, TheReleaseGoesIntoTheAlbumItsTagsAndTheDatabase) {
  Insert(FourTracks());
  const std::string discId = MusicBrainzDiscId(*MusicBrainzTocOf(toc));
  LoopbackServer server([&](const std::string& request, Conn& c) {
    if (request.find("/ws/2/discid/" + discId + "?") != std::string::npos)
      c.Send(JsonResponse(200, DiscIdAnswer(MusicBrainzData("release_multidisc.json"))));
    else
      c.Send(JsonResponse(400, "{}"));
  });
  const CddbCommandResult r = Run(server);
  ASSERT_TRUE(r.ok) << r.failure;
  EXPECT_EQ(r.notice, "");
  ASSERT_EQ(r.matches.size(), 1u);
  // The release names no artist: the title starts with the album.
  EXPECT_EQ(r.matches[0], "ケアレス (2021, JP, 4547366518764, CD, диск 1 из 2, 4 дорожки)");
  // The full texts beside fields that code page 1251 cannot hold.
  EXPECT_EQ(AlbumText(album, texts, AlbumField::AlbumTitle), "ケアレス");
  EXPECT_EQ(FieldText(album.AlbumTitle), "????");
  EXPECT_EQ(FieldText(album.Year), "2021");
  EXPECT_EQ(TrackTitleText(album, texts, 3), "ケアレス -Instrumental-");
  EXPECT_EQ(TrackTitleText(album, texts, 1), "Bye-Bye Butterfly");
  EXPECT_EQ(r.titles.size(), 4u);
  EXPECT_EQ(r.album, "ケアレス");
  // The keys of the album.
  EXPECT_EQ(Info("MusicBrainzAlbumId"), "6c4f766f-3351-4c10-a53d-b119452c27b2");
  EXPECT_EQ(Info("MusicBrainzReleaseGroupId"), "b89c4dbd-1734-4536-a16d-dde648f735c0");
  EXPECT_EQ(Info("MusicBrainzDiscId"), discId);
  EXPECT_EQ(Info("Date"), "2021-09-15");
  EXPECT_EQ(Info("OriginalDate"), "2021-09-15");
  EXPECT_EQ(Info("DiscNumber"), "1");
  EXPECT_EQ(Info("DiscTotal"), "2");
  EXPECT_EQ(Info("Barcode"), "4547366518764");
  EXPECT_EQ(Info("ReleaseCountry"), "JP");
  EXPECT_EQ(Info("Media"), "CD");
  EXPECT_EQ(Info("Label"), "(none)");  // the release names none
  // The tags of each track, with the keys its file is tagged with.
  const TrackTags t = tags.GetTags(0, 4);
  EXPECT_TRUE(t.On());
  EXPECT_EQ(t.Get(TagField::Title), "ケアレス");
  EXPECT_EQ(t.Get(TagField::Album), "ケアレス");
  EXPECT_EQ(t.Get(TagField::TrackNumber), "1");
  EXPECT_EQ(t.Get(TagField::Year), "2021");
  EXPECT_EQ(t.Info("MusicBrainzTrackId"), "9e1bd108-5e69-41cf-b744-ff7731293403");
  EXPECT_EQ(t.Info("MusicBrainzReleaseTrackId"), "7dfe7b51-32c7-42e7-9685-bad653319116");
  EXPECT_EQ(t.Info("MusicBrainzAlbumId"), "6c4f766f-3351-4c10-a53d-b119452c27b2");
  EXPECT_EQ(t.Info("DiscNumber"), "1");
  EXPECT_EQ(tags.GetTags(3, 4).Info("MusicBrainzTrackId"), "e337e1b6-818b-4923-9bf2-8256168ff95a");

  // Stored: a new start finds the whole of it in the album database.
  AlbumRecord again{};
  FillTracksFromToc(toc, again, false);
  again.DiscId = album.DiscId;
  TagBuffer againTags;
  RecordTexts againTexts;
  ASSERT_TRUE(LoadAlbumForDisc(folder, again, againTags, &againTexts));
  EXPECT_EQ(AlbumText(again, againTexts, AlbumField::AlbumTitle), "ケアレス");
  EXPECT_EQ(TrackTitleText(again, againTexts, 2), "Starry");
  ASSERT_TRUE(againTexts.Find("MusicBrainzAlbumId"));
  EXPECT_EQ(*againTexts.Find("MusicBrainzAlbumId"), "6c4f766f-3351-4c10-a53d-b119452c27b2");
  EXPECT_EQ(againTags.GetTags(2, 4).Info("MusicBrainzTrackId"),
            "781f567c-04de-4690-81f8-b5e9396af231");
  EXPECT_EQ(againTags.GetTags(2, 4).Get(TagField::Title), "Starry");
}

TEST_F(MusicBrainzLookup, SeveralReleasesTakeTheFirstOrTheNamedOne) {
  Insert(BoxSetDisc2());
  LoopbackServer server([&](const std::string&, Conn& c) {
    c.Send(JsonResponse(200, DiscIdAnswer(MusicBrainzData("release_5medias.json") + "," + kOther6)));
  });
  CddbCommandResult r = Run(server);
  ASSERT_TRUE(r.ok) << r.failure;
  ASSERT_EQ(r.matches.size(), 2u);
  EXPECT_EQ(r.matches[0],
            "Pink Floyd – Wish You Were Here (2011, XE, EMI, 5099902943527, CD, диск 2 из 5, "
            "6 дорожек)");
  EXPECT_EQ(r.matches[1], "Кто-то – Другой релиз (1999, RU, CD, 6 дорожек)");
  EXPECT_EQ(r.notice,
            "Диск найден в 2 релизах MusicBrainz; взят первый. Другой выбирается ключом --release:\n"
            "  f17a0f30-8eb1-4322-b54e-fb71edb78d7c  " + r.matches[0] + "\n"
            "  0f0e0d0c-0000-4000-8000-000000000006  " + r.matches[1]);
  // The medium the disc identifier is attached to: disc 2 of 5.
  EXPECT_EQ(r.album, "Wish You Were Here");
  EXPECT_EQ(r.artist, "Pink Floyd");
  EXPECT_EQ(Info("DiscNumber"), "2");
  EXPECT_EQ(Info("DiscTotal"), "5");
  EXPECT_EQ(Info("Label"), "EMI");
  EXPECT_EQ(Info("CatalogNumber"), "50999 029435 2 7");
  EXPECT_EQ(Info("MusicBrainzAlbumArtistId"), "83d91898-7763-47d7-b03b-b92132375c47");
  // That medium lists no tracks: the rows keep their titles.
  EXPECT_EQ(TrackTitleText(album, texts, 0), "Track1");

  // The one named on the command line.
  r = Run(server, "0f0e0d0c-0000-4000-8000-000000000006");
  ASSERT_TRUE(r.ok) << r.failure;
  EXPECT_EQ(r.notice, "");
  EXPECT_EQ(r.album, "Другой релиз");
  EXPECT_EQ(r.titles[5], "Шесть");
  EXPECT_EQ(tags.GetTags(5, 6).Get(TagField::Artist), "Гость и Кто-то");
  EXPECT_EQ(tags.GetTags(5, 6).Info("MusicBrainzArtistId"),
            "g1; a0000000-0000-4000-8000-000000000001");
  EXPECT_EQ(tags.GetTags(0, 6).Get(TagField::Artist), "Кто-то");
  EXPECT_EQ(tags.GetTags(0, 6).Info("Isrc"), "RUA019900001");
  // What the first release said and this one does not is gone.
  EXPECT_EQ(Info("Label"), "(none)");
  EXPECT_EQ(Info("DiscTotal"), "1");
  EXPECT_EQ(tags.GetTags(0, 6).Info("Barcode"), "");

  // A release the answer does not list: nothing is taken.
  const AlbumRecord before = album;
  const RecordTexts textsBefore = texts;
  r = Run(server, "11111111-2222-3333-4444-555555555555");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.failure.find("не называет релиз 11111111-2222-3333-4444-555555555555"),
            std::string::npos)
      << r.failure;
  EXPECT_EQ(std::memcmp(&before, &album, sizeof album), 0);
  EXPECT_TRUE(texts == textsBefore);
}

TEST_F(MusicBrainzLookup, AnUnknownDiscIsFoundByItsTableOfContents) {
  Insert(TenTracks());
  LoopbackServer server([&](const std::string& request, Conn& c) {
    if (request.find("toc=1+10+193552+150+5276+") == std::string::npos)
      c.Send(JsonResponse(404, test::kNotFoundBody));
    else
      c.Send(JsonResponse(200, DiscIdAnswer(MusicBrainzData("release.json"))));
  });
  const CddbCommandResult r = Run(server);
  ASSERT_TRUE(r.ok) << r.failure;
  EXPECT_EQ(server.Requests().size(), 2u);
  EXPECT_EQ(r.album, "The Dark Side of the Moon");
  EXPECT_EQ(FieldText(album.Genre), "genre1");
  EXPECT_EQ(Info("Label"), "Harvest");
  EXPECT_EQ(Info("CatalogNumber"), "SHVL 804");
  EXPECT_EQ(Info("Media"), "12\" Vinyl");
  EXPECT_EQ(Info("OriginalDate"), "1973-03-24");
  EXPECT_EQ(r.titles[9], "Eclipse");
  EXPECT_EQ(tags.GetTags(9, 10).Get(TagField::Genre), "genre1");
  EXPECT_EQ(tags.GetTags(9, 10).Get(TagField::Artist), "Pink Floyd");
}

TEST_F(MusicBrainzLookup, NothingFoundAndFailuresLeaveTheDiscAsItWas) {
  Insert(FourTracks());
  SetField(album.Artist, "Свой");
  texts.Put("MusicBrainzAlbumId", "kept-from-before");
  const AlbumRecord before = album;
  const RecordTexts textsBefore = texts;
  auto unchanged = [&](const CddbCommandResult& r, const std::string& cause) {
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.failure.find(cause), std::string::npos) << r.failure;
    EXPECT_EQ(std::memcmp(&before, &album, sizeof album), 0);
    EXPECT_TRUE(texts == textsBefore);
    EXPECT_TRUE(tags.Bytes().empty() || tags.Texts().Empty());
    EXPECT_TRUE(FindAlbumFile(folder, album.DiscId).empty());
  };
  {
    LoopbackServer none([](const std::string&, Conn& c) {
      c.Send(JsonResponse(404, test::kNotFoundBody));
    });
    unchanged(Run(none), "В базе нет информации об этом диске.");
  }
  {
    LoopbackServer garbage([](const std::string&, Conn& c) {
      c.Send(JsonResponse(200, "{\"releases\":[{\"title\":"));
    });
    const std::string peer = "сервер MusicBrainz 127.0.0.1:" + std::to_string(garbage.Port());
    unchanged(Run(garbage), peer + ": ответ не в формате JSON");
  }
  {
    LoopbackServer slow([](const std::string&, Conn& c) { c.Wait(3000); });
    const std::string peer = "сервер MusicBrainz 127.0.0.1:" + std::to_string(slow.Port());
    unchanged(Run(slow, "", 300), peer + ": время ожидания ответа истекло");
  }
  int port = 0;
  {
    LoopbackServer gone([](const std::string&, Conn&) {});
    port = gone.Port();
  }
  MusicBrainzCommandOptions o;
  o.server = "http://127.0.0.1:" + std::to_string(port);
  o.limits.requestIntervalMs = 0;
  o.toc = &toc;
  o.albumTexts = &texts;
  unchanged(RunMusicBrainzCommand(settings, album, tags, folder, o),
            "сервер MusicBrainz 127.0.0.1:" + std::to_string(port) + ": соединение отклонено");
}

TEST(MusicBrainzChoiceTitle, EmptyPartsAreLeftOut) {
  MusicBrainzRelease r;
  r.artist = "Артист";
  r.title = "Альбом";
  EXPECT_EQ(MusicBrainzChoiceTitle(r, nullptr), "Артист – Альбом");
  MusicBrainzMedium m;
  m.trackCount = 21;
  m.position = 1;
  r.media.push_back(m);
  r.date = "2003-05";
  EXPECT_EQ(MusicBrainzChoiceTitle(r, &r.media[0]), "Артист – Альбом (2003, 21 дорожка)");
  r.media[0].trackCount = 12;
  EXPECT_EQ(MusicBrainzChoiceTitle(r, &r.media[0]), "Артист – Альбом (2003, 12 дорожек)");
}

}  // namespace
}  // namespace sonarvex
