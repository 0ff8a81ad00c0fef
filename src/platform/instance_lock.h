#pragma once
// The lock that tells whether another spooler of this user (or the system service) runs:
// "instance.lock" in the runtime directory. The lock decides, not the control socket.
#include <memory>
#include <string>

class QLockFile;

namespace pv {

class InstanceLock {
 public:
  explicit InstanceLock(std::string runtimeDirectory);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  enum class Result { Acquired, HeldByOther, Unavailable };
  // Takes the lock when it is free (a lock left by a dead process counts as free).
  // Unavailable: the runtime directory or the lock file cannot be made.
  Result TryAcquire();
  bool held() const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::unique_ptr<QLockFile> lock_;
};

}  // namespace pv
