// Secure rips through the command line from software drives whose chosen
// sectors read wrong (vdrives.lst flaky=): the WAV files hold what
// cd-paranoia reads from the clean image and match AccurateRip, sectors that
// never read right are named with their track times, and test and copy
// compares its two passes. Every case runs on a drive with and without C2
// error pointers.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "../drive/DriveRig.h"
#include "LoopbackServer.h"
#include "NoiseImage.h"
#include "RipTestDoubles.h"
#include "codec/EncoderSet.h"
#include "drive/DiscModel.h"
#include "platform/ScriptedDialogs.h"
#include "platform/Shell.h"
#include "rip/EncoderRipAdapter.h"
#include "rip/RipReport.h"
#include "rip/TransportRipDrive.h"
#include "tests/cli/CliRunner.h"

namespace sonarvex {
namespace {

class SecureRipTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    home_ = test::MakeTempFolder() + "/";
    MakeDirectories(home_ + "music");
    MakeDirectories(home_ + "images");
    test::WriteSettingsFile(home_, test::FirstProfile(home_ + "music/"));
    image_ = MakeNoiseImage(home_ + "images/", "noise", {300, 227, 410}, 11);
    ArToc toc;
    for (std::int32_t s : image_.starts) toc.tracks.push_back({s, true});
    toc.leadOut = image_.end;
    ids_ = ComputeArDiscIds(toc);
    for (int i = 0; i < 3; ++i) v1s_.push_back(ArOf(image_.Track(i), i == 0, i == 2).first);
    server_ = std::make_unique<test::LoopbackServer>(
        [this](const std::string& request, test::LoopbackServer::Connection& c) {
          if (request.find(ArEntryPath(ids_)) != std::string::npos)
            c.Send(test::HttpResponse(EntryOf(ids_, v1s_, 12)));
          else
            c.Send("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n");
        });
    host_ = "127.0.0.1:" + std::to_string(server_->Port());
  }
  void TearDown() override {
    server_.reset();
    std::filesystem::remove_all(home_);
  }
  // The drive of the noise image with these faults, with or without C2
  // pointers as the test's parameter says.
  void Drive(const std::string& faults) {
    ASSERT_TRUE(WriteFileAtomically(home_ + "setting/vdrives.lst", std::string("c2=") +
                                                                       (GetParam() ? "1 " : "0 ") +
                                                                       faults + " " + image_.cue + "\n"));
  }
  int Rip(std::vector<std::string> extra) {
    std::filesystem::remove_all(home_ + "music");
    MakeDirectories(home_ + "music");
    std::vector<std::string> args = {"--home", home_, "rip", "--format", "wav", "--accuraterip", host_};
    args.insert(args.end(), extra.begin(), extra.end());
    return test::RunCliIn(home_, args, out_, err_);
  }
  std::vector<std::vector<std::string>> Rows() { return test::TabRows(out_.str()); }
  std::string Log() { return ReadFileBytes(home_ + "music/Sonarvex.log").value_or(""); }
  // The text of one track's block in the log.
  std::string LogOf(int track) {
    const std::string log = Log();
    const auto at = log.find("\nДорожка " + std::to_string(track) + "\n");
    if (at == std::string::npos) return {};
    return log.substr(at, log.find("\n\n", at + 1) + 1 - at);
  }

  std::string home_, host_;
  NoiseImage image_;
  ArDiscIds ids_;
  std::vector<std::uint32_t> v1s_;
  std::unique_ptr<test::LoopbackServer> server_;
  std::ostringstream out_, err_;
};

