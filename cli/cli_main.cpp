// sonarvex-cli: see CliCommands.h.
#include <unistd.h>

#include <clocale>
#include <iostream>

#include "cli/CliCommands.h"
#include "platform/ProgramFolder.h"
#include "playback/AlsaMessages.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  // The program says in its own words what the sound device lacks.
  sonarvex::KeepAlsaLibraryMessagesQuiet();
  std::vector<std::string> args(argv + 1, argv + argc);
  sonarvex::CliEnvironment env;
  env.ExecutableFolder = sonarvex::ExecutableFolder();
  env.Folders = sonarvex::FolderEnvironment::FromProcess();
  env.ErrIsTerminal = ::isatty(STDERR_FILENO) == 1;
  env.InIsTerminal = ::isatty(STDIN_FILENO) == 1;
  return sonarvex::RunCli(args, std::cout, std::cerr, env);
}
