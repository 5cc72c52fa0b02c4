#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <cmath>
#include <cstring>
#include <functional>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/IniStore.h"
#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "platform/Dialogs.h"
#include "metadata/DiscId.h"
#include "records/AlbumRecord.h"
#include "records/SettingsRecord.h"
#include "records/RecordTexts.h"
#include "records/TextFields.h"
#include "metadata/AlbumDatabase.h"
#include "drive/virtual/DemoDisc.h"
#include "platform/Files.h"
#include "LoopbackServer.h"
#include "tests/rip/SmallDisk.h"
#include "platform/Cp1251.h"
#include "platform/Shell.h"
#include "tests/cli/CliRunner.h"

namespace sonarvex {
namespace {

// A home folder with the demo disc's image; the command line run in-process.
class CliHomeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/sonarvex-cli-XXXXXX";
    home_ = std::string(mkdtemp(tmpl)) + "/";
    std::string error;
    cue_ = WriteDemoDisc(home_ + "images", &error);
    ASSERT_FALSE(cue_.empty()) << error;
  }
  void TearDown() override { std::filesystem::remove_all(home_); }

  int Run(std::vector<std::string> args) {
    std::vector<std::string> all = {"--home", home_, "--image", cue_};
    all.insert(all.end(), args.begin(), args.end());
    return test::RunCliIn(home_, all, out_, err_);
  }
  std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    std::istringstream in(out_.str());
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }

  std::string home_, cue_;
  std::ostringstream out_, err_;
};

class CliTest : public CliHomeTest {
 protected:
  void SetUp() override {
    CliHomeTest::SetUp();
    if (HasFatalFailure()) return;
    MakeDirectories(home_ + "music");
    // A first profile: output into music/, names "NN title" without folders.
    SettingsRecord s = test::FirstProfile(home_ + "music/");
    s.WindowColor = 13758449;
    s.EditColor = 13758462;
    test::WriteSettingsFile(home_, s);
  }

  // Changes the stored settings.
  void EditSettings(const std::function<void(SettingsRecord&)>& edit) {
    ASSERT_TRUE(test::EditSettingsFile(home_, edit));
  }
  std::string Capture(const std::vector<std::string>& argv) { return test::CaptureOutput(argv, false); }
  // An enhanced CD (whipper's ladyhawke.cue) as the disc: its binaries are
  // sparse files, since only the table of contents is read.
  void UseLadyhawkeImage() {
    const std::string folder = home_ + "ladyhawke/";
    ASSERT_TRUE(MakeDirectories(folder));
    std::filesystem::copy_file(std::string(SONARVEX_SOURCE_DIR) + "/tests/data/whipper/ladyhawke.cue",
                               folder + "ladyhawke.cue");
    for (auto [name, sectors] : {std::pair<const char*, std::uintmax_t>{"ladyhawke-audio.bin", 195706},
                                 {"ladyhawke-data.bin", 3279}}) {
      std::ofstream(folder + name).close();
      std::filesystem::resize_file(folder + name, sectors * 2352);
    }
    cue_ = folder + "ladyhawke.cue";
  }
  // A disc image of one track of two minutes of noise: long.cue.
  void WriteLongNoiseDisc(std::uint32_t seed) {
    std::string pcm(120 * 75 * 2352, '\0');
    std::uint32_t x = seed;
    for (std::size_t k = 0; k < pcm.size(); ++k) pcm[k] = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
    WriteFileAtomically(home_ + "long.bin", pcm);
    WriteFileAtomically(home_ + "long.cue", "FILE \"long.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  }
};

TEST_F(CliTest, DrivesAndToc) {
  ASSERT_EQ(Run({"drives"}), 0) << err_.str();
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(0, 2), "0\t");
  EXPECT_NE(lines[0].find("Virtual CD"), std::string::npos);

  ASSERT_EQ(Run({"toc"}), 0) << err_.str();
  lines = Lines();
  // id, 4 audio tracks, the data track, the lead-out, then the disc's
  // CD-Text (the demo disc names its album only).
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[1], "1\t00:02:00\t00:12:00\t0\taudio");
  EXPECT_EQ(lines[5].substr(lines[5].size() - 4), "data");
  EXPECT_EQ(lines[6].rfind("leadout\t", 0), 0u);
  EXPECT_EQ(lines[7], "cdtext\talbum\ttitle\tDemo");
  EXPECT_EQ(lines[8], "cdtext\talbum\tperformer\tSonarvex");
  // The CDDB identifier, computed here from the printed start times.
  auto seconds = [](const std::string& msf) {
    return std::stoi(msf.substr(0, 2)) * 60 + std::stoi(msf.substr(3, 2));
  };
  int n = 0;
  std::vector<int> starts;
  for (int k = 1; k <= 5; ++k) {
    int s = seconds(lines[k].substr(lines[k].find('\t') + 1, 8));
    starts.push_back(s);
    for (int v = s; v > 0; v /= 10) n += v % 10;
  }
  int length = seconds(lines[6].substr(8)) - starts[0];
  char expected[16];
  std::snprintf(expected, sizeof expected, "%08x", ((n % 255) << 24) | (length << 8) | 5);
  EXPECT_EQ(lines[0], expected);
}

TEST_F(CliTest, UsageAndFailures) {
  EXPECT_EQ(Run({"frobnicate"}), 2);
  EXPECT_EQ(Run({"rip", "--tracks", "9"}), 2);
  EXPECT_EQ(Run({"rip", "--tracks", "5"}), 1);  // the data track
  EXPECT_NE(err_.str().find("содержит данные"), std::string::npos) << err_.str();
  EXPECT_EQ(Run({"toc", "--drive", "3"}), 1);
  EXPECT_EQ(err_.str().find('\n'), err_.str().size() - 1);  // one line
  std::filesystem::remove_all(home_ + "music");
  EXPECT_EQ(Run({"rip", "--format", "wav", "--tracks", "1"}), 1);
  EXPECT_NE(err_.str().find("Папки вывода '" + home_ + "music/' нет"), std::string::npos) << err_.str();
}

TEST_F(CliTest, WavRipMatchesCdParanoia) {
  ASSERT_EQ(Run({"rip", "--format", "wav", "--tracks", "1,3-4"}), 0) << err_.str();
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "1\t" + home_ + "music/0 - Track1.wav");
  EXPECT_EQ(lines[1], "3\t" + home_ + "music/2 - Track3.wav");
  std::string paranoia = FindInPath("cd-paranoia");
  if (paranoia.empty()) GTEST_SKIP() << "cd-paranoia is not installed";
  for (int track : {1, 3, 4}) {
    std::string raw = home_ + "p" + std::to_string(track) + ".raw";
    ASSERT_EQ(RunProgram({paranoia, "-q", "-d", cue_, "-r", std::to_string(track), raw}), 0);
    auto ours = ReadFileBytes(home_ + "music/" + std::to_string(track - 1) + " - Track" +
                              std::to_string(track) + ".wav");
    auto theirs = ReadFileBytes(raw);
    ASSERT_TRUE(ours && theirs);
    ASSERT_EQ(ours->size(), theirs->size() + 48) << track;
    EXPECT_TRUE(ours->compare(48, std::string::npos, *theirs) == 0) << track;
  }
}

