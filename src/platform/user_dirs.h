#pragma once
// Where Postvane keeps its files. The program directory of the original design (home of the
// settings file, the spool directory, the logs and the debug file) is never the installation
// prefix on Linux:
//   $POSTVANE_HOME when set;
//   the service running as root or as a system account (its own user `postvane`):
//   /etc/postvane (settings), /var/spool/postvane (the rest) and /var/log/postvane (CSV logs);
//   otherwise $XDG_DATA_HOME/postvane (default ~/.local/share/postvane).
#include <string>
#include <string_view>
#include <sys/types.h>

namespace pv {

// The user's home: $HOME, else the passwd entry.
std::string HomeDirectory();
// $XDG_CONFIG_HOME, else ~/.config.
std::string ConfigHome();
// $XDG_DATA_HOME, else ~/.local/share.
std::string DataHome();

// SYS_UID_MAX of a login.defs text: the highest uid of a system account (999 when the key is
// missing or not a number).
uid_t SystemUidMax(std::string_view loginDefs);
// root, or an account up to SYS_UID_MAX of /etc/login.defs (the accounts `useradd -r` makes).
bool IsSystemAccount(uid_t uid);
// The system service's directories are meant: service=1 run by root or by a system account,
// or, with anyUser, by anyone (a command that works on the service's files, run by a user of
// its group).
bool IsSystemService(bool isService, bool anyUser = false);

// Home of the spool directory, the debug file and, outside the service, the CSV logs (no
// trailing separator).
std::string ProgramDirectory(bool isService, bool anyUser = false);
// Default directory of the CSV logs, with a trailing separator: /var/log/postvane/ for the
// system service (unless POSTVANE_HOME is set); "" elsewhere, where the logs go beside the
// spooled mails.
std::string LogDirectory(bool isService, bool anyUser = false);
// Home of the default settings file (no trailing separator).
std::string SettingsDirectory(bool isService, bool anyUser = false);
// Runtime directory of the control socket and the instance lock:
// $POSTVANE_RUNTIME_DIR, else /run/postvane for root and system accounts, else $XDG_RUNTIME_DIR/postvane
// (or /tmp/postvane-<uid> without XDG_RUNTIME_DIR).
std::string RuntimeDirectory();
// Runtime directory of the system service, as any user reaches it: $POSTVANE_RUNTIME_DIR,
// else /run/postvane.
std::string ServiceRuntimeDirectory();

}  // namespace pv
