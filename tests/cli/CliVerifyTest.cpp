// sonarvex-cli verify against a loopback AccurateRip server: rips of a
// synthetic disc (WAV files, FLAC files made by flac) described by the cue
// sheet a rip writes; the server's entry is built here from the test's own
// table of contents and its own small implementation of the v1/v2 checksums.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>

#include "LoopbackServer.h"
#include "accuraterip/AccurateRip.h"
#include "cli/CliCommands.h"
#include "cli/CliVerify.h"
#include "rip/RipLog.h"
#include "session/Session.h"
#include "platform/ConsoleDialogs.h"
#include "platform/Files.h"
#include "tests/codec/CodecTestUtil.h"
#include "tests/cli/CliRunner.h"
#include "tests/session/TestSession.h"

namespace sonarvex {
namespace {

namespace fs = std::filesystem;
using test::LoopbackServer;

constexpr std::size_t kSector = 2352;

// The checksums as AccurateRip defines them, written out apart from the
// program's: sample k (1-based, left in the low 16 bits) weighs k; v2 adds
// the 64-bit products' two halves. The disc's first track leaves out its
// first 2939 samples, its last track its last 2940.
struct Sums {
  std::uint32_t v1 = 0, v2 = 0;
};
Sums Reference(const std::vector<std::uint8_t>& pcm, bool first, bool last) {
  const std::uint64_t n = pcm.size() / 4;
  const std::uint64_t from = first ? 5 * 588 : 1;
  const std::uint64_t to = last ? n - 5 * 588 : n;
  Sums s;
  for (std::uint64_t k = from; k <= to; ++k) {
    const std::uint8_t* p = &pcm[(k - 1) * 4];
    const std::uint64_t sample = static_cast<std::uint64_t>(p[0]) | static_cast<std::uint64_t>(p[1]) << 8 |
                                 static_cast<std::uint64_t>(p[2]) << 16 | static_cast<std::uint64_t>(p[3]) << 24;
    const std::uint64_t product = sample * k;
    s.v1 += static_cast<std::uint32_t>(product);
    s.v2 += static_cast<std::uint32_t>(product) + static_cast<std::uint32_t>(product >> 32);
  }
  return s;
}

std::vector<std::uint8_t> Audio(int seed, std::size_t sectors) {
  std::vector<std::uint8_t> v(sectors * kSector);
  std::uint32_t x = 0x2545F491u * static_cast<std::uint32_t>(seed);
  for (auto& b : v) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x);
  }
  return v;
}

std::string Hex(std::uint32_t v) {
  char t[9];
  std::snprintf(t, sizeof t, "%08x", v);
  return t;
}

// One submission: the identifiers, then per track confidence, checksum and
// a frame-450 checksum (unused here).
std::string Entry(const ArDiscIds& ids, const std::vector<std::pair<int, std::uint32_t>>& tracks) {
  std::string s(1, static_cast<char>(tracks.size()));
  auto put = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  put(ids.id1);
  put(ids.id2);
  put(ids.cddb);
  for (const auto& [confidence, crc] : tracks) {
    s.push_back(static_cast<char>(confidence));
    put(crc);
    put(0);
  }
  return s;
}

// A database that knows one disc: its entry at its address, 404 elsewhere.
class Database {
 public:
  Database(const ArDiscIds& ids, std::string entry)
      : path_(ArEntryPath(ids)), entry_(std::move(entry)),
        server_([this](const std::string& request, LoopbackServer::Connection& c) {
          if (request.rfind("GET " + path_ + " HTTP/", 0) == 0)
            c.Send(test::HttpResponse(entry_));
          else
            c.Send("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n");
        }) {}
  std::string Address() const { return "127.0.0.1:" + std::to_string(server_.Port()); }
  std::vector<std::string> Requests() { return server_.Requests(); }

 private:
  std::string path_, entry_;
  LoopbackServer server_;
};

class CliVerifyTest : public testing::Test {
 protected:
  void SetUp() override {
    home_ = test::MakeHome(dir_.Path());
    fs::create_directories(dir_.File("rip"));
    session_ = test::OpenSession(home_, dialogs_);
    // The disc: track 1 after a 32-sector pregap, track 2 with a 10-sector
    // pregap at the end of track 1's file, track 3 without.
    audio_ = {Audio(1, 40), Audio(2, 25), Audio(3, 33)};
    toc_.tracks = {{32, true}, {72, true}, {97, true}};
    toc_.leadOut = 130;
  }

