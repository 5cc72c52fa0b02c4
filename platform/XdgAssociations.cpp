#include "platform/XdgAssociations.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

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
// One line of text from pos, without its line end; end is where the next
// line starts.
std::string_view LineAt(std::string_view text, std::size_t pos, std::size_t& next) {
  std::size_t nl = text.find('\n', pos);
  next = nl == std::string_view::npos ? text.size() : nl + 1;
  std::string_view line = text.substr(pos, (nl == std::string_view::npos ? text.size() : nl) - pos);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}
}  // namespace

std::string SetDesktopFileKey(std::string_view text, const std::string& group,
                              const std::string& key, const std::optional<std::string>& value) {
  const std::string newline = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
  const std::string entry = value ? key + "=" + *value + newline : std::string();
  std::string out;
  bool inGroup = false, seenGroup = false, done = false;
  std::size_t lastInGroup = std::string::npos;  // where the group's last key line ends in out
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t next;
    std::string_view line = LineAt(text, pos, next);
    std::string_view raw = text.substr(pos, next - pos);
    std::string_view t = Trim(line);
    if (!t.empty() && t.front() == '[') {
      if (inGroup && !done) {
        // The key was not in its group: it goes after the group's last entry.
        std::size_t at = lastInGroup == std::string::npos ? out.size() : lastInGroup;
        out.insert(at, entry);
        done = true;
      }
      inGroup = t == "[" + group + "]";
      if (inGroup) {
        seenGroup = true;
        out += raw;
        if (raw.empty() || raw.back() != '\n') out += newline;
        lastInGroup = out.size();
        pos = next;
        continue;
      }
    } else if (inGroup && !done && !t.empty() && t.front() != '#') {
      std::size_t eq = t.find('=');
      if (eq != std::string_view::npos && Trim(t.substr(0, eq)) == key) {
        out += entry;  // replaced in place (or dropped)
        done = true;
        lastInGroup = out.size();
        pos = next;
        continue;
      }
    }
    out += raw;
    if (inGroup && !t.empty()) {
      if (raw.back() != '\n') out += newline;
      lastInGroup = out.size();
    }
    pos = next;
  }
  if (!done && value) {
    if (inGroup) {
      out.insert(lastInGroup == std::string::npos ? out.size() : lastInGroup, entry);
    } else if (!seenGroup) {
      if (!out.empty() && out.back() != '\n') out += newline;
      if (!out.empty()) out += newline;
      out += "[" + group + "]" + newline + entry;
    }
  }
  return out;
}

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
  // A link (dotfile managers keep mimeapps.list elsewhere) stays a link: the
  // file it points at is replaced.
  std::string path = MimeAppsPath();
  for (int depth = 0; depth < 8; ++depth) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(path, ec)) break;
    std::filesystem::path target = std::filesystem::read_symlink(path, ec);
    if (ec) return false;
    path = target.is_absolute() ? target.string()
                                : (std::filesystem::path(path).parent_path() / target).string();
  }
  std::string text;
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    // There but not a plain file, too large or unreadable: never overwrite it.
    constexpr std::size_t kLimit = 4u << 20;
    if (!S_ISREG(st.st_mode) || static_cast<std::size_t>(st.st_size) >= kLimit) return false;
    auto data = ReadFileBytes(path, kLimit);
    if (!data || data->size() != static_cast<std::size_t>(st.st_size)) return false;
    text = std::move(*data);
  } else if (errno != ENOENT) {
    return false;
  } else {
    MakeDirectories(std::filesystem::path(path).parent_path().string());
  }
  std::optional<std::string> value;
  if (!desktopId.empty()) value = desktopId + ";";
  std::string changed = SetDesktopFileKey(text, kDefaults, kAudioCd, value);
  if (changed == text) return true;
  return WriteFileAtomically(path, changed, (st.st_mode & 0777) ? (st.st_mode & 0777) : 0644);
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
