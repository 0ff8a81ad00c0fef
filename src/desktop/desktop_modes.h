#pragma once
// The run modes at a desktop: the tray spooler and the settings window alone.
#include "shell/cli.h"
#include "shell/startup.h"

namespace pv {

// The spooler of this user with its tray icon, notifications and windows, on the same runtime
// as the headless spooler; ends with Stop, SIGTERM or SIGINT.
int RunTraySpooler(int argc, char** argv, const StartupValues& startup, bool holdsInstanceLock);

// Only the settings window (after the remote-session message where it applies); ends when the
// window closes.
int RunSettingsWindow(int argc, char** argv, const StartupValues& startup);

DesktopModes DesktopRunModes();

}  // namespace pv
