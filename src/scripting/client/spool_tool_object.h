#pragma once
// The real scripting object: each call runs the command `postvane-spool` as a process of its
// own, so that the test of the scripting object checks what scripts really call (the tool finds
// its spool directory by itself, asking the running spooler first).
//
//   Trace       postvane-spool trace [--dns LIST] ADDRESS ADDRESS     (exit 0: passed; stdout)
//   Spool       postvane-spool mail --subject S --from A --to A --attach FILE --no-run < text
//               (exit 0: stdout names the spool file; else stderr says why)
//   RunSpooler  postvane-spool run
//
// Each run waits at most its limit, with the event loop running meanwhile (a spooler of this
// very process must answer the tool's questions on its control socket); a tool that does not
// end in time is killed, and that is the call's failure.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <chrono>

#include "scripting/client/scripting_object.h"

namespace pv {

// The tool's file: "postvane-spool" beside programPath (the running program), else the first
// on PATH; "" when neither exists as an executable file.
QString FindSpoolTool(const QString& programPath);

// What one run of a program gave.
struct ToolRun {
  bool finished = false;  // it ended by itself, within the limit
  int exitCode = -1;      // when finished
  QByteArray out, err;
  QString failure;        // when not finished: why (not started, killed after the limit, crashed)
};

// Runs program with args, input on its standard input, for at most limit.
ToolRun RunTool(const QString& program, const QStringList& args, const QByteArray& input,
                std::chrono::milliseconds limit);

// The tool's own messages in its standard error: its lines "postvane-spool: text" as "text"
// (a usage summary after them is left out); without such lines the whole output, trimmed.
QString ToolMessage(const QByteArray& err);

// How long each call waits for the tool.
struct SpoolToolLimits {
  std::chrono::milliseconds trace{std::chrono::seconds(30)};
  std::chrono::milliseconds mail{std::chrono::seconds(10)};
  std::chrono::milliseconds run{std::chrono::seconds(10)};
};

class SpoolToolObject : public ScriptingObject {
 public:
  explicit SpoolToolObject(QString programPath, SpoolToolLimits limits = SpoolToolLimits());

  QString Create() override;
  bool Trace(const QString& dnsUrl, const QString& address) override;
  QString Protocol() const override { return protocol_; }
  bool Spool(const QString& subject, const QString& address, const QString& text,
             const QString& attachmentPath) override;
  QString LastResultMsg() const override { return lastResult_; }
  void RunSpooler() override;

  // The tool found by Create; "" before.
  const QString& tool() const { return tool_; }

 private:
  QString programPath_;
  SpoolToolLimits limits_;
  QString tool_;
  QString protocol_;
  QString lastResult_;
};

// Makes SpoolToolObjects for the program at programPath.
ScriptingObjectFactory SpoolToolObjectFactory(const QString& programPath);

}  // namespace pv
