#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/SingleInstance.h"

namespace sonarvex {

// Restores an environment variable when the test ends.
class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : name_(name) {
    if (const char* v = std::getenv(name)) old_ = v;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~EnvVar() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Without a runtime folder the lock lives in a folder of the user's own,
// never under a name in /tmp that anybody could make first and hold.
TEST(SingleInstance, WithoutARuntimeFolderTheLockIsInAPrivateFolder) {
  char tmpl[] = "/tmp/sonarvex-lock-XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  EnvVar runtime("XDG_RUNTIME_DIR", nullptr);
  EnvVar cache("XDG_CACHE_HOME", dir.c_str());
  // The folder is there already, open to everybody, and a lock file under
  // the name is writable by others (as if somebody else had made them).
  const std::string folder = dir + "/sonarvex";
  ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
  ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
  const std::string lock = folder + "/Sonarvex_v3.x_mutex-" + std::to_string(getuid()) + ".lock";
  int fd = open(lock.c_str(), O_CREAT | O_WRONLY, 0666);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(fchmod(fd, 0666), 0);
  close(fd);
  {
    SingleInstance instance("Sonarvex v3.x mutex");
    EXPECT_EQ(instance.LockPath(), lock);
    EXPECT_TRUE(instance.Acquired()) << instance.Problem();
    EXPECT_EQ(instance.Problem(), "");
    struct stat st{};
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);
    ASSERT_EQ(stat(lock.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 022, 0u);
  }
  std::filesystem::remove_all(dir);
}

// A lock that cannot be taken for any other reason than a running instance
// is said, not taken for one.
TEST(SingleInstance, ALockThatCannotBeMadeIsSaid) {
  char tmpl[] = "/tmp/sonarvex-lock-XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  const std::string notAFolder = dir + "/file";
  int fd = open(notAFolder.c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  close(fd);
  SingleInstance instance("Sonarvex v3.x mutex", notAFolder);
  EXPECT_FALSE(instance.Acquired());
  EXPECT_NE(instance.Problem().find(notAFolder), std::string::npos) << instance.Problem();
  std::filesystem::remove_all(dir);
}

TEST(SingleInstance, SecondHolderIsRefusedUntilTheFirstEnds) {
  char tmpl[] = "/tmp/sonarvex-lock-XXXXXX";
  std::string dir = mkdtemp(tmpl);
  auto first = std::make_unique<SingleInstance>("Sonarvex v3.x mutex", dir);
  ASSERT_TRUE(first->Acquired());
  // flock is per open file: another process must be refused.
  pid_t pid = fork();
  if (pid == 0) {
    SingleInstance second("Sonarvex v3.x mutex", dir);
    _exit(second.Acquired() ? 1 : 0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  first.reset();
  SingleInstance again("Sonarvex v3.x mutex", dir);
  EXPECT_TRUE(again.Acquired());
  EXPECT_EQ(again.LockPath().find(dir), 0u);
}

TEST(SingleInstance, ALaterStartHandsItsRequestToTheHolder) {
  char tmpl[] = "/tmp/sonarvex-lock-XXXXXX";
  std::string dir = mkdtemp(tmpl);
  auto first = std::make_unique<SingleInstance>("Sonarvex v3.x mutex", dir);
  ASSERT_TRUE(first->Acquired());
  // Nobody listens yet: the later start is told so (and ends as before).
  {
    SingleInstance second("Sonarvex v3.x mutex", dir);
    EXPECT_FALSE(second.Acquired());
    EXPECT_FALSE(second.HandOver("raise"));
  }
  EXPECT_FALSE(first->TakeRequest(0));  // not listening
  ASSERT_TRUE(first->Listen());
  EXPECT_GE(first->ListenFd(), 0);
  EXPECT_FALSE(first->TakeRequest(0));  // nothing waiting
  // Another process hands over a request of several lines.
  const std::string request = std::string("raise\n/dev/sr0\n") + std::string(10000, 'x');
  pid_t pid = fork();
  if (pid == 0) {
    SingleInstance second("Sonarvex v3.x mutex", dir);
    _exit(!second.Acquired() && second.HandOver(request) ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  auto got = first->TakeRequest();
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, request);
  // The socket goes with the holder; a stale one does not stop the next.
  const std::string socket = first->SocketPath();
  first.reset();
  EXPECT_NE(access(socket.c_str(), F_OK), 0);
  SingleInstance again("Sonarvex v3.x mutex", dir);
  ASSERT_TRUE(again.Acquired());
  EXPECT_TRUE(again.Listen());
}

}  // namespace sonarvex
