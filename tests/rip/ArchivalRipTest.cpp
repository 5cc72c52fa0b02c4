// Archival rips through the command line: FLAC files that decode to what
// cd-paranoia reads, reads corrected by the drive's read offset, the
// AccurateRip check against a database on loopback, and the log and cue
// sheet left beside the files.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

#include "../drive/DriveRig.h"
#include "LoopbackServer.h"
#include "NoiseImage.h"
#include "accuraterip/AccurateRip.h"
#include "cli/CliCommands.h"
#include "drive/virtual/DemoDisc.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "platform/Shell.h"
#include "platform/Version.h"
#include "records/RecordTexts.h"
#include "records/SettingsRecord.h"
#include "records/TextFields.h"
#include "RipTestDoubles.h"
#include "rip/EncoderRipAdapter.h"
#include "rip/RipReport.h"
#include "rip/TransportRipDrive.h"
#include "codec/EncoderSet.h"
#include "drive/DiscModel.h"
#include "drive/virtual/VirtualDisc.h"
#include "drive/virtual/VirtualDrive.h"
#include "recording/Compilation.h"
#include "codec/FlacReader.h"
#include "codec/FlacWriter.h"
#include "codec/OpusWriter.h"
#include "tests/codec/SignalCompare.h"
#include "platform/ScriptedDialogs.h"
#include "tests/cli/CliRunner.h"

namespace sonarvex {
namespace {

class ArchivalRipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = test::MakeTempFolder() + "/";
    MakeDirectories(home_ + "music");
    MakeDirectories(home_ + "images");
    test::WriteSettingsFile(home_, test::FirstProfile(home_ + "music/"));
  }
  void TearDown() override { std::filesystem::remove_all(home_); }

  int Run(std::vector<std::string> args) {
    std::vector<std::string> all = {"--home", home_};
    all.insert(all.end(), args.begin(), args.end());
    return test::RunCliIn(home_, all, out_, err_);
  }
  std::vector<std::vector<std::string>> Rows() { return test::TabRows(out_.str()); }
  void ClearMusic() {
    std::filesystem::remove_all(home_ + "music");
    MakeDirectories(home_ + "music");
  }
  std::string Capture(const std::vector<std::string>& argv, int* status = nullptr) {
    return test::CaptureOutput(argv, true, status);
  }

  std::string home_;
  std::ostringstream out_, err_;
};

TEST_F(ArchivalRipTest, FlacRipDecodesToWhatCdParanoiaReadsAndCarriesItsTags) {
  std::string error;
  const std::string cue = WriteDemoDisc(home_ + "images", &error);
  ASSERT_FALSE(cue.empty()) << error;
  // Titles in Cyrillic and Japanese through the CDDB server on loopback.
  const std::vector<std::string> titles = {"Группа крови", "東京事変 – 群青日和", "Кино", "夜"};
  std::string queried;  // the CDDB identifier the disc was asked for
  {
    test::LoopbackServer server(test::CddbAnswering(
        "misc", "Кино / 東京",
        "DYEAR=1988\r\nTTITLE0=" + titles[0] + "\r\nTTITLE1=" + titles[1] + "\r\nTTITLE2=" +
            titles[2] + "\r\nTTITLE3=" + titles[3] + "\r\nTTITLE4=Data\r\n",
        &queried));
    ASSERT_TRUE(test::EditSettingsFile(
        home_, [&](SettingsRecord& s) { test::UseCddbOnLoopback(s, server.Port()); }));
    ASSERT_EQ(Run({"--image", cue, "cddb"}), 0) << err_.str();
  }
  ASSERT_EQ(Run({"--image", cue, "rip", "--format", "flac", "--tracks", "1-4"}), 0) << err_.str();
  auto rows = Rows();
  ASSERT_EQ(rows.size(), 4u) << out_.str();
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(rows[i].size(), 2u);
    EXPECT_EQ(rows[i][1], home_ + "music/" + std::to_string(i) + " - " + titles[i] + ".flac");
  }
  // The log and the cue sheet are written beside them.
  const std::string log = home_ + "music/Кино - 東京.log", sheet = home_ + "music/Кино - 東京.cue";
  auto logText = ReadFileBytes(log);
  auto cueText = ReadFileBytes(sheet);
  ASSERT_TRUE(logText && cueText);
  EXPECT_NE(logText->find("Привод: Virtual CD demo\n"), std::string::npos) << *logText;
  EXPECT_NE(logText->find("Файл: 1 - 東京事変 – 群青日和.flac\n"), std::string::npos) << *logText;
  EXPECT_NE(logText->find("CRC32: "), std::string::npos);
  // Named as other programs name FLAC files, with the disc's REM lines
  // first: the year of the CDDB entry, the identifier it was asked for (in
  // upper case), the program.
  std::string discId = queried;
  for (char& c : discId) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ASSERT_EQ(discId.size(), 8u);
  EXPECT_NE(cueText->find("REM DATE 1988\nREM DISCID " + discId + "\nREM COMMENT \"Sonarvex " +
                          std::string(kProgramVersion) + "\"\nPERFORMER \"Кино\"\n"),
            std::string::npos)
      << *cueText;
  EXPECT_NE(cueText->find("FILE \"0 - Группа крови.flac\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"Группа крови\"\n"),
            std::string::npos)
      << *cueText;
  EXPECT_NE(cueText->find("PERFORMER \"Кино\"\nTITLE \"東京\"\n"), std::string::npos) << *cueText;
  {
    // The recording window takes the sheet as a compilation: the tracks in
    // order, decoded to CD audio of their exact length.
    ScriptedDialogs dialogs;
    Compilation compilation(home_ + "burn-temp/", dialogs);
    ASSERT_TRUE(compilation.AddCueSheet(sheet, false));
    ASSERT_EQ(compilation.Rows().size(), 4u);
    for (int i = 0; i < 4; ++i) {
      FlacReader reader;
      ASSERT_TRUE(reader.Open(rows[i][1]).Ok()) << rows[i][1];
      EXPECT_EQ(compilation.Rows()[i].bytes, reader.PcmBytes()) << i;
    }
  }

  const std::string flac = FindInPath("flac"), metaflac = FindInPath("metaflac"),
                    paranoia = FindInPath("cd-paranoia");
  if (flac.empty() || metaflac.empty() || paranoia.empty())
    GTEST_SKIP() << "flac, metaflac or cd-paranoia is not installed";
  for (int i = 0; i < 4; ++i) {
    const std::string file = rows[i][1];
    int status = -1;
    const std::string tested = Capture({flac, "-t", "-s", file}, &status);
    EXPECT_EQ(status, 0) << tested;
    const std::string raw = home_ + "p" + std::to_string(i) + ".raw";
    const std::string decoded = home_ + "d" + std::to_string(i) + ".raw";
    ASSERT_EQ(RunProgram({paranoia, "-q", "-d", cue, "-r", std::to_string(i + 1), raw}), 0);
    ASSERT_EQ(RunProgram({flac, "-d", "-s", "--force-raw-format", "--endian=little", "--sign=signed",
                          "-o", decoded, file}),
              0);
    auto ours = ReadFileBytes(decoded), theirs = ReadFileBytes(raw);
    ASSERT_TRUE(ours && theirs);
    EXPECT_TRUE(*ours == *theirs) << "track " << i + 1;
    const std::string tags = Capture({metaflac, "--export-tags-to=-", file});
    EXPECT_NE(tags.find("TITLE=" + titles[i] + "\n"), std::string::npos) << tags;
    EXPECT_NE(tags.find("ARTIST=Кино\n"), std::string::npos) << tags;
    EXPECT_NE(tags.find("ALBUM=東京\n"), std::string::npos) << tags;
    EXPECT_NE(tags.find("TRACKTOTAL=4\n"), std::string::npos) << tags;
    EXPECT_NE(tags.find("DATE=1988\n"), std::string::npos) << tags;
  }
}

