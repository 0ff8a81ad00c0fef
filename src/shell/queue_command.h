#pragma once
// The queue tools: `postvane --queue [--json]` (and `mailq`), `--delete`, `--hold`,
// `--release` and `--retry-now`, on the spool directory of the user's own spooler or, with
// --service or as root, of the system service. The listing and its formats are pure; the
// last error of a mail is read from the CSV log its spooler writes.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/spool_queue.h"
#include "reporting/csv_log.h"
#include "settings/spooler_settings.h"
#include "shell/command_line.h"

namespace pv {

// A string as JSON: quoted, with quote, backslash and control characters escaped; a text that
// is not UTF-8 has every byte above 127 written as U+FFFD.
std::string JsonString(std::string_view text);
// The entries as a JSON array of objects with the fields "file", "size", "age" (seconds),
// "state", "sender", "subject", "recipients", "attempts", "next_attempt" and "last_error".
std::string FormatQueueJson(const std::vector<QueueEntry>& entries);
// The same array on one line, without spaces between the items: a control channel answer.
std::string FormatQueueJsonLine(const std::vector<QueueEntry>& entries);

// An age for people: "45s", "12m", "3h 05m", "2d 04h".
std::string FormatAge(std::int64_t seconds);
// The listing for people: one line per mail (file, size, age, state, attempts, next attempt),
// indented lines with sender, recipients, subject and last error, and a summary line.
std::string FormatQueueTable(const std::vector<QueueEntry>& entries, std::string_view directory);

// The part of a delivery protocol (as the CSV log holds it, line breaks escaped) that tells
// why it failed: the last reply 4xx or 5xx of a server, else the last line.
std::string ErrorSummaryOfProtocol(std::string_view escapedProtocol);
// The most recent error line of a CSV log text for a mail of that sender and subject,
// summarised; "" when there is none.
std::string LastErrorInCsv(std::string_view csvText, const CsvFormat& format,
                           std::string_view sender, std::string_view subject);

// Every mail of the queue with its last error from the logs of that spooler; ok false with
// error set when the directory cannot be read.
std::vector<QueueEntry> ListQueueEntries(const SpoolQueue& queue, const SpoolerSettings& settings,
                                         bool& ok, std::string& error);
// The operation of a queue tool (--delete, --hold, --release, --retry-now) on one mail.
QueueResult ApplyQueueCommand(const SpoolQueue& queue, Command command, const std::string& name);

// Runs the queue tool that line names; the process's exit code (QueueExitCode). On the
// system service's spool directory when it cannot be read (or with POSTVANE_QUEUE_VIA_SERVICE
// set), the tool asks the running service over its control channel instead.
int RunQueueTool(const CommandLine& line);

}  // namespace pv
