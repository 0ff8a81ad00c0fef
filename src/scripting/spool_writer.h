#pragma once
// A new mail put into a spool directory the way its spooler expects: written under a hidden
// temp name in that directory, synced, mode 0640 exactly (a member of the service's group
// writes into its setgid spool, and the spooler must read the file), then linked to a unique
// name `<time>-<pid>-<random>.<extension>` that never replaces another mail, and the
// directory synced. A writer killed on the way leaves only the hidden temp file, which the
// scan never matches and the spooler's next start removes.
#include <string>
#include <string_view>

namespace pv {

struct SpoolWriteResult {
  std::string path;   // the spool file written; "" on failure
  std::string error;  // why not; "" on success
  // The failure may pass (a full disk, an I/O error): worth trying again later.
  bool temporary = false;
  bool ok() const { return error.empty(); }
};

SpoolWriteResult WriteSpoolFile(const std::string& directory, std::string_view extension,
                                std::string_view bytes);

// "20261207-235959-<pid>-<8 hex digits>.<extension>", local time.
std::string NewSpoolFileName(std::string_view extension);

}  // namespace pv
