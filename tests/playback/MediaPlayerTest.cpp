// The media file player on GStreamer with sinks that keep time but play
// nowhere (and, for one test, the ALSA capture device).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/Files.h"
#include "platform/Shell.h"
#include "playback/MediaPlayer.h"
#include "tests/playback/AlsaTestHome.h"

namespace sonarvex {
namespace {

using namespace std::chrono_literals;

// A PCM WAV file of a 440 Hz tone.
std::string WriteWav(const std::string& path, double seconds, int rate, int channels, int bits) {
  const int frameBytes = channels * bits / 8;
  const auto frames = static_cast<std::uint32_t>(seconds * rate);
  const std::uint32_t dataBytes = frames * static_cast<std::uint32_t>(frameBytes);
  std::string out;
  auto u32 = [&](std::uint32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](std::uint16_t v) { out.append(reinterpret_cast<const char*>(&v), 2); };
  out += "RIFF";
  u32(36 + dataBytes);
  out += "WAVEfmt ";
  u32(16);
  u16(1);
  u16(static_cast<std::uint16_t>(channels));
  u32(static_cast<std::uint32_t>(rate));
  u32(static_cast<std::uint32_t>(rate * frameBytes));
  u16(static_cast<std::uint16_t>(frameBytes));
  u16(static_cast<std::uint16_t>(bits));
  out += "data";
  u32(dataBytes);
  for (std::uint32_t i = 0; i < frames; ++i) {
    const double v = std::sin(2 * M_PI * 440.0 * i / rate) * 0.5;
    for (int c = 0; c < channels; ++c) {
      if (bits == 16) {
        u16(static_cast<std::uint16_t>(static_cast<std::int16_t>(v * 32767)));
      } else {
        out.push_back(static_cast<char>(static_cast<std::uint8_t>(128 + v * 127)));
      }
    }
  }
  std::ofstream(path, std::ios::binary) << out;
  return path;
}

class MediaPlayerTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!MediaPlayer::Available(&why)) GTEST_SKIP() << why;
    char tmpl[] = "/tmp/sonarvex-media-XXXXXX";
    folder_ = mkdtemp(tmpl);
    wav_ = WriteWav(folder_ + "/tone.wav", 1.0, 44100, 2, 16);
  }
  void TearDown() override {
    if (!folder_.empty()) std::filesystem::remove_all(folder_);
  }
  static MediaPlayerOptions Fake(bool sync = true) {
    MediaPlayerOptions o;
    o.fakeSinks = true;
    o.fakeSinksSync = sync;
    return o;
  }
  std::string folder_, wav_;
};

TEST_F(MediaPlayerTest, PlaysAFileToItsEndInAboutItsLength) {
  MediaPlayer player(Fake());
  ASSERT_TRUE(player.OpenMediaFile(wav_)) << player.LastError();
  EXPECT_TRUE(player.Loaded());
  EXPECT_TRUE(player.NoVideo());
  EXPECT_EQ(player.GetMediaLength(), 100);
  EXPECT_EQ(player.GetMediaPosition(), 0);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(player.PlayMedia());
  EXPECT_EQ(player.WaitForEnd(10000), MediaPlayer::WaitResult::Ended);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 900ms);
  EXPECT_LT(took, 5s);
  EXPECT_GE(player.GetMediaPosition(), 95);
}

TEST_F(MediaPlayerTest, TheEndReachesTheCallbackOnceBeforeAWaiterWakes) {
  MediaPlayer player(Fake(false));
  std::mutex m;
  std::vector<MediaPlayer::StreamEvent> events;
  player.SetEventCallback([&](MediaPlayer::StreamEvent e, const std::string&) {
    std::lock_guard<std::mutex> lock(m);
    events.push_back(e);
  });
  ASSERT_TRUE(player.OpenMediaFile(wav_));
  ASSERT_TRUE(player.PlayMedia());
  ASSERT_EQ(player.WaitForEnd(10000), MediaPlayer::WaitResult::Ended);
  std::lock_guard<std::mutex> lock(m);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], MediaPlayer::StreamEvent::EndOfStream);
}

