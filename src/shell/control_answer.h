#pragma once
// The answers of the control channel: one request line in, one answer line out. SPOOLNOW,
// STATUS, STATE and SPOOLDIR are for anyone who reaches the socket; SHOWSETTINGS only for the
// spooler's own user and root; PAUSE, CONTINUE, RELOAD, WATCH and the queue requests (QUEUE, DELETE,
// HOLD, RELEASE, RETRY) also for the members of the group `postvane`, who run the service
// without being root and may not read its spool directory themselves.
#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>

#include "settings/spooler_settings.h"

namespace pv {

// The running spooler as the control channel sees it.
class ControlledSpooler {
 public:
  virtual ~ControlledSpooler() = default;
  // An immediate run; false while paused (then it has no effect).
  virtual bool SpoolNow() = 0;
  virtual bool PauseService() = 0;
  // False when the settings could not be reloaded (the spooler stays paused).
  virtual bool ContService() = 0;
  // Reads the settings again, running or paused as before; false when they did not load.
  virtual bool Reload() = 0;
  // The state and the next run, as a person reads it.
  virtual std::string StatusText() const = 0;
  // The state and the next run for programs (SpoolerController::StateLine).
  virtual std::string StateLine() const = 0;
  virtual SpoolerSettings Settings() const = 0;
  // The settings file it reads; "" where it does not say.
  virtual std::string SettingsFile() const { return {}; }
  // A queue request run on the spooler's spool directory (shell/queue_channel.h): verb
  // "QUEUE" with name "", or an operation on a mail name checked by ValidMailName ("*" with
  // "RETRY": every mail of the spool pattern).
  virtual std::string QueueAnswer(std::string_view verb, const std::string& name) = 0;
  // Shows (or raises) the settings window at the spooler's desktop; false where it has none.
  virtual bool ShowSettings() { return false; }
};

// Whether a user id belongs to the group `postvane`.
using GroupMembership = std::function<bool(uid_t uid)>;

// The answer to `request` from a peer with the user id `peerUid`, for a spooler running as
// `ownUid`: "OK", "PAUSED", "FAILED", "DENIED", "NO DESKTOP", the status line, the state line
// with "\tdir=<spool directory>\text=<extension>" after it, "<spool directory>\t<extension>",
// a queue answer or "UNKNOWN".
std::string ControlAnswer(ControlledSpooler& spooler, const std::string& request, uid_t peerUid,
                          uid_t ownUid, const GroupMembership& inServiceGroup);

}  // namespace pv
