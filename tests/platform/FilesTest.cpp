#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/wait.h>

#include <csignal>
#include <filesystem>

#include "platform/Files.h"
#include "platform/IniStore.h"

namespace sonarvex {
namespace {
std::string TempFolder() {
  char tmpl[] = "/tmp/sonarvex-files-XXXXXX";
  return std::string(mkdtemp(tmpl)) + "/";
}
}  // namespace

TEST(Files, AtomicWriteReplacesAndKeepsOldOnFailure) {
  std::string dir = TempFolder();
  std::string path = dir + "set.dat";
  ASSERT_TRUE(WriteFileAtomically(path, "first"));
  ASSERT_TRUE(WriteFileAtomically(path, "second, longer", 0600));
  EXPECT_EQ(*ReadFileBytes(path), "second, longer");
  struct stat st{};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // No temporary file is left behind.
  int count = 0;
  for (auto& e : std::filesystem::directory_iterator(dir)) (void)e, ++count;
  EXPECT_EQ(count, 1);

  if (geteuid() != 0) {  // root ignores folder permissions
    chmod(dir.c_str(), 0500);
    EXPECT_FALSE(WriteFileAtomically(path, "third"));
    chmod(dir.c_str(), 0700);
    EXPECT_EQ(*ReadFileBytes(path), "second, longer");
  }
  // A target that is a folder cannot be replaced; the folder survives.
  MakeDirectories(dir + "sub/inner");
  EXPECT_FALSE(WriteFileAtomically(dir + "sub", "x"));
  EXPECT_TRUE(DirectoryExists(dir + "sub/inner"));
  std::filesystem::remove_all(dir);
}

TEST(Files, ReadLimitsAndMissingFiles) {
  std::string dir = TempFolder();
  EXPECT_FALSE(ReadFileBytes(dir + "none").has_value());
  WriteFileAtomically(dir + "f", "0123456789");
  EXPECT_EQ(*ReadFileBytes(dir + "f", 4), "0123");
  EXPECT_EQ(JoinPath("/a/", "/b"), "/a/b");
  EXPECT_EQ(JoinPath("/a", "b"), "/a/b");
  RemoveEmptyDirectory(dir);  // not empty: stays
  EXPECT_TRUE(DirectoryExists(dir));
  std::filesystem::remove_all(dir);
}

TEST(IniStore, RoundTripAndGarbage) {
  std::string dir = TempFolder();
  {
    IniStore ini(dir + "a.ini");
    ini.SetInt("Sonarvex", "Top", -20);
    ini.Set("AudioCD", "LastPlayer", "vlc.desktop");
    ASSERT_TRUE(ini.Save());
  }
  IniStore ini(dir + "a.ini");
  ini.Load();
  EXPECT_EQ(ini.GetInt("Sonarvex", "Top"), -20);
  EXPECT_EQ(ini.Get("AudioCD", "LastPlayer"), "vlc.desktop");
  EXPECT_FALSE(ini.Has("Sonarvex", "Left"));
  WriteFileAtomically(dir + "b.ini", "[S]\nTop=12abc\nnoequals\n=\nLeft = 7 \r\n");
  IniStore bad(dir + "b.ini");
  bad.Load();
  EXPECT_FALSE(bad.GetInt("S", "Top").has_value());
  EXPECT_EQ(bad.GetInt("S", "Left"), 7);
  std::filesystem::remove_all(dir);
}

}  // namespace sonarvex

namespace sonarvex {

// A FIFO, a device or a folder where a file is expected is refused at once
// (the reading runs in a child that is stopped if it blocks).
TEST(Files, OnlyRegularFilesAreReadAndNothingBlocks) {
  std::string dir = TempFolder();
  ASSERT_EQ(mkfifo((dir + "fifo").c_str(), 0600), 0);
  pid_t pid = fork();
  if (pid == 0) {
    alarm(10);
    std::string problem;
    bool ok = !ReadFileBytes(dir + "fifo", 100, &problem) &&
              problem == "'" + dir + "fifo' не является обычным файлом" &&
              !ReadFileBytes("/dev/zero", 100, &problem) &&
              problem == "'/dev/zero' не является обычным файлом" &&
              !ReadFileBytes(dir, 100, &problem) && !ReadFileBytes(dir + "none", 100, &problem) &&
              problem.empty();
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_FALSE(WIFSIGNALED(status)) << "blocked";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::filesystem::remove_all(dir);
}

}  // namespace sonarvex
