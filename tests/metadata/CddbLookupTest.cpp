// The whole lookup (and the command-line form of it) against a loopback
// CDDB server, with scripted message boxes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>

#include "LoopbackServer.h"
#include "TempFolder.h"
#include "drive/DiscModel.h"
#include "drive/DiscToc.h"
#include "records/SettingsRecord.h"
#include "metadata/AlbumDatabase.h"
#include "metadata/AlbumView.h"
#include "metadata/CddbCommand.h"
#include "metadata/CddbLookup.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"

namespace sonarvex {
namespace {

using test::HttpResponse;
using test::LoopbackServer;
using test::TempFolder;
using Conn = LoopbackServer::Connection;

// A three-track disc: 00:02:00, 04:00:00, 08:30:10, lead-out 12:00:00.
AlbumRecord ThreeTrackDisc() {
  AlbumRecord a{};
  a.TrackCount = 3;
  const Msf starts[4] = {{0, 2, 0}, {4, 0, 0}, {8, 30, 10}, {12, 0, 0}};
  for (int i = 0; i < 4; ++i) {
    a.Tracks[i].Start = starts[i];
    a.Tracks[i].AudioFlag = i < 3;
    SetField(a.Tracks[i].Title, "Track" + std::to_string(i + 1));
  }
  return a;
}

std::string IdOf(const AlbumRecord& a, bool upper) {
  char text[16];
  std::snprintf(text, sizeof text, upper ? "%08X" : "%08x", ComputeDiscId(TocTableFromAlbum(a)));
  return text;
}

std::string Record(const std::string& id, const std::string& title) {
  return "210 rock " + id + " CD database entry follows\r\n# xmcd\r\nDISCID=" + id +
         "\r\nDTITLE=" + title + "\r\nDYEAR=1988\r\nDGENRE=Rock\r\nTTITLE0=Первая\r\n"
         "TTITLE1=Вторая\r\nTTITLE2=Третья\r\n.\r\n";
}

struct ListView : AlbumView {
  std::string album, artist;
  std::vector<std::string> rows = std::vector<std::string>(3);
  void SetAlbumName(const std::string& t) override { album = t; }
  void SetArtist(const std::string& t) override { artist = t; }
  void SetTrackCaption(int row, const std::string& t) override {
    if (row >= static_cast<int>(rows.size())) rows.resize(row + 1);
    rows[row] = t;
  }
};

struct FakeChooser : MatchChooser {
  int answer = 0;
  std::vector<std::string> seen;
  int calls = 0;
  int Choose(const std::vector<std::string>& titles) override {
    ++calls;
    seen = titles;
    return answer;
  }
};

class Lookup : public ::testing::Test {
 protected:
  SettingsRecord settings{};
  AlbumRecord album = ThreeTrackDisc();
  TagBuffer tags;
  ScriptedDialogs dialogs;
  FakeChooser chooser;
  ListView view;
  TempFolder tmp;
  std::string folder = AlbumFolder(tmp.Path());

