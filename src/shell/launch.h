#pragma once
// The launch of the spooler (service or tray mode): the event loop, the spool engine, the
// controller, the control channel, the signals; returns the process's exit code.
#include <QCoreApplication>
#include <functional>

#include "shell/signals.h"
#include "shell/spooler_runtime.h"
#include "shell/startup.h"
#include "shell/systemd_link.h"

namespace pv {

// The headless spooler: the system service, or a user's spooler without a desktop.
int RunSpooler(int argc, char** argv, const StartupValues& startup, bool holdsInstanceLock);

// The life cycle as a front end runs it: start, end (after the mail in hand) and reload.
struct SpoolerLifeCycle {
  std::function<bool()> start;
  std::function<bool()> end;
  std::function<bool()> reload;
};

// Runs a built spooler on the application's event loop until it ends: gives back the mails a
// killed process left (holder of the instance lock only), listens at the control socket, ends
// on SIGTERM and SIGINT, reloads on SIGHUP, starts; the exit code of the loop.
int RunSpoolerLoop(QCoreApplication& app, SignalEvents& signalEvents, SpoolerRuntime& runtime,
                   const StartupValues& startup, bool holdsInstanceLock, SystemdLink& systemd,
                   const SpoolerLifeCycle& lifeCycle);

// Loads the settings record, prints what it holds and tells what the check finds.
void LoadAndPrintSettings(const StartupValues& startup);

// --spool-now and --status: ask every spooler this user can reach.
int AskSpoolers(const std::string& request);

}  // namespace pv
