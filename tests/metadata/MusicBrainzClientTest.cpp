// The MusicBrainz answer reader on recorded answers and broken ones, and the
// web-service client against a loopback server.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>

#include "LoopbackServer.h"
#include "MusicBrainzTesting.h"
#include "metadata/MusicBrainzClient.h"
#include "metadata/MusicBrainzRelease.h"
#include "platform/Version.h"

namespace sonarvex {
namespace {

using test::DiscIdAnswer;
using test::JsonResponse;
using test::LoopbackServer;
using test::MusicBrainzData;
using Conn = LoopbackServer::Connection;

std::vector<MusicBrainzRelease> Parsed(const std::string& json) {
  std::vector<MusicBrainzRelease> releases;
  std::string reason;
  EXPECT_TRUE(ParseMusicBrainzAnswer(json, releases, reason)) << reason;
  EXPECT_EQ(reason, "");
  return releases;
}

TEST(MusicBrainzRelease, ReadsARecordedRelease) {
  const auto releases = Parsed(DiscIdAnswer(MusicBrainzData("release.json")));
  ASSERT_EQ(releases.size(), 1u);
  const MusicBrainzRelease& r = releases[0];
  EXPECT_EQ(r.id, "b84ee12a-09ef-421b-82de-0441a926375b");
  EXPECT_EQ(r.title, "The Dark Side of the Moon");
  EXPECT_EQ(r.artist, "Pink Floyd");
  ASSERT_EQ(r.artistIds.size(), 1u);
  EXPECT_EQ(r.artistIds[0], "83d91898-7763-47d7-b03b-b92132375c47");
  EXPECT_EQ(r.date, "1973-03-24");
  EXPECT_EQ(r.Year(), "1973");
  EXPECT_EQ(r.country, "GB");
  EXPECT_EQ(r.barcode, "123");
  EXPECT_EQ(r.labels, std::vector<std::string>{"Harvest"});
  EXPECT_EQ(r.catalogNumbers, std::vector<std::string>{"SHVL 804"});
  EXPECT_EQ(r.releaseGroupId, "f5093c06-23e3-404f-aeaa-40f72885ee3a");
  EXPECT_EQ(r.originalDate, "1973-03-24");
  EXPECT_EQ(r.genre, "genre1");  // the release's most voted; its group has none
  ASSERT_EQ(r.media.size(), 1u);
  const MusicBrainzMedium& m = r.media[0];
  EXPECT_EQ(m.position, 1);
  EXPECT_EQ(m.format, "12\" Vinyl");
  ASSERT_EQ(m.tracks.size(), 10u);
  EXPECT_EQ(m.tracks[2].number, "A3");
  EXPECT_EQ(m.tracks[2].title, "On the Run");
  EXPECT_EQ(m.tracks[2].trackId, "ffb7f6b2-b20d-3cb4-bc1b-5b6f4c3c4054");
  EXPECT_EQ(m.tracks[2].recordingId, "747a79a7-644e-42d4-be86-9adaf44393d8");
  EXPECT_EQ(m.tracks[2].lengthMs, 230600);
  // Tracks without credits of their own are the release's artist's.
  EXPECT_EQ(m.tracks[2].artist, "Pink Floyd");
  EXPECT_EQ(m.tracks[2].artistIds, r.artistIds);
  // The same release as an answer of its own.
  EXPECT_EQ(Parsed(MusicBrainzData("release.json"))[0].id, r.id);
}

TEST(MusicBrainzRelease, TheMediumOfTheDisc) {
  const auto boxed = Parsed(DiscIdAnswer(MusicBrainzData("release_5medias.json")));
  ASSERT_EQ(boxed.size(), 1u);
  // By its disc identifier, else by its track count among the CDs.
  const MusicBrainzMedium* m = boxed[0].MediumFor("6NksHllhjO74WpVDabBDhj3P0qk-", 5);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->position, 2);
  EXPECT_EQ(m->trackCount, 6);
  EXPECT_EQ(m->format, "CD");
  m = boxed[0].MediumFor("unknown", 5);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->position, 1);
  EXPECT_FALSE(boxed[0].MediumFor("unknown", 7));
  EXPECT_EQ(boxed[0].media.size(), 5u);