  void SetUp() override {
    SetField(settings.CddbHost, "127.0.0.1");
    SetField(settings.CddbPath, "/~cddb/cddb.cgi");
  }
  LookupOutcome Run(int port) {
    CddbLookup lookup(settings, album, tags, dialogs, chooser, &view, folder);
    CddbLimits limits;
    limits.waitMs = 400;
    limits.totalMs = 3000;
    lookup.SetLimits(limits);
    lookup.SetServerPort(port);
    int pumped = 0;
    lookup.SetPump([&] { ++pumped; });
    return lookup.Run();
  }
  void ExpectClean() {
    std::string why;
    EXPECT_TRUE(dialogs.Clean(&why)) << why;
  }
};

TEST_F(Lookup, OneMatchIsReadAtOnceAndStored) {
  const std::string id = IdOf(album, false);
  LoopbackServer server([&](const std::string& request, Conn& c) {
    if (request.find("cmd=cddb+query+" + id + "+3+150+18000+38260+720&") != std::string::npos)
      c.Send(HttpResponse("200 rock " + id + " Кино / Группа крови\r\n"));
    else if (request.find("cmd=cddb+read+rock+" + IdOf(album, true) + "&") != std::string::npos)
      c.Send(HttpResponse(Record(id, "Кино / Группа крови")));
  });
  EXPECT_EQ(Run(server.Port()), LookupOutcome::Done);
  ExpectClean();
  EXPECT_EQ(chooser.calls, 0);
  EXPECT_EQ(server.Requests().size(), 2u);
  EXPECT_EQ(FieldText(album.CddbId), IdOf(album, true));
  EXPECT_EQ(static_cast<std::uint32_t>(album.DiscId), ComputeDiscId(TocTableFromAlbum(album)));
  EXPECT_EQ(view.artist, "Кино");
  EXPECT_EQ(view.album, "Группа крови");
  EXPECT_EQ(view.rows[2], "Третья");
  EXPECT_EQ(FieldUtf8(album.Tracks[0].Title), "Первая");

  // After a restart, without any server, the album database has the titles.
  AlbumRecord again = ThreeTrackDisc();
  again.DiscId = album.DiscId;
  TagBuffer againTags;
  ASSERT_TRUE(LoadAlbumForDisc(folder, again, againTags));
  EXPECT_EQ(FieldUtf8(again.Tracks[1].Title), "Вторая");
  EXPECT_EQ(FieldUtf8(again.Artist), "Кино");
  EXPECT_EQ(FieldUtf8(againTags.Get(2, 3).Title), "Третья");
  EXPECT_EQ(FieldText(againTags.Get(2, 3).TrackNumber), "3");
}

TEST_F(Lookup, TopBitIdentifierIsStoredUnderANegativeName) {
  // Ten tracks whose start times have large digit sums set the top bit.
  const int seconds[11] = {599, 1199, 1799, 1899, 1999, 2399, 2499, 2699, 2799, 2899, 3000};
  album = AlbumRecord{};
  album.TrackCount = 10;
  for (int i = 0; i < 11; ++i)
    album.Tracks[i].Start = {static_cast<std::uint8_t>(seconds[i] / 60),
                             static_cast<std::uint8_t>(seconds[i] % 60), 0};
  std::uint32_t id = ComputeDiscId(TocTableFromAlbum(album));
  ASSERT_TRUE(id & 0x80000000u) << std::hex << id;
  LoopbackServer server([&](const std::string& request, Conn& c) {
    if (request.find("query") != std::string::npos)
      c.Send(HttpResponse("200 rock " + IdOf(album, false) + " A / B\r\n"));
    else
      c.Send(HttpResponse(Record(IdOf(album, false), "A / B")));
  });
  EXPECT_EQ(Run(server.Port()), LookupOutcome::Done);
  ExpectClean();
  EXPECT_LT(album.DiscId, 0);
  EXPECT_TRUE(FileExists(folder + std::to_string(album.DiscId) + ".dat"));
  AlbumRecord found{};
  TagBuffer t;
  EXPECT_TRUE(LoadAlbum(folder, album.DiscId, found, t));
  EXPECT_EQ(FieldText(found.Artist), "A");
}

TEST_F(Lookup, NoMatch) {
  LoopbackServer server(
      [&](const std::string&, Conn& c) { c.Send(HttpResponse("202 No match for disc\r\n")); });
  dialogs.ExpectMessage("В базе нет информации об этом диске.", kProgramTitle, MsgIcon::Information,
                        MsgButtons::Ok);
  EXPECT_EQ(Run(server.Port()), LookupOutcome::NoMatch);
  ExpectClean();
  EXPECT_FALSE(DirectoryExists(folder));
}

TEST_F(Lookup, ErrorStatusAsksToRetry) {
  std::atomic<int> queries{0};
  const std::string id = IdOf(album, false);
  LoopbackServer server([&](const std::string& request, Conn& c) {
    if (request.find("query") != std::string::npos) {
      if (++queries == 1) c.Send(HttpResponse("403 Database entry is corrupt\r\n"));
      else c.Send(HttpResponse("200 rock " + id + " A / B\r\n"));
    } else {
      c.Send(HttpResponse(Record(id, "A / B")));
    }
  });
  // The question stays as it was; the reason, naming the server, is under it.
  const std::string retry = "Не получилось установить соединение c сервером.\nПопробовать еще раз?";
  const std::string peer = "сервер 127.0.0.1:" + std::to_string(server.Port());
  dialogs.ExpectMessage(retry + "\n\nПричина: " + peer + " ответил: 403 Database entry is corrupt.",
                        kProgramTitle, MsgIcon::Information, MsgButtons::YesNo, IdYes);
  EXPECT_EQ(Run(server.Port()), LookupOutcome::Done);
  ExpectClean();
  EXPECT_EQ(queries.load(), 2);

  // A server that never answers, then No.
  LoopbackServer silent([&](const std::string&, Conn& c) { c.Wait(2000); });
  dialogs.ExpectMessage(retry + "\n\nПричина: сервер 127.0.0.1:" + std::to_string(silent.Port()) +
                            ": время ожидания ответа истекло.",
                        kProgramTitle, MsgIcon::Information, MsgButtons::YesNo, IdNo);
  EXPECT_EQ(Run(silent.Port()), LookupOutcome::Failed);
  ExpectClean();
}

TEST_F(Lookup, ChoosingAMatchOfAnotherDisc) {
  const std::string own = IdOf(album, false);
  LoopbackServer server([&](const std::string& request, Conn& c) {
    if (request.find("query") != std::string::npos) {
      c.Send(HttpResponse("211 Found inexact matches, list follows (until terminating `.')\r\n"
                          "rock " + own + " Right / One\r\n"
                          "misc 0badf00d \xD7\xF3\xE6\xEE\xE9 / Other\r\n"  // code page 1251
                          "jazz 12345678 Third / Entry\r\n.\r\n"));
    } else if (request.find("cmd=cddb+read+misc+0BADF00D&") != std::string::npos) {
      c.Send(HttpResponse(Record("0badf00d", "Чужой / Other")));
    }
  });
  chooser.answer = 1;
  dialogs.ExpectMessage("Сервер вернул не верный идентификатор диска: '" + own +
                            "' -> '0badf00d'.",
                        kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
  EXPECT_EQ(Run(server.Port()), LookupOutcome::Done);
  ExpectClean();
  ASSERT_EQ(chooser.seen.size(), 3u);
  EXPECT_EQ(chooser.seen[0], "Right / One");
  EXPECT_EQ(chooser.seen[1], "Чужой / Other");
  EXPECT_EQ(view.artist, "Чужой") << "the data is taken all the same";
}

TEST_F(Lookup, ReadFailureStillStores) {
  LoopbackServer server([&](const std::string& request, Conn& c) {
    if (request.find("query") != std::string::npos)
      c.Send(HttpResponse("200 rock " + IdOf(album, false) + " A / B\r\n"));
    else
      c.Send(HttpResponse("401 No such CD entry in database\r\n"));  // no terminator, closed
  });
  SetField(album.Artist, "Typed");
  dialogs.ExpectMessage("Не получилось прочитать данные об этом диске.\n\nПричина: сервер "
                        "127.0.0.1:" + std::to_string(server.Port()) +
                            " ответил: 401 No such CD entry in database.",
                        kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
  EXPECT_EQ(Run(server.Port()), LookupOutcome::ReadFailed);
  ExpectClean();
  AlbumRecord stored{};
  TagBuffer t;
  EXPECT_TRUE(LoadAlbum(folder, album.DiscId, stored, t));
  EXPECT_EQ(FieldText(stored.Artist), "Typed");
}

TEST_F(Lookup, ThroughAProxy) {
  LoopbackServer proxy([&](const std::string& request, Conn& c) {
    if (request.find("Proxy-Authorization: Basic " + Base64Encode("user:pw")) == std::string::npos) {
      c.Send("HTTP/1.0 407 Proxy Authentication Required\r\n\r\n");
      return;
    }
    if (request.find("query") != std::string::npos)
      c.Send(HttpResponse("200 rock " + IdOf(album, false) + " A / B\r\n"));
    else
      c.Send(HttpResponse(Record(IdOf(album, false), "Proxy / Album")));
  });
  settings.ProxyEnabled = 1;
  SetField(settings.CddbHost, "cddb.example");  // only the proxy is contacted
  SetField(settings.ProxyHost, "127.0.0.1");
  settings.ProxyPort = proxy.Port();
  SetField(settings.ProxyUser, "user");
  SetField(settings.ProxyPassword, "pw");
  EXPECT_EQ(Run(0), LookupOutcome::Done);
  ExpectClean();
  EXPECT_EQ(view.album, "Album");
  EXPECT_NE(proxy.Requests()[0].find("\r\nHost: cddb.example\r\n"), std::string::npos);
}

// Another source behind the lookup's seam: the lookup queries it, lets the
// user choose, has it apply the choice, and stores the album itself; a
// source that could not answer gets the retry question with its reason.
struct FakeSource : MetadataSource {
  AlbumRecord& album;
  std::vector<Answer> answers;  // one per query, in order
  int queries = 0;
  int applied = -1;
  std::uint32_t askedId = 0;
  std::uint32_t* askedOut = nullptr;  // outlives the source when given
  explicit FakeSource(AlbumRecord& a) : album(a) {}
  Answer Query(const CddbTocTable& toc, std::uint32_t discId,
               std::vector<std::string>& titles) override {
    askedId = discId;
    if (askedOut) *askedOut = discId;
    EXPECT_EQ(toc.count, 4);
    const Answer a = answers.at(static_cast<std::size_t>(queries++));
    if (a == Answer::Matches) titles = {"Первый / Один", "Второй / Два"};
    return a;
  }
  bool Apply(int index) override {
    applied = index;
    SetField(album.Artist, index == 1 ? "Second" : "First");
    return true;
  }
  std::string FailureReason() const override {
    return queries == 1 ? "источник: нет ответа" : "";
  }
};

TEST_F(Lookup, AnotherSourceBehindTheSeam) {
  FakeSource source(album);
  source.answers = {MetadataSource::Answer::Failed, MetadataSource::Answer::Matches};
  CddbLookup lookup(settings, album, tags, dialogs, chooser, &view, folder);
  lookup.SetSourceFactory([&] {
    // A proxy to the test's source, which outlives the lookup's attempts.
    struct Borrowed : MetadataSource {
      MetadataSource& s;
      explicit Borrowed(MetadataSource& x) : s(x) {}
      Answer Query(const CddbTocTable& t, std::uint32_t id, std::vector<std::string>& v) override {
        return s.Query(t, id, v);
      }
      bool Apply(int i) override { return s.Apply(i); }
      std::string FailureReason() const override { return s.FailureReason(); }
    };
    return std::make_unique<Borrowed>(source);
  });
  dialogs.ExpectMessage("Не получилось установить соединение c сервером.\nПопробовать еще раз?"
                        "\n\nПричина: источник: нет ответа.",
                        kProgramTitle, MsgIcon::Information, MsgButtons::YesNo, IdYes);
  chooser.answer = 1;
  EXPECT_EQ(lookup.Run(), LookupOutcome::Done);
  ExpectClean();
  EXPECT_EQ(source.queries, 2);
  EXPECT_EQ(source.askedId, ComputeDiscId(TocTableFromAlbum(album)));
  EXPECT_EQ(chooser.seen, (std::vector<std::string>{"Первый / Один", "Второй / Два"}));
  EXPECT_EQ(source.applied, 1);
  AlbumRecord stored{};
  TagBuffer t;
  ASSERT_TRUE(LoadAlbum(folder, album.DiscId, stored, t));
  EXPECT_EQ(FieldText(stored.Artist), "Second");
}

TEST_F(Lookup, TheDrivesTableGivesTheIdentifierTheDiscWasReadUnder) {
  // The drive's answer for the same three tracks, whose header claims ten
  // tracks while its data length holds three and the lead-out: the disc is
  // read (and looked up in the album database) as three tracks, and the
  // album is stored under that identifier too.
  std::uint8_t answer[kTocLength] = {};
  answer[1] = 2 + 8 * 4;
  answer[2] = 1;
  answer[3] = 10;
  for (int i = 0; i < 4; ++i) {
    std::uint8_t* d = answer + 4 + 8 * i;
    d[1] = 0x10;
    d[2] = static_cast<std::uint8_t>(i < 3 ? i + 1 : 0xAA);
    d[5] = album.Tracks[i].Start.minute;
    d[6] = album.Tracks[i].Start.second;
    d[7] = album.Tracks[i].Start.frame;
  }
  const auto toc = ParseTocAnswer(answer, sizeof answer);
  ASSERT_TRUE(toc);
  CddbLookup lookup(settings, album, tags, dialogs, chooser, &view, folder);
  lookup.SetDiscToc(*toc);
  lookup.SetSourceFactory([&] {
    auto source = std::make_unique<FakeSource>(album);
    source->answers = {MetadataSource::Answer::Matches};
    return source;
  });
  EXPECT_EQ(lookup.Run(), LookupOutcome::Done);
  ExpectClean();
  EXPECT_EQ(static_cast<std::uint32_t>(album.DiscId), CddbDiscId(*toc));
  EXPECT_EQ(album.DiscId & 0xFF, 3);
  AlbumRecord stored{};
  TagBuffer t;
  EXPECT_TRUE(LoadAlbum(folder, album.DiscId, stored, t));
}

// An enhanced CD: the server is asked for the disc the drive's table names
// (not its corrected rows); the album goes under that identifier, unless the
// disc was found stored under the one of its rows, whose file it keeps.
TEST_F(Lookup, AnEnhancedCdIsAskedForByTheDrivesTable) {
  std::uint8_t answer[kTocLength] = {};
  answer[1] = 2 + 8 * 4;
  answer[2] = 1;
  answer[3] = 3;
  const int frames[4] = {150, 150 + 4500, 150 + 10500 + 11400, 150 + 10500 + 11400 + 900};
  for (int i = 0; i < 4; ++i) {
    std::uint8_t* d = answer + 4 + 8 * i;
    d[1] = static_cast<std::uint8_t>(0x10 | (i >= 2 ? 4 : 0));
    d[2] = static_cast<std::uint8_t>(i < 3 ? i + 1 : 0xAA);
    d[5] = static_cast<std::uint8_t>(frames[i] / 4500);
    d[6] = static_cast<std::uint8_t>(frames[i] / 75 % 60);
    d[7] = static_cast<std::uint8_t>(frames[i] % 75);
  }
  const auto toc = ParseTocAnswer(answer, sizeof answer);
  ASSERT_TRUE(toc);
  for (bool foundUnderRows : {false, true}) {
    SCOPED_TRACE(foundUnderRows);
    album = AlbumRecord{};
    FillTracksFromToc(*toc, album, false);
    const std::uint32_t rowsId = ComputeDiscId(TocTableFromAlbum(album));
    ASSERT_NE(rowsId, CddbDiscId(*toc));
    if (foundUnderRows) album.DiscId = SignedDiscId(rowsId);
    std::uint32_t asked = 0;
    CddbLookup lookup(settings, album, tags, dialogs, chooser, &view, folder);
    lookup.SetDiscToc(*toc);
    lookup.SetSourceFactory([&] {
      auto source = std::make_unique<FakeSource>(album);
      source->answers = {MetadataSource::Answer::Matches};
      source->askedOut = &asked;
      return source;
    });
    EXPECT_EQ(lookup.Run(), LookupOutcome::Done);
    EXPECT_EQ(asked, CddbDiscId(*toc));
    char upper[16];
    std::snprintf(upper, sizeof upper, "%08X", CddbDiscId(*toc));
    EXPECT_EQ(FieldText(album.CddbId), upper);
    EXPECT_EQ(static_cast<std::uint32_t>(album.DiscId), foundUnderRows ? rowsId : CddbDiscId(*toc));
  }
}

TEST(CddbCommand, TakesMatchKAndStores) {
  TempFolder tmp;
  SettingsRecord settings{};
  SetField(settings.CddbHost, "127.0.0.1");
  SetField(settings.CddbPath, "/cgi");
  AlbumRecord album = ThreeTrackDisc();
  const std::string own = IdOf(album, false);
  LoopbackServer server([&](const std::string& request, Conn& c) {
    if (request.find("query") != std::string::npos)
      c.Send(HttpResponse("211 list\r\nrock " + own + " First / One\r\nblues " + own +
                          " Second / Two\r\n.\r\n"));
    else if (request.find("read+blues+") != std::string::npos)
      c.Send(HttpResponse(Record(own, "Second / Two")));
  });
  CddbCommandOptions options;
  options.match = 2;
  options.serverPort = server.Port();
  options.limits.waitMs = 400;
  TagBuffer tags;
  CddbCommandResult r = RunCddbCommand(settings, album, tags, AlbumFolder(tmp.Path()), options);
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(r.messages.empty());
  EXPECT_EQ(r.matches.size(), 2u);
  EXPECT_EQ(CddbCommandLines(r),
            (std::vector<std::string>{"Second", "Two", "Первая", "Вторая", "Третья"}));
  EXPECT_EQ(server.Requests()[0].rfind("GET /cgi?cmd=cddb+query+", 0), 0u);

  // What MusicBrainz said of the disc before does not outlive a CDDB read.
  {
    AlbumRecord disc = ThreeTrackDisc();
    TagBuffer discTags;
    RecordTexts texts;
    texts.Put("MusicBrainzAlbumId", "6c4f766f-3351-4c10-a53d-b119452c27b2");
    TrackTags t = discTags.GetTags(0, 3);
    t.Texts.Put("MusicBrainzTrackId", "9e1bd108-5e69-41cf-b744-ff7731293403");
    discTags.SetTags(0, 3, t);
    CddbCommandOptions withTexts = options;
    withTexts.albumTexts = &texts;
    ASSERT_TRUE(RunCddbCommand(settings, disc, discTags, AlbumFolder(tmp.Path() + "/mb"), withTexts).ok);
    EXPECT_FALSE(texts.Find("MusicBrainzAlbumId"));
    EXPECT_EQ(discTags.GetTags(0, 3).Info("MusicBrainzTrackId"), "");
    EXPECT_EQ(FieldText(disc.Artist), "Second");
  }

  // A match number beyond the list reads nothing.
  AlbumRecord other = ThreeTrackDisc();
  TagBuffer otherTags;
  options.match = 5;
  r = RunCddbCommand(settings, other, otherTags, AlbumFolder(tmp.Path() + "/x"), options);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.outcome, LookupOutcome::Cancelled);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.titles[0], "Track1");

  // An unreachable server: the retry question is answered no.
  int port;
  { LoopbackServer gone(nullptr); port = gone.Port(); }
  options.serverPort = port;
  r = RunCddbCommand(settings, other, otherTags, AlbumFolder(tmp.Path() + "/x"), options);
  EXPECT_EQ(r.outcome, LookupOutcome::Failed);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].rfind("Не получилось установить соединение c сервером.\nПопробовать еще раз?", 0), 0u);
  // The command line gets the reason alone.
  EXPECT_EQ(r.failure, "сервер 127.0.0.1:" + std::to_string(port) + ": соединение отклонено");
}

}  // namespace
}  // namespace sonarvex
