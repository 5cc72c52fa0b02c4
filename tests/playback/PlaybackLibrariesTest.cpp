// GStreamer and ALSA are opened when a player or the mixer first needs them.
// Without them the media player, the mixer's CD line and the digital
// player's device report that they cannot work, as for a missing device,
// and nothing crashes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "platform/ScriptedDialogs.h"
#include "playback/CdMixer.h"
#include "playback/MediaPlayer.h"
#include "playback/PcmOutput.h"

namespace sonarvex {
namespace {

// In a fresh copy of this program (nothing loaded yet); the exit code names
// the first check that failed.
int PlaybackWithoutItsLibraries() {
  ::setenv("SONARVEX_HIDE_LIBRARIES", "libgstreamer,libasound", 1);
  std::string why;
  if (MediaPlayer::Available(&why)) return 1;
  if (why.find("Не удалось загрузить библиотеку libgstreamer-1.0.so") == std::string::npos) return 2;
  const std::string file = "/tmp/sonarvex-playback-libraries-test.ogg";
  std::ofstream(file) << "not really Ogg";
  MediaPlayer player;
  const bool opened = player.OpenMediaFile(file, 0);
  std::remove(file.c_str());
  if (opened || player.Loaded()) return 3;

  ScriptedDialogs dialogs;
  dialogs.ExpectMessage("mixerOpen() failed!", kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
  CdMixer mixer;
  if (mixer.Open("default", dialogs) || mixer.Usable()) return 4;
  if (!dialogs.Clean(&why)) return 5;

  std::unique_ptr<PcmOutput> out = MakeAlsaPcmOutput("default");
  std::string detail;
  if (out->Open(&detail) != PcmOutput::OpenResult::NoDevice || out->IsOpen()) return 6;
  if (detail.find("libasound.so.2") == std::string::npos) return 7;
  return 0;
}

TEST(PlaybackLibraries, WithoutGStreamerAndAlsaThePlayersSayTheyCannot) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(PlaybackWithoutItsLibraries()), testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace sonarvex
