#include "shell/control_answer.h"

#include "support/paths.h"

namespace pv {
namespace {

struct ControlRequest {
  const char* name;
  // Only the spooler's own user and root may ask it.
  bool ownersOnly;
  std::string (*answer)(ControlledSpooler& spooler);
};

const ControlRequest kControlRequests[] = {
    {"SPOOLNOW", false,
     [](ControlledSpooler& spooler) -> std::string { return spooler.SpoolNow() ? "OK" : "PAUSED"; }},
    {"STATUS", false,
     [](ControlledSpooler& spooler) {
       return spooler.StatusText() + "; spool directory " +
              DirectoryPart(spooler.Settings().SpoolFilePattern);
     }},
    // Where a client writes a mail for this spooler: "<directory>\t<extension>".
    {"SPOOLDIR", false,
     [](ControlledSpooler& spooler) {
       const SpoolerSettings settings = spooler.Settings();
       return DirectoryPart(settings.SpoolFilePattern) + "\t" + settings.DefaultExtension;
     }},
    {"PAUSE", true,
     [](ControlledSpooler& spooler) -> std::string {
       spooler.PauseService();
       return "OK";
     }},
    {"CONTINUE", true,
     [](ControlledSpooler& spooler) -> std::string {
       return spooler.ContService() ? "OK" : "FAILED";
     }},
};

}  // namespace

std::string ControlAnswer(ControlledSpooler& spooler, const std::string& request, uid_t peerUid,
                          uid_t ownUid) {
  for (const ControlRequest& known : kControlRequests) {
    if (request != known.name) continue;
    if (known.ownersOnly && peerUid != ownUid && peerUid != 0) return "DENIED";
    return known.answer(spooler);
  }
  return "UNKNOWN";
}

}  // namespace pv
