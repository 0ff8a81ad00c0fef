#include "desktop/working_copy_writes.h"

#include <QObject>

#include "desktop/message_box.h"
#include "settings/ini_store.h"
#include "settings/setting_cipher.h"

namespace pv {

void WorkingCopyWrites::String(std::string_view section, std::string_view key,
                               const QString& value) {
  if (ok_) note(WriteSettingString(file_, section, key, value.toStdString()), section, key);
}

void WorkingCopyWrites::Bool(std::string_view section, std::string_view key, bool value) {
  if (ok_) note(WriteSettingBool(file_, section, key, value), section, key);
}

void WorkingCopyWrites::Crypted(std::string_view section, std::string_view key,
                                const QString& value, std::string_view cipherKey) {
  if (ok_)
    note(INIWriteUnicodeStringCrypted(file_, section, key, value.toStdString(), cipherKey), section,
         key);
}

void WorkingCopyWrites::note(bool written, std::string_view section, std::string_view key) {
  if (written) return;
  ok_ = false;
  failedKey_ = std::string(section) + "/" + std::string(key);
}

void ShowWriteFailure(QWidget* owner, const std::string& workingCopy, const std::string& key) {
  ShowCritical(owner, QObject::tr("The setting %1 could not be written to the working copy '%2'.")
                          .arg(QString::fromStdString(key), QString::fromStdString(workingCopy)));
}

}  // namespace pv
