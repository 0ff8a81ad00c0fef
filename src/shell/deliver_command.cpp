#include "shell/deliver_command.h"

#include <iostream>

#include "engine/delivery.h"
#include "engine/spool_engine.h"
#include "engine/spool_file.h"
#include "shell/settings_state.h"
#include "shell/startup.h"
#include "support/paths.h"
#include "support/text.h"
#include "transport/recipients.h"

namespace pv {
namespace {

std::size_t EntryCount(const std::string& entries) {
  if (entries.empty()) return 0;
  std::size_t count = 0;
  for (std::string_view entry : SplitAt(entries, std::string_view("\0", 1))) count += !entry.empty();
  return count;
}

std::size_t ItemCount(const std::string& recipients) {
  std::size_t count = 0;
  for (const RecipientGroup& group : GroupRecipientItems(recipients)) count += group.items.size();
  return count;
}

// Prints each result where a person reads it.
class ConsoleReporter : public ResultReporter {
 public:
  void ReportResult(ResultKind kind, const std::string&, const std::string& recipients,
                    const std::string&, std::int32_t exitCode, const std::string& message,
                    const std::string&) override {
    std::cout << (kind == kResultSuccess ? "Delivered" : "Failed") << " (exit code " << exitCode
              << ", recipients " << recipients << "):\n" << message << "\n";
  }
};

}  // namespace

int DeliveryExitCode(bool delivered, const std::string& recipients,
                     const std::string& servedEntries, const std::string& refusedEntries) {
  if (delivered) return kDeliverDelivered;
  const std::size_t refused = EntryCount(refusedEntries);
  const std::size_t served = EntryCount(servedEntries);
  const std::size_t items = ItemCount(recipients);
  if (refused == 0 || served + refused < items) return kDeliverTemporaryFailure;
  return kDeliverPermanentFailure;
}

int DeliverFile(const std::string& path, const std::string& commandLine) {
  MakeDirectories(RemoveTrailingSeparator(DirectoryPart(Startup().SettingsFile)));
  LoadSettingsRecord();
  std::string text, encoding;
  IoError error;
  if (!ReadSpoolText(path, text, encoding, error)) {
    std::cerr << "postvane: " << error.text << "\n";
    return kDeliverUnreadable;
  }
  SpoolFile file;
  file.Path = path;
  ParseSpoolText(std::move(text), LocalDateTime::Now(), file);
  ConsoleReporter reporter;
  std::string message;
  if (!ValidateSpoolFile(path, file, reporter, message)) return kDeliverInvalidFile;

  const SpoolerSettings settings = SettingsSnapshot();
  MailTransport transport;
  const std::string recipients = RecipientsOf(file);
  std::string protocol, served;
  const bool ok =
      DeliverMailParts(recipients, file.SendHeaders, file.Body(), protocol, served,
                       {transport, settings, reporter, file.From, file.Subject, commandLine,
                        file.IsReturnMail});
  const int code = DeliveryExitCode(ok, recipients, transport.GetServedRecipients(),
                                    transport.GetRefusedRecipients());
  transport.CloseAllSessions();
  std::cout << "\nProtocol:\n" << protocol;
  if (!served.empty()) std::cout << "\nServed: " << served << "\n";
  return code;
}

}  // namespace pv
