#include "tests/cli/CliRunner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "cli/CliCommands.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"

namespace sonarvex::test {

int RunCliIn(const std::string& folder, const std::vector<std::string>& args, std::ostringstream& out,
             std::ostringstream& err, bool autoLookup) {
  out.str("");
  err.str("");
  CliEnvironment env;
  env.ExecutableFolder = folder;
  env.ScanSystemDrives = false;
  env.AutoLookup = autoLookup;
  return RunCli(args, out, err, env);
}

SettingsRecord FirstProfile(const std::string& outputFolder) {
  SettingsRecord s{};
  std::memset(&s, 0, sizeof s);
  ApplyFirstStartDefaults(s, outputFolder.c_str());
  s.FolderPerAlbum = s.FolderPerArtist = 0;
  s.NameHasTitle = 1;
  s.NameHasNumber = 1;
  return s;
}

bool WriteSettingsFile(const std::string& home, const SettingsRecord& s) {
  MakeDirectories(home + "setting");
  return WriteFileAtomically(home + "setting/set.dat",
                             std::string(reinterpret_cast<const char*>(&s), sizeof s));
}

bool EditSettingsFile(const std::string& home, const std::function<void(SettingsRecord&)>& edit) {
  auto bytes = ReadFileBytes(home + "setting/set.dat");
  if (!bytes || bytes->size() != sizeof(SettingsRecord)) return false;
  SettingsRecord s;
  std::memcpy(&s, bytes->data(), sizeof s);
  edit(s);
  return WriteSettingsFile(home, s);
}

std::vector<std::vector<std::string>> TabRows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> cells;
    std::size_t from = 0;
    for (std::size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
      cells.push_back(line.substr(from, tab - from));
    cells.push_back(line.substr(from));
    rows.push_back(std::move(cells));
  }
  return rows;
}

void UseCddbOnLoopback(SettingsRecord& s, int port) {
  SetField(s.CddbHost, "127.0.0.1:" + std::to_string(port));
  SetField(s.CddbPath, "/~cddb/cddb.cgi");
}

namespace {

// In a child: fd onto the file, or onto /dev/null when the name is empty.
void Redirect(int fd, const std::string& file) {
  const int to = file.empty() ? ::open("/dev/null", O_WRONLY)
                              : ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(to, fd);
}

ChildRun Collect(int status, const std::string& outFile, const std::string& errFile) {
  ChildRun r;
  r.hung = WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (!outFile.empty()) r.out = ReadFileBytes(outFile).value_or("");
  if (!errFile.empty()) r.err = ReadFileBytes(errFile).value_or("");
  return r;
}

}  // namespace

ChildRun RunCliInChild(const std::string& folder, const std::vector<std::string>& args, int seconds,
                       const std::function<bool()>& prepare, const std::string& outFile,
                       const std::string& errFile) {
  pid_t pid = fork();
  if (pid == 0) {
    Redirect(2, errFile);
    alarm(static_cast<unsigned>(seconds));
    if (prepare && !prepare()) _exit(77);
    std::ostringstream out, err;
    int rc = RunCliIn(folder, args, out, err);
    WriteFileAtomically(outFile, out.str());
    std::string e = err.str();
    ssize_t ignored = write(2, e.data(), e.size());
    (void)ignored;
    _exit(rc);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return Collect(status, outFile, errFile);
}

std::string BuiltCli() {
  char self[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return {};
  std::string exe(self, static_cast<std::size_t>(n));
  return exe.substr(0, exe.rfind('/') + 1) + "sonarvex-cli";
}

pid_t StartProgram(const std::vector<std::string>& argv, const std::string& outFile,
                   const std::string& errFile, int seconds) {
  const pid_t pid = fork();
  if (pid == 0) {
    // The alarm outlives the exec: a program that hangs ends by it.
    if (seconds > 0) alarm(static_cast<unsigned>(seconds));
    Redirect(2, errFile);
    Redirect(1, outFile);
    std::vector<std::string> copy = argv;
    std::vector<char*> args;
    for (auto& a : copy) args.push_back(a.data());
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  return pid;
}

int WaitForExit(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ChildWait WaitUntil(pid_t pid, const std::function<bool()>& ready, int tries, int pauseMicroseconds) {
  for (int k = 0; k < tries; ++k) {
    if (ready()) return ChildWait::Ready;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return ChildWait::Ended;
    usleep(static_cast<useconds_t>(pauseMicroseconds));
  }
  return ChildWait::TimedOut;
}

ChildRun RunProgramBounded(const std::vector<std::string>& argv, int seconds, const std::string& outFile,
                           const std::string& errFile) {
  int status = 0;
  waitpid(StartProgram(argv, outFile, errFile, seconds), &status, 0);
  return Collect(status, outFile, errFile);
}

std::string CaptureOutput(const std::vector<std::string>& argv, bool withErrors, int* status) {
  std::string cmd;
  for (const auto& a : argv) cmd += "'" + a + "' ";
  FILE* p = popen((cmd + (withErrors ? "2>&1" : "2>/dev/null")).c_str(), "r");
  std::string out;
  char buf[4096];
  for (std::size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int rc = p ? pclose(p) : -1;
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

}  // namespace sonarvex::test