  // The rip: files as a rip names them and its cue sheet (CueSheetText).
  std::string Rip(const std::string& ext, std::vector<CueDataTrack> data = {}) {
    CueSheetInfo info;
    info.performer = "Группа";
    info.title = "Альбом";
    info.dataTracks = std::move(data);
    const char* names[] = {"01 Один", "02 Два", "03 Три"};
    const std::int32_t pregaps[] = {32, 10, 0};
    for (std::size_t k = 0; k < audio_.size(); ++k) {
      const std::string wav = dir_.File("rip/" + std::string(names[k]) + ".wav");
      std::vector<std::int16_t> samples(audio_[k].size() / 2);
      std::memcpy(samples.data(), audio_[k].data(), audio_[k].size());
      test::WriteWav(wav, samples, CdAudioFormat);
      if (ext == "flac") {
        int rc = -1;
        test::Run("flac -s -f --delete-input-file -o " + test::Quote(dir_.File("rip/" + std::string(names[k]) + ".flac")) +
                      " " + test::Quote(wav) + " 2>&1",
                  &rc);
        EXPECT_EQ(rc, 0);
      }
      CueTrack t;
      t.number = static_cast<int>(k) + first_;
      t.file = std::string(names[k]) + "." + ext;
      t.startLba = toc_.tracks[k].start;
      t.pregapSectors = pregaps[k];
      t.sectors = static_cast<std::int32_t>(audio_[k].size() / kSector);
      info.tracks.push_back(t);
    }
    const std::string cue = dir_.File("rip/Группа - Альбом.cue");
    EXPECT_TRUE(WriteTextFile(cue, CueSheetText(info)).Ok());
    return cue;
  }
  std::string Path(int track, const std::string& ext) {
    const char* names[] = {"01 Один", "02 Два", "03 Три"};
    return dir_.File("rip/" + std::string(names[track - 1]) + "." + ext);
  }
  // The entry of the test's disc, every track's checksum (v1, or v2 for
  // track 2) with its confidence.
  std::string EntryFor(const ArToc& toc, const std::vector<int>& audioIndexes, const std::vector<int>& confidence) {
    std::vector<std::pair<int, std::uint32_t>> values;
    std::size_t a = 0;
    for (std::size_t i = 0; i < toc.tracks.size(); ++i) {
      if (!toc.tracks[i].audio) {
        // A data track keeps its place before audio tracks; after the last
        // one it is left out.
        if (a < audioIndexes.size()) values.emplace_back(0, 0);
        continue;
      }
      const int k = audioIndexes[a++];
      const Sums s = Reference(audio_[static_cast<std::size_t>(k)], k == audioIndexes.front(),
                               k == audioIndexes.back());
      values.emplace_back(confidence[static_cast<std::size_t>(k)], k == 1 ? s.v2 : s.v1);
    }
    return Entry(ComputeArDiscIds(toc), values);
  }
  std::string Line(int track, const std::string& ext, const std::string& result) {
    const auto k = static_cast<std::size_t>(track - first_);
    const Sums s = Reference(audio_[k], k == 0, k + 1 == audio_.size());
    return std::to_string(track) + "\t" + Path(track - first_ + 1, ext) + "\t" + Hex(s.v1) + "\t" + Hex(s.v2) + "\t" + result + "\n";
  }
  int Verify(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return RunVerifyCommand(*session_, args, out_, err_);
  }
  void AllMatch(const std::string& ext) {
    const std::string cue = Rip(ext);
    Database db(ComputeArDiscIds(toc_), EntryFor(toc_, {0, 1, 2}, {5, 3, 7}));
    ASSERT_EQ(Verify({"--accuraterip", db.Address(), cue}), 0) << err_.str();
    EXPECT_EQ(out_.str(), Line(1, ext, "match 5") + Line(2, ext, "match 3") + Line(3, ext, "match 7"));
    EXPECT_EQ(err_.str(), "");
    const auto requests = db.Requests();
    ASSERT_EQ(requests.size(), 1u);
    // The address of the disc: offsets 32, 72, 97, lead-out 130 (the
    // identifiers 32+72+97+130 = 0x14b, 32+2*72+3*97+4*130 = 0x3db; CDDB
    // 07 0001 03).
    EXPECT_EQ(requests[0].rfind("GET /accuraterip/b/4/1/dBAR-003-0000014b-000003db-07000103.bin HTTP/1.0\r\n", 0), 0u)
        << requests[0];
  }

