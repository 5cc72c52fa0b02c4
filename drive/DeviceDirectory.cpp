#include "drive/DeviceDirectory.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

// The name of a group, or its number when it has none.
std::string GroupName(gid_t gid) {
  std::vector<char> buf(16384);
  struct group g;
  struct group* found = nullptr;
  if (::getgrgid_r(gid, &g, buf.data(), buf.size(), &found) == 0 && found && found->gr_name)
    return found->gr_name;
  return std::to_string(gid);
}

bool ProcessInGroup(gid_t gid) {
  if (::getegid() == gid) return true;
  const int n = ::getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(n));
  const int got = ::getgroups(n, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

// True when the group database lists the user in the group (the process may
// still lack it: membership counts from the next login on).
bool UserListedInGroup(gid_t gid) {
  std::vector<char> pwbuf(16384);
  struct passwd pw;
  struct passwd* user = nullptr;
  if (::getpwuid_r(::geteuid(), &pw, pwbuf.data(), pwbuf.size(), &user) != 0 || !user) return false;
  if (user->pw_gid == gid) return true;
  std::vector<char> buf(16384);
  struct group g;
  struct group* found = nullptr;
  if (::getgrgid_r(gid, &g, buf.data(), buf.size(), &found) != 0 || !found) return false;
  for (char** m = found->gr_mem; m && *m; ++m)
    if (std::strcmp(*m, user->pw_name) == 0) return true;
  return false;
}

std::string ErrorName(int error) {
  if (const char* name = ::strerrorname_np(error)) return name;
  return std::to_string(error);
}

}  // namespace

std::string DeviceOpenFailure(const std::string& path, int error) {
  switch (error) {
    case EACCES:
    case EPERM: {
      struct stat st;
      if (::stat(path.c_str(), &st) == 0 && (st.st_mode & 060) == 060 && !ProcessInGroup(st.st_gid)) {
        const std::string group = GroupName(st.st_gid);
        if (UserListedInGroup(st.st_gid))
          return "нет прав доступа: пользователь включён в группу " + group +
                 ", но это действует только после нового входа в систему";
        return "нет прав доступа: пользователь не входит в группу " + group;
      }
      return "нет прав доступа на чтение и запись";
    }
    case EBUSY: return "устройство занято другой программой";
    case ENOENT:
    case ENXIO:
    case ENODEV: return "устройство отсутствует";
    case EROFS: return "устройство доступно только для чтения";
    default: return "системная ошибка " + ErrorName(error);
  }
}

std::string DeviceProblem::Text() const {
  std::string text;
  for (const auto& p : paths) text += (text.empty() ? "" : ", ") + p;
  return text + ": " + reason;
}

DeviceDirectory::DeviceDirectory(bool scanSystem, DeviceFolders folders)
    : scanSystem_(scanSystem), folders_(std::move(folders)) {
  Rescan();
}

int DeviceDirectory::OpenNode(const std::string& path) const {
  if (folders_.open) return folders_.open(path);
  return ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
}

std::shared_ptr<ScsiDevice> DeviceDirectory::OpenDevice(const std::string& path) const {
  const int fd = OpenNode(path);
  if (fd < 0) return nullptr;
  return SgIoDeviceFromDescriptor(fd);
}

