#pragma once
// The writes a settings dialog makes into its working copy on OK, in the order it makes them.
// The first write the store refuses ends the run: later writes are skipped, so that the
// dialog can report the failure, stay open and leave SettingsChanged as it was.
#include <QString>
#include <string>
#include <string_view>

class QWidget;

namespace pv {

class WorkingCopyWrites {
 public:
  explicit WorkingCopyWrites(std::string workingCopy) : file_(std::move(workingCopy)) {}

  void String(std::string_view section, std::string_view key, const QString& value);
  void Bool(std::string_view section, std::string_view key, bool value);
  // Enciphered with cipherKey (settings/setting_cipher.h).
  void Crypted(std::string_view section, std::string_view key, const QString& value,
               std::string_view cipherKey);

  // True when every write so far succeeded.
  bool ok() const { return ok_; }
  // The key of the write that failed ("" while ok).
  const std::string& failedKey() const { return failedKey_; }

 private:
  void note(bool written, std::string_view section, std::string_view key);

  std::string file_;
  bool ok_ = true;
  std::string failedKey_;
};

// The critical message for a run that failed, naming the working copy and the key.
void ShowWriteFailure(QWidget* owner, const std::string& workingCopy, const std::string& key);

}  // namespace pv
