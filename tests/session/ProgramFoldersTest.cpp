// Where the program keeps its state: portable beside the executable, or
// installed in the XDG folders; the temporary folder of a rip; a Session
// run on the installed folders writes nothing beside the program.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>

#include "session/ProgramFolders.h"
#include "session/Session.h"
#include "drive/virtual/DemoDisc.h"
#include "platform/Files.h"
#include "platform/SafeFile.h"
#include "platform/ScriptedDialogs.h"

namespace sonarvex {
namespace {

class ProgramFoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/sonarvex-folders-XXXXXX";
    root_ = std::string(mkdtemp(tmpl)) + "/";
    MakeDirectories(root_ + "prefix/bin");
    MakeDirectories(root_ + "home");
    env_.ExecutableFolder = root_ + "prefix/bin/";
    env_.Home = root_ + "home";
    env_.ProcessId = 4242;
  }
  void TearDown() override {
    ::chmod((root_ + "prefix/bin").c_str(), 0755);
    std::filesystem::remove_all(root_);
  }

  // Every file below `folder`, relative to it.
  std::vector<std::string> FilesBelow(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         it != std::filesystem::recursive_directory_iterator(); ++it)
      if (it->is_regular_file()) files.push_back(it->path().lexically_relative(folder).string());
    return files;
  }

  std::string root_;
  FolderEnvironment env_;
};

TEST_F(ProgramFoldersTest, InstalledUsesTheXdgVariables) {
  env_.ConfigHome = root_ + "cfg";
  env_.DataHome = root_ + "data/";
  env_.CacheHome = root_ + "cache";
  ProgramFolders f = ChooseProgramFolders(env_);
  EXPECT_FALSE(f.Portable);
  EXPECT_EQ(f.Program, root_ + "prefix/bin/");
  EXPECT_EQ(f.Setting, root_ + "cfg/sonarvex/");
  EXPECT_EQ(f.Albums, root_ + "data/sonarvex/albums/");
  EXPECT_EQ(f.Temp, root_ + "cache/sonarvex/run-4242/");
  EXPECT_EQ(f.Cache, root_ + "cache/sonarvex/");
  // Choosing makes nothing.
  EXPECT_FALSE(DirectoryExists(root_ + "cfg"));
}

TEST_F(ProgramFoldersTest, UnsetEmptyOrRelativeVariablesFallBackBelowHome) {
  env_.ConfigHome = "";
  env_.DataHome = "relative/data";  // not absolute: ignored, as the XDG rules say
  ProgramFolders f = ChooseProgramFolders(env_);
  EXPECT_EQ(f.Setting, root_ + "home/.config/sonarvex/");
  EXPECT_EQ(f.Albums, root_ + "home/.local/share/sonarvex/albums/");
  EXPECT_EQ(f.Temp, root_ + "home/.cache/sonarvex/run-4242/");
}

TEST_F(ProgramFoldersTest, ASettingFolderBesideTheProgramMakesItPortable) {
  MakeDirectories(root_ + "prefix/bin/setting");
  env_.ConfigHome = root_ + "cfg";
  ProgramFolders f = ChooseProgramFolders(env_);
  EXPECT_TRUE(f.Portable);
  EXPECT_EQ(f.Setting, root_ + "prefix/bin/setting/");
  EXPECT_EQ(f.Albums, root_ + "prefix/bin/setting/albums/");
  EXPECT_EQ(f.Temp, root_ + "prefix/bin/TempFiles/");
}

TEST_F(ProgramFoldersTest, TheBuildTreeIsPortableOnlyWhenWritable) {
  WriteFileAtomically(root_ + "prefix/CMakeCache.txt", "# build tree\n");
  EXPECT_TRUE(ChooseProgramFolders(env_).Portable);
  if (::geteuid() == 0) GTEST_SKIP() << "root writes to read-only folders";
  ::chmod((root_ + "prefix/bin").c_str(), 0555);
  EXPECT_FALSE(ChooseProgramFolders(env_).Portable);
}

TEST_F(ProgramFoldersTest, TheDecoderLibraryIsFoundBesideOrInThePrivateFolder) {
  EXPECT_EQ(ChooseProgramFolders(env_).Library, root_ + "prefix/bin/");
  MakeDirectories(root_ + "prefix/lib/sonarvex");
  EXPECT_EQ(ChooseProgramFolders(env_).Library, root_ + "prefix/lib/sonarvex/");
  WriteFileAtomically(root_ + "prefix/bin/libkelpra.so", "");
  EXPECT_EQ(ChooseProgramFolders(env_).Library, root_ + "prefix/bin/");
}

TEST_F(ProgramFoldersTest, TemporaryFilesFollowTheOutputOntoItsFileSystem) {
  const std::string run = root_ + "cache/sonarvex/run-7/";
  // Same file system (even for folders still to be made): this run's folder.
  EXPECT_EQ(TempFolderForOutput(run, root_ + "music/new/", 7), run);
  EXPECT_EQ(TempFolderForOutput(run, "relative/", 7), run);
  // Another file system: a hidden folder of this run in the output folder.
  struct stat a{}, b{};
  if (::stat("/tmp", &a) != 0 || ::stat("/dev/shm", &b) != 0 || a.st_dev == b.st_dev)
    GTEST_SKIP() << "/tmp and /dev/shm are one file system here";
  EXPECT_EQ(TempFolderForOutput(run, "/dev/shm/music/", 7), "/dev/shm/music/.sonarvex-run-7/");
}

