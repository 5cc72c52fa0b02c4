#include "drive/ScsiDevice.h"

#include <fcntl.h>
#include <linux/cdrom.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sonarvex {

ScsiOutcome ExecuteBlock(ScsiDevice& device, const CommandBlock& block, std::uint8_t* buffer,
                         int timeoutMs) {
  ScsiRequest r;
  r.cdb = block.bytes.data();
  r.cdbLength = block.length;
  r.direction = WireDirection(block);
  r.data = buffer;
  r.length = buffer ? block.transferLength : 0;
  if (!buffer) r.direction = DataDirection::None;
  r.timeoutMs = timeoutMs;
  return device.Execute(r);
}

bool ShortAudioRead(const CommandBlock& block, const ScsiOutcome& outcome) {
  return block.op == Operation::ReadCDDA && WireDirection(block) == DataDirection::In &&
         outcome.delivered && outcome.status == 0 && outcome.residual > 0;
}

bool IsLongCommand(const CommandBlock& block) {
  switch (block.bytes[0]) {
    case 0xA1:  // BLANK
    case 0x5B:  // CLOSE TRACK/SESSION
    case 0x35:  // SYNCHRONIZE CACHE (10)
    case 0x91:  // SYNCHRONIZE CACHE (16)
      return true;
    default:
      return false;
  }
}

void SetSense(std::array<std::uint8_t, kSenseLength>& sense, std::uint8_t key, std::uint8_t asc,
              std::uint8_t ascq) {
  sense.fill(0);
  sense[0] = 0x70;
  sense[2] = key & 0x0F;
  sense[7] = 10;
  sense[12] = asc;
  sense[13] = ascq;
}

namespace {

class SgIoDevice : public ScsiDevice {
 public:
  explicit SgIoDevice(int fd) : fd_(fd) {}
  ~SgIoDevice() override { ::close(fd_); }

  ScsiOutcome Execute(const ScsiRequest& request) override {
    ScsiOutcome out;
    sg_io_hdr_t h;
    std::memset(&h, 0, sizeof h);
    h.interface_id = 'S';
    h.cmdp = const_cast<unsigned char*>(request.cdb);
    h.cmd_len = static_cast<unsigned char>(request.cdbLength);
    h.dxferp = request.data;
    h.dxfer_len = request.data ? request.length : 0;
    switch (h.dxfer_len == 0 ? DataDirection::None : request.direction) {
      case DataDirection::In: h.dxfer_direction = SG_DXFER_FROM_DEV; break;
      case DataDirection::Out: h.dxfer_direction = SG_DXFER_TO_DEV; break;
      case DataDirection::None: h.dxfer_direction = SG_DXFER_NONE; break;
    }
    h.sbp = out.sense.data();
    h.mx_sb_len = kSenseLength;
    h.timeout = request.timeoutMs > 0 ? static_cast<unsigned>(request.timeoutMs) : 30000u;
    int rc;
    do {
      rc = ::ioctl(fd_, SG_IO, &h);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) return out;
    out.residual = h.resid > 0 ? static_cast<std::uint32_t>(h.resid) : 0;
    if (h.host_status != 0) {
      // DID_TIME_OUT is 3.
      out.timedOut = h.host_status == 3;
      return out;
    }
    out.delivered = true;
    out.status = h.status;
    return out;
  }

  bool SetVolume(std::uint8_t volume) override {
    cdrom_volctrl v;
    v.channel0 = v.channel1 = v.channel2 = v.channel3 = volume;
    return ::ioctl(fd_, CDROMVOLCTRL, &v) == 0;
  }

 private:
  int fd_;
};

}  // namespace

std::shared_ptr<ScsiDevice> OpenSgIoDevice(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return SgIoDeviceFromDescriptor(fd);
}

std::shared_ptr<ScsiDevice> SgIoDeviceFromDescriptor(int fd) {
  if (fd < 0) return nullptr;
  return std::make_shared<SgIoDevice>(fd);
}

}  // namespace sonarvex
