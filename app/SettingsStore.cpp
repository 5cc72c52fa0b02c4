#include "app/SettingsStore.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Cp1251.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/IniStore.h"
#include "platform/XdgAssociations.h"

namespace sonarvex {
namespace {
constexpr const char* kReadFailed = "Не удалось прочитать настройки из файла 'set.dat'";
constexpr const char* kWriteFailed = "Неполучилось сохранить настройки в файл 'set.dat'.";
constexpr const char* kPlacementFile = "placement.ini";
constexpr const char* kPlacementSection = "Sonarvex";
constexpr const char* kAudioCdSection = "AudioCD";
}  // namespace

SettingsStore::SettingsStore(std::string programFolder, Dialogs& dialogs)
    : programFolder_(std::move(programFolder)), dialogs_(dialogs) {
  if (programFolder_.empty() || programFolder_.back() != '/') programFolder_ += '/';
}

void SettingsStore::LoadRecord(const std::string& fileName, SettingsRecord& s) const {
  const std::string path = SettingFolder() + fileName;
  s.ReadSpeed = 30;
  s.NameHasTitle = 1;
  if (::access(path.c_str(), F_OK) == 0) {
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
      dialogs_.Message(kReadFailed, kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
      return;
    }
    // Read as far as the file goes; a shorter file changes only its length.
    SettingsRecord image;
    std::memcpy(&image, &s, sizeof s);
    auto* p = reinterpret_cast<char*>(&image);
    std::size_t got = 0;
    bool failed = false;
    while (got < sizeof image) {
      ssize_t n = ::read(fd, p + got, sizeof image - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) failed = true;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (failed) {
      dialogs_.Message(kReadFailed, kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
      return;
    }
    std::memcpy(&s, &image, sizeof s);
  } else {
    ApplyFirstStartDefaults(s, DefaultOutputFolder());
  }
  if (s.EditColor == 0 || s.WindowColor == 0) {
    s.EditColor = kDefaultEditColor;
    s.WindowColor = kDefaultWindowColor;
  }
  if (FieldText(s.OutputFolder).empty()) SetField(s.OutputFolder, Utf8ToCp1251(programFolder_));
  if (s.Volume == 0) s.Volume = 255;
}

bool SettingsStore::EnsureSettingFolder() const { return MakeDirectories(SettingFolder()); }

bool SettingsStore::SaveRecord(const std::string& fileName, const SettingsRecord& s) const {
  bool ok = EnsureSettingFolder();
  if (ok) {
    // The record holds the proxy password: keep it to its owner.
    ok = WriteFileAtomically(SettingFolder() + fileName,
                             std::string_view(reinterpret_cast<const char*>(&s), sizeof s), 0600);
  }
  if (!ok) dialogs_.Message(kWriteFailed, kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
  return ok;
}

WindowPlacement SettingsStore::LoadPlacement() const {
  IniStore ini(SettingFolder() + kPlacementFile);
  ini.Load();
  WindowPlacement p;
  auto get = [&](const char* key) -> std::optional<int> {
    auto v = ini.GetInt(kPlacementSection, key);
    if (!v || *v < -100000 || *v > 100000) return std::nullopt;
    return static_cast<int>(*v);
  };
  p.Top = get("Top");
  p.Left = get("Left");
  p.Width = get("Width");
  p.Height = get("Height");
  return p;
}

bool SettingsStore::SavePlacement(int top, int left, int width, int height) const {
  if (!EnsureSettingFolder()) return false;
  IniStore ini(SettingFolder() + kPlacementFile);
  ini.Load();
  ini.SetInt(kPlacementSection, "Top", top);
  ini.SetInt(kPlacementSection, "Left", left);
  ini.SetInt(kPlacementSection, "Width", width);
  ini.SetInt(kPlacementSection, "Height", height);
  return ini.Save();
}

void SettingsStore::ApplyCdPlayerAssociation(bool on, const std::string& programPath,
                                             XdgAssociations& xdg) const {
  std::string current = xdg.AudioCdHandler();
  IniStore ini(SettingFolder() + kPlacementFile);
  ini.Load();
  if (on) {
    std::string own = xdg.InstallDesktopEntry(programPath);
    if (own.empty()) return;
    if (Cp1251Upper(current) != Cp1251Upper(own)) {
      ini.Set(kAudioCdSection, "LastPlayer", current);
      if (EnsureSettingFolder()) ini.Save();
    }
    xdg.SetAudioCdHandler(own);
  } else {
    if (auto last = ini.Get(kAudioCdSection, "LastPlayer")) current = *last;
    // A handler that is this program itself is not put back.
    if (current == XdgAssociations::kOwnDesktopId) current.clear();
    if (xdg.AudioCdHandler() != current) xdg.SetAudioCdHandler(current);
  }
}

}  // namespace sonarvex