TEST_F(ProgramFoldersTest, StaleEmptyRunFoldersAreRemoved) {
  const std::string cache = root_ + "cache/";
  // A process id that cannot exist (above the kernel's limit).
  MakeDirectories(cache + "run-999999999");
  MakeDirectories(cache + "run-" + std::to_string(::getpid()));
  MakeDirectories(cache + "run-999999998");
  WriteFileAtomically(cache + "run-999999998/Track1.wav", "data");
  MakeDirectories(cache + "other");
  RemoveStaleRunFolders(cache);
  EXPECT_FALSE(DirectoryExists(cache + "run-999999999"));
  EXPECT_TRUE(DirectoryExists(cache + "run-" + std::to_string(::getpid())));  // this run
  // A run that is gone leaves nothing of its own: its files go with it.
  EXPECT_FALSE(DirectoryExists(cache + "run-999999998"));
  EXPECT_TRUE(DirectoryExists(cache + "other"));
}

// A run killed hard (SIGKILL) while it writes leaves its partial files and
// its folder; the next start clears them, but never a file that a running
// writer holds.
TEST_F(ProgramFoldersTest, WhatAKilledRunLeftIsClearedAtTheNextStart) {
  const std::string cache = root_ + "cache/";
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  // Writes like a run converting a file, then waits to be killed.
  auto writer = [&](const std::string& folder) {
    pid_t pid = fork();
    if (pid == 0) {
      const std::string run = folder.empty() ? cache + "run-" + std::to_string(getpid()) : folder;
      MakeDirectories(run + "/TempFile");
      const int fd = CreateExclusiveFile(run + "/TempFile/NAME.wav.part");
      const char c = fd >= 0 ? 'y' : 'n';
      if (::write(ready[1], &c, 1) != 1) _exit(1);
      for (;;) pause();
    }
    char c = 0;
    EXPECT_EQ(::read(ready[0], &c, 1), 1);
    EXPECT_EQ(c, 'y');
    return pid;
  };
  const pid_t killed = writer("");
  // A writer whose run folder looks stale (another process namespace): its
  // held file stays.
  const pid_t alive = writer(cache + "run-999999997");
  kill(killed, SIGKILL);
  waitpid(killed, nullptr, 0);
  const std::string killedRun = cache + "run-" + std::to_string(killed);
  ASSERT_TRUE(FileExists(killedRun + "/TempFile/NAME.wav.part"));
  RemoveStaleRunFolders(cache);
  EXPECT_FALSE(DirectoryExists(killedRun));
  EXPECT_TRUE(FileExists(cache + "run-999999997/TempFile/NAME.wav.part"));
  kill(alive, SIGKILL);
  waitpid(alive, nullptr, 0);

  // Portable, the runs share TempFiles/: what nobody holds goes.
  const std::string temp = root_ + "TempFiles/";
  MakeDirectories(temp);
  const int fd = CreateExclusiveFile(temp + "Track1.wav");  // a writer of this run
  ASSERT_GE(fd, 0);
  WriteFileAtomically(temp + "Track2.wav", "left by a killed run");
  RemoveStaleTemporaryFiles(temp);
  EXPECT_TRUE(FileExists(temp + "Track1.wav"));
  EXPECT_FALSE(FileExists(temp + "Track2.wav"));
  ::close(fd);
  close(ready[0]);
  close(ready[1]);
}

TEST_F(ProgramFoldersTest, AnInstalledSessionKeepsItsStateInTheXdgFolders) {
  env_.ConfigHome = root_ + "cfg";
  env_.DataHome = root_ + "data";
  env_.CacheHome = root_ + "cache";
  ProgramFolders f = ChooseProgramFolders(env_);
  ASSERT_FALSE(f.Portable);
  // A software drive declared with a path relative to the settings folder.
  std::string error;
  ASSERT_FALSE(WriteDemoDisc(f.Setting + "images", &error).empty()) << error;
  WriteFileAtomically(f.Setting + "vdrives.lst", "images/demo.cue\n");
  ::chmod((root_ + "prefix/bin").c_str(), 0555);  // as /usr/bin is

  ScriptedDialogs dialogs;
  SessionContext context;
  FillSessionContext(f, context);
  context.DialogService = &dialogs;
  context.ScanSystemDrives = false;
  {
    Session session(context);
    EXPECT_EQ(session.SettingFolder(), root_ + "cfg/sonarvex/");
    EXPECT_EQ(session.AlbumFolder(), root_ + "data/sonarvex/albums/");
    EXPECT_EQ(session.TempFolder(), root_ + "cache/sonarvex/run-4242/");
    session.LoadActiveProfile();
    ASSERT_EQ(session.Drives().size(), 1u);
    // Without a stored folder the output goes to the user's music folder,
    // never to the program's.
    EXPECT_NE(std::string(session.Settings().OutputFolder).rfind(root_ + "prefix", 0), 0u);
    ASSERT_TRUE(session.ReadDisc().present);
    EXPECT_TRUE(session.SaveSettings("set.dat"));
    EXPECT_TRUE(session.SaveExtensions());
    session.SaveCurrentAlbum();
    std::memcpy(session.Album().AlbumTitle, "Named", 6);
    session.SaveCurrentAlbum();
  }
  EXPECT_TRUE(FileExists(root_ + "cfg/sonarvex/set.dat"));
  EXPECT_TRUE(FileExists(root_ + "cfg/sonarvex/prof.lst"));
  EXPECT_TRUE(FileExists(root_ + "cfg/sonarvex/ext.dat"));
  EXPECT_FALSE(FilesBelow(root_ + "data/sonarvex/albums").empty());
  EXPECT_TRUE(FilesBelow(root_ + "prefix").empty());
  EXPECT_FALSE(DirectoryExists(root_ + "cache/sonarvex/run-4242"));
  EXPECT_TRUE(dialogs.Clean()) << dialogs.Failures().size();
}

}  // namespace
}  // namespace sonarvex
