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

// A whole number within lo..hi (a leading sign allowed).
bool ParseNumber(const std::string& text, long lo, long hi, long& value) {
  if (text.empty() || text.size() > 12 || text.find_first_not_of("+-0123456789") != std::string::npos)
    return false;
  std::size_t used = 0;
  try {
    value = std::stol(text, &used);
  } catch (...) {
    return false;
  }
  return used == text.size() && value >= lo && value <= hi;
}

// "MM:SS:FF" as a count of frames.
bool ParseMsf(const std::string& text, long& frames) {
  const std::size_t a = text.find(':');
  const std::size_t b = a == std::string::npos ? a : text.find(':', a + 1);
  long m = 0, sec = 0, f = 0;
  if (b == std::string::npos || !ParseNumber(text.substr(0, a), 0, 99, m) ||
      !ParseNumber(text.substr(a + 1, b - a - 1), 0, 59, sec) || !ParseNumber(text.substr(b + 1), 0, 74, f) ||
      text.find_first_of("+-") != std::string::npos)
    return false;
  frames = m * 4500 + sec * 75 + f;
  return true;
}

constexpr long kMaxLba = 100L * 4500;
constexpr long kMaxCount = 1000000000L;

// LBA or FIRST-LAST (the dash after the first digit, so that neither number
// takes a sign).
bool ParseLbaRange(const std::string& value, long& first, long& last) {
  const std::size_t dash = value.find('-', 1);
  if (value.find('+') != std::string::npos || value.empty() || value[0] == '-') return false;
  if (!ParseNumber(value.substr(0, dash), 0, kMaxLba, first)) return false;
  last = first;
  return dash == std::string::npos || ParseNumber(value.substr(dash + 1), first, kMaxLba, last);
}

enum class OptionResult { Applied, Unknown, Bad };

bool IsRecorderOption(std::string_view name) {
  return name == "fail-write" || name == "remove-after-writes" || name == "capacity";
}

// How an option's value is written, for the message about a wrong one.
std::string OptionForm(std::string_view name) {
  if (name == "fail-read") return "нужно fail-read=LBA или fail-read=LBA-LBA";
  if (name == "flaky") return "нужно flaky=LBA или flaky=LBA-LBA";
  if (name == "flaky-wrong-reads") return "нужно число от 1 или always";
  if (name == "flaky-same" || name == "flaky-c2" || name == "c2") return "нужно 0 или 1";
  if (name == "capacity") return "нужно capacity=MM:SS:FF";
  if (name == "fail-write" || name == "corrupt") return "нужен номер сектора";
  if (name == "jitter") return "нужно число байтов от -2352 до 2352, не 0";
  if (name == "short-read") return "нужно число байтов от 1 до 2352";
  if (name == "speed")
    return "нужна скорость чтения от 1 до " + std::to_string(kMaxVirtualReadSpeed) +
           " (1 = 176 400 байт в секунду)";
  return "нужно целое число";
}