TEST_F(ArchivalRipTest, ReadsAreCorrectedByTheDrivesOffset) {
  const NoiseImage image = MakeNoiseImage(home_ + "images/", "noise", {300, 227, 410}, 7);
  for (int offset : {667, -1164}) {
    SCOPED_TRACE(offset);
    // A software drive that reads `offset` samples off, as real drives do.
    ASSERT_TRUE(WriteFileAtomically(home_ + "setting/vdrives.lst",
                                    "offset=" + std::to_string(offset) + " " + image.cue + "\n"));
    ASSERT_EQ(Run({"offset", "set", "0"}), 0) << err_.str();
    ClearMusic();
    ASSERT_EQ(Run({"rip", "--format", "wav"}), 0) << err_.str();
    auto rows = Rows();
    ASSERT_EQ(rows.size(), 3u);
    // Without the setting the audio is shifted.
    for (int i = 0; i < 3; ++i) EXPECT_NE(WavAudio(rows[i][1]), image.Track(i)) << i;

    ASSERT_EQ(Run({"offset", "set", std::to_string(offset)}), 0) << err_.str();
    ASSERT_EQ(Run({"offset"}), 0);
    EXPECT_EQ(out_.str().rfind(std::to_string(offset) + "\t", 0), 0u) << out_.str();
    ClearMusic();
    ASSERT_EQ(Run({"rip", "--format", "wav"}), 0) << err_.str();
    rows = Rows();
    ASSERT_EQ(rows.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(WavAudio(rows[i][1]) == image.Track(i)) << i;
    auto log = ReadFileBytes(home_ + "music/Sonarvex.log");
    ASSERT_TRUE(log);
    EXPECT_NE(log->find(std::string("Сдвиг чтения: ") + (offset > 0 ? "+" : "") +
                        std::to_string(offset) + "\n"),
              std::string::npos)
        << *log;
  }
  EXPECT_NE(Run({"offset", "set", "6000"}), 0);
}

// Two drives, one of them off by a read offset: the offset stored for the
// drive a rip reads from is the one that corrects it, whichever drive the
// settings select.
TEST_F(ArchivalRipTest, TheOffsetOfTheDriveRippedFromIsUsed) {
  const NoiseImage image = MakeNoiseImage(home_ + "images/", "noise", {300, 227}, 5);
  ASSERT_TRUE(WriteFileAtomically(home_ + "setting/vdrives.lst",
                                  image.cue + "\noffset=667 " + image.cue + "\n"));
  ASSERT_EQ(Run({"drives"}), 0) << err_.str();
  const auto drives = Rows();
  ASSERT_EQ(drives.size(), 2u);
  ASSERT_GE(drives[0].size(), 3u);
  ASSERT_NE(drives[0][2], drives[1][2]) << "the two drives share one name";
  ASSERT_EQ(Run({"offset", "set", "667", "--drive", "1"}), 0) << err_.str();
  ASSERT_EQ(Run({"offset", "--drive", "0"}), 0);
  EXPECT_EQ(out_.str().rfind("0\t", 0), 0u) << out_.str();
  ASSERT_EQ(Run({"rip", "--format", "wav", "--drive", "1"}), 0) << err_.str();
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(WavAudio(rows[i][1]) == image.Track(i)) << i;
  auto log = ReadFileBytes(home_ + "music/Sonarvex.log");
  ASSERT_TRUE(log);
  EXPECT_NE(log->find("Сдвиг чтения: +667\n"), std::string::npos) << *log;
  std::string name = drives[1][2];
  while (!name.empty() && name.back() == ' ') name.pop_back();
  EXPECT_NE(log->find("Привод: " + name + "\n"), std::string::npos) << *log;
}

TEST_F(ArchivalRipTest, EveryTrackIsCheckedAgainstTheDatabase) {
  const std::vector<std::int32_t> lengths = {300, 227, 410};
  const NoiseImage image = MakeNoiseImage(home_ + "images/", "clean", lengths, 11);
  // The same disc with one sector of track 2 read wrong.
  const NoiseImage damaged = MakeNoiseImage(home_ + "images/", "damaged", lengths, 11, 400);
  ArToc toc;
  for (std::int32_t s : image.starts) toc.tracks.push_back({s, true});
  toc.leadOut = image.end;
  const ArDiscIds ids = ComputeArDiscIds(toc);
  std::vector<std::uint32_t> v1s;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> sums;
  for (int i = 0; i < 3; ++i) {
    sums.push_back(ArOf(image.Track(i), i == 0, i == 2));
    v1s.push_back(sums.back().first);
  }
  bool inDatabase = true;
  const std::string entry = EntryOf(ids, v1s, 12);
  test::LoopbackServer server([&](const std::string& request, test::LoopbackServer::Connection& c) {
    if (inDatabase && request.find(ArEntryPath(ids)) != std::string::npos)
      c.Send(test::HttpResponse(entry));
    else
      c.Send("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n");
  });
  const std::string host = "127.0.0.1:" + std::to_string(server.Port());

  ASSERT_EQ(Run({"--image", image.cue, "rip", "--format", "wav", "--accuraterip", host}), 0)
      << err_.str();
  auto rows = Rows();
  ASSERT_EQ(rows.size(), 3u) << out_.str();
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(rows[i].size(), 5u) << out_.str();
    EXPECT_EQ(rows[i][0], std::to_string(i + 1));
    EXPECT_EQ(rows[i][2], ArHex(sums[i].first));
    EXPECT_EQ(rows[i][3], ArHex(sums[i].second));
    EXPECT_EQ(rows[i][4], "match 12");
  }
  auto log = ReadFileBytes(home_ + "music/Sonarvex.log");
  ASSERT_TRUE(log);
  // The disc as the database names it, not the address of its entry.
  const std::string entryPath = ArEntryPath(ids);
  const std::string discName = entryPath.substr(entryPath.rfind('/') + 1, entryPath.size() - entryPath.rfind('/') - 5);
  EXPECT_EQ(discName.rfind("dBAR-003-", 0), 0u) << discName;
  EXPECT_NE(log->find("\nAccurateRip: " + discName + "\n"), std::string::npos) << *log;
  EXPECT_EQ(log->find("/accuraterip/"), std::string::npos) << *log;
  EXPECT_NE(log->find("AccurateRip: v1 " + ArHex(sums[1].first) + ", v2 " + ArHex(sums[1].second) +
                      ", точно (достоверность 12)\n"),
            std::string::npos)
      << *log;

  // One bad sector: that track alone does not match, and the run says so.
  ClearMusic();
  EXPECT_EQ(Run({"--image", damaged.cue, "rip", "--format", "wav", "--accuraterip", host}), 1);
  rows = Rows();
  ASSERT_EQ(rows.size(), 3u) << out_.str();
  EXPECT_EQ(rows[0][4], "match 12");
  EXPECT_EQ(rows[1][4], "mismatch");
  EXPECT_EQ(rows[2][4], "match 12");
  EXPECT_NE(err_.str().find("AccurateRip"), std::string::npos) << err_.str();

  // A disc the database does not know: every track is absent, the rip is fine.
  inDatabase = false;
  ClearMusic();
  ASSERT_EQ(Run({"--image", image.cue, "rip", "--format", "wav", "--accuraterip", host}), 0)
      << err_.str();
  rows = Rows();
  ASSERT_EQ(rows.size(), 3u);
  for (const auto& r : rows) EXPECT_EQ(r[4], "absent");

  // The cue sheet beside the files checks them again, with the same result.
  inDatabase = true;
  ClearMusic();
  ASSERT_EQ(Run({"--image", image.cue, "rip", "--format", "flac", "--accuraterip", host}), 0)
      << err_.str();
  const auto ripped = Rows();
  ASSERT_EQ(Run({"verify", home_ + "music/Sonarvex.cue", "--accuraterip", host}), 0) << err_.str();
  rows = Rows();
  ASSERT_EQ(rows.size(), 3u) << out_.str();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(rows[i][2], ripped[i][2]);
    EXPECT_EQ(rows[i][3], ripped[i][3]);
    EXPECT_EQ(rows[i][4], "match 12");
  }

  // No check asked for: the plain lines.
  ClearMusic();
  ASSERT_EQ(Run({"--image", image.cue, "rip", "--format", "wav", "--no-verify"}), 0);
  for (const auto& r : Rows()) EXPECT_EQ(r.size(), 2u);
}