  test::TempDir dir_;
  std::string home_;
  ConsoleDialogs dialogs_;
  std::unique_ptr<Session> session_;
  std::ostringstream out_, err_;
  std::vector<std::vector<std::uint8_t>> audio_;
  ArToc toc_;
  int first_ = 1;  // the number of the first audio track
};

TEST_F(CliVerifyTest, AWavRipMatchesTheDatabase) { AllMatch("wav"); }

TEST_F(CliVerifyTest, AFlacRipMatchesTheDatabase) {
  int rc = -1;
  test::Run("command -v flac >/dev/null", &rc);
  if (rc != 0) GTEST_SKIP() << "the flac program is not installed (Debian package flac)";
  AllMatch("flac");
}

TEST_F(CliVerifyTest, OneChangedSampleMakesItsTrackMismatch) {
  const std::string cue = Rip("wav");
  Database db(ComputeArDiscIds(toc_), EntryFor(toc_, {0, 1, 2}, {5, 3, 7}));
  // One sample of track 2 in its file, then the same in the test's copy.
  auto bytes = test::ReadAll(Path(2, "wav"));
  const std::size_t at = 48 + 12345 * 4;
  bytes[at] ^= 0x01;
  test::WriteAll(Path(2, "wav"), bytes);
  audio_[1][12345 * 4] ^= 0x01;
  EXPECT_EQ(Verify({"--accuraterip", db.Address(), cue}), 1);
  EXPECT_EQ(out_.str(), Line(1, "wav", "match 5") + Line(2, "wav", "mismatch") + Line(3, "wav", "match 7"));

  // A change in the first track's skipped start counts for nothing.
  audio_[1][12345 * 4] ^= 0x01;
  bytes[at] ^= 0x01;
  test::WriteAll(Path(2, "wav"), bytes);
  bytes = test::ReadAll(Path(1, "wav"));
  bytes[48 + 100] ^= 0x40;
  test::WriteAll(Path(1, "wav"), bytes);
  EXPECT_EQ(Verify({"--accuraterip", db.Address(), cue}), 0) << err_.str();
  EXPECT_EQ(out_.str().substr(out_.str().size() - 8), "match 7\n");
}

TEST_F(CliVerifyTest, ADiscNotInTheDatabaseIsAbsent) {
  const std::string cue = Rip("wav");
  ArToc other = toc_;
  other.leadOut += 1;  // the database knows another disc only
  Database db(ComputeArDiscIds(other), EntryFor(other, {0, 1, 2}, {5, 3, 7}));
  EXPECT_EQ(Verify({"--accuraterip", db.Address(), cue}), 0);
  EXPECT_EQ(out_.str(), Line(1, "wav", "absent") + Line(2, "wav", "absent") + Line(3, "wav", "absent"));
  EXPECT_EQ(err_.str(), "Диска нет в базе AccurateRip.\n");
}

TEST_F(CliVerifyTest, AnUnreachableServerEndsWithTheReason) {
  const std::string cue = Rip("wav");
  int port = 0;
  {
    LoopbackServer gone([](const std::string&, LoopbackServer::Connection&) {});
    port = gone.Port();
  }
  EXPECT_EQ(Verify({"--accuraterip", "127.0.0.1:" + std::to_string(port), cue}), 1);
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(err_.str().rfind("Не удалось получить запись диска из базы AccurateRip: ", 0), 0u) << err_.str();
  EXPECT_NE(err_.str().find("127.0.0.1:" + std::to_string(port)), std::string::npos) << err_.str();
}

TEST_F(CliVerifyTest, TheServerOfTheSettingsIsAskedWithoutTheOption) {
  const std::string cue = Rip("wav");
  Database db(ComputeArDiscIds(toc_), EntryFor(toc_, {0, 1, 2}, {1, 1, 1}));
  ASSERT_TRUE(session_->ChangeOptions([&](ProgramOptions& o) { o.ArServer = db.Address(); }));
  EXPECT_EQ(Verify({cue}), 0) << err_.str();
  EXPECT_EQ(db.Requests().size(), 1u);
}

