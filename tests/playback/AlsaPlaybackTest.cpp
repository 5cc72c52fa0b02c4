// The digital player and the mixer on ALSA itself: a track of the demo disc
// played into a capture device of the test's own ALSA configuration comes
// out byte for byte; a device or mixer that is not there is reported once.
#include <gtest/gtest.h>

#include <filesystem>

#include "drive/virtual/DemoDisc.h"
#include "drive/virtual/CueImage.h"
#include "drive/virtual/VirtualDrive.h"
#include "platform/Files.h"
#include "playback/CdMixer.h"
#include "tests/playback/AlsaTestHome.h"
#include "tests/playback/PlaybackRig.h"

namespace sonarvex {
namespace {

using namespace std::chrono_literals;

class AlsaPlayback : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!test::CaptureDeviceWorks(&why)) GTEST_SKIP() << why;
    folder_ = test::MakeTempFolder();
  }
  void TearDown() override {
    if (!folder_.empty()) std::filesystem::remove_all(folder_);
  }
  std::string folder_;
};

TEST_F(AlsaPlayback, ATrackOfTheDemoDiscIsCapturedByteForByte) {
  std::string error;
  const std::string cue = WriteDemoDisc(folder_, &error);
  ASSERT_FALSE(cue.empty()) << error;
  auto image = LoadCueImage(cue, &error);
  ASSERT_TRUE(image) << error;
  const std::string capture = folder_ + "/track2.raw";
  test::PlaybackRig rig(std::move(*image), MakeAlsaPcmOutput(test::CaptureDevice(capture)));
  ASSERT_TRUE(rig.player->Init(rig.dialogs));
  rig.player->SetBufferVolume(255);
  ASSERT_TRUE(rig.player->Play(1, rig.album, rig.Drive()));
  ASSERT_TRUE(rig.RunToEnd(60s));
  EXPECT_EQ(rig.player->Position().audioStatus, kAudioCompleted);
  auto captured = ReadFileBytes(capture);
  ASSERT_TRUE(captured);
  const auto expected = rig.TrackAudio(1);
  ASSERT_EQ(captured->size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), reinterpret_cast<const std::uint8_t*>(captured->data())));
  std::string why;
  EXPECT_TRUE(rig.dialogs.Clean(&why)) << why;
}

TEST_F(AlsaPlayback, PausedAndSoughtPlayEndsWithTheTrackTail) {
  const std::string capture = folder_ + "/seek.raw";
  test::PlaybackRig rig(BuildAudioDisc({300, 800}), MakeAlsaPcmOutput(test::CaptureDevice(capture)));
  ASSERT_TRUE(rig.player->Init(rig.dialogs));
  ASSERT_TRUE(rig.player->Play(1, rig.album, rig.Drive()));
  rig.player->Pause(true);
  rig.player->Pause(false);
  const std::int32_t start = rig.album.Tracks[1].StartSector;
  rig.player->Seek(start + 500);
  ASSERT_TRUE(rig.RunToEnd(60s));
  auto captured = ReadFileBytes(capture);
  ASSERT_TRUE(captured);
  const auto track = rig.TrackAudio(1);
  const std::size_t tail = 300 * 2352;
  ASSERT_GE(captured->size(), tail);
  EXPECT_TRUE(std::equal(track.end() - static_cast<long>(tail), track.end(),
                         reinterpret_cast<const std::uint8_t*>(captured->data()) + captured->size() - tail));
}

TEST(AlsaDevice, AMissingDeviceIsReportedOnceAndLeavesThePlayerUnusable) {
  test::AlsaTestHome();
  test::PlaybackRig rig(BuildAudioDisc({100}), MakeAlsaPcmOutput("sonarvex_no_such_device"));
  rig.dialogs.ExpectMessage(NoSoundDeviceText("sonarvex_no_such_device"), "Sonarvex v3.x", MsgIcon::Warning,
                            MsgButtons::Ok);
  EXPECT_FALSE(rig.player->Init(rig.dialogs));
  EXPECT_FALSE(rig.player->Play(0, rig.album, rig.Drive()));
  std::string why;
  EXPECT_TRUE(rig.dialogs.Clean(&why)) << why;
}

TEST(AlsaMixer, AMissingMixerWarnsOnceAndIsNotUsed) {
  test::AlsaTestHome();
  ScriptedDialogs dialogs;
  dialogs.ExpectMessage("mixerOpen() failed!", "Sonarvex v3.2", MsgIcon::Warning, MsgButtons::Ok);
  CdMixer mixer;
  EXPECT_FALSE(mixer.Open("plughw:CARD=SonarvexNoSuchCard,DEV=0", dialogs));
  EXPECT_FALSE(mixer.Usable());
  EXPECT_FALSE(mixer.SetVolume(1000));
  EXPECT_EQ(mixer.Volume(), -1);
  EXPECT_EQ(mixer.ElementName(), "");
  mixer.Close();
  std::string why;
  EXPECT_TRUE(dialogs.Clean(&why)) << why;
}

TEST(AlsaMixer, TheCardOfTheSoundDevice) {
  EXPECT_EQ(MixerDeviceFor("default"), "default");
  EXPECT_EQ(MixerDeviceFor(""), "default");
  EXPECT_EQ(MixerDeviceFor("hw:1,0"), "hw:1");
  EXPECT_EQ(MixerDeviceFor("plughw:2"), "hw:2");
  EXPECT_EQ(MixerDeviceFor("sysdefault:0"), "hw:0");
  EXPECT_EQ(MixerDeviceFor("plughw:CARD=PCH,DEV=0"), "hw:PCH");
  EXPECT_EQ(MixerDeviceFor("default:CARD=Audio"), "hw:Audio");
  EXPECT_EQ(MixerDeviceFor("sonarvex_capture:FILE=/tmp/x"), "default");
  EXPECT_EQ(MixerDeviceFor("hw:abc"), "default");
}

TEST(AlsaMixer, TheCdLineOrTheNearestElement) {
  EXPECT_EQ(ChooseCdElement({"Master", "PCM", "CD", "Line"}), 2);
  EXPECT_EQ(ChooseCdElement({"Master", "PCM", "Line"}), 2);
  EXPECT_EQ(ChooseCdElement({"Master", "aux"}), 1);
  EXPECT_EQ(ChooseCdElement({"Master", "PCM"}), 1);
  EXPECT_EQ(ChooseCdElement({"Headphone", "Master"}), 1);
  EXPECT_EQ(ChooseCdElement({"Headphone", "Mic Boost"}), -1);
  EXPECT_EQ(ChooseCdElement({}), -1);
  EXPECT_EQ(ChooseCdElement({"cd"}), 0);
}

}  // namespace
}  // namespace sonarvex
