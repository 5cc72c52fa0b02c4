// The digital player on a memory sound device: what reaches the device is
// exactly the track, whatever seeks, pauses, failed reads and volume do on
// the way; the position is the one the status timer reads.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <thread>

#include "drive/PlayPosition.h"
#include "playback/MemoryPcmOutput.h"
#include "playback/SoundVolume.h"
#include "tests/playback/PlaybackRig.h"

namespace sonarvex {
namespace {

using test::PlaybackRig;
using namespace std::chrono_literals;

// Tracks of 225 (the 3-second track), 1000 and 95 sectors.
VirtualDisc ThreeTracks() { return BuildAudioDisc({225, 1000, 95}); }

struct Memory {
  MemoryPcmOutput* device;
  std::unique_ptr<PcmOutput> owned;
};
Memory MakeMemory(MemoryPcmOutput::Options options = {}) {
  auto d = std::make_unique<MemoryPcmOutput>(options);
  MemoryPcmOutput* raw = d.get();
  return {raw, std::move(d)};
}

class DigitalPlay : public testing::TestWithParam<TransportKind> {};

TEST_P(DigitalPlay, EveryTrackReachesTheDeviceExactly) {
  for (int track = 0; track < 3; ++track) {
    SCOPED_TRACE(track);
    Memory m = MakeMemory();
    PlaybackRig rig(ThreeTracks(), std::move(m.owned), GetParam());
    ASSERT_TRUE(rig.player->Init(rig.dialogs));
    rig.player->SetBufferVolume(255);
    ASSERT_TRUE(rig.player->Play(track, rig.album, rig.Drive(GetParam())));
    ASSERT_TRUE(rig.RunToEnd());
    const auto expected = rig.TrackAudio(track, GetParam());
    const auto written = m.device->Written();
    ASSERT_EQ(written.size(), expected.size());
    EXPECT_TRUE(written == expected);
    EXPECT_EQ(rig.player->FailedReads(), 0);  // the last track reads nothing past the lead-out
    EXPECT_EQ(rig.player->Position().audioStatus, kAudioCompleted);
    EXPECT_FALSE(m.device->IsOpen());  // given back once the track is heard
    EXPECT_EQ(m.device->Drains(), 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Transports, DigitalPlay, testing::Values(TransportKind::Spti, TransportKind::Aspi),
                         test::KindName);

TEST(DigitalPlayer, ThreeSecondTrackQueuesAndRefillsAsTheBufferIsHeard) {
  Memory m = MakeMemory();
  PlaybackRig rig(ThreeTracks(), std::move(m.owned));
  ASSERT_TRUE(rig.player->Init(rig.dialogs));
  ASSERT_TRUE(rig.player->Play(0, rig.album, rig.Drive()));
  const int d = rig.album.FirstTrackOffset;
  // Seek queued the whole buffer: what is heard is the track's start.
  EXPECT_EQ(rig.player->QueuedPosition(), 160);
  SubChannelPosition p = rig.player->Position();
  EXPECT_EQ(p.audioStatus, kAudioPlaying);
  EXPECT_EQ(MsfToFrames(p.Absolute()), rig.album.Tracks[0].StartSector + d);
  EXPECT_EQ(p.position[0], 0);

  // The first slot heard is refilled with the next 10 sectors.
  ASSERT_TRUE(rig.queue.RunUntil([&] { return rig.player->QueuedPosition() == 170; }, 10s));
  EXPECT_EQ(MsfToFrames(rig.player->Position().Absolute()), rig.album.Tracks[0].StartSector + d + 10);

  ASSERT_TRUE(rig.RunToEnd());
  // Refills went on in steps of 10 until the slot playing began at the end.
  EXPECT_EQ(rig.player->QueuedPosition(), 390);
  EXPECT_EQ(m.device->FramesWritten(), 225 * 588);
}

TEST(DigitalPlayer, TheStatusTimerFindsTheTrackWhilePlayingAndWhenCompleted) {
  Memory m = MakeMemory({PcmOutput::OpenResult::Ok, 44100 * 20, -1});
  PlaybackRig rig(ThreeTracks(), std::move(m.owned));
  ASSERT_TRUE(rig.player->Init(rig.dialogs));
  const int count = rig.view.trackCount;
  for (int track : {1, 2}) {  // the last track has no next track to fall into
    SCOPED_TRACE(track);
    ASSERT_TRUE(rig.player->Play(track, rig.album, rig.Drive()));
    bool sawPlaying = false;
    ASSERT_TRUE(rig.queue.RunUntil(
        [&] {
          const SubChannelPosition p = rig.player->Position();
          if (p.audioStatus == kAudioPlaying) {
            auto where = LocatePlayPosition(rig.album, count, p.Absolute());
            EXPECT_TRUE(where && where->track == track);
            sawPlaying = true;
          }
          return !rig.player->Running();
        },
        30s));
    EXPECT_TRUE(sawPlaying);
    const SubChannelPosition done = rig.player->Position();
    EXPECT_EQ(done.audioStatus, kAudioCompleted);
    auto where = LocatePlayPosition(rig.album, count, done.Absolute());
    ASSERT_TRUE(where);
    EXPECT_EQ(where->track, track);
    EXPECT_EQ(where->sector, rig.album.Tracks[track + 1].StartSector - rig.album.Tracks[track].StartSector - 1);
  }
}

TEST(DigitalPlayer, SeekPlaysOnFromTheNewSectorAndIgnoresSectorsOutsideTheTrack) {
  Memory m = MakeMemory();
  PlaybackRig rig(ThreeTracks(), std::move(m.owned));
  ASSERT_TRUE(rig.player->Init(rig.dialogs));
  ASSERT_TRUE(rig.player->Play(1, rig.album, rig.Drive()));
  const std::int32_t start = rig.album.Tracks[1].StartSector;
  const std::int32_t end = rig.album.Tracks[2].StartSector;
  const int d = rig.album.FirstTrackOffset;

  rig.player->Seek(start + 437);
  EXPECT_EQ(MsfToFrames(rig.player->Position().Absolute()), start + 437 + d);
  rig.player->Seek(end);        // the next track: ignored
  rig.player->Seek(start - 1);  // the track before: ignored
  EXPECT_EQ(MsfToFrames(rig.player->Position().Absolute()), start + 437 + d);

  ASSERT_TRUE(rig.RunToEnd());
  const auto track = rig.TrackAudio(1);
  const auto written = m.device->Written();
  const std::size_t tail = static_cast<std::size_t>(end - start - 437) * 2352;
  ASSERT_GE(written.size(), tail);
  // Before the seek at most the first buffer's worth was played.
  EXPECT_LE(written.size() - tail, static_cast<std::size_t>(kPlaybackBufferBytes));
  EXPECT_TRUE(std::equal(written.end() - static_cast<long>(tail), written.end(), track.end() - static_cast<long>(tail)));
  EXPECT_TRUE(std::equal(written.begin(), written.end() - static_cast<long>(tail), track.begin()));
}

TEST(DigitalPlayer, PauseHoldsTheStreamAndResumesWithoutLosingOrRepeatingAudio) {
  // Ten times real time, so the pause falls in the middle of the track.
  Memory m = MakeMemory({PcmOutput::OpenResult::Ok, 441000, -1});
  PlaybackRig rig(ThreeTracks(), std::move(m.owned));
  ASSERT_TRUE(rig.player->Init(rig.dialogs));
  ASSERT_TRUE(rig.player->Play(1, rig.album, rig.Drive()));
  ASSERT_TRUE(rig.queue.RunUntil([&] { return m.device->FramesWritten() > 100 * 588; }, 10s));
  rig.player->Pause(true);
  EXPECT_EQ(rig.player->Position().audioStatus, kAudioPaused);
  EXPECT_TRUE(rig.player->Running());
  const long held = m.device->FramesWritten();
  rig.queue.RunUntil([] { return false; }, 200ms);
  EXPECT_EQ(m.device->FramesWritten(), held);
  EXPECT_TRUE(m.device->Paused());
  rig.player->Pause(false);
  EXPECT_EQ(rig.player->Position().audioStatus, kAudioPlaying);
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_TRUE(m.device->Written() == rig.TrackAudio(1));
}

TEST(DigitalPlayer, StopEndsPlayAtOnceAndLateRefillsChangeNothing) {
  Memory m = MakeMemory({PcmOutput::OpenResult::Ok, 441000, -1});
  PlaybackRig rig(ThreeTracks(), std::move(m.owned));
  ASSERT_TRUE(rig.player->Init(rig.dialogs));
  ASSERT_TRUE(rig.player->Play(1, rig.album, rig.Drive()));
  // Let refills pile up without running them.
  std::this_thread::sleep_for(100ms);
  rig.player->Stop();
  EXPECT_FALSE(rig.player->Running());
  EXPECT_EQ(rig.player->Position().audioStatus, kAudioNoStatus);
  EXPECT_FALSE(m.device->IsOpen());
  const std::int32_t queued = rig.player->QueuedPosition();
  const long frames = m.device->FramesWritten();
  rig.queue.RunPending();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(rig.player->QueuedPosition(), queued);
  EXPECT_EQ(m.device->FramesWritten(), frames);
  // Seek and Pause do nothing once stopped; Play starts afresh.
  rig.player->Seek(rig.album.Tracks[1].StartSector + 10);
  rig.player->Pause(false);
  EXPECT_FALSE(rig.player->Running());
  ASSERT_TRUE(rig.player->Play(2, rig.album, rig.Drive()));
  ASSERT_TRUE(rig.RunToEnd());
  const auto written = m.device->Written();
  const auto track = rig.TrackAudio(2);
  ASSERT_GE(written.size(), track.size());
  EXPECT_TRUE(std::equal(track.begin(), track.end(), written.end() - static_cast<long>(track.size())));
}

TEST(DigitalPlayer, SectorsThatCannotBeReadPlayAsSilenceNotAsTheSlotsOldContents) {
  Memory m = MakeMemory();
  PlaybackRig rig(ThreeTracks(), std::move(m.owned));
  const std::int32_t start = rig.album.Tracks[1].StartSector;
  const std::int32_t lba = start + rig.album.FirstTrackOffset - 150;
  const auto track = rig.TrackAudio(1);
  VirtualDriveFaults faults;
  faults.failReadsFirst = lba + 400;  // a second pass over the slots
  faults.failReadsLast = lba + 409;
  rig.drives.Drive().SetFaults(faults);
  ASSERT_TRUE(rig.player->Init(rig.dialogs));
  ASSERT_TRUE(rig.player->Play(1, rig.album, rig.Drive()));
  ASSERT_TRUE(rig.RunToEnd());
  const auto written = m.device->Written();
  ASSERT_EQ(written.size(), track.size());
  EXPECT_GE(rig.player->FailedReads(), 1);
  const std::size_t bad = 400 * 2352, badEnd = 410 * 2352;
  EXPECT_TRUE(std::all_of(written.begin() + bad, written.begin() + badEnd, [](std::uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::equal(written.begin(), written.begin() + bad, track.begin()));
  EXPECT_TRUE(std::equal(written.begin() + badEnd, written.end(), track.begin() + badEnd));
}

TEST(DigitalPlayer, BufferVolumeScalesTheSamples) {
  for (int level : {0, 128}) {
    SCOPED_TRACE(level);
    Memory m = MakeMemory();
    PlaybackRig rig(ThreeTracks(), std::move(m.owned));
    ASSERT_TRUE(rig.player->Init(rig.dialogs));
    rig.player->SetBufferVolume(level);
    ASSERT_TRUE(rig.player->Play(2, rig.album, rig.Drive()));
    ASSERT_TRUE(rig.RunToEnd());
    const auto track = rig.TrackAudio(2);
    const auto written = m.device->Written();
    ASSERT_EQ(written.size(), track.size());
    const double gain = GainFromHundredthsDb(BufferVolumeFromLevel(level));
    for (std::size_t i = 0; i < track.size(); i += 2) {
      std::int16_t in, out;
      std::memcpy(&in, &track[i], 2);
      std::memcpy(&out, &written[i], 2);
      ASSERT_EQ(out, static_cast<std::int16_t>(std::lround(in * gain))) << i;
    }
  }
}

TEST(DigitalPlayer, WithoutASoundDeviceItSaysSoOnceAndDoesNothing) {
  struct Case {
    PcmOutput::OpenResult result;
    std::string text, caption;
    MsgIcon icon;
  } cases[] = {
      {PcmOutput::OpenResult::NoDevice, NoSoundDeviceText("memory"), "Sonarvex v3.x", MsgIcon::Warning},
      {PcmOutput::OpenResult::FormatRefused, "Can't create primary sound buffer", "Sonarvex", MsgIcon::Error},
  };
  for (const Case& c : cases) {
    Memory m = MakeMemory({c.result, 0, -1});
    PlaybackRig rig(ThreeTracks(), std::move(m.owned));
    rig.dialogs.ExpectMessage(c.text, c.caption, c.icon, MsgButtons::Ok);
    EXPECT_FALSE(rig.player->Init(rig.dialogs));
    EXPECT_FALSE(rig.player->Usable());
    EXPECT_FALSE(rig.player->Play(0, rig.album, rig.Drive()));
    rig.player->Seek(10);
    rig.player->Pause(true);
    rig.player->SetBufferVolume(100);
    rig.player->Stop();
    EXPECT_EQ(rig.player->Position().audioStatus, kAudioNoStatus);
    EXPECT_FALSE(rig.player->Running());
    std::string why;
    EXPECT_TRUE(rig.dialogs.Clean(&why)) << why;
  }
  EXPECT_EQ(NoSoundDeviceText("hw:1"), "Нет звукового устройства ALSA \"hw:1\"!!!");
}

TEST(DigitalPlayer, ADeviceThatFailsMidTrackEndsPlayWithTheErrorStatus) {
  Memory m = MakeMemory({PcmOutput::OpenResult::Ok, 0, 50 * 588});
  PlaybackRig rig(ThreeTracks(), std::move(m.owned));
  ASSERT_TRUE(rig.player->Init(rig.dialogs));
  ASSERT_TRUE(rig.player->Play(1, rig.album, rig.Drive()));
  ASSERT_TRUE(rig.RunToEnd(10s));
  EXPECT_EQ(rig.player->Position().audioStatus, kAudioError);
}

TEST(DigitalPlayer, RowsWithoutSectorsAreNotPlayed) {
  Memory m = MakeMemory();
  PlaybackRig rig(ThreeTracks(), std::move(m.owned));
  ASSERT_TRUE(rig.player->Init(rig.dialogs));
  EXPECT_FALSE(rig.player->Play(-1, rig.album, rig.Drive()));
  EXPECT_FALSE(rig.player->Play(kMaxAlbumTracks - 1, rig.album, rig.Drive()));
  EXPECT_FALSE(rig.player->Play(3, rig.album, rig.Drive()));  // the lead-out row
  EXPECT_FALSE(rig.player->Running());
}

TEST(DigitalPlayer, CallsPostedBeforeThePlayerWentAwayAreHarmless) {
  Memory m = MakeMemory();
  PlaybackRig rig(ThreeTracks(), std::move(m.owned));
  ASSERT_TRUE(rig.player->Init(rig.dialogs));
  ASSERT_TRUE(rig.player->Play(1, rig.album, rig.Drive()));
  std::this_thread::sleep_for(100ms);  // the output thread posts refills meanwhile
  rig.player.reset();
  EXPECT_GT(rig.queue.RunPending(), 0u);
}

}  // namespace
}  // namespace sonarvex
