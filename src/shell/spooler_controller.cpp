#include "shell/spooler_controller.h"

#include <QCoreApplication>
#include <sys/eventfd.h>
#include <unistd.h>
#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "support/paths.h"

namespace pv {
namespace {

constexpr int kTickMs = 1000;
constexpr int kSoonSeconds = 3;

}  // namespace

long LocalUtcOffset() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  return ::localtime_r(&now, &local) ? local.tm_gmtoff : 0;
}

LocalDateTime LatestNextRun(LocalDateTime now, std::int32_t upDelay) {
  return now.AddSeconds(std::max<std::int64_t>(upDelay, 0) + kSoonSeconds);
}

SpoolerController::SpoolerController(ControllerParts parts)
    : parts_(std::move(parts)), utcOffset_(parts_.utcOffset()) {
  timer_.setInterval(kTickMs);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
  runFinishedFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (runFinishedFd_ < 0) std::abort();  // out of descriptors before the spooler starts
  runFinished_ = std::make_unique<QSocketNotifier>(runFinishedFd_, QSocketNotifier::Read);
  QObject::connect(runFinished_.get(), &QSocketNotifier::activated, [this] {
    std::uint64_t count = 0;
    if (::read(runFinishedFd_, &count, sizeof count) == sizeof count) FinishRun();
  });
}

SpoolerController::~SpoolerController() {
  parts_.state.Paused = true;
  if (worker_.joinable()) worker_.join();
  runFinished_.reset();
  ::close(runFinishedFd_);
}

bool SpoolerController::IsOnline() const {
  return !parts_.settings().OnlyIfOnline || parts_.networkAlive();
}

SpoolerState SpoolerController::CurrentState() const {
  if (!IsOnline()) return SpoolerState::Offline;
  if (parts_.state.SpoolCycleBusy || workerBusy_) return SpoolerState::Spooling;
  if (parts_.state.Paused) return SpoolerState::Paused;
  return SpoolerState::Waiting;
}

std::string SpoolerController::StatusText() const {
  switch (CurrentState()) {
    case SpoolerState::Offline: return "Not connected to the internet";
    case SpoolerState::Spooling: return "Spooling eMail";
    case SpoolerState::Paused: return "Paused";
    case SpoolerState::Waiting: break;
  }
  return "Next Run at " + NextRunText();
}

std::string SpoolerController::NextRunText() const {
  return FormatGeneralDate(
      std::min(parts_.state.NextRun(), LatestNextRun(parts_.now(), parts_.settings().UpDelay)));
}

std::string SpoolerController::StateLine() const {
  static constexpr const char* kNames[] = {"offline", "spooling", "paused", "waiting"};
  bool error = false;
  const LocalDateTime next =
      std::min(parts_.state.NextRun(), LatestNextRun(parts_.now(), parts_.settings().UpDelay));
  return std::string("state=") + kNames[static_cast<int>(CurrentState())] +
         "\tnext=" + FormatIsoDateTime(next, error);
}

void SpoolerController::UpdateTrayStatus() {
  if (parts_.showState) parts_.showState(CurrentState(), StatusText());
}

bool SpoolerController::StartService() {
  utcOffset_ = parts_.utcOffset();
  parts_.state.SetNextRun(parts_.now().AddSeconds(kSoonSeconds));
  parts_.state.Paused = false;
  UpdateTrayStatus();
  timer_.start();
  return true;
}

bool SpoolerController::PauseService() {
  parts_.state.Paused = true;
  UpdateTrayStatus();
  timer_.stop();
  return true;
}

bool SpoolerController::LoadSettingsOrReport() {
  if (parts_.loadSettings()) return true;
  parts_.reporter.ReportResult(kResultError, "<SYSTEM>", "<SYSTEM>", "<SYSTEM>", 0,
                               "Error while loading settings", "");
  return false;
}

bool SpoolerController::ContService() {
  if (!LoadSettingsOrReport()) return false;
  parts_.state.Paused = false;
  utcOffset_ = parts_.utcOffset();
  parts_.state.SetNextRun(parts_.now().AddSeconds(kSoonSeconds));
  UpdateTrayStatus();
  timer_.start();
  return true;
}

bool SpoolerController::Reload() {
  if (!LoadSettingsOrReport()) return false;
  // Like a continue, a running spooler runs soon with what it read; a paused one stays paused.
  if (!parts_.state.Paused) parts_.state.SetNextRun(parts_.now().AddSeconds(kSoonSeconds));
  UpdateTrayStatus();
  return true;
}

bool SpoolerController::EndService() {
  parts_.state.Paused = true;
  timer_.stop();
  UpdateTrayStatus();
  // The run in hand finishes its file, then closes its sessions.
  if (worker_.joinable()) worker_.join();
  workerBusy_ = false;
  parts_.state.SpoolCycleBusy = false;
  if (onEnded_) onEnded_();
  return false;
}

bool SpoolerController::SpoolNow() {
  if (parts_.state.Paused) return false;
  parts_.state.SetNextRun(parts_.now());
  // The tick that would start the run anyway, without waiting up to a second for it.
  Tick();
  return true;
}

void SpoolerController::SpoolSoon() {
  parts_.state.SetNextRun(parts_.now().AddSeconds(kSoonSeconds));
}

void SpoolerController::Tick() {
  const long offset = parts_.utcOffset();
  if (offset != utcOffset_) {
    utcOffset_ = offset;
    TimeChange();
  }
  const LocalDateTime now = parts_.now();
  // A clock set back leaves the next run far ahead: it is held to the latest one due.
  const LocalDateTime nextRun =
      parts_.state.LimitNextRun(LatestNextRun(now, parts_.settings().UpDelay));
  if (now < nextRun) return;
  if (!IsOnline()) {
    parts_.state.SetNextRun(parts_.state.NextRun().AddSeconds(kSoonSeconds));
    UpdateTrayStatus();
    return;
  }
  if (workerBusy_) {
    // A run outlasted its interval: the next one follows as soon as it ends.
    parts_.state.SetNextRun(now);
    return;
  }
  StartRun();
}

void SpoolerController::StartRun() {
  if (worker_.joinable()) worker_.join();
  workerBusy_ = true;
  UpdateTrayStatus();
  worker_ = std::thread([this] {
    if (parts_.onRun) parts_.onRun("begins");
    parts_.engine.RunSpoolCycle();
    // The run has ended: its open sessions say QUIT.
    parts_.transport.CloseAllSessions();
    if (parts_.onRun) parts_.onRun("ends");
    const std::uint64_t one = 1;
    // A full counter cannot happen: one write per run, read before the next run starts.
    (void)!::write(runFinishedFd_, &one, sizeof one);
  });
}

void SpoolerController::FinishRun() {
  if (worker_.joinable()) worker_.join();
  workerBusy_ = false;
  UpdateTrayStatus();
}

}  // namespace pv
