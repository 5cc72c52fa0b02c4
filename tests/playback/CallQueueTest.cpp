// The owner's side of the players' threads.
#include <gtest/gtest.h>

#include <thread>

#include "playback/CallQueue.h"

namespace sonarvex {
namespace {

using namespace std::chrono_literals;

TEST(CallQueue, RunsCallsFromOtherThreadsInOrderOnTheWaitingThread) {
  CallQueue queue;
  std::vector<int> seen;
  const auto self = std::this_thread::get_id();
  bool sameThread = true;
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i)
      queue.Post([&, i] {
        seen.push_back(i);
        sameThread = sameThread && std::this_thread::get_id() == self;
      });
  });
  EXPECT_TRUE(queue.RunUntil([&] { return seen.size() == 100; }, 10s));
  poster.join();
  for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[static_cast<std::size_t>(i)], i);
  EXPECT_TRUE(sameThread);
}

TEST(CallQueue, ATimeOutEndsTheWaitAndAWakeMakesItLookAgain) {
  CallQueue queue;
  const auto before = std::chrono::steady_clock::now();
  EXPECT_FALSE(queue.RunUntil([] { return false; }, 100ms));
  EXPECT_GE(std::chrono::steady_clock::now() - before, 100ms);

  std::atomic<bool> flag{false};
  std::thread waker([&] {
    std::this_thread::sleep_for(50ms);
    flag = true;
    queue.Wake();
  });
  EXPECT_TRUE(queue.RunUntil([&] { return flag.load(); }, 10s));
  waker.join();
  EXPECT_EQ(queue.RunPending(), 0u);
}

}  // namespace
}  // namespace sonarvex
