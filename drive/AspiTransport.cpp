#include "drive/AspiTransport.h"

namespace sonarvex {

bool AspiTransport::Load() {
  if (loads_ > 0) {
    ++loads_;
    return true;
  }
  if (!directory_.GenericLayerPresent()) return false;
  loads_ = 1;
  return true;
}

void AspiTransport::Unload() {
  if (loads_ == 0) return;
  if (--loads_ == 0) {
    device_.reset();
    current_ = -1;
  }
}

int AspiTransport::Enumerate() {
  deviceCount_ = 0;
  const int adapters = directory_.AdapterCount() & 0xFF;
  for (int a = 0; a < adapters; ++a)
    for (int t = 0; t < 8; ++t)
      for (int l = 0; l < 8; ++l) {
        const auto type = directory_.PeripheralType(a, t, l);
        if (!type || *type != 5) continue;
        if (deviceCount_ >= kMaxDevices) continue;
        table_[static_cast<std::size_t>(deviceCount_++)] =
            DeviceSlot{static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(t),
                       static_cast<std::uint8_t>(l)};
      }
  if (current_ >= deviceCount_) {
    current_ = -1;
    device_.reset();
  }
  return deviceCount_;
}

bool AspiTransport::SelectDevice(int index, std::uint8_t driveType) {
  if (index < 0 || index >= deviceCount_) return false;
  current_ = index;
  driveType_ = driveType;
  const DeviceSlot& s = table_[static_cast<std::size_t>(index)];
  device_ = directory_.OpenGeneric(s.adapter, s.target, s.lun);
  return true;
}

int AspiTransport::WaitLimitMs(const CommandBlock& block) const {
  if (waitLimitMs_ > 0) return waitLimitMs_;
  return CommandTimeoutMs(block, 60000);
}

CommandResult AspiTransport::Execute(const CommandBlock& block, std::uint8_t* buffer) {
  LastRequest r;
  r.flags = static_cast<std::uint8_t>(GenericDirectionFlag(block) | 0x40);
  r.bufferLength = block.transferLength;
  r.cdbLength = block.length;
  r.cdb = block.bytes;
  r.status = kError;
  lastSense_.fill(0);
  lastDetail_.clear();
  if (current_ >= 0) {
    r.slot = table_[static_cast<std::size_t>(current_)];
    // A device that could not be opened when selected (or went away) is
    // looked up again: it may have come back.
    if (!device_) device_ = directory_.OpenGeneric(r.slot.adapter, r.slot.target, r.slot.lun);
    if (device_) {
      const ScsiOutcome out = ExecuteBlock(*device_, block, buffer, WaitLimitMs(block));
      if (out.delivered) {
        r.targetStatus = out.status;
        r.status = out.status == 0 && !ShortAudioRead(block, out) ? kComplete : kError;
        for (int i = 0; i < kAspiSenseLength; ++i)
          lastSense_[static_cast<std::size_t>(i)] = out.sense[static_cast<std::size_t>(i)];
        lastDetail_ = out.detail;
      } else if (!out.timedOut) {
        device_.reset();
      }
    }
  }
  last_ = r;
  return r.status;
}

bool AspiTransport::TestUnitReady() { return Execute(cdb::TestUnitReady(), nullptr) != kError; }

int AspiTransport::SetCDVolume(std::uint8_t volume) {
  auto list = AudioControlList(volume);
  return Execute(cdb::ModeSelectAudioControl(), list.data());
}

}  // namespace sonarvex
