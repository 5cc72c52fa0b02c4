// The two transports: completion codes, sense, start-up choice, drive list,
// devices that go away or never answer.
#include <gtest/gtest.h>

#include <chrono>

#include "drive/DiscModel.h"
#include "drive/DriveCommands.h"
#include "drive/TransportSetup.h"
#include "platform/ScriptedDialogs.h"
#include "tests/drive/DriveRig.h"

namespace sonarvex {
namespace {

using test::DriveRig;

TEST(SptiTransport, NoDeviceAnswers170AndVolume255) {
  DriveRig rig({BuildAudioDisc({1000})});
  EXPECT_EQ(rig.spti.Execute(cdb::TestUnitReady(), nullptr), 170);
  EXPECT_EQ(rig.spti.SetCDVolume(100), 255);
  EXPECT_FALSE(rig.spti.TestUnitReady());
  ASSERT_TRUE(rig.spti.SelectDevice(0, 0));
  EXPECT_EQ(rig.spti.SetCDVolume(100), 0);
  EXPECT_EQ(rig.Drive().GetStats().volume[3], 100);
  EXPECT_FALSE(rig.spti.SelectDevice(1, 0));
  EXPECT_FALSE(rig.spti.HasDevice());
}

TEST(SptiTransport, StatusAndSenseOfACheckCondition) {
  DriveRig rig({BuildAudioDisc({1000})});
  ASSERT_TRUE(rig.spti.SelectDevice(0, 0));
  rig.Drive().RemoveDisc();
  EXPECT_EQ(rig.spti.Execute(cdb::TestUnitReady(), nullptr), 2);
  EXPECT_EQ(rig.spti.LastSense()[2], 2);
  EXPECT_EQ(rig.spti.LastSense()[12], 0x3A);
  EXPECT_FALSE(rig.spti.TestUnitReady());
}

TEST(AspiTransport, CompletionCodesFlagsAndSense) {
  DriveRig rig({BuildAudioDisc({1000})});
  ASSERT_TRUE(rig.aspi.SelectDevice(0, 0));
  std::uint8_t inq[96];
  EXPECT_EQ(Inquiry(rig.aspi, inq), 1);
  EXPECT_EQ(rig.aspi.Last().flags, 0x48);
  EXPECT_EQ(rig.aspi.Last().bufferLength, 96u);
  std::uint8_t data[2352] = {};
  WriteSectors(rig.aspi, data, 0, 1, 2352);  // not a recorder: rejected
  EXPECT_EQ(rig.aspi.Last().flags, 0x50);
  EXPECT_EQ(rig.aspi.Last().status, 4);
  EXPECT_EQ(rig.aspi.Last().targetStatus, 2);
  SendOPC(rig.aspi);
  EXPECT_EQ(rig.aspi.Last().flags, 0x50);
  StopPlayScan(rig.aspi);
  EXPECT_EQ(rig.aspi.Last().flags, 0x48);

  rig.Drive().RemoveDisc();
  EXPECT_EQ(rig.aspi.Execute(cdb::TestUnitReady(), nullptr), 4);
  EXPECT_EQ(rig.aspi.LastSense()[2], 2);
  EXPECT_FALSE(rig.aspi.TestUnitReady());
  EXPECT_FALSE(rig.aspi.SelectDevice(1, 0));
}

TEST(AspiTransport, EnumerationKeepsSixteenOfSeventeen) {
  DriveRig rig;
  for (int i = 0; i < 17; ++i) rig.AddDrive(BuildAudioDisc({100}));
  EXPECT_EQ(rig.aspi.Enumerate(), 16);
  EXPECT_EQ(rig.aspi.Slot(15).target, 1);
  EXPECT_EQ(rig.aspi.Slot(15).lun, 7);
}

TEST(AspiTransport, SetCDVolumeIsTheAudioControlPage) {
  DriveRig rig({BuildAudioDisc({1000})});
  ASSERT_TRUE(rig.aspi.SelectDevice(0, 0));
  EXPECT_EQ(rig.aspi.SetCDVolume(77), 1);
  EXPECT_EQ(rig.aspi.Last().cdb[0], 0x55);
  EXPECT_EQ(rig.Drive().GetStats().volume[0], 77);
  EXPECT_EQ(rig.Drive().GetStats().volume[1], 77);
}

TEST(AspiTransport, WaitForADriveThatNeverAnswersIsBounded) {
  DriveRig rig({BuildAudioDisc({1000})});
  ASSERT_TRUE(rig.aspi.SelectDevice(0, 0));
  rig.aspi.SetWaitLimitMs(200);
  VirtualDriveFaults f;
  f.neverAnswer = true;
  rig.Drive().SetFaults(f);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(rig.aspi.TestUnitReady());
  std::uint8_t toc[kTocLength];
  EXPECT_EQ(ReadTOC(rig.aspi, toc), 4);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  EXPECT_GE(ms, 380);
  EXPECT_LT(ms, 3000);
  rig.Drive().SetFaults({});
  EXPECT_TRUE(rig.aspi.TestUnitReady());
  EXPECT_EQ(rig.aspi.WaitLimitMs(cdb::Inquiry()), 200);
}

TEST(AspiTransport, DefaultWaitLimits) {
  DeviceDirectory dir(false);
  AspiTransport aspi(dir);
  EXPECT_EQ(aspi.WaitLimitMs(cdb::Inquiry()), 60000);
  EXPECT_EQ(aspi.WaitLimitMs(cdb::BlankDisc(0)), 20 * 60000);
}

class BothTransports : public testing::TestWithParam<TransportKind> {};

TEST_P(BothTransports, DeviceDisappearingBetweenCommands) {
  DriveRig rig({BuildAudioDisc({1000, 2000})});
  Transport& t = rig.Get(GetParam());
  EXPECT_TRUE(t.TestUnitReady());
  rig.Drive().Unplug();
  std::uint8_t toc[kTocLength] = {};
  EXPECT_EQ(ReadTOC(t, toc), 4);
  std::uint8_t buf[2352];
  EXPECT_FALSE(t.Succeeded(ReadCDDA(t, buf, 0, sizeof buf)));

  ScriptedDialogs dialogs;
  if (GetParam() == TransportKind::Spti)
    dialogs.ExpectMessage("Драйвер CDROM'a не доступен", "Sonarvex v3.2", MsgIcon::Error,
                          MsgButtons::Ok);
  AlbumRecord album;
  DiscView view = ReadDisc(t, 0, 0, dialogs, album);
  EXPECT_FALSE(view.present);
  EXPECT_EQ(view.CaptionSuffix(), " - Диска нет");
  EXPECT_TRUE(dialogs.Clean());

  rig.Drive().Plug();
  view = ReadDisc(t, 0, 0, dialogs, album);
  EXPECT_TRUE(view.present);
  EXPECT_EQ(view.trackCount, 2);
}

TEST_P(BothTransports, DriveListNamesAndIndex) {
  DriveRig rig;
  VirtualDriveConfig a;
  a.vendor = "ACME";
  a.product = "Reader 1";
  VirtualDriveConfig b;
  b.vendor = "ZED";
  b.product = "Writer";
  rig.AddDrive(BuildAudioDisc({100}), a);
  rig.AddDrive(BuildAudioDisc({100}), b);
  Transport& t = GetParam() == TransportKind::Spti ? static_cast<Transport&>(rig.spti) : rig.aspi;
  std::uint8_t types[16] = {};
  types[1] = 21;
  int index = 5;
  auto list = BuildDriveList(t, types, index);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].name, "ACME    Reader 1        ");
  EXPECT_EQ(list[1].name, "ZED     Writer          ");
  EXPECT_EQ(list[1].device, 1);
  EXPECT_EQ(index, 1);  // put into range
  EXPECT_TRUE(t.HasDevice());
  EXPECT_EQ(t.DriveType(), 21);
  if (GetParam() == TransportKind::Spti) {
    EXPECT_EQ(rig.Drive(1).GetStats().volume[0], 255);
  }

