// The desktop's file and media associations (freedesktop.org MIME
// applications): who plays audio CDs, and which program plays MP3 files.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sonarvex {

// The text of a desktop file (mimeapps.list and the like) with one key of one
// group set to value (or removed, with no value), every other byte kept: the
// line of the key is replaced in place, a missing key goes at the end of its
// group, a missing group at the end of the text. Keys before the first group
// and comments are never touched.
std::string SetDesktopFileKey(std::string_view text, const std::string& group,
                              const std::string& key, const std::optional<std::string>& value);

class XdgAssociations {
 public:
  // configHome: $XDG_CONFIG_HOME (mimeapps.list lives there); dataDirs:
  // $XDG_DATA_HOME followed by $XDG_DATA_DIRS (where .desktop files live).
  XdgAssociations(std::string configHome, std::vector<std::string> dataDirs);
  // From the environment, with the XDG defaults.
  static XdgAssociations FromEnvironment();

  // The desktop file id that handles audio CDs ("x-content/audio-cdda"), or "".
  std::string AudioCdHandler() const;
  // Sets (or, with "", removes) that handler in mimeapps.list, changing
  // nothing else in it; a mimeapps.list that is a link is written at the link's
  // target. False, with nothing written, when the file exists but cannot be
  // read, or when it cannot be written.
  bool SetAudioCdHandler(const std::string& desktopId);

  // Writes a desktop entry for this program (Exec = the quoted program path
  // followed by %U) into the user's applications folder; returns its id.
  std::string InstallDesktopEntry(const std::string& programPath) const;

  // The desktop id of the default application for a MIME type, or "".
  std::string DefaultApplication(const std::string& mimeType) const;
  // The pieces of the Exec line of a desktop id (field codes removed), or {}.
  std::vector<std::string> ExecOf(const std::string& desktopId) const;

  // The program that plays MP3 files: the first piece of the default
  // "audio/mpeg" application's Exec line that names an existing program, or "".
  std::string Mp3PlayerPath() const;

  static constexpr const char* kOwnDesktopId = "sonarvex.desktop";

 private:
  std::string MimeAppsPath() const;
  std::string FindDesktopFile(const std::string& id) const;

  std::string configHome_;
  std::vector<std::string> dataDirs_;
};

}  // namespace sonarvex
