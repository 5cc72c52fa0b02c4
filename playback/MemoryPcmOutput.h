// A sound device that keeps what it is given, for tests and windowless runs
// without a sound card. Optionally paced like a real device.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "playback/PcmOutput.h"

namespace sonarvex {

class MemoryPcmOutput : public PcmOutput {
 public:
  struct Options {
    PcmOutput::OpenResult openResult = PcmOutput::OpenResult::Ok;
    // Frames taken per second (0: as fast as they come).
    int framesPerSecond = 0;
    // Write fails after this many frames (-1: never).
    long failAfterFrames = -1;
  };
  MemoryPcmOutput() = default;
  explicit MemoryPcmOutput(Options options) : options_(options) {}

  std::string Name() const override { return "memory"; }
  OpenResult Open(std::string* detail) override;
  bool IsOpen() const override { return open_; }
  void Close() override;
  long Write(const unsigned char* pcm, long frames, const std::function<bool()>& keepGoing) override;
  void Drain(const std::function<bool()>& keepGoing) override;
  void Drop() override;
  void Pause(bool paused) override;

  // Everything written since construction (thread-safe copy).
  std::vector<unsigned char> Written() const;
  long FramesWritten() const { return frames_.load(); }
  int Opens() const { return opens_.load(); }
  int Drops() const { return drops_.load(); }
  int Drains() const { return drains_.load(); }
  bool Paused() const { return paused_.load(); }

 private:
  Options options_;
  mutable std::mutex mutex_;
  std::vector<unsigned char> data_;
  std::atomic<long> frames_{0};
  std::atomic<int> opens_{0}, drops_{0}, drains_{0};
  std::atomic<bool> paused_{false};
  bool open_ = false;
};

}  // namespace sonarvex
