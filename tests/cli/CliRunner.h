// Running the command line in tests: in-process on a home folder, in a child
// process under a time limit, and the built sonarvex-cli as its own process;
// the first profile the command-line tests start from; other programs'
// output.
#pragma once

#include <sys/types.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "records/SettingsRecord.h"

namespace sonarvex::test {

// RunCli as the tests run it: `folder` is the program's folder and no system
// drive is looked at. out and err are emptied first. No disc is looked up by
// itself before a rip unless autoLookup (then the settings and --no-lookup
// decide, as in the program).
int RunCliIn(const std::string& folder, const std::vector<std::string>& args, std::ostringstream& out,
             std::ostringstream& err, bool autoLookup = false);

// A first profile: output into outputFolder, names "N - title" without artist
// or album folders.
SettingsRecord FirstProfile(const std::string& outputFolder);
// Stores s as home's setting/set.dat (making setting/).
bool WriteSettingsFile(const std::string& home, const SettingsRecord& s);
// Reads home's setting/set.dat, applies edit and stores it again; false when
// the file is missing or not a settings record.
bool EditSettingsFile(const std::string& home, const std::function<void(SettingsRecord&)>& edit);
// The CDDB server of s: the loopback server on this port.
void UseCddbOnLoopback(SettingsRecord& s, int port);

// What a child process left: its exit status (-1 when a signal ended it),
// whether the time limit ended it, what it wrote.
struct ChildRun {
  int status = -1;
  bool hung = false;
  std::string out, err;
};

// RunCliIn in a child process that may take at most `seconds`: a command that
// blocks is stopped and reported as hung. prepare runs in the child first
// (false: the child exits with 77). outFile and errFile keep what it wrote.
ChildRun RunCliInChild(const std::string& folder, const std::vector<std::string>& args, int seconds,
                       const std::function<bool()>& prepare, const std::string& outFile,
                       const std::string& errFile);

// Where the built sonarvex-cli is: beside the test binary (empty when the
// test binary's own path cannot be read). It may not have been built.
std::string BuiltCli();

// Starts argv[0] with argv, its standard output and error into these files
// (empty: /dev/null), ended by SIGALRM after `seconds` when that is above 0.
// The child's id.
pid_t StartProgram(const std::vector<std::string>& argv, const std::string& outFile,
                   const std::string& errFile, int seconds = 0);
// Waits for the child to end: its exit status, -1 when a signal ended it.
int WaitForExit(pid_t pid);

// Asks ready() up to `tries` times, pausing between asks, while the child runs.
enum class ChildWait { Ready, Ended, TimedOut };
ChildWait WaitUntil(pid_t pid, const std::function<bool()>& ready, int tries, int pauseMicroseconds);

// A program run whole with a time limit of `seconds`: status, out and err as
// in ChildRun, out and err through these files (empty: not kept).
ChildRun RunProgramBounded(const std::vector<std::string>& argv, int seconds, const std::string& outFile,
                           const std::string& errFile);

// Lines of tab-separated cells, as the command line prints its tables.
std::vector<std::vector<std::string>> TabRows(const std::string& text);

// The standard output of a program (with its standard error when withErrors)
// and, when asked, its exit status.
std::string CaptureOutput(const std::vector<std::string>& argv, bool withErrors, int* status = nullptr);

}  // namespace sonarvex::test
