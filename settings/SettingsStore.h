// Reading and writing the settings record and the few values kept beside it
// (the main window placement and the audio CD play command). The main window
// applies what is read; this class owns the files.
#pragma once

#include <optional>
#include <set>
#include <string>

#include "records/RecordTexts.h"
#include "records/SettingsRecord.h"

namespace sonarvex {

class Dialogs;
class XdgAssociations;

struct WindowPlacement {
  std::optional<int> Top, Left, Width, Height;
};

class SettingsStore {
 public:
  // programFolder ends in '/'. The files live in settingFolder, or, when it
  // is empty, in the program folder's setting/ (portable). An empty
  // OutputFolder becomes the program folder when portable, else the user's
  // music folder (an installed program's folder is not the user's).
  SettingsStore(std::string programFolder, Dialogs& dialogs, std::string settingFolder = {});

  const std::string& SettingFolder() const { return settingFolder_; }

  // The record part of loading a settings file (set.dat or a profile):
  // ReadSpeed 30 and NameHasTitle 1 first; then the file's bytes over the
  // record (as far as the file goes) or, without a file, the first-start
  // defaults; the colour reset; an empty OutputFolder becomes the program
  // folder; Volume 0 becomes 255. An unreadable file (or a FIFO, a device, a
  // folder: only regular files are read, never blocking) shows the warning
  // and leaves the record as it was, or, when nothing was loaded yet (no
  // output folder), gives the defaults. A file protected from writing is
  // read; the user is told once that settings will not be saved to it.
  // With texts, the full texts of the file's companion that match the record
  // come with it (none without a file).
  void LoadRecord(const std::string& fileName, SettingsRecord& s,
                  RecordTexts* texts = nullptr) const;

  // Writes the record to setting/<fileName> (atomically; setting/ is created
  // when missing). A failure shows the warning, followed by the file's path
  // and the reason, and returns false; a file found protected from writing
  // is not written (false, no message).
  // With texts, the companion "<fileName>.utf8" holds those that CP1251
  // cannot (mode 0600 as well: the password may be among them); without
  // any, a companion left from before is removed.
  bool SaveRecord(const std::string& fileName, const SettingsRecord& s,
                  const RecordTexts* texts = nullptr) const;

  // Creates setting/ when missing; false when it cannot be created.
  bool EnsureSettingFolder() const;

  // Main window placement ("setting/placement.ini").
  WindowPlacement LoadPlacement() const;
  bool SavePlacement(int top, int left, int width, int height) const;

  // The desktop's audio CD handler: with on, this program (its desktop entry
  // for programPath) becomes the handler and the handler it replaces is kept
  // as LastPlayer; with off, LastPlayer comes back (or the association is
  // removed when there is none).
  void ApplyCdPlayerAssociation(bool on, const std::string& programPath,
                                XdgAssociations& xdg) const;

 private:
  // The first-start defaults; says so when the XDG music folder had to be
  // passed over.
  void ApplyDefaults(SettingsRecord& s) const;

  std::string programFolder_;
  std::string settingFolder_;
  bool portable_ = true;
  Dialogs& dialogs_;
  // Settings files found protected from writing.
  mutable std::set<std::string> readOnly_;
};

}  // namespace sonarvex
