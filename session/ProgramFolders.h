// Where the program keeps its state. Two ways to run:
//  - portable: everything beside the executable (setting/, setting/albums/,
//    TempFiles/), when a setting/ folder is there already, or when the
//    program runs from its build tree and that folder is writable;
//  - installed: the XDG folders of the user: settings, profiles, ext.dat,
//    vdrives.lst and the window placement in $XDG_CONFIG_HOME/sonarvex/, the
//    album database in $XDG_DATA_HOME/sonarvex/albums/, temporary files in a
//    folder of this run under $XDG_CACHE_HOME/sonarvex/.
// Both front ends fill their SessionContext from here.
#pragma once

#include <string>

namespace sonarvex {

struct SessionContext;

// What the choice depends on; FromProcess() reads the running process's.
struct FolderEnvironment {
  std::string ExecutableFolder;  // ends in '/'
  std::string Home;              // $HOME (else the password database's)
  // The variables as set; unset, empty or relative ones count as unset.
  std::string ConfigHome, DataHome, CacheHome;
  int ProcessId = 0;  // names this run's temporary folder

  static FolderEnvironment FromProcess();
};

struct ProgramFolders {
  bool Portable = true;
  std::string Program;  // the executable's folder
  std::string Setting;  // settings, profiles, ext.dat, vdrives.lst, placement.ini
  std::string Albums;   // the album database
  std::string Temp;     // temporary files of this run (made when first needed)
  std::string Cache;    // installed: the folder holding the runs' folders; "" portable
  std::string Library;  // where libkelpra.so lies
  // Every path ends in '/'.
};

// Whether a program in `executableFolder` runs portable: setting/ exists
// beside it, or the folder is a build tree's output folder (CMakeCache.txt
// one level up) and writable.
bool RunsPortable(const std::string& executableFolder);

// The folders for a program folder used portable (also for --home DIR).
ProgramFolders PortableFolders(const std::string& programFolder);

// The folders of this environment: portable or installed as above.
ProgramFolders ChooseProgramFolders(const FolderEnvironment& env);

// Puts the folders into a session's context.
void FillSessionContext(const ProgramFolders& folders, SessionContext& context);

// The temporary folder a rip into `outputFolder` uses when the folders are
// the installed ones: this run's folder when it lies on the output folder's
// file system (the nearest existing ancestor counts for a folder still to be
// made), else a hidden folder of this run inside the output folder, so that
// the big temporary WAV files are written where the music goes.
std::string TempFolderForOutput(const std::string& runTemp, const std::string& outputFolder,
                                int processId);

// Removes the temporary folders that runs which no longer exist left in
// `cacheFolder` (after a crash or a kill), with what they hold; a file
// whose lock a running writer holds stays, and so does its folder.
void RemoveStaleRunFolders(const std::string& cacheFolder);

// Removes what runs that ended without clearing up left in a temporary
// folder shared by the runs (the portable TempFiles/): files whose lock no
// running writer holds, and the folders they leave empty. The folder itself
// stays.
void RemoveStaleTemporaryFiles(const std::string& folder);

}  // namespace sonarvex
