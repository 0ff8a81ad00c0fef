#include "shell/signals.h"

#include <csignal>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace pv {
namespace {

sigset_t ControlSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

void BlockControlSignals() {
  const sigset_t set = ControlSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalEvents::SignalEvents() { BlockControlSignals(); }

SignalEvents::~SignalEvents() {
  notifier_.reset();
  if (fd_ >= 0) ::close(fd_);
}

bool SignalEvents::Watch() {
  if (notifier_) return true;  // a second front end on the same loop
  const sigset_t set = ControlSignals();
  fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  if (fd_ < 0) return false;
  notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Dispatch(); });
  return true;
}

void SignalEvents::Dispatch() {
  signalfd_siginfo info{};
  while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    if (info.ssi_signo == SIGHUP) {
      if (onReload_) onReload_();
    } else if (onStop_) {
      onStop_();
    }
  }
}

}  // namespace pv
