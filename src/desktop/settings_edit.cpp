#include "desktop/settings_edit.h"

#include <QObject>
#include <QLockFile>

#include "settings/ini_store.h"
#include "support/durable_write.h"
#include "support/paths.h"

namespace pv {
namespace {

QString LockHolder(const QLockFile& lock) {
  qint64 pid = 0;
  QString host, application;
  if (!lock.getLockInfo(&pid, &host, &application)) return {};
  return QObject::tr("process %1 on %2").arg(pid).arg(host);
}

// Why an existing settings file cannot be read; "" when it is missing or readable.
QString UnreadableReason(const std::string& file) {
  std::string bytes;
  const IoError error = ReadWholeFile(file, bytes);
  if (!error || error.number == kErrFileNotFound || error.number == kErrPathNotFound) return {};
  return QString::fromStdString(error.text);
}

SettingsEdit::OpenResult Failed(SettingsEdit::OpenFailure failure, QString detail) {
  SettingsEdit::OpenResult result;
  result.failure = failure;
  result.detail = std::move(detail);
  return result;
}

}  // namespace

SettingsEdit::SettingsEdit(std::string settingsFile, std::string workingCopy,
                           std::unique_ptr<QLockFile> lock)
    : settingsFile_(std::move(settingsFile)), workingCopy_(std::move(workingCopy)),
      lock_(std::move(lock)) {}

SettingsEdit::~SettingsEdit() = default;

SettingsEdit::OpenResult SettingsEdit::Open(const std::string& settingsFile,
                                            const std::string& workingCopy) {
  auto lock = std::make_unique<QLockFile>(QString::fromStdString(workingCopy + ".lock"));
  // A live holder never goes stale by age; a dead one is found by its pid.
  lock->setStaleLockTime(0);
  if (!lock->tryLock(0)) {
    if (lock->error() == QLockFile::LockFailedError)
      return Failed(OpenFailure::Locked, LockHolder(*lock));
    return Failed(OpenFailure::NoLock,
                  lock->error() == QLockFile::PermissionError
                      ? QObject::tr("no permission to write %1").arg(lock->fileName())
                      : QObject::tr("cannot make %1").arg(lock->fileName()));
  }
  const QString unreadable = UnreadableReason(settingsFile);
  if (!unreadable.isEmpty()) return Failed(OpenFailure::Unreadable, unreadable);
  if (FileExists(settingsFile)) {
    if (!CopySettingsFile(settingsFile, workingCopy))
      return Failed(OpenFailure::NoWorkingCopy, QString::fromStdString(workingCopy));
  } else {
    // No settings yet: the windows start from their defaults, not from a copy left over.
    ClearSettingsFile(workingCopy);
  }
  OpenResult result;
  result.edit.reset(new SettingsEdit(settingsFile, workingCopy, std::move(lock)));
  return result;
}

bool SettingsEdit::Save() { return CopySettingsFile(workingCopy_, settingsFile_); }

void SettingsEdit::RemoveWorkingCopy() { ClearSettingsFile(workingCopy_); }

}  // namespace pv
