// A test home folder and a Session on it, as the command-line and window
// tests open them: software drives only, the active profile loaded.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "platform/Files.h"
#include "session/Session.h"

namespace sonarvex::test {

// folder/home/ with its setting/ folder; the home folder's name, ending in '/'.
inline std::string MakeHome(const std::string& folder) {
  const std::string home = folder + "/home/";
  std::filesystem::create_directories(home + "setting");
  return home;
}

// Declares in home's setting/vdrives.lst a software recorder that writes the
// disc image `cue`; options lead the line ("fail-write=120 ", ...).
inline void DeclareRecorder(const std::string& home, const std::string& cue, const std::string& options = "") {
  WriteFileAtomically(home + "setting/vdrives.lst", options + "burn:" + cue + "\n");
}

inline std::unique_ptr<Session> OpenSession(const std::string& home, Dialogs& dialogs) {
  SessionContext c;
  c.ProgramFolder = home;
  c.DialogService = &dialogs;
  c.ScanSystemDrives = false;
  auto session = std::make_unique<Session>(c);
  session->LoadActiveProfile();
  return session;
}

}  // namespace sonarvex::test
