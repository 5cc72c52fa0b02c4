#include "settings/ProfileList.h"

#include <cerrno>
#include <cstdlib>

#include "platform/Cp1251.h"
#include "platform/Files.h"

namespace sonarvex {

bool ProfileList::Load(const std::string& settingFolder) {
  active_ = -1;
  auto data = ReadFileBytes(JoinPath(settingFolder, "prof.lst"), 64 * 1024);
  if (!data) {
    lines_ = {"-1"};
    return false;
  }
  lines_.clear();
  std::size_t pos = 0;
  while (pos < data->size()) {
    auto nl = data->find('\n', pos);
    std::string line = data->substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines_.push_back(line);
    pos = nl == std::string::npos ? data->size() : nl + 1;
  }
  // More than ten profiles cannot be shown; the rest of the file is ignored.
  if (lines_.size() > static_cast<std::size_t>(kMaxProfiles) + 1) lines_.resize(kMaxProfiles + 1);
  if (lines_.empty()) {
    lines_ = {"-1"};
    return true;
  }
  const std::string& first = lines_.front();
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(first.c_str(), &end, 10);
  if (end != first.c_str() && *end == '\0' && errno == 0 && v >= -1 && v < ProfileCount())
    active_ = static_cast<int>(v);
  else
    active_ = -1;
  lines_.front() = std::to_string(active_);
  return true;
}

void ProfileList::SetActive(int index) {
  active_ = index;
  lines_.front() = std::to_string(index);
}

bool ProfileList::Save(const std::string& settingFolder) {
  lines_.front() = std::to_string(active_);
  std::string out;
  for (const auto& l : lines_) out += l + "\r\n";
  return WriteFileAtomically(JoinPath(settingFolder, "prof.lst"), out);
}

std::string ProfileList::ActiveFileName() const {
  if (active_ < 0 || active_ >= ProfileCount() || !IsUsableFileName(FileName(active_)))
    return "set.dat";
  return DiskFileName(active_);
}

std::string ProfileList::DiskFileName(int k) const { return LineText(FileName(k)); }

std::string ProfileList::LineText(const std::string& line) {
  return IsNonAsciiUtf8(line) ? line : Cp1251ToUtf8(line);
}

std::string ProfileList::LineOf(const std::string& utf8) {
  std::string cp = Utf8ToCp1251(utf8);
  // A CP1251 line that would read back as UTF-8 is kept as UTF-8 itself.
  if (Cp1251ToUtf8(cp) == utf8 && !IsNonAsciiUtf8(cp)) return cp;
  return utf8;
}

bool ProfileList::IsUsableFileName(const std::string& line) {
  if (line.empty() || line == "." || line == "..") return false;
  return line.find('/') == std::string::npos && line.find('\0') == std::string::npos;
}

std::string ProfileList::Caption(int k) const {
  const std::string& name = FileName(k);
  return name.substr(0, name.find('.'));
}

}  // namespace sonarvex
