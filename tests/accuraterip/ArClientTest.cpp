// The AccurateRip client against a loopback HTTP server.
#include <gtest/gtest.h>

#include <chrono>

#include "LoopbackServer.h"
#include "accuraterip/ArClient.h"
#include "platform/IniStore.h"

namespace sonarvex {
namespace {

using test::LoopbackServer;
using Conn = LoopbackServer::Connection;

const ArDiscIds kDisc{2, 0x00001234, 0x00005678, 0x0a000302};

std::string EntryBytes(const ArDiscIds& ids, std::uint8_t confidence, std::uint32_t crc1,
                       std::uint32_t crc2) {
  std::string s(1, static_cast<char>(ids.trackCount));
  auto put = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  put(ids.id1);
  put(ids.id2);
  put(ids.cddb);
  for (std::uint32_t crc : {crc1, crc2}) {
    s.push_back(static_cast<char>(confidence));
    put(crc);
    put(0);
  }
  return s;
}

ArServer Local(const LoopbackServer& server) { return {"127.0.0.1", server.Port()}; }

TEST(ArClientTest, FetchesTheEntryAtItsAddress) {
  const std::string body = EntryBytes(kDisc, 7, 0xDEADBEEF, 0x01020304);
  LoopbackServer server([&](const std::string&, Conn& c) { c.Send(test::HttpResponse(body)); });
  ArClient client(Local(server));
  int pumped = 0;
  client.SetPump([&] { ++pumped; });
  const ArFetch f = client.Fetch(kDisc);
  ASSERT_EQ(f.outcome, ArFetch::Outcome::Found) << f.message;
  ASSERT_EQ(f.submissions.size(), 1u);
  EXPECT_EQ(f.submissions[0].tracks[0].crc, 0xDEADBEEFu);
  EXPECT_EQ(VerifyArTrack(f.submissions, kDisc, 2, 0, 0x01020304).confidence, 7);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].rfind("GET /accuraterip/4/3/2/dBAR-002-00001234-00005678-0a000302.bin HTTP/1.0\r\n", 0), 0u)
      << requests[0];
  EXPECT_NE(requests[0].find("\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n"),
            std::string::npos);
}

TEST(ArClientTest, ChunkedAndTrickledAnswersAreWhole) {
  const std::string body = EntryBytes(kDisc, 3, 1, 2);
  LoopbackServer server([&](const std::string&, Conn& c) {
    char size[16];
    std::snprintf(size, sizeof size, "%zx", body.size());
    c.Trickle("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + std::string(size) +
                  "\r\n" + body + "\r\n0\r\n\r\n",
              7, 2);
  });
  const ArFetch f = ArClient(Local(server)).Fetch(kDisc);
  ASSERT_EQ(f.outcome, ArFetch::Outcome::Found) << f.message;
  EXPECT_EQ(f.submissions[0].tracks[1].crc, 2u);
}

// A connection that closes before the announced Content-Length arrived holds
// an entry cut short: parsed as it stands, its later submissions (and their
// confidences) would be missing and matches would read as mismatches.
TEST(ArClientTest, AnAnswerCutShortIsAFailureNotAShorterEntry) {
  const std::string body = EntryBytes(kDisc, 5, 0x11111111, 0x22222222) +
                           EntryBytes(kDisc, 9, 0x33333333, 0x44444444);
  ASSERT_EQ(body.size(), 62u);
  LoopbackServer cut([&](const std::string&, Conn& c) {
    c.Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
           body.substr(0, 31));
  });
  ArFetch f = ArClient(Local(cut)).Fetch(kDisc);
  EXPECT_EQ(f.outcome, ArFetch::Outcome::Failed);
  EXPECT_NE(f.message.find("ответ оборван (31 байт из 62)"), std::string::npos) << f.message;

  // The whole entry under the same header is found, and bytes past the
  // announced length are not taken for a further submission.
  LoopbackServer whole([&](const std::string&, Conn& c) {
    c.Send("HTTP/1.0 200 OK\r\ncontent-length:  " + std::to_string(body.size()) + "\r\n\r\n" + body +
           "garbage");
  });
  f = ArClient(Local(whole)).Fetch(kDisc);
  ASSERT_EQ(f.outcome, ArFetch::Outcome::Found) << f.message;
  ASSERT_EQ(f.submissions.size(), 2u);
  EXPECT_EQ(VerifyArTrack(f.submissions, kDisc, 2, 0, 0x44444444).confidence, 9);

  LoopbackServer odd([&](const std::string&, Conn& c) {
    c.Send("HTTP/1.0 200 OK\r\nContent-Length: 6x\r\n\r\n" + body);
  });
  EXPECT_EQ(ArClient(Local(odd)).Fetch(kDisc).outcome, ArFetch::Outcome::Failed);
}

