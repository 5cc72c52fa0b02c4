// The ripping loop on the real transports and the software drive: what the
// WAV files hold and what happens when the drive fails.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "../drive/DriveRig.h"
#include "RipTestDoubles.h"
#include "app/EncoderRipAdapter.h"
#include "app/TransportRipDrive.h"
#include "codec/EncoderSet.h"
#include "drive/AudioReading.h"
#include "drive/DiscModel.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"

namespace sonarvex {
namespace {

class RipOnDriveTest : public ::testing::TestWithParam<TransportKind> {
 protected:
  void SetUp() override {
    folder_ = test::MakeTempFolder() + "/";
    MakeDirectories(folder_ + "out");
    ApplyFirstStartDefaults(s_, (folder_ + "out/").c_str());
    s_.FolderPerAlbum = s_.FolderPerArtist = 0;
    s_.NameHasNumber = 1;
    s_.NameHasTitle = 1;
  }
  void TearDown() override {
    std::filesystem::remove_all(folder_);
    std::string why;
    EXPECT_TRUE(dialogs_.Clean(&why)) << why;
  }
  // Reads the disc of the rig's drive into the album record.
  void Read(test::DriveRig& rig) {
    Transport& t = rig.Get(GetParam());
    view_ = ReadDisc(t, 0, 0, dialogs_, album_);
    ASSERT_TRUE(view_.present);
  }
  void Rip(test::DriveRig& rig, std::vector<bool> ticked) {
    host_ = std::make_unique<FakeHost>(static_cast<int>(ticked.size()));
    host_->ticked = std::move(ticked);
    Transport& t = rig.Get(GetParam());
    TransportRipDrive drive(t, album_.FirstTrackOffset);
    EncoderSet encoder(s_, dialogs_);
    EncoderRipAdapter adapter(encoder);
    RipPipeline rip(*host_, drive, adapter, dialogs_, s_, album_, tags_, folder_ + "TempFiles/");
    rip.GrabCommand(GrabSender::Wave);
    outcome_ = rip.LastOutcome();
  }
  std::string Out(int i) {
    return folder_ + "out/" + std::to_string(i) + " - Track" + std::to_string(i + 1) + ".wav";
  }

  std::string folder_;
  SettingsRecord s_{};
  AlbumRecord album_{};
  TagBuffer tags_;
  DiscView view_;
  ScriptedDialogs dialogs_;
  std::unique_ptr<FakeHost> host_;
  RipPipeline::Outcome outcome_ = RipPipeline::Outcome::NotStarted;
};

TEST_P(RipOnDriveTest, FilesHoldTheTracksEvenWhenTheFirstTrackStartsLate) {
  // The first track at 00:02:32 (LBA 32): the album counts sectors from it,
  // the drive from 00:02:00.
  test::DriveRig rig({BuildDisc({TrackSpec{600, 0, 1}, TrackSpec{450, 0, 1}}, 32)});
  Read(rig);
  EXPECT_EQ(album_.FirstTrackOffset, 182);
  Rip(rig, {true, true});
  ASSERT_EQ(outcome_, RipPipeline::Outcome::Done);
  Transport& t = rig.Get(GetParam());
  for (int i = 0; i < 2; ++i) {
    std::vector<std::uint8_t> expected;
    ASSERT_TRUE(ReadAudioSectors(t, 32 + album_.Tracks[i].StartSector,
                                 album_.Tracks[i + 1].StartSector - album_.Tracks[i].StartSector,
                                 26, expected));
    auto file = ReadFileBytes(Out(i));
    ASSERT_TRUE(file);
    ASSERT_EQ(file->size(), 48 + expected.size());
    EXPECT_EQ(file->compare(48, std::string::npos,
                            std::string(expected.begin(), expected.end())),
              0)
        << i;
  }
}

TEST_P(RipOnDriveTest, ReadsThatFailNowAndThenAreRetried) {
  test::DriveRig rig({BuildAudioDisc({900})});
  Read(rig);
  VirtualDriveFaults faults;
  faults.failEveryNthRead = 4;
  rig.Drive().SetFaults(faults);
  Rip(rig, {true});
  EXPECT_EQ(outcome_, RipPipeline::Outcome::Done);
  EXPECT_EQ(std::filesystem::file_size(Out(0)), 48u + 900 * 2352);
}

TEST_P(RipOnDriveTest, DiscTakenOutMidTrackStopsWithoutAFile) {
  test::DriveRig rig({BuildAudioDisc({900, 900})});
  Read(rig);
  VirtualDriveFaults faults;
  faults.removeMediumAfterReads = 10;
  rig.Drive().SetFaults(faults);
  dialogs_.ExpectMessage("Ошибка чтения диска (сектор 260). Копирование прервано.",
                         "Sonarvex v3.2", MsgIcon::Error, MsgButtons::Ok);
  Rip(rig, {true, true});
  EXPECT_EQ(outcome_, RipPipeline::Outcome::Failed);
  EXPECT_FALSE(FileExists(Out(0)));
  EXPECT_FALSE(FileExists(Out(0) + ".part"));
  EXPECT_FALSE(FileExists(Out(1)));
  EXPECT_EQ(host_->status[0], "Ошибка");
  EXPECT_TRUE(host_->ticked[0]);
}

INSTANTIATE_TEST_SUITE_P(Transports, RipOnDriveTest,
                         ::testing::Values(TransportKind::Spti, TransportKind::Aspi),
                         test::KindName);

}  // namespace
}  // namespace sonarvex