TEST_F(ArchivalRipTest, TracksCompressedSideBySideAreTheFilesOfOneAfterTheOther) {
  const NoiseImage image = MakeNoiseImage(home_ + "images/", "jobs", {300, 227, 410, 120}, 5);
  std::map<std::string, std::string> files[2];
  for (int k = 0; k < 2; ++k) {
    ClearMusic();
    const std::string jobs = k == 0 ? "1" : "3";
    ASSERT_EQ(Run({"--image", image.cue, "rip", "--format", "flac", "--jobs", jobs, "--no-verify"}),
              0)
        << err_.str();
    for (const auto& row : Rows()) {
      ASSERT_EQ(row.size(), 2u);
      files[k][row[1]] = *ReadFileBytes(row[1]);
    }
  }
  ASSERT_EQ(files[0].size(), 4u);
  EXPECT_TRUE(files[0] == files[1]);
}

// The level kept in the INI store reaches every FLAC file, whether the
// grab's own encoder or a worker of the pool writes it.
TEST_F(ArchivalRipTest, TheStoredFlacLevelReachesEveryWorkersFiles) {
  if (!FlacWriter().Available()) GTEST_SKIP() << kFlacLibraryName << " cannot be loaded";
  const NoiseImage image = MakeNoiseImage(home_ + "images/", "level", {300, 227, 410, 120}, 5);
  for (const char* level : {"0", "8"}) {
    WriteFileAtomically(home_ + "setting/sonarvex.ini", std::string("[FLAC]\nLevel=") + level + "\n");
    std::map<std::string, std::string> files[2];
    for (int k = 0; k < 2; ++k) {
      SCOPED_TRACE(std::string("level ") + level + (k == 0 ? ", one worker" : ", three workers"));
      ClearMusic();
      ASSERT_EQ(Run({"--image", image.cue, "rip", "--format", "flac", "--jobs", k == 0 ? "1" : "3",
                     "--no-verify"}),
                0)
          << err_.str();
      for (const auto& row : Rows()) {
        ASSERT_EQ(row.size(), 2u);
        const std::string bytes = *ReadFileBytes(row[1]);
        ASSERT_GT(bytes.size(), 12u);
        ASSERT_EQ(bytes.substr(0, 4), "fLaC");
        // STREAMINFO's largest block: 1152 samples at level 0, 4096 at 8.
        const int largest = static_cast<std::uint8_t>(bytes[10]) << 8 | static_cast<std::uint8_t>(bytes[11]);
        EXPECT_EQ(largest, level[0] == '0' ? 1152 : 4096) << row[1];
        files[k][row[1]] = bytes;
      }
    }
    ASSERT_EQ(files[0].size(), 4u);
    EXPECT_TRUE(files[0] == files[1]);
  }
}

