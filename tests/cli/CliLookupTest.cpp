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

using test::ClosedPort;

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

bool Have(const char* program) {
  int status = -1;
  test::CaptureOutput({"/bin/sh", "-c", std::string("command -v ") + program}, false, &status);
  return status == 0;
}

bool HasLine(const std::string& text, const std::string& line) {
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);)
    if (l == line) return true;
  return false;
}

// The whole way on the command line: a disc of ten tracks that no album
// knows, MusicBrainz on loopback answering the recorded release of ten
// tracks (The Dark Side of the Moon), the Cover Art Archive on loopback
// sending a small JPEG by way of a redirect. Ripped to FLAC, MP3 and Ogg,
// each into a folder of its own: the files are named from the release's
// titles; read back by metaflac, vorbiscomment and mutagen-inspect they
// carry the title, the artist, the album, the release's and the
// recording's identifiers, the disc number and the front cover; cover.jpg
// lies beside them.
TEST_F(CliLookup, ARipToFlacMp3AndOggCarriesTheReleaseAndItsCover) {
  if (!Have("metaflac")) GTEST_SKIP() << "metaflac is not installed (Debian package flac)";
  if (!Have("vorbiscomment")) GTEST_SKIP() << "vorbiscomment is not installed (vorbis-tools)";
  if (!Have("mutagen-inspect")) GTEST_SKIP() << "mutagen-inspect is not installed (python3-mutagen)";
  const auto jpeg = ReadFileBytes(std::string(SONARVEX_SOURCE_DIR) + "/tests/data/cover/small.jpg");
  ASSERT_TRUE(jpeg);
  const std::string release = "b84ee12a-09ef-421b-82de-0441a926375b";
  LoopbackServer musicBrainz([](const std::string& request, Conn& c) {
    if (request.find("GET /ws/2/discid/") == 0)
      c.Send(test::JsonResponse(200, test::DiscIdAnswer(test::MusicBrainzData("release.json"))));
    else
      c.Send(test::JsonResponse(404, test::kNotFoundBody));
  });
  LoopbackServer coverArt([&](const std::string& request, Conn& c) {
    if (request.rfind("GET /release/" + release + "/front", 0) == 0) {
      c.Send("HTTP/1.1 307 Temporary Redirect\r\nLocation: /images/front.jpg\r\n"
             "Content-Length: 0\r\nConnection: close\r\n\r\n");
    } else if (request.rfind("GET /images/front.jpg ", 0) == 0) {
      c.Send("HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: " +
             std::to_string(jpeg->size()) + "\r\nConnection: close\r\n\r\n" + *jpeg);
    } else {
      c.Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    }
  });
  SetMusicBrainz("http://127.0.0.1:" + std::to_string(musicBrainz.Port()));
  {
    IniStore ini(home_ + "setting/sonarvex.ini");
    ini.Load();
    ini.Set("CoverArt", "Server", "http://127.0.0.1:" + std::to_string(coverArt.Port()));
    ASSERT_TRUE(ini.Save());
  }
  // Ten audio tracks of two seconds, no CD-Text.
  WriteFileAtomically(home_ + "ten.bin", std::string(10 * 150 * 2352, '\0'));
  std::string cue = "FILE \"ten.bin\" BINARY\n";
  for (int k = 0; k < 10; ++k) {
    char line[64];
    std::snprintf(line, sizeof line, "  TRACK %02d AUDIO\n    INDEX 01 00:%02d:00\n", k + 1, 2 * k);
    cue += line;
  }
  WriteFileAtomically(home_ + "ten.cue", cue);

  const std::string flac = home_ + "music/flac/", mp3 = home_ + "music/mp3/", ogg = home_ + "music/ogg/";
  ASSERT_EQ(Run(home_ + "ten.cue", {"rip", "--format", "flac", "--out", flac}), 0) << err_.str();
  EXPECT_EQ(musicBrainz.Requests().size(), 1u);
  // The disc is known now: the other rips take the titles from the album database.
  ASSERT_EQ(Run(home_ + "ten.cue", {"rip", "--format", "mp3", "--out", mp3}), 0) << err_.str();
  ASSERT_EQ(Run(home_ + "ten.cue", {"rip", "--format", "ogg", "--out", ogg}), 0) << err_.str();
  EXPECT_EQ(musicBrainz.Requests().size(), 1u);

  for (const std::string& folder : {flac, mp3, ogg}) {
    const auto beside = ReadFileBytes(folder + "cover.jpg");
    EXPECT_TRUE(beside && *beside == *jpeg) << folder;
  }
  // Three of the tracks with their recordings.
  const struct {
    int row;
    const char* title;
    const char* recording;
  } tracks[] = {{0, "Speak to Me", "bef3fddb-5aca-49f5-b2fd-d56a23268d63"},
                {3, "Time", "41959321-f2bb-4580-aa19-16248fe665d3"},
                {9, "Eclipse", "76341a6e-bac9-4ab3-9d9a-3cf1c9ceac80"}};
  for (const auto& t : tracks) {
    const std::string name = std::to_string(t.row) + " - " + t.title;
    const std::string title = t.title, recording = t.recording;
    SCOPED_TRACE(name);

    // FLAC: its Vorbis comments and a PICTURE block holding the JPEG.
    const std::string f = flac + name + ".flac";
    ASSERT_TRUE(FileExists(f));
    const std::string tags = test::CaptureOutput({"metaflac", "--export-tags-to=-", f}, true);
    EXPECT_TRUE(HasLine(tags, "TITLE=" + title)) << tags;
    EXPECT_TRUE(HasLine(tags, "ARTIST=Pink Floyd")) << tags;
    EXPECT_TRUE(HasLine(tags, "ALBUM=The Dark Side of the Moon")) << tags;
    EXPECT_TRUE(HasLine(tags, "MUSICBRAINZ_ALBUMID=" + release)) << tags;
    EXPECT_TRUE(HasLine(tags, "MUSICBRAINZ_TRACKID=" + recording)) << tags;
    EXPECT_TRUE(HasLine(tags, "DISCNUMBER=1")) << tags;
    const std::string blocks =
        test::CaptureOutput({"metaflac", "--list", "--block-type=PICTURE", f}, true);
    EXPECT_NE(blocks.find("type: 3 (Cover (front))"), std::string::npos) << blocks;
    EXPECT_NE(blocks.find("MIME type: image/jpeg"), std::string::npos) << blocks;
    const std::string exported = home_ + "exported.jpg";
    std::filesystem::remove(exported);
    test::CaptureOutput({"metaflac", "--export-picture-to=" + exported, f}, true);
    const auto picture = ReadFileBytes(exported);
    EXPECT_TRUE(picture && *picture == *jpeg);

    // Ogg Vorbis: the same comments and METADATA_BLOCK_PICTURE.
    const std::string o = ogg + name + ".ogg";
    ASSERT_TRUE(FileExists(o));
    const std::string comments = test::CaptureOutput({"vorbiscomment", "-l", o}, true);
    EXPECT_TRUE(HasLine(comments, "TITLE=" + title)) << comments;
    EXPECT_TRUE(HasLine(comments, "ARTIST=Pink Floyd")) << comments;
    EXPECT_TRUE(HasLine(comments, "ALBUM=The Dark Side of the Moon")) << comments;
    EXPECT_TRUE(HasLine(comments, "MUSICBRAINZ_ALBUMID=" + release)) << comments;
    EXPECT_TRUE(HasLine(comments, "MUSICBRAINZ_TRACKID=" + recording)) << comments;
    EXPECT_TRUE(HasLine(comments, "DISCNUMBER=1")) << comments;
    EXPECT_NE(comments.find("\nMETADATA_BLOCK_PICTURE="), std::string::npos) << comments;

    // MP3: ID3v2 frames as mutagen reads them, the cover an APIC frame.
    const std::string m = mp3 + name + ".mp3";
    ASSERT_TRUE(FileExists(m));
    const std::string frames = test::CaptureOutput({"mutagen-inspect", m}, true);
    EXPECT_TRUE(HasLine(frames, "TIT2=" + title)) << frames;
    EXPECT_TRUE(HasLine(frames, "TPE1=Pink Floyd")) << frames;
    EXPECT_TRUE(HasLine(frames, "TALB=The Dark Side of the Moon")) << frames;
    EXPECT_TRUE(HasLine(frames, "TXXX=MusicBrainz Album Id=" + release)) << frames;
    EXPECT_TRUE(HasLine(frames, "UFID=http://musicbrainz.org=b'" + recording + "'")) << frames;
    EXPECT_TRUE(HasLine(frames, "TPOS=1/1")) << frames;
    EXPECT_NE(frames.find("\nAPIC="), std::string::npos) << frames;
    EXPECT_NE(frames.find("image/jpeg, " + std::to_string(jpeg->size()) + " bytes"), std::string::npos)
        << frames;
  }
}

// Several releases: the command line takes the first without a question and
// says so, with how another one is chosen.
TEST_F(CliLookup, ARipOfADiscOfSeveralReleasesTakesTheFirstAndSaysSo) {
  LoopbackServer server([](const std::string& request, Conn& c) {
    if (request.find("GET /ws/2/discid/") == 0)
      c.Send(test::JsonResponse(200, test::DiscIdAnswer(test::MusicBrainzData("release_multidisc.json") +
                                                        "," + test::MusicBrainzData("release.json"))));
    else
      c.Send(test::JsonResponse(404, test::kNotFoundBody));
  });
  SetMusicBrainz("http://127.0.0.1:" + std::to_string(server.Port()));
  ASSERT_EQ(Run(demo_, {"rip", "--format", "wav"}), 0) << err_.str();
  const auto names = Music();
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(names[1], "1 - Bye-Bye Butterfly.wav");
  const std::string err = err_.str();
  EXPECT_NE(err.find("Названия диска взяты из MusicBrainz. Найдено совпадений: 2, взято первое: ケアレス"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("lookup --release MBID"), std::string::npos) << err;
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
