#include "settings/SettingsStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Cp1251.h"
#include "records/TextFields.h"
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

SettingsStore::SettingsStore(std::string programFolder, Dialogs& dialogs,
                             std::string settingFolder)
    : programFolder_(std::move(programFolder)),
      settingFolder_(std::move(settingFolder)),
      dialogs_(dialogs) {
  if (programFolder_.empty() || programFolder_.back() != '/') programFolder_ += '/';
  portable_ = settingFolder_.empty();
  if (portable_) settingFolder_ = programFolder_ + "setting/";
  if (settingFolder_.back() != '/') settingFolder_ += '/';
}

void SettingsStore::ApplyDefaults(SettingsRecord& s) const {
  const DefaultFolderChoice folder = ChooseDefaultOutputFolder();
  ApplyFirstStartDefaults(s, folder.Folder.c_str());
  if (!folder.PassedOver.empty())
    dialogs_.Message("Папку '" + folder.PassedOver +
                         "' нельзя сохранить в настройках: путь длиннее 260 байт или содержит "
                         "символы вне кодировки Windows-1251. Музыка будет сохраняться в '" +
                         folder.Folder + "'; другую папку можно выбрать в настройках.",
                     kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
}

void SettingsStore::LoadRecord(const std::string& fileName, SettingsRecord& s,
                               RecordTexts* texts) const {
  const std::string path = SettingFolder() + fileName;
  s.ReadSpeed = 30;
  s.NameHasTitle = 1;
  struct stat st{};
  if (::lstat(path.c_str(), &st) == 0 || errno != ENOENT) {
    // Read-only and without blocking: a file the user protected is still
    // read, and a FIFO or a device is refused, not waited on.
    std::string problem;
    const int fd = OpenRegularFile(path, &problem);
    SettingsRecord image;
    std::memcpy(&image, &s, sizeof s);
    bool failed = fd < 0;
    if (fd >= 0) {
      // Read as far as the file goes; a shorter file changes only its length.
      auto* p = reinterpret_cast<char*>(&image);
      std::size_t got = 0;
      while (got < sizeof image) {
        ssize_t n = ::read(fd, p + got, sizeof image - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
          failed = true;
          problem = ReadProblemText(path, errno);
        }
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
      }
      struct stat opened{};
      if (!failed && ::fstat(fd, &opened) == 0 &&
          (::access(path.c_str(), W_OK) != 0 || (opened.st_mode & 0222) == 0) &&
          readOnly_.insert(fileName).second)
        dialogs_.Message("Файл настроек '" + path +
                             "' защищён от записи: изменения настроек не будут сохранены.",
                         kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
      ::close(fd);
    }
    if (failed) {
      if (!FieldText(s.OutputFolder).empty()) {
        // Settings loaded before stay as they are.
        dialogs_.Message(kReadFailed, kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
        return;
      }
      // Nothing was loaded yet: the program starts with the defaults rather
      // than with blank settings.
      if (problem.empty()) problem = ReadProblemText(path, errno);
      dialogs_.Message(std::string(kReadFailed) + ": " + problem +
                           ". Используются настройки по умолчанию.",
                       kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
      ApplyDefaults(s);
      if (texts) texts->Clear();
    } else {
      std::memcpy(&s, &image, sizeof s);
      if (texts) *texts = ValidSettingsTexts(s, ReadCompanion(path));
    }
  } else {
    ApplyDefaults(s);
    if (texts) texts->Clear();
  }
  if (s.EditColor == 0 || s.WindowColor == 0) {
    s.EditColor = kDefaultEditColor;
    s.WindowColor = kDefaultWindowColor;
  }
  if (FieldText(s.OutputFolder).empty()) {
    // The program folder, when the record can hold it whole.
    const std::string folder = portable_ && OutputFolderFits(programFolder_)
                                   ? programFolder_
                                   : std::string(DefaultOutputFolder());
    SetField(s.OutputFolder, Utf8ToCp1251(folder));
  }
  if (s.Volume == 0) s.Volume = 255;
}

bool SettingsStore::EnsureSettingFolder() const { return MakeDirectories(SettingFolder()); }

bool SettingsStore::SaveRecord(const std::string& fileName, const SettingsRecord& s,
                               const RecordTexts* texts) const {
  // A settings file the user protected is left alone; LoadRecord said so.
  if (readOnly_.count(fileName) != 0) return false;
  const std::string path = SettingFolder() + fileName;
  std::string problem;
  if (!EnsureSettingFolder()) {
    problem = "Не удалось создать папку '" + SettingFolder() + "': " + std::strerror(errno);
  } else if (const std::string_view bytes(reinterpret_cast<const char*>(&s), sizeof s);
             texts ? !WriteRecordFiles(path, bytes, ValidSettingsTexts(s, *texts), 0600)
                   : !WriteFileAtomically(path, bytes, 0600)) {
    // The record holds the proxy password: the file is kept to its owner.
    problem = "Не удалось записать файл '" + path + "': " + std::strerror(errno);
  }
  if (problem.empty()) return true;
  // The message names the file and says why, after the program's own words.
  dialogs_.Message(std::string(kWriteFailed) + " " + problem + ".", kProgramTitle,
                   MsgIcon::Warning, MsgButtons::Ok);
  return false;
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
