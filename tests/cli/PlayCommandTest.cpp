// sonarvex-cli play: a disc track played digitally reaches the sound device
// byte for byte; a media file plays to its end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>

#include "cli/CliPlay.h"
#include "session/Session.h"
#include "drive/virtual/DemoDisc.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"
#include "platform/Shell.h"
#include "playback/MediaPlayer.h"
#include "tests/playback/AlsaTestHome.h"

namespace sonarvex {
namespace {

class PlayCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!test::CaptureDeviceWorks(&why)) GTEST_SKIP() << why;
    char tmpl[] = "/tmp/sonarvex-play-XXXXXX";
    home_ = std::string(mkdtemp(tmpl)) + "/";
    std::string error;
    cue_ = WriteDemoDisc(home_ + "images", &error);
    ASSERT_FALSE(cue_.empty()) << error;
    capture_ = home_ + "heard.raw";
    MakeDirectories(home_ + "setting");
    WriteFileAtomically(home_ + "setting/placement.ini",
                        "[Audio]\nDevice=" + test::CaptureDevice(capture_) + "\n");
    context_.ProgramFolder = home_;
    context_.DialogService = &dialogs_;
    context_.ScanSystemDrives = false;
    context_.Images = {cue_};
  }
  void TearDown() override {
    if (!home_.empty()) std::filesystem::remove_all(home_);
  }

  std::string home_, cue_, capture_;
  ScriptedDialogs dialogs_;
  SessionContext context_;
};

TEST_F(PlayCommandTest, ATrackReachesTheSoundDeviceByteForByte) {
  const std::string paranoia = FindInPath("cd-paranoia");
  if (paranoia.empty()) GTEST_SKIP() << "cd-paranoia is not installed";
  Session session(context_);
  session.LoadActiveProfile();
  std::ostringstream out, err;
  PlayRequest request;
  request.track = 2;
  ASSERT_EQ(RunPlayCommand(session, request, out, err), 0) << err.str();
  const std::string theirs = home_ + "t2.raw";
  ASSERT_EQ(RunProgram({paranoia, "-q", "-d", cue_, "-r", "2", theirs}), 0);
  auto heard = ReadFileBytes(capture_);
  auto track = ReadFileBytes(theirs);
  ASSERT_TRUE(heard && track);
  ASSERT_EQ(heard->size(), track->size());
  EXPECT_TRUE(*heard == *track);
}

TEST_F(PlayCommandTest, WhatCannotBePlayedSaysWhy) {
  Session session(context_);
  session.LoadActiveProfile();
  std::ostringstream out, err;
  PlayRequest request;
  request.track = 5;  // the data track
  EXPECT_EQ(RunPlayCommand(session, request, out, err), 1);
  EXPECT_EQ(err.str(), "Дорожка 5 содержит данные, а не звук.\n");
  err.str("");
  request.track = 9;
  EXPECT_EQ(RunPlayCommand(session, request, out, err), 1);
  EXPECT_EQ(err.str(), "Нет дорожки 9 (дорожек на диске: 5).\n");
  err.str("");
  request.track = 0;
  request.file = home_ + "missing.mp3";
  EXPECT_EQ(RunPlayCommand(session, request, out, err), 1);
  EXPECT_EQ(err.str(), "Не удалось воспроизвести '" + home_ + "missing.mp3': файл не найден.\n");
}

TEST_F(PlayCommandTest, AMediaFilePlaysToItsEnd) {
  if (FindInPath("sox").empty() && FindInPath("ffmpeg").empty())
    GTEST_SKIP() << "neither sox nor ffmpeg is installed to make a sound file";
  std::string why;
  if (!MediaPlayer::Available(&why)) GTEST_SKIP() << why;
  const std::string wav = home_ + "tone.wav";
  ASSERT_EQ(RunProgram({"ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i",
                        "sine=frequency=440:duration=1", "-ac", "2", "-ar", "44100", wav}),
            0);
  Session session(context_);
  session.LoadActiveProfile();
  std::ostringstream out, err;
  PlayRequest request;
  request.file = wav;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunPlayCommand(session, request, out, err), 0) << err.str();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  EXPECT_LT(ms, 20000);
  auto heard = ReadFileBytes(capture_);
  ASSERT_TRUE(heard);
  EXPECT_GT(heard->size(), 0u) << "the file's sound reached the device";
}

}  // namespace
}  // namespace sonarvex
