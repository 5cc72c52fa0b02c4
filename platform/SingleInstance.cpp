#include "platform/SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace sonarvex {
namespace {

constexpr std::size_t kMaxRequest = 64 * 1024;

// The socket address of path; false when the path does not fit.
bool Address(const std::string& path, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof addr->sun_path) return false;
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

SingleInstance::SingleInstance(const std::string& name, std::string folder) {
  if (folder.empty()) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    folder = runtime && *runtime ? runtime : "/tmp";
  }
  std::string file;
  for (char c : name) file += (c == ' ' || c == '/') ? '_' : c;
  const std::string base = folder + "/" + file + "-" + std::to_string(::getuid());
  path_ = base + ".lock";
  socketPath_ = base + ".sock";
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
  if (listenFd_ >= 0) {
    ::close(listenFd_);
    ::unlink(socketPath_.c_str());  // still ours: the lock is held until below
  }
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

bool SingleInstance::Listen() {
  if (!Acquired() || listenFd_ >= 0) return listenFd_ >= 0;
  sockaddr_un addr{};
  if (!Address(socketPath_, &addr)) return false;
  const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (s < 0) return false;
  // A socket left by an instance that crashed: the lock says nobody uses it.
  ::unlink(socketPath_.c_str());
  const bool bound = ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  // The user's alone (the peer's user is checked too).
  if (!bound || ::chmod(socketPath_.c_str(), 0600) != 0 || ::listen(s, 8) != 0) {
    ::close(s);
    return false;
  }
  listenFd_ = s;
  return true;
}

std::optional<std::string> SingleInstance::TakeRequest(int timeoutMs) {
  if (listenFd_ < 0) return std::nullopt;
  const int c = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (c < 0) return std::nullopt;
  // Only the same user may hand requests over.
  ucred cred{};
  socklen_t len = sizeof cred;
  if (::getsockopt(c, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != ::getuid()) {
    ::close(c);
    return std::nullopt;
  }
  std::string request;
  char buffer[4096];
  for (;;) {
    pollfd p{c, POLLIN, 0};
    const int ready = ::poll(&p, 1, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    const ssize_t n = ::read(c, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    if (n == 0) {
      ::close(c);
      return request;
    }
    if (request.size() + static_cast<std::size_t>(n) > kMaxRequest) break;
    request.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(c);
  return std::nullopt;
}

bool SingleInstance::HandOver(const std::string& request) const {
  sockaddr_un addr{};
  if (!Address(socketPath_, &addr)) return false;
  const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(s);
    return false;
  }
  const char* p = request.data();
  std::size_t left = request.size();
  bool ok = true;
  while (left > 0) {
    const ssize_t n = ::send(s, p, left, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  ::close(s);
  return ok;
}

}  // namespace sonarvex
