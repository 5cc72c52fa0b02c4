// The profile menu of the main window and its commands: load the list and
// the active profile, pick a profile, save the settings as a profile, delete
// a profile. The menu's eleven radio items are kept here as data; the main
// window shows them.
#pragma once

#include <array>
#include <string>

#include "settings/ProfileList.h"
#include "records/WindowState.h"
#include "settings/ProfileChooser.h"

namespace sonarvex {

class Dialogs;

// One radio item of the profile menu: ProfDef (tag -1) or Prof1..Prof10.
struct ProfileMenuItem {
  std::string Name;  // component name
  int Tag = -1;
  std::string Caption;  // UTF-8
  bool Visible = false;
  bool Checked = false;
};
using ProfileMenu = std::array<ProfileMenuItem, ProfileList::kMaxProfiles + 1>;

// What the commands need from the main window.
class ProfileHost {
 public:
  virtual ~ProfileHost() = default;
  virtual WindowState State() = 0;
  virtual void Stop() = 0;
  // Loads setting/<fileName> into the settings and applies them (the main
  // window's LoadSettings, which also reads the disc).
  virtual void LoadSettings(const std::string& fileName) = 0;
  // Writes the settings to setting/<fileName> and the profile list (the main
  // window's SaveSettings); false when the settings file could not be
  // written (the warning has been shown).
  virtual bool SaveSettings(const std::string& fileName) = 0;
  // The menu changed.
  virtual void ShowProfileMenu(const ProfileMenu& menu) = 0;
};

class ProfileCommands {
 public:
  ProfileCommands(ProfileList& list, std::string settingFolder, Dialogs& dialogs,
                  ProfileChooser& chooser, ProfileHost& host);

  // At start and after a deletion: reads "prof.lst" (a missing file gives
  // "-1", a first line that is not a number the default), shows the menu and
  // loads the active profile's settings.
  void LoadProfiles();
  // A radio item: tag -1 is "set.dat", 0..9 the profiles. The settings in
  // memory are not saved.
  void Pick(int tag);
  // "&Сохранить": asks for a name and saves the settings as that profile,
  // which becomes active. False when nothing was saved.
  bool Save();
  // "Удалить": asks which profile and whether to delete it. Deleting the
  // active profile makes "set.dat" active and loads it; the deleted
  // profile's settings are not written anywhere.
  bool Delete();
  // Writes the active profile (the settings file and "prof.lst").
  bool SaveActiveProfile();

  const ProfileMenu& Menu() const { return menu_; }
  // DelConfigItem is enabled when at least one profile exists.
  bool DeleteEnabled() const { return list_.ProfileCount() > 0; }

  // A profile name the user typed (UTF-8): empty when it can be used, else
  // the message telling why not.
  static std::string CheckProfileName(const std::string& name);

 private:
  void RebuildMenu();

  ProfileList& list_;
  std::string folder_;
  Dialogs& dialogs_;
  ProfileChooser& chooser_;
  ProfileHost& host_;
  ProfileMenu menu_;
};

}  // namespace sonarvex
