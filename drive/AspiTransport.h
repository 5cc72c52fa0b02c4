// The generic SCSI transport: the SCSI generic layer with devices addressed
// by host adapter, target and LUN (real /dev/sg* nodes, then one adapter
// carrying the software drives). Completion 1 when GOOD, 4 otherwise (an
// audio read that delivered fewer bytes than asked is an error too).
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "drive/DeviceDirectory.h"
#include "drive/Transport.h"

namespace sonarvex {

class AspiTransport : public Transport {
 public:
  static constexpr CommandResult kComplete = 1;
  static constexpr CommandResult kError = 4;
  static constexpr int kMaxDevices = 16;
  static constexpr int kAspiSenseLength = 14;

  struct DeviceSlot {
    std::uint8_t adapter = 0, target = 0, lun = 0;
  };

  // The request last executed.
  struct LastRequest {
    DeviceSlot slot;
    std::uint8_t flags = 0;  // direction flag | 0x40 (event notify)
    std::uint32_t bufferLength = 0;
    std::uint8_t senseLength = kAspiSenseLength;
    std::uint8_t cdbLength = 0;
    std::array<std::uint8_t, 16> cdb{};
    CommandResult status = 0;
    std::uint8_t targetStatus = 0;
  };

  explicit AspiTransport(const DeviceDirectory& directory) : directory_(directory) {}

  const DeviceDirectory& Directory() const { return directory_; }
  TransportKind Kind() const override { return TransportKind::Aspi; }
  CommandResult SuccessCode() const override { return kComplete; }

  // False only when there is no SCSI generic layer (and no software drive).
  bool Load();
  void Unload();
  bool Loaded() const { return loads_ > 0; }

  // Walks adapters x targets 0..7 x LUNs 0..7 and records the CD-ROM devices
  // (at most 16). Returns the device count.
  int Enumerate();
  int DeviceCount() const { return deviceCount_; }
  const DeviceSlot& Slot(int index) const { return table_[static_cast<std::size_t>(index)]; }

  bool SelectDevice(int index, std::uint8_t driveType) override;
  bool HasDevice() const override { return current_ >= 0; }
  int CurrentDevice() const { return current_; }

  CommandResult Execute(const CommandBlock& block, std::uint8_t* buffer) override;
  // Ready unless the completion code is 4.
  bool TestUnitReady() override;
  // MODE SELECT of the audio control page; returns its completion code.
  int SetCDVolume(std::uint8_t volume) override;

  // How long a request may stay pending before it counts as failed. Zero (the
  // default) means: 20 minutes for blanking, closing a session and flushing
  // the cache (IsLongCommand), one minute for everything else.
  void SetWaitLimitMs(int ms) { waitLimitMs_ = ms; }
  int WaitLimitMs(const CommandBlock& block) const;

  const LastRequest& Last() const { return last_; }

 private:
  const DeviceDirectory& directory_;
  int loads_ = 0;
  std::array<DeviceSlot, kMaxDevices> table_{};
  int deviceCount_ = 0;
  int current_ = -1;
  std::shared_ptr<ScsiDevice> device_;
  int waitLimitMs_ = 0;
  LastRequest last_;
};

}  // namespace sonarvex