TEST_F(ArchivalRipTest, TheCueSheetOfARipHoldsTheDiscsPregapsCatalogueAndIsrcs) {
  // Three tracks; track 2 has a pregap of one second, track 3 one of 33
  // sectors (INDEX 00 in the image), track 1 an ISRC, the disc a catalogue.
  const NoiseImage image = MakeNoiseImage(home_ + "images/", "gaps", {300, 227, 410}, 3);
  const std::string sheet =
      "CATALOG 0724384960650\nFILE \"gaps.bin\" BINARY\n"
      "  TRACK 01 AUDIO\n    ISRC GBAYE6700149\n    INDEX 01 00:00:00\n"
      "  TRACK 02 AUDIO\n    INDEX 00 " + CueTimeOf(300 - 75) + "\n    INDEX 01 " + CueTimeOf(300) +
      "\n  TRACK 03 AUDIO\n    INDEX 00 " + CueTimeOf(527 - 33) + "\n    INDEX 01 " +
      CueTimeOf(527) + "\n";
  ASSERT_TRUE(WriteFileAtomically(image.cue, sheet));
  ASSERT_EQ(Run({"--image", image.cue, "rip", "--format", "wav", "--no-verify"}), 0) << err_.str();
  auto cue = ReadFileBytes(home_ + "music/Sonarvex.cue");
  ASSERT_TRUE(cue);
  EXPECT_EQ(*cue,
            "REM DISCID 11000C03\nREM COMMENT \"Sonarvex " + std::string(kProgramVersion) + "\"\n"
            "CATALOG 0724384960650\n"
            "FILE \"0 - Track1.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"Track1\"\n"
            "    ISRC GBAYE6700149\n    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n    TITLE \"Track2\"\n    INDEX 00 00:03:00\n"
            "FILE \"1 - Track2.wav\" WAVE\n    INDEX 01 00:00:00\n"
            "  TRACK 03 AUDIO\n    TITLE \"Track3\"\n    INDEX 00 00:02:44\n"
            "FILE \"2 - Track3.wav\" WAVE\n    INDEX 01 00:00:00\n");
  // The recording window takes it back: the three files, the whole program area.
  ScriptedDialogs dialogs;
  Compilation compilation(home_ + "burn-temp/", dialogs);
  ASSERT_TRUE(compilation.AddCueSheet(home_ + "music/Sonarvex.cue", false));
  ASSERT_EQ(compilation.Rows().size(), 3u);
  EXPECT_EQ(compilation.TotalBytes(), image.audio.size());
}

// An enhanced CD (audio, then a data track in a second session): the rip and
// a later `verify` of its cue sheet ask the database for the same entry, one
// counted with the data track where the drive says it lies, and agree.
TEST_F(ArchivalRipTest, AnEnhancedCdIsCheckedTheSameWhenRippedAndWhenVerifiedLater) {
  const NoiseImage image = MakeNoiseImage(home_ + "images/", "enh", {300, 227}, 9);
  ASSERT_TRUE(WriteFileAtomically(home_ + "images/data.bin", std::string(2048u * 400, '\x11')));
  ASSERT_TRUE(WriteFileAtomically(
      image.cue, "FILE \"enh.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                 "  TRACK 02 AUDIO\n    INDEX 01 " + CueTimeOf(300) +
                 "\nREM SESSION 02\nFILE \"data.bin\" BINARY\n  TRACK 03 MODE1/2048\n"
                 "    INDEX 01 00:00:00\n"));
  // The drive's table: the data track after the gap between the sessions.
  ArToc toc;
  toc.tracks = {{0, true}, {300, true}, {527 + 11400, false}};
  toc.leadOut = 527 + 11400 + 400;
  const ArDiscIds ids = ComputeArDiscIds(toc);
  const std::vector<std::uint32_t> v1s = {ArOf(image.Track(0), true, false).first,
                                          ArOf(image.Track(1), false, true).first};
  const std::string entry = EntryOf(ids, v1s, 3);
  std::vector<std::string> asked;
  test::LoopbackServer server([&](const std::string& request, test::LoopbackServer::Connection& c) {
    asked.push_back(request.substr(0, request.find(" HTTP/")));
    if (request.find(ArEntryPath(ids)) != std::string::npos) c.Send(test::HttpResponse(entry));
  });
  const std::string host = "127.0.0.1:" + std::to_string(server.Port());
  ASSERT_EQ(Run({"--image", image.cue, "rip", "--format", "flac", "--accuraterip", host}), 0)
      << err_.str();
  auto rows = Rows();
  ASSERT_EQ(rows.size(), 2u) << out_.str();
  for (const auto& r : rows) EXPECT_EQ(r.back(), "match 3");
  ASSERT_EQ(Run({"verify", home_ + "music/Sonarvex.cue", "--accuraterip", host}), 0) << err_.str();
  rows = Rows();
  ASSERT_EQ(rows.size(), 2u) << out_.str();
  for (const auto& r : rows) EXPECT_EQ(r.back(), "match 3");
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0], asked[1]);
  EXPECT_EQ(asked[0], "GET " + ArEntryPath(ids));
}

