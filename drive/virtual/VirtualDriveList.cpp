#include "drive/virtual/VirtualDriveList.h"

#include "drive/DeviceDirectory.h"
#include "drive/virtual/VirtualDrive.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"

namespace sonarvex {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::string Absolute(std::string_view path, const std::string& programFolder) {
  if (!path.empty() && path[0] == '/') return std::string(path);
  return JoinPath(programFolder, path);
}

std::string LineText(int line) { return "строка " + std::to_string(line) + ": "; }

}  // namespace

VirtualDriveListParse ParseVirtualDriveList(std::string_view text,
                                            const std::string& programFolder) {
  VirtualDriveListParse result;
  int lineNo = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    ++lineNo;
    if (line.empty() || line[0] == '#') continue;
    VirtualDriveLine entry;
    entry.line = lineNo;
    std::string_view path = line;
    if (line.substr(0, 7) == "offset=") {
      const std::size_t space = line.find_first_of(" \t");
      const std::string number(line.substr(7, space == std::string_view::npos ? line.size() - 7 : space - 7));
      std::size_t used = 0;
      long value = 0;
      bool ok = !number.empty() && number.find_first_not_of("+-0123456789") == std::string::npos;
      try {
        if (ok) value = std::stol(number, &used);
      } catch (...) {
        ok = false;
      }
      if (!ok || used != number.size() || value < -kMaxVirtualReadOffset || value > kMaxVirtualReadOffset) {
        result.problems.push_back(LineText(lineNo) + "неверный сдвиг чтения '" + number + "'");
        continue;
      }
      entry.readOffsetSamples = static_cast<int>(value);
      path = space == std::string_view::npos ? std::string_view() : Trim(line.substr(space));
    } else if (line.substr(0, 7) == "burnrw:") {
      entry.kind = VirtualDriveLine::Kind::BurnRw;
      path = Trim(line.substr(7));
    } else if (line.substr(0, 5) == "burn:") {
      entry.kind = VirtualDriveLine::Kind::Burn;
      path = Trim(line.substr(5));
    }
    if (path.empty()) {
      result.problems.push_back(LineText(lineNo) + "не указан путь к CUE-файлу");
      continue;
    }
    entry.path = Absolute(path, programFolder);
    result.entries.push_back(std::move(entry));
  }
  return result;
}

VirtualDriveSetup CreateVirtualDrives(const VirtualDriveListParse& list) {
  VirtualDriveSetup setup;
  setup.problems = list.problems;
  for (const auto& e : list.entries) {
    if (e.kind == VirtualDriveLine::Kind::Image) {
      std::string error;
      VirtualDriveConfig config;
      config.readOffsetSamples = e.readOffsetSamples;
      auto drive = VirtualDrive::FromCueImage(e.path, &error, config);
      if (!drive->HasDisc()) {
        setup.problems.push_back(LineText(e.line) + error);
        continue;
      }
      setup.drives.push_back(std::move(drive));
    } else {
      VirtualDriveConfig config;
      config.product = e.kind == VirtualDriveLine::Kind::BurnRw ? "Virtual CD-RW" : "Virtual CD-R";
      config.capabilities = VirtualDriveConfig::DefaultCapabilities(true);
      auto drive = std::make_shared<VirtualDrive>(config);
      drive->SetBurnTarget(e.path, e.kind == VirtualDriveLine::Kind::BurnRw);
      setup.drives.push_back(std::move(drive));
    }
  }
  return setup;
}

int LoadVirtualDrives(const std::string& programFolder, DeviceDirectory& directory,
                      Dialogs& dialogs) {
  return LoadVirtualDriveList(JoinPath(programFolder, kVirtualDriveListName), programFolder,
                              directory, dialogs);
}

int LoadVirtualDriveList(const std::string& listPath, const std::string& baseFolder,
                         DeviceDirectory& directory, Dialogs& dialogs) {
  // The list is named as the user knows it: setting/vdrives.lst beside the
  // program, the full path elsewhere.
  std::string listName = listPath;
  if (listPath == JoinPath(baseFolder, kVirtualDriveListName)) listName = kVirtualDriveListName;
  std::string problem;
  auto text = ReadFileBytes(listPath, 1 << 20, &problem);
  if (!text) {
    if (!problem.empty())
      dialogs.Message("Не подключены виртуальные приводы из " + listName + ": " + problem + ".",
                      kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
    return 0;
  }
  auto setup = CreateVirtualDrives(ParseVirtualDriveList(*text, baseFolder));
  for (auto& d : setup.drives) directory.AddVirtual(d);
  if (!setup.problems.empty()) {
    std::string message = "Не подключены виртуальные приводы из " + listName + ":";
    for (const auto& p : setup.problems) message += "\n" + p;
    dialogs.Message(message, kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
  }
  return static_cast<int>(setup.drives.size());
}

}  // namespace sonarvex
