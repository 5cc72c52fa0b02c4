// The pass-through transport: SG_IO on the optical drive nodes (/dev/sr%d in
// numeric order, then the software drives), one open device at a time.
#pragma once

#include <memory>

#include "drive/DeviceDirectory.h"
#include "drive/Transport.h"

namespace sonarvex {

class SptiTransport : public Transport {
 public:
  static constexpr CommandResult kNoDevice = 170;
  static constexpr CommandResult kRequestFailed = 4;
  // The time a command may take; blanking, closing a session and flushing
  // the cache get kLongCommandTimeoutMs.
  static constexpr int kTimeoutMs = 30000;

  explicit SptiTransport(const DeviceDirectory& directory) : directory_(directory) {}

  const DeviceDirectory& Directory() const { return directory_; }
  TransportKind Kind() const override { return TransportKind::Spti; }
  CommandResult SuccessCode() const override { return 0; }

  // Closes the open device, then opens device `number`.
  bool SelectDevice(int number, std::uint8_t driveType) override;
  void Close() override;
  bool HasDevice() const override { return device_ != nullptr; }
  int CurrentDevice() const { return number_; }

  // 170 without a device; 4 when the request could not be carried out (an
  // audio read that delivered fewer bytes than asked included);
  // otherwise the SCSI status byte (0 GOOD, 2 CHECK CONDITION). Without a
  // device, or when the request was not carried out, the sense data is zero.
  CommandResult Execute(const CommandBlock& block, std::uint8_t* buffer) override;
  bool TestUnitReady() override;
  // 255 without a device; otherwise sets all four ports and returns 0.
  int SetCDVolume(std::uint8_t volume) override;

 private:
  const DeviceDirectory& directory_;
  std::shared_ptr<ScsiDevice> device_;
  int number_ = -1;
};

}  // namespace sonarvex