// The ripping loop on the software drive, one of whose sectors comes back
// wrong without the drive noticing: that track alone does not match the
// database entry made from the true audio.
TEST_F(ArchivalRipTest, ASectorReadWrongWithoutAnErrorFailsItsTrackAlone) {
  VirtualDisc disc = BuildAudioDisc({300, 227, 410});
  ArToc toc;
  for (const auto& t : disc.tracks) toc.tracks.push_back({t.startLba, true});
  toc.leadOut = disc.leadOutLba;
  const ArDiscIds ids = ComputeArDiscIds(toc);
  std::vector<std::uint32_t> v1s;
  for (std::size_t i = 0; i < disc.tracks.size(); ++i) {
    const std::int32_t end = i + 1 < disc.tracks.size() ? disc.tracks[i + 1].startLba : disc.leadOutLba;
    std::string audio;
    std::vector<std::uint8_t> sector(kSector);
    for (std::int32_t lba = disc.tracks[i].startLba; lba < end; ++lba) {
      ASSERT_TRUE(disc.read(lba, sector.data()));
      audio.append(reinterpret_cast<const char*>(sector.data()), sector.size());
    }
    v1s.push_back(ArOf(audio, i == 0, i + 1 == disc.tracks.size()).first);
  }
  const std::string entry = EntryOf(ids, v1s, 5);
  test::LoopbackServer server([&](const std::string& request, test::LoopbackServer::Connection& c) {
    if (request.find(ArEntryPath(ids)) != std::string::npos) c.Send(test::HttpResponse(entry));
  });

  test::DriveRig rig({disc});
  VirtualDriveFaults faults;
  faults.corruptSectorLba = disc.tracks[1].startLba + 100;
  rig.Drive().SetFaults(faults);
  Transport& t = rig.Get(TransportKind::Spti);
  AlbumRecord album{};
  ScriptedDialogs quiet;
  const DiscView view = ReadDisc(t, 0, 0, quiet, album);
  ASSERT_TRUE(view.present);
  SettingsRecord settings{};
  ApplyFirstStartDefaults(settings, (home_ + "music/").c_str());
  settings.FolderPerAlbum = settings.FolderPerArtist = 0;
  FakeHost host(3);
  TransportRipDrive drive(t, album.FirstTrackOffset);
  EncoderSet encoders(settings, quiet);
  EncoderRipAdapter adapter(encoders);
  TagBuffer tags;
  RipPipeline rip(host, drive, adapter, quiet, settings, album, tags, home_ + "TempFiles/");
  RipReport::Options options;
  options.verify = true;
  options.server = {"127.0.0.1", server.Port()};
  options.toc = ArTocOf(view.toc);
  RipReport report(host, quiet, album, tags, options);
  rip.SetWatcher(&report);
  rip.GrabCommand(GrabSender::Wave);
  ASSERT_EQ(rip.LastOutcome(), RipPipeline::Outcome::Done) << rip.FailureText();
  EXPECT_EQ(host.status[0], "точно (достоверность 5)");
  EXPECT_EQ(host.status[1], "не совпадает");
  EXPECT_EQ(host.status[2], "точно (достоверность 5)");
  EXPECT_TRUE(report.AnyMismatch());
}

