// Process priority, shut-down and free space.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sonarvex {

// Raises (or restores) the scheduling priority of this process; failures are
// ignored, as an unprivileged user may not raise it.
void SetHighPriority(bool high);

// Free bytes available to this user on the file system holding path.
std::optional<std::uint64_t> FreeBytes(const std::string& path);

// What the program does to the machine after a rip; tests replace it.
class PowerControl {
 public:
  virtual ~PowerControl() = default;
  virtual bool PowerOff() = 0;
};

// `systemctl poweroff`.
class SystemPowerControl : public PowerControl {
 public:
  bool PowerOff() override;
};

}  // namespace sonarvex
