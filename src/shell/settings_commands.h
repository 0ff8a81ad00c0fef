#pragma once
// The settings commands: `postvane --check-config`, `--show-config` and
// `--set-password relay|proxy`, on the settings of the user's own spooler or, with --service or
// as root, of the system service; and the check that a spooler runs at every settings load.
#include <string>
#include <vector>

#include "settings/settings_check.h"
#include "shell/command_line.h"
#include "shell/startup.h"

namespace pv {

// The findings of the settings file of these start-up values, each "<file>: <text>"; a file
// that exists but cannot be read is one finding.
std::vector<std::string> CheckSettingsFile(const StartupValues& startup, SettingsProbe& probe);

// The check of a spooler's load: each finding to standard error and, as a warning, to the
// system log.
void TellSettingsFindings(const StartupValues& startup);

// Every key of the settings file of these start-up values with its value (secrets masked), its
// default and its origin, headed by the file's name, as --show-config prints it; false with
// error set when the file exists but cannot be read.
bool DescribeSettingsFile(const StartupValues& startup, std::string& text, std::string& error);

// Run the command that line names; the process's exit code (SettingsCommandExitCode).
int RunCheckConfig(const CommandLine& line);
int RunShowConfig(const CommandLine& line);
int RunSetPassword(const CommandLine& line);

}  // namespace pv