TEST_P(SecureRipTest, SectorsReadWrongAtFirstAreRippedAsCdParanoiaReadsTheCleanImage) {
  // Three sectors of track 2 read wrong the first time.
  Drive("flaky=400-402 flaky-wrong-reads=1");

  // Read plainly, the drive's first answer is taken: track 2 is wrong.
  EXPECT_EQ(Rip({"--no-secure"}), 1) << err_.str();
  auto rows = Rows();
  ASSERT_EQ(rows.size(), 3u) << out_.str();
  EXPECT_FALSE(WavAudio(rows[1][1]) == image_.Track(1));
  EXPECT_EQ(rows[1][4], "mismatch");
  EXPECT_NE(Log().find("Режим чтения: обычный\n"), std::string::npos) << Log();

  // Read securely: every track is what the image holds, and the database agrees.
  ASSERT_EQ(Rip({"--secure"}), 0) << err_.str();
  rows = Rows();
  ASSERT_EQ(rows.size(), 3u) << out_.str();
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(WavAudio(rows[i][1]) == image_.Track(i)) << i;
    EXPECT_EQ(rows[i][4], "match 12") << i;
  }
  EXPECT_NE(Log().find(std::string("Режим чтения: безопасный, до 16 повторных чтений сектора, C2: ") +
                       (GetParam() ? "да" : "нет") + "\n"),
            std::string::npos)
      << Log();
  EXPECT_NE(LogOf(1).find("Перечитано секторов: 0\n"), std::string::npos) << LogOf(1);
  EXPECT_NE(LogOf(2).find("Перечитано секторов: 3\n"), std::string::npos) << LogOf(2);
  EXPECT_EQ(LogOf(2).find("Подозрительные места"), std::string::npos) << LogOf(2);

  const std::string paranoia = FindInPath("cd-paranoia");
  if (paranoia.empty()) GTEST_SKIP() << "cd-paranoia is not installed";
  for (int i = 0; i < 3; ++i) {
    const std::string raw = home_ + "p" + std::to_string(i) + ".raw";
    ASSERT_EQ(RunProgram({paranoia, "-q", "-d", image_.cue, "-r", std::to_string(i + 1), raw}), 0);
    auto theirs = ReadFileBytes(raw);
    ASSERT_TRUE(theirs);
    EXPECT_TRUE(WavAudio(rows[i][1]) == *theirs) << "track " << i + 1;
  }
}

TEST_P(SecureRipTest, SectorsWrongOnEveryReadAreNamedAndFailTheirTrackUnlessTheDatabaseMatches) {
  // Sector 100 of track 2 (00:01.25 into it) never reads right.
  Drive("flaky=400 flaky-wrong-reads=always");
  EXPECT_EQ(Rip({}), 1);
  auto rows = Rows();
  ASSERT_EQ(rows.size(), 3u) << out_.str();
  EXPECT_EQ(rows[0][4], "match 12");
  EXPECT_EQ(rows[1][4], "mismatch");
  EXPECT_EQ(rows[2][4], "match 12");
  EXPECT_NE(err_.str().find("Дорожки прочитаны ненадёжно: 2 (00:01.25)."), std::string::npos)
      << err_.str();
  EXPECT_NE(LogOf(2).find("Подозрительные места: 00:01.25\n"), std::string::npos) << LogOf(2);
  EXPECT_NE(LogOf(2).find("Перечитано секторов: 1\n"), std::string::npos) << LogOf(2);
  // Everything but that sector is right.
  std::string audio = WavAudio(rows[1][1]);
  ASSERT_EQ(audio.size(), image_.Track(1).size());
  EXPECT_NE(audio.substr(100 * kSector, kSector), image_.Track(1).substr(100 * kSector, kSector));
  audio.replace(100 * kSector, kSector, image_.Track(1).substr(100 * kSector, kSector));
  EXPECT_TRUE(audio == image_.Track(1));

  // The database holds the track as this drive reads it: the track counts
  // as matched, and the rip as done.
  v1s_[1] = ArOf(WavAudio(rows[1][1]), false, false).first;
  EXPECT_EQ(Rip({}), 0) << err_.str();
  rows = Rows();
  ASSERT_EQ(rows.size(), 3u) << out_.str();
  EXPECT_EQ(rows[1][4], "match 12");
  EXPECT_EQ(err_.str().find("ненадёжно"), std::string::npos) << err_.str();
  EXPECT_NE(LogOf(2).find("Подозрительные места: 00:01.25\n"), std::string::npos) << LogOf(2);
}

