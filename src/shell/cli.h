#pragma once
// The program's entry: --help, --version, the start-up and the launch of the run mode.
#include <functional>

#include "shell/startup.h"

namespace pv {

// The run modes at a desktop, given by the program that links the desktop (the shell has no
// Qt Widgets). Each is called only where a desktop session answers; empty: none.
struct DesktopModes {
  // Tray mode: the spooler with its tray icon, notifications and windows; the exit code.
  std::function<int(int argc, char** argv, const StartupValues& startup, bool holdsInstanceLock)>
      runTray;
  // Settings mode: the settings window alone; the exit code.
  std::function<int(int argc, char** argv, const StartupValues& startup)> runSettings;
};

int RunMain(int argc, char** argv, const DesktopModes& desktop = {});

}  // namespace pv
