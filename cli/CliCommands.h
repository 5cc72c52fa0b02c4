// sonarvex-cli: the ripper without a window, for scripts, servers and tests.
// It reads the settings of the active profile and the album database of its
// program folder, and rips with the same loop as the main window.
#pragma once

#include "drive/DeviceDirectory.h"
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "session/ProgramFolders.h"

namespace sonarvex {

struct CliEnvironment {
  // The program folder used portable when Folders is not filled (tests).
  std::string ExecutableFolder;
  // The process's folders: portable or the XDG folders (ProgramFolders.h).
  FolderEnvironment Folders;
  bool ScanSystemDrives = true;  // look at the system's optical drives too
  DeviceFolders Devices;         // where they are looked for (tests give their own)
  bool ErrIsTerminal = false;    // standard error is a terminal: live progress
  // Standard input is a terminal: a command may ask a question there and
  // read the answer from In (std::cin when null).
  bool InIsTerminal = false;
  std::istream* In = nullptr;
  // False: no disc is looked up by itself before a rip, whatever the
  // settings say (the in-process test runner's default, so that a test
  // reaches no network it did not ask for).
  bool AutoLookup = true;
};

// Runs one command; returns the exit status (0 done, 1 failed, 2 usage,
// 128 + N stopped by signal N).
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const CliEnvironment& env);

}  // namespace sonarvex
