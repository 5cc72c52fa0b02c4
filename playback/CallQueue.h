// Calls handed from worker threads to the thread that owns a player.
//
// The players never touch the drive or their owner's state from their own
// threads: they post a call, and the owner runs it on its thread. A window
// posts with a queued invocation onto the GUI thread; a console program (and
// a test) uses a CallQueue and runs it while it waits.
#pragma once

#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace sonarvex {

// Hands a call to the owner's thread; may be called from any thread.
using PostToOwner = std::function<void(std::function<void()>)>;

class CallQueue {
 public:
  // Thread-safe.
  void Post(std::function<void()> call);
  // A PostToOwner that posts here (the queue must outlive its users).
  PostToOwner Poster();
  // Makes a waiting RunUntil look at its condition again (thread-safe).
  void Wake();

  // Runs the posted calls in order on the calling thread until `done` holds
  // (checked before waiting and after every call or wake-up), sleeping while
  // there is nothing to do. False when `timeout` passed first.
  bool RunUntil(const std::function<bool()>& done,
                std::chrono::milliseconds timeout = std::chrono::milliseconds::max());
  // Runs what is queued now; returns how many calls ran.
  std::size_t RunPending();

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> calls_;
  std::uint64_t wakes_ = 0;
};

}  // namespace sonarvex
