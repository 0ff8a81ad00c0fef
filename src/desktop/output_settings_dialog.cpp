#include "desktop/output_settings_dialog.h"

namespace pv {

OutputSettingsDialog::OutputSettingsDialog(SettingsEdit&, const SettingsDefaults&, QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("frmOutputSettings"));
}

}  // namespace pv
