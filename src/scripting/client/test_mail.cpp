#include "scripting/client/test_mail.h"

#include <QObject>
#include <QStringList>

namespace pv {
namespace {

QString YesNo(bool value) { return value ? QObject::tr("Yes") : QObject::tr("No"); }

int Part(const QStringList& parts, int index) {
  return index < parts.size() ? parts[index].trimmed().toInt() : 0;
}

}  // namespace

QString TestMailSubject() { return QObject::tr("Postvane") + QObject::tr(" Test eMail"); }

QString TestMailText(const TestMailFacts& f) {
  const QString title = QObject::tr("Postvane");
  const QStringList lines = {
      title + QObject::tr(" COM Object and Spooler successfully tested."),
      QString(),
      QObject::tr("Date: ") + f.date,
      QObject::tr("Version: ") + f.version,
      QObject::tr("Computername: ") + f.computerName,
      QObject::tr("Domain Name: ") + f.domainName,
      QObject::tr("Lan Group Name: ") + f.workgroupName,
      QString(),
      QObject::tr("Spool Dir: ") + f.spoolDir,
      QObject::tr("Log Dir: ") + f.logDir,
      QObject::tr("Remote Mode: ") + YesNo(f.remoteMode),
      QObject::tr("Debug Mode: ") + YesNo(f.debugMode),
      QObject::tr("Quiet Mode: ") + YesNo(f.quietMode),
      QObject::tr("Started as Service: ") + YesNo(f.startedAsService),
      QString(),
      QObject::tr("PVX.START: ") + f.settingsFile + QObject::tr(" (File is attached to this eMail)"),
  };
  return lines.join('\n');
}

QString VersionText(const QString& dotted) {
  const QStringList parts = dotted.split('.');
  return QStringLiteral("%1.%2.%3")
      .arg(Part(parts, 0))
      .arg(Part(parts, 1), 2, 10, QLatin1Char('0'))
      .arg(Part(parts, 2), 4, 10, QLatin1Char('0'));
}

}  // namespace pv
