#pragma once
// Placeholder until the dialog lands.
#include <QDialog>

#include "desktop/settings_edit.h"
#include "settings/spooler_settings.h"

namespace pv {

class SmtpSettingsDialog : public QDialog {
  Q_OBJECT
 public:
  SmtpSettingsDialog(SettingsEdit& edit, const SettingsDefaults& defaults, QWidget* owner);
};

}  // namespace pv