  const auto two = Parsed(DiscIdAnswer(MusicBrainzData("release_multidisc.json")));
  ASSERT_EQ(two.size(), 1u);
  EXPECT_EQ(two[0].title, "ケアレス");
  m = two[0].MediumFor("", 4);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->format, "CD");
  ASSERT_EQ(m->tracks.size(), 4u);
  EXPECT_EQ(m->tracks[3].title, "ケアレス -Instrumental-");
}

TEST(MusicBrainzRelease, CreditsWithJoinPhrasesAndIsrcs) {
  const std::string json = R"({"releases":[{"id":"r","title":"T",
    "artist-credit":[{"name":"Ed Sheeran","joinphrase":" feat. ","artist":{"id":"a1","name":"Ed Sheeran"}},
                     {"name":"Meek Mill","joinphrase":"","artist":{"id":"a2"}}],
    "label-info":[{"label":{"name":"L"},"catalog-number":"C1"},{"label":{"name":"L"},"catalog-number":"C2"}],
    "media":[{"position":2,"format":"CD","tracks":[
      {"position":1,"title":"One","artist-credit":[{"name":"X","joinphrase":" & ","artist":{"id":"x"}},{"artist":{"id":"y","name":"Y"}}],
       "recording":{"id":"rec1","isrcs":["GBAHS1400099","GBAHS1400099","USUM71703861"]}},
      {"position":2,"recording":{"id":"rec2","title":"From the recording",
       "artist-credit":[{"name":"Z","artist":{"id":"z"}}]}}]}]}]})";
  const auto releases = Parsed(json);
  ASSERT_EQ(releases.size(), 1u);
  const MusicBrainzRelease& r = releases[0];
  EXPECT_EQ(r.artist, "Ed Sheeran feat. Meek Mill");
  EXPECT_EQ(r.artistIds, (std::vector<std::string>{"a1", "a2"}));
  EXPECT_EQ(r.labels, std::vector<std::string>{"L"});
  EXPECT_EQ(r.catalogNumbers, (std::vector<std::string>{"C1", "C2"}));
  const auto& tracks = r.media[0].tracks;
  ASSERT_EQ(tracks.size(), 2u);
  EXPECT_EQ(tracks[0].artist, "X & Y");
  EXPECT_EQ(tracks[0].artistIds, (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(tracks[0].isrcs, (std::vector<std::string>{"GBAHS1400099", "USUM71703861"}));
  EXPECT_EQ(tracks[1].title, "From the recording");
  EXPECT_EQ(tracks[1].artist, "Z");
}

TEST(MusicBrainzRelease, BrokenAnswersGiveAReason) {
  const char* broken[] = {
      "",
      "<html>Service unavailable</html>",
      "[1,2]",
      R"({"releases":{"id":"x"}})",
      R"({"releases":[{"title":"no id"}]})",
      R"({"releases":[5]})",
      R"({"error":"Not Found"})",
      R"({"releases":[{"id":"r","media":[)",
  };
  for (const char* json : broken) {
    std::vector<MusicBrainzRelease> releases;
    std::string reason;
    EXPECT_FALSE(ParseMusicBrainzAnswer(json, releases, reason)) << json;
    EXPECT_FALSE(reason.empty()) << json;
    EXPECT_TRUE(releases.empty());
  }
  // Fields of other types than expected read as absent.
  const auto odd = Parsed(
      R"({"releases":[{"id":"r","title":5,"date":null,"artist-credit":"x","label-info":[null,7],
          "media":[{"position":"1","tracks":[7,{"position":1e300,"length":-5,"recording":[]}]}]}]})");
  ASSERT_EQ(odd.size(), 1u);
  EXPECT_EQ(odd[0].title, "");
  EXPECT_EQ(odd[0].artist, "");
  ASSERT_EQ(odd[0].media.size(), 1u);
  EXPECT_EQ(odd[0].media[0].position, 0);
  ASSERT_EQ(odd[0].media[0].tracks.size(), 1u);
  EXPECT_EQ(odd[0].media[0].tracks[0].position, 0);
  EXPECT_EQ(odd[0].media[0].tracks[0].lengthMs, 0);
}

