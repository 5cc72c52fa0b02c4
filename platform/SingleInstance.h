// The single-instance lock: an flock()ed file in $XDG_RUNTIME_DIR (else /tmp).
// The instance holding it may also listen on a Unix socket beside the lock,
// through which a later start hands over its request (its arguments) before
// it ends, so that the running instance can come to the front.
#pragma once

#include <optional>
#include <string>

namespace sonarvex {

class SingleInstance {
 public:
  // name: the lock's name ("Sonarvex v3.x mutex"); folder: where the lock
  // file lives (empty: $XDG_RUNTIME_DIR, else /tmp).
  explicit SingleInstance(const std::string& name, std::string folder = {});
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // True when this process holds the lock (no other instance runs).
  bool Acquired() const { return fd_ >= 0; }
  const std::string& LockPath() const { return path_; }
  const std::string& SocketPath() const { return socketPath_; }

  // The holder: starts listening for later starts; false when the socket
  // cannot be made (the lock still holds). The descriptor to watch for
  // readability is ListenFd() (non-blocking; -1 when not listening).
  bool Listen();
  int ListenFd() const { return listenFd_; }
  // The holder, when ListenFd() is readable: the request of one later start
  // (at most 64 KiB, waiting at most `timeoutMs` for its end), or nullopt
  // when none was waiting or it broke off.
  std::optional<std::string> TakeRequest(int timeoutMs = 1000);

  // A later start: hands `request` to the holder; false when nobody listens.
  bool HandOver(const std::string& request) const;

 private:
  std::string path_;
  std::string socketPath_;
  int fd_ = -1;
  int listenFd_ = -1;
};

}  // namespace sonarvex
