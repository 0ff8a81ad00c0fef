#include "engine/spool_engine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "engine/give_up.h"
#include "engine/spool_directory.h"
#include "engine/working_file.h"
#include "support/paths.h"
#include "support/textfile.h"
#include "transport/mail_composer.h"
#include "transport/recipients.h"

namespace pv {
namespace {

constexpr const char* kSuccessTitle = "Postvane Success";
constexpr std::string_view kRefusedProtocolTitle = "Recipients refused for good:\r\n";

struct Requirement {
  const std::string SpoolFile::*field;
  ValidationExitCode code;
  const char* header;
};

constexpr Requirement kRequirements[] = {
    {&SpoolFile::MimeVersion, kExitNoMimeVersion, "Mime-Version"},
    {&SpoolFile::From, kExitNoFrom, "From"},
    {&SpoolFile::To, kExitNoTo, "To"},
    {&SpoolFile::Subject, kExitNoSubject, "Subject"},
};

// Clears SpoolCycleBusy however the run ends.
class BusyGuard {
 public:
  explicit BusyGuard(std::atomic<bool>& busy) : busy_(busy) {}
  ~BusyGuard() { busy_ = false; }
  BusyGuard(const BusyGuard&) = delete;
  BusyGuard& operator=(const BusyGuard&) = delete;

 private:
  std::atomic<bool>& busy_;
};

// Where a mail goes for the schedule of the lanes: the relay, or the domain of its first
// recipient due.
std::string DestinationOf(const SpoolFile& file, const SpoolerSettings& settings) {
  if (!settings.RelayHostName.empty()) return "relay";
  for (const RecipientGroup& group : GroupRecipientItems(RecipientsOf(file)))
    if (group.ok()) return DomainOfAddress(group.address);
  return "";
}

}  // namespace

LocalDateTime SpoolRunState::NextRun() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return nextRun_;
}

void SpoolRunState::SetNextRun(LocalDateTime when) {
  const std::lock_guard<std::mutex> lock(mutex_);
  nextRun_ = when;
}

LocalDateTime SpoolRunState::LimitNextRun(LocalDateTime latest) {
  const std::lock_guard<std::mutex> lock(mutex_);
  nextRun_ = std::min(nextRun_, latest);
  return nextRun_;
}

bool ValidateSpoolFile(const std::string& path, const SpoolFile& file, ResultReporter& reporter,
                       std::string& message) {
  message.clear();
  for (const Requirement& r : kRequirements) {
    if (!(file.*r.field).empty()) continue;
    message = "Invalid Mime File '" + path + "'. '" + r.header + "' field can not be empty.";
    LastExitCode = r.code;
    reporter.ReportResult(kResultError, file.From, file.To, file.Subject, r.code, message, "");
    return false;
  }
  return true;
}

SpoolerSettings SpoolEngine::Settings() const {
  return env_.settings ? env_.settings() : SpoolerSettings{};
}

bool SpoolEngine::RunSpoolCycle() {
  SpoolRunState& state = env_.state;
  const LocalDateTime start = env_.now();
  // A run asked for while one is busy only leaves NextRun due: the next follows at once.
  state.SetNextRun(start);
  bool idle = false;
  if (!state.SpoolCycleBusy.compare_exchange_strong(idle, true)) return true;
  const BusyGuard busy(state.SpoolCycleBusy);
  if (env_.refreshTray) env_.refreshTray();
  const SpoolerSettings settings = Settings();
  state.SetNextRun(start.AddSeconds(settings.UpDelay));
  const std::int32_t count = ScanSpoolDirectory(settings.SpoolFilePattern);
  if (count != 0 && Settings().ShowSuccessBallons) {
    env_.notifier.ShowBalloon(BalloonIcon::Information, kSuccessTitle,
                              std::to_string(count) + " eMail(s) send out.");
  }
  return true;
}

