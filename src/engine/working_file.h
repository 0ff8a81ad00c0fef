#pragma once
// The claim of a spool file: it is locked with an exclusive flock, renamed to its working name
// and held there under the lock for as long as it is processed. A working file that nobody
// holds locked was left behind by a process that ended in the middle of it; the recovery at
// start gives it its spool name back, so no mail stays stranded.
#include <cstdint>
#include <optional>
#include <sys/stat.h>
#include <string>
#include <string_view>
#include <vector>

#include "support/unique_fd.h"

namespace pv {

// The extension of a spool file while it is processed.
inline constexpr std::string_view kWorkingExtension = "$$$";

// Renames from to to unless to exists (then nothing changes). False when not renamed.
bool RenameNoReplace(const std::string& from, const std::string& to);

// Whether a writer may still be at work on an open file. The file is asked for a read lease,
// which the kernel refuses (EAGAIN) while any process holds it open for writing; the lease is
// released at once. Where no lease can be had (a file of another owner without CAP_LEASE) the
// file must have been quiet: before (taken before the claiming rename) shows a change time at
// least kQuietSeconds in the past, and size and modification time have not changed since.
inline constexpr int kQuietSeconds = 2;
bool WriterMayBeActive(int fd, const struct stat& before);
// The quiet test alone; now in seconds since the epoch.
bool QuietSince(const struct stat& before, const struct stat& after, std::int64_t now);

class WorkingFile {
 public:
  // Claims the spool file: opens it (no link, no device, no FIFO), locks it with flock without
  // waiting, renames it to workingPath (never over an existing file) and checks that no writer
  // still has it open. Nothing when the claim is not completed; the file then has its spool
  // name (given back when it was already renamed) and waits for the next run.
  static std::optional<WorkingFile> Claim(const std::string& spoolPath,
                                          const std::string& workingPath);

  // Gives the working file its spool name back (never over an existing file).
  bool GiveBack() const;

  const std::string& spoolPath() const { return spoolPath_; }
  const std::string& workingPath() const { return workingPath_; }

 private:
  WorkingFile(std::string spoolPath, std::string workingPath, UniqueFd lock)
      : spoolPath_(std::move(spoolPath)), workingPath_(std::move(workingPath)),
        lock_(std::move(lock)) {}

  std::string spoolPath_;
  std::string workingPath_;
  UniqueFd lock_;  // the open working file with its flock; closing it releases the lock
};

// The n-th name of a spool path's pattern: the path itself for n <= 1, else the number before
// the extension ("dir/a.eml", 2: "dir/a.2.eml"). A mail whose own name was taken by a newer
// one goes under the first free one.
std::string NumberedSpoolPath(const std::string& spoolPath, int n);
inline constexpr int kMaxNumberedNames = 1000;

// Renames from to `to`, or, when that is taken, to its first free numbered name (never over an
// existing file). The path it now has; "" when it could not be renamed (errno tells why).
std::string RenameToFreeName(const std::string& from, const std::string& to);

// For every "*.$$$" file in the directory of pattern (a spool file pattern "dir/*.ext") that
// no process holds locked: renames it to its spool name (the extension of pattern), or to the
// first free numbered name when that is taken. Returns the spool paths given back.
std::vector<std::string> RecoverWorkingFilesIn(const std::string& pattern);

}  // namespace pv
