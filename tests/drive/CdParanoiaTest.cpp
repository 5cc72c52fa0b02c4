// cd-paranoia reads the same CUE/BIN image as our ReadCDDA through the
// software drive; the audio must be byte-identical.
#include <gtest/gtest.h>

#include <filesystem>

#include "drive/AudioReading.h"
#include "drive/DiscModel.h"
#include "drive/virtual/DemoDisc.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"
#include "platform/Shell.h"
#include "tests/drive/DriveRig.h"

namespace sonarvex {
namespace {

TEST(CdParanoia, ReadsTheSameSectorsAsReadCdda) {
  const std::string paranoia = FindInPath("cd-paranoia");
  if (paranoia.empty()) GTEST_SKIP() << "cd-paranoia is not installed";
  const std::string folder = test::MakeTempFolder();
  const std::string cue = WriteDemoDisc(folder);
  ASSERT_FALSE(cue.empty());

  std::string error;
  auto drive = VirtualDrive::FromCueImage(cue, &error);
  ASSERT_TRUE(drive->HasDisc()) << error;
  test::DriveRig rig;
  rig.directory.AddVirtual(drive);
  ScriptedDialogs dialogs;
  AlbumRecord album;
  const DiscView view = ReadDisc(rig.spti, 0, 0, dialogs, album);
  ASSERT_EQ(view.trackCount, 5);

  for (int track = 1; track <= 4; ++track) {
    SCOPED_TRACE(track);
    const std::string out = JoinPath(folder, "t" + std::to_string(track) + ".raw");
    ASSERT_EQ(RunProgram({paranoia, "-q", "-d", cue, "-r", std::to_string(track), out}), 0);
    auto theirs = ReadFileBytes(out);
    ASSERT_TRUE(theirs);
    const AlbumTrackEntry& e = album.Tracks[track - 1];
    std::vector<std::uint8_t> ours;
    ASSERT_TRUE(ReadAudioSectors(rig.spti, e.StartSector, static_cast<std::int32_t>(e.Size / 2352), 26, ours));
    ASSERT_EQ(theirs->size(), ours.size());
    EXPECT_TRUE(std::equal(ours.begin(), ours.end(), reinterpret_cast<const std::uint8_t*>(theirs->data())));
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace sonarvex