// ---- The client -------------------------------------------------------------

MusicBrainzLimits Quick() {
  MusicBrainzLimits l;
  l.waitMs = 500;
  l.totalMs = 3000;
  l.requestIntervalMs = 0;
  return l;
}

std::string Server(const LoopbackServer& s) { return "http://127.0.0.1:" + std::to_string(s.Port()); }

const std::string kId = "KnpGsLhvH.lPrNc1PBL21lb9Bg4-";
const std::string kToc = "1+12+195856+150+15687+31841+51016+66616+81352+99559+116070+133243+149997+161710+177832";

TEST(MusicBrainzClient, AsksByDiscIdentifierNamingTheProgram) {
  LoopbackServer server([](const std::string&, Conn& c) {
    c.Send(JsonResponse(200, DiscIdAnswer(MusicBrainzData("release_multidisc.json"))));
  });
  MusicBrainzClient client(Server(server) + "/", Quick());
  std::vector<MusicBrainzRelease> releases;
  ASSERT_EQ(client.Lookup(kId, kToc, releases), MusicBrainzClient::Answer::Found)
      << client.FailureReason();
  EXPECT_FALSE(client.FoundByToc());
  ASSERT_EQ(releases.size(), 1u);
  EXPECT_EQ(releases[0].id, "6c4f766f-3351-4c10-a53d-b119452c27b2");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")),
            "GET /ws/2/discid/" + kId +
                "?inc=recordings+artist-credits+labels+release-groups+isrcs&fmt=json HTTP/1.1");
  EXPECT_NE(requests[0].find("\r\nUser-Agent: Sonarvex/" SONARVEX_VERSION " ( https://sonarvex.io/ )\r\n"),
            std::string::npos);
  EXPECT_EQ(MusicBrainzUserAgent(), "Sonarvex/" SONARVEX_VERSION " ( https://sonarvex.io/ )");
}

TEST(MusicBrainzClient, AnUnknownIdentifierIsLookedUpByItsTableOfContents) {
  LoopbackServer server([](const std::string& request, Conn& c) {
    if (request.find("toc=") == std::string::npos)
      c.Send(JsonResponse(404, test::kNotFoundBody));
    else
      c.Send(JsonResponse(200, DiscIdAnswer(MusicBrainzData("release.json"))));
  });
  MusicBrainzClient client(Server(server), Quick());
  std::vector<MusicBrainzRelease> releases;
  ASSERT_EQ(client.Lookup(kId, kToc, releases), MusicBrainzClient::Answer::Found)
      << client.FailureReason();
  EXPECT_TRUE(client.FoundByToc());
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].substr(0, requests[1].find(" HTTP/")),
            "GET /ws/2/discid/" + kId + "?toc=" + kToc +
                "&cdstubs=no&inc=recordings+artist-credits+labels+release-groups+isrcs&fmt=json");

  // Nothing by either: unknown, without a failure.
  LoopbackServer none([](const std::string&, Conn& c) {
    c.Send(JsonResponse(404, test::kNotFoundBody));
  });
  MusicBrainzClient nothing(Server(none), Quick());
  EXPECT_EQ(nothing.Lookup(kId, kToc, releases), MusicBrainzClient::Answer::Unknown);
  EXPECT_EQ(nothing.FailureReason(), "");
  EXPECT_TRUE(releases.empty());
  // A fuzzy answer with an empty list is unknown as well.
  LoopbackServer empty([](const std::string& request, Conn& c) {
    c.Send(request.find("toc=") == std::string::npos ? JsonResponse(404, test::kNotFoundBody)
                                                     : JsonResponse(200, DiscIdAnswer("")));
  });
  MusicBrainzClient emptyClient(Server(empty), Quick());
  EXPECT_EQ(emptyClient.Lookup(kId, kToc, releases), MusicBrainzClient::Answer::Unknown);
}

