// The front cover of a release: reading a picture's header, the Cover Art
// Archive client against a loopback server (redirects, a release without a
// cover, and every way an answer can fail), and the picture kept with the
// album in the album database.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "LoopbackServer.h"
#include "TempFolder.h"
#include "metadata/AlbumCover.h"
#include "metadata/CoverArtClient.h"
#include "platform/Version.h"

namespace sonarvex {
namespace {

using test::LoopbackServer;
using Conn = LoopbackServer::Connection;

std::string CoverData(const std::string& name) {
  std::ifstream in(std::string(SONARVEX_SOURCE_DIR) + "/tests/data/cover/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::string Answer(int status, const std::string& type, const std::string& body,
                   const std::string& extra = "") {
  return "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Type: " + type +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n" + extra +
         "\r\n" + body;
}

std::string Server(const LoopbackServer& s) { return "http://127.0.0.1:" + std::to_string(s.Port()); }

CoverArtLimits Quick() {
  CoverArtLimits l;
  l.waitMs = 1000;
  l.totalMs = 3000;
  return l;
}

const std::string kRelease = "b84ee12a-09ef-421b-82de-0441a926375b";

TEST(CoverImageTest, ReadsTheSizeAndDepthOfJpegAndPngAndNothingElse) {
  CoverImage jpeg;
  ASSERT_TRUE(ReadCoverImage(Bytes(CoverData("small.jpg")), jpeg));
  EXPECT_EQ(jpeg.mime, "image/jpeg");
  EXPECT_EQ(jpeg.width, 40u);
  EXPECT_EQ(jpeg.height, 30u);
  EXPECT_EQ(jpeg.depth, 24u);
  EXPECT_STREQ(jpeg.Extension(), "jpg");
  CoverImage png;
  ASSERT_TRUE(ReadCoverImage(Bytes(CoverData("small.png")), png));
  EXPECT_EQ(png.mime, "image/png");
  EXPECT_EQ(png.width, 40u);
  EXPECT_EQ(png.height, 30u);
  EXPECT_EQ(png.depth, 24u);
  EXPECT_STREQ(png.Extension(), "png");

  CoverImage none;
  const std::string jpg = CoverData("small.jpg");
  for (const std::string& bad :
       {std::string("<html>Not Found</html>"), std::string("GIF89a\x01\x00\x01\x00", 10),
        jpg.substr(0, 20), std::string("\xFF\xD8\xFF\xD9", 4), CoverData("small.png").substr(0, 20),
        std::string()}) {
    EXPECT_FALSE(ReadCoverImage(Bytes(bad), none));
    EXPECT_TRUE(none.Empty());
  }
}

TEST(CoverArtClientTest, FetchesTheFrontCoverThroughARedirect) {
  const std::string jpg = CoverData("small.jpg");
  LoopbackServer server([&](const std::string& request, Conn& c) {
    if (request.rfind("GET /release/", 0) == 0)
      c.Send(Answer(307, "text/plain", "", "Location: /images/front.jpg\r\n"));
    else
      c.Send(Answer(200, "image/jpeg", jpg));
  });
  CoverArtClient client(Server(server) + "/", Quick());
  CoverImage image;
  ASSERT_EQ(client.FetchFront(kRelease, 500, image), CoverArtClient::Answer::Found)
      << client.FailureReason();
  EXPECT_EQ(image.bytes, Bytes(jpg));
  EXPECT_EQ(image.width, 40u);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")),
            "GET /release/" + kRelease + "/front-500 HTTP/1.1");
  EXPECT_NE(requests[0].find("\r\nUser-Agent: Sonarvex/" SONARVEX_VERSION), std::string::npos);
  EXPECT_EQ(requests[1].substr(0, requests[1].find("\r\n")), "GET /images/front.jpg HTTP/1.1");

  // The other sizes, the original, and a size the archive does not make.
  for (const auto& [size, path] : std::vector<std::pair<int, std::string>>{
           {250, "/front-250"}, {1200, "/front-1200"}, {0, "/front"}, {333, "/front-500"}}) {
    LoopbackServer s([&](const std::string&, Conn& c) { c.Send(Answer(200, "image/png", CoverData("small.png"))); });
    CoverArtClient sized(Server(s), Quick());
    ASSERT_EQ(sized.FetchFront(kRelease, size, image), CoverArtClient::Answer::Found);
    EXPECT_EQ(image.mime, "image/png");
    const auto r = s.Requests();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].substr(0, r[0].find(" HTTP/")), "GET /release/" + kRelease + path);
  }
}

