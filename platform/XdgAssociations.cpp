#include "platform/XdgAssociations.h"

#include <cstdlib>

#include "platform/Files.h"
#include "platform/IniStore.h"
#include "platform/Shell.h"

namespace sonarvex {
namespace {
constexpr const char* kDefaults = "Default Applications";
constexpr const char* kAudioCd = "x-content/audio-cdda";

// Splits an Exec value into arguments (double quotes group, backslash escapes
// inside them) and drops the %-field codes.
std::vector<std::string> SplitExec(const std::string& exec) {
  std::vector<std::string> out;
  std::string cur;
  bool inQuotes = false, have = false;
  for (std::size_t i = 0; i < exec.size(); ++i) {
    char c = exec[i];
    if (inQuotes) {
      if (c == '\\' && i + 1 < exec.size()) {
        cur += exec[++i];
      } else if (c == '"') {
        inQuotes = false;
      } else {
        cur += c;
      }
    } else if (c == '"') {
      inQuotes = have = true;
    } else if (c == ' ' || c == '\t') {
      if (have) out.push_back(cur);
      cur.clear();
      have = false;
    } else {
      cur += c;
      have = true;
    }
  }
  if (have) out.push_back(cur);
  std::vector<std::string> kept;
  for (auto& a : out)
    if (!(a.size() == 2 && a[0] == '%')) kept.push_back(a);
  return kept;
}
}  // namespace

XdgAssociations::XdgAssociations(std::string configHome, std::vector<std::string> dataDirs)
    : configHome_(std::move(configHome)), dataDirs_(std::move(dataDirs)) {}

XdgAssociations XdgAssociations::FromEnvironment() {
  const char* home = std::getenv("HOME");
  std::string h = home ? home : "/tmp";
  const char* cfg = std::getenv("XDG_CONFIG_HOME");
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  const char* dataDirs = std::getenv("XDG_DATA_DIRS");
  std::vector<std::string> dirs;
  dirs.push_back(dataHome && *dataHome ? dataHome : h + "/.local/share");
  std::string rest = dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share";
  std::size_t pos = 0;
  while (pos <= rest.size()) {
    auto colon = rest.find(':', pos);
    std::string d = rest.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos);
    if (!d.empty()) dirs.push_back(d);
    if (colon == std::string::npos) break;
    pos = colon + 1;
  }
  return XdgAssociations(cfg && *cfg ? cfg : h + "/.config", dirs);
}

std::string XdgAssociations::MimeAppsPath() const { return JoinPath(configHome_, "mimeapps.list"); }

std::string XdgAssociations::AudioCdHandler() const { return DefaultApplication(kAudioCd); }

bool XdgAssociations::SetAudioCdHandler(const std::string& desktopId) {
  MakeDirectories(configHome_);
  IniStore ini(MimeAppsPath());
  ini.Load();
  if (desktopId.empty())
    ini.Remove(kDefaults, kAudioCd);
  else
    ini.Set(kDefaults, kAudioCd, desktopId + ";");
  return ini.Save();
}

std::string XdgAssociations::DefaultApplication(const std::string& mimeType) const {
  IniStore ini(MimeAppsPath());
  ini.Load();
  auto v = ini.Get(kDefaults, mimeType);
  if (!v) return {};
  std::string first = v->substr(0, v->find(';'));
  return first;
}

std::string XdgAssociations::FindDesktopFile(const std::string& id) const {
  for (const auto& dir : dataDirs_) {
    std::string p = JoinPath(JoinPath(dir, "applications"), id);
    if (FileExists(p)) return p;
  }
  return {};
}

std::vector<std::string> XdgAssociations::ExecOf(const std::string& desktopId) const {
  if (desktopId.empty()) return {};
  std::string path = FindDesktopFile(desktopId);
  if (path.empty()) return {};
  IniStore ini(path);
  ini.Load();
  auto exec = ini.Get("Desktop Entry", "Exec");
  if (!exec) return {};
  return SplitExec(*exec);
}

std::string XdgAssociations::Mp3PlayerPath() const {
  for (const auto& piece : ExecOf(DefaultApplication("audio/mpeg"))) {
    std::string found = FindInPath(piece);
    if (!found.empty()) return found;
  }
  return {};
}

std::string XdgAssociations::InstallDesktopEntry(const std::string& programPath) const {
  if (dataDirs_.empty()) return {};
  std::string folder = JoinPath(dataDirs_.front(), "applications");
  MakeDirectories(folder);
  std::string quoted;
  for (char c : programPath) {
    if (c == '"' || c == '\\' || c == '`' || c == '$') quoted += '\\';
    quoted += c;
  }
  std::string entry =
      "[Desktop Entry]\nType=Application\nName=Sonarvex\nComment=Audio CD ripper\n"
      "Exec=\"" + quoted + "\" %U\nIcon=media-optical-audio\nTerminal=false\n"
      "Categories=AudioVideo;Audio;\nMimeType=x-content/audio-cdda;\n";
  WriteFileAtomically(JoinPath(folder, kOwnDesktopId), entry);
  return kOwnDesktopId;
}

}  // namespace sonarvex
