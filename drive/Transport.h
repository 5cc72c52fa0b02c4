// What both drive transports offer: one current device, execution of a
// command block with its completion code, the sense data of the last
// command, the readiness test and the analog volume.
#pragma once

#include <array>
#include <cstdint>

#include "drive/CommandBlock.h"
#include "drive/ScsiDevice.h"

namespace sonarvex {

enum class TransportKind { Spti, Aspi };

class Transport {
 public:
  virtual ~Transport() = default;

  virtual TransportKind Kind() const = 0;
  // The completion code of a successful command: 0 on SPTI, 1 on ASPI.
  virtual CommandResult SuccessCode() const = 0;
  bool Succeeded(CommandResult result) const { return result == SuccessCode(); }

  // Makes a device current and stores its drive type.
  virtual bool SelectDevice(int index, std::uint8_t driveType) = 0;
  // Releases the open device, if the transport holds one open.
  virtual void Close() {}
  virtual bool HasDevice() const = 0;

  // Sends one block; buffer holds block.transferLength bytes (may be null
  // for commands without data).
  virtual CommandResult Execute(const CommandBlock& block, std::uint8_t* buffer) = 0;

  // TEST UNIT READY with each transport's own idea of "ready".
  virtual bool TestUnitReady() = 0;

  // The drive's analog output volume (0..255).
  virtual int SetCDVolume(std::uint8_t volume) = 0;

  // Sense bytes of the last executed command (32 on SPTI, 14 meaningful on
  // ASPI; all zero when the drive returned none).
  const std::array<std::uint8_t, kSenseLength>& LastSense() const { return lastSense_; }
  // The device's own words on the last executed command (ScsiOutcome::detail).
  const std::string& LastDetail() const { return lastDetail_; }

  std::uint8_t DriveType() const { return driveType_; }
  void SetDriveType(std::uint8_t driveType) { driveType_ = driveType; }

 protected:
  std::array<std::uint8_t, kSenseLength> lastSense_{};
  std::string lastDetail_;
  std::uint8_t driveType_ = 0;
};

}  // namespace sonarvex