TEST(CoverArtClientTest, AReleaseWithoutACoverIsNoFailure) {
  LoopbackServer server([](const std::string&, Conn& c) {
    c.Send(Answer(404, "text/html", "<html>Not Found</html>"));
  });
  CoverArtClient client(Server(server), Quick());
  CoverImage image;
  EXPECT_EQ(client.FetchFront(kRelease, 500, image), CoverArtClient::Answer::None);
  EXPECT_EQ(client.FailureReason(), "");
  EXPECT_TRUE(image.Empty());
}

TEST(CoverArtClientTest, FailuresNameTheServerAndTheCause) {
  const std::string jpg = CoverData("small.jpg");
  auto failure = [&](LoopbackServer::Handler handler, CoverArtLimits limits = Quick()) {
    LoopbackServer server(std::move(handler));
    CoverArtClient client(Server(server), limits);
    CoverImage image;
    EXPECT_EQ(client.FetchFront(kRelease, 500, image), CoverArtClient::Answer::Failed);
    EXPECT_TRUE(image.Empty());
    const std::string reason = client.FailureReason();
    EXPECT_EQ(reason.rfind("сервер Cover Art Archive 127.0.0.1:" + std::to_string(server.Port()), 0),
              0u)
        << reason;
    return reason;
  };
  // An HTML page with status 200 (a portal, a proxy's notice).
  EXPECT_NE(failure([](const std::string&, Conn& c) {
              c.Send(Answer(200, "text/html", "<html><body>Login</body></html>"));
            }).find("не является изображением JPEG или PNG"),
            std::string::npos);
  // A picture of another type is refused as well.
  EXPECT_NE(failure([](const std::string&, Conn& c) {
              c.Send(Answer(200, "image/gif", std::string("GIF89a\x01\x00\x01\x00", 10)));
            }).find("не является изображением"),
            std::string::npos);
  EXPECT_NE(failure([](const std::string&, Conn& c) { c.Send(Answer(503, "text/plain", "")); })
                .find("HTTP 503"),
            std::string::npos);
  // Slow: no data within the wait.
  EXPECT_NE(failure([](const std::string&, Conn& c) { c.Wait(3000); }).find("время ожидания"),
            std::string::npos);
  // A body beyond the bound, announced or not.
  CoverArtLimits small = Quick();
  small.maxImageBytes = 1000;
  EXPECT_NE(failure([&](const std::string&, Conn& c) { c.Send(Answer(200, "image/jpeg", jpg)); },
                    small)
                .find("изображение больше 1 КБ"),
            std::string::npos);
  CoverArtLimits tiny = Quick();
  tiny.maxImageBytes = 100 * 1024;
  const std::string huge = jpg + std::string(300 * 1024, 'x');
  EXPECT_NE(failure([&](const std::string&, Conn& c) {
              c.Send("HTTP/1.0 200 OK\r\nContent-Type: image/jpeg\r\n\r\n" + huge);
            }, tiny).find("больше 100 КБ"),
            std::string::npos);

  // Nobody listening.
  int port = 0;
  {
    LoopbackServer gone([](const std::string&, Conn&) {});
    port = gone.Port();
  }
  CoverArtClient down("http://127.0.0.1:" + std::to_string(port), Quick());
  CoverImage image;
  EXPECT_EQ(down.FetchFront(kRelease, 500, image), CoverArtClient::Answer::Failed);
  EXPECT_EQ(down.FailureReason(),
            "сервер Cover Art Archive 127.0.0.1:" + std::to_string(port) + ": соединение отклонено");
  // What cannot be asked for at all.
  CoverArtClient bad("ftp://caa.lan", Quick());
  EXPECT_EQ(bad.FetchFront(kRelease, 500, image), CoverArtClient::Answer::Failed);
  EXPECT_EQ(bad.FailureReason(), "неверный адрес сервера Cover Art Archive: ftp://caa.lan");
  EXPECT_EQ(down.FetchFront("../../etc/passwd", 500, image), CoverArtClient::Answer::Failed);
  EXPECT_EQ(down.FailureReason(), "неверный идентификатор релиза MusicBrainz");
}