// libcdio's cdda_4_5.cue (tests/data/libcdio): a disc whose tracks are 4
// and 5. The command line lists it, takes --tracks in its numbers, and the
// files, their tags, the log and the cue sheet carry 4 and 5.
TEST_F(ArchivalRipTest, ADiscNumberedFromFourIsListedRippedAndTaggedWithItsNumbers) {
  auto sheet = ReadFileBytes(std::string(SONARVEX_SOURCE_DIR) + "/tests/data/libcdio/cdda_4_5.cue");
  ASSERT_TRUE(sheet);
  // Its BIN (302 sectors): noise here, track 5 from sector 150.
  const NoiseImage image = MakeNoiseImage(home_ + "images/", "cdda_4_5", {150, 152}, 11);
  ASSERT_TRUE(WriteFileAtomically(image.cue, *sheet));

  ASSERT_EQ(Run({"--image", image.cue, "toc"}), 0) << err_.str();
  auto rows = Rows();
  ASSERT_EQ(rows.size(), 4u) << out_.str();
  EXPECT_EQ(rows[1], (std::vector<std::string>{"4", "00:02:00", "00:02:00", "0", "audio"}));
  EXPECT_EQ(rows[2], (std::vector<std::string>{"5", "00:04:00", "00:02:02", "150", "audio"}));
  EXPECT_EQ(rows[3], (std::vector<std::string>{"leadout", "00:06:02"}));

  // Titles through the CDDB server on loopback: the tags are filled.
  std::string queried;  // the CDDB identifier the disc was asked for
  {
    test::LoopbackServer server(
        test::CddbAnswering("misc", "Band / Second", "TTITLE0=Four\r\nTTITLE1=Five\r\n", &queried));
    ASSERT_TRUE(test::EditSettingsFile(
        home_, [&](SettingsRecord& s) { test::UseCddbOnLoopback(s, server.Port()); }));
    ASSERT_EQ(Run({"--image", image.cue, "cddb"}), 0) << err_.str();
  }

  EXPECT_EQ(Run({"--image", image.cue, "rip", "--format", "flac", "--tracks", "1", "--no-verify"}), 2);
  EXPECT_NE(err_.str().find("(дорожки от 4 до 5)"), std::string::npos) << err_.str();
  ASSERT_EQ(Run({"--image", image.cue, "rip", "--format", "flac", "--tracks", "5", "--no-verify"}), 0)
      << err_.str();
  rows = Rows();
  ASSERT_EQ(rows.size(), 1u) << out_.str();
  EXPECT_EQ(rows[0], (std::vector<std::string>{"5", home_ + "music/4 - Five.flac"}));
  ClearMusic();

  // %N names the files by the disc's numbers.
  {
    ASSERT_TRUE(test::EditSettingsFile(home_, [](SettingsRecord& s) {
      s.UseFormatString = 1;
      SetField(s.FormatString, "%N %T");
    }));
  }
  ASSERT_EQ(Run({"--image", image.cue, "rip", "--format", "flac", "--no-verify"}), 0) << err_.str();
  rows = Rows();
  ASSERT_EQ(rows.size(), 2u) << out_.str();
  EXPECT_EQ(rows[0], (std::vector<std::string>{"4", home_ + "music/04 Four.flac"}));
  EXPECT_EQ(rows[1], (std::vector<std::string>{"5", home_ + "music/05 Five.flac"}));
  for (int i = 0; i < 2; ++i) {
    auto flac = ReadFileBytes(rows[static_cast<std::size_t>(i)][1]);
    ASSERT_TRUE(flac);
    EXPECT_NE(flac->find("TRACKNUMBER=" + std::to_string(4 + i)), std::string::npos) << i;
  }
  auto log = ReadFileBytes(home_ + "music/Band - Second.log");
  auto cue = ReadFileBytes(home_ + "music/Band - Second.cue");
  ASSERT_TRUE(log && cue);
  EXPECT_NE(log->find("\nДорожка 4\n  Файл: 04 Four.flac\n"), std::string::npos) << *log;
  EXPECT_NE(log->find("\nДорожка 5\n  Файл: 05 Five.flac\n"), std::string::npos) << *log;
  EXPECT_EQ(log->find("Дорожка 1\n"), std::string::npos) << *log;
  EXPECT_NE(cue->find("FILE \"04 Four.flac\" WAVE\n  TRACK 04 AUDIO\n    TITLE \"Four\"\n"), std::string::npos)
      << *cue;
  EXPECT_NE(cue->find("FILE \"05 Five.flac\" WAVE\n  TRACK 05 AUDIO\n    TITLE \"Five\"\n"), std::string::npos)
      << *cue;
}

// A disc of tracks of a tone with noise, each at its own level (amplitude
// of 16-bit samples), with nothing else in the image.
NoiseImage MakeLevelsImage(const std::string& folder, const std::string& name,
                           const std::vector<std::int32_t>& lengths,
                           const std::vector<double>& amplitudes) {
  NoiseImage image;
  for (std::int32_t n : lengths) {
    image.starts.push_back(image.end);
    image.end += n;
  }
  image.audio.resize(static_cast<std::size_t>(image.end) * kSector);
  std::uint32_t x = 99;
  for (std::size_t t = 0; t < lengths.size(); ++t) {
    const std::size_t from = static_cast<std::size_t>(image.starts[t]) * 588;
    const std::size_t to = from + static_cast<std::size_t>(lengths[t]) * 588;
    for (std::size_t f = from; f < to; ++f) {
      for (int c = 0; c < 2; ++c) {
        x = x * 1664525u + 1013904223u;
        const double tone = std::sin(2 * M_PI * (c ? 660 : 440) * static_cast<double>(f) / 44100);
        const double noise = (static_cast<int>((x >> 16) % 2001) - 1000) / 4000.0;
        const auto v = static_cast<std::int16_t>(
            std::clamp(amplitudes[t] * (tone + noise), -32768.0, 32767.0));
        image.audio[f * 4 + 2 * c] = static_cast<char>(v & 0xFF);
        image.audio[f * 4 + 2 * c + 1] = static_cast<char>((v >> 8) & 0xFF);
      }
    }
  }
  EXPECT_TRUE(WriteFileAtomically(folder + name + ".bin", image.audio));
  std::string cue = "FILE \"" + name + ".bin\" BINARY\n";
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    char number[24];
    std::snprintf(number, sizeof number, "%02zu", i + 1);
    cue += std::string("  TRACK ") + number + " AUDIO\n    INDEX 01 " + CueTimeOf(image.starts[i]) + "\n";
  }
  image.cue = folder + name + ".cue";
  EXPECT_TRUE(WriteFileAtomically(image.cue, cue));
  return image;
}

// The integrated loudness (LUFS) ffmpeg's EBU R 128 meter gives raw CD audio.
double FfmpegLoudness(const std::string& folder, const std::string& pcm) {
  const std::string raw = folder + "loudness.raw";
  EXPECT_TRUE(WriteFileAtomically(raw, pcm));
  const std::string out = test::CaptureOutput({FindInPath("ffmpeg"), "-hide_banner", "-nostats", "-f",
                                               "s16le", "-ar", "44100", "-ac", "2", "-i", raw, "-af",
                                               "ebur128", "-f", "null", "-"},
                                              true, nullptr);
  const auto summary = out.rfind("Integrated loudness:");
  const auto i = summary == std::string::npos ? summary : out.find("I:", summary);
  EXPECT_NE(i, std::string::npos) << out;
  return i == std::string::npos ? 0 : std::strtod(out.c_str() + i + 2, nullptr);
}

