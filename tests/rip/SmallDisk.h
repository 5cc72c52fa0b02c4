// Running a piece of a test in a child process whose folder is a tiny disk.
#pragma once

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <map>
#include <sstream>
#include <string>

namespace sonarvex::test {

// What a child process reports back: its lines "key=value".
struct ChildReport {
  std::map<std::string, std::string> values;
  std::string Get(const std::string& k) const {
    auto it = values.find(k);
    return it == values.end() ? std::string() : it->second;
  }
};

// Runs body in a child process in which the folder `small` holds at most
// `bytes`: a tmpfs mounted there in the child's own mount namespace, or,
// where no namespace can be made, a file size limit (RLIMIT_FSIZE, with
// SIGXFSZ ignored so that writes fail with EFBIG). The report carries
// "mode" (tmpfs or rlimit) and what body returned. fileLimitOnly: use the
// file size limit alone (the disk itself keeps its free space, so that a
// free-space check before writing passes).
inline ChildReport RunWithSmallDisk(const std::string& small, std::size_t bytes,
                                    const std::function<std::string()>& body,
                                    bool fileLimitOnly = false) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::string mode;
    const std::string size = "size=" + std::to_string(bytes);
    if (!fileLimitOnly && unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
        mount("tmpfs", small.c_str(), "tmpfs", 0, size.c_str()) == 0) {
      mode = "tmpfs";
    } else {
      rlimit limit{bytes, bytes};
      signal(SIGXFSZ, SIG_IGN);
      mode = setrlimit(RLIMIT_FSIZE, &limit) == 0 ? "rlimit" : "none";
    }
    std::string report = "mode=" + mode + "\n" + (mode == "none" ? std::string() : body());
    for (std::size_t at = 0; at < report.size();) {
      ssize_t n = write(fds[1], report.data() + at, report.size() - at);
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
    _exit(0);
  }
  close(fds[1]);
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  ChildReport r;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    auto eq = line.find('=');
    if (eq != std::string::npos) r.values[line.substr(0, eq)] += line.substr(eq + 1);
  }
  if (!WIFEXITED(status)) r.values["crashed"] = "yes";
  return r;
}

}  // namespace sonarvex::test