  rig.Drive(0).Unplug();
  rig.Drive(1).Unplug();
  index = 0;
  if (GetParam() == TransportKind::Aspi) rig.aspi.Enumerate();
  EXPECT_TRUE(BuildDriveList(t, types, index).empty());
  EXPECT_EQ(index, -1);
}

INSTANTIATE_TEST_SUITE_P(Drive, BothTransports,
                         testing::Values(TransportKind::Spti, TransportKind::Aspi), test::KindName);

TEST(TransportChoice, StartUpOnLinuxWithSoftwareDrives) {
  DriveRig rig({BuildAudioDisc({100})});
  AspiTransport aspi(rig.directory);
  ScriptedDialogs dialogs;
  TransportFlags flags;
  std::uint8_t useSpti = 0;
  EXPECT_TRUE(ChooseTransportAtStartup(aspi, dialogs, flags, useSpti));
  EXPECT_TRUE(flags.aspiUsable);
  EXPECT_EQ(useSpti, 0);  // the stored choice stays
  EXPECT_TRUE(dialogs.Clean());
}

TEST(TransportChoice, NtWithoutGenericLayerStartsSilentlyOnSpti) {
  DeviceDirectory empty(false);
  AspiTransport aspi(empty);
  ScriptedDialogs dialogs;
  TransportFlags flags;
  std::uint8_t useSpti = 0;
  EXPECT_TRUE(ChooseTransportAtStartup(aspi, dialogs, flags, useSpti));
  EXPECT_FALSE(flags.aspiUsable);
  EXPECT_EQ(useSpti, 1);
  EXPECT_TRUE(dialogs.Clean());
}