TEST(ArClientTest, ADiscNotInTheDatabase) {
  LoopbackServer server([](const std::string&, Conn& c) {
    c.Send("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found");
  });
  EXPECT_EQ(ArClient(Local(server)).Fetch(kDisc).outcome, ArFetch::Outcome::NotFound);
}

TEST(ArClientTest, BoundsAndFailuresSayWhatWentWrong) {
  // Larger than the limit: refused before it is all read.
  LoopbackServer big([](const std::string&, Conn& c) {
    c.Send(test::HttpResponse(std::string((1u << 20) + 10, '\x01')));
  });
  ArFetch f = ArClient(Local(big)).Fetch(kDisc);
  EXPECT_EQ(f.outcome, ArFetch::Outcome::Failed);
  EXPECT_NE(f.message.find("ответ больше 1048576 байт"), std::string::npos) << f.message;

  // A server that never answers: the total limit ends the wait.
  LoopbackServer silent([](const std::string&, Conn& c) { c.Wait(5000); });
  ArLimits quick;
  quick.totalMs = 300;
  const auto start = std::chrono::steady_clock::now();
  f = ArClient(Local(silent), quick).Fetch(kDisc);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(f.outcome, ArFetch::Outcome::Failed);
  EXPECT_NE(f.message.find("время ожидания истекло"), std::string::npos) << f.message;
  EXPECT_LT(took, std::chrono::milliseconds(3000));

  // Another status and an entry that does not parse.
  LoopbackServer error([](const std::string&, Conn& c) {
    c.Send("HTTP/1.0 500 Internal Server Error\r\n\r\n");
  });
  f = ArClient(Local(error)).Fetch(kDisc);
  EXPECT_EQ(f.outcome, ArFetch::Outcome::Failed);
  EXPECT_NE(f.message.find("500"), std::string::npos);
  LoopbackServer broken([](const std::string&, Conn& c) { c.Send(test::HttpResponse("\x02short")); });
  f = ArClient(Local(broken)).Fetch(kDisc);
  EXPECT_EQ(f.outcome, ArFetch::Outcome::Failed);
  EXPECT_NE(f.message.find("обрывается"), std::string::npos) << f.message;

  // Nobody listening.
  int port = 0;
  { LoopbackServer gone([](const std::string&, Conn&) {}); port = gone.Port(); }
  f = ArClient({"127.0.0.1", port}).Fetch(kDisc);
  EXPECT_EQ(f.outcome, ArFetch::Outcome::Failed);
  EXPECT_NE(f.message.find("127.0.0.1:" + std::to_string(port)), std::string::npos) << f.message;
}

TEST(ArServerTest, ServerTexts) {
  ArServer s;
  ASSERT_TRUE(ParseArServer("www.accuraterip.com", s));
  EXPECT_EQ(s.host, "www.accuraterip.com");
  EXPECT_EQ(s.port, 80);
  ASSERT_TRUE(ParseArServer("127.0.0.1:8080", s));
  EXPECT_EQ(s.host, "127.0.0.1");
  EXPECT_EQ(s.port, 8080);
  ASSERT_TRUE(ParseArServer("[::1]:81", s));
  EXPECT_EQ(s.host, "::1");
  EXPECT_EQ(s.port, 81);
  for (const char* bad : {"", ":80", "host:", "host:0", "host:65536", "host:8x", "::1", "a b", "[::1"})
    EXPECT_FALSE(ParseArServer(bad, s)) << bad;

  IniStore ini("/nonexistent/sonarvex.ini");
  EXPECT_FALSE(ArServerFrom(ini, s));
  ini.Set(kArIniSection, kArIniServerKey, "");
  EXPECT_FALSE(ArServerFrom(ini, s));
  ini.Set(kArIniSection, kArIniServerKey, "db.example:8000");
  ASSERT_TRUE(ArServerFrom(ini, s));
  EXPECT_EQ(s.port, 8000);
}

}  // namespace
}  // namespace sonarvex
