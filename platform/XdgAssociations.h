// The desktop's file and media associations (freedesktop.org MIME
// applications): who plays audio CDs, and which program plays MP3 files.
#pragma once

#include <string>
#include <vector>

namespace sonarvex {

class XdgAssociations {
 public:
  // configHome: $XDG_CONFIG_HOME (mimeapps.list lives there); dataDirs:
  // $XDG_DATA_HOME followed by $XDG_DATA_DIRS (where .desktop files live).
  XdgAssociations(std::string configHome, std::vector<std::string> dataDirs);
  // From the environment, with the XDG defaults.
  static XdgAssociations FromEnvironment();

  // The desktop file id that handles audio CDs ("x-content/audio-cdda"), or "".
  std::string AudioCdHandler() const;
  // Sets (or, with "", removes) that handler in mimeapps.list.
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