// ffprobe's "key=value" lines with the keys in lower case and without the
// "TAG:" prefix of stream tags.
std::string LowerKeys(const std::string& text) {
  std::istringstream in(text);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    if (key.rfind("TAG:", 0) == 0) key = key.substr(4);
    for (char& ch : key) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    out += key + line.substr(eq) + "\n";
  }
  return out;
}

// Signal to noise ratio (dB) of decoded 16-bit PCM against the original.
double Snr(const std::string& original, const std::string& decoded) {
  std::size_t n = std::min(original.size(), decoded.size()) / 2;
  double signal = 0, noise = 0;
  for (std::size_t k = 0; k < n; ++k) {
    std::int16_t a, b;
    std::memcpy(&a, original.data() + 2 * k, 2);
    std::memcpy(&b, decoded.data() + 2 * k, 2);
    signal += double(a) * a;
    noise += double(a - b) * (a - b);
  }
  return noise == 0 ? 200 : 10 * std::log10(signal / noise);
}

// A server's escape sequences and controls never reach the terminal raw, and
// a lookup whose result cannot be stored in the album database is a failure
// that names the place, not exit 0.
TEST_F(CliTest, CddbPrintsNoControlsAndFailsWhenTheAlbumIsNotStored) {
  test::LoopbackServer server([](const std::string& request, test::LoopbackServer::Connection& c) {
    if (auto at = request.find("cddb+query+"); at != std::string::npos) {
      std::string id = request.substr(at + 11, 8);
      c.Send(test::HttpResponse("200 rock " + id + " A / B\r\n"));
    } else if (auto rd = request.find("cddb+read+rock+"); rd != std::string::npos) {
      std::string id = request.substr(rd + 15, 8);
      c.Send(test::HttpResponse("210 rock " + id + " CD database entry follows\r\n# xmcd\r\n"
                                "DISCID=" + id + "\r\nDTITLE=\x1b[2J\x1b]0;pwned\x07Art / Alb\xc2\x9bum\r\n"
                                "TTITLE0=One\x08\x08\x08Две\r\nTTITLE1=Two\r\n.\r\n"));
    }
  });
  EditSettings([&](SettingsRecord& s) { test::UseCddbOnLoopback(s, server.Port()); });
  // The album database's folder cannot be made: a file holds its place.
  ASSERT_TRUE(WriteFileAtomically(home_ + "setting/albums", "not a folder"));
  EXPECT_EQ(Run({"cddb"}), 1);
  EXPECT_NE(err_.str().find("не сохранены"), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find(home_ + "setting/albums"), std::string::npos) << err_.str();
  const std::string printed = out_.str() + err_.str();
  for (char c : printed)
    EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20 || c == '\n') << int(c);
  EXPECT_EQ(printed.find("\xc2\x9b"), std::string::npos);
  auto lines = Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[1], "Alb?um");
  EXPECT_EQ(lines[2], "One???Две");
}

// An enhanced CD (whipper's ladyhawke.toc, see tests/data/whipper): the
// server is asked with the drive's own table, the identifier and offsets
// its entries (and cd-discid) have, and the album is stored under it.
TEST_F(CliTest, CddbAsksForAnEnhancedCdAsTheServersKnowIt) {
  UseLadyhawkeImage();
  ASSERT_EQ(Run({"toc"}), 0) << err_.str();
  ASSERT_FALSE(Lines().empty());
  EXPECT_EQ(Lines()[0], "c60af50d");

  test::LoopbackServer server(test::CddbAnswering(
      "misc", "Ladyhawke / Ladyhawke", "TTITLE0=Magic\r\nTTITLE1=Manipulating Woman\r\n"));
  EditSettings([&](SettingsRecord& s) { test::UseCddbOnLoopback(s, server.Port()); });
  ASSERT_EQ(Run({"cddb"}), 0) << err_.str();
  EXPECT_EQ(err_.str(), "");  // no word of a wrong identifier in the answer
  std::string query, read;
  for (const std::string& r : server.Requests()) {
    if (r.find("cddb+query+") != std::string::npos) query = r;
    if (r.find("cddb+read+") != std::string::npos) read = r;
  }
  EXPECT_NE(query.find("?cmd=cddb+query+c60af50d+13+150+15687+31841+51016+66616+81352+99559+"
                       "116070+133243+149997+161710+177832+207256+2807&"),
            std::string::npos)
      << query;
  EXPECT_NE(read.find("cddb+read+misc+C60AF50D&"), std::string::npos) << read;
  ASSERT_GE(Lines().size(), 3u);
  EXPECT_EQ(Lines()[2], "Magic");
  EXPECT_TRUE(FileExists(home_ + "setting/albums/" + AlbumFileName(SignedDiscId(0xc60af50du))));
}

// The same enhanced CD looked up in MusicBrainz: the disc identifier of its
// audio session (the one whipper's tests expect), the first of two releases
// taken with a word on standard error, then the one --release names.
TEST_F(CliTest, LookupInMusicBrainzByTheAudioSessionsIdentifier) {
  UseLadyhawkeImage();
  const std::string release = R"({"id":"%ID%","title":"Ladyhawke","date":"2008-09-22",
    "country":"%C%","artist-credit":[{"name":"Ladyhawke","artist":{"id":"ad9ddd0e-52a0-4d3b-8d2c-4dbb0adb2a1f"}}],
    "media":[{"position":1,"format":"Enhanced CD","track-count":12,
      "discs":[{"id":"KnpGsLhvH.lPrNc1PBL21lb9Bg4-"}],
      "tracks":[{"position":1,"title":"Magic","id":"t1","recording":{"id":"r1"}},
                {"position":2,"title":"Manipulating Woman","id":"t2","recording":{"id":"r2"}}]}]})";
  auto with = [&](const std::string& id, const std::string& country) {
    std::string r = release;
    r.replace(r.find("%ID%"), 4, id);
    r.replace(r.find("%C%"), 3, country);
    return r;
  };
  const std::string body = "{\"releases\":[" + with("11111111-1111-4111-8111-111111111111", "GB") +
                           "," + with("22222222-2222-4222-8222-222222222222", "US") + "]}";
  test::LoopbackServer server([&](const std::string& request, test::LoopbackServer::Connection& c) {
    if (request.find("GET /ws/2/discid/KnpGsLhvH.lPrNc1PBL21lb9Bg4-?") == 0)
      c.Send("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
             std::to_string(body.size()) + "\r\n\r\n" + body);
    else
      c.Send("HTTP/1.1 404 Not Found\r\nContent-Length: 2\r\n\r\n{}");
  });
  {
    IniStore ini(home_ + "setting/sonarvex.ini");
    ini.Load();
    ini.Set("MusicBrainz", "Server", "http://127.0.0.1:" + std::to_string(server.Port()));
    ASSERT_TRUE(ini.Save());
  }
  ASSERT_EQ(Run({"lookup", "--source", "musicbrainz"}), 0) << err_.str();
  EXPECT_EQ(server.Requests().size(), 1u);
  auto lines = Lines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Ladyhawke");
  EXPECT_EQ(lines[2], "Magic");
  EXPECT_NE(err_.str().find("Диск найден в 2 релизах MusicBrainz; взят первый."), std::string::npos)
      << err_.str();
  EXPECT_NE(err_.str().find("  22222222-2222-4222-8222-222222222222  Ladyhawke – Ladyhawke "
                            "(2008, US, Enhanced CD, 12 дорожек)"),
            std::string::npos)
      << err_.str();
  // Stored under the disc's CDDB identifier, with the release's identifier.
  const std::string stored = home_ + "setting/albums/" + AlbumFileName(SignedDiscId(0xc60af50du));
  EXPECT_NE(ReadCompanion(stored).Serialize().find("MusicBrainzAlbumId=11111111-1111-4111-8111-111111111111"),
            std::string::npos);

  out_.str("");
  err_.str("");
  ASSERT_EQ(Run({"lookup", "--release", "22222222-2222-4222-8222-222222222222"}), 0) << err_.str();
  EXPECT_EQ(err_.str(), "");
  EXPECT_NE(ReadCompanion(stored).Serialize().find("ReleaseCountry=US"), std::string::npos);
  EXPECT_EQ(Run({"lookup", "--release", "nonsense!"}), 2);
}

