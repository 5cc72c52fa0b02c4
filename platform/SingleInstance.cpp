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
#include <vector>

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

namespace {

std::string Reason(int err) { return std::strerror(err); }

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v && *v == '/' ? std::string(v) : std::string();
}

}  // namespace

bool SingleInstance::MakePrivateFolder(const std::string& folder, std::string* problem) {
  // The parents as usual, the folder itself for the user alone.
  for (std::size_t at = 1; (at = folder.find('/', at)) != std::string::npos; ++at)
    ::mkdir(folder.substr(0, at).c_str(), 0700);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    *problem = "не удалось создать папку '" + folder + "': " + Reason(errno);
    return false;
  }
  struct stat st{};
  if (::lstat(folder.c_str(), &st) != 0) {
    *problem = "не удалось открыть папку '" + folder + "': " + Reason(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    *problem = "'" + folder + "' не является папкой";
    return false;
  }
  if (st.st_uid != ::getuid()) {
    *problem = "папка '" + folder + "' принадлежит другому пользователю";
    return false;
  }
  if ((st.st_mode & 022) != 0 && ::chmod(folder.c_str(), st.st_mode & 0700) != 0) {
    *problem = "не удалось закрыть папку '" + folder + "' для других: " + Reason(errno);
    return false;
  }
  return true;
}

bool SingleInstance::Take(const std::string& folder, const std::string& file) {
  const std::string base = folder + "/" + file + "-" + std::to_string(::getuid());
  path_ = base + ".lock";
  socketPath_ = base + ".sock";
  if (!MakePrivateFolder(folder, &problem_)) return false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      problem_ = "не удалось открыть файл '" + path_ + "': " + Reason(errno);
      // A link or something else under the name, in the user's own folder:
      // it is not a lock another instance holds; made anew once.
      if (attempt == 0 && (errno == ELOOP || errno == EISDIR) && ::unlink(path_.c_str()) == 0)
        continue;
      return false;
    }
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 022) != 0) {
      ::close(fd);
      problem_ = "файл '" + path_ + "' создан не этой программой или открыт для записи другим";
      if (attempt == 0 && ::unlink(path_.c_str()) == 0) continue;
      return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      ::close(fd);
      // Another instance holds it: no problem, just not ours.
      if (err == EWOULDBLOCK) {
        problem_.clear();
        return true;
      }
      problem_ = "не удалось заблокировать файл '" + path_ + "': " + Reason(err);
      return false;
    }
    problem_.clear();
    fd_ = fd;
    return true;
  }
  return false;
}

SingleInstance::SingleInstance(const std::string& name, std::string folder) {
  std::string file;
  for (char c : name) file += (c == ' ' || c == '/') ? '_' : c;
  std::vector<std::string> folders;
  if (!folder.empty()) {
    folders.push_back(folder);
  } else {
    // The session's runtime folder is the user's alone; without one, a
    // folder nobody else can make: below the user's cache folder, else in
    // /tmp under a name that is checked to be the user's.
    const std::string runtime = Env("XDG_RUNTIME_DIR");
    if (!runtime.empty()) folders.push_back(runtime);
    const std::string cache = Env("XDG_CACHE_HOME");
    const std::string home = Env("HOME");
    if (!cache.empty())
      folders.push_back(cache + "/sonarvex");
    else if (!home.empty())
      folders.push_back(home + "/.cache/sonarvex");
    folders.push_back("/tmp/sonarvex-" + std::to_string(::getuid()));
  }
  std::string first;
  for (const std::string& f : folders) {
    if (Take(f, file)) return;
    if (first.empty()) first = problem_;
  }
  problem_ = "Не удалось проверить, запущена ли уже программа: " + first + ".";
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