std::size_t LaneCount(const SpoolerSettings& settings, std::size_t files) {
  std::int32_t lanes = settings.MaxConnections;
  if (!settings.RelayHostName.empty()) lanes = std::min(lanes, settings.MaxConnectionsPerHost);
  return std::max<std::size_t>(1, std::min<std::size_t>(std::max(lanes, 1), files));
}

std::int32_t SpoolEngine::ScanSpoolDirectory(const std::string& pattern) {
  const std::string directory = DirectoryPart(pattern);
  // The names are taken in one pass before the first file is touched, so a file rewritten or
  // spooled under its old name during this run waits for the next one.
  const std::vector<std::string> names = ListSpoolNames(directory, FileNamePart(pattern));
  const SpoolerSettings settings = Settings();
  const std::size_t lanes = LaneCount(settings, names.size());
  // LoadSettings reads both within 1 to 1000, and the pool holds them to 1 at least.
  env_.transport.SetConnectionLimits({static_cast<std::size_t>(settings.MaxConnections),
                                      static_cast<std::size_t>(settings.MaxConnectionsPerHost)});
  std::int32_t count = 0;
  if (lanes == 1) {
    for (const std::string& name : names) {
      if (env_.state.Paused) break;
      if (ProcessGuarded(AddTrailingSeparator(directory) + name, env_.transport)) ++count;
    }
    return count;
  }
  LaneWork work{directory, names, {static_cast<std::size_t>(settings.MaxConnectionsPerHost),
                                   kParkedMailsPerLane * lanes, kParkedBytes}};
  RunLanes(lanes, [&](MailTransport& transport) { RunLane(work, transport); });
  // Parked only because the spooler paused: they were never tried.
  for (const std::unique_ptr<PreparedMail>& mail : work.schedule.TakeParked())
    mail->claim.GiveBack();
  return work.count;
}

// Each lane takes the next name in the directory's order until none is left or the spooler
// pauses (a name is taken by one lane only), and after each mail the oldest one parked for
// the same destination.
void SpoolEngine::RunLane(LaneWork& work, MailTransport& transport) {
  for (std::size_t i = 0; !env_.state.Paused && (i = work.next++) < work.names.size();) {
    std::unique_ptr<PreparedMail> mail =
        PrepareGuarded(AddTrailingSeparator(work.directory) + work.names[i]);
    if (!mail) continue;
    const std::string destination = mail->destination;
    switch (work.schedule.Enter(destination, mail, mail->file.Content.size())) {
      case LaneSchedule<PreparedMail>::Entry::Parked: continue;
      case LaneSchedule<PreparedMail>::Entry::Full: work.schedule.WaitForRoom(destination); break;
      case LaneSchedule<PreparedMail>::Entry::Start: break;
    }
    while (mail) {
      if (DeliverGuarded(*mail, transport)) ++work.count;
      mail = work.schedule.Leave(destination, !env_.state.Paused);
    }
  }
}

// The calling thread is the first lane, with the engine's own transport; the others run on
// threads of their own with transports that share its sessions. A lane that cannot be
// started leaves the work to the others.
void SpoolEngine::RunLanes(std::size_t lanes, const std::function<void(MailTransport&)>& work) {
  const auto guarded = [&](MailTransport& transport) {
    try {
      work(transport);
    } catch (const std::exception& error) {
      ReportUnexpected(error);  // what the lane had in hand stays as far as it got
    }
  };
  std::vector<std::unique_ptr<MailTransport>> transports;
  std::vector<std::thread> threads;
  for (std::size_t lane = 1; lane < lanes; ++lane) {
    try {
      transports.push_back(env_.transport.NewLane());
      threads.emplace_back(guarded, std::ref(*transports.back()));
    } catch (const std::exception&) {
      break;
    }
  }
  guarded(env_.transport);
  for (std::thread& thread : threads) thread.join();
}

