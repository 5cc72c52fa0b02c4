#include "recording/Compilation.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "codec/WavSourceReader.h"
#include "platform/Cp1251.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"

namespace sonarvex {

namespace {

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}
std::string NameOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
std::string Lower(std::string s) {
  return Cp1251ToUtf8(Cp1251Lower(Utf8ToCp1251(s)));
}

}  // namespace

std::string SectorTimeText(std::uint32_t sectors) {
  char s[32];
  std::snprintf(s, sizeof s, "%02u:%02u:%02u", sectors / 4500, (sectors / 75) % 60, sectors % 75);
  return s;
}

std::string MegabyteText(std::uint64_t bytes) {
  char s[48];
  // Locale-independent: %f with the C locale's point.
  const double mb = static_cast<double>(bytes) / 1048576.0;
  const auto hundredths = static_cast<std::uint64_t>(mb * 100.0 + 0.5);
  std::snprintf(s, sizeof s, "%llu.%02llu Мб", static_cast<unsigned long long>(hundredths / 100),
                static_cast<unsigned long long>(hundredths % 100));
  return s;
}

Compilation::Compilation(std::string tempFolder, Dialogs& dialogs)
    : tempFolder_(std::move(tempFolder)), dialogs_(dialogs) {
  if (!tempFolder_.empty() && tempFolder_.back() != '/') tempFolder_ += '/';
}

std::vector<std::string> Compilation::Paths() const {
  std::vector<std::string> p;
  for (const auto& r : rows_) p.push_back(r.Path());
  return p;
}

bool Compilation::AddFile(const std::string& path, bool skipCompressed) {
  if (!tempFolder_.empty() && Lower(FolderOf(path)) == Lower(tempFolder_)) return false;
  WavSourceReader reader;
  const int result = reader.Open(path, false);
  std::string used = path;
  if (result == WavSourceReader::kNeedsConversion && reader.IsOpen()) {
    if (skipCompressed) return false;
    MakeDirectories(tempFolder_);
    // Two sources of one name from different folders get different names.
    std::string target = tempFolder_ + NameOf(path);
    for (int n = 2; FileExists(target); ++n) {
      std::string name = NameOf(path);
      const auto dot = name.find_last_of('.');
      const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
      const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
      target = tempFolder_ + stem + " (" + std::to_string(n) + ")" + ext;
    }
    reader.SetConvertedFileName(target);
    if (!reader.ConvertToCd(nullptr, false)) {
      dialogs_.Message("Произошла ошибка при конвертировании файла " + path, kProgramTitle, MsgIcon::Warning,
                       MsgButtons::Ok);
      return false;
    }
    converted_.push_back(target);
    used = target;
  } else if (result != WavSourceReader::kUsable) {
    return false;
  }
  CompilationRow row;
  row.folder = FolderOf(used);
  row.name = NameOf(used);
  row.bytes = reader.DataByteCount();
  rows_.push_back(std::move(row));
  return true;
}

int Compilation::AddFolder(const std::string& folder, bool skipCompressed) {
  std::string base = folder;
  if (base.empty() || base.back() != '/') base += '/';
  DIR* dir = opendir(base.c_str());
  if (!dir) return 0;
  std::vector<std::string> names;
  while (dirent* e = readdir(dir)) names.emplace_back(e->d_name);
  closedir(dir);
  std::sort(names.begin(), names.end());
  int added = 0;
  for (const auto& name : names) {
    if (name == "." || name == "..") continue;
    const std::string path = base + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      if (name[0] != '.') added += AddFolder(path, skipCompressed);
      continue;
    }
    if (name.size() >= 4 && Lower(name.substr(name.size() - 4)) == ".wav" && AddFile(path, skipCompressed))
      ++added;
  }
  return added;
}

void Compilation::Remove(int row) {
  if (row >= 0 && row < static_cast<int>(rows_.size())) rows_.erase(rows_.begin() + row);
}

int Compilation::Move(int from, int to) {
  const int n = static_cast<int>(rows_.size());
  if (from < 0 || from >= n || to < 0 || to >= n || from == to) return from;
  CompilationRow row = rows_[static_cast<std::size_t>(from)];
  const bool last = to == n - 1;
  rows_.erase(rows_.begin() + from);
  if (last) {
    rows_.push_back(std::move(row));
    return n - 1;
  }
  const int at = from < to ? to - 1 : to;
  rows_.insert(rows_.begin() + at, std::move(row));
  return at;
}

std::uint64_t Compilation::TotalBytes() const {
  std::uint64_t total = 0;
  for (const auto& r : rows_) total += r.bytes;
  return total;
}

std::string Compilation::SizePanelText() const { return "Размер " + MegabyteText(TotalBytes()); }
std::string Compilation::TimePanelText() const { return "Время " + SectorTimeText(TotalSectors()); }
std::string Compilation::FilePanelText() const { return "Файлов " + std::to_string(rows_.size()); }

void Compilation::DeleteConverted() {
  for (const auto& f : converted_) std::remove(f.c_str());
  converted_.clear();
  if (!tempFolder_.empty()) RemoveEmptyDirectory(tempFolder_);
}

RecordingSettings LoadRecordingSettings(const std::string& settingFolder) {
  RecordingSettings s = DefaultRecordingSettings();
  auto bytes = ReadFileBytes(JoinPath(settingFolder, kRecordingSettingsName), 4096);
  if (bytes && bytes->size() == sizeof s) {
    std::memcpy(&s, bytes->data(), sizeof s);
    s.SoundFile[sizeof s.SoundFile - 1] = '\0';
  }
  return s;
}

bool SaveRecordingSettings(const std::string& settingFolder, const RecordingSettings& settings,
                           Dialogs& dialogs) {
  const bool ok = MakeDirectories(settingFolder) &&
                  WriteFileAtomically(JoinPath(settingFolder, kRecordingSettingsName),
                                      std::string_view(reinterpret_cast<const char*>(&settings), sizeof settings));
  if (!ok) dialogs.Message("Не могу сохранить настройки!!!", kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
  return ok;
}

bool SaveProject(const std::string& path, const std::vector<std::string>& files) {
  std::string text;
  for (const auto& f : files) text += f + "\n";
  return WriteFileAtomically(path, text);
}

std::optional<std::vector<std::string>> LoadProject(const std::string& path) {
  auto text = ReadFileBytes(path, 16u << 20);
  if (!text) return std::nullopt;
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text->size()) {
    std::size_t end = text->find('\n', pos);
    if (end == std::string::npos) end = text->size();
    std::string line = text->substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(std::move(line));
    pos = end + 1;
  }
  return lines;
}

}  // namespace sonarvex
