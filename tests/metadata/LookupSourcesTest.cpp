// The disc's CD-Text as a lookup source ("sonarvex-cli lookup --source
// cdtext"), the sources asked one after the other, and the automatic lookup
// of a disc the album database does not know: MusicBrainz on a loopback
// server (answering, closed, slow, answering garbage), then the disc's
// CD-Text.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstdio>

#include "LoopbackServer.h"
#include "MusicBrainzTesting.h"
#include "TempFolder.h"
#include "drive/DiscModel.h"
#include "drive/DiscToc.h"
#include "metadata/AlbumDatabase.h"
#include "metadata/CddbCommand.h"
#include "metadata/LookupSources.h"
#include "metadata/MusicBrainzDiscId.h"
#include "metadata/Xmcd.h"
#include "records/SettingsRecord.h"
#include "records/TextFields.h"

namespace sonarvex {
namespace {

using test::LoopbackServer;
using test::TempFolder;
using Conn = LoopbackServer::Connection;

DiscToc FourTracks() {
  DiscToc toc;
  toc.firstTrack = 1;
  toc.lastTrack = 4;
  const int starts[] = {150, 19350, 39075, 58725}, leadOut = 77850;
  for (int i = 0; i < 4; ++i) {
    TocTrack t;
    t.number = i + 1;
    t.address = FramesToMsf(starts[i]);
    t.startLba = starts[i] - kLeadInFrames;
    t.lengthFrames = (i < 3 ? starts[i + 1] : leadOut) - starts[i];
    toc.tracks.push_back(t);
  }
  toc.leadOut.number = 0xAA;
  toc.leadOut.address = FramesToMsf(leadOut);
  toc.leadOut.startLba = leadOut - kLeadInFrames;
  return toc;
}

CdText DiscText() {
  CdText t;
  t.title = "Café Album";
  t.performer = "The Band";
  t.upc = "0123456789012";
  t.tracks.push_back(CdTextTrack{1, "Première", "Soloist", "GBAYE0000001"});
  t.tracks.push_back(CdTextTrack{2, "Second", "", ""});
  t.tracks.push_back(CdTextTrack{4, "Fourth", "Guest", ""});
  return t;
}

using test::ClosedPort;

class LookupSources : public ::testing::Test {
 protected:
  SettingsRecord settings{};
  RecordTexts settingsTexts;
  AlbumRecord album{};
  TagBuffer tags;
  RecordTexts texts;
  DiscToc toc = FourTracks();
  TempFolder tmp;
  std::string folder = AlbumFolder(tmp.Path());
  std::optional<CdText> cdText = DiscText();
  int cdTextReads = 0;

