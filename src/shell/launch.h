#pragma once
// The launch of the spooler (service or tray mode): the event loop, the spool engine, the
// controller, the control channel, the signals; returns the process's exit code.
#include "shell/startup.h"

namespace pv {

int RunSpooler(int argc, char** argv, const StartupValues& startup, bool holdsInstanceLock);

// --spool-now and --status: ask every spooler this user can reach.
int AskSpoolers(const std::string& request);

}  // namespace pv
