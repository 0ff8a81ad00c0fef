#include "engine/working_file.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <mutex>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/spool_directory.h"
#include "support/paths.h"

namespace pv {
namespace {

// link + unlink: the target is never replaced. For file systems without renameat2 flags.
bool LinkAndUnlink(const std::string& from, const std::string& to) {
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

// Opens path without following a link and takes its lock without waiting; the fd only when
// the lock is ours and path still names the file that was opened.
UniqueFd OpenLocked(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.ok() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return UniqueFd();
  struct stat held {}, named {};
  if (::fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode) ||
      ::lstat(path.c_str(), &named) != 0 || held.st_dev != named.st_dev ||
      held.st_ino != named.st_ino) {
    return UniqueFd();
  }
  return fd;
}

}  // namespace

bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) return LinkAndUnlink(from, to);
  return false;
}

bool QuietSince(const struct stat& before, const struct stat& after, std::int64_t now) {
  return before.st_size == after.st_size && before.st_mtim.tv_sec == after.st_mtim.tv_sec &&
         before.st_mtim.tv_nsec == after.st_mtim.tv_nsec &&
         now - static_cast<std::int64_t>(before.st_ctim.tv_sec) >= kQuietSeconds;
}

bool WriterMayBeActive(int fd, const struct stat& before) {
  // A lease break is announced with SIGIO, whose default action ends the process; the lease is
  // given up at once, but a break may still arrive in between.
  static std::once_flag ignoreSigio;
  std::call_once(ignoreSigio, [] { ::signal(SIGIO, SIG_IGN); });
  if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
    ::fcntl(fd, F_SETLEASE, F_UNLCK);
    return false;
  }
  if (errno == EAGAIN) return true;
  struct stat after {};
  return ::fstat(fd, &after) != 0 || !QuietSince(before, after, ::time(nullptr));
}

std::optional<WorkingFile> WorkingFile::Claim(const std::string& spoolPath,
                                              const std::string& workingPath) {
  // O_NONBLOCK: a FIFO under a spool name must not hold the run.
  UniqueFd fd(::open(spoolPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  struct stat before {};
  if (!fd.ok() || ::fstat(fd.get(), &before) != 0 || !S_ISREG(before.st_mode)) return std::nullopt;
  // Locked before the rename: a writer that holds an flock keeps the file where it is, and the
  // recovery of a starting process never takes back a file in hand.
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return std::nullopt;
  if (!RenameNoReplace(spoolPath, workingPath)) return std::nullopt;
  WorkingFile claim(spoolPath, workingPath, std::move(fd));
  // The rename took what the spool name held by then; a file put in place after the open
  // is not the one locked.
  struct stat named {};
  const bool same = ::lstat(workingPath.c_str(), &named) == 0 &&
                    named.st_dev == before.st_dev && named.st_ino == before.st_ino;
  if (!same || WriterMayBeActive(claim.lock_.get(), before)) {
    claim.GiveBack();
    return std::nullopt;
  }
  return claim;
}

bool WorkingFile::GiveBack() const { return RenameNoReplace(workingPath_, spoolPath_); }

std::string NumberedSpoolPath(const std::string& spoolPath, int n) {
  if (n <= 1) return spoolPath;
  const std::size_t slash = spoolPath.rfind('/');
  const std::size_t dot = spoolPath.rfind('.');
  const bool extension =
      dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  const std::size_t at = extension ? dot : spoolPath.size();
  return spoolPath.substr(0, at) + "." + std::to_string(n) + spoolPath.substr(at);
}

std::string RenameToFreeName(const std::string& from, const std::string& to) {
  for (int n = 1; n < kMaxNumberedNames; ++n) {
    const std::string path = NumberedSpoolPath(to, n);
    if (RenameNoReplace(from, path)) return path;
    if (errno != EEXIST) break;
  }
  return "";
}

std::vector<std::string> RecoverWorkingFilesIn(const std::string& pattern) {
  const std::string directory = DirectoryPart(pattern);
  const std::string extension = ExtensionOf(pattern);
  std::vector<std::string> recovered;
  for (const std::string& name :
       ListSpoolNames(directory, "*." + std::string(kWorkingExtension))) {
    const std::string workingPath = directory + name;
    const UniqueFd lock = OpenLocked(workingPath);
    if (!lock.ok()) continue;  // in hand elsewhere, or gone
    const std::string path = RenameToFreeName(workingPath, ChangeExtension(workingPath, extension));
    if (!path.empty()) recovered.push_back(path);
  }
  return recovered;
}

}  // namespace pv
