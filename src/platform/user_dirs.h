#pragma once
// Where Postvane keeps its files. The program directory of the original design (home of the
// settings file, the spool directory, the logs and the debug file) is never the installation
// prefix on Linux:
//   $POSTVANE_HOME when set;
//   the service running as root: /etc/postvane (settings) and /var/spool/postvane (the rest);
//   otherwise $XDG_DATA_HOME/postvane (default ~/.local/share/postvane).
#include <string>

namespace pv {

// The user's home: $HOME, else the passwd entry.
std::string HomeDirectory();
// $XDG_CONFIG_HOME, else ~/.config.
std::string ConfigHome();
// $XDG_DATA_HOME, else ~/.local/share.
std::string DataHome();

// Home of the spool directory, the CSV logs and the debug file (no trailing separator).
// isService means the system service's directories for root only, or for anyone with
// anyUser (a command that works on the service's files, run by a user of its group).
std::string ProgramDirectory(bool isService, bool anyUser = false);
// Home of the default settings file (no trailing separator).
std::string SettingsDirectory(bool isService, bool anyUser = false);
// Runtime directory of the control socket and the instance lock:
// $POSTVANE_RUNTIME_DIR, else /run/postvane for root, else $XDG_RUNTIME_DIR/postvane
// (or /tmp/postvane-<uid> without XDG_RUNTIME_DIR).
std::string RuntimeDirectory();
// Runtime directory of the system service, as any user reaches it: $POSTVANE_RUNTIME_DIR,
// else /run/postvane.
std::string ServiceRuntimeDirectory();

}  // namespace pv
