#include "playback/MemoryPcmOutput.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace sonarvex {

PcmOutput::OpenResult MemoryPcmOutput::Open(std::string* detail) {
  if (options_.openResult != OpenResult::Ok) {
    if (detail) *detail = "memory device refused";
    return options_.openResult;
  }
  open_ = true;
  ++opens_;
  return OpenResult::Ok;
}

void MemoryPcmOutput::Close() { open_ = false; }

long MemoryPcmOutput::Write(const unsigned char* pcm, long frames,
                            const std::function<bool()>& keepGoing) {
  long done = 0;
  // Paced devices take 10 ms worth of frames at a time.
  const long step = options_.framesPerSecond > 0 ? std::max(1, options_.framesPerSecond / 100) : frames;
  while (done < frames) {
    if (!keepGoing()) break;
    long n = std::min(step, frames - done);
    if (options_.failAfterFrames >= 0) {
      const long room = options_.failAfterFrames - frames_.load();
      if (room <= 0) return -1;
      n = std::min(n, room);
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      data_.insert(data_.end(), pcm + done * kCdFrameBytes, pcm + (done + n) * kCdFrameBytes);
    }
    frames_ += n;
    done += n;
    if (options_.framesPerSecond > 0)
      std::this_thread::sleep_for(std::chrono::microseconds(1000000LL * n / options_.framesPerSecond));
  }
  return done;
}

void MemoryPcmOutput::Drain(const std::function<bool()>&) { ++drains_; }
void MemoryPcmOutput::Drop() { ++drops_; }
void MemoryPcmOutput::Pause(bool paused) { paused_ = paused; }

std::vector<unsigned char> MemoryPcmOutput::Written() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return data_;
}

}  // namespace sonarvex
