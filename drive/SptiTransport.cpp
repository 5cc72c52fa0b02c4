#include "drive/SptiTransport.h"

#include <thread>

namespace sonarvex {

bool SptiTransport::SelectDevice(int number, std::uint8_t driveType) {
  if (device_) Close();
  std::this_thread::yield();
  device_ = directory_.OpenPassThrough(number);
  if (!device_) return false;
  number_ = number;
  driveType_ = driveType;
  return true;
}

void SptiTransport::Close() {
  std::this_thread::yield();
  device_.reset();
  std::this_thread::yield();
}

CommandResult SptiTransport::Execute(const CommandBlock& block, std::uint8_t* buffer) {
  lastDetail_.clear();
  if (!device_) {
    lastSense_.fill(0);
    return kNoDevice;
  }
  const ScsiOutcome out = ExecuteBlock(*device_, block, buffer, CommandTimeoutMs(block, kTimeoutMs));
  // A request that never reached the drive has no sense data: the sense of
  // an earlier command must not stand for it.
  if (!out.delivered) {
    lastSense_.fill(0);
    return kRequestFailed;
  }
  lastSense_ = out.sense;
  lastDetail_ = out.detail;
  std::this_thread::yield();
  if (ShortAudioRead(block, out)) return kRequestFailed;
  return out.status;
}

bool SptiTransport::TestUnitReady() { return Execute(cdb::TestUnitReady(), nullptr) == 0; }

int SptiTransport::SetCDVolume(std::uint8_t volume) {
  if (!device_) return 255;
  device_->SetVolume(volume);
  return 0;
}

}  // namespace sonarvex
