// The Session without any window: start-up, settings, the drive list, the
// current disc and its album database record, a rip through its host.
#include <gtest/gtest.h>

#include <cstdlib>
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
#include "LoopbackServer.h"
#include "platform/Version.h"
#include "records/CoverImage.h"
#include "settings/ProgramOptions.h"

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
std::string CoverBytes() {
  const auto b = ReadFileBytes(std::string(SONARVEX_SOURCE_DIR) + "/tests/data/cover/small.jpg");
  return b ? *b : std::string();
}

// The cover of a disc looked up in MusicBrainz: fetched once from the Cover
// Art Archive, put into the files and beside them, kept with the album for
// the next rip; the archive unreachable, the rip goes on without it.
TEST_F(SessionTest, ARipOfAReleaseCarriesItsCoverAndGoesOnWithoutOne) {
  const std::string jpg = CoverBytes();
  ASSERT_FALSE(jpg.empty());
  test::LoopbackServer archive([&](const std::string&, test::LoopbackServer::Connection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: " +
           std::to_string(jpg.size()) + "\r\nConnection: close\r\n\r\n" + jpg);
  });
  Session session(context_);
  session.LoadActiveProfile();
  ASSERT_TRUE(session.ReadDisc().present);
  ASSERT_TRUE(session.ChangeOptions([&](ProgramOptions& o) {
    o.CoverArtServer = "http://127.0.0.1:" + std::to_string(archive.Port());
    o.LogLossless = false;
  }));
  const std::string release = "b84ee12a-09ef-421b-82de-0441a926375b";
  session.AlbumTexts().Put("MusicBrainzAlbumId", release);
  TrackTags tag = session.Tags().GetTags(0, session.Album().TrackCount);
  tag.Record.TagsOn = 1;
  tag.Set(TagField::Title, "Первая");
  tag.Texts.Put("MusicBrainzAlbumId", release);
  session.Tags().SetTags(0, session.Album().TrackCount, tag);
  MakeDirectories(home_ + "music");
  SettingsRecord& s = session.Settings();
  SetField(s.OutputFolder, home_ + "music/");
  s.FolderPerAlbum = s.FolderPerArtist = 0;
  s.ShutdownAfterCopy = 0;

  const bool flac = session.FormatAvailable(OutputKind::Flac);
  FakeHost host(session.View().trackCount);
  host.volumePosition = 255;
  Session::RipResult r = session.Rip(flac ? GrabSender::Flac : GrabSender::Wave, host);
  ASSERT_EQ(r.outcome, RipPipeline::Outcome::Done) << r.failure;
  EXPECT_EQ(r.coverFailure, "");
  ASSERT_EQ(r.coverPaths, std::vector<std::string>{home_ + "music/cover.jpg"});
  EXPECT_EQ(ReadFileBytes(home_ + "music/cover.jpg").value_or(""), jpg);
  EXPECT_EQ(archive.Requests().size(), 1u);
  EXPECT_TRUE(FileExists(session.AlbumFolder() + std::to_string(session.Album().DiscId) + "." +
                         release + ".jpg"));
  if (flac) {
    if (std::system("command -v metaflac >/dev/null") == 0) {
      const std::string picture = home_ + "picture";
      const std::string command =
          "metaflac '--export-picture-to=" + picture + "' '" + host.done[0] + "'";
      EXPECT_EQ(std::system(command.c_str()), 0) << command;
      EXPECT_EQ(ReadFileBytes(picture).value_or(""), jpg) << host.done[0];
    }
  }
  const std::shared_ptr<const CoverImage> shown = session.CurrentCover(false);
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->width, 40u);

  // A picture of the user's own in the folder stays; the archive is not
  // asked again (the album database has the cover).
  WriteFileAtomically(home_ + "music/cover.jpg", "mine");
  for (int row = 0; row < session.View().trackCount; ++row) host.ticked[row] = true;
  host.done.clear();
  Session::RipChoices replace;
  replace.workers = 0;
  replace.existing = RipPipeline::ExistingFiles::Replace;
  r = session.Rip(GrabSender::Wave, host, replace);
  ASSERT_EQ(r.outcome, RipPipeline::Outcome::Done) << r.failure;
  EXPECT_TRUE(r.coverPaths.empty());
  EXPECT_EQ(ReadFileBytes(home_ + "music/cover.jpg").value_or(""), "mine");
  EXPECT_EQ(archive.Requests().size(), 1u);

  // Another release, the archive gone: a warning naming it, and the rip
  // goes on without a cover.
  session.AlbumTexts().Put("MusicBrainzAlbumId", "6c4f766f-3351-4c10-a53d-b119452c27b2");
  int port = 0;
  {
    test::LoopbackServer gone([](const std::string&, test::LoopbackServer::Connection&) {});
    port = gone.Port();
  }
  ASSERT_TRUE(session.ChangeOptions([&](ProgramOptions& o) {
    o.CoverArtServer = "http://127.0.0.1:" + std::to_string(port);
  }));
  const std::string reason =
      "сервер Cover Art Archive 127.0.0.1:" + std::to_string(port) + ": соединение отклонено";
  dialogs_.ExpectMessage("Не удалось получить обложку альбома: " + reason, kProgramTitle,
                         MsgIcon::Warning, MsgButtons::Ok);
  MakeDirectories(home_ + "other");
  SetField(s.OutputFolder, home_ + "other/");
  for (int row = 0; row < session.View().trackCount; ++row) host.ticked[row] = true;
  r = session.Rip(GrabSender::Wave, host);
  ASSERT_EQ(r.outcome, RipPipeline::Outcome::Done) << r.failure;
  EXPECT_EQ(r.coverFailure, reason);
  EXPECT_TRUE(r.coverPaths.empty());
  EXPECT_FALSE(FileExists(home_ + "other/cover.jpg"));

  // Switched off: nothing is asked for, nothing written.
  ASSERT_TRUE(session.ChangeOptions([&](ProgramOptions& o) { o.CoverArtEnabled = false; }));
  MakeDirectories(home_ + "third");
  SetField(s.OutputFolder, home_ + "third/");
  for (int row = 0; row < session.View().trackCount; ++row) host.ticked[row] = true;
  r = session.Rip(GrabSender::Wave, host);
  ASSERT_EQ(r.outcome, RipPipeline::Outcome::Done) << r.failure;
  EXPECT_FALSE(FileExists(home_ + "third/cover.jpg"));
}

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