TEST_P(SecureRipTest, TestAndCopyComparesTheCrcOfBothPasses) {
  Drive("");
  ASSERT_EQ(Rip({"--no-secure", "--test-and-copy"}), 0) << err_.str();
  for (int track = 1; track <= 3; ++track) {
    const std::string block = LogOf(track);
    const auto at = block.find("CRC32 проверки: ");
    ASSERT_NE(at, std::string::npos) << block;
    const std::string crc = block.substr(at + std::string("CRC32 проверки: ").size(), 8);
    EXPECT_NE(block.find("CRC32 копирования: " + crc + "\n"), std::string::npos) << block;
    EXPECT_NE(block.find("  CRC32: " + crc + "\n"), std::string::npos) << block;
    EXPECT_NE(block.find("Проверка и копирование совпадают\n"), std::string::npos) << block;
  }
  EXPECT_NE(Log().find("Режим чтения: обычный, проверка и копирование\n"), std::string::npos) << Log();

  // The test pass reads a sector wrong, the copy pass right: the passes
  // differ, and the track is suspect though its file is right.
  Drive("flaky=700 flaky-wrong-reads=1");
  ASSERT_EQ(Rip({"--no-secure", "--test-and-copy", "--no-verify"}), 1);
  auto rows = Rows();
  ASSERT_EQ(rows.size(), 3u) << out_.str();
  EXPECT_TRUE(WavAudio(rows[2][1]) == image_.Track(2));
  EXPECT_NE(LogOf(3).find("Проверка и копирование НЕ совпадают\n"), std::string::npos) << LogOf(3);
  EXPECT_NE(LogOf(2).find("Проверка и копирование совпадают\n"), std::string::npos) << LogOf(2);
  EXPECT_NE(err_.str().find("Дорожки прочитаны ненадёжно: 3 (проверка и копирование не совпали)."),
            std::string::npos)
      << err_.str();
}

TEST_P(SecureRipTest, SecureReadsStayCorrectedByTheDrivesReadOffset) {
  // A drive 667 samples off whose sectors at the end of track 1 and the
  // start of track 2 read wrong at first: the reads that agree are the
  // corrected ones.
  Drive("offset=667 flaky=299-301");
  ASSERT_EQ(test::RunCliIn(home_, {"--home", home_, "offset", "set", "667"}, out_, err_), 0)
      << err_.str();
  ASSERT_EQ(Rip({"--secure"}), 0) << err_.str();
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 3u) << out_.str();
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(WavAudio(rows[i][1]) == image_.Track(i)) << i;
    EXPECT_EQ(rows[i][4], "match 12") << i;
  }
  EXPECT_NE(Log().find("Сдвиг чтения: +667\n"), std::string::npos) << Log();
}

INSTANTIATE_TEST_SUITE_P(C2, SecureRipTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "WithC2" : "WithoutC2");
                         });

// The loop on the window's side: the row of a track with places that never
// read right says so, and keeps saying so when the database does not know
// the disc.
TEST(SecureRipOnTheLoop, TheRowOfASuspectTrackSaysSo) {
  VirtualDisc disc = BuildAudioDisc({300, 300});
  test::DriveRig rig({disc});
  VirtualDriveFaults faults;
  faults.flakyFirst = faults.flakyLast = 420;
  faults.flakyWrongReads = -1;
  rig.Drive().SetFaults(faults);
  Transport& t = rig.Get(TransportKind::Spti);
  AlbumRecord album{};
  ScriptedDialogs quiet;
  ASSERT_TRUE(ReadDisc(t, 0, 0, quiet, album).present);
  const std::string folder = test::MakeTempFolder() + "/";
  SettingsRecord settings{};
  ApplyFirstStartDefaults(settings, (folder + "music/").c_str());
  MakeDirectories(folder + "music");
  settings.FolderPerAlbum = settings.FolderPerArtist = 0;
  FakeHost host(2);
  TransportRipDrive drive(t, album.FirstTrackOffset);
  drive.SetReadOffset(0, 600);
  drive.SetC2Reads(true);
  EncoderSet encoders(settings, quiet);
  EncoderRipAdapter adapter(encoders);
  TagBuffer tags;
  RipPipeline rip(host, drive, adapter, quiet, settings, album, tags, folder + "TempFiles/");
  rip.SetSecure(true, 3, true);
  RipReport::Options options;
  RipReport report(host, quiet, album, tags, options);
  rip.SetWatcher(&report);
  rip.GrabCommand(GrabSender::Wave);
  EXPECT_EQ(host.status[0], "Скопирован");
  EXPECT_EQ(host.status[1], "подозрительно");
  ASSERT_EQ(rip.SuspectRows().size(), 1u);
  EXPECT_EQ(rip.SuspectRows().begin()->first, 1);
  EXPECT_EQ(rip.SuspectRows().begin()->second, std::vector<std::uint32_t>{420});
  ASSERT_EQ(report.Tracks().size(), 2u);
  EXPECT_TRUE(report.Tracks()[1].Suspect());
  EXPECT_FALSE(report.Tracks()[0].Suspect());
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace sonarvex
