#pragma once
// `postvane --deliver FILE`: one mail file read and judged as the spool run reads and judges
// it, delivered at once with the current settings, the protocol printed; the file is left as
// it is. The exit code tells a script what became of the mail (sysexits values).
#include <string>

#include "support/exit_codes.h"

namespace pv {

// The code of a delivery attempt that was made. recipients: the comma list given to the
// transport; servedEntries and refusedEntries: the transport's lists (entries separated by
// character 0). Permanent only when refused entries account for every item not served; any
// doubt gives the temporary code, which loses nothing.
int DeliveryExitCode(bool delivered, const std::string& recipients,
                     const std::string& servedEntries, const std::string& refusedEntries);

// Runs the command for the file; the start-up values must be installed.
int DeliverFile(const std::string& path, const std::string& commandLine);

}  // namespace pv