// The lookup through the command line against a CDDB server on loopback,
// then rips that carry its titles in their tags and decode to what was read.
TEST_F(CliTest, CddbThenTaggedMp3AndOggRips) {
  test::LoopbackServer server(test::CddbAnswering(
      "rock", "Кино / Группа крови",
      "DYEAR=1988\r\nDGENRE=Rock\r\nTTITLE0=Первая\r\nTTITLE1=Вторая\r\nTTITLE2=Третья\r\n"
      "TTITLE3=Четвёртая\r\nTTITLE4=Данные\r\n"));
  EditSettings([&](SettingsRecord& s) { test::UseCddbOnLoopback(s, server.Port()); });
  ASSERT_EQ(Run({"cddb"}), 0) << err_.str();
  auto lines = Lines();
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0], "Кино");
  EXPECT_EQ(lines[1], "Группа крови");
  EXPECT_EQ(lines[2], "Первая");
  EXPECT_EQ(lines[5], "Четвёртая");

  // Without the server the titles come from the album database.
  ASSERT_EQ(Run({"rip", "--format", "wav", "--tracks", "1,2"}), 0) << err_.str();
  lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "1\t" + home_ + "music/0 - Первая.wav");
  std::string wav1 = home_ + "music/0 - Первая.wav", wav2 = home_ + "music/1 - Вторая.wav";
  ASSERT_EQ(Run({"rip", "--format", "mp3", "--tracks", "1"}), 0) << err_.str();
  ASSERT_EQ(Run({"rip", "--format", "ogg", "--tracks", "2", "--on-the-fly"}), 0) << err_.str();
  std::string mp3 = home_ + "music/0 - Первая.mp3", ogg = home_ + "music/1 - Вторая.ogg";
  ASSERT_TRUE(FileExists(mp3));
  ASSERT_TRUE(FileExists(ogg));

  std::string ffprobe = FindInPath("ffprobe"), ffmpeg = FindInPath("ffmpeg"),
              oggdec = FindInPath("oggdec");
  if (ffprobe.empty() || ffmpeg.empty() || oggdec.empty()) GTEST_SKIP() << "no ffmpeg/oggdec";
  for (const std::string& file : {mp3, ogg}) {
    std::string tags = Capture({ffprobe, "-v", "quiet", "-show_entries",
                                "format_tags=title,artist,album", "-of", "default=nw=1", file});
    if (file == ogg) tags += Capture({ffprobe, "-v", "quiet", "-show_entries",
                                      "stream_tags=title,artist,album", "-of", "default=nw=1",
                                      file});
    tags = LowerKeys(tags);
    EXPECT_NE(tags.find("artist=Кино"), std::string::npos) << file << "\n" << tags;
    EXPECT_NE(tags.find("album=Группа крови"), std::string::npos) << file << "\n" << tags;
    EXPECT_NE(tags.find(file == mp3 ? "title=Первая" : "title=Вторая"), std::string::npos) << tags;
  }
  // Decoded, they are the ripped PCM within the codecs' usual error.
  std::string pcmMp3 = home_ + "mp3.raw", pcmOgg = home_ + "ogg.raw";
  ASSERT_EQ(RunProgram({ffmpeg, "-v", "quiet", "-y", "-i", mp3, "-f", "s16le", pcmMp3}), 0);
  ASSERT_EQ(RunProgram({oggdec, "-Q", "-R", "-o", pcmOgg, ogg}), 0);
  std::string w1 = ReadFileBytes(wav1)->substr(48), w2 = ReadFileBytes(wav2)->substr(48);
  std::string d1 = *ReadFileBytes(pcmMp3), d2 = *ReadFileBytes(pcmOgg);
  EXPECT_EQ(d1.size(), w1.size());
  EXPECT_EQ(d2.size(), w2.size());
  EXPECT_GT(Snr(w1, d1), 20.0);
  EXPECT_GT(Snr(w2, d2), 20.0);
}

// A rip onto a full disk fails with exit status 1 and one line naming the
// file and the reason; nothing is left in the music folder or TempFiles. The
// command line asks about free space first, so a full output folder is made
// with a file size limit; a full temporary folder is a tiny file system.
TEST_F(CliTest, RipOntoAFullDiskExitsOneAndLeavesNothing) {
  struct Case {
    std::vector<std::string> args;
    bool tempFolderFull;
    std::string failedFile;
  };
  const std::string music = home_ + "music/0 - Track1.", temp = home_ + "TempFiles/Track1.wav";
  const std::vector<Case> cases = {
      {{"rip", "--format", "wav", "--tracks", "1"}, false, music + "wav.part"},
      {{"rip", "--format", "mp3", "--tracks", "1", "--on-the-fly"}, false, music + "mp3.part"},
      {{"rip", "--format", "ogg", "--tracks", "1", "--on-the-fly"}, false, music + "ogg.part"},
      {{"rip", "--format", "mp3", "--tracks", "1"}, true, temp},
      {{"rip", "--format", "ogg", "--tracks", "1"}, true, temp}};
  for (const Case& c : cases) {
    std::string name;
    for (const auto& a : c.args) name += a + " ";
    MakeDirectories(home_ + "TempFiles");
    test::ChildReport r = test::RunWithSmallDisk(
        c.tempFolderFull ? home_ + "TempFiles" : home_ + "music", 32 * 1024,
        [&] {
          const int rc = Run(c.args);
          std::string left;
          for (const char* folder : {"music", "TempFiles"}) {
            std::error_code ec;
            for (auto& e : std::filesystem::recursive_directory_iterator(home_ + folder, ec))
              left += e.path().string() + ";";
          }
          std::string err = err_.str();
          for (char& ch : err)
            if (ch == '\n') ch = '|';
          return "rc=" + std::to_string(rc) + "\nerr=" + err + "\nleft=" + left + "\n";
        },
        !c.tempFolderFull);
    ASSERT_NE(r.Get("crashed"), "yes") << name;
    const std::string mode = r.Get("mode");
    if (mode == "none") GTEST_SKIP() << "neither a mount namespace nor a file size limit";
    EXPECT_EQ(r.Get("rc"), "1") << name << r.Get("err");
    const std::string err = r.Get("err");
    // After the progress, one line says why.
    ASSERT_GE(err.size(), 2u);
    ASSERT_EQ(err.back(), '|') << err;
    const std::size_t from = err.rfind('|', err.size() - 2);
    const std::string last = err.substr(from == std::string::npos ? 0 : from + 1);
    EXPECT_EQ(last.rfind("Не удалось записать файл '" + c.failedFile + "': ", 0), 0u) << err;
    EXPECT_NE(last.find(std::strerror(mode == "tmpfs" ? ENOSPC : EFBIG)), std::string::npos) << err;
    EXPECT_EQ(r.Get("left"), "") << name;
  }
}

