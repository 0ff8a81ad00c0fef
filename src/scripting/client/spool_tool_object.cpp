#include "scripting/client/spool_tool_object.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <cerrno>
#include <cstring>

namespace pv {
namespace {

constexpr const char* kToolName = "postvane-spool";
constexpr const char* kToolPrefix = "postvane-spool: ";
// How long a killed tool may take to be gone.
constexpr int kReapMs = 2000;

bool IsExecutableFile(const QString& path) {
  const QFileInfo info(path);
  return info.isFile() && info.isExecutable();
}

// The limit in whole seconds, rounded up.
QString WholeSeconds(std::chrono::milliseconds limit) {
  return QString::number((limit.count() + 999) / 1000);
}

// The text of a run that did not succeed: the tool's messages, else why it did not finish,
// else its exit code.
QString FailureText(const ToolRun& run) {
  const QString message = ToolMessage(run.err);
  if (!run.finished) return message.isEmpty() ? run.failure : message + '\n' + run.failure;
  if (!message.isEmpty()) return message;
  return QStringLiteral("%1 ended with exit code %2").arg(QLatin1String(kToolName)).arg(run.exitCode);
}

}  // namespace

QString FindSpoolTool(const QString& programPath) {
  if (!programPath.isEmpty()) {
    const QString beside = QFileInfo(programPath).absolutePath() + '/' + QLatin1String(kToolName);
    if (IsExecutableFile(beside)) return beside;
  }
  return QStandardPaths::findExecutable(QLatin1String(kToolName));
}

ToolRun RunTool(const QString& program, const QStringList& args, const QByteArray& input,
                std::chrono::milliseconds limit) {
  ToolRun run;
  QProcess process;
  QEventLoop loop;
  QTimer timer;
  timer.setSingleShot(true);
  bool ended = false;
  QObject::connect(&process, &QProcess::finished, &loop, [&] {
    ended = true;
    loop.quit();
  });
  QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  process.start(program, args);
  if (!process.waitForStarted(static_cast<int>(limit.count()))) {
    run.failure = process.errorString();
    return run;
  }
  timer.start(limit);
  process.write(input);
  process.closeWriteChannel();
  // The loop also ends when the application quits; the tool is then stopped like a late one.
  if (!ended) loop.exec();
  if (!ended) {
    process.kill();
    process.waitForFinished(kReapMs);
    run.failure = QStringLiteral("%1 did not finish within %2 seconds and was stopped.")
                      .arg(QLatin1String(kToolName), WholeSeconds(limit));
  } else if (process.exitStatus() == QProcess::CrashExit) {
    run.failure = process.errorString();
  } else {
    run.finished = true;
    run.exitCode = process.exitCode();
  }
  run.out = process.readAllStandardOutput();
  run.err = process.readAllStandardError();
  return run;
}

QString ToolMessage(const QByteArray& err) {
  const QString text = QString::fromUtf8(err);
  QStringList messages;
  for (const QString& line : text.split('\n')) {
    if (line.startsWith(QLatin1String(kToolPrefix)))
      messages.append(line.mid(static_cast<qsizetype>(std::strlen(kToolPrefix))).trimmed());
  }
  if (messages.isEmpty()) return text.trimmed();
  return messages.join('\n');
}

SpoolToolObject::SpoolToolObject(QString programPath, SpoolToolLimits limits)
    : programPath_(std::move(programPath)), limits_(limits) {}

QString SpoolToolObject::Create() {
  tool_ = FindSpoolTool(programPath_);
  if (tool_.isEmpty()) return QString::fromLocal8Bit(std::strerror(ENOENT));
  return {};
}

bool SpoolToolObject::Trace(const QString& dnsUrl, const QString& address) {
  QStringList args{QStringLiteral("trace")};
  if (!dnsUrl.isEmpty()) args << QStringLiteral("--dns") << dnsUrl;
  args << address << address;
  const ToolRun run = RunTool(tool_, args, {}, limits_.trace);
  protocol_ = QString::fromUtf8(run.out).trimmed();
  const bool passed = run.finished && run.exitCode == 0;
  if (!passed) {
    // A protocol tells the failure by itself; the tool's messages or its end are added to it.
    QString more = run.finished ? ToolMessage(run.err) : FailureText(run);
    if (protocol_.isEmpty() && more.isEmpty()) more = FailureText(run);
    if (!more.isEmpty()) protocol_ = protocol_.isEmpty() ? more : protocol_ + '\n' + more;
  }
  return passed;
}

bool SpoolToolObject::Spool(const QString& subject, const QString& address, const QString& text,
                            const QString& attachmentPath) {
  QStringList args{QStringLiteral("mail"),   QStringLiteral("--subject"), subject,
                   QStringLiteral("--from"), address,                     QStringLiteral("--to"),
                   address};
  if (!attachmentPath.isEmpty()) args << QStringLiteral("--attach") << attachmentPath;
  args << QStringLiteral("--no-run");
  const ToolRun run = RunTool(tool_, args, text.toUtf8(), limits_.mail);
  const QString written = QString::fromUtf8(run.out).section('\n', 0, 0).trimmed();
  if (run.finished && run.exitCode == 0 && !written.isEmpty()) {
    lastResult_ = written;
    return true;
  }
  lastResult_ = FailureText(run);
  return false;
}

void SpoolToolObject::RunSpooler() { RunTool(tool_, {QStringLiteral("run")}, {}, limits_.run); }

ScriptingObjectFactory SpoolToolObjectFactory(const QString& programPath) {
  return [programPath] { return std::make_unique<SpoolToolObject>(programPath); };
}

}  // namespace pv
