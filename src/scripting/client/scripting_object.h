#pragma once
// The scripting object as a program outside the spooler sees it: the calls a script makes to
// check an address, spool a mail and ask the spooler for a run. The test window drives it; the
// real one runs `postvane-spool` (spool_tool_object.h), tests give a fake.
#include <QString>
#include <functional>
#include <memory>

namespace pv {

class ScriptingObject {
 public:
  virtual ~ScriptingObject() = default;

  // Makes the object ready for the calls below: "" when it is, else why not (the platform's
  // text, as a failed object creation reports it).
  virtual QString Create() = 0;

  // Checks the address as sender and as recipient, its mail exchangers asked of the DNS servers
  // in dnsUrl (comma-separated; "" for the system's). True when the check passed; Protocol()
  // then tells its steps, and why it failed otherwise.
  virtual bool Trace(const QString& dnsUrl, const QString& address) = 0;
  virtual QString Protocol() const = 0;

  // Writes a plain-text mail from address to address with one attached file into the spooler's
  // spool directory, without asking for a run. True on success; LastResultMsg() then holds the
  // full path of the spool file written, else why nothing was written.
  virtual bool Spool(const QString& subject, const QString& address, const QString& text,
                     const QString& attachmentPath) = 0;
  virtual QString LastResultMsg() const = 0;

  // Asks the running spooler(s) for a run now; whether one took it is not told.
  virtual void RunSpooler() = 0;
};

using ScriptingObjectFactory = std::function<std::unique_ptr<ScriptingObject>()>;

}  // namespace pv
