// The profile list: any bytes as prof.lst. The active index must name a line
// or be -1, the active file must be a plain name inside the setting folder,
// and what the list writes back must load to the same list.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "settings/ProfileList.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sonarvex;
  const std::string& folder = fuzz::PrivateFolder();
  fuzz::WriteInput(folder + "prof.lst",
                   std::string_view(reinterpret_cast<const char*>(data), size));
  ProfileList list;
  if (!list.Load(folder)) __builtin_trap();
  if (list.Lines().empty() || list.ProfileCount() > ProfileList::kMaxProfiles) __builtin_trap();
  if (list.Active() < -1 || list.Active() >= list.ProfileCount()) __builtin_trap();
  const std::string active = list.ActiveFileName();
  if (active.empty() || active == "." || active == ".." ||
      active.find('/') != std::string::npos || active.find('\0') != std::string::npos)
    __builtin_trap();
  for (int k = 0; k < list.ProfileCount(); ++k) {
    (void)list.Caption(k);
    (void)list.DiskFileName(k);
  }

  if (!list.Save(folder)) __builtin_trap();
  ProfileList again;
  if (!again.Load(folder)) __builtin_trap();
  if (again.Lines() != list.Lines() || again.Active() != list.Active()) __builtin_trap();
  return 0;
}