TEST_F(MediaPlayerTest, AMissingOrUnplayableFileLeavesTheLoadedFileLoaded) {
  MediaPlayer player(Fake());
  ASSERT_TRUE(player.OpenMediaFile(wav_));
  EXPECT_FALSE(player.OpenMediaFile(folder_ + "/missing.mp3"));
  EXPECT_TRUE(player.Loaded());
  EXPECT_EQ(player.LoadedPath(), wav_);

  const std::string junk = folder_ + "/junk.mp3";
  std::ofstream(junk) << "this is not a sound file, only some text that no demuxer takes\n";
  EXPECT_FALSE(player.OpenMediaFile(junk));
  EXPECT_FALSE(player.LastError().empty());
  EXPECT_EQ(player.LoadedPath(), wav_);
  EXPECT_FALSE(player.OpenMediaFile(folder_));  // a folder
  EXPECT_FALSE(player.OpenMediaFile(""));
  // The old file still plays.
  ASSERT_TRUE(player.PlayMedia());
  EXPECT_EQ(player.WaitForEnd(10000), MediaPlayer::WaitResult::Ended);
}

TEST_F(MediaPlayerTest, NothingLoadedMeansFalseOrZeroEverywhere) {
  MediaPlayer player(Fake());
  EXPECT_FALSE(player.PlayMedia());
  EXPECT_FALSE(player.PauseMedia());
  EXPECT_FALSE(player.RewindMedia());
  EXPECT_FALSE(player.CloseMedia());
  EXPECT_EQ(player.GetMediaPosition(), 0);
  EXPECT_EQ(player.GetMediaLength(), 0);
  EXPECT_FALSE(player.SetMediaPosition(100));
  EXPECT_FALSE(player.SetMediaVolume(0));
  EXPECT_EQ(player.WaitForEnd(10), MediaPlayer::WaitResult::NotLoaded);

  ASSERT_TRUE(player.OpenMediaFile(wav_));
  EXPECT_TRUE(player.CloseMedia());
  EXPECT_FALSE(player.Loaded());
  EXPECT_FALSE(player.PlayMedia());  // play after close
  EXPECT_FALSE(player.CloseMedia());
}

TEST_F(MediaPlayerTest, SeeksToWholeSecondsAndRewindsToTheStart) {
  const std::string longWav = WriteWav(folder_ + "/long.wav", 130.0, 8000, 1, 8);
  MediaPlayer player(Fake());
  ASSERT_TRUE(player.OpenMediaFile(longWav));
  EXPECT_EQ(player.GetMediaLength(), 13000);
  ASSERT_TRUE(player.SetMediaPosition(12345));
  EXPECT_EQ(player.GetMediaPosition(), 12300);
  ASSERT_TRUE(player.PlayMedia());
  std::this_thread::sleep_for(300ms);
  EXPECT_GE(player.GetMediaPosition(), 12310);
  ASSERT_TRUE(player.PauseMedia());
  ASSERT_TRUE(player.RewindMedia());
  EXPECT_EQ(player.GetMediaPosition(), 0);
  ASSERT_TRUE(player.SetMediaPosition(12999));  // the last whole second, then the end
  ASSERT_TRUE(player.PlayMedia());
  EXPECT_EQ(player.WaitForEnd(10000), MediaPlayer::WaitResult::Ended);
}

TEST_F(MediaPlayerTest, VolumeIsSetInDecibelsAndStartsFullForEachFile) {
  MediaPlayer player(Fake());
  ASSERT_TRUE(player.OpenMediaFile(wav_));
  EXPECT_EQ(player.LinearVolume(), 1.0);
  EXPECT_TRUE(player.SetMediaVolume(-2000));
  EXPECT_NEAR(player.LinearVolume(), 0.1, 1e-9);
  EXPECT_TRUE(player.SetMediaVolume(-10000));
  EXPECT_EQ(player.LinearVolume(), 0.0);
  ASSERT_TRUE(player.OpenMediaFile(wav_));
  EXPECT_EQ(player.LinearVolume(), 1.0);
}