OptionResult ApplyOption(std::string_view name, const std::string& value, VirtualDriveLine& entry) {
  VirtualDriveFaults& f = entry.faults;
  long v = 0;
  if (name == "offset") {
    if (!ParseNumber(value, -kMaxVirtualReadOffset, kMaxVirtualReadOffset, v)) return OptionResult::Bad;
    entry.readOffsetSamples = static_cast<int>(v);
  } else if (name == "speed") {
    if (!ParseNumber(value, 1, kMaxVirtualReadSpeed, v) || value[0] == '+') return OptionResult::Bad;
    entry.readSpeedFactor = static_cast<int>(v);
  } else if (name == "fail-read" || name == "flaky") {
    long first = 0, last = 0;
    if (!ParseLbaRange(value, first, last)) return OptionResult::Bad;
    (name == "flaky" ? f.flakyFirst : f.failReadsFirst) = static_cast<std::int32_t>(first);
    (name == "flaky" ? f.flakyLast : f.failReadsLast) = static_cast<std::int32_t>(last);
  } else if (name == "flaky-wrong-reads") {
    if (value == "always")
      f.flakyWrongReads = -1;
    else if (ParseNumber(value, 1, kMaxCount, v))
      f.flakyWrongReads = static_cast<int>(v);
    else
      return OptionResult::Bad;
  } else if (name == "flaky-same" || name == "flaky-c2" || name == "c2") {
    if (value != "0" && value != "1") return OptionResult::Bad;
    const bool on = value == "1";
    if (name == "flaky-same") f.flakySameWrong = on;
    else if (name == "flaky-c2") f.flakyC2 = on;
    else entry.c2Pointers = on;
  } else if (name == "fail-every-read") {
    if (!ParseNumber(value, 1, kMaxCount, v)) return OptionResult::Bad;
    f.failEveryNthRead = static_cast<int>(v);
  } else if (name == "jitter") {
    if (!ParseNumber(value, -2352, 2352, v) || v == 0) return OptionResult::Bad;
    f.jitterBytes = static_cast<int>(v);
  } else if (name == "short-read") {
    if (!ParseNumber(value, 1, 2352, v)) return OptionResult::Bad;
    f.shortReadBytes = static_cast<std::uint32_t>(v);
  } else if (name == "corrupt") {
    if (!ParseNumber(value, 0, kMaxLba, v)) return OptionResult::Bad;
    f.corruptSectorLba = static_cast<std::int32_t>(v);
  } else if (name == "not-ready") {
    if (!ParseNumber(value, 1, kMaxCount, v)) return OptionResult::Bad;
    f.notReadyCommands = static_cast<int>(v);
  } else if (name == "remove-after-reads") {
    if (!ParseNumber(value, 0, kMaxCount, v)) return OptionResult::Bad;
    f.removeMediumAfterReads = static_cast<int>(v);
  } else if (name == "fail-write") {
    if (!ParseNumber(value, -150, kMaxLba, v)) return OptionResult::Bad;
    f.failWriteAtLba = static_cast<std::int32_t>(v);
  } else if (name == "remove-after-writes") {
    if (!ParseNumber(value, 0, kMaxCount, v)) return OptionResult::Bad;
    f.removeMediumAfterWrites = static_cast<int>(v);
  } else if (name == "capacity") {
    // At least one sector after track 1's pregap.
    if (!ParseMsf(value, v) || v < 151) return OptionResult::Bad;
    entry.lastLeadOutLba = static_cast<std::int32_t>(v - 150);
  } else {
    return OptionResult::Unknown;
  }
  return OptionResult::Applied;
}

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
    std::string_view rest = line;
    std::string problem;
    std::string readerOnly;  // an option of image drives given
    bool recorderOnly = false;
    // The options in front of the drive.
    while (problem.empty() && !rest.empty()) {
      const std::size_t space = rest.find_first_of(" \t");
      const std::string_view word = rest.substr(0, space);
      const std::size_t eq = word.find('=');
      if (eq == std::string_view::npos) break;
      const std::string_view name = word.substr(0, eq);
      const std::string value(word.substr(eq + 1));
      const OptionResult r = ApplyOption(name, value, entry);
      if (r == OptionResult::Unknown) break;
      if (r == OptionResult::Bad)
        problem = name == "offset" ? "неверный сдвиг чтения '" + value + "'"
                                   : "неверное значение в " + std::string(word) + " (" + OptionForm(name) + ")";
      if (name == "offset" || name == "c2") readerOnly = std::string(name);
      recorderOnly = recorderOnly || IsRecorderOption(name);
      rest = space == std::string_view::npos ? std::string_view() : Trim(rest.substr(space));
    }
    if (!problem.empty()) {
      result.problems.push_back(LineText(lineNo) + problem);
      continue;
    }
    std::string_view path = rest;
    if (rest.substr(0, 7) == "burnrw:") {
      entry.kind = VirtualDriveLine::Kind::BurnRw;
      path = Trim(rest.substr(7));
    } else if (rest.substr(0, 5) == "burn:") {
      entry.kind = VirtualDriveLine::Kind::Burn;
      path = Trim(rest.substr(5));
    }
    if (path.empty()) {
      result.problems.push_back(LineText(lineNo) + "не указан путь к CUE-файлу");
      continue;
    }
    const bool recorder = entry.kind != VirtualDriveLine::Kind::Image;
    if (recorder && !readerOnly.empty()) {
      result.problems.push_back(LineText(lineNo) + readerOnly + "= задаётся только для привода с образом диска");
      continue;
    }
    if (!recorder && recorderOnly) {
      result.problems.push_back(LineText(lineNo) +
                                "fail-write=, remove-after-writes= и capacity= задаются только для "
                                "записывающего привода (burn:, burnrw:)");
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
      config.readSpeedFactor = e.readSpeedFactor;
      if (!e.c2Pointers) config.capabilities[5] &= static_cast<std::uint8_t>(~0x10);
      auto drive = VirtualDrive::FromCueImage(e.path, &error, config);
      if (!drive->HasDisc()) {
        setup.problems.push_back(LineText(e.line) + error);
        continue;
      }
      drive->SetFaults(e.faults);
      setup.drives.push_back(std::move(drive));
    } else {
      VirtualDriveConfig config;
      config.product = e.kind == VirtualDriveLine::Kind::BurnRw ? "Virtual CD-RW" : "Virtual CD-R";
      config.capabilities = VirtualDriveConfig::DefaultCapabilities(true);
      if (e.lastLeadOutLba >= 0) config.lastLeadOutLba = e.lastLeadOutLba;
      config.readSpeedFactor = e.readSpeedFactor;
      auto drive = std::make_shared<VirtualDrive>(config);
      drive->SetBurnTarget(e.path, e.kind == VirtualDriveLine::Kind::BurnRw);
      drive->SetFaults(e.faults);
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
