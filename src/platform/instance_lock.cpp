#include "platform/instance_lock.h"

#include <QLockFile>
#include <QString>

#include "support/paths.h"

namespace pv {

InstanceLock::InstanceLock(std::string runtimeDirectory)
    : path_(AddTrailingSeparator(runtimeDirectory) + "instance.lock") {}

InstanceLock::~InstanceLock() = default;

InstanceLock::Result InstanceLock::TryAcquire() {
  if (held()) return Result::Acquired;
  if (!MakeDirectories(RemoveTrailingSeparator(DirectoryPart(path_)), 0700))
    return Result::Unavailable;
  auto lock = std::make_unique<QLockFile>(QString::fromStdString(path_));
  // A live holder never goes stale by age; a dead one is detected by its pid.
  lock->setStaleLockTime(0);
  if (!lock->tryLock(0)) {
    return lock->error() == QLockFile::LockFailedError ? Result::HeldByOther
                                                       : Result::Unavailable;
  }
  lock_ = std::move(lock);
  return Result::Acquired;
}

bool InstanceLock::held() const { return lock_ != nullptr && lock_->isLocked(); }

}  // namespace pv
