#pragma once
// The test mail of the scripting object test: its subject and its text, which tell the machine,
// the spooler's directories and run modes, and name the attached settings file. Pure: the
// window gathers the facts.
#include <QString>

namespace pv {

struct TestMailFacts {
  QString date;     // now, in the locale's general date format
  QString version;  // as VersionText gives it
  QString computerName;
  QString domainName;
  QString workgroupName;
  QString spoolDir;  // without a separator at the end
  QString logDir;    // likewise
  bool remoteMode = false;
  bool debugMode = false;
  bool quietMode = false;
  bool startedAsService = false;
  QString settingsFile;
};

// "Postvane Test eMail".
QString TestMailSubject();

// The lines of the mail, each ended by "\n" except the last (the spool tool writes CR LF):
// the success line and an empty line, Date, Version, Computername, Domain Name, Lan Group Name,
// an empty line, Spool Dir, Log Dir, the four modes as Yes/No, an empty line, and
// "PVX.START: <settings file> (File is attached to this eMail)".
QString TestMailText(const TestMailFacts& facts);

// A dotted version as major, minor with two digits and patch with four: "0.1.0" gives
// "0.01.0000", "2.0.224" gives "2.00.0224"; missing or unreadable parts count as 0.
QString VersionText(const QString& dotted);

}  // namespace pv
