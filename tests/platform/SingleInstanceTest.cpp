#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/SingleInstance.h"

namespace sonarvex {

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

}  // namespace sonarvex
