#pragma once
// An edit of a settings file in the settings windows: the working copy they write into, the
// lock that keeps every other window (in this process or another) off the same working copy
// while the edit is open, and the flag SettingsChanged.
//
// Opening copies the settings file to the working copy. A settings file that does not exist
// is no error (the windows show their defaults, the first save creates it); one that exists but
// cannot be read is, so that no window shows defaults and saves them over real settings.
// Saving copies the working copy back in one atomic write. Closing removes the working copy;
// a working copy left after a failed save stays as the backup the window names.
#include <QString>
#include <memory>
#include <string>

class QLockFile;

namespace pv {

class SettingsEdit {
 public:
  enum class OpenFailure {
    None,
    Locked,      // another window holds the lock (detail: who)
    Unreadable,  // the settings file exists but cannot be read (detail: why)
    NoLock,      // the lock file cannot be made beside the working copy (detail: why)
    NoWorkingCopy,  // the settings file could not be copied to the working copy
  };
  struct OpenResult {
    std::unique_ptr<SettingsEdit> edit;  // null on failure
    OpenFailure failure = OpenFailure::None;
    QString detail;
  };

  // The lock is the working copy's path + ".lock" (a lock left by a dead process counts as
  // free).
  static OpenResult Open(const std::string& settingsFile, const std::string& workingCopy);
  ~SettingsEdit();
  SettingsEdit(const SettingsEdit&) = delete;
  SettingsEdit& operator=(const SettingsEdit&) = delete;

  const std::string& settingsFile() const { return settingsFile_; }
  const std::string& workingCopy() const { return workingCopy_; }

  // The working copy holds changes that are not saved yet. The windows set it; the main
  // settings window clears it when it opens and after a save.
  bool SettingsChanged = false;

  // Copies the working copy over the settings file; false when that failed (the settings file
  // is then untouched and the working copy stays).
  bool Save();
  // Removes the working copy (ends the edit's files; the lock goes with the object).
  void RemoveWorkingCopy();

 private:
  SettingsEdit(std::string settingsFile, std::string workingCopy, std::unique_ptr<QLockFile> lock);

  std::string settingsFile_;
  std::string workingCopy_;
  std::unique_ptr<QLockFile> lock_;
};

}  // namespace pv
