// The drives the two transports can reach: the system's optical drives
// (/dev/sr* for the pass-through transport, the SCSI generic layer /dev/sg*
// with host/target/LUN for the generic transport) followed by the software
// drives declared by the user.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drive/ScsiDevice.h"

namespace sonarvex {

class VirtualDrive;

class DeviceDirectory {
 public:
  // scanSystem false: only the software drives (tests, and machines where the
  // real drives must not be touched).
  explicit DeviceDirectory(bool scanSystem = true);

  // Looks at the system's devices again.
  void Rescan();

  // Software drives are listed after the real ones, in the order added.
  void AddVirtual(std::shared_ptr<VirtualDrive> drive);
  const std::vector<std::shared_ptr<VirtualDrive>>& VirtualDrives() const { return virtual_; }

  // Pass-through view: device numbers 0.. are the real /dev/sr* nodes in
  // numeric order, then the software drives.
  int PassThroughCount() const;
  // Null when the number names nothing or the device cannot be opened (a
  // software drive that was unplugged cannot be opened either).
  std::shared_ptr<ScsiDevice> OpenPassThrough(int number) const;
  std::string PassThroughPath(int number) const;

  // Generic layer view.
  // True when the system has the SCSI generic layer or software drives exist.
  bool GenericLayerPresent() const;
  // Host adapters: the system's (highest host number + 1), plus one adapter
  // carrying the software drives.
  int AdapterCount() const;
  // Peripheral device type of adapter/target/LUN (5 = CD-ROM); nullopt when
  // no device answers there.
  std::optional<int> PeripheralType(int adapter, int target, int lun) const;
  std::shared_ptr<ScsiDevice> OpenGeneric(int adapter, int target, int lun) const;

 private:
  struct GenericNode {
    int host, target, lun, type;
    std::string path;
  };
  bool scanSystem_;
  bool sgLayer_ = false;
  std::vector<std::string> srPaths_;
  std::vector<GenericNode> sgNodes_;
  int realAdapters_ = 0;
  std::vector<std::shared_ptr<VirtualDrive>> virtual_;
};

}  // namespace sonarvex