// A link left at the partial name is not written through; a link at the
// final name is replaced by the file.
TEST_F(CliTest, RipNeverWritesThroughLinks) {
  const std::string target = home_ + "elsewhere";
  WriteFileAtomically(target, "precious");
  const std::string out = home_ + "music/0 - Track1.mp3";
  ASSERT_EQ(symlink(target.c_str(), (out + ".part").c_str()), 0);
  EXPECT_EQ(Run({"rip", "--format", "mp3", "--tracks", "1", "--on-the-fly"}), 1);
  EXPECT_NE(err_.str().find("уже существует и создан не этой программой"), std::string::npos)
      << err_.str();
  EXPECT_EQ(*ReadFileBytes(target), "precious");
  ASSERT_EQ(unlink((out + ".part").c_str()), 0);

  ASSERT_EQ(symlink(target.c_str(), out.c_str()), 0);
  // Without --overwrite what is at the name stays: the track is numbered.
  EXPECT_EQ(Run({"rip", "--format", "mp3", "--tracks", "1"}), 0) << err_.str();
  EXPECT_EQ(*ReadFileBytes(target), "precious");
  struct stat st{};
  ASSERT_EQ(lstat(out.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(out_.str(), "1\t" + home_ + "music/0 - Track1 (2).mp3\n");
  // With it the link is replaced, never written through.
  EXPECT_EQ(Run({"rip", "--format", "mp3", "--tracks", "1", "--overwrite"}), 0) << err_.str();
  EXPECT_EQ(*ReadFileBytes(target), "precious");
  ASSERT_EQ(lstat(out.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(out_.str(), "1\t" + out + "\n");
}


TEST_F(CliTest, HelpAndVersionAnswerWithoutTouchingAnything) {
  const std::string empty = home_ + "empty/";
  MakeDirectories(empty);
  auto run = [&](std::vector<std::string> args) { return test::RunCliIn(empty, args, out_, err_); };
  ASSERT_EQ(run({"--help"}), 0);
  const std::string help = out_.str();
  for (const char* word : {"drives", "toc [--drive N]", "rip ", "cddb", "settings show",
                           "settings set FIELD=VALUE", "play", "convert", "help [COMMAND]",
                           "--home", "--image", "--profile", "-q, --quiet", "-v, --verbose",
                           "--version", "--out DIR", "--name FORMAT", "--bitrate K", "--vbr Q",
                           "--ogg-quality Q", "--tracks", "--on-the-fly", "--match", "Exit status"})
    EXPECT_NE(help.find(word), std::string::npos) << word;
  EXPECT_EQ(run({"-h"}), 0);
  EXPECT_EQ(out_.str(), help);
  EXPECT_EQ(run({"help"}), 0);
  EXPECT_EQ(out_.str(), help);
  ASSERT_EQ(run({"help", "rip"}), 0);
  const std::string rip = out_.str();
  EXPECT_NE(rip.find("--ogg-quality"), std::string::npos);
  EXPECT_EQ(rip.find("settings set"), std::string::npos);
  EXPECT_EQ(run({"rip", "--help"}), 0);
  EXPECT_EQ(out_.str(), rip);
  EXPECT_EQ(run({"help", "nonsense"}), 2);
  EXPECT_NE(err_.str().find("Неизвестная команда nonsense."), std::string::npos);
  ASSERT_EQ(run({"--version"}), 0);
  EXPECT_EQ(out_.str(), "sonarvex-cli 3.2\n");
  EXPECT_EQ(std::string(kProgramTitle), std::string("Sonarvex v") + kProgramVersion);
  // Nothing was made: no settings, no temporary folder.
  EXPECT_TRUE(std::filesystem::is_empty(empty));
}

TEST_F(CliTest, SettingsShowAndSetWithTheDialogsChecks) {
  ASSERT_EQ(Run({"settings", "show"}), 0) << err_.str();
  const std::string shown = out_.str();
  EXPECT_NE(shown.find("OutputFolder=" + home_ + "music/\n"), std::string::npos);
  EXPECT_NE(shown.find("\nNameHasNumber=1\n"), std::string::npos);
  EXPECT_NE(shown.find("\nBitrateIndex=12\n"), std::string::npos);
  const std::string before = *ReadFileBytes(home_ + "setting/set.dat");

  // Refused as the dialog refuses: exit 1, one line, nothing written.
  EXPECT_EQ(Run({"settings", "set", "ShowGrid=1", "SectorsPerRead=0"}), 1);
  EXPECT_EQ(err_.str(),
            "Поле SectorsPerRead: Читать секторов: введите число от 1 до 255. Настройки не "
            "изменены.\n");
  EXPECT_EQ(Run({"settings", "set", "UseFormatString=1", "FormatString=%A"}), 1);
  EXPECT_NE(err_.str().find("(%T)"), std::string::npos);
  EXPECT_EQ(Run({"settings", "set", "DriveIndex=1"}), 1);  // one drive only
  EXPECT_EQ(*ReadFileBytes(home_ + "setting/set.dat"), before);
  EXPECT_EQ(Run({"settings", "set", "SectorsPerRead"}), 2);  // not FIELD=VALUE

  ASSERT_EQ(Run({"settings", "set", "SectorsPerRead=40", "ProxyHost=proxy.local",
                 "OutputFolder=" + home_ + "elsewhere"}),
            0)
      << err_.str();
  auto bytes = ReadFileBytes(home_ + "setting/set.dat");
  ASSERT_TRUE(bytes && bytes->size() == sizeof(SettingsRecord));
  SettingsRecord s;
  std::memcpy(&s, bytes->data(), sizeof s);
  EXPECT_EQ(s.SectorsPerRead, 40);
  EXPECT_EQ(s.ProxyEnabled, 1);
  EXPECT_EQ(std::string(s.OutputFolder), home_ + "elsewhere/");
  EXPECT_EQ(s.NameHasNumber, 1);  // the rest as it was
  ASSERT_EQ(Run({"settings", "show"}), 0);
  EXPECT_NE(out_.str().find("\nSectorsPerRead=40\n"), std::string::npos);
}

TEST_F(CliTest, AProfileChosenForOneRun) {
  EditSettings([&](SettingsRecord& s) { SetField(s.OutputFolder, home_ + "rock/"); });
  std::filesystem::copy_file(home_ + "setting/set.dat", home_ + "setting/Rock.prof");
  EditSettings([&](SettingsRecord& s) { SetField(s.OutputFolder, home_ + "music/"); });
  WriteFileAtomically(home_ + "setting/prof.lst", "-1\r\nRock.prof\r\n");
  ASSERT_EQ(Run({"--profile", "Rock", "settings", "show"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("OutputFolder=" + home_ + "rock/\n"), std::string::npos);
  ASSERT_EQ(Run({"settings", "show"}), 0);
  EXPECT_NE(out_.str().find("OutputFolder=" + home_ + "music/\n"), std::string::npos);
  // settings set with --profile writes that profile's file.
  ASSERT_EQ(Run({"--profile", "Rock", "settings", "set", "ShowGrid=1"}), 0) << err_.str();
  SettingsRecord rock;
  std::memcpy(&rock, ReadFileBytes(home_ + "setting/Rock.prof")->data(), sizeof rock);
  EXPECT_EQ(rock.ShowGrid, 1);
  EXPECT_EQ(Run({"--profile", "Jazz", "drives"}), 1);
  EXPECT_NE(err_.str().find("Нет профиля 'Jazz'"), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("профили: Rock."), std::string::npos) << err_.str();
}

TEST_F(CliTest, OverridesChangeTheSettingsForOneRunOnly) {
  const std::string before = *ReadFileBytes(home_ + "setting/set.dat");
  ASSERT_EQ(Run({"rip", "--format", "mp3", "--tracks", "1", "--out", home_ + "other/new",
                 "--name", "%N-%T", "--bitrate", "96"}),
            0)
      << err_.str();
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  const std::string mp3 = home_ + "other/new/01-Track1.mp3";
  EXPECT_EQ(lines[0], "1\t" + mp3);
  ASSERT_TRUE(FileExists(mp3));
  // Nothing of it is kept.
  EXPECT_EQ(*ReadFileBytes(home_ + "setting/set.dat"), before);
  // Refusals name the option and why (a usage error); nothing is ripped.
  EXPECT_EQ(Run({"rip", "--format", "wav", "--tracks", "1", "--vbr", "2"}), 2);
  EXPECT_EQ(err_.str(), "--vbr 2: --vbr задаётся только для mp3.\n");
  EXPECT_EQ(Run({"rip", "--format", "mp3", "--tracks", "1", "--bitrate", "100"}), 2);
  EXPECT_NE(err_.str().find("32, 40, 48"), std::string::npos);
  EXPECT_EQ(Run({"rip", "--format", "ogg", "--tracks", "1", "--name", "%A"}), 2);
  EXPECT_TRUE(out_.str().empty());
  // A relative --out is taken from the current folder.
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(home_);
  const int rc = Run({"rip", "--format", "ogg", "--tracks", "2", "--out", "rel", "--ogg-quality",
                      "2.5"});
  std::filesystem::current_path(cwd);
  ASSERT_EQ(rc, 0) << err_.str();
  EXPECT_EQ(Lines().at(0), "2\t" + home_ + "rel/1 - Track2.ogg");

  std::string ffprobe = FindInPath("ffprobe");
  if (ffprobe.empty()) GTEST_SKIP() << "no ffprobe";
  std::string rate = Capture({ffprobe, "-v", "quiet", "-show_entries", "format=bit_rate", "-of",
                              "default=nw=1:nk=1", mp3});
  const long bps = std::atol(rate.c_str());
  EXPECT_GT(bps, 90000) << rate;  // 96 kbit/s, not the profile's 224
  EXPECT_LT(bps, 102000) << rate;
}

TEST_F(CliTest, WithoutATerminalProgressIsOneLinePerTrack) {
  ASSERT_EQ(Run({"rip", "--format", "wav", "--tracks", "1,2"}), 0) << err_.str();
  const std::string err = err_.str();
  EXPECT_EQ(err.find('\r'), std::string::npos);
  std::istringstream in(err);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  ASSERT_EQ(lines.size(), 2u) << err;
  EXPECT_EQ(lines[0].rfind("1: Скопирован, 0:12 за ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind("2: Скопирован, 0:09 за ", 0), 0u) << lines[1];
  EXPECT_NE(lines[0].find(" с"), std::string::npos);
  // Quiet: nothing but the results.
  ASSERT_EQ(Run({"-q", "rip", "--format", "wav", "--tracks", "1"}), 0);
  EXPECT_EQ(err_.str(), "");
  EXPECT_EQ(Lines().size(), 1u);
  // Verbose: the files in use first.
  ASSERT_EQ(Run({"-v", "drives"}), 0);
  EXPECT_NE(err_.str().find("Настройки: " + home_ + "setting/set.dat\n"), std::string::npos)
      << err_.str();
}

}  // namespace
}  // namespace sonarvex

namespace sonarvex {
namespace {

// The command line in a child process that may take at most `seconds`: a
// program that blocks (on a FIFO) is stopped and reported as hung. prepare
// runs in the child first.
class CliChildTest : public CliTest {
 protected:
  test::ChildRun RunBounded(const std::vector<std::string>& args, bool withDemo = true,
                            const std::function<bool()>& prepare = {}, int seconds = 20) {
    std::vector<std::string> all = {"--home", home_};
    if (withDemo) all.insert(all.end(), {"--image", cue_});
    all.insert(all.end(), args.begin(), args.end());
    return test::RunCliInChild(home_, all, seconds, prepare, home_ + "child.out", home_ + "child.err");
  }
  std::string DiscIdFile() {
    EXPECT_EQ(Run({"toc"}), 0);
    const std::string id = Lines().at(0);
    return std::to_string(SignedDiscId(static_cast<std::uint32_t>(std::stoul(id, nullptr, 16)))) +
           ".dat";
  }
};

TEST_F(CliChildTest, FifosWhereFilesAreExpectedAreRefusedNotWaitedOn) {
  const std::string refused = "не является обычным файлом";
  // A sheet that is a FIFO.
  const std::string fifoCue = home_ + "fifo.cue";
  ASSERT_EQ(mkfifo(fifoCue.c_str(), 0600), 0);
  test::ChildRun r = RunBounded({"--image", fifoCue, "drives"}, false);
  EXPECT_FALSE(r.hung);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("'" + fifoCue + "' " + refused), std::string::npos) << r.err;
  // A sheet naming a FIFO.
  const std::string fifoBin = home_ + "fifo.bin", sheet = home_ + "names-fifo.cue";
  ASSERT_EQ(mkfifo(fifoBin.c_str(), 0600), 0);
  WriteFileAtomically(sheet, "FILE \"fifo.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  r = RunBounded({"--image", sheet, "drives"}, false);
  EXPECT_FALSE(r.hung);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(refused), std::string::npos) << r.err;
  // The list of software drives.
  ASSERT_EQ(mkfifo((home_ + "setting/vdrives.lst").c_str(), 0600), 0);
  r = RunBounded({"drives"});
  EXPECT_FALSE(r.hung);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("vdrives.lst"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(refused), std::string::npos) << r.err;
  std::filesystem::remove(home_ + "setting/vdrives.lst");
  // The album database: a stored album whose tag file is a FIFO.
  const std::string album = home_ + "setting/albums/" + DiscIdFile();
  MakeDirectories(home_ + "setting/albums");
  WriteFileAtomically(album, std::string(sizeof(AlbumRecord), '\0'));
  ASSERT_EQ(mkfifo((album + ".tag").c_str(), 0600), 0);
  r = RunBounded({"toc"});
  EXPECT_FALSE(r.hung);
  EXPECT_EQ(r.status, 0) << r.err;
  std::filesystem::remove_all(home_ + "setting/albums");
  // The profile list.
  ASSERT_EQ(mkfifo((home_ + "setting/prof.lst").c_str(), 0600), 0);
  r = RunBounded({"toc"});
  EXPECT_FALSE(r.hung);
  EXPECT_EQ(r.status, 0) << r.err;
  // The settings: refused, and the program goes on with the defaults.
  std::filesystem::remove(home_ + "setting/set.dat");
  ASSERT_EQ(mkfifo((home_ + "setting/set.dat").c_str(), 0600), 0);
  r = RunBounded({"toc"});
  EXPECT_FALSE(r.hung);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Не удалось прочитать настройки из файла 'set.dat': '" + home_ +
                       "setting/set.dat' " + refused + ". Используются настройки по умолчанию."),
            std::string::npos)
      << r.err;
}

TEST_F(CliChildTest, ProtectedSettingsAreReadAndSaidOnceNotToBeSaved) {
  const std::string setting = home_ + "setting";
  // Protected as a user protects it; root writes anything, so for root the
  // folder becomes a read-only mount in the child's own namespace.
  auto protect = [&] {
    if (geteuid() != 0) return chmod((setting + "/set.dat").c_str(), 0444) == 0;
    return unshare(CLONE_NEWNS) == 0 &&
           mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount(setting.c_str(), setting.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
           mount(nullptr, setting.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
  };
  test::ChildRun r = RunBounded({"rip", "--format", "wav", "--tracks", "1"}, true, protect);
  if (r.status == 77) GTEST_SKIP() << "the settings file cannot be protected here";
  EXPECT_EQ(r.status, 0) << r.err;
  // The stored settings were used: their folder and their naming.
  EXPECT_EQ(r.out, "1\t" + home_ + "music/0 - Track1.wav\n");
  const std::string said =
      "Файл настроек '" + setting + "/set.dat' защищён от записи: изменения настроек не будут "
      "сохранены.";
  const auto at = r.err.find(said);
  EXPECT_NE(at, std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(said, at + 1), std::string::npos) << "said once";
}

TEST_F(CliTest, ARipThatCopiesNothingSaysSoAndExitsOne) {
  // A disc with nothing but a data track, as a second drive.
  const std::string sheet = home_ + "data.cue";
  WriteFileAtomically(home_ + "data.bin", std::string(300 * 2352, '\0'));
  WriteFileAtomically(sheet, "FILE \"data.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n");
  EXPECT_EQ(Run({"--image", sheet, "rip", "--drive", "1", "--format", "wav"}), 1);
  EXPECT_NE(err_.str().find("Копировать нечего: среди отмеченных дорожек нет звуковых"),
            std::string::npos)
      << err_.str();
  EXPECT_EQ(out_.str(), "");
}

// A signal sent to a running command-line rip: the built program, on a long
// noisy track encoded slowly enough to be caught mid-way.
struct SignalCase {
  int signal;
  bool onTheFly;
};

class CliSignalTest : public CliTest, public ::testing::WithParamInterface<SignalCase> {};

TEST_P(CliSignalTest, StopsAtTheNextBlockLeavesNothingAndExitsWithTheSignal) {
  const SignalCase c = GetParam();
  const std::string exe = test::BuiltCli();
  ASSERT_FALSE(exe.empty());
  if (access(exe.c_str(), X_OK) != 0) GTEST_SKIP() << "sonarvex-cli is not built";
  WriteLongNoiseDisc(12345);
  // The built program looks an unknown disc up by itself: not here (no network).
  std::vector<std::string> argv = {exe, "--home", home_, "--image", home_ + "long.cue", "rip",
                                   "--format", "mp3", "--tracks", "1", "--no-lookup"};
  if (c.onTheFly) argv.push_back("--on-the-fly");
  const std::string errFile = home_ + "signal.err";
  const pid_t pid = test::StartProgram(argv, "", errFile);
  // The signal goes when the partial output exists: encoding has begun.
  const std::string part = home_ + "music/0 - Track1.mp3.part";
  const test::ChildWait wait =
      test::WaitUntil(pid, [&] { return access(part.c_str(), F_OK) == 0; }, 20000, 1000);
  if (wait == test::ChildWait::Ended) {
    const std::string err = ReadFileBytes(errFile).value_or("");
    if (err.find("libmp3lame") != std::string::npos) GTEST_SKIP() << err;
    FAIL() << "finished before the signal: " << err;
  }
  const bool seen = wait == test::ChildWait::Ready;
  ASSERT_TRUE(seen);
  kill(pid, c.signal);
  int status = 0;
  waitpid(pid, &status, 0);
  const std::string err = ReadFileBytes(errFile).value_or("");
  ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal itself: " << err;
  EXPECT_EQ(WEXITSTATUS(status), 128 + c.signal) << err;
  // Nothing of the track, no temporary folder.
  EXPECT_FALSE(FileExists(part));
  EXPECT_FALSE(FileExists(home_ + "music/0 - Track1.mp3"));
  EXPECT_FALSE(DirectoryExists(home_ + "TempFiles"));
  // One line says so, the last one.
  const std::string said = std::string("Копирование прервано сигналом ") +
                           (c.signal == SIGINT ? "SIGINT" : "SIGTERM") +
                           ": незаконченный файл удалён, готовые дорожки сохранены.\n";
  ASSERT_GE(err.size(), said.size()) << err;
  EXPECT_EQ(err.substr(err.size() - said.size()), said) << err;
}

INSTANTIATE_TEST_SUITE_P(Signals, CliSignalTest,
                         ::testing::Values(SignalCase{SIGINT, true}, SignalCase{SIGTERM, false}),
                         [](const ::testing::TestParamInfo<SignalCase>& info) {
                           return std::string(info.param.signal == SIGINT ? "Int" : "Term") +
                                  (info.param.onTheFly ? "OnTheFly" : "FromWav");
                         });

// Two runs into one folder: a partial file belongs to the run that writes
// it. The second run leaves the first one's alone and writes under the next
// free name; both files come out whole.
TEST_F(CliTest, TwoRunsIntoOneFolderNeverTakeEachOthersPartialFiles) {
  const std::string exe = test::BuiltCli();
  ASSERT_FALSE(exe.empty());
  if (access(exe.c_str(), X_OK) != 0) GTEST_SKIP() << "sonarvex-cli is not built";
  WriteLongNoiseDisc(4321);
  auto start = [&](const std::string& tag) {
    return test::StartProgram({exe, "--home", home_, "--image", home_ + "long.cue", "rip", "--format", "mp3",
                               "--tracks", "1", "--on-the-fly", "--no-lookup"},
                              home_ + tag + ".out", home_ + tag + ".err");
  };
  const std::string part = home_ + "music/0 - Track1.mp3.part";
  const pid_t first = start("first");
  const test::ChildWait wait =
      test::WaitUntil(first, [&] { return access(part.c_str(), F_OK) == 0; }, 20000, 1000);
  if (wait == test::ChildWait::Ended) {
    const std::string err = ReadFileBytes(home_ + "first.err").value_or("");
    if (err.find("libmp3lame") != std::string::npos) GTEST_SKIP() << err;
    FAIL() << "finished before the second run started: " << err;
  }
  const bool seen = wait == test::ChildWait::Ready;
  ASSERT_TRUE(seen);
  // The first run waits, half-way, while the second one runs whole.
  kill(first, SIGSTOP);
  const int second = test::WaitForExit(start("second"));
  kill(first, SIGCONT);
  const int firstStatus = test::WaitForExit(first);
  EXPECT_EQ(firstStatus, 0) << ReadFileBytes(home_ + "first.err").value_or("");
  EXPECT_EQ(second, 0) << ReadFileBytes(home_ + "second.err").value_or("");
  EXPECT_EQ(ReadFileBytes(home_ + "first.out").value_or(""), "1\t" + home_ + "music/0 - Track1.mp3\n");
  EXPECT_EQ(ReadFileBytes(home_ + "second.out").value_or(""),
            "1\t" + home_ + "music/0 - Track1 (2).mp3\n");
  const auto a = ReadFileBytes(home_ + "music/0 - Track1.mp3");
  const auto b = ReadFileBytes(home_ + "music/0 - Track1 (2).mp3");
  ASSERT_TRUE(a && b);
  EXPECT_GT(a->size(), 100000u);
  EXPECT_TRUE(*a == *b) << a->size() << " " << b->size();
  EXPECT_FALSE(FileExists(part));
}

// Titles in every script: from a CDDB answer through the album database to
// the file names and the tags of WAV, MP3 and Ogg files, into an output folder
// whose name code page 1251 cannot hold either.
TEST_F(CliTest, TitlesOfEveryScriptReachNamesTagsAndTheAlbumDatabase) {
  const std::vector<std::string> titles = {"Ça plane pour moi", "Σίγουρος Ρος: Ελληνικά",
                                           "Группа крови", "東京事変 – 群青日和 🎸"};
  // What the names hold: only the forbidden characters replaced.
  const std::vector<std::string> named = {"Ça plane pour moi", "Σίγουρος Ρος  Ελληνικά",
                                          "Группа крови", "東京事変 – 群青日和 🎸"};
  {
    test::LoopbackServer server(test::CddbAnswering(
        "misc", "Björk / Jóga – Ørsted",
        "DYEAR=1997\r\nDGENRE=Électronique\r\nTTITLE0=" + titles[0] + "\r\nTTITLE1=" + titles[1] +
            "\r\nTTITLE2=" + titles[2] + "\r\nTTITLE3=" + titles[3] + "\r\nTTITLE4=Data\r\n"));
    // The output folder "東京" as the program stores it: set.dat with "??"
    // and its full name in the companion.
    const std::string folder = home_ + "東京/";
    ASSERT_TRUE(MakeDirectories(folder));
    auto bytes = ReadFileBytes(home_ + "setting/set.dat");
    ASSERT_TRUE(bytes);
    SettingsRecord s;
    std::memcpy(&s, bytes->data(), sizeof s);
    RecordTexts texts;
    SetSettingsText(s, texts, SettingsField::OutputFolder, folder);
    test::UseCddbOnLoopback(s, server.Port());
    s.FolderPerArtist = 1;
    ASSERT_TRUE(WriteRecordFiles(home_ + "setting/set.dat",
                                 std::string(reinterpret_cast<char*>(&s), sizeof s), texts));
    ASSERT_FALSE(texts.Empty());

    ASSERT_EQ(Run({"cddb"}), 0) << err_.str();
    auto lines = Lines();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[0], "Björk");
    EXPECT_EQ(lines[1], "Jóga – Ørsted");
    for (int i = 0; i < 4; ++i) EXPECT_EQ(lines[2 + i], titles[i]);
  }  // the server is gone: the album database gives the titles back

  const std::string dir = home_ + "東京/Björk/";
  for (const char* format : {"wav", "mp3", "ogg"}) {
    ASSERT_EQ(Run({"rip", "--format", format, "--tracks", "1-4"}), 0) << err_.str();
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 4u) << out_.str();
    for (int i = 0; i < 4; ++i) {
      const std::string path = dir + std::to_string(i) + " - " + named[i] + "." + format;
      EXPECT_EQ(lines[i], std::to_string(i + 1) + "\t" + path);
      EXPECT_TRUE(FileExists(path)) << path;
    }
  }

  // The album database keeps the full texts.
  AlbumRecord album{};
  RecordTexts albumTexts;
  TagBuffer tags;
  const auto files = ListAlbumFiles(AlbumFolder(home_));
  ASSERT_EQ(files.size(), 1u);
  const std::string name = files[0].substr(files[0].rfind('/') + 1);
  ASSERT_TRUE(LoadAlbum(AlbumFolder(home_), std::stoi(name), album, tags, &albumTexts));
  EXPECT_EQ(AlbumText(album, albumTexts, AlbumField::Artist), "Björk");
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(TrackTitleText(album, albumTexts, i), titles[i]);
    EXPECT_EQ(tags.GetTags(i, album.TrackCount).Get(TagField::Title), titles[i]);
  }

  const std::string mutagen = FindInPath("mutagen-inspect"), vorbiscomment = FindInPath("vorbiscomment");
  if (mutagen.empty() || vorbiscomment.empty())
    GTEST_SKIP() << "mutagen-inspect or vorbiscomment is not installed";
  for (int i = 0; i < 4; ++i) {
    const std::string stem = dir + std::to_string(i) + " - " + named[i];
    const std::string id3 = Capture({mutagen, stem + ".mp3"});
    EXPECT_NE(id3.find("TIT2=" + titles[i] + "\n"), std::string::npos) << id3;
    EXPECT_NE(id3.find("TPE1=Björk\n"), std::string::npos) << id3;
    EXPECT_NE(id3.find("TALB=Jóga – Ørsted\n"), std::string::npos) << id3;
    EXPECT_NE(id3.find("TCON=Électronique\n"), std::string::npos) << id3;
    const std::string vorbis = Capture({vorbiscomment, "-l", stem + ".ogg"});
    EXPECT_NE(vorbis.find("TITLE=" + titles[i] + "\n"), std::string::npos) << vorbis;
    EXPECT_NE(vorbis.find("ARTIST=Björk\n"), std::string::npos) << vorbis;
    EXPECT_NE(vorbis.find("ALBUM=Jóga – Ørsted\n"), std::string::npos) << vorbis;
    const std::string oggInspect = Capture({mutagen, stem + ".ogg"});
    EXPECT_NE(oggInspect.find("TITLE=" + titles[i] + "\n"), std::string::npos) << oggInspect;
  }
}

}  // namespace
}  // namespace sonarvex

namespace sonarvex {
namespace {

using CliFolderTest = CliHomeTest;

// An output folder in any script, given once with --out or stored with
// settings set, is kept whole and the rips land in it.
TEST_F(CliFolderTest, OutputFoldersInAnyScript) {
  const std::string tokyo = home_ + "東京/";
  ASSERT_EQ(Run({"settings", "set", "OutputFolder=" + tokyo, "FolderPerAlbum=0", "FolderPerArtist=0"}), 0)
      << err_.str();
  ASSERT_EQ(Run({"settings", "show"}), 0);
  EXPECT_NE(out_.str().find("OutputFolder=" + tokyo + "\n"), std::string::npos) << out_.str();
  MakeDirectories(tokyo);
  ASSERT_EQ(Run({"rip", "--format", "wav", "--tracks", "1"}), 0) << err_.str();
  EXPECT_EQ(out_.str().rfind("1\t" + tokyo, 0), 0u) << out_.str();
  const std::string musica = home_ + "Música";
  ASSERT_EQ(Run({"rip", "--format", "wav", "--tracks", "2", "--out", musica}), 0) << err_.str();
  EXPECT_EQ(out_.str().rfind("2\t" + musica + "/", 0), 0u) << out_.str();
  // --out is for that run only.
  ASSERT_EQ(Run({"settings", "show"}), 0);
  EXPECT_NE(out_.str().find("OutputFolder=" + tokyo + "\n"), std::string::npos);
}


// The audio data of a WAV file (its "data" chunk), empty when there is none.
std::string WavData(const std::string& path) {
  auto bytes = ReadFileBytes(path);
  if (!bytes || bytes->size() < 12) return {};
  for (std::size_t at = 12; at + 8 <= bytes->size();) {
    std::uint32_t size = 0;
    std::memcpy(&size, bytes->data() + at + 4, 4);
    if (bytes->compare(at, 4, "data") == 0) return bytes->substr(at + 8, size);
    at += 8 + size + (size & 1);
  }
  return {};
}

// A CUE/BIN image whose track 1 has `pregap` sectors before its INDEX 01
// (noise, or silence), then three tracks of noise; the image's bytes.
std::string WritePregapImage(const std::string& cue, int pregap, bool audible) {
  constexpr std::size_t kSector = 2352;
  std::string bin(static_cast<std::size_t>(pregap + 30 + 20 + 25) * kSector, '\0');
  std::uint32_t x = 7;
  for (std::size_t k = audible ? 0 : pregap * kSector; k < bin.size(); ++k)
    bin[k] = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  auto msf = [](int s) {
    char t[16];
    std::snprintf(t, sizeof t, "%02d:%02d:%02d", s / 4500, s / 75 % 60, s % 75);
    return std::string(t);
  };
  WriteFileAtomically(cue.substr(0, cue.size() - 4) + ".bin", bin);
  const std::string name = cue.substr(cue.find_last_of('/') + 1);
  WriteFileAtomically(cue, "FILE \"" + name.substr(0, name.size() - 4) +
                               ".bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n    INDEX 01 " +
                               msf(pregap) + "\n  TRACK 02 AUDIO\n    INDEX 01 " + msf(pregap + 30) +
                               "\n  TRACK 03 AUDIO\n    INDEX 01 " + msf(pregap + 50) + "\n");
  return bin;
}

// Audio before track 1's INDEX 01 is ripped as track 0 ("00 - Скрытый
// трек"), said on standard error and output, and kept in the cue sheet as
// track 1's INDEX 00 in a file of its own; the tracks are as they were. A
// silent pregap gives no such file, nor does a rip with [Rip] HiddenTrack 0.
TEST_F(CliTest, AHiddenTrackBeforeTrackOneIsRippedAsTrackZero) {
  constexpr std::size_t kSector = 2352;
  {
    IniStore ini(home_ + "setting/sonarvex.ini");
    ini.Load();
    ini.Set("Lookup", "Auto", "0");
    ASSERT_TRUE(ini.Save());
  }
  const std::string cue = home_ + "hidden.cue";
  const std::string bin = WritePregapImage(cue, 225, true);
  ASSERT_EQ(test::RunCliIn(home_, {"--home", home_, "--image", cue, "rip", "--format", "wav"}, out_, err_), 0)
      << err_.str();
  const std::string hidden = home_ + "music/00 - Скрытый трек.wav";
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 4u) << out_.str();
  EXPECT_EQ(lines[0], "0\t" + hidden);
  EXPECT_EQ(lines[1], "1\t" + home_ + "music/0 - Track1.wav");
  EXPECT_NE(err_.str().find("скрытый трек"), std::string::npos) << err_.str();
  const std::string audio = WavData(hidden);
  ASSERT_EQ(audio.size(), 225 * kSector);
  EXPECT_TRUE(audio == bin.substr(0, 225 * kSector)) << "the hidden track differs from the image";
  EXPECT_TRUE(WavData(home_ + "music/0 - Track1.wav") == bin.substr(225 * kSector, 30 * kSector));
  EXPECT_TRUE(WavData(home_ + "music/1 - Track2.wav") == bin.substr(255 * kSector, 20 * kSector));
  // The cue sheet: track 1's INDEX 00 at the start of the hidden track's file.
  std::string sheet;
  for (const auto& e : std::filesystem::directory_iterator(home_ + "music"))
    if (e.path().extension() == ".cue") sheet = ReadFileBytes(e.path().string()).value_or("");
  const auto lead = sheet.find("FILE \"00 - Скрытый трек.wav\" WAVE\n  TRACK 01 AUDIO\n");
  const auto index0 = sheet.find("    INDEX 00 00:00:00\nFILE \"0 - Track1.wav\" WAVE\n    INDEX 01 00:00:00\n");
  EXPECT_NE(lead, std::string::npos) << sheet;
  EXPECT_NE(index0, std::string::npos) << sheet;
  EXPECT_LT(lead, index0);
  EXPECT_EQ(sheet.find("PREGAP"), std::string::npos) << sheet;

  // The sheet burned to a software recorder gives the disc back: the
  // hidden track before track 1's INDEX 01, the tracks where they were.
  std::string sheetPath;
  for (const auto& e : std::filesystem::directory_iterator(home_ + "music"))
    if (e.path().extension() == ".cue") sheetPath = e.path().string();
  WriteFileAtomically(home_ + "setting/vdrives.lst", "burn:" + home_ + "cdr.cue\n");
  std::ostringstream burnOut, burnErr;
  ASSERT_EQ(test::RunCliIn(home_, {"--home", home_, "burn", sheetPath}, burnOut, burnErr), 0) << burnErr.str();
  std::filesystem::remove(home_ + "setting/vdrives.lst");
  const auto burned = ReadFileBytes(home_ + "cdr.bin");
  ASSERT_TRUE(burned);
  ASSERT_EQ(burned->size(), bin.size());
  EXPECT_TRUE(burned->compare(0, 225 * kSector, bin, 0, 225 * kSector) == 0)
      << "the burned disc's first sectors are not the hidden track";
  EXPECT_TRUE(*burned == bin) << "the burned disc differs from the ripped one";
  const auto burnedCue = ReadFileBytes(home_ + "cdr.cue").value_or("");
  EXPECT_NE(burnedCue.find("INDEX 01 00:03:00"), std::string::npos) << burnedCue;

  // Switched off: no track 0.
  std::filesystem::remove_all(home_ + "music");
  MakeDirectories(home_ + "music");
  {
    IniStore ini(home_ + "setting/sonarvex.ini");
    ini.Load();
    ini.Set("Rip", "HiddenTrack", "0");
    ASSERT_TRUE(ini.Save());
  }
  out_.str("");
  ASSERT_EQ(test::RunCliIn(home_, {"--home", home_, "--image", cue, "rip", "--format", "wav"}, out_, err_), 0)
      << err_.str();
  EXPECT_EQ(Lines().size(), 3u) << out_.str();
  EXPECT_FALSE(std::filesystem::exists(hidden));
}

TEST_F(CliTest, ASilentPregapBeforeTrackOneGivesNoTrackZero) {
  {
    IniStore ini(home_ + "setting/sonarvex.ini");
    ini.Load();
    ini.Set("Lookup", "Auto", "0");
    ASSERT_TRUE(ini.Save());
  }
  const std::string cue = home_ + "silent.cue";
  const std::string bin = WritePregapImage(cue, 150, false);
  ASSERT_EQ(test::RunCliIn(home_, {"--home", home_, "--image", cue, "rip", "--format", "wav"}, out_, err_), 0)
      << err_.str();
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 3u) << out_.str();
  EXPECT_EQ(lines[0], "1\t" + home_ + "music/0 - Track1.wav");
  EXPECT_FALSE(std::filesystem::exists(home_ + "music/00 - Скрытый трек.wav"));
  EXPECT_TRUE(WavData(home_ + "music/0 - Track1.wav") == bin.substr(150 * 2352, 30 * 2352));
}

}  // namespace
}  // namespace sonarvex
