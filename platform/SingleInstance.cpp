#include "platform/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

namespace sonarvex {

SingleInstance::SingleInstance(const std::string& name, std::string folder) {
  if (folder.empty()) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    folder = runtime && *runtime ? runtime : "/tmp";
  }
  std::string file;
  for (char c : name) file += (c == ' ' || c == '/') ? '_' : c;
  path_ = folder + "/" + file + "-" + std::to_string(::getuid()) + ".lock";
  int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    // Without a lock file we cannot tell; run rather than refuse to start.
    fd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    return;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return;
  }
  fd_ = fd;
}

SingleInstance::~SingleInstance() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace sonarvex
