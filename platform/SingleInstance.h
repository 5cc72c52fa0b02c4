// The single-instance lock: an flock()ed file in $XDG_RUNTIME_DIR (else /tmp).
#pragma once

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

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace sonarvex
