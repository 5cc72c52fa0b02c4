// The command line's lookups: the disc's CD-Text ("lookup --source cdtext"),
// every source at once ("lookup"), and the automatic lookup before a rip of
// a disc the album database does not know (MusicBrainz on a loopback server,
// then the disc's CD-Text), with its notices and --no-lookup.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "LoopbackServer.h"
#include "MusicBrainzTesting.h"
#include "drive/virtual/DemoDisc.h"
#include "metadata/AlbumDatabase.h"
#include "platform/Files.h"
#include "platform/IniStore.h"
#include "records/SettingsRecord.h"
#include "records/TextFields.h"
#include "tests/cli/CliRunner.h"

namespace sonarvex {
namespace {

using test::LoopbackServer;
using Conn = LoopbackServer::Connection;

// A loopback port nothing listens on.
int ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  ::close(fd);
  return ntohs(a.sin_port);
}

class CliLookup : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/sonarvex-cli-lookup-XXXXXX";
    home_ = std::string(mkdtemp(tmpl)) + "/";
    MakeDirectories(home_ + "music");
    test::WriteSettingsFile(home_, test::FirstProfile(home_ + "music/"));
    // No network but the test's own: MusicBrainz on a closed loopback port
    // unless a test starts a server.
    SetMusicBrainz("http://127.0.0.1:" + std::to_string(ClosedPort()));
    // Three tracks of two seconds with CD-Text lines.
    WriteFileAtomically(home_ + "titled.bin", std::string(3 * 150 * 2352, '\0'));
    WriteFileAtomically(
        home_ + "titled.cue",
        "PERFORMER \"The Band\"\nTITLE \"Café Album\"\nFILE \"titled.bin\" BINARY\n"
        "  TRACK 01 AUDIO\n    TITLE \"Première\"\n    INDEX 01 00:00:00\n"
        "  TRACK 02 AUDIO\n    TITLE \"Second\"\n    PERFORMER \"Guest\"\n    INDEX 01 00:02:00\n"
        "  TRACK 03 AUDIO\n    TITLE \"Third\"\n    INDEX 01 00:04:00\n");
    // The same tracks without them.
    WriteFileAtomically(home_ + "plain.cue",
                        "FILE \"titled.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                        "  TRACK 02 AUDIO\n    INDEX 01 00:02:00\n  TRACK 03 AUDIO\n    INDEX 01 00:04:00\n");
    // Four audio tracks and a data track, its CD-Text "Sonarvex", "Demo".
    std::string error;
    demo_ = WriteDemoDisc(home_ + "images", &error);
    ASSERT_FALSE(demo_.empty()) << error;
  }
  void TearDown() override { std::filesystem::remove_all(home_); }

  void SetMusicBrainz(const std::string& server) {
    IniStore ini(home_ + "setting/sonarvex.ini");
    ini.Load();
    ini.Set("MusicBrainz", "Server", server);
    ASSERT_TRUE(ini.Save());
  }
  int Run(const std::string& image, std::vector<std::string> args, bool autoLookup = true) {
    std::vector<std::string> all = {"--home", home_, "--image", image};
    all.insert(all.end(), args.begin(), args.end());
    return test::RunCliIn(home_, all, out_, err_, autoLookup);
  }
  std::string Titled() const { return home_ + "titled.cue"; }
  std::string Plain() const { return home_ + "plain.cue"; }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(out_.str());
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }
  std::vector<std::string> Music() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(home_ + "music"))
      if (e.path().extension() == ".wav") names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  int AlbumFiles() const {
    int n = 0;
    if (!DirectoryExists(home_ + "setting/albums")) return 0;
    for (const auto& e : std::filesystem::directory_iterator(home_ + "setting/albums"))
      n += e.path().extension() == ".dat";
    return n;
  }

  std::string home_, demo_;
  std::ostringstream out_, err_;
};

TEST_F(CliLookup, TheDiscsCdTextNamesItWithoutANetwork) {
  ASSERT_EQ(Run(Titled(), {"lookup", "--source", "cdtext"}), 0) << err_.str();
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 5u) << out_.str();
  EXPECT_EQ(lines[0], "The Band");
  EXPECT_EQ(lines[1], "Café Album");
  EXPECT_EQ(lines[2], "Première");
  EXPECT_EQ(lines[3], "Second");
  EXPECT_EQ(lines[4], "Third");
  EXPECT_EQ(AlbumFiles(), 1);

  // A disc without CD-Text says so and stores nothing.
  EXPECT_EQ(Run(Plain(), {"lookup", "--source", "cdtext"}), 1);
  EXPECT_NE(err_.str().find("на диске нет CD-Text"), std::string::npos) << err_.str();
  EXPECT_EQ(AlbumFiles(), 1);
}


// (The test profile names files "N - title", N counted from 0.)
// Before a rip a disc the album database does not know is looked up: with
// MusicBrainz unreachable and no CDDB server, its CD-Text names the files;
// the unreachable server is said in a line; the rip goes on.
TEST_F(CliLookup, ARipNamesItsFilesFromTheCdTextWhenNoServerAnswers) {
  ASSERT_EQ(Run(Titled(), {"rip", "--format", "wav"}), 0) << err_.str();
  EXPECT_EQ(Music(), (std::vector<std::string>{"0 - Première.wav", "1 - Second.wav", "2 - Third.wav"}));
  EXPECT_NE(err_.str().find("Названия диска взяты из CD-Text (MusicBrainz: "), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("127.0.0.1"), std::string::npos) << err_.str();
  EXPECT_EQ(AlbumFiles(), 1);
}

