// The volume scales and where the bar's volume goes.
#include <gtest/gtest.h>

#include <cstring>

#include "drive/Transport.h"
#include "playback/MediaPlayer.h"
#include "playback/MemoryPcmOutput.h"
#include "playback/NHandler.h"
#include "playback/SoundVolume.h"
#include "playback/VolumeRouting.h"

namespace sonarvex {
namespace {

TEST(BufferVolume, FollowsTheCurveFromFullToSilent) {
  EXPECT_EQ(BufferVolumeFromLevel(255), 0);
  EXPECT_NEAR(BufferVolumeFromLevel(128), -584, 1);
  EXPECT_NEAR(BufferVolumeFromLevel(1), -2715, 1);
  EXPECT_EQ(BufferVolumeFromLevel(0), -10000);
  EXPECT_EQ(BufferVolumeFromLevel(-5), -10000);
  EXPECT_EQ(BufferVolumeFromLevel(300), 0);
  for (int level = 1; level <= 255; ++level)
    EXPECT_GE(BufferVolumeFromLevel(level), BufferVolumeFromLevel(level - 1)) << level;
}

TEST(BufferVolume, GainOfHundredthsOfADecibel) {
  EXPECT_EQ(GainFromHundredthsDb(0), 1.0);
  EXPECT_EQ(GainFromHundredthsDb(100), 1.0);
  EXPECT_NEAR(GainFromHundredthsDb(-2000), 0.1, 1e-12);
  EXPECT_NEAR(GainFromHundredthsDb(-600), 0.501, 1e-3);
  EXPECT_EQ(GainFromHundredthsDb(-10000), 0.0);
  EXPECT_EQ(GainFromHundredthsDb(-20000), 0.0);
}

TEST(BufferVolume, ApplyGainRoundsEachSampleAndLeavesFullVolumeAlone) {
  std::int16_t s[4] = {32767, -32768, 3, -3};
  unsigned char bytes[8];
  std::memcpy(bytes, s, 8);
  ApplyGain(bytes, 8, 1.0);
  EXPECT_EQ(std::memcmp(bytes, s, 8), 0);
  ApplyGain(bytes, 8, 0.5);
  std::int16_t out[4];
  std::memcpy(out, bytes, 8);
  EXPECT_EQ(out[0], 16384);
  EXPECT_EQ(out[1], -16384);
  EXPECT_EQ(out[2], 2);
  EXPECT_EQ(out[3], -2);
  ApplyGain(bytes, 8, 0.0);
  std::memcpy(out, bytes, 8);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 0);
}

TEST(MediaVolume, TheBarSpansTheAudibleTopOfTheScale) {
  EXPECT_EQ(MediaVolumeFromBar(255), 0);
  EXPECT_EQ(MediaVolumeFromBar(0), -2550);
  EXPECT_EQ(MediaVolumeFromBar(128), -1270);
  EXPECT_EQ(MediaLinearVolume(0), 1.0);
  EXPECT_NEAR(MediaLinearVolume(-2550), 0.0531, 1e-4);  // quiet but audible
  EXPECT_NEAR(MediaLinearVolume(-1270), 0.2317, 1e-4);
  EXPECT_EQ(MediaLinearVolume(-10000), 0.0);
  EXPECT_EQ(MediaLinearVolume(50), 1.0);
}

class VolumeTransport : public Transport {
 public:
  TransportKind Kind() const override { return TransportKind::Spti; }
  CommandResult SuccessCode() const override { return 0; }
  bool SelectDevice(int, std::uint8_t) override { return true; }
  bool HasDevice() const override { return true; }
  CommandResult Execute(const CommandBlock&, std::uint8_t*) override { return 0; }
  bool TestUnitReady() override { return true; }
  int SetCDVolume(std::uint8_t volume) override {
    volumes.push_back(volume);
    return 0;
  }
  std::vector<int> volumes;
};

TEST(VolumeRouting, AFilePlayingTakesTheBarBeforeEverythingElse) {
  EXPECT_EQ(ChooseVolumeTarget({true, true, true}), VolumeTarget::MediaFile);
  EXPECT_EQ(ChooseVolumeTarget({false, true, true}), VolumeTarget::DigitalPlayer);
  EXPECT_EQ(ChooseVolumeTarget({false, false, true}), VolumeTarget::DriveOutput);
  EXPECT_EQ(ChooseVolumeTarget({false, false, false}), VolumeTarget::Mixer);
}

TEST(VolumeRouting, EachTargetGetsTheLevelInItsOwnUnits) {
  CallQueue queue;
  NHandler digital(std::make_unique<MemoryPcmOutput>(), queue.Poster());
  VolumeTransport drive;
  VolumeOutputs outputs{nullptr, &digital, &drive, nullptr};

  EXPECT_EQ(ApplyVolumeLevel(128, {false, true, true}, outputs), VolumeTarget::DigitalPlayer);
  EXPECT_EQ(digital.BufferVolume(), BufferVolumeFromLevel(128));
  EXPECT_TRUE(drive.volumes.empty());

  EXPECT_EQ(ApplyVolumeLevel(77, {false, false, true}, outputs), VolumeTarget::DriveOutput);
  EXPECT_EQ(drive.volumes, std::vector<int>{77});
  EXPECT_EQ(digital.BufferVolume(), BufferVolumeFromLevel(128));

  // Nothing to send to (no mixer, no file loaded): nothing breaks.
  EXPECT_EQ(ApplyVolumeLevel(10, {false, false, false}, outputs), VolumeTarget::Mixer);
  MediaPlayerOptions fake;
  fake.fakeSinks = true;
  MediaPlayer media(fake);
  outputs.media = &media;
  EXPECT_EQ(ApplyVolumeLevel(10, {true, false, false}, outputs), VolumeTarget::MediaFile);
  EXPECT_EQ(drive.volumes, std::vector<int>{77});
  // Out-of-range bar values are clamped before they reach the drive.
  ApplyVolumeLevel(999, {false, false, true}, outputs);
  EXPECT_EQ(drive.volumes.back(), 255);
}

TEST(VolumeRouting, MixerChangesMoveTheBarOnlyWhenTheMixerIsWhatItControls) {
  EXPECT_TRUE(MixerChangeMovesBar({false, false, false}));
  EXPECT_TRUE(MixerChangeMovesBar({true, false, false}));
  EXPECT_FALSE(MixerChangeMovesBar({false, true, false}));
  EXPECT_FALSE(MixerChangeMovesBar({false, false, true}));
  EXPECT_EQ(BarLevelFromMixer(65535), 255);
  EXPECT_EQ(BarLevelFromMixer(128 * 255), 127);
  EXPECT_EQ(BarLevelFromMixer(0), 0);
}

}  // namespace
}  // namespace sonarvex
