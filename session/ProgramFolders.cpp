#include "session/ProgramFolders.h"

#include <dirent.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "session/Session.h"
#include "platform/Files.h"
#include "platform/ProgramFolder.h"
#include "platform/SafeFile.h"

namespace sonarvex {
namespace {

constexpr const char* kRunFolderPrefix = "run-";
constexpr const char* kOutputTempPrefix = ".sonarvex-run-";

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

// An XDG base folder: the variable when it holds an absolute path, else the
// fallback below the home folder.
std::string BaseFolder(const std::string& variable, const std::string& home,
                       const char* fallback) {
  if (!variable.empty() && variable.front() == '/') return WithSlash(variable);
  return WithSlash(JoinPath(home.empty() ? "/" : home, fallback));
}

std::string Normal(const std::string& path) {
  return WithSlash(std::filesystem::path(path).lexically_normal().string());
}

// The device of the nearest existing ancestor of path (path itself when it
// exists); false when none can be looked at.
bool DeviceOf(const std::string& path, dev_t* device) {
  std::filesystem::path p = std::filesystem::path(path).lexically_normal();
  if (!p.has_filename() && p.has_parent_path() && p != p.root_path()) p = p.parent_path();
  for (;;) {
    struct stat st{};
    if (::stat(p.empty() ? "." : p.c_str(), &st) == 0) {
      *device = st.st_dev;
      return true;
    }
    if (p.empty() || p == p.parent_path()) return false;
    p = p.parent_path();
  }
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

}  // namespace

FolderEnvironment FolderEnvironment::FromProcess() {
  FolderEnvironment env;
  env.ExecutableFolder = sonarvex::ExecutableFolder();
  env.Home = Env("HOME");
  if (env.Home.empty() || env.Home.front() != '/') {
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) env.Home = pw->pw_dir;
  }
  env.ConfigHome = Env("XDG_CONFIG_HOME");
  env.DataHome = Env("XDG_DATA_HOME");
  env.CacheHome = Env("XDG_CACHE_HOME");
  env.ProcessId = static_cast<int>(::getpid());
  return env;
}

bool RunsPortable(const std::string& executableFolder) {
  const std::string folder = WithSlash(executableFolder);
  if (DirectoryExists(folder + "setting")) return true;
  return FileExists(folder + "../CMakeCache.txt") && ::access(folder.c_str(), W_OK) == 0;
}

namespace {
std::string LibraryFolderOf(const std::string& program) {
  if (FileExists(program + "libkelpra.so")) return program;
  const std::string installed = Normal(program + "../lib/sonarvex/");
  if (DirectoryExists(installed)) return installed;
  return program;
}
}  // namespace

ProgramFolders PortableFolders(const std::string& programFolder) {
  ProgramFolders f;
  f.Portable = true;
  f.Program = WithSlash(programFolder);
  f.Setting = f.Program + "setting/";
  f.Albums = f.Setting + "albums/";
  f.Temp = f.Program + "TempFiles/";
  f.Library = LibraryFolderOf(f.Program);
  return f;
}

ProgramFolders ChooseProgramFolders(const FolderEnvironment& env) {
  const std::string program = WithSlash(env.ExecutableFolder);
  if (RunsPortable(program)) return PortableFolders(program);
  ProgramFolders f;
  f.Portable = false;
  f.Program = program;
  f.Setting = BaseFolder(env.ConfigHome, env.Home, ".config") + "sonarvex/";
  f.Albums = BaseFolder(env.DataHome, env.Home, ".local/share") + "sonarvex/albums/";
  f.Cache = BaseFolder(env.CacheHome, env.Home, ".cache") + "sonarvex/";
  f.Temp = f.Cache + kRunFolderPrefix + std::to_string(env.ProcessId) + "/";
  f.Library = LibraryFolderOf(program);
  return f;
}

void FillSessionContext(const ProgramFolders& folders, SessionContext& context) {
  context.ProgramFolder = folders.Program;
  context.SettingFolder = folders.Portable ? std::string() : folders.Setting;
  context.AlbumFolder = folders.Portable ? std::string() : folders.Albums;
  context.TempFolder = folders.Temp;
  context.LibraryFolder = folders.Library;
  context.TempNearOutput = !folders.Portable;
}

std::string TempFolderForOutput(const std::string& runTemp, const std::string& outputFolder,
                                int processId) {
  if (outputFolder.empty() || outputFolder.front() != '/') return runTemp;
  dev_t tempDevice = 0, outputDevice = 0;
  if (!DeviceOf(runTemp, &tempDevice) || !DeviceOf(outputFolder, &outputDevice) ||
      tempDevice == outputDevice)
    return runTemp;
  return WithSlash(outputFolder) + kOutputTempPrefix + std::to_string(processId) + "/";
}

void RemoveStaleRunFolders(const std::string& cacheFolder) {
  DIR* dir = ::opendir(cacheFolder.c_str());
  if (!dir) return;
  const std::string prefix = kRunFolderPrefix;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string digits = name.substr(prefix.size());
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
      continue;
    const int pid = std::atoi(digits.c_str());
    // A run that still exists keeps its folder.
    if (pid == ::getpid() || ::kill(pid, 0) == 0 || errno == EPERM) continue;
    const std::string folder = JoinPath(cacheFolder, name);
    RemoveStaleTemporaryFiles(folder);
    RemoveEmptyDirectory(folder);
  }
  ::closedir(dir);
}

void RemoveStaleTemporaryFiles(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  for (const std::string& name : names) {
    const std::string path = JoinPath(folder, name);
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0 || st.st_uid != ::geteuid()) continue;
    if (S_ISDIR(st.st_mode)) {
      RemoveStaleTemporaryFiles(path);
      RemoveEmptyDirectory(path);
    } else if (!LockedByAnotherWriter(path)) {
      // A link goes itself, never what it points to.
      ::unlink(path.c_str());
    }
  }
}

}  // namespace sonarvex
