#include "drive/DeviceDirectory.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "drive/virtual/VirtualDrive.h"
#include "platform/Files.h"

namespace sonarvex {

namespace fs = std::filesystem;

namespace {

// The number after a prefix ("sr12" -> 12), or -1.
int NodeNumber(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return -1;
  int n = 0;
  for (std::size_t i = prefix.size(); i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9' || n > 100000) return -1;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}

}  // namespace

DeviceDirectory::DeviceDirectory(bool scanSystem) : scanSystem_(scanSystem) { Rescan(); }

void DeviceDirectory::Rescan() {
  srPaths_.clear();
  sgNodes_.clear();
  sgLayer_ = false;
  realAdapters_ = 0;
  if (!scanSystem_) return;
  std::error_code ec;

  std::vector<std::pair<int, std::string>> sr;
  for (const auto& e : fs::directory_iterator("/dev", ec)) {
    const int n = NodeNumber(e.path().filename().string(), "sr");
    if (n >= 0) sr.emplace_back(n, e.path().string());
  }
  std::sort(sr.begin(), sr.end());
  for (auto& [n, path] : sr) srPaths_.push_back(path);

  const fs::path sgClass = "/sys/class/scsi_generic";
  if (!fs::is_directory(sgClass, ec)) return;
  sgLayer_ = true;
  for (const auto& e : fs::directory_iterator(sgClass, ec)) {
    const std::string name = e.path().filename().string();
    if (NodeNumber(name, "sg") < 0) continue;
    GenericNode node{-1, -1, -1, -1, "/dev/" + name};
    // Host, target and LUN from the driver; the sysfs name "H:C:T:L" when
    // the node cannot be opened.
    const int fd = ::open(node.path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      struct sg_scsi_id id;
      std::memset(&id, 0, sizeof id);
      if (::ioctl(fd, SG_GET_SCSI_ID, &id) == 0) {
        node.host = id.host_no;
        node.target = id.scsi_id;
        node.lun = id.lun;
        node.type = id.scsi_type;
      }
      ::close(fd);
    }
    if (node.host < 0) {
      const fs::path link = fs::read_symlink(e.path() / "device", ec);
      int h, c, t, l;
      if (!ec && std::sscanf(link.filename().string().c_str(), "%d:%d:%d:%d", &h, &c, &t, &l) == 4) {
        node.host = h;
        node.target = t;
        node.lun = l;
      }
      if (auto type = ReadFileBytes((e.path() / "device" / "type").string(), 16))
        node.type = std::atoi(type->c_str());
    }
    if (node.host < 0 || node.host > 254) continue;
    sgNodes_.push_back(node);
    realAdapters_ = std::max(realAdapters_, node.host + 1);
  }
}

void DeviceDirectory::AddVirtual(std::shared_ptr<VirtualDrive> drive) {
  if (drive) virtual_.push_back(std::move(drive));
}

int DeviceDirectory::PassThroughCount() const {
  return static_cast<int>(srPaths_.size() + virtual_.size());
}

std::string DeviceDirectory::PassThroughPath(int number) const {
  if (number < 0) return {};
  const auto n = static_cast<std::size_t>(number);
  if (n < srPaths_.size()) return srPaths_[n];
  if (n - srPaths_.size() < virtual_.size()) return virtual_[n - srPaths_.size()]->ImagePath();
  return {};
}

std::shared_ptr<ScsiDevice> DeviceDirectory::OpenPassThrough(int number) const {
  if (number < 0) return nullptr;
  const auto n = static_cast<std::size_t>(number);
  if (n < srPaths_.size()) return OpenSgIoDevice(srPaths_[n]);
  if (n - srPaths_.size() < virtual_.size()) {
    const auto& v = virtual_[n - srPaths_.size()];
    if (v->Attached()) return v;
  }
  return nullptr;
}

bool DeviceDirectory::GenericLayerPresent() const { return sgLayer_ || !virtual_.empty(); }

int DeviceDirectory::AdapterCount() const {
  return realAdapters_ + (virtual_.empty() ? 0 : 1);
}

std::optional<int> DeviceDirectory::PeripheralType(int adapter, int target, int lun) const {
  if (adapter < realAdapters_) {
    for (const auto& n : sgNodes_)
      if (n.host == adapter && n.target == target && n.lun == lun) return n.type;
    return std::nullopt;
  }
  if (adapter == realAdapters_ && target >= 0 && target < 8 && lun >= 0 && lun < 8) {
    const auto i = static_cast<std::size_t>(target * 8 + lun);
    if (i < virtual_.size() && virtual_[i]->Attached()) return 5;
  }
  return std::nullopt;
}

std::shared_ptr<ScsiDevice> DeviceDirectory::OpenGeneric(int adapter, int target, int lun) const {
  if (adapter < realAdapters_) {
    for (const auto& n : sgNodes_)
      if (n.host == adapter && n.target == target && n.lun == lun) return OpenSgIoDevice(n.path);
    return nullptr;
  }
  if (adapter == realAdapters_ && target >= 0 && target < 8 && lun >= 0 && lun < 8) {
    const auto i = static_cast<std::size_t>(target * 8 + lun);
    if (i < virtual_.size() && virtual_[i]->Attached()) return virtual_[i];
  }
  return nullptr;
}

}  // namespace sonarvex
