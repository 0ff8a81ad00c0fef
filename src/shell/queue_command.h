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
#include "shell/command_line.h"

namespace pv {

// A string as JSON: quoted, with quote, backslash and control characters escaped; a text that
// is not UTF-8 has every byte above 127 written as U+FFFD.
std::string JsonString(std::string_view text);
// The entries as a JSON array of objects with the fields "file", "size", "age" (seconds),
// "state", "sender", "subject", "recipients", "attempts", "next_attempt" and "last_error".
std::string FormatQueueJson(const std::vector<QueueEntry>& entries);

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

// Runs the queue tool that line names; the process's exit code (QueueExitCode).
int RunQueueTool(const CommandLine& line);

}  // namespace pv
