#include "desktop/smtp_settings_dialog.h"

namespace pv {

SmtpSettingsDialog::SmtpSettingsDialog(SettingsEdit&, const SettingsDefaults&, QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("frmSMTPSettings"));
}

}  // namespace pv
