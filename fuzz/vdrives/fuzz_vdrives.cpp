// The software drive list: any bytes as vdrives.lst in a program folder that
// holds a small image ("disc.cue" with its "disc.bin"). Every entry must be
// an absolute path with its line number, and every line that is neither
// blank nor a comment must give an entry or a problem. The drives are made
// only for paths inside the program folder, so the input never reaches other
// files of the machine.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "drive/DeviceDirectory.h"
#include "drive/virtual/VirtualDrive.h"
#include "drive/virtual/VirtualDriveList.h"
#include "fuzz/FuzzSupport.h"

namespace {

const std::string& ProgramFolder() {
  static const std::string folder = [] {
    const std::string f = sonarvex::fuzz::PrivateFolder();
    sonarvex::fuzz::WriteInput(f + "disc.bin", std::string(2352 * 300, '\x01'));
    sonarvex::fuzz::WriteInput(f + "disc.cue",
                               "FILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                               "  TRACK 02 AUDIO\n    INDEX 01 00:02:00\n");
    return f;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sonarvex;
  const std::string& folder = ProgramFolder();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const VirtualDriveListParse list = ParseVirtualDriveList(text, folder);

  int lines = 0, used = 0;
  for (std::size_t pos = 0; pos < text.size(); ++lines) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
      line.remove_suffix(1);
    if (!line.empty() && line[0] != '#') ++used;
    pos = end + 1;
  }
  if (list.entries.size() + list.problems.size() != static_cast<std::size_t>(used))
    __builtin_trap();
  int previous = 0;
  for (const auto& e : list.entries) {
    if (e.path.empty() || e.path[0] != '/') __builtin_trap();
    if (e.line <= previous || e.line > lines) __builtin_trap();
    previous = e.line;
  }

  // Drives only for paths inside the program folder.
  VirtualDriveListParse inside;
  for (const auto& e : list.entries)
    if (e.path.compare(0, folder.size(), folder) == 0 && e.path.find("/..") == std::string::npos &&
        e.path.find('\0') == std::string::npos)
      inside.entries.push_back(e);
  if (inside.entries.size() > 4) inside.entries.resize(4);
  const VirtualDriveSetup setup = CreateVirtualDrives(inside);
  if (setup.drives.size() + setup.problems.size() != inside.entries.size()) __builtin_trap();
  DeviceDirectory directory(false);
  for (const auto& d : setup.drives) directory.AddVirtual(d);
  if (directory.PassThroughCount() != static_cast<int>(setup.drives.size())) __builtin_trap();
  return 0;
}
