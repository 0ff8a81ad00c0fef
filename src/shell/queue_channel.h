#pragma once
// The queue tools through the control channel of the system service, for the members of the
// group `postvane`: they may drop mails into its spool directory (mode 3730) but not read it,
// so the service runs the operation and answers. One request line, one answer line:
//   QUEUE                       the listing: the JSON array of --queue --json on one line
//   DELETE <name>, HOLD <name>, RELEASE <name>, RETRY <name>, RETRY *
//                               the results: [{"ok":true,"text":"'a.eml' held as a.eml.hold"}]
// or "FAILED <why>", "DENIED", "UNKNOWN". The client formats the answer with the functions of
// the direct tool, so both print the same.
#include <string>
#include <string_view>
#include <vector>

#include "engine/spool_queue.h"
#include "settings/spooler_settings.h"
#include "shell/command_line.h"

namespace pv {

// Whether a request may carry this name: not empty, no "/" and no control character. The
// queue then takes only the names a mail of the spool directory can have.
bool ValidMailName(std::string_view name);

// The request word of a queue tool: "DELETE", "HOLD", "RELEASE", "RETRY"; "" for others.
std::string_view QueueVerbOf(Command command);

// The results as one JSON line, and back; false for a line that is not such an array.
std::string FormatQueueResultsLine(const std::vector<QueueResult>& results);
bool ParseQueueResults(std::string_view line, std::vector<QueueResult>& results);
// The entries of a listing line (FormatQueueJsonLine); false for a line that is not one.
bool ParseQueueJson(std::string_view line, std::vector<QueueEntry>& entries);

// The service's answer to a queue request on its spool directory (verb and name as
// ControlledSpooler::QueueAnswer takes them).
std::string AnswerQueueRequest(const SpoolerSettings& settings, std::string_view verb,
                               const std::string& name);

// The client: the listing, or the results of the operation that line names on the mails it
// names (resolved against queue, the service's spool as the settings tell it), from the
// service at socketPath. ok false / error set when the service does not answer or refuses.
std::vector<QueueEntry> ServiceListing(const std::string& socketPath, bool& ok, std::string& error);
std::vector<QueueResult> ServiceOperations(const std::string& socketPath, const SpoolQueue& queue,
                                           const CommandLine& line, std::string& error);

}  // namespace pv
