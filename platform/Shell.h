// Starting other programs: never through a shell, always with an argument vector.
#pragma once

#include <string>
#include <vector>

namespace sonarvex {

// Starts argv[0] (looked up in PATH) with the arguments, detached; does not
// wait. False when it could not be started.
bool StartProgram(const std::vector<std::string>& argv);

// Runs argv and waits; returns the exit status, or -1 when it could not run.
int RunProgram(const std::vector<std::string>& argv);

// Opens a file, folder or web address with the desktop's default handler
// (xdg-open).
bool ShellOpen(const std::string& target);

// Looks a program name up in PATH; a name with a '/' is checked as it is.
// Empty when not found.
std::string FindInPath(const std::string& name);

}  // namespace sonarvex
