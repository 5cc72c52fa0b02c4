// Options on a line of setting/vdrives.lst: the software drive's faults and
// a recorder's blank capacity, paths with blanks after them, the lines that
// cannot be used named with their reason, and the drives made from them
// showing the faults through the program's transports.
#include <gtest/gtest.h>

#include <filesystem>

#include "drive/AudioReading.h"
#include "drive/CapabilityReport.h"
#include "drive/DriveCommands.h"
#include "drive/virtual/DemoDisc.h"
#include "drive/virtual/VirtualDriveList.h"
#include "platform/Files.h"
#include "tests/drive/DriveRig.h"

namespace sonarvex {
namespace {

TEST(VirtualDriveListOptions, OptionsBeforeTheDriveAndPathsWithBlanks) {
  const auto list = ParseVirtualDriveList(
      "fail-read=100-120 not-ready=3  my discs/Album one.cue\n"
      "fail-read=7 fail-every-read=5 jitter=-4 short-read=2 corrupt=9 remove-after-reads=40 a.cue\n"
      "fail-write=300 remove-after-writes=12 capacity=01:00:00 burn:out dir/new.cue\n"
      "capacity=02:00:00\tburnrw: /abs/rw disc.cue\n"
      "./fail-read=3.cue\n"
      "weird=name.cue\n",
      "/prog");
  ASSERT_EQ(list.problems.size(), 0u) << list.problems[0];
  ASSERT_EQ(list.entries.size(), 6u);
  const auto& a = list.entries[0];
  EXPECT_EQ(a.path, "/prog/my discs/Album one.cue");
  EXPECT_EQ(a.kind, VirtualDriveLine::Kind::Image);
  EXPECT_EQ(a.faults.failReadsFirst, 100);
  EXPECT_EQ(a.faults.failReadsLast, 120);
  EXPECT_EQ(a.faults.notReadyCommands, 3);
  const auto& b = list.entries[1];
  EXPECT_EQ(b.faults.failReadsFirst, 7);
  EXPECT_EQ(b.faults.failReadsLast, 7);
  EXPECT_EQ(b.faults.failEveryNthRead, 5);
  EXPECT_EQ(b.faults.jitterBytes, -4);
  EXPECT_EQ(b.faults.shortReadBytes, 2u);
  EXPECT_EQ(b.faults.corruptSectorLba, 9);
  EXPECT_EQ(b.faults.removeMediumAfterReads, 40);
  const auto& c = list.entries[2];
  EXPECT_EQ(c.kind, VirtualDriveLine::Kind::Burn);
  EXPECT_EQ(c.path, "/prog/out dir/new.cue");
  EXPECT_EQ(c.faults.failWriteAtLba, 300);
  EXPECT_EQ(c.faults.removeMediumAfterWrites, 12);
  EXPECT_EQ(c.lastLeadOutLba, 4500 - 150);
  EXPECT_EQ(list.entries[3].kind, VirtualDriveLine::Kind::BurnRw);
  EXPECT_EQ(list.entries[3].path, "/abs/rw disc.cue");
  EXPECT_EQ(list.entries[3].lastLeadOutLba, 9000 - 150);
  // A path that looks like an option is written with "./"; a word with '='
  // that is no option is the path.
  EXPECT_EQ(list.entries[4].path, "/prog/./fail-read=3.cue");
  EXPECT_EQ(list.entries[4].faults.failReadsFirst, -1);
  EXPECT_EQ(list.entries[5].path, "/prog/weird=name.cue");
  // Without options nothing is injected.
  const auto plain = ParseVirtualDriveList("burn:x.cue\n", "/prog");
  ASSERT_EQ(plain.entries.size(), 1u);
  EXPECT_EQ(plain.entries[0].faults.failWriteAtLba, VirtualDriveFaults::kNever);
  EXPECT_EQ(plain.entries[0].lastLeadOutLba, -1);
}

TEST(VirtualDriveListOptions, LinesThatCannotBeUsedAreNamedWithTheReason) {
  const auto list = ParseVirtualDriveList(
      "fail-read=abc a.cue\n"
      "fail-read=20-10 a.cue\n"
      "capacity=80:00 burn:a.cue\n"
      "capacity=00:02:00 burn:a.cue\n"
      "jitter=0 a.cue\n"
      "fail-write=5 a.cue\n"
      "offset=3 burn:a.cue\n"
      "not-ready=2\n"
      "fail-read=-5 a.cue\n",
      "/prog");
  EXPECT_TRUE(list.entries.empty());
  ASSERT_EQ(list.problems.size(), 9u);
  EXPECT_EQ(list.problems[0], "строка 1: неверное значение в fail-read=abc (нужно fail-read=LBA или fail-read=LBA-LBA)");
  EXPECT_EQ(list.problems[1], "строка 2: неверное значение в fail-read=20-10 (нужно fail-read=LBA или fail-read=LBA-LBA)");
  EXPECT_EQ(list.problems[2], "строка 3: неверное значение в capacity=80:00 (нужно capacity=MM:SS:FF)");
  EXPECT_EQ(list.problems[3], "строка 4: неверное значение в capacity=00:02:00 (нужно capacity=MM:SS:FF)");
  EXPECT_EQ(list.problems[4], "строка 5: неверное значение в jitter=0 (нужно число байтов от -2352 до 2352, не 0)");
  EXPECT_EQ(list.problems[5],
            "строка 6: fail-write=, remove-after-writes= и capacity= задаются только для записывающего "
            "привода (burn:, burnrw:)");
  EXPECT_EQ(list.problems[6], "строка 7: offset= задаётся только для привода с образом диска");
  EXPECT_EQ(list.problems[7], "строка 8: не указан путь к CUE-файлу");
  EXPECT_EQ(list.problems[8], "строка 9: неверное значение в fail-read=-5 (нужно fail-read=LBA или fail-read=LBA-LBA)");
}

TEST(VirtualDriveListOptions, FlakySectorsAndC2) {
  const auto list = ParseVirtualDriveList(
      "flaky=100-102 flaky-wrong-reads=always flaky-same=1 flaky-c2=0 c2=0 a.cue\n"
      "flaky=7 flaky-wrong-reads=3 b.cue\n"
      "flaky=5-4 a.cue\n"
      "flaky-wrong-reads=0 a.cue\n"
      "c2=yes a.cue\n"
      "c2=0 burn:a.cue\n",
      "/prog");
  ASSERT_EQ(list.entries.size(), 2u);
  const auto& a = list.entries[0];
  EXPECT_EQ(a.faults.flakyFirst, 100);
  EXPECT_EQ(a.faults.flakyLast, 102);
  EXPECT_EQ(a.faults.flakyWrongReads, -1);
  EXPECT_TRUE(a.faults.flakySameWrong);
  EXPECT_FALSE(a.faults.flakyC2);
  EXPECT_FALSE(a.c2Pointers);
  const auto& b = list.entries[1];
  EXPECT_EQ(b.faults.flakyFirst, 7);
  EXPECT_EQ(b.faults.flakyLast, 7);
  EXPECT_EQ(b.faults.flakyWrongReads, 3);
  EXPECT_FALSE(b.faults.flakySameWrong);
  EXPECT_TRUE(b.faults.flakyC2);
  EXPECT_TRUE(b.c2Pointers);
  ASSERT_EQ(list.problems.size(), 4u);
  EXPECT_EQ(list.problems[0], "строка 3: неверное значение в flaky=5-4 (нужно flaky=LBA или flaky=LBA-LBA)");
  EXPECT_EQ(list.problems[1],
            "строка 4: неверное значение в flaky-wrong-reads=0 (нужно число от 1 или always)");
  EXPECT_EQ(list.problems[2], "строка 5: неверное значение в c2=yes (нужно 0 или 1)");
  EXPECT_EQ(list.problems[3], "строка 6: c2= задаётся только для привода с образом диска");
}

TEST(VirtualDriveListOptions, ReadSpeed) {
  const auto list = ParseVirtualDriveList(
      "speed=48 a.cue\n"
      "offset=6 speed=1 b.cue\n"
      "speed=0 a.cue\n"
      "speed=101 a.cue\n"
      "speed=fast a.cue\n"
      "speed=+8 a.cue\n"
      "c.cue\n",
      "/prog");
  ASSERT_EQ(list.entries.size(), 3u);
  EXPECT_EQ(list.entries[0].readSpeedFactor, 48);
  EXPECT_EQ(list.entries[0].path, "/prog/a.cue");
  EXPECT_EQ(list.entries[1].readSpeedFactor, 1);
  EXPECT_EQ(list.entries[1].readOffsetSamples, 6);
  EXPECT_EQ(list.entries[2].readSpeedFactor, 0);
  ASSERT_EQ(list.problems.size(), 4u);
  const std::string form = " (нужна скорость чтения от 1 до 100 (1 = 176 400 байт в секунду))";
  EXPECT_EQ(list.problems[0], "строка 3: неверное значение в speed=0" + form);
  EXPECT_EQ(list.problems[1], "строка 4: неверное значение в speed=101" + form);
  EXPECT_EQ(list.problems[2], "строка 5: неверное значение в speed=fast" + form);
  EXPECT_EQ(list.problems[3], "строка 6: неверное значение в speed=+8" + form);
}

class VirtualDriveListDrives : public testing::Test {
 protected:
  void SetUp() override { folder_ = test::MakeTempFolder(); }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::string folder_;
};

TEST_F(VirtualDriveListDrives, TheDrivesShowTheirFaults) {
  std::string error;
  const std::string cue = WriteDemoDisc(JoinPath(folder_, "demo"), &error);
  ASSERT_FALSE(cue.empty()) << error;
  const auto list = ParseVirtualDriveList("fail-read=10-12 " + cue + "\ncapacity=00:10:00 fail-write=20 burn:rec.cue\n",
                                          folder_);
  ASSERT_TRUE(list.problems.empty()) << list.problems[0];
  auto setup = CreateVirtualDrives(list);
  ASSERT_TRUE(setup.problems.empty()) << setup.problems[0];
  ASSERT_EQ(setup.drives.size(), 2u);
  test::DriveRig rig;
  for (auto& d : setup.drives) rig.directory.AddVirtual(d);
  Transport& t = rig.Get(TransportKind::Spti, 0);
  std::vector<std::uint8_t> got;
  EXPECT_TRUE(ReadAudioSectors(t, 0, 10, 10, got));
  EXPECT_FALSE(ReadAudioSectors(t, 11, 1, 1, got));
  EXPECT_TRUE(ReadAudioSectors(t, 13, 5, 5, got));

  // A drive without C2 pointers says so in its capabilities page.
  EXPECT_TRUE(DriveHasC2Pointers(t));

  Transport& w = rig.Get(TransportKind::Spti, 1);
  std::uint8_t info[kDiscInfoLength] = {};
  ASSERT_TRUE(w.Succeeded(ReadDiscInfo(w, info)));
  EXPECT_EQ(info[21] * 4500 + info[22] * 75 + info[23], 750);
}

// A drive with speed=N reads the disc in the time a drive of that speed
// takes: the waits are counted through the drive's clock and wait, not
// measured. A lower speed set by the program slows it further; a higher
// one does not make it faster.
TEST_F(VirtualDriveListDrives, AReadSpeedPacesTheReads) {
  std::string error;
  const std::string cue = WriteDemoDisc(JoinPath(folder_, "demo"), &error);
  ASSERT_FALSE(cue.empty()) << error;
  auto setup = CreateVirtualDrives(ParseVirtualDriveList("speed=30 " + cue + "\n" + cue + "\n", folder_));
  ASSERT_TRUE(setup.problems.empty()) << setup.problems[0];
  ASSERT_EQ(setup.drives.size(), 2u);
  // The drives' clock moves on by what they wait, as a sleeping drive's would.
  std::int64_t nowUs = 1000000;
  std::int64_t waited[2] = {0, 0};
  int waits[2] = {0, 0};
  for (int k = 0; k < 2; ++k)
    setup.drives[k]->SetReadPacing([&] { return nowUs; }, [&, k](std::int64_t us) {
      waited[k] += us;
      ++waits[k];
      nowUs += us;
    });
  test::DriveRig rig;
  for (auto& d : setup.drives) rig.directory.AddVirtual(d);
  std::vector<std::uint8_t> got;
  // The drive without a speed reads without waiting.
  Transport& free = rig.Get(TransportKind::Spti, 1);
  for (int lba = 0; lba < 30 * 75; lba += 25) ASSERT_TRUE(ReadAudioSectors(free, lba, 25, 25, got));
  EXPECT_EQ(waits[1], 0);
  Transport& paced = rig.Get(TransportKind::Spti, 0);
  // 30 x 75 sectors: one second of reading at 30x, in reads of 25 sectors.
  auto readSecond = [&] {
    waited[0] = 0;
    for (int lba = 0; lba < 30 * 75; lba += 25) ASSERT_TRUE(ReadAudioSectors(paced, lba, 25, 25, got));
  };
  readSecond();
  EXPECT_EQ(waits[0], 30 * 75 / 25);
  EXPECT_NEAR(static_cast<double>(waited[0]), 1e6, 200);
  EXPECT_EQ(setup.drives[0]->GetStats().readWaitUs, waited[0]);

  // The program asks for 10x: the same sectors take three times as long.
  ASSERT_TRUE(paced.Succeeded(SetReadSpeed(paced, 10)));
  readSecond();
  EXPECT_NEAR(static_cast<double>(waited[0]), 3e6, 1000);
  // Asking for more than the drive can do leaves it at its own speed.
  ASSERT_TRUE(paced.Succeeded(SetReadSpeed(paced, 255)));
  readSecond();
  EXPECT_NEAR(static_cast<double>(waited[0]), 1e6, 200);
  // A drive that was idle banks nothing: after a pause the next read takes
  // its whole time again.
  nowUs += 1000000;
  waited[0] = 0;
  ASSERT_TRUE(ReadAudioSectors(paced, 0, 25, 25, got));
  EXPECT_NEAR(static_cast<double>(waited[0]), 11111, 2);
}

TEST_F(VirtualDriveListDrives, AFlakyDriveWithoutC2) {
  std::string error;
  const std::string cue = WriteDemoDisc(JoinPath(folder_, "demo"), &error);
  ASSERT_FALSE(cue.empty()) << error;
  auto setup = CreateVirtualDrives(ParseVirtualDriveList("c2=0 flaky=20 " + cue + "\n", folder_));
  ASSERT_EQ(setup.drives.size(), 1u);
  test::DriveRig rig;
  rig.directory.AddVirtual(setup.drives[0]);
  Transport& t = rig.Get(TransportKind::Spti, 0);
  EXPECT_FALSE(DriveHasC2Pointers(t));
  std::vector<std::uint8_t> first, second;
  ASSERT_TRUE(ReadAudioSectors(t, 20, 1, 1, first));
  ASSERT_TRUE(ReadAudioSectors(t, 20, 1, 1, second));
  EXPECT_NE(first, second);
}

}  // namespace
}  // namespace sonarvex
