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