void DeviceDirectory::Rescan() {
  srPaths_.clear();
  sgNodes_.clear();
  problems_.clear();
  sgLayer_ = false;
  realAdapters_ = 0;
  if (!scanSystem_) return;
  std::error_code ec;

  std::vector<std::pair<int, std::string>> sr;
  for (const auto& e : fs::directory_iterator(folders_.dev, ec)) {
    const int n = NodeNumber(e.path().filename().string(), "sr");
    if (n >= 0) sr.emplace_back(n, e.path().string());
  }
  std::sort(sr.begin(), sr.end());
  for (auto& [n, path] : sr) {
    srPaths_.push_back(path);
    const int fd = OpenNode(path);
    if (fd >= 0) {
      ::close(fd);
      continue;
    }
    const int error = errno;
    problems_.push_back(DeviceProblem{{path}, error, DeviceOpenFailure(path, error)});
  }

  const fs::path sgClass = folders_.scsiGeneric;
  if (!fs::is_directory(sgClass, ec)) return;
  sgLayer_ = true;
  std::vector<std::pair<int, fs::path>> sg;
  for (const auto& e : fs::directory_iterator(sgClass, ec)) {
    const int n = NodeNumber(e.path().filename().string(), "sg");
    if (n >= 0) sg.emplace_back(n, e.path());
  }
  std::sort(sg.begin(), sg.end());
  for (const auto& [number, sysNode] : sg) {
    const std::string name = sysNode.filename().string();
    GenericNode node{-1, -1, -1, -1, (fs::path(folders_.dev) / name).string()};
    // Host, target and LUN from the driver; the sysfs name "H:C:T:L" when
    // the node cannot be opened.
    const int fd = OpenNode(node.path);
    const int openError = fd < 0 ? errno : 0;
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
      const fs::path link = fs::read_symlink(sysNode / "device", ec);
      int h, c, t, l;
      if (!ec && std::sscanf(link.filename().string().c_str(), "%d:%d:%d:%d", &h, &c, &t, &l) == 4) {
        node.host = h;
        node.target = t;
        node.lun = l;
      }
      if (auto type = ReadFileBytes((sysNode / "device" / "type").string(), 16))
        node.type = std::atoi(type->c_str());
    }
    // Only optical drives are worth a word: other SCSI devices (disks) are
    // closed to users on purpose.
    if (openError != 0 && node.type == 5)
      NoteGenericFailure(sysNode.string(), node.path, openError);
    if (node.host < 0 || node.host > 254) continue;
    sgNodes_.push_back(node);
    realAdapters_ = std::max(realAdapters_, node.host + 1);
  }
}

void DeviceDirectory::NoteGenericFailure(const std::string& sysNode, const std::string& path,
                                         int error) {
  std::error_code ec;
  // The block device of the same drive ("device/block/sr0").
  for (const auto& e : fs::directory_iterator(fs::path(sysNode) / "device" / "block", ec)) {
    const std::string sr = (fs::path(folders_.dev) / e.path().filename()).string();
    for (auto& p : problems_) {
      if (p.paths.front() == sr && p.error == error) {
        p.paths.push_back(path);
        return;
      }
    }
  }
  problems_.push_back(DeviceProblem{{path}, error, DeviceOpenFailure(path, error)});
}

std::vector<std::string> DeviceDirectory::Problems() const {
  std::vector<std::string> lines;
  for (const auto& p : problems_) lines.push_back(p.Text());
  return lines;
}

std::string DeviceDirectory::ProblemsMessage() const {
  if (problems_.empty()) return {};
  std::string text = kUnreachableDrivesHeading;
  for (const auto& p : problems_) text += "\n" + p.Text();
  return text;
}

void DeviceDirectory::AddVirtual(std::shared_ptr<VirtualDrive> drive) {
  if (!drive) return;
  if (drive->NamedAfterImage()) {
    auto shown = [&](const std::string& name) {
      for (const auto& v : virtual_)
        if (v->Identification() == name) return true;
      return false;
    };
    for (int n = 2; shown(drive->Identification()) && n < 1000; ++n) drive->NumberName(n);
  }
  virtual_.push_back(std::move(drive));
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
  if (n < srPaths_.size()) return OpenDevice(srPaths_[n]);
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
      if (n.host == adapter && n.target == target && n.lun == lun) return OpenDevice(n.path);
    return nullptr;
  }
  if (adapter == realAdapters_ && target >= 0 && target < 8 && lun >= 0 && lun < 8) {
    const auto i = static_cast<std::size_t>(target * 8 + lun);
    if (i < virtual_.size() && virtual_[i]->Attached()) return virtual_[i];
  }
  return nullptr;
}

}  // namespace sonarvex
