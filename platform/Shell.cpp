#include "platform/Shell.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

extern char** environ;

namespace sonarvex {
namespace {
bool Spawn(const std::vector<std::string>& argv, pid_t* pid) {
  if (argv.empty()) return false;
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  return ::posix_spawnp(pid, args[0], nullptr, nullptr, args.data(), environ) == 0;
}
}  // namespace

bool StartProgram(const std::vector<std::string>& argv) {
  // Double fork so the program is not left as our zombie.
  pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    pid_t grandchild;
    ::setsid();
    ::_exit(Spawn(argv, &grandchild) ? 0 : 127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int RunProgram(const std::vector<std::string>& argv) {
  pid_t pid;
  if (!Spawn(argv, &pid)) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ShellOpen(const std::string& target) { return StartProgram({"xdg-open", target}); }

std::string FindInPath(const std::string& name) {
  auto executable = [](const std::string& p) {
    struct stat st{};
    return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
  };
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return executable(name) ? name : std::string();
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t pos = 0;
  while (pos <= dirs.size()) {
    auto colon = dirs.find(':', pos);
    std::string dir = dirs.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos);
    if (!dir.empty() && executable(dir + "/" + name)) return dir + "/" + name;
    if (colon == std::string::npos) break;
    pos = colon + 1;
  }
  return {};
}

}  // namespace sonarvex
