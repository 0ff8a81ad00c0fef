#include "engine/working_file.h"

#include <cerrno>
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

std::optional<WorkingFile> WorkingFile::Claim(const std::string& spoolPath,
                                              const std::string& workingPath) {
  if (!RenameNoReplace(spoolPath, workingPath)) return std::nullopt;
  // Between the rename and the lock the recovery of a starting process may take the file
  // back; OpenLocked then fails and the file waits under one of its names.
  UniqueFd lock = OpenLocked(workingPath);
  if (!lock.ok()) return std::nullopt;
  return WorkingFile(spoolPath, workingPath, std::move(lock));
}

bool WorkingFile::GiveBack() const { return RenameNoReplace(workingPath_, spoolPath_); }

std::vector<std::string> RecoverWorkingFilesIn(const std::string& pattern) {
  const std::string directory = DirectoryPart(pattern);
  const std::string extension = ExtensionOf(pattern);
  std::vector<std::string> recovered;
  for (const std::string& name :
       ListSpoolNames(directory, "*." + std::string(kWorkingExtension))) {
    const std::string workingPath = directory + name;
    const UniqueFd lock = OpenLocked(workingPath);
    if (!lock.ok()) continue;  // in hand elsewhere, or gone
    const std::string spoolPath = ChangeExtension(workingPath, extension);
    if (RenameNoReplace(workingPath, spoolPath)) recovered.push_back(spoolPath);
  }
  return recovered;
}

}  // namespace pv
