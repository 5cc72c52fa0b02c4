// The software drive through the transports: tray and lock, media change,
// analog play, audio reads with faults, read-command detection and the
// capability report.
#include <gtest/gtest.h>

#include <cstring>

#include "drive/AudioReading.h"
#include "drive/CapabilityReport.h"
#include "drive/DiscModel.h"
#include "drive/DriveCommands.h"
#include "drive/EjectToggle.h"
#include "drive/PlayPosition.h"
#include "platform/ScriptedDialogs.h"
#include "tests/drive/DriveRig.h"

namespace sonarvex {
namespace {

using test::DriveRig;

class OnBoth : public testing::TestWithParam<TransportKind> {
 protected:
  Transport& T(DriveRig& rig, std::uint8_t driveType = 0) {
    return rig.Get(GetParam(), 0, driveType);
  }
};

TEST_P(OnBoth, EjectTwiceEjectsThenLoads) {
  DriveRig rig({BuildAudioDisc({1000})});
  Transport& t = T(rig);
  LockMedium(t, true);
  EjectToggle toggle;
  EXPECT_TRUE(t.Succeeded(toggle.Run(t)));  // unlocks first, so the eject goes through
  EXPECT_TRUE(rig.Drive().TrayOpen());
  EXPECT_EQ(MechanismStatus(t), 5);
  EXPECT_TRUE(t.Succeeded(toggle.Run(t)));
  EXPECT_FALSE(rig.Drive().TrayOpen());
  EXPECT_EQ(MechanismStatus(t), 1);
  // The tray was opened by hand: the next press loads it.
  StartStopUnit(t, true);
  toggle.Run(t);
  EXPECT_FALSE(rig.Drive().TrayOpen());
}

TEST_P(OnBoth, EjectRefusedWhileLocked) {
  DriveRig rig({BuildAudioDisc({1000})});
  Transport& t = T(rig);
  EXPECT_TRUE(t.Succeeded(LockMedium(t, true)));
  EXPECT_FALSE(t.Succeeded(StartStopUnit(t, true)));
  EXPECT_EQ(t.LastSense()[2], 5);
  EXPECT_EQ(t.LastSense()[12], 0x53);
  EXPECT_FALSE(rig.Drive().TrayOpen());
  LockMedium(t, false);
  EXPECT_TRUE(t.Succeeded(StartStopUnit(t, true)));
}

TEST_P(OnBoth, TrayOpenedAndClosedIsNoticedByTestUnitReady) {
  DriveRig rig({BuildAudioDisc({1000, 500})});
  Transport& t = T(rig);
  EXPECT_EQ(TestUnitReadySense(t), 0);
  EXPECT_TRUE(t.TestUnitReady());
  rig.Drive().RemoveDisc();  // the user opens the tray
  EXPECT_EQ(TestUnitReadySense(t), 2);
  EXPECT_EQ(t.LastSense()[2] & 0x0F, 2);
  EXPECT_EQ(t.LastSense()[12], 0x3A);
  EXPECT_FALSE(t.TestUnitReady());
  // No disc any more: the list empties.
  ScriptedDialogs dialogs;
  AlbumRecord album;
  DiscView view = ReadDisc(t, 0, 0, dialogs, album);
  EXPECT_FALSE(view.present);
  EXPECT_TRUE(view.rows.empty());

  rig.Drive().InsertDisc(BuildAudioDisc({700}));
  EXPECT_EQ(TestUnitReadySense(t), 2);  // unit attention, medium changed
  EXPECT_EQ(t.LastSense()[2], 6);
  EXPECT_EQ(t.LastSense()[12], 0x28);
  EXPECT_EQ(TestUnitReadySense(t), 0);
  view = ReadDisc(t, 0, 0, dialogs, album);
  EXPECT_EQ(view.trackCount, 1);
}

TEST_P(OnBoth, NotReadyAndOtherFailures) {
  DriveRig rig({BuildAudioDisc({1000})});
  Transport& t = T(rig);
  VirtualDriveFaults f;
  f.notReadyCommands = 2;
  rig.Drive().SetFaults(f);
  EXPECT_EQ(TestUnitReadySense(t), 2);
  EXPECT_EQ(TestUnitReadySense(t), 2);
  EXPECT_EQ(TestUnitReadySense(t), 0);
  rig.Drive().Unplug();
  EXPECT_EQ(TestUnitReadySense(t), 1);  // no sense from a vanished device
}

TEST_P(OnBoth, AnalogPlayAdvancesTheSubChannelPosition) {
  DriveRig rig({BuildAudioDisc({4500, 9000, 3000})});
  Transport& t = T(rig);
  ScriptedDialogs dialogs;
  AlbumRecord album;
  const DiscView view = ReadDisc(t, 0, 0, dialogs, album);
  ASSERT_EQ(view.trackCount, 3);

  SubChannelPosition pos;
  ReadSubChannel(t, pos);
  EXPECT_EQ(pos.audioStatus, 0x15);

  // Play track 2 (row 1) to the start of track 3.
  ASSERT_TRUE(t.Succeeded(PlayAudioMSF(t, album.Tracks[1].Start, album.Tracks[2].Start)));
  ASSERT_TRUE(t.Succeeded(ReadSubChannel(t, pos)));
  EXPECT_EQ(pos.audioStatus, 0x11);
  EXPECT_EQ(MsfToFrames(pos.Absolute()), 4500 + 150);
  EXPECT_EQ(MechanismStatus(t), 2);
  rig.now += 2000;
  ReadSubChannel(t, pos);
  EXPECT_EQ(pos.position[0], 0);
  auto at = LocatePlayPosition(album, view.trackCount, pos.Absolute());
  ASSERT_TRUE(at);
  EXPECT_EQ(at->track, 1);
  EXPECT_EQ(at->sector, 150);
  rig.now += 60000;
  ReadSubChannel(t, pos);
  at = LocatePlayPosition(album, view.trackCount, pos.Absolute());
  EXPECT_EQ(at->sector, 150 + 4500);

  // Pause: the position stays.
  std::uint8_t stopped[4];
  StopPlayScan(t);
  ReadSubChannel(t, pos);
  EXPECT_NE(pos.audioStatus, 0x11);
  std::copy(pos.position.begin(), pos.position.end(), stopped);
  rig.now += 5000;
  ReadSubChannel(t, pos);
  EXPECT_TRUE(std::equal(pos.position.begin(), pos.position.end(), stopped));

  // Play to the end: completed once, then no status.
  PlayAudioMSF(t, album.Tracks[2].Start, album.Tracks[3].Start);
  rig.now += 41000;
  ReadSubChannel(t, pos);
  EXPECT_EQ(pos.audioStatus, 0x13);
  ReadSubChannel(t, pos);
  EXPECT_EQ(pos.audioStatus, 0x15);
  EXPECT_FALSE(LocatePlayPosition(album, view.trackCount, pos.Absolute()));
}

TEST_P(OnBoth, ReadSubChannelFailureReadsAsZero) {
  DriveRig rig({BuildAudioDisc({1000})});
  Transport& t = T(rig);
  rig.Drive().RemoveDisc();
  SubChannelPosition pos;
  pos.audioStatus = 0x11;
  pos.position = {1, 2, 3, 4};
  EXPECT_FALSE(t.Succeeded(ReadSubChannel(t, pos)));
  EXPECT_EQ(pos.audioStatus, 0);
  EXPECT_EQ(pos.position, (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
}

TEST_P(OnBoth, ReadCddaInEveryFormGivesTheDiscBytes) {
  VirtualDisc disc = BuildAudioDisc({3000});
  DriveRig rig({disc});
  std::vector<std::uint8_t> expected(2352 * 40);
  for (int i = 0; i < 40; ++i) disc.read(100 + i, expected.data() + 2352 * i);
  for (int type : {0, 1, 4, 14, 19, 20, 21, 22, 23}) {
    SCOPED_TRACE(type);
    Transport& t = T(rig, static_cast<std::uint8_t>(type));
    std::vector<std::uint8_t> got;
    EXPECT_TRUE(ReadAudioSectors(t, 100, 40, 7, got));
    EXPECT_EQ(got, expected);
  }
  Transport& t = T(rig);
  const auto before = rig.Drive().GetStats().commands;
  EXPECT_EQ(ReadCDDA(t, nullptr, 0, 26 * 2352), 26);
  EXPECT_EQ(rig.Drive().GetStats().commands, before);  // nothing sent
}

TEST_P(OnBoth, ChunkedReadsLikeTheRippingLoop) {
  DriveRig rig({BuildAudioDisc({3000})});
  Transport& t = T(rig);
  std::vector<std::pair<int, int>> chunks;
  const int failures = ReadAudioRange(t, 10, 60, 0, [&](std::int32_t lba, int n, const std::uint8_t*, CommandResult) {
    chunks.emplace_back(lba, n);
    return true;
  });
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(chunks, (std::vector<std::pair<int, int>>{{10, 26}, {36, 26}, {62, 8}}));
  const auto log = rig.Drive().CommandLog();
  EXPECT_EQ(log.back()[0], 0xBE);
  EXPECT_EQ(log.back()[8], 8);
}

TEST_P(OnBoth, ReadFaultsReachTheCaller) {
  VirtualDisc disc = BuildAudioDisc({3000});
  DriveRig rig({disc});
  Transport& t = T(rig);
  VirtualDriveFaults f;
  f.failReadsFirst = 50;
  f.failReadsLast = 55;
  rig.Drive().SetFaults(f);
  std::vector<std::uint8_t> got;
  EXPECT_FALSE(ReadAudioSectors(t, 0, 100, 26, got));
  std::vector<int> failed;
  ReadAudioRange(t, 0, 100, 10, [&](std::int32_t lba, int, const std::uint8_t*, CommandResult r) {
    if (!t.Succeeded(r)) failed.push_back(lba);
    return true;
  });
  EXPECT_EQ(failed, (std::vector<int>{50}));
  EXPECT_EQ(t.LastSense()[2] & 0x0F, 0);

  // Jitter: every second read is shifted by one stereo sample.
  f = {};
  f.jitterBytes = 4;
  rig.Drive().SetFaults(f);
  std::vector<std::uint8_t> a, b, ref(2352);
  disc.read(200, ref.data());
  ReadAudioSectors(t, 200, 1, 1, a);
  ReadAudioSectors(t, 200, 1, 1, b);
  EXPECT_NE(a, b);
  EXPECT_TRUE(a == ref || b == ref);

  // The medium is taken out during a rip.
  rig.Drive().SetFaults({});
  f = {};
  f.removeMediumAfterReads = rig.Drive().GetStats().audioReads + 2;
  rig.Drive().SetFaults(f);
  int bad = 0;
  ReadAudioRange(t, 0, 100, 20, [&](std::int32_t, int, const std::uint8_t*, CommandResult r) {
    bad += !t.Succeeded(r);
    return true;
  });
  EXPECT_EQ(bad, 3);
  EXPECT_FALSE(t.TestUnitReady());

  // Reads outside the disc fail, without touching the buffer beyond its end.
  rig.Drive().SetFaults({});
  rig.Drive().InsertDisc(disc);
  std::vector<std::uint8_t> two(2352 * 2);
  EXPECT_FALSE(t.Succeeded(ReadCDDA(t, two.data(), 2999, 2352 * 2)));
  EXPECT_FALSE(t.Succeeded(ReadCDDA(t, two.data(), 5000, 2352)));
  EXPECT_FALSE(t.Succeeded(ReadCDDA(t, two.data(), -1, 2352)));
  EXPECT_TRUE(t.Succeeded(ReadCDDA(t, two.data(), 2998, 2352 * 2)));
}

// Flaky sectors read wrong with GOOD status on their first reads and right
// after; READ CD with the C2 error field flags exactly the changed bytes.
TEST_P(OnBoth, FlakySectorsReadWrongThenRightWithTheirC2Pointers) {
  VirtualDisc disc = BuildAudioDisc({600});
  DriveRig rig({disc});
  Transport& t = T(rig);
  EXPECT_TRUE(DriveHasC2Pointers(t));
  VirtualDriveFaults f;
  f.flakyFirst = 100;
  f.flakyLast = 101;
  f.flakyWrongReads = 2;
  rig.Drive().SetFaults(f);
  std::vector<std::uint8_t> truth(2 * 2352);
  disc.read(100, truth.data());
  disc.read(101, truth.data() + 2352);
  auto bit = [](const std::uint8_t* c2, std::size_t byte) { return (c2[byte / 8] >> (7 - byte % 8)) & 1; };
  std::vector<std::uint8_t> reads[3];
  for (int n = 0; n < 3; ++n) {
    SCOPED_TRACE(n);
    std::vector<std::uint8_t> audio(2 * 2352), c2(2 * kC2PointerBytes);
    ASSERT_TRUE(t.Succeeded(ReadCDDAWithC2(t, audio.data(), c2.data(), 100, 2)));
    for (std::size_t k = 0; k < audio.size(); ++k)
      ASSERT_EQ(bit(c2.data(), k), audio[k] != truth[k] ? 1 : 0) << k;
    EXPECT_EQ(audio == truth, n == 2);
    reads[n] = audio;
  }
  // The wrong reads are not wrong the same way.
  EXPECT_NE(reads[0], reads[1]);
  // Unflagged wrong reads where the option says so, through the plain read too.
  f.flakyWrongReads = -1;
  f.flakySameWrong = true;
  f.flakyC2 = false;
  rig.Drive().SetFaults(f);
  std::vector<std::uint8_t> audio(2352), c2(kC2PointerBytes);
  ASSERT_TRUE(t.Succeeded(ReadCDDAWithC2(t, audio.data(), c2.data(), 100, 1)));
  EXPECT_NE(0, std::memcmp(audio.data(), truth.data(), 2352));
  EXPECT_EQ(c2, std::vector<std::uint8_t>(kC2PointerBytes, 0));
  std::vector<std::uint8_t> plain;
  ASSERT_TRUE(ReadAudioSectors(t, 100, 1, 1, plain));
  EXPECT_EQ(plain, audio);
  // A drive without C2 pointers refuses the error field.
  VirtualDriveConfig config;
  config.capabilities[5] &= static_cast<std::uint8_t>(~0x10);
  rig.Drive().SetConfig(config);
  EXPECT_FALSE(DriveHasC2Pointers(t));
  EXPECT_FALSE(t.Succeeded(ReadCDDAWithC2(t, audio.data(), c2.data(), 100, 1)));
  EXPECT_EQ(t.LastSense()[2] & 0x0F, 5);
}

TEST_P(OnBoth, ShortTransferWithGoodStatusIsAFailedRead) {
  // The drive answers GOOD but moves 100 bytes less than asked: the end of
  // the buffer would still hold the previous chunk.
  VirtualDisc disc = BuildAudioDisc({900});
  DriveRig rig({disc});
  Transport& t = T(rig);
  VirtualDriveFaults f;
  f.shortReadBytes = 100;
  rig.Drive().SetFaults(f);
  std::vector<std::uint8_t> got;
  EXPECT_FALSE(ReadAudioSectors(t, 0, 52, 26, got));
  EXPECT_EQ(ReadAudioRange(t, 0, 52, 26, {}), 2);
  std::vector<std::uint8_t> one(2352);
  EXPECT_FALSE(t.Succeeded(ReadCDDA(t, one.data(), 10, 2352)));
  // Replies shorter than their allocation length are no failure.
  std::uint8_t toc[kTocLength] = {};
  EXPECT_TRUE(t.Succeeded(ReadTOC(t, toc)));
  std::uint8_t sessions[kSessionInfoLength] = {};
  EXPECT_TRUE(t.Succeeded(ReadSessionInfo(t, sessions)));
  EXPECT_EQ(sessions[6], 1);

  // Read again once the drive delivers: the sectors as on the disc.
  rig.Drive().SetFaults({});
  std::vector<std::uint8_t> expected(2352 * 52);
  for (int i = 0; i < 52; ++i) disc.read(i, expected.data() + 2352 * i);
  ASSERT_TRUE(ReadAudioSectors(t, 0, 52, 26, got));
  EXPECT_TRUE(got == expected);
}

TEST_P(OnBoth, DetectionOnADriveAcceptingOnlyRead10) {
  VirtualDriveConfig config;
  config.acceptedReadForms = 1u << 6;
  DriveRig rig({BuildAudioDisc({3000})}, config);
  Transport& t = GetParam() == TransportKind::Spti ? static_cast<Transport&>(rig.spti) : rig.aspi;
  std::vector<int> seen;
  const auto rows = RunReadCommandDetection(t, 0, 30, [&](const DetectionRow& r) { seen.push_back(r.number); });
  ASSERT_EQ(rows.size(), 27u);
  EXPECT_EQ(seen.size(), 27u);
  for (const auto& r : rows) {
    SCOPED_TRACE(r.number);
    EXPECT_EQ(r.name, std::string(ReadCommandName(r.readCommand)));
    EXPECT_EQ(r.success, r.name == "Read10");
    EXPECT_EQ(r.result, r.success ? "успешно" : "неудачно");
    EXPECT_EQ(r.rowData, r.readCommand + r.sectors * 256);
  }
  EXPECT_EQ(rows[0].number, 1);
  EXPECT_EQ(rows[26].number, 27);
  EXPECT_EQ(rows[2].sectors, 30);
  EXPECT_EQ(rows[18].name, "Read10");
  EXPECT_EQ(rows[18].sectors, 1);
  EXPECT_EQ(rows[19].sectors, 26);
  EXPECT_EQ(rows[20].sectors, 30);
  // Choosing a "Read10" row gives "Toshiba (новый)".
  EXPECT_EQ(DriveTypeForReadCommand(rows[20].rowData & 0xFF), 2);
  // The current device keeps the drive type of the last command tried.
  EXPECT_EQ(t.DriveType(), 20);
  // Every read went to LBA 150 with the transfer of its count.
  const auto log = rig.Drive().CommandLog();
  int reads = 0;
  for (const auto& cdb : log)
    if (ReadFormOfBlock(cdb.data(), static_cast<int>(cdb.size())) >= 0) {
      ++reads;
      EXPECT_EQ(cdb[5], 150);
    }
  EXPECT_EQ(reads, 27);
}

TEST_P(OnBoth, DetectionWithSmallSettingUsesA26SectorBuffer) {
  DriveRig rig({BuildAudioDisc({3000})});
  Transport& t = GetParam() == TransportKind::Spti ? static_cast<Transport&>(rig.spti) : rig.aspi;
  const auto rows = RunReadCommandDetection(t, 0, 10);
  for (const auto& r : rows) EXPECT_TRUE(r.success) << r.number;
  EXPECT_EQ(rows[5].sectors, 10);
}

TEST_P(OnBoth, CapabilityReportOfTheSoftwareDrive) {
  VirtualDriveConfig config;
  config.revision = "2.5";
  config.capabilities = VirtualDriveConfig::DefaultCapabilities(true);
  DriveRig rig({BuildAudioDisc({3000})}, config);
  Transport& t = T(rig);
  const auto caps = QueryCapabilities(t);
  EXPECT_EQ(caps.identification, "SONARVEXVirtual CD      2.5 ");
  const std::vector<std::string> expected = {
      "Привод : SONARVEXVirtual CD      2.5 ",
      "",
      "Чтение CD-DA      :       Да",
      "Чтение CD-R       :       Да",
      "Чтение CD-RW      :       Да",
      "Чтение мультисессионых CD:Да",
      "Чтение DVD-ROM    :       Нет",
      "Чтение DVD-R      :       Нет",
      "Чтение DVD-RAM    :       Нет",
      "",
      "Запись CD-R       :       Да",
      "Запись CD-RW      :       Да",
      "Запись DVD-R      :       Нет",
      "Запись DVD-RAM    :       Нет",
      "",
      "Тестовая запись   :       Да",
      "Воспроизв. звука  :       Да",
      "Возможность блокировки :  Да",
      "Извлечение дисков :       Да",
      "",
      "Размер буфера     :       2048 Kb",
  };
  EXPECT_EQ(CapabilityReportLines(caps), expected);

  rig.Drive().Unplug();
  const auto none = CapabilityReportLines(QueryCapabilities(t));
  for (std::size_t i = 2; i < none.size(); ++i)
    if (!none[i].empty() && i != 20) {
      EXPECT_EQ(none[i].substr(none[i].size() - 6), "Нет") << i;
    }
  EXPECT_EQ(none[20], "Размер буфера     :       0 Kb");
}

INSTANTIATE_TEST_SUITE_P(Drive, OnBoth, testing::Values(TransportKind::Spti, TransportKind::Aspi),
                         test::KindName);

TEST(CapabilityReport, PageBytesDecoded) {
  std::uint8_t reply[34] = {};
  reply[8 + 3] = 0x07;
  reply[8 + 12] = 0x08;
  reply[8 + 13] = 0x00;
  const auto lines = CapabilityReportLines("X", reply, sizeof reply);
  ASSERT_EQ(lines.size(), 21u);
  EXPECT_EQ(lines[10], "Запись CD-R       :       Да");
  EXPECT_EQ(lines[11], "Запись CD-RW      :       Да");
  EXPECT_EQ(lines[12], "Запись DVD-R      :       Нет");
  EXPECT_EQ(lines[13], "Запись DVD-RAM    :       Нет");
  EXPECT_EQ(lines[15], "Тестовая запись   :       Да");
  EXPECT_EQ(lines[20], "Размер буфера     :       2048 Kb");
  // A reply shorter than the page reads the missing bytes as zero.
  EXPECT_EQ(CapabilityReportLines("X", reply, 12)[20], "Размер буфера     :       0 Kb");
}

}  // namespace
}  // namespace sonarvex