TEST(TransportChoice, NtWithGenericLayerButNoCdRomWarnsOnce) {
  DriveRig rig({BuildAudioDisc({100})});
  rig.Drive().Unplug();
  AspiTransport aspi(rig.directory);
  ScriptedDialogs dialogs;
  dialogs.ExpectMessage("ASPI Manager для NT установлен не корректно!\nСрочно переустановить!!!",
                        "Sonarvex v3.2", MsgIcon::Warning, MsgButtons::Ok);
  TransportFlags flags;
  std::uint8_t useSpti = 0;
  EXPECT_TRUE(ChooseTransportAtStartup(aspi, dialogs, flags, useSpti));
  EXPECT_FALSE(flags.aspiUsable);
  EXPECT_EQ(useSpti, 0);  // left as loaded
  std::string why;
  EXPECT_TRUE(dialogs.Clean(&why)) << why;
  // The settings dialog then cannot keep ASPI.
  ChooseTransportAfterSettings(rig.spti, flags, useSpti);
  EXPECT_EQ(useSpti, 1);
}

TEST(TransportChoice, NonNtPlatformBranches) {
  {
    DriveRig rig({BuildAudioDisc({100})});
    AspiTransport aspi(rig.directory);
    ScriptedDialogs dialogs;
    TransportFlags flags{false, true};
    std::uint8_t useSpti = 1;
    EXPECT_TRUE(ChooseTransportAtStartup(aspi, dialogs, flags, useSpti));
    EXPECT_EQ(useSpti, 0);  // switched to ASPI
  }
  {
    DeviceDirectory empty(false);
    AspiTransport aspi(empty);
    ScriptedDialogs dialogs;
    dialogs.ExpectMessage("Не удалось загрузить библиотеку WNASPI32.DLL\nПереустановите  ASPI Manager!!!",
                          "Sonarvex v3.2", MsgIcon::Error, MsgButtons::Ok);
    TransportFlags flags{false, true};
    std::uint8_t useSpti = 1;
    EXPECT_FALSE(ChooseTransportAtStartup(aspi, dialogs, flags, useSpti));
    EXPECT_TRUE(dialogs.Clean());
  }
  {
    DriveRig rig({BuildAudioDisc({100})});
    rig.Drive().Unplug();
    AspiTransport aspi(rig.directory);
    ScriptedDialogs dialogs;
    dialogs.ExpectMessage("Программа не нашла устройство CDROM.\nПереустановите ASPI Manager.",
                          "Sonarvex v3.2", MsgIcon::Error, MsgButtons::Ok);
    TransportFlags flags{false, true};
    std::uint8_t useSpti = 0;
    EXPECT_FALSE(ChooseTransportAtStartup(aspi, dialogs, flags, useSpti));
    EXPECT_FALSE(aspi.Loaded());
    EXPECT_TRUE(dialogs.Clean());
  }
}

TEST(TransportChoice, SwitchingToAspiResetsTheDriveVolumeAndCloses) {
  DriveRig rig({BuildAudioDisc({100})});
  ASSERT_TRUE(rig.spti.SelectDevice(0, 0));
  rig.spti.SetCDVolume(10);
  TransportFlags flags;
  std::uint8_t useSpti = 0;
  ChooseTransportAfterSettings(rig.spti, flags, useSpti);
  EXPECT_EQ(useSpti, 0);
  EXPECT_EQ(rig.Drive().GetStats().volume[0], 255);
  EXPECT_FALSE(rig.spti.HasDevice());
}

}  // namespace
}  // namespace sonarvex
