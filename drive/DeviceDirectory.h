// The drives the two transports can reach: the system's optical drives
// (/dev/sr* for the pass-through transport, the SCSI generic layer /dev/sg*
// with host/target/LUN for the generic transport) followed by the software
// drives declared by the user.
//
// A system drive the user may not open still takes its place in the lists
// (so the device numbers of the others stay), but cannot be selected; the
// directory says which ones and why (Problems), so the program can tell the
// user instead of showing a shorter list.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drive/ScsiDevice.h"

namespace sonarvex {

class VirtualDrive;

// Where the system's drives are looked for, and how a node is opened. Tests
// give a folder of their own and may make opening fail.
struct DeviceFolders {
  std::string dev = "/dev";
  std::string scsiGeneric = "/sys/class/scsi_generic";
  // Opens a node for SG_IO (O_RDWR | O_NONBLOCK); a descriptor, or -1 with
  // errno set. Empty: the system's open().
  std::function<int(const std::string& path)> open;
};

// A system drive that could not be opened.
struct DeviceProblem {
  std::vector<std::string> paths;  // its nodes: /dev/srN, then /dev/sgM when both failed alike
  int error = 0;                   // errno of the open
  std::string reason;              // Russian, e.g. "нет прав доступа: пользователь не входит в группу cdrom"
  std::string Text() const;        // "/dev/sr0, /dev/sg1: " + reason
};

// The heading of the message that lists the drives that could not be opened.
inline constexpr const char* kUnreachableDrivesHeading =
    "Не удалось открыть приводы, поэтому их нет в списке:";
// The heading of the same list in the drive report.
inline constexpr const char* kUnreachableDrivesReportHeading = "Недоступные приводы:";

class DeviceDirectory {
 public:
  // scanSystem false: only the software drives (tests, and machines where the
  // real drives must not be touched).
  explicit DeviceDirectory(bool scanSystem = true, DeviceFolders folders = {});

  // Looks at the system's devices again (the problems too).
  void Rescan();

  // Software drives are listed after the real ones, in the order added. A
  // drive named after its image whose name another software drive already
  // shows gets a number (" 2", " 3", ...).
  void AddVirtual(std::shared_ptr<VirtualDrive> drive);
  const std::vector<std::shared_ptr<VirtualDrive>>& VirtualDrives() const { return virtual_; }

  // The system drives that could not be opened at the last scan, in the
  // order of their nodes; empty when every one could (or none exists).
  const std::vector<DeviceProblem>& Unreachable() const { return problems_; }
  // One line a drive (DeviceProblem::Text).
  std::vector<std::string> Problems() const;
  // The message for the user: the heading and one line a drive; empty when
  // there is nothing to say. The window shows it once, the command line
  // prints it on standard error.
  std::string ProblemsMessage() const;

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
  int OpenNode(const std::string& path) const;
  std::shared_ptr<ScsiDevice> OpenDevice(const std::string& path) const;
  // Records a generic node that could not be opened, on the line of its
  // /dev/sr node when that one failed for the same reason.
  void NoteGenericFailure(const std::string& sysNode, const std::string& path, int error);

  bool scanSystem_;
  DeviceFolders folders_;
  bool sgLayer_ = false;
  std::vector<std::string> srPaths_;
  std::vector<GenericNode> sgNodes_;
  int realAdapters_ = 0;
  std::vector<DeviceProblem> problems_;
  std::vector<std::shared_ptr<VirtualDrive>> virtual_;
};

// Why opening a device node failed, in words for the user. For a missing
// permission it names the group that may use the node when the user is not
// in it (or joined it after logging in).
std::string DeviceOpenFailure(const std::string& path, int error);

}  // namespace sonarvex
