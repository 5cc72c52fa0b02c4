#include "playback/CallQueue.h"

namespace sonarvex {

void CallQueue::Post(std::function<void()> call) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(std::move(call));
  }
  wake_.notify_all();
}

PostToOwner CallQueue::Poster() {
  return [this](std::function<void()> call) { Post(std::move(call)); };
}

void CallQueue::Wake() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++wakes_;
  }
  wake_.notify_all();
}

std::size_t CallQueue::RunPending() {
  std::deque<std::function<void()>> now;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    now.swap(calls_);
  }
  for (auto& call : now) call();
  return now.size();
}

bool CallQueue::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const bool forever = timeout == std::chrono::milliseconds::max();
  const Clock::time_point deadline = forever ? Clock::time_point::max() : Clock::now() + timeout;
  while (!done()) {
    std::function<void()> call;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      const std::uint64_t seen = wakes_;
      auto ready = [&] { return !calls_.empty() || wakes_ != seen; };
      if (forever) {
        wake_.wait(lock, ready);
      } else if (!wake_.wait_until(lock, deadline, ready)) {
        return done();
      }
      if (calls_.empty()) continue;  // woken: look at the condition again
      call = std::move(calls_.front());
      calls_.pop_front();
    }
    call();
  }
  return true;
}

}  // namespace sonarvex