// The value of NAME=VALUE in a list of tags, one a line ("" when missing).
std::string TagValue(const std::string& tags, const std::string& name) {
  const auto at = tags.find(name + "=");
  if (at == std::string::npos) return {};
  const auto from = at + name.size() + 1;
  return tags.substr(from, tags.find('\n', from) - from);
}

// The largest absolute sample of raw CD audio, full scale 1.
double SamplePeak(const std::string& pcm) {
  int peak = 0;
  for (std::size_t k = 0; k + 1 < pcm.size(); k += 2)
    peak = std::max(peak, std::abs(static_cast<int>(static_cast<std::int16_t>(
                              static_cast<std::uint8_t>(pcm[k]) | static_cast<std::uint8_t>(pcm[k + 1]) << 8))));
  return peak / 32768.0;
}

// ReplayGain of a FLAC rip, on by default for lossless output (the disc
// has no titles: the files get it all the same): each
// track's gain agrees with ffmpeg's meter on the track's audio, the album's
// with it on the tracks' audio together, and the peaks are the sample peaks.
TEST_F(ArchivalRipTest, AFlacRipCarriesTrackAndAlbumReplayGainAsFfmpegMeasuresIt) {
  if (!FlacWriter().Available()) GTEST_SKIP() << kFlacLibraryName << " cannot be loaded";
  if (FindInPath("ffmpeg").empty() || FindInPath("metaflac").empty())
    GTEST_SKIP() << "ffmpeg or metaflac is not installed";
  const NoiseImage image = MakeLevelsImage(home_ + "images/", "levels", {2250, 1500}, {3000, 12000});
  const double album = FfmpegLoudness(home_, image.audio);
  for (const char* jobs : {"1", "2"}) {
    SCOPED_TRACE(std::string("workers: ") + jobs);
    ClearMusic();
    ASSERT_EQ(Run({"--image", image.cue, "rip", "--format", "flac", "--jobs", jobs, "--no-verify"}), 0)
        << err_.str();
    const auto rows = Rows();
    ASSERT_EQ(rows.size(), 2u) << out_.str();
    for (int i = 0; i < 2; ++i) {
      ASSERT_EQ(rows[i].size(), 2u);
      const std::string tags = Capture({FindInPath("metaflac"), "--export-tags-to=-", rows[i][1]});
      const std::string trackGain = TagValue(tags, "REPLAYGAIN_TRACK_GAIN");
      ASSERT_FALSE(trackGain.empty()) << tags;
      EXPECT_EQ(trackGain.substr(trackGain.size() - 3), " dB");
      EXPECT_NEAR(std::strtod(trackGain.c_str(), nullptr),
                  -18 - FfmpegLoudness(home_, image.Track(i)), 0.1)
          << tags;
      EXPECT_NEAR(std::strtod(TagValue(tags, "REPLAYGAIN_ALBUM_GAIN").c_str(), nullptr), -18 - album,
                  0.1)
          << tags;
      char peak[32];
      std::snprintf(peak, sizeof peak, "%.6f", SamplePeak(image.Track(i)));
      EXPECT_EQ(TagValue(tags, "REPLAYGAIN_TRACK_PEAK"), peak) << tags;
      std::snprintf(peak, sizeof peak, "%.6f", SamplePeak(image.audio));
      EXPECT_EQ(TagValue(tags, "REPLAYGAIN_ALBUM_PEAK"), peak) << tags;
      if (const std::string flac = FindInPath("flac"); !flac.empty()) {
        int status = -1;
        Capture({flac, "-t", "-s", rows[i][1]}, &status);
        EXPECT_EQ(status, 0);
      }
    }
  }
}

// Lossy rips leave ReplayGain out unless [ReplayGain] Enabled asks for it;
// then MP3 files carry it as TXXX frames and Ogg files as comments. Enabled=0
// leaves it out of FLAC rips too.
TEST_F(ArchivalRipTest, ReplayGainOfLossyRipsOnlyWhenAskedFor) {
  if (FindInPath("ffprobe").empty()) GTEST_SKIP() << "ffprobe is not installed";
  const NoiseImage image = MakeLevelsImage(home_ + "images/", "lossy", {800, 600}, {4000, 9000});
  auto probeTags = [&](const std::string& file) {
    return Capture({FindInPath("ffprobe"), "-v", "error", "-show_entries", "format_tags:stream_tags",
                    "-of", "default=noprint_wrappers=1", file});
  };
  for (const char* format : {"mp3", "ogg", "flac"}) {
    for (const char* setting : {"", "1", "0"}) {
      SCOPED_TRACE(std::string(format) + ", Enabled=" + setting);
      if (std::string(format) == "flac" && !FlacWriter().Available()) continue;
      WriteFileAtomically(home_ + "setting/sonarvex.ini",
                          *setting ? std::string("[ReplayGain]\nEnabled=") + setting + "\n" : "");
      ClearMusic();
      ASSERT_EQ(Run({"--image", image.cue, "rip", "--format", format, "--no-verify"}), 0) << err_.str();
      const auto rows = Rows();
      ASSERT_EQ(rows.size(), 2u) << out_.str();
      const bool expected = std::string(setting) == "1" ||
                            (std::string(setting).empty() && std::string(format) == "flac");
      for (int i = 0; i < 2; ++i) {
        std::string tags = probeTags(rows[i][1]);
        for (char& c : tags) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const std::string gain = TagValue(tags, "TAG:REPLAYGAIN_TRACK_GAIN");
        EXPECT_EQ(!gain.empty(), expected) << tags;
        EXPECT_EQ(!TagValue(tags, "TAG:REPLAYGAIN_ALBUM_GAIN").empty(), expected) << tags;
        if (expected && !FindInPath("ffmpeg").empty()) {
          EXPECT_NEAR(std::strtod(gain.c_str(), nullptr), -18 - FfmpegLoudness(home_, image.Track(i)),
                      0.1);
        }
      }
    }
  }
}

