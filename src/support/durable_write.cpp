#include "support/durable_write.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <dirent.h>
#include <cerrno>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "support/paths.h"
#include "support/unique_fd.h"

namespace pv {
namespace {

constexpr std::string_view kTempMark = ".tmp";

// The writer's pid of a temp name ".<file>.tmp<pid>-<n>", 0 when the name is not one.
pid_t WriterOf(std::string_view name) {
  if (!name.starts_with('.')) return 0;
  const auto mark = name.rfind(kTempMark);
  const auto dash = name.rfind('-');
  if (mark == std::string_view::npos || dash == std::string_view::npos || dash < mark) return 0;
  const std::string_view pid = name.substr(mark + kTempMark.size(), dash - mark - kTempMark.size());
  const std::string_view counter = name.substr(dash + 1);
  const auto digits = [](std::string_view t) {
    return !t.empty() && t.size() < 20 && t.find_first_not_of("0123456789") == std::string_view::npos;
  };
  if (!digits(pid) || !digits(counter)) return 0;
  return static_cast<pid_t>(std::stoll(std::string(pid)));
}

std::string TempNameFor(const std::string& directory, const std::string& fileName) {
  static std::atomic<unsigned long long> counter{std::random_device{}()};
  // A leading dot and a trailing random part keep the temp file out of every "*.ext" pattern.
  return directory + "." + fileName + ".tmp" + std::to_string(::getpid()) + "-" +
         std::to_string(counter.fetch_add(1));
}

// fileFd: a descriptor on the same file system, for syncfs when the directory cannot be
// opened (write and search permission only).
bool SyncDirectory(const std::string& directory, int fileFd) {
  UniqueFd dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.ok()) return errno == EACCES && fileFd >= 0 && ::syncfs(fileFd) == 0;
  return ::fsync(dir.get()) == 0;
}

// Gives the temp file the mode and owner of the file it replaces.
void CopyModeAndOwner(int fd, const struct stat& old) {
  ::fchmod(fd, old.st_mode & 07777);
  if (::geteuid() == 0) (void)::fchown(fd, old.st_uid, old.st_gid);
}

// Moves temp over path: rename, or link when an existing target must be kept.
IoError Publish(const std::string& temp, const std::string& path, bool failIfExists) {
  if (!failIfExists) {
    if (::rename(temp.c_str(), path.c_str()) == 0) return {};
    return IoError::FromErrno(errno, "cannot rename " + temp + " to " + path);
  }
  if (::link(temp.c_str(), path.c_str()) != 0) {
    return IoError::FromErrno(errno, "cannot create " + path);
  }
  ::unlink(temp.c_str());
  return {};
}

}  // namespace

IoError WriteFileDurably(const std::string& path, std::string_view bytes,
                         const DurableWriteOptions& options) {
  std::string directory = DirectoryPart(path);
  const std::string fileName = FileNamePart(path);
  if (directory.empty()) directory = "./";
  if (fileName.empty()) return {kErrPathFileAccess, "no file name in " + path};
  if (!DirectoryExists(directory)) return {kErrPathNotFound, "path not found: " + directory};

  struct stat old {};
  const bool exists = ::stat(path.c_str(), &old) == 0;
  if (exists && options.failIfExists) return {kErrPathFileAccess, "file exists: " + path};

  const std::string temp = TempNameFor(directory, fileName);
  UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, options.newFileMode));
  if (!fd.ok()) return IoError::FromErrno(errno, "cannot create " + temp);
  IoError error;
  if (exists) CopyModeAndOwner(fd.get(), old);
  else if (options.exactMode && ::fchmod(fd.get(), options.newFileMode) != 0)
    error = IoError::FromErrno(errno, "cannot set the mode of " + temp);

  if (!error && !WriteAll(fd.get(), bytes))
    error = IoError::FromErrno(errno, "cannot write " + temp);
  if (!error && ::fsync(fd.get()) != 0) error = IoError::FromErrno(errno, "cannot sync " + temp);
  if (!error) error = Publish(temp, path, options.failIfExists);
  if (error) {
    ::unlink(temp.c_str());
    return error;
  }
  // From here on the new content is in place; the directory sync makes the name durable.
  // (The fd closes only now: syncfs needs it. The fsync above has already reported any
  // write error, so the close has nothing left to say.)
  if (!SyncDirectory(directory, fd.get()))
    return IoError::FromErrno(errno, "cannot sync " + directory);
  return {};
}

int RemoveAbandonedTempFiles(const std::string& directory) {
  DIR* dir = ::opendir(directory.c_str());
  if (dir == nullptr) return 0;
  int removed = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const pid_t writer = WriterOf(entry->d_name);
    // A live writer (this process, or another one writing a spool file now) keeps its file.
    if (writer <= 0 || writer == ::getpid() || ::kill(writer, 0) == 0 || errno != ESRCH) continue;
    if (::unlink((AddTrailingSeparator(directory) + entry->d_name).c_str()) == 0) ++removed;
  }
  ::closedir(dir);
  return removed;
}

IoError ReadWholeFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) return IoError::FromErrno(errno, "cannot open " + path,
                                          !DirectoryExists(DirectoryPart(path).empty()
                                                               ? "."
                                                               : DirectoryPart(path)));
  struct stat st {};
  const std::size_t expected =
      ::fstat(fd.get(), &st) == 0 && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0;
  // Straight into the string, sized by the stat and grown if the file grew: no buffer on the
  // stack, which every concurrent delivery would touch.
  std::size_t filled = 0;
  bytes.resize(expected + 1);  // one more: the end shows without a second call for more room
  for (;;) {
    if (filled == bytes.size()) bytes.resize(std::max<std::size_t>(4096, 2 * filled));
    const ssize_t n = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      bytes.clear();
      return IoError::FromErrno(errno, "cannot read " + path);
    }
    if (n == 0) {
      bytes.resize(filled);
      return {};
    }
    filled += static_cast<std::size_t>(n);
  }
}

}  // namespace pv