TEST_F(CliVerifyTest, AnEnhancedCdsDataTrackComesFromTheSheet) {
  // Track 4 is data, one session gap after the audio: the identifiers count
  // the audio tracks with the disc's true lead-out, CDDB every track.
  ArToc toc = toc_;
  toc.tracks.push_back({130 + 11400, false});
  toc.leadOut = 130 + 11400 + 300;
  const std::string cue = Rip("wav", {CueDataTrack{4, 130 + 11400, 130 + 11400 + 300}});
  EXPECT_NE(ReadFileBytes(cue)->find("REM DATATRACK 04 START 11530 END 11830\n"), std::string::npos);
  Database db(ComputeArDiscIds(toc), EntryFor(toc, {0, 1, 2}, {2, 2, 2}));
  EXPECT_EQ(Verify({"--accuraterip", db.Address(), cue}), 0) << err_.str();
  EXPECT_EQ(out_.str(), Line(1, "wav", "match 2") + Line(2, "wav", "match 2") + Line(3, "wav", "match 2"));

  // Other rippers' way of saying the same: the data track's length only.
  std::string text = *ReadFileBytes(cue);
  text.replace(text.find("REM DATATRACK 04 START 11530 END 11830"), 38, "REM DATATRACKLENGTH 00:04:00");
  WriteFileAtomically(cue, text);
  EXPECT_EQ(Verify({"--accuraterip", db.Address(), cue}), 0) << err_.str();
  EXPECT_EQ(out_.str(), Line(1, "wav", "match 2") + Line(2, "wav", "match 2") + Line(3, "wav", "match 2"));
}

TEST_F(CliVerifyTest, AMixedModeDiscsDataTrackComesFirst) {
  // Track 1 is data: the audio tracks 2..4 start where it ends, whatever
  // the first audio track's PREGAP says; their values stand in the entry
  // at 2..4.
  first_ = 2;
  ArToc toc;
  toc.tracks = {{0, false}, {15000, true}, {15040, true}, {15065, true}};
  toc.leadOut = 15098;
  toc_.tracks = {toc.tracks.begin() + 1, toc.tracks.end()};
  const std::string cue = Rip("wav", {CueDataTrack{1, 0, 15000}});
  Database db(ComputeArDiscIds(toc), EntryFor(toc, {0, 1, 2}, {4, 4, 4}));
  EXPECT_EQ(Verify({"--accuraterip", db.Address(), cue}), 0) << err_.str();
  EXPECT_EQ(out_.str(), Line(2, "wav", "match 4") + Line(3, "wav", "match 4") + Line(4, "wav", "match 4"));
  ASSERT_EQ(db.Requests().size(), 1u);
}

TEST_F(CliVerifyTest, SheetsAndFilesThatCannotBeCheckedSayWhy) {
  const std::string cue = Rip("wav");
  Database db(ComputeArDiscIds(toc_), EntryFor(toc_, {0, 1, 2}, {5, 3, 7}));
  const std::string where = "CUE-файл '" + cue + "' не проверен: ";

  // Audio that is not a whole number of sectors.
  auto bytes = test::ReadAll(Path(3, "wav"));
  test::WriteWav(Path(3, "wav"), std::vector<std::int16_t>(33 * kSector / 2 + 2), CdAudioFormat);
  EXPECT_EQ(Verify({"--accuraterip", db.Address(), cue}), 1);
  EXPECT_EQ(err_.str(), where + "строка 11 CUE-файла: звук файла «03 Три.wav» (77620 байт) — не целое число "
                                "секторов по 2352 байта.\n")
      << ReadFileBytes(cue).value_or("");
  test::WriteAll(Path(3, "wav"), bytes);

  // A file cut short of what its header says.
  bytes.resize(bytes.size() - 100);
  test::WriteAll(Path(3, "wav"), bytes);
  EXPECT_EQ(Verify({"--accuraterip", db.Address(), cue}), 1);
  EXPECT_NE(err_.str().find("обрывается"), std::string::npos) << err_.str();
  fs::remove(Path(3, "wav"));
  EXPECT_EQ(Verify({"--accuraterip", db.Address(), cue}), 1);
  EXPECT_EQ(err_.str(), where + "строка 11 CUE-файла: нет файла «03 Три.wav».\n");
  EXPECT_EQ(out_.str(), "");

  // Not the whole disc.
  WriteFileAtomically(cue, "FILE \"02 Два.wav\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n");
  EXPECT_EQ(Verify({"--accuraterip", db.Address(), cue}), 1);
  EXPECT_EQ(err_.str(), where + "строка 2 CUE-файла: диск начинается с дорожки 2, а дорожки 1 в CUE-файле нет; "
                                "проверяется только весь диск.\n");
  // A track that starts inside its file.
  WriteFileAtomically(cue, "FILE \"02 Два.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n    INDEX 01 00:00:02\n");
  EXPECT_EQ(Verify({"--accuraterip", db.Address(), cue}), 1);
  EXPECT_NE(err_.str().find("начинается не с начала файла «02 Два.wav» (INDEX 01 00:00:02)"), std::string::npos)
      << err_.str();
  EXPECT_TRUE(db.Requests().empty());  // nothing was asked

  // Usage errors.
  EXPECT_EQ(Verify({}), 2);
  EXPECT_EQ(err_.str(), "Не указан CUE-файл\n" + std::string(VerifyUsage()));
  EXPECT_EQ(Verify({cue, "--accuraterip"}), 2);
  EXPECT_EQ(Verify({"--accuraterip", "host:0", cue}), 2);
  EXPECT_EQ(Verify({"--speed", cue}), 2);
  EXPECT_EQ(Verify({cue, cue}), 2);
}

