// sonarvex-cli: the ripper without a window, for scripts, servers and tests.
// It reads the settings of the active profile and the album database of its
// program folder, and rips with the same loop as the main window.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace sonarvex {

struct CliEnvironment {
  std::string ExecutableFolder;  // the default program folder
  bool ScanSystemDrives = true;  // look at the system's optical drives too
};

// Runs one command; returns the exit status (0 done, 1 failed, 2 usage).
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const CliEnvironment& env);

}  // namespace sonarvex