TEST(AlbumCoverTest, AFetchedCoverIsKeptWithTheAlbumAndUsedWithoutTheNetwork) {
  test::TempFolder folder;
  const std::string albums = folder / "albums";
  const std::string jpg = CoverData("small.jpg");
  LoopbackServer server([&](const std::string&, Conn& c) { c.Send(Answer(200, "image/jpeg", jpg)); });
  CoverArtClient client(Server(server), Quick());
  // Not asked for: nothing stored, nothing fetched.
  AlbumCoverResult r = FindAlbumCover(albums, -12345, kRelease, false, client, 500);
  EXPECT_FALSE(r.image);
  EXPECT_TRUE(server.Requests().empty());

  r = FindAlbumCover(albums, -12345, kRelease, true, client, 500);
  ASSERT_TRUE(r.image) << r.failure;
  EXPECT_TRUE(r.fetched);
  EXPECT_EQ(r.failure, "");
  const std::string stored = AlbumCoverPath(albums, -12345, kRelease, "jpg");
  EXPECT_EQ(stored, albums + "/-12345." + kRelease + ".jpg");
  EXPECT_EQ(std::filesystem::file_size(stored), jpg.size());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(albums), {}), 1)
      << "no temporary file is left";

  // The server gone: the stored picture serves.
  CoverArtClient down("http://127.0.0.1:1", Quick());
  r = FindAlbumCover(albums, -12345, kRelease, true, down, 500);
  ASSERT_TRUE(r.image);
  EXPECT_FALSE(r.fetched);
  EXPECT_EQ(r.image->bytes, Bytes(jpg));
  EXPECT_EQ(server.Requests().size(), 1u);

  // Another release of the disc: fetched (a PNG now), the old picture goes;
  // another disc's picture stays.
  ASSERT_TRUE(StoreAlbumCover(albums, 777, kRelease, *r.image, nullptr));
  const std::string other = "6c4f766f-3351-4c10-a53d-b119452c27b2";
  LoopbackServer pngServer([&](const std::string&, Conn& c) {
    c.Send(Answer(200, "image/png", CoverData("small.png")));
  });
  CoverArtClient pngClient(Server(pngServer), Quick());
  r = FindAlbumCover(albums, -12345, other, true, pngClient, 500);
  ASSERT_TRUE(r.image) << r.failure;
  EXPECT_TRUE(std::filesystem::exists(AlbumCoverPath(albums, -12345, other, "png")));
  EXPECT_FALSE(std::filesystem::exists(stored));
  EXPECT_TRUE(std::filesystem::exists(AlbumCoverPath(albums, 777, kRelease, "jpg")));

  // A failure of the archive says why; no picture.
  r = FindAlbumCover(albums, 5, kRelease, true, down, 500);
  EXPECT_FALSE(r.image);
  EXPECT_NE(r.failure.find("сервер Cover Art Archive 127.0.0.1:1"), std::string::npos) << r.failure;
  // Without a release there is nothing to look for.
  r = FindAlbumCover(albums, 5, "", true, client, 500);
  EXPECT_FALSE(r.image);
  EXPECT_EQ(r.failure, "");
}

}  // namespace
}  // namespace sonarvex
