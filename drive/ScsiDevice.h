// One SCSI/MMC device that executes command blocks: a real drive reached
// with SG_IO, or the software drive. Both transports execute through this.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "drive/CommandBlock.h"

namespace sonarvex {

struct ScsiRequest {
  const std::uint8_t* cdb = nullptr;
  int cdbLength = 0;
  std::uint8_t* data = nullptr;  // may be null when length is 0
  std::uint32_t length = 0;
  DataDirection direction = DataDirection::None;
  int timeoutMs = 30000;  // the device gives up after this long
};

inline constexpr int kSenseLength = 32;

struct ScsiOutcome {
  // False when the request could not be carried out at all (no device, the
  // device went away, host adapter error, time-out).
  bool delivered = false;
  bool timedOut = false;
  std::uint8_t status = 0;  // SCSI status byte: 0 GOOD, 2 CHECK CONDITION
  std::array<std::uint8_t, kSenseLength> sense{};  // fixed-format sense, zero when none
  std::uint32_t residual = 0;                     // bytes asked for but not transferred
  // What the device can say beyond its sense, in a sentence (the software
  // drive names the error of the image file it could not write); usually
  // empty.
  std::string detail;
};

class ScsiDevice {
 public:
  virtual ~ScsiDevice() = default;
  virtual ScsiOutcome Execute(const ScsiRequest& request) = 0;
  // The analog output volume of all four ports; false when the device has no
  // such control.
  virtual bool SetVolume(std::uint8_t volume) {
    (void)volume;
    return false;
  }
};

// A block sent to a device: fills the request from the block.
ScsiOutcome ExecuteBlock(ScsiDevice& device, const CommandBlock& block, std::uint8_t* buffer,
                         int timeoutMs);

// True when an audio read completed with GOOD status but moved fewer bytes
// than it asked for: the tail of the buffer then holds whatever was there
// before, so the read has failed. (Other data-in commands, such as READ TOC
// or INQUIRY, may legitimately return less than their allocation length.)
bool ShortAudioRead(const CommandBlock& block, const ScsiOutcome& outcome);

// Fixed-format sense helpers.
void SetSense(std::array<std::uint8_t, kSenseLength>& sense, std::uint8_t key, std::uint8_t asc,
              std::uint8_t ascq);
inline std::uint8_t SenseKey(const std::uint8_t* sense) { return sense[2] & 0x0F; }

// Commands that may keep a drive busy for many minutes (BLANK, CLOSE
// TRACK/SESSION, SYNCHRONIZE CACHE) get this long to complete on both
// transports; the others get the transport's ordinary time.
inline constexpr int kLongCommandTimeoutMs = 20 * 60000;
bool IsLongCommand(const CommandBlock& block);
inline int CommandTimeoutMs(const CommandBlock& block, int ordinaryMs) {
  return IsLongCommand(block) ? kLongCommandTimeoutMs : ordinaryMs;
}

// SG_IO on a device node (/dev/sr0, /dev/sg1), opened O_RDWR | O_NONBLOCK.
// Null when it cannot be opened (errno says why).
std::shared_ptr<ScsiDevice> OpenSgIoDevice(const std::string& path);
// SG_IO on a node already open; the device owns the descriptor.
std::shared_ptr<ScsiDevice> SgIoDeviceFromDescriptor(int fd);

}  // namespace sonarvex