// The sheet as a program on Windows may write it: the files' names in
// another letter case. Each is found when it is the only match in its
// folder; with two candidates the sheet is refused, naming both.
TEST_F(CliVerifyTest, FileNamesInAnotherLetterCaseAreFoundWhenOnlyOneFileMatches) {
  const std::string cue = Rip("wav");
  std::string text = ReadFileBytes(cue).value_or("");
  for (const auto& [from, to] : {std::pair<std::string, std::string>{"01 Один.wav", "01 ОДИН.WAV"},
                                 {"02 Два.wav", "02 два.Wav"}}) {
    const auto at = text.find(from);
    ASSERT_NE(at, std::string::npos) << text;
    text.replace(at, from.size(), to);
  }
  WriteFileAtomically(cue, text);
  Database db(ComputeArDiscIds(toc_), EntryFor(toc_, {0, 1, 2}, {5, 3, 7}));
  ASSERT_EQ(Verify({"--accuraterip", db.Address(), cue}), 0) << err_.str();
  EXPECT_EQ(out_.str(), Line(1, "wav", "match 5") + Line(2, "wav", "match 3") + Line(3, "wav", "match 7"));

  fs::copy_file(Path(1, "wav"), dir_.File("rip/01 один.wav"));
  EXPECT_EQ(Verify({"--accuraterip", db.Address(), cue}), 1);
  EXPECT_EQ(out_.str(), "");
  EXPECT_NE(err_.str().find(": нет файла «01 ОДИН.WAV», а без учёта регистра букв ему соответствуют несколько "
                            "файлов в папке «" + dir_.File("rip") + "»: «01 Один.wav», «01 один.wav»; неясно, "
                            "какой из них имеется в виду.\n"),
            std::string::npos)
      << err_.str();
}

TEST(CueSheetDataTracks, AreRemLinesBeforeTheFirstFile) {
  CueSheetInfo info;
  info.title = "Диск";
  info.tracks = {{2, "02.wav", "", "", "", 15000, 150, 2000}};
  info.dataTracks = {{1, 0, 15000}, {3, 28400, 30000}};
  EXPECT_EQ(CueSheetText(info),
            "TITLE \"Диск\"\n"
            "REM DATATRACK 01 START 0 END 15000\n"
            "REM DATATRACK 03 START 28400 END 30000\n"
            "FILE \"02.wav\" WAVE\n"
            "  TRACK 02 AUDIO\n"
            "    PREGAP 00:02:00\n"
            "    INDEX 01 00:00:00\n");
}

TEST(CliVerifyCommandLine, HelpAndTheCommandThroughTheProgram) {
  test::TempDir dir;
  const std::string home = dir.Path() + "/";
  fs::create_directories(home + "setting");
  std::ostringstream out, err;
  EXPECT_EQ(test::RunCliIn(home, {"--home", home, "verify", "--help"}, out, err), 0);
  EXPECT_EQ(out.str().rfind("usage: sonarvex-cli [OPTIONS] verify [--accuraterip HOST[:PORT]] FILE.cue\n", 0), 0u)
      << out.str();
  // A sheet that is not there: the command runs and says so.
  EXPECT_EQ(test::RunCliIn(home, {"--home", home, "verify", "--accuraterip", "127.0.0.1:9", home + "none.cue"}, out, err), 1);
  EXPECT_NE(err.str().find("CUE-файл '" + home + "none.cue' не проверен: нет файла"), std::string::npos) << err.str();
  EXPECT_EQ(test::RunCliIn(home, {"--home", home, "verify", "--accuraterip"}, out, err), 2);
}

}  // namespace
}  // namespace sonarvex