// An unexpected error leaves the file as far as it got; the run goes on with the next.
void SpoolEngine::ReportUnexpected(const std::exception& error) {
  reporter_.ReportResult(kResultError, "", "", "", kExitDeliveryError,
                         "Error: '" + std::string(error.what()) + "'. Cmd: " + env_.commandLine,
                         "");
}

bool SpoolEngine::ProcessGuarded(const std::string& path, MailTransport& transport) {
  try {
    return ProcessSpoolFile(path, transport);
  } catch (const std::exception& error) {
    ReportUnexpected(error);
    return false;
  }
}

std::unique_ptr<PreparedMail> SpoolEngine::PrepareGuarded(const std::string& path) {
  try {
    return Prepare(path);
  } catch (const std::exception& error) {
    ReportUnexpected(error);
    return nullptr;
  }
}

bool SpoolEngine::DeliverGuarded(PreparedMail& mail, MailTransport& transport) {
  try {
    return Deliver(mail, transport);
  } catch (const std::exception& error) {
    ReportUnexpected(error);
    return false;
  }
}

bool SpoolEngine::ProcessSpoolFile(const std::string& path, MailTransport& transport) {
  const std::unique_ptr<PreparedMail> mail = Prepare(path);
  return mail != nullptr && Deliver(*mail, transport);
}

bool SpoolEngine::Deliver(PreparedMail& mail, MailTransport& transport) {
  return DeliverDueFile(mail.file, mail.claim, mail.settings, mail.encoding, transport);
}

std::unique_ptr<PreparedMail> SpoolEngine::Prepare(const std::string& path) {
  const std::string workingPath = ChangeExtension(path, kWorkingExtension);
  std::optional<WorkingFile> claim = WorkingFile::Claim(path, workingPath);
  if (!claim) {
    // Left unreadable by its writer (another user's 0600 file): no later run could read it
    // either, so it is set aside where people see it instead of waiting unseen for ever.
    if (::access(path.c_str(), R_OK) != 0 && errno == EACCES) SetAsideUnreadable(path);
    return nullptr;  // the writer holds it, its working name is taken, or it has gone
  }
  auto mail = std::make_unique<PreparedMail>(PreparedMail{{}, std::move(*claim), {}, {}, {}});
  mail->file.Path = path;
  mail->file.WorkingPath = workingPath;
  if (!ReadClaimedFile(*mail)) return nullptr;
  mail->destination = DestinationOf(mail->file, mail->settings);
  return mail;
}

void SpoolEngine::SetAsideUnreadable(const std::string& path) {
  const std::string reason = std::strerror(EACCES);
  const std::string aside = RenameToFreeName(path, path + ".error");
  LastExitCode = kExitCannotRead;
  reporter_.ReportResult(
      kResultError, "", "", "", kExitCannotRead,
      "The spool file '" + path + "' cannot be read by the spooler (" + reason + ")" +
          (aside.empty() ? "." : "; set aside as '" + aside + "'.") + " Cmd: " + env_.commandLine,
      "");
}

bool SpoolEngine::ReadClaimedFile(PreparedMail& mail) {
  SpoolFile& file = mail.file;
  std::string text;
  std::string& encoding = mail.encoding;
  IoError error;
  // Unreadable, empty, or no header block: the file stays under its working name.
  if (!ReadSpoolText(file.WorkingPath, text, encoding, error) || text.empty() ||
      HeaderBlockOf(text).empty()) {
    return false;
  }
  const LocalDateTime now = env_.now();
  ParseSpoolText(std::move(text), now, file);
  const SpoolerSettings& settings = mail.settings = Settings();
  std::string message;
  if (!ValidateSpoolFile(file.Path, file, reporter_, message)) {
    HandleInvalidFile(file, message, GiveUpContext{reporter_, settings, now, encoding});
    return false;
  }
  // A failed return mail set aside by hand among the spool files is never due.
  if (file.IsErrorMime || now < file.SendAfter) {
    mail.claim.GiveBack();
    return false;
  }
  // Dated when read; a rescheduled file keeps both, so every attempt shows the same.
  AddMissingDateAndMessageId(file, FormatMailDate(now, LocalUtcOffsetMinutes(now)),
                             NewMessageId(file.From, settings.SenderHostName));
  return true;
}