TEST_F(CliLookup, NoLookupOrTheSettingKeepTheDefaultNames) {
  ASSERT_EQ(Run(Titled(), {"rip", "--format", "wav", "--no-lookup"}), 0) << err_.str();
  EXPECT_EQ(Music(), (std::vector<std::string>{"0 - Track1.wav", "1 - Track2.wav", "2 - Track3.wav"}));
  EXPECT_EQ(AlbumFiles(), 0);
  std::filesystem::remove_all(home_ + "music");
  MakeDirectories(home_ + "music");
  {
    IniStore ini(home_ + "setting/sonarvex.ini");
    ini.Load();
    ini.Set("Lookup", "Auto", "0");
    ASSERT_TRUE(ini.Save());
  }
  ASSERT_EQ(Run(Titled(), {"rip", "--format", "wav"}), 0) << err_.str();
  EXPECT_EQ(Music(), (std::vector<std::string>{"0 - Track1.wav", "1 - Track2.wav", "2 - Track3.wav"}));
  EXPECT_EQ(err_.str().find("CD-Text"), std::string::npos) << err_.str();
}

// MusicBrainz on loopback answers with a recorded release of four tracks:
// the files of the demo disc's four audio tracks are named from it (before
// its own CD-Text), and the stored album is not looked up again.
TEST_F(CliLookup, ARipOfAnUnknownDiscIsNamedFromTheMusicBrainzRelease) {
  LoopbackServer server([](const std::string& request, Conn& c) {
    if (request.find("GET /ws/2/discid/") == 0)
      c.Send(test::JsonResponse(200, test::DiscIdAnswer(test::MusicBrainzData("release_multidisc.json"))));
    else
      c.Send(test::JsonResponse(404, test::kNotFoundBody));
  });
  SetMusicBrainz("http://127.0.0.1:" + std::to_string(server.Port()));
  ASSERT_EQ(Run(demo_, {"rip", "--format", "wav"}), 0) << err_.str();
  EXPECT_EQ(err_.str().find("Сведения"), std::string::npos) << err_.str();
  const auto names = Music();
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(names[1], "1 - Bye-Bye Butterfly.wav");
  EXPECT_EQ(names[3], "3 - ケアレス -Instrumental-.wav");
  const std::size_t asked = server.Requests().size();
  EXPECT_EQ(asked, 1u);
  EXPECT_EQ(AlbumFiles(), 1);

  std::filesystem::remove_all(home_ + "music");
  MakeDirectories(home_ + "music");
  ASSERT_EQ(Run(demo_, {"rip", "--format", "wav"}), 0) << err_.str();
  EXPECT_EQ(server.Requests().size(), asked);
  EXPECT_EQ(Music(), names);
}

// A server that is down or answers garbage, and no CD-Text: a line naming
// the server and the cause; the files keep their default names.
TEST_F(CliLookup, AServerDownOrAnsweringGarbageIsALineAndTheRipGoesOn) {
  ASSERT_EQ(Run(Plain(), {"rip", "--format", "wav"}), 0) << err_.str();
  EXPECT_EQ(Music(), (std::vector<std::string>{"0 - Track1.wav", "1 - Track2.wav", "2 - Track3.wav"}));
  const std::string down = err_.str();
  EXPECT_NE(down.find("Сведения о диске не найдены: MusicBrainz: "), std::string::npos) << down;
  EXPECT_NE(down.find("127.0.0.1"), std::string::npos) << down;
  EXPECT_NE(down.find("CD-Text: на диске нет CD-Text"), std::string::npos) << down;
  EXPECT_EQ(AlbumFiles(), 0);

  LoopbackServer server([](const std::string&, Conn& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 9\r\n\r\nnot json!");
  });
  SetMusicBrainz("http://127.0.0.1:" + std::to_string(server.Port()));
  std::filesystem::remove_all(home_ + "music");
  MakeDirectories(home_ + "music");
  ASSERT_EQ(Run(Plain(), {"rip", "--format", "wav"}), 0) << err_.str();
  EXPECT_EQ(Music().size(), 3u);
  const std::string garbage = err_.str();
  EXPECT_NE(garbage.find("Сведения о диске не найдены: MusicBrainz: "), std::string::npos) << garbage;
  EXPECT_NE(garbage.find("127.0.0.1:" + std::to_string(server.Port())), std::string::npos) << garbage;
  EXPECT_NE(garbage.find("JSON"), std::string::npos) << garbage;
}

// "lookup" without a source: a block for each source, the first that knows
// the disc stored.
TEST_F(CliLookup, LookupWithoutASourceShowsWhatEachSourceSays) {
  ASSERT_EQ(Run(Titled(), {"lookup"}), 0) << err_.str();
  const auto lines = Lines();
  ASSERT_GE(lines.size(), 8u) << out_.str();
  EXPECT_EQ(lines[0], "[MusicBrainz]");
  EXPECT_EQ(lines[1].rfind("# ", 0), 0u) << lines[1];
  EXPECT_NE(lines[1].find("127.0.0.1"), std::string::npos) << lines[1];
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(lines[3], "[CD-Text]");
  EXPECT_EQ(lines[4], "The Band");
  EXPECT_EQ(lines[5], "Café Album");
  EXPECT_EQ(lines[6], "Première");
  EXPECT_EQ(AlbumFiles(), 1);

  EXPECT_EQ(Run(Plain(), {"lookup"}), 1);
  EXPECT_NE(out_.str().find("[CD-Text]\n# на диске нет CD-Text"), std::string::npos) << out_.str();
}

}  // namespace
}  // namespace sonarvex
