#pragma once
// A secret typed by a person, or piped in by a script: from a terminal on standard input it is
// read with echo off (the terminal's settings come back on every way out, a signal included),
// otherwise the first line of standard input is taken. The secret is never echoed.
#include <optional>
#include <string>
#include <string_view>

namespace pv {

// The line without its line end; nullopt with error set when nothing could be read (end of
// input before any character, or the two entries on a terminal differ). On a terminal the
// prompt goes to standard error and the secret is asked twice.
std::optional<std::string> ReadSecret(std::string_view prompt, std::string& error);

}  // namespace pv