bool SpoolEngine::DeliverDueFile(SpoolFile& file, const WorkingFile& claim,
                                 const SpoolerSettings& settings, const std::string& encoding,
                                 MailTransport& transport) {
  RecipientLedger ledger = RecipientLedger::FromHeaders(file.SuccessAddresses,
                                                        file.RefusedAddresses);
  file.To = JoinDue(ledger.Due(RecipientListsOf(file)));
  if (file.To.empty() && (ledger.AnyServed() || ledger.AnyRefused()))
    return FinishWithoutAttempt(file, ledger, settings, encoding);
  const DeliveryContext context{transport,    settings,         reporter_,
                                file.From,    file.Subject,     env_.commandLine,
                                file.IsReturnMail};
  std::string protocol, served, refused;
  // The transport reads the send headers and the body where they are: no copy of the mail.
  const bool delivered =
      env_.deliver ? env_.deliver(file.To, MailTextOf(file), protocol, served, refused, context)
                   : DeliverMailParts(file.To, file.SendHeaders, file.Body(), protocol, served,
                                      context, &refused);
  if (delivered && !ledger.AnyRefused()) {
    DeleteFileIfExists(file.WorkingPath);
    return true;
  }
  // No server was asked: the file waits for the next run as it was, the attempt not counted.
  if (!delivered && transport.Untried()) {
    claim.GiveBack();
    return false;
  }
  // Served now, but refused for good before: the sender learns of those by a return mail.
  ledger.AddServed(served);
  ledger.AddRefused(refused);
  file.SuccessAddresses = ledger.ServedHeaderValue();
  file.RefusedAddresses = ledger.RefusedHeaderValue();
  // Nobody left but recipients refused for good: asking again cannot help.
  const bool nothingLeft = ledger.AnyRefused() && ledger.Due(RecipientListsOf(file)).empty();
  if (ledger.AnyRefused())
    protocol += "\r\n" + std::string(kRefusedProtocolTitle) + ledger.RefusedProtocol();
  HandleDeliveryFailure(file, protocol, nothingLeft,
                        GiveUpContext{reporter_, settings, env_.now(), encoding});
  return delivered;
}

// Every recipient was served or refused in earlier attempts (the process ended before the
// file was finished, or it was edited): a served mail is done, a refused one goes back.
bool SpoolEngine::FinishWithoutAttempt(SpoolFile& file, const RecipientLedger& ledger,
                                       const SpoolerSettings& settings,
                                       const std::string& encoding) {
  if (!ledger.AnyRefused()) {
    const std::string served = ledger.ServedHeaderValue();
    LastExitCode = kExitDelivered;
    reporter_.ReportResult(kResultSuccess, file.From, served, file.Subject, kExitDelivered,
                               "eMail to '" + served + "' successfully sent.", "");
    DeleteFileIfExists(file.WorkingPath);
    return true;
  }
  file.SuccessAddresses = ledger.ServedHeaderValue();
  file.RefusedAddresses = ledger.RefusedHeaderValue();
  const std::string protocol = std::string(kRefusedProtocolTitle) + ledger.RefusedProtocol();
  LastExitCode = kExitTransportFailed;
  reporter_.ReportResult(kResultError, file.From, file.To, file.Subject, kExitTransportFailed,
                             "No recipient is left to try.", protocol);
  HandleDeliveryFailure(file, protocol, true,
                        GiveUpContext{reporter_, settings, env_.now(), encoding});
  return false;
}

std::vector<std::string> SpoolEngine::RecoverWorkingFiles(const std::string& pattern) {
  return RecoverWorkingFilesIn(pattern);
}

}  // namespace pv
