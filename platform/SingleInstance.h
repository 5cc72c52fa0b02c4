// The single-instance lock: an flock()ed file in $XDG_RUNTIME_DIR, else in a
// folder of the user's own ($XDG_CACHE_HOME/sonarvex, else
// /tmp/sonarvex-UID) that nobody else can create or write to.
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
  // file lives (empty: as above). The folder and the lock file must be the
  // user's own and writable by nobody else.
  explicit SingleInstance(const std::string& name, std::string folder = {});
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // True when this process holds the lock (no other instance runs).
  bool Acquired() const { return fd_ >= 0; }
  // Why the lock could not be taken when that is not another instance
  // holding it (a sentence in Russian naming the file); empty otherwise.
  const std::string& Problem() const { return problem_; }

  // Makes `folder` (with its missing parents) as a private folder of this
  // user, or checks one that is there: a folder, not a link, owned by the
  // user; one of the user's that others may write to is closed to them.
  // False with the reason in *problem.
  static bool MakePrivateFolder(const std::string& folder, std::string* problem);
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
  bool Take(const std::string& folder, const std::string& file);

  std::string path_;
  std::string socketPath_;
  std::string problem_;
  int fd_ = -1;
  int listenFd_ = -1;
};

}  // namespace sonarvex
