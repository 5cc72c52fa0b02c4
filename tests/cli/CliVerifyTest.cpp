// sonarvex-cli verify against a loopback AccurateRip server: rips of a
// synthetic disc (WAV files, FLAC files made by flac) described by the cue
// sheet a rip writes; the server's entry is built here from the test's own
// table of contents and its own small implementation of the v1/v2 checksums.
#include <gtest/gtest.h>

#include <algorithm>
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
  // A track's line naming the file it is found in.
  std::string LineIn(int track, const std::string& path, const std::string& result) {
    const auto k = static_cast<std::size_t>(track - first_);
    const Sums s = Reference(audio_[k], k == 0, k + 1 == audio_.size());
    return std::to_string(track) + "\t" + path + "\t" + Hex(s.v1) + "\t" + Hex(s.v2) + "\t" + result + "\n";
  }
  // Writes PCM as rip/NAME.wav, or as rip/NAME.flac made from it by flac.
  std::string WriteAudio(const std::string& name, const std::string& ext, const std::vector<std::uint8_t>& pcm) {
    const std::string wav = dir_.File("rip/" + name + ".wav");
    std::vector<std::int16_t> samples(pcm.size() / 2);
    std::memcpy(samples.data(), pcm.data(), pcm.size());
    test::WriteWav(wav, samples, CdAudioFormat);
    if (ext == "wav") return wav;
    const std::string flac = dir_.File("rip/" + name + ".flac");
    int rc = -1;
    test::Run("flac -s -f --delete-input-file -o " + test::Quote(flac) + " " + test::Quote(wav) + " 2>&1", &rc);
    EXPECT_EQ(rc, 0);
    return flac;
  }
  // Sectors [from, to) of track k's audio.
  std::vector<std::uint8_t> Part(std::size_t k, std::size_t from, std::size_t to) const {
    return {audio_[k].begin() + static_cast<std::ptrdiff_t>(from * kSector),
            audio_[k].begin() + static_cast<std::ptrdiff_t>(to * kSector)};
  }
  // The disc as one file with an EAC-style sheet (as whipper's
  // surferrosa.eac.single.cue): 32 sectors of audio before track 1's INDEX
  // 01 in the file, track 2's gap as INDEX 00 inside track 1.
  std::string ImageRip(const std::string& ext, const std::string& type = "WAVE") {
    std::vector<std::uint8_t> image = Audio(9, 32);
    for (const auto& a : audio_) image.insert(image.end(), a.begin(), a.end());
    image_ = WriteAudio("Range", ext, image);
    const std::string cue = dir_.File("rip/Range.cue");
    EXPECT_TRUE(WriteTextFile(cue,
                              "REM GENRE Rock\r\nREM DATE 1999\r\nREM DISCID 07000103\r\n"
                              "REM COMMENT \"ExactAudioCopy v0.99pb4\"\r\nCATALOG 0000000000000\r\n"
                              "PERFORMER \"Группа\"\r\nTITLE \"Альбом\"\r\n"
                              "FILE \"Range." + ext + "\" " + type + "\r\n"
                              "  TRACK 01 AUDIO\r\n    TITLE \"Один\"\r\n    INDEX 00 00:00:00\r\n    INDEX 01 00:00:32\r\n"
                              "  TRACK 02 AUDIO\r\n    TITLE \"Два\"\r\n    INDEX 00 00:00:62\r\n    INDEX 01 00:00:72\r\n"
                              "  TRACK 03 AUDIO\r\n    TITLE \"Три\"\r\n    INDEX 01 00:01:22\r\n")
                    .Ok());
    return cue;
  }
  void ImageMatches(const std::string& ext, const std::string& type) {
    const std::string cue = ImageRip(ext, type);
    Database db(ComputeArDiscIds(toc_), EntryFor(toc_, {0, 1, 2}, {5, 3, 7}));
    ASSERT_EQ(Verify({"--accuraterip", db.Address(), cue}), 0) << err_.str();
    EXPECT_EQ(out_.str(), LineIn(1, image_, "match 5") + LineIn(2, image_, "match 3") + LineIn(3, image_, "match 7"));
    EXPECT_EQ(err_.str(), "");
    ASSERT_EQ(db.Requests().size(), 1u);
    EXPECT_EQ(db.Requests()[0].rfind("GET /accuraterip/b/4/1/dBAR-003-0000014b-000003db-07000103.bin HTTP/1.0\r\n", 0), 0u);
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
  std::string image_;  // the disc image of ImageRip
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

TEST_F(CliVerifyTest, AWavImageWithItsSheetMatchesTheDatabase) { ImageMatches("wav", "WAVE"); }

TEST_F(CliVerifyTest, AFlacImageWithItsSheetMatchesTheDatabase) {
  int rc = -1;
  test::Run("command -v flac >/dev/null", &rc);
  if (rc != 0) GTEST_SKIP() << "the flac program is not installed (Debian package flac)";
  // Sheets name FLAC files WAVE, as EAC writes them, or FLAC.
  ImageMatches("flac", "WAVE");
  ImageMatches("flac", "FLAC");
}

TEST_F(CliVerifyTest, AChangedSectorInAnImageMakesItsTrackAloneMismatch) {
  const std::string cue = ImageRip("wav");
  Database db(ComputeArDiscIds(toc_), EntryFor(toc_, {0, 1, 2}, {5, 3, 7}));
  // A sample of track 2 (the image's sectors 72..96), then of track 2's
  // gap (sector 62), which AccurateRip counts to track 1.
  audio_[1][20 * kSector + 8] ^= 0x10;
  ImageRip("wav");
  EXPECT_EQ(Verify({"--accuraterip", db.Address(), cue}), 1);
  EXPECT_EQ(out_.str(), LineIn(1, image_, "match 5") + LineIn(2, image_, "mismatch") + LineIn(3, image_, "match 7"));
  audio_[1][20 * kSector + 8] ^= 0x10;
  audio_[0][30 * kSector + 4] ^= 0x01;
  ImageRip("wav");
  EXPECT_EQ(Verify({"--accuraterip", db.Address(), cue}), 1);
  EXPECT_EQ(out_.str(), LineIn(1, image_, "mismatch") + LineIn(2, image_, "match 3") + LineIn(3, image_, "match 7"));
}

// Gaps prepended to the next track (as whipper's surferrosa.eac.corrected.cue):
// each file starts at its track's INDEX 00; track 1's file holds the 32
// sectors before its INDEX 01, track 2's file the 10 sectors of its gap,
// which belong to track 1.
TEST_F(CliVerifyTest, GapsPrependedToTheNextTrackAreTheTrackBefore) {
  auto files = [this] {
    std::vector<std::uint8_t> one = Audio(9, 32), two = Part(0, 30, 40);
    const auto head = Part(0, 0, 30), second = Part(1, 0, 25);
    one.insert(one.end(), head.begin(), head.end());
    two.insert(two.end(), second.begin(), second.end());
    return std::vector<std::string>{WriteAudio("01 Один", "wav", one), WriteAudio("02 Два", "wav", two),
                                    WriteAudio("03 Три", "wav", Part(2, 0, 33))};
  };
  const auto paths = files();
  const std::string cue = dir_.File("rip/prepended.cue");
  ASSERT_TRUE(WriteTextFile(cue,
                            "PERFORMER \"Группа\"\r\nTITLE \"Альбом\"\r\n"
                            "FILE \"01 Один.wav\" WAVE\r\n  TRACK 01 AUDIO\r\n    INDEX 00 00:00:00\r\n    INDEX 01 00:00:32\r\n"
                            "FILE \"02 Два.wav\" WAVE\r\n  TRACK 02 AUDIO\r\n    INDEX 00 00:00:00\r\n    INDEX 01 00:00:10\r\n"
                            "FILE \"03 Три.wav\" WAVE\r\n  TRACK 03 AUDIO\r\n    INDEX 01 00:00:00\r\n")
                  .Ok());
  Database db(ComputeArDiscIds(toc_), EntryFor(toc_, {0, 1, 2}, {5, 3, 7}));
  ASSERT_EQ(Verify({"--accuraterip", db.Address(), cue}), 0) << err_.str();
  EXPECT_EQ(out_.str(), LineIn(1, paths[0], "match 5") + LineIn(2, paths[1], "match 3") + LineIn(3, paths[2], "match 7"));
  ASSERT_EQ(db.Requests().size(), 1u);
  EXPECT_EQ(db.Requests()[0].rfind("GET /accuraterip/b/4/1/dBAR-003-0000014b-000003db-07000103.bin HTTP/1.0\r\n", 0), 0u);

  // A sample in track 2's file before its INDEX 01 is track 1's.
  audio_[0][35 * kSector + 2] ^= 0x04;
  files();
  EXPECT_EQ(Verify({"--accuraterip", db.Address(), cue}), 1);
  EXPECT_EQ(out_.str(), LineIn(1, paths[0], "mismatch") + LineIn(2, paths[1], "match 3") + LineIn(3, paths[2], "match 7"));
}

// Gaps left out of the files (as whipper's surferrosa.eac.leftout.cue): a
// PREGAP is silence no file holds, counted to the track before.
TEST_F(CliVerifyTest, GapsLeftOutAreSilenceOfTheTrackBefore) {
  std::fill(audio_[0].begin() + 30 * kSector, audio_[0].end(), 0);  // a silent gap on the disc
  const std::vector<std::string> paths = {WriteAudio("01 Один", "wav", Part(0, 0, 30)),
                                          WriteAudio("02 Два", "wav", Part(1, 0, 25)),
                                          WriteAudio("03 Три", "wav", Part(2, 0, 33))};
  const std::string cue = dir_.File("rip/leftout.cue");
  ASSERT_TRUE(WriteTextFile(cue,
                            "FILE \"01 Один.wav\" WAVE\n  TRACK 01 AUDIO\n    PREGAP 00:00:32\n    INDEX 01 00:00:00\n"
                            "FILE \"02 Два.wav\" WAVE\n  TRACK 02 AUDIO\n    PREGAP 00:00:10\n    INDEX 01 00:00:00\n"
                            "FILE \"03 Три.wav\" WAVE\n  TRACK 03 AUDIO\n    INDEX 01 00:00:00\n")
                  .Ok());
  {
    Database db(ComputeArDiscIds(toc_), EntryFor(toc_, {0, 1, 2}, {5, 3, 7}));
    ASSERT_EQ(Verify({"--accuraterip", db.Address(), cue}), 0) << err_.str();
    EXPECT_EQ(out_.str(), LineIn(1, paths[0], "match 5") + LineIn(2, paths[1], "match 3") + LineIn(3, paths[2], "match 7"));
  }
  // A disc whose gap was not silent: track 1 alone does not match.
  const auto silent = audio_[0];
  audio_[0][33 * kSector] = 1;
  Database db(ComputeArDiscIds(toc_), EntryFor(toc_, {0, 1, 2}, {5, 3, 7}));
  audio_[0] = silent;
  EXPECT_EQ(Verify({"--accuraterip", db.Address(), cue}), 1);
  EXPECT_EQ(out_.str(), LineIn(1, paths[0], "mismatch") + LineIn(2, paths[1], "match 3") + LineIn(3, paths[2], "match 7"));
}

// EAC's sheets of one real disc (whipper's surferrosa.*.cue, see
// tests/data/whipper/README.md) in four layouts, over files of the disc's
// sizes (sparse, silent): each gives the disc's identifiers, with the CDDB
// identifier EAC wrote into them (REM DISCID 350CAA15). The server answers
// with an error, so that the files are not read.
TEST_F(CliVerifyTest, EacSheetsOfARealDiscInEveryLayoutGiveItsIdentifiers) {
  // The disc (surferrosa.toc): track 1 after 32 sectors of silence, track
  // 3's gap of 45 sectors, the lead-out.
  const std::vector<std::int64_t> starts = {32, 13767, 23187, 31267, 38025, 55645, 67035,
                                            84540, 94795, 103215, 111257, 134195, 141852, 150920,
                                            165495, 178522, 186122, 197372, 207460, 217750, 231307};
  const std::int64_t gap3 = 23187 - 45, leadOut = 243195;
  std::vector<std::int64_t> tracks;  // INDEX 01 to INDEX 01
  for (std::size_t k = 0; k < starts.size(); ++k)
    tracks.push_back((k + 1 < starts.size() ? starts[k + 1] : leadOut) - starts[k]);
  std::vector<std::int64_t> appended = tracks, prepended = tracks, leftout = tracks;
  appended[0] = starts[1] - 32;                  // PREGAP 00:00:32
  prepended[0] = starts[1];                      // INDEX 01 00:00:32
  prepended[1] = gap3 - starts[1];               // track 3's gap in its own file
  prepended[2] = starts[3] - gap3;
  leftout = prepended;
  leftout[0] = appended[0];
  leftout[2] = starts[3] - starts[2];            // PREGAP 00:00:45
  const std::vector<std::pair<std::string, std::vector<std::int64_t>>> layouts = {
      {"surferrosa.eac.single.cue", {leadOut}},
      {"surferrosa.eac.currentgap.cue", appended},
      {"surferrosa.eac.corrected.cue", prepended},
      {"surferrosa.eac.leftout.cue", leftout}};
  LoopbackServer server([](const std::string&, LoopbackServer::Connection& c) {
    c.Send("HTTP/1.0 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n");
  });
  std::size_t asked = 0;
  for (const auto& [name, sizes] : layouts) {
    SCOPED_TRACE(name);
    const std::string folder = dir_.File(name.substr(0, name.size() - 4)) + "/";
    fs::create_directories(folder);
    const std::string sheet = ReadFileBytes(std::string(SONARVEX_SOURCE_DIR) + "/tests/data/whipper/" + name).value_or("");
    std::vector<std::string> files;
    for (std::size_t at = sheet.find("FILE \""); at != std::string::npos; at = sheet.find("FILE \"", at + 1)) {
      std::string file = sheet.substr(at + 6, sheet.find('"', at + 6) - at - 6);
      std::replace(file.begin(), file.end(), '\\', '/');
      files.push_back(file);
    }
    ASSERT_EQ(files.size(), sizes.size());
    for (std::size_t f = 0; f < files.size(); ++f) {
      // A WAV header and silence as a hole.
      const std::string path = folder + files[f];
      fs::create_directories(fs::path(path).parent_path());
      const auto data = static_cast<std::uint32_t>(sizes[f] * static_cast<std::int64_t>(kSector));
      std::vector<std::uint8_t> header(44);
      auto put = [&](std::size_t at, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) header[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
      };
      std::memcpy(&header[0], "RIFF", 4);
      put(4, data + 36, 4);
      std::memcpy(&header[8], "WAVEfmt ", 8);
      put(16, 16, 4);
      put(20, 1, 2);
      put(22, 2, 2);
      put(24, 44100, 4);
      put(28, 176400, 4);
      put(32, 4, 2);
      put(34, 16, 2);
      std::memcpy(&header[36], "data", 4);
      put(40, data, 4);
      test::WriteAll(path, header);
      fs::resize_file(path, 44 + static_cast<std::uintmax_t>(data));
    }
    WriteFileAtomically(folder + "disc.cue", sheet);
    EXPECT_EQ(Verify({"--accuraterip", "127.0.0.1:" + std::to_string(server.Port()), folder + "disc.cue"}), 1);
    EXPECT_EQ(err_.str().rfind("Не удалось получить запись диска из базы AccurateRip: ", 0), 0u) << err_.str();
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), ++asked);
    EXPECT_EQ(requests.back().rfind("GET /accuraterip/b/d/8/dBAR-021-0028d8db-0273910f-350caa15.bin HTTP/1.0\r\n", 0), 0u)
        << requests.back();
  }
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
  // A track that starts beyond the end of its file (25 sectors).
  WriteFileAtomically(cue, "FILE \"02 Два.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n    INDEX 01 00:00:26\n");
  EXPECT_EQ(Verify({"--accuraterip", db.Address(), cue}), 1);
  EXPECT_EQ(err_.str(), where + "строка 2 CUE-файла: INDEX 01 дорожки 1 (00:00:26) лежит за концом файла "
                                "«02 Два.wav» (00:00:25).\n");
  // A track that starts where the one before it starts.
  WriteFileAtomically(cue, "FILE \"02 Два.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                           "  TRACK 02 AUDIO\n    INDEX 00 00:00:00\n    INDEX 01 00:00:05\n");
  EXPECT_EQ(Verify({"--accuraterip", db.Address(), cue}), 1);
  EXPECT_EQ(err_.str(), where + "строка 4 CUE-файла: дорожка 2 начинается не после начала дорожки 1.\n");
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
