#pragma once
// The spool run: walks the spool directory, claims each due file by renaming it to its working
// name, delivers it, and reschedules, returns or sets aside what failed. The spool directory
// is the only queue. Several files may be in hand at once, each on a lane of its own with its
// own transport (Spooler/MaxConnections); every file is still handled whole by one lane.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/delivery.h"
#include "engine/lane_schedule.h"
#include "reporting_api/notifier.h"
#include "engine/recipient_ledger.h"
#include "reporting_api/result_reporter.h"
#include "reporting_api/serial_reporter.h"
#include "engine/spool_file.h"
#include "engine/working_file.h"
#include "settings/spooler_settings.h"
#include "support/date_time.h"
#include "support/exit_codes.h"
#include "transport/mail_transport.h"

namespace pv {

// Delivers one mail; DeliverMail's shape. Tests put their own in place of it.
using DeliverFunction = std::function<bool(
    const std::string& recipients, const std::string& mailText, std::string& protocol,
    std::string& served, std::string& refused, const DeliveryContext& context)>;

// The spool run state shared by the run (worker thread) and the controller (main thread).
class SpoolRunState {
 public:
  LocalDateTime NextRun() const;
  void SetNextRun(LocalDateTime when);
  // Moves the next run back to `latest` when it lies beyond; gives the next run as it then is.
  LocalDateTime LimitNextRun(LocalDateTime latest);
  std::atomic<bool> SpoolCycleBusy{false};
  // The pause flag: a run ends after the files in hand once it is set.
  std::atomic<bool> Paused{false};

 private:
  mutable std::mutex mutex_;
  LocalDateTime nextRun_;
};

struct SpoolEnvironment {
  SpoolRunState& state;
  MailTransport& transport;
  ResultReporter& reporter;
  Notifier& notifier;
  // A snapshot of the settings as they stand; taken for every file, from any lane.
  std::function<SpoolerSettings()> settings;
  // Asks the tray status to refresh (the run has started); may be empty.
  std::function<void()> refreshTray;
  // The program's arguments, for reports of unexpected errors.
  std::string commandLine;
  // The clock; tests replace it.
  std::function<LocalDateTime()> now = [] { return LocalDateTime::Now(); };
  // The delivery attempt; empty means DeliverMail through `transport`.
  DeliverFunction deliver = nullptr;
};

// Checks Mime-Version, From, To and Subject in that order. For the first empty one: reports it
// (the message names the spool path), gives its message back and returns false.
bool ValidateSpoolFile(const std::string& path, const SpoolFile& file, ResultReporter& reporter,
                       std::string& message);

// A claimed spool file, read and due, on its way to delivery.
struct PreparedMail {
  SpoolFile file;
  WorkingFile claim;
  std::string encoding;
  SpoolerSettings settings;
  std::string destination;  // the relay, or the domain of the first recipient
};

class SpoolEngine {
 public:
  explicit SpoolEngine(SpoolEnvironment environment) : env_(std::move(environment)) {}

  // One complete spool run. Always true.
  bool RunSpoolCycle();
  // Processes every file that matches the pattern, started in the order of the directory, on
  // as many lanes as LaneCount gives; the number delivered.
  std::int32_t ScanSpoolDirectory(const std::string& pattern);
  // Handles one spool file completely; true when its mail was delivered in this call. A mail
  // that failed and was rescheduled gives false: the summary balloon counts mails that went
  // out, and a rescheduled one has not. A mail whose every host is resting in this run waits
  // untried under its spool name.
  bool ProcessSpoolFile(const std::string& path) { return ProcessSpoolFile(path, env_.transport); }
  bool ProcessSpoolFile(const std::string& path, MailTransport& transport);
  void SetAsideUnreadable(const std::string& path);

  // At start: gives every working file that no process holds locked, and whose spool name is
  // free, its spool name back. Returns the spool paths given back.
  std::vector<std::string> RecoverWorkingFiles(const std::string& pattern);

 private:
  // The lanes' share of a run.
  struct LaneWork {
    const std::string& directory;
    const std::vector<std::string>& names;
    LaneSchedule<PreparedMail> schedule;
    std::atomic<std::size_t> next{0};
    std::atomic<std::int32_t> count{0};
  };
  // Mails parked in a run at most: this many per lane, and this many bytes in all.
  static constexpr std::size_t kParkedMailsPerLane = 4;
  static constexpr std::size_t kParkedBytes = std::size_t{64} << 20;

  SpoolerSettings Settings() const;
  void RunLanes(std::size_t lanes, const std::function<void(MailTransport&)>& work);
  void RunLane(LaneWork& work, MailTransport& transport);
  void ReportUnexpected(const std::exception& error);
  bool ProcessGuarded(const std::string& path, MailTransport& transport);
  std::unique_ptr<PreparedMail> PrepareGuarded(const std::string& path);
  bool DeliverGuarded(PreparedMail& mail, MailTransport& transport);
  // Claims, reads and checks one file: the mail when it is due, else null (the file was left,
  // given back or set aside). Deliver makes the attempt and deals with its outcome.
  std::unique_ptr<PreparedMail> Prepare(const std::string& path);
  bool Deliver(PreparedMail& mail, MailTransport& transport);
  bool ReadClaimedFile(PreparedMail& mail);
  bool DeliverDueFile(SpoolFile& file, const WorkingFile& claim, const SpoolerSettings& settings,
                      const std::string& encoding, MailTransport& transport);
  bool FinishWithoutAttempt(SpoolFile& file, const RecipientLedger& ledger,
                            const SpoolerSettings& settings, const std::string& encoding);

  SpoolEnvironment env_;
  SerialReporter reporter_{env_.reporter};
};

// How many files a run has in hand at once: MaxConnections, through a relay no more than
// MaxConnectionsPerHost (all go to one host), never more than there are files; at least 1.
std::size_t LaneCount(const SpoolerSettings& settings, std::size_t files);

}  // namespace pv
