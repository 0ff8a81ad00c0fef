#pragma once
// The per-user autostart entry: $XDG_CONFIG_HOME/autostart/Postvane.desktop, the file a
// desktop session reads at login to start the programs the user chose. The text functions are
// pure; the file functions work on the entry of the user running the process.
#include <string>
#include <string_view>
#include <vector>

#include "support/io_error.h"

namespace pv {

// One argument of an Exec value as it is written into the file: quoted in double quotes when it
// holds a reserved character (or is empty), with `"` `` ` `` `$` `\` backslash-escaped inside the
// quotes, every `%` doubled, and then the string escapes of a desktop entry value applied
// (`\` as `\\`, newline, tab and carriage return as `\n` `\t` `\r`).
std::string QuoteExecArgument(std::string_view argument);
// The whole Exec value: program and arguments, each quoted, separated by one blank.
std::string ExecLine(std::string_view program, const std::vector<std::string>& args);

// A complete entry that starts programPath with args at login; name and comment go into Name
// and Comment (line breaks become blanks).
std::string AutostartEntryText(std::string_view programPath, const std::vector<std::string>& args,
                               std::string_view name = "Postvane",
                               std::string_view comment = "Mail Spooler");
// Whether an entry's text starts its program: false when its [Desktop Entry] group holds
// Hidden=true or X-GNOME-Autostart-enabled=false (the ways desktops switch an entry off) and
// when that group is missing; true otherwise.
bool AutostartEntryEnabled(std::string_view text);

// Where the entry of this user lives.
std::string AutostartEntryPath();
// The entry exists, is readable and is enabled.
bool AutostartEnabled();
// Writes the entry anew (durably, mode 0644), creating the autostart directory with mode 0700
// when it is missing.
IoError CreateAutostartEntry(std::string_view programPath, const std::vector<std::string>& args);
// Removes the entry; one that is not there is success.
IoError RemoveAutostartEntry();

}  // namespace pv
