#include "platform/System.h"

#include <sys/resource.h>
#include <sys/statvfs.h>

#include "platform/Shell.h"

namespace sonarvex {

void SetHighPriority(bool high) { ::setpriority(PRIO_PROCESS, 0, high ? -10 : 0); }

std::optional<std::uint64_t> FreeBytes(const std::string& path) {
  struct statvfs st{};
  if (::statvfs(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
}

bool SystemPowerControl::PowerOff() { return RunProgram({"systemctl", "poweroff"}) == 0; }

}  // namespace sonarvex