// An Opus rip: files that opusinfo accepts and ffprobe reads as Opus at
// 48000 Hz, that decode to the disc's audio within what a lossy codec
// changes, with the disc's titles as tags and, with ReplayGain on, the
// loudness as R128_TRACK_GAIN / R128_ALBUM_GAIN (to -23 LUFS in 1/256 dB)
// while the header's output gain stays 0.
TEST_F(ArchivalRipTest, AnOpusRipPlaysSoundsLikeTheDiscAndCarriesTagsAndR128Gain) {
  if (!OpusWriter().Available()) GTEST_SKIP() << kOpusEncLibraryName << " cannot be loaded";
  if (FindInPath("ffprobe").empty() || FindInPath("ffmpeg").empty() ||
      FindInPath("opusinfo").empty())
    GTEST_SKIP() << "ffprobe, ffmpeg or opusinfo is not installed";
  const NoiseImage image = MakeLevelsImage(home_ + "images/", "opus", {750, 600}, {3000, 12000});
  // Titles through the CDDB server on loopback.
  {
    test::LoopbackServer server(
        test::CddbAnswering("misc", "Band / Second", "TTITLE0=One\r\nTTITLE1=Two\r\n"));
    ASSERT_TRUE(test::EditSettingsFile(
        home_, [&](SettingsRecord& s) { test::UseCddbOnLoopback(s, server.Port()); }));
    ASSERT_EQ(Run({"--image", image.cue, "cddb"}), 0) << err_.str();
  }
  // A bitrate Opus does not have is refused before anything is read.
  EXPECT_NE(Run({"--image", image.cue, "rip", "--format", "opus", "--bitrate", "600", "--no-verify"}), 0);
  EXPECT_NE(err_.str().find("--bitrate 600: Opus пишется с битрейтом от 6 до 510 кбит/с."),
            std::string::npos)
      << err_.str();
  EXPECT_TRUE(Rows().empty()) << out_.str();

  WriteFileAtomically(home_ + "setting/sonarvex.ini", "[ReplayGain]\nEnabled=1\n");
  ASSERT_EQ(Run({"--image", image.cue, "rip", "--format", "opus", "--no-verify"}), 0) << err_.str();
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 2u) << out_.str();
  const double album = FfmpegLoudness(home_, image.audio);
  const char* titles[] = {"One", "Two"};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(rows[i].size(), 2u);
    const std::string file = rows[i][1];
    EXPECT_EQ(file.substr(file.size() - 5), ".opus");
    int status = -1;
    const std::string info = Capture({FindInPath("opusinfo"), file}, &status);
    EXPECT_EQ(status, 0) << info;
    EXPECT_NE(info.find("Playback gain: 0 dB"), std::string::npos) << info;
    const std::string probe =
        Capture({FindInPath("ffprobe"), "-v", "error", "-show_entries",
                 "stream=codec_name,sample_rate:stream_tags:format_tags", "-of",
                 "default=noprint_wrappers=1", file});
    EXPECT_EQ(TagValue(probe, "codec_name"), "opus") << probe;
    EXPECT_EQ(TagValue(probe, "sample_rate"), "48000") << probe;
    std::string tags = probe;
    for (char& c : tags) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_NE(probe.find("TAG:TITLE=" + std::string(titles[i]) + "\n"), std::string::npos) << probe;
    EXPECT_NE(probe.find("TAG:ARTIST=Band\n"), std::string::npos) << probe;
    EXPECT_NE(probe.find("TAG:ALBUM=Second\n"), std::string::npos) << probe;
    // R128 gains only: REPLAYGAIN_* are not for Opus files.
    EXPECT_TRUE(TagValue(tags, "TAG:REPLAYGAIN_TRACK_GAIN").empty()) << probe;
    const std::string trackGain = TagValue(tags, "TAG:R128_TRACK_GAIN");
    ASSERT_FALSE(trackGain.empty()) << probe;
    EXPECT_NEAR(std::strtol(trackGain.c_str(), nullptr, 10),
                (-23 - FfmpegLoudness(home_, image.Track(i))) * 256, 0.1 * 256);
    const std::string albumGain = TagValue(tags, "TAG:R128_ALBUM_GAIN");
    ASSERT_FALSE(albumGain.empty()) << probe;
    EXPECT_NEAR(std::strtol(albumGain.c_str(), nullptr, 10), (-23 - album) * 256, 0.1 * 256);

    // Decoded at the disc's rate: the track's length within one 20 ms
    // frame and its sound.
    const std::string raw = home_ + "decoded.raw";
    std::filesystem::remove(raw);
    Capture({FindInPath("ffmpeg"), "-v", "error", "-i", file, "-f", "s16le", "-ar", "44100", "-ac",
             "2", raw});
    const auto decoded = ReadFileBytes(raw);
    ASSERT_TRUE(decoded);
    const std::string track = image.Track(i);
    EXPECT_NEAR(static_cast<double>(decoded->size() / 4), static_cast<double>(track.size() / 4), 882);
    std::vector<std::int16_t> a(track.size() / 2), b(decoded->size() / 2);
    std::memcpy(a.data(), track.data(), a.size() * 2);
    std::memcpy(b.data(), decoded->data(), b.size() * 2);
    EXPECT_GT(test::BestSnrDb(a, b, 2, 2000), 12.0);
  }
}

}  // namespace
}  // namespace sonarvex
