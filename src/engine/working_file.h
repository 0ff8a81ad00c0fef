#pragma once
// The claim of a spool file: it is renamed to its working name and held there under an
// exclusive flock for as long as it is processed. A working file that nobody holds locked was
// left behind by a process that ended in the middle of it; the recovery at start gives it its
// spool name back, so no mail stays stranded.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/unique_fd.h"

namespace pv {

// The extension of a spool file while it is processed.
inline constexpr std::string_view kWorkingExtension = "$$$";

// Renames from to to unless to exists (then nothing changes). False when not renamed.
bool RenameNoReplace(const std::string& from, const std::string& to);

class WorkingFile {
 public:
  // Renames spoolPath to workingPath (never over an existing file), opens the working file and
  // locks it. Nothing when the rename fails (the writer still holds the file, the name is
  // taken, the file has gone); nothing, with the file left under its working name, when it
  // cannot be opened or locked or no longer is the file that was renamed.
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

// For every "*.$$$" file in the directory of pattern (a spool file pattern "dir/*.ext") that
// no process holds locked: renames it to its spool name (the extension of pattern) when that
// name is free. Returns the spool paths given back.
std::vector<std::string> RecoverWorkingFilesIn(const std::string& pattern);

}  // namespace pv
