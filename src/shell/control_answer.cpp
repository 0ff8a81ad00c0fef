#include "shell/control_answer.h"

#include "shell/queue_channel.h"
#include "support/paths.h"

namespace pv {
namespace {

// Who may ask a request.
enum class Askers {
  Anyone,
  Owners,     // the spooler's own user and root
  Operators,  // those and the members of the group `postvane`
};

// What may follow the request's name, after one space.
enum class Argument { None, MailName, MailNameOrAll };

struct ControlRequest {
  const char* name;
  Askers askers;
  Argument argument;
  std::string (*answer)(ControlledSpooler& spooler, const std::string& argument);
};

// Whether the argument fits what the request takes.
bool Fits(Argument kind, const std::string& argument) {
  if (kind == Argument::MailNameOrAll && argument == "*") return true;
  return kind != Argument::None && argument != "*" && ValidMailName(argument);
}

const ControlRequest kControlRequests[] = {
    {"SPOOLNOW", Askers::Anyone, Argument::None,
     [](ControlledSpooler& spooler, const std::string&) -> std::string {
       return spooler.SpoolNow() ? "OK" : "PAUSED";
     }},
    {"STATUS", Askers::Anyone, Argument::None,
     [](ControlledSpooler& spooler, const std::string&) {
       return spooler.StatusText() + "; spool directory " +
              DirectoryPart(spooler.Settings().SpoolFilePattern);
     }},
    // Where a client writes a mail for this spooler: "<directory>\t<extension>".
    {"SPOOLDIR", Askers::Anyone, Argument::None,
     [](ControlledSpooler& spooler, const std::string&) {
       const SpoolerSettings settings = spooler.Settings();
       return DirectoryPart(settings.SpoolFilePattern) + "\t" + settings.DefaultExtension;
     }},
    // For programs (the desktop's view of the service): tab-separated key=value pairs.
    {"STATE", Askers::Anyone, Argument::None,
     [](ControlledSpooler& spooler, const std::string&) {
       const SpoolerSettings settings = spooler.Settings();
       const std::string file = spooler.SettingsFile();
       return spooler.StateLine() + "\tdir=" + DirectoryPart(settings.SpoolFilePattern) +
              "\text=" + settings.DefaultExtension + (file.empty() ? "" : "\tsettings=" + file);
     }},
    {"PAUSE", Askers::Operators, Argument::None,
     [](ControlledSpooler& spooler, const std::string&) -> std::string {
       spooler.PauseService();
       return "OK";
     }},
    {"CONTINUE", Askers::Operators, Argument::None,
     [](ControlledSpooler& spooler, const std::string&) -> std::string {
       return spooler.ContService() ? "OK" : "FAILED";
     }},
    {"RELOAD", Askers::Operators, Argument::None,
     [](ControlledSpooler& spooler, const std::string&) -> std::string {
       return spooler.Reload() ? "OK" : "FAILED";
     }},
    // Keeps the connection open for the events (platform/watch_event.h); the control server
    // takes it on from the answer "OK".
    {"WATCH", Askers::Operators, Argument::None,
     [](ControlledSpooler&, const std::string&) -> std::string { return "OK"; }},
    // A second start of the desktop spooler hands its user over to the running one.
    {"SHOWSETTINGS", Askers::Owners, Argument::None,
     [](ControlledSpooler& spooler, const std::string&) -> std::string {
       return spooler.ShowSettings() ? "OK" : "NO DESKTOP";
     }},
    {"QUEUE", Askers::Operators, Argument::None,
     [](ControlledSpooler& spooler, const std::string&) {
       return spooler.QueueAnswer("QUEUE", "");
     }},
    {"DELETE", Askers::Operators, Argument::MailName,
     [](ControlledSpooler& spooler, const std::string& name) {
       return spooler.QueueAnswer("DELETE", name);
     }},
    {"HOLD", Askers::Operators, Argument::MailName,
     [](ControlledSpooler& spooler, const std::string& name) {
       return spooler.QueueAnswer("HOLD", name);
     }},
    {"RELEASE", Askers::Operators, Argument::MailName,
     [](ControlledSpooler& spooler, const std::string& name) {
       return spooler.QueueAnswer("RELEASE", name);
     }},
    {"RETRY", Askers::Operators, Argument::MailNameOrAll,
     [](ControlledSpooler& spooler, const std::string& name) {
       return spooler.QueueAnswer("RETRY", name);
     }},
};

bool MayAsk(Askers askers, uid_t peerUid, uid_t ownUid, const GroupMembership& inServiceGroup) {
  if (askers == Askers::Anyone || peerUid == ownUid || peerUid == 0) return true;
  return askers == Askers::Operators && peerUid != static_cast<uid_t>(-1) &&
         inServiceGroup(peerUid);
}

}  // namespace

std::string ControlAnswer(ControlledSpooler& spooler, const std::string& request, uid_t peerUid,
                          uid_t ownUid, const GroupMembership& inServiceGroup) {
  const std::size_t space = request.find(' ');
  const std::string verb = request.substr(0, space);
  const std::string argument = space == std::string::npos ? "" : request.substr(space + 1);
  for (const ControlRequest& known : kControlRequests) {
    if (verb != known.name) continue;
    if ((known.argument == Argument::None) != (space == std::string::npos)) return "UNKNOWN";
    if (!MayAsk(known.askers, peerUid, ownUid, inServiceGroup)) return "DENIED";
    if (known.argument != Argument::None && !Fits(known.argument, argument))
      return FormatQueueResultsLine({{false, "'" + argument + "' is not the name of a mail"}});
    return known.answer(spooler, argument);
  }
  return "UNKNOWN";
}

}  // namespace pv
