#pragma once
// "Output Settings": where delivery results are reported (the CSV log file, the system log, the
// desktop notifications). Edits the working copy of a settings edit; the main settings window
// saves it. The caller runs exec().
#include <QDialog>
#include <functional>

#include "settings/spooler_settings.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace pv {

class SettingsEdit;

class OutputSettingsDialog : public QDialog {
  Q_OBJECT
 public:
  // How the dialog opens a manual topic; ShowHelp unless a test puts its own.
  using HelpOpener =
      std::function<void(QWidget* owner, const QString& page, const QString& anchor)>;

  OutputSettingsDialog(SettingsEdit& edit, const SettingsDefaults& defaults, QWidget* owner);
  void setHelpOpenerForTests(HelpOpener opener) { help_ = std::move(opener); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLabel* createLabel(const char* objectName, const QString& text);
  QLineEdit* createLineEdit(const char* objectName, int maxLength);
  QCheckBox* createCheckBox(const char* objectName, const QString& text);
  QPushButton* createButton(const char* objectName, const QString& text);
  QGroupBox* createLogFileFrame();
  QGroupBox* createEventLogFrame();
  QGroupBox* createBalloonFrame();
  void createLayout();
  void connectSignals();
  void load(const SettingsDefaults& defaults);

  void okClicked();
  bool checkFields();
  void selectLogDirectory();
  void openLogDirectory();
  void showHelp();

  SettingsEdit& edit_;
  HelpOpener help_;
  QLineEdit* txtLogFileDir_ = nullptr;
  QPushButton* cmdSelectLogDir_ = nullptr;
  QLineEdit* txtLogFileName_ = nullptr;
  QCheckBox* chkWriteSuccessCSVLog_ = nullptr;
  QCheckBox* chkWriteErrorCSVLog_ = nullptr;
  QPushButton* cmdShowLogs_ = nullptr;
  QCheckBox* chkWriteSuccessEventLog_ = nullptr;
  QCheckBox* chkWriteErrorEventLog_ = nullptr;
  QCheckBox* chkShowSuccessBalloons_ = nullptr;
  QCheckBox* chkShowErrorBalloons_ = nullptr;
  QPushButton* cmdOK_ = nullptr;
  QPushButton* cmdCancel_ = nullptr;
  QPushButton* cmdHelp_ = nullptr;
};

}  // namespace pv
