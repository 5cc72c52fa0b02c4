// The Session without any window: start-up, settings, the drive list, the
// current disc and its album database record, a rip through its host.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

#include "cli/CliCommands.h"
#include "session/Session.h"
#include "drive/virtual/DemoDisc.h"
#include "metadata/AlbumDatabase.h"
#include "metadata/DiscId.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"
#include "platform/System.h"
#include "tests/rip/RipTestDoubles.h"

namespace sonarvex {
namespace {

class CountingPower : public PowerControl {
 public:
  bool PowerOff() override {
    ++calls;
    return true;
  }
  int calls = 0;
};

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/sonarvex-session-XXXXXX";
    home_ = std::string(mkdtemp(tmpl)) + "/";
    std::string error;
    cue_ = WriteDemoDisc(home_ + "images", &error);
    ASSERT_FALSE(cue_.empty()) << error;
    context_.ProgramFolder = home_;
    context_.DialogService = &dialogs_;
    context_.ScanSystemDrives = false;
    context_.Images = {cue_};
    context_.Power = power_;
  }
  void TearDown() override {
    std::string why;
    EXPECT_TRUE(dialogs_.Clean(&why)) << why;
    std::filesystem::remove_all(home_);
  }

  std::string home_, cue_;
  ScriptedDialogs dialogs_;
  std::shared_ptr<CountingPower> power_ = std::make_shared<CountingPower>();
  SessionContext context_;
};

TEST_F(SessionTest, StartsWithTheImagesAndReadsTheDisc) {
  Session session(context_);
  EXPECT_TRUE(session.StartError().empty());
  EXPECT_EQ(session.AlbumFolder(), home_ + "setting/albums/");
  EXPECT_EQ(session.TempFolder(), home_ + "TempFiles/");
  session.LoadActiveProfile();
  ASSERT_EQ(session.Drives().size(), 1u);
  EXPECT_EQ(session.DriveNames().size(), 1u);
  // First start: the defaults are in the settings.
  EXPECT_EQ(session.Settings().OutputKind, 1);
  EXPECT_EQ(session.Settings().ReadSpeed, 30);

  const DiscView& view = session.ReadDisc();
  ASSERT_TRUE(view.present);
  EXPECT_TRUE(session.DiscPresent());
  EXPECT_EQ(view.trackCount, DemoDiscLayout::kAudioTracks + 1);
  EXPECT_EQ(session.Album().Tracks[0].AudioFlag, 1);
  EXPECT_EQ(session.Album().Tracks[DemoDiscLayout::kAudioTracks].AudioFlag, 0);
}

TEST_F(SessionTest, AnImageThatCannotBeUsedIsReportedAndNotListed) {
  context_.Images.push_back(home_ + "missing.cue");
  Session session(context_);
  EXPECT_NE(session.StartError().find("missing.cue"), std::string::npos);
  session.LoadActiveProfile();
  EXPECT_EQ(session.Drives().size(), 1u);
}

TEST_F(SessionTest, ReadingTheDiscAgainKeepsWhatWasChanged) {
  {
    Session session(context_);
    session.LoadActiveProfile();
    ASSERT_TRUE(session.ReadDisc().present);
    SetField(session.Album().Artist, Utf8ToCp1251("Группа"));
    SetField(session.Album().Tracks[1].Title, Utf8ToCp1251("Вторая"));
    // Reading the disc again first saves the disc being left.
    ASSERT_TRUE(session.ReadDisc().present);
    EXPECT_EQ(Cp1251ToUtf8(FieldText(session.Album().Tracks[1].Title)), "Вторая");
    EXPECT_EQ(session.Artists(), std::vector<std::string>{"Группа"});
  }
  // A new session (the next start) finds the titles in the album database.
  Session next(context_);
  next.LoadActiveProfile();
  ASSERT_TRUE(next.ReadDisc().present);
  EXPECT_EQ(Cp1251ToUtf8(FieldText(next.Album().Artist)), "Группа");
  EXPECT_EQ(next.Artists(), std::vector<std::string>{"Группа"});
}

TEST_F(SessionTest, SettingsRoundTripThroughTheActiveProfile) {
  {
    Session session(context_);
    session.LoadActiveProfile();
    session.Settings().Volume = 77;
    session.SetSearchExtensions({".flac", ".mp3"});
    ASSERT_TRUE(session.SaveSettings(session.Profiles().ActiveFileName()));
    ASSERT_TRUE(session.SaveExtensions());
  }
  Session next(context_);
  next.LoadActiveProfile();
  EXPECT_EQ(next.Settings().Volume, 77);
  EXPECT_EQ(next.SearchExtensions(), (std::vector<std::string>{".flac", ".mp3"}));
}

TEST_F(SessionTest, RipsWithTheCommandsOutputKindAndLeavesTheSettingsAlone) {
  Session session(context_);
  session.LoadActiveProfile();
  ASSERT_TRUE(session.ReadDisc().present);
  MakeDirectories(home_ + "music");
  SettingsRecord& s = session.Settings();
  SetField(s.OutputFolder, home_ + "music/");
  s.FolderPerAlbum = s.FolderPerArtist = 0;
  s.ShutdownAfterCopy = 1;
  const SettingsRecord before = s;

  FakeHost host(session.View().trackCount);
  host.volumePosition = 255;
  Session::RipResult r = session.Rip(GrabSender::Wave, host);
  EXPECT_EQ(r.outcome, RipPipeline::Outcome::Done) << r.failure;
  ASSERT_EQ(host.done.size(), static_cast<std::size_t>(DemoDiscLayout::kAudioTracks));
  for (const auto& path : host.done) EXPECT_TRUE(FileExists(path)) << path;
  EXPECT_NE(host.done[0].find(".wav"), std::string::npos);
  // The grab's output kind is not left in the settings, and the power
  // control the session was given is the one the loop used.
  EXPECT_EQ(std::memcmp(&before, &s, sizeof s), 0);
  EXPECT_EQ(power_->calls, 1);
  EXPECT_EQ(session.Album().Tracks[0].CopiedFlag, 1);
}

}  // namespace
}  // namespace sonarvex

namespace sonarvex {
namespace {

// A drive node the user may not open is named once, with the reason: by the
// window as a notice that does not hold start-up, on standard error by the
// command line.
TEST_F(SessionTest, DrivesThatCannotBeOpenedAreNamed) {
  const std::string dev = home_ + "dev/";
  MakeDirectories(dev);
  WriteFileAtomically(dev + "sr0", "");
  context_.ScanSystemDrives = true;
  context_.Devices.dev = dev;
  context_.Devices.scsiGeneric = home_ + "no-sg";
  context_.Devices.open = [](const std::string&) {
    errno = EACCES;
    return -1;
  };
  Session session(context_);
  const std::string problems = session.Directory().ProblemsMessage();
  ASSERT_FALSE(problems.empty());
  EXPECT_NE(problems.find(dev + "sr0"), std::string::npos) << problems;
  EXPECT_NE(problems.find("нет прав доступа"), std::string::npos) << problems;

  std::ostringstream out, err;
  CliEnvironment env;
  env.ExecutableFolder = home_;
  env.ScanSystemDrives = true;
  env.Devices = context_.Devices;
  EXPECT_EQ(RunCli({"--home", home_, "--image", cue_, "drives"}, out, err, env), 0);
  EXPECT_NE(err.str().find(problems), std::string::npos) << err.str();
  EXPECT_NE(out.str().find("Virtual CD demo"), std::string::npos) << out.str();
}

}  // namespace
}  // namespace sonarvex