TEST_F(MediaPlayerTest, InterruptEndsAWaitFromAnotherThread) {
  const std::string longWav = WriteWav(folder_ + "/long.wav", 30.0, 8000, 1, 8);
  MediaPlayer player(Fake());
  ASSERT_TRUE(player.OpenMediaFile(longWav));
  ASSERT_TRUE(player.PlayMedia());
  std::thread stopper([&] {
    std::this_thread::sleep_for(100ms);
    player.InterruptWait();
  });
  EXPECT_EQ(player.WaitForEnd(20000), MediaPlayer::WaitResult::Interrupted);
  stopper.join();
  EXPECT_EQ(player.WaitForEnd(50), MediaPlayer::WaitResult::TimedOut);
}

TEST_F(MediaPlayerTest, AnMp3FilePlays) {
  const std::string lame = FindInPath("lame");
  if (lame.empty()) GTEST_SKIP() << "lame is not installed";
  const std::string mp3 = folder_ + "/tone.mp3";
  ASSERT_EQ(RunProgram({lame, "--quiet", "-b", "128", wav_, mp3}), 0);
  MediaPlayer player(Fake(false));
  ASSERT_TRUE(player.OpenMediaFile(mp3)) << player.LastError();
  EXPECT_NEAR(player.GetMediaLength(), 100, 8);
  ASSERT_TRUE(player.PlayMedia());
  EXPECT_EQ(player.WaitForEnd(10000), MediaPlayer::WaitResult::Ended);
}

TEST_F(MediaPlayerTest, AVideoFileHasVideo) {
  const std::string ffmpeg = FindInPath("ffmpeg");
  if (ffmpeg.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  const std::string avi = folder_ + "/clip.avi";
  ASSERT_EQ(RunProgram({ffmpeg, "-loglevel", "error", "-f", "lavfi", "-i", "testsrc=duration=1:size=64x48:rate=10",
                        "-f", "lavfi", "-i", "sine=duration=1", "-c:v", "mjpeg", "-c:a", "pcm_s16le", avi}),
            0);
  MediaPlayer player(Fake(false));
  if (!player.OpenMediaFile(avi)) GTEST_SKIP() << "no decoder for the test clip: " << player.LastError();
  EXPECT_FALSE(player.NoVideo());
  ASSERT_TRUE(player.PlayMedia());
  EXPECT_EQ(player.WaitForEnd(10000), MediaPlayer::WaitResult::Ended);
  EXPECT_TRUE(player.CloseMedia());
  EXPECT_FALSE(player.NoVideo());  // cleared with the file, as nothing is loaded
}

TEST_F(MediaPlayerTest, TheSoundGoesToTheNamedAlsaDevice) {
  std::string why;
  if (!test::CaptureDeviceWorks(&why)) GTEST_SKIP() << why;
  const std::string capture = folder_ + "/capture.raw";
  MediaPlayerOptions options;
  options.audioDevice = test::CaptureDevice(capture);
  options.audioDeviceSync = false;
  MediaPlayer player(options);
  if (!player.OpenMediaFile(wav_)) GTEST_SKIP() << "GStreamer has no ALSA sink: " << player.LastError();
  ASSERT_TRUE(player.PlayMedia());
  EXPECT_EQ(player.WaitForEnd(20000), MediaPlayer::WaitResult::Ended);
  ASSERT_TRUE(player.CloseMedia());
  auto captured = ReadFileBytes(capture);
  ASSERT_TRUE(captured);
  // The device takes samples faster than they come and has no clock, so
  // GStreamer's ring buffer fills gaps with silence and may skip parts; the
  // samples that arrive are the file's own, unconverted: count the file's
  // 10 ms pieces found in the capture.
  auto wav = ReadFileBytes(wav_);
  ASSERT_TRUE(wav);
  const std::string pcm = wav->substr(44);
  int found = 0;
  for (std::size_t at = 0; at + 1764 <= pcm.size(); at += 1764)
    if (captured->find(pcm.substr(at, 1764)) != std::string::npos) ++found;
  EXPECT_GE(found, 25) << "of 100";
}

}  // namespace
}  // namespace sonarvex
