#pragma once
// The one way a file is written anew: temp file in the same directory, write, fsync, rename
// over the target, fsync the directory. Readers see the old file or the new one, never a part.
#include <string>
#include <string_view>
#include <sys/types.h>

#include "support/io_error.h"

namespace pv {

struct DurableWriteOptions {
  // Mode of a file that did not exist before (the umask applies); an existing file keeps its own.
  mode_t newFileMode = 0666;
  // Keep a file that does exist in place and fail with kErrPathFileAccess (exclusive create).
  bool failIfExists = false;
  // newFileMode exactly, whatever the umask (a spool file that its spooler's group must read).
  bool exactMode = false;
};

// The directory sync: fsync of the directory; where the writer may not open it (a spool
// directory of mode 3730 that a group member writes into), syncfs of the file system instead.
IoError WriteFileDurably(const std::string& path, std::string_view bytes,
                         const DurableWriteOptions& options = {});

// Removes the temp files that a killed process left in directory (their writer no longer
// runs; the file they were to replace is untouched). Returns how many went.
int RemoveAbandonedTempFiles(const std::string& directory);

// Reads a whole file; error 53 when missing.
IoError ReadWholeFile(const std::string& path, std::string& bytes);

}  // namespace pv
