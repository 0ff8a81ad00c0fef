#pragma once
// The settings in use, read only: what "Settings..." shows until the settings can be edited in
// windows. One per process; opening it again raises it.
#include <QDialog>

class QPlainTextEdit;

namespace pv {

class SettingsView : public QDialog {
  Q_OBJECT
 public:
  explicit SettingsView(QWidget* parent = nullptr);
  // Reads the settings file again.
  void Refresh();

 private:
  void createControls();
  QPlainTextEdit* listing_ = nullptr;
};

// Shows the one settings view of the process (made on first use), refreshed and raised.
SettingsView* ShowSettingsView();

}  // namespace pv