  void SetUp() override {
    FillTracksFromToc(toc, album, false);
    album.DiscId = SignedDiscId(CddbDiscId(toc));
  }
  CdTextSource::Reader Reader() {
    return [this] {
      ++cdTextReads;
      return cdText;
    };
  }
  LookupSourceOptions Sources(const std::string& musicBrainz) {
    LookupSourceOptions o;
    o.musicBrainz = !musicBrainz.empty();
    o.musicBrainzServer = musicBrainz;
    o.musicBrainzLimits.waitMs = 500;
    o.musicBrainzLimits.totalMs = 1500;
    o.musicBrainzLimits.requestIntervalMs = 0;
    o.cdText = Reader();
    o.toc = &toc;
    return o;
  }
  AutoLookupResult Auto(const LookupSourceOptions& o, MatchChooser* chooser = nullptr) {
    return RunAutoLookup(settings, settingsTexts, album, texts, tags, folder, nullptr, nullptr, o,
                         chooser);
  }
  bool Stored() {
    AlbumRecord again{};
    TagBuffer t;
    return LoadAlbum(folder, album.DiscId, again, t);
  }
};

TEST_F(LookupSources, CdTextNamesTheAlbumTheTracksAndTheirPerformers) {
  CdTextCommandOptions o;
  o.read = Reader();
  o.albumTexts = &texts;
  const CddbCommandResult r = RunCdTextCommand(settings, album, tags, folder, o);
  ASSERT_TRUE(r.ok) << r.failure;
  EXPECT_EQ(CdTextChoiceTitle(DiscText()), "The Band – Café Album (CD-Text)");
  EXPECT_EQ(r.artist, "The Band");
  EXPECT_EQ(r.album, "Café Album");
  ASSERT_EQ(r.titles.size(), 4u);
  EXPECT_EQ(r.titles[0], "Première");
  EXPECT_EQ(r.titles[1], "Second");
  EXPECT_EQ(r.titles[2], "Track3");  // the disc names no third track
  EXPECT_EQ(r.titles[3], "Fourth");
  // Each track's performer, else the album's, is its artist.
  EXPECT_EQ(tags.GetTags(0, 4).Get(TagField::Artist), "Soloist");
  EXPECT_EQ(tags.GetTags(1, 4).Get(TagField::Artist), "The Band");
  EXPECT_EQ(tags.GetTags(3, 4).Get(TagField::Artist), "Guest");
  EXPECT_EQ(tags.GetTags(3, 4).Get(TagField::TrackNumber), "4");
  EXPECT_EQ(tags.GetTags(0, 4).Get(TagField::Album), "Café Album");
  const TrackTags first = tags.GetTags(0, 4);
  const std::string* isrc = first.Texts.Find("Isrc");
  ASSERT_TRUE(isrc);
  EXPECT_EQ(*isrc, "GBAYE0000001");
  // Stored with the full texts beside the record.
  AlbumRecord again{};
  TagBuffer againTags;
  RecordTexts againTexts;
  ASSERT_TRUE(LoadAlbum(folder, album.DiscId, again, againTags, &againTexts));
  EXPECT_EQ(AlbumText(again, againTexts, AlbumField::AlbumTitle), "Café Album");
  EXPECT_EQ(TrackTitleText(again, againTexts, 0), "Première");
}

TEST_F(LookupSources, ADiscWithoutCdTextIsSaidSoAndNothingIsStored) {
  cdText.reset();
  CdTextCommandOptions o;
  o.read = Reader();
  const CddbCommandResult r = RunCdTextCommand(settings, album, tags, folder, o);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.outcome, LookupOutcome::NoMatch);
  EXPECT_EQ(r.failure, "на диске нет CD-Text");
  EXPECT_FALSE(Stored());
}


// The automatic lookup asks MusicBrainz first: its release is applied and
// stored, the disc's CD-Text is not even read.
TEST_F(LookupSources, AutoLookupTakesMusicBrainzFirst) {
  LoopbackServer server([](const std::string& request, Conn& c) {
    if (request.find("GET /ws/2/discid/") == 0)
      c.Send(test::JsonResponse(200, test::DiscIdAnswer(test::MusicBrainzData("release_multidisc.json"))));
    else
      c.Send(test::JsonResponse(404, test::kNotFoundBody));
  });
  const AutoLookupResult r = Auto(Sources("http://127.0.0.1:" + std::to_string(server.Port())));
  EXPECT_TRUE(r.applied);
  EXPECT_EQ(r.source, "MusicBrainz");
  EXPECT_EQ(r.notice, "");
  EXPECT_EQ(TrackTitleText(album, texts, 1), "Bye-Bye Butterfly");
  EXPECT_EQ(cdTextReads, 0);
  EXPECT_TRUE(Stored());
}

// A server that does not answer in time, or answers garbage: the CD-Text
// names the disc and the notice says what became of the server.
TEST_F(LookupSources, ASlowOrBrokenServerGivesWayToTheCdText) {
  LoopbackServer slow([](const std::string&, Conn& c) { c.Wait(3000); });
  AutoLookupResult r = Auto(Sources("http://127.0.0.1:" + std::to_string(slow.Port())));
  EXPECT_TRUE(r.applied);
  EXPECT_EQ(r.source, "CD-Text");
  EXPECT_NE(r.notice.find("Названия диска взяты из CD-Text (MusicBrainz: "), std::string::npos) << r.notice;
  EXPECT_NE(r.notice.find("127.0.0.1:" + std::to_string(slow.Port())), std::string::npos) << r.notice;
  EXPECT_EQ(AlbumText(album, texts, AlbumField::AlbumTitle), "Café Album");
  EXPECT_TRUE(Stored());

  // Nothing anywhere: a notice naming each source, nothing applied or stored.
  cdText.reset();
  album = AlbumRecord{};
  texts.Clear();
  tags.Clear();
  FillTracksFromToc(toc, album, false);
  album.DiscId = SignedDiscId(CddbDiscId(toc)) ^ 1;  // another disc's file
  LoopbackServer garbage([](const std::string&, Conn& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n<html");
  });
  r = Auto(Sources("http://127.0.0.1:" + std::to_string(garbage.Port())));
  EXPECT_FALSE(r.applied);
  EXPECT_EQ(r.notice.rfind("Сведения о диске не найдены: MusicBrainz: ", 0), 0u) << r.notice;
  EXPECT_NE(r.notice.find("127.0.0.1:" + std::to_string(garbage.Port())), std::string::npos) << r.notice;
  EXPECT_NE(r.notice.find("; CD-Text: на диске нет CD-Text."), std::string::npos) << r.notice;
  EXPECT_EQ(AlbumText(album, texts, AlbumField::AlbumTitle), "");
}

// Titles the user gives while the network is waited for are never replaced.
TEST_F(LookupSources, TitlesTypedMeanwhileAreKept) {
  LookupSourceOptions o = Sources("http://127.0.0.1:" + std::to_string(ClosedPort()));
  int pumps = 0;
  o.pump = [&] {
    if (++pumps == 1) SetAlbumText(album, texts, AlbumField::AlbumTitle, "Typed by the user");
  };
  // The pump runs while MusicBrainz is waited for; a server that holds the
  // answer back makes sure it does.
  LoopbackServer slow([](const std::string&, Conn& c) { c.Wait(300); });
  o.musicBrainzServer = "http://127.0.0.1:" + std::to_string(slow.Port());
  const AutoLookupResult r = Auto(o);
  ASSERT_GT(pumps, 0);
  EXPECT_FALSE(r.applied);
  EXPECT_EQ(r.notice, "");
  EXPECT_EQ(AlbumText(album, texts, AlbumField::AlbumTitle), "Typed by the user");
  EXPECT_EQ(TrackTitleText(album, texts, 0), "Track1");
}

// A chooser that records what it was shown and answers as told.
struct ScriptedChooser : MatchChooser {
  int answer = 0;
  int asked = 0;
  std::vector<std::string> shown;
  int Choose(const std::vector<std::string>& titles) override {
    ++asked;
    shown = titles;
    return answer;
  }
};

// Several releases: a chooser is asked with every one and its choice
// applied; a cancelled choice leaves the disc as it was, nothing stored;
// without a chooser (the command line) the first is taken and the notice
// says so; titles typed while the network was waited for mean no question.
TEST_F(LookupSources, SeveralReleasesArePutToTheChooser) {
  // The first has no four-track medium; the second is the disc's.
  std::string first = test::MusicBrainzData("release.json");
  std::string second = test::MusicBrainzData("release_multidisc.json");
  int holdMs = 0;
  LoopbackServer server([&](const std::string& request, Conn& c) {
    if (holdMs) c.Wait(holdMs);
    if (request.find("GET /ws/2/discid/") == 0)
      c.Send(test::JsonResponse(200, test::DiscIdAnswer(first + "," + second)));
    else
      c.Send(test::JsonResponse(404, test::kNotFoundBody));
  });
  const std::string url = "http://127.0.0.1:" + std::to_string(server.Port());

  ScriptedChooser chooser;
  chooser.answer = -1;
  AutoLookupResult r = Auto(Sources(url), &chooser);
  EXPECT_EQ(chooser.asked, 1);
  ASSERT_EQ(chooser.shown.size(), 2u);
  EXPECT_NE(chooser.shown[0].find("The Dark Side of the Moon"), std::string::npos) << chooser.shown[0];
  EXPECT_NE(chooser.shown[1].find("ケアレス"), std::string::npos) << chooser.shown[1];
  EXPECT_FALSE(r.applied);
  EXPECT_EQ(r.chosen, -1);
  EXPECT_EQ(r.notice, "Выбор отменён: названия диска не изменены.");
  EXPECT_EQ(TrackTitleText(album, texts, 1), "Track2");
  EXPECT_EQ(cdTextReads, 0);
  EXPECT_FALSE(Stored());

  chooser.answer = 1;
  r = Auto(Sources(url), &chooser);
  EXPECT_EQ(chooser.asked, 2);
  EXPECT_TRUE(r.applied);
  EXPECT_EQ(r.chosen, 1);
  EXPECT_EQ(r.notice, "");
  EXPECT_EQ(TrackTitleText(album, texts, 1), "Bye-Bye Butterfly");
  EXPECT_TRUE(Stored());

  // The command line: no chooser, the first is taken and said.
  album = AlbumRecord{};
  texts.Clear();
  tags.Clear();
  FillTracksFromToc(toc, album, false);
  album.DiscId = SignedDiscId(CddbDiscId(toc));
  std::swap(first, second);
  r = Auto(Sources(url));
  EXPECT_TRUE(r.applied);
  EXPECT_EQ(r.chosen, 0);
  EXPECT_EQ(r.matches.size(), 2u);
  EXPECT_EQ(r.notice.rfind("Названия диска взяты из MusicBrainz. Найдено совпадений: 2, взято первое: ", 0), 0u)
      << r.notice;
  EXPECT_EQ(TrackTitleText(album, texts, 1), "Bye-Bye Butterfly");

  // Titles typed while the answer was waited for: no question, nothing applied.
  album = AlbumRecord{};
  texts.Clear();
  tags.Clear();
  FillTracksFromToc(toc, album, false);
  holdMs = 300;
  LookupSourceOptions o = Sources(url);
  o.pump = [&] { SetAlbumText(album, texts, AlbumField::AlbumTitle, "Typed by the user"); };
  r = Auto(o, &chooser);
  EXPECT_EQ(chooser.asked, 2);
  EXPECT_FALSE(r.applied);
  EXPECT_EQ(r.notice, "");
  EXPECT_EQ(AlbumText(album, texts, AlbumField::AlbumTitle), "Typed by the user");
  EXPECT_EQ(TrackTitleText(album, texts, 1), "Track2");
}

// The sources one after the other: the first that knows the disc answers;
// when none does, each is named with what became of it.
TEST_F(LookupSources, TheChainAsksInOrderUntilOneAnswers) {
  struct Fixed : MetadataSource {
    Answer answer;
    std::string reason;
    int* queries;
    Fixed(Answer a, std::string r, int* q) : answer(a), reason(std::move(r)), queries(q) {}
    Answer Query(const CddbTocTable&, std::uint32_t, std::vector<std::string>& titles) override {
      ++*queries;
      if (answer == Answer::Matches) titles = {"A", "B"};
      return answer;
    }
    bool Apply(int index) override { return index == 1; }
    std::string FailureReason() const override { return reason; }
  };
  using A = MetadataSource::Answer;
  int q1 = 0, q2 = 0, q3 = 0;
  LookupReport report;
  SourceChain chain(&report);
  chain.Add("One", [&] { return std::make_unique<Fixed>(A::Failed, "сервер молчит", &q1); });
  chain.Add("Two", [&] { return std::make_unique<Fixed>(A::Matches, "", &q2); });
  chain.Add("Three", [&] { return std::make_unique<Fixed>(A::Matches, "", &q3); });
  std::vector<std::string> titles;
  EXPECT_EQ(chain.Query(CddbTocTable{}, 0, titles), A::Matches);
  EXPECT_EQ(titles, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(report.answered, "Two");
  EXPECT_EQ(report.failedBefore, "One: сервер молчит");
  EXPECT_EQ(q3, 0);
  EXPECT_TRUE(chain.Apply(1));

  SourceChain none;
  none.Add("One", [&] { return std::make_unique<Fixed>(A::NoMatch, "", &q1); });
  none.Add("Two", [&] { return std::make_unique<Fixed>(A::SendFailed, "нет связи", &q2); });
  titles.clear();
  EXPECT_EQ(none.Query(CddbTocTable{}, 0, titles), A::Failed);
  EXPECT_EQ(none.FailureReason(), "One: нет сведений о диске; Two: нет связи");
  SourceChain nothing;
  nothing.Add("One", [&] { return std::make_unique<Fixed>(A::NoMatch, "", &q1); });
  nothing.Add("Two", [&] { return std::make_unique<Fixed>(A::NoMatch, "", &q2); });
  EXPECT_EQ(nothing.Query(CddbTocTable{}, 0, titles), A::NoMatch);
}

}  // namespace
}  // namespace sonarvex