TEST(MusicBrainzClient, FailuresNameTheServerAndTheCause) {
  std::vector<MusicBrainzRelease> releases;
  auto failure = [&](LoopbackServer::Handler handler, MusicBrainzLimits limits = Quick()) {
    LoopbackServer server(std::move(handler));
    MusicBrainzClient client(Server(server), limits);
    EXPECT_EQ(client.Lookup(kId, kToc, releases), MusicBrainzClient::Answer::Failed);
    EXPECT_TRUE(releases.empty());
    const std::string reason = client.FailureReason();
    EXPECT_NE(reason.find("сервер MusicBrainz 127.0.0.1:" + std::to_string(server.Port())),
              std::string::npos)
        << reason;
    return reason;
  };
  EXPECT_NE(failure([](const std::string&, Conn& c) { c.Send(JsonResponse(200, "<html>")); })
                .find("не в формате JSON"),
            std::string::npos);
  EXPECT_NE(failure([](const std::string&, Conn& c) { c.Send(JsonResponse(503, "")); })
                .find("HTTP 503"),
            std::string::npos);
  EXPECT_NE(failure([](const std::string&, Conn& c) { c.Wait(3000); }).find("время ожидания"),
            std::string::npos);
  MusicBrainzLimits small = Quick();
  small.maxResponseBytes = 4096;
  EXPECT_NE(failure([](const std::string&, Conn& c) {
              c.Send(JsonResponse(200, DiscIdAnswer(MusicBrainzData("release.json"))));
            }, small).find("ответ больше"),
            std::string::npos);

  // Nobody listening.
  int port = 0;
  {
    LoopbackServer gone([](const std::string&, Conn&) {});
    port = gone.Port();
  }
  MusicBrainzClient down("http://127.0.0.1:" + std::to_string(port), Quick());
  EXPECT_EQ(down.Lookup(kId, kToc, releases), MusicBrainzClient::Answer::Failed);
  EXPECT_EQ(down.FailureReason(),
            "сервер MusicBrainz 127.0.0.1:" + std::to_string(port) + ": соединение отклонено");

  // Not an address the client may use.
  MusicBrainzClient bad("ftp://mb.lan", Quick());
  EXPECT_EQ(bad.Lookup(kId, kToc, releases), MusicBrainzClient::Answer::Failed);
  EXPECT_EQ(bad.FailureReason(), "неверный адрес сервера MusicBrainz: ftp://mb.lan");
}

TEST(MusicBrainzClient, AtMostOneRequestASecond) {
  using Clock = std::chrono::steady_clock;
  std::mutex m;
  std::vector<Clock::time_point> at;
  LoopbackServer server([&](const std::string&, Conn& c) {
    {
      std::lock_guard<std::mutex> lock(m);
      at.push_back(Clock::now());
    }
    c.Send(JsonResponse(404, test::kNotFoundBody));
  });
  MusicBrainzLimits limits = Quick();
  limits.requestIntervalMs = 1000;
  std::vector<MusicBrainzRelease> releases;
  // Two clients: the limit is the process's, not one client's.
  MusicBrainzClient first(Server(server), limits), second(Server(server), limits);
  EXPECT_EQ(first.Lookup(kId, "", releases), MusicBrainzClient::Answer::Unknown);
  EXPECT_EQ(second.Lookup(kId, kToc, releases), MusicBrainzClient::Answer::Unknown);
  ASSERT_EQ(at.size(), 3u);
  EXPECT_GE(at[1] - at[0], std::chrono::milliseconds(950));
  EXPECT_GE(at[2] - at[1], std::chrono::milliseconds(950));
}

}  // namespace
}  // namespace sonarvex
