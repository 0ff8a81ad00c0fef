#pragma once
// The main settings window: the spool directory and extension, the spool interval, the retry
// schedule, the return address and the online condition; the output and SMTP dialogs; the
// manual. It edits the working copy of a settings file (SettingsEdit) and saves it back when
// the user says so; in a process that spools, a save reloads the settings at once.
#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>

#include "desktop/settings_edit.h"
#include "settings/spooler_settings.h"

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace pv {

class ServiceControl;

// What the window needs from the process it runs in.
struct SettingsWindowHost {
  bool settingsMode = false;
  bool remoteSession = false;
  bool isService = false;  // the window shows the system service's settings
  std::string settingsFile;
  std::string workingCopy;
  SettingsDefaults defaults;
  // Loads the saved settings into this process's spooler; empty in settings mode.
  std::function<void()> reload;
  // The spooler of this process runs at its next tick; empty where none runs.
  std::function<void()> spoolNow;
  // The autostart and service window; false ends the spooler of this process. Empty: the
  // entry is there but disabled.
  std::function<bool()> serviceSettings;
  // Asked after closing or saving in settings mode, and where the window edits the running
  // system service's settings; null: nothing is offered.
  ServiceControl* service = nullptr;
  // Where the window edits the running system service's settings: asks it to read them again
  // after a save; true when it did (then no restart is offered).
  std::function<bool()> reloadService;
};

class SettingsWindow : public QMainWindow {
  Q_OBJECT
 public:
  SettingsWindow(SettingsWindowHost host, std::unique_ptr<SettingsEdit> edit,
                 QWidget* parent = nullptr);
  ~SettingsWindow() override;

  SettingsEdit& edit() { return *edit_; }
  // The check before a close: validates, asks about unsaved changes, saves; true when the
  // window may close (Close button, "Close" entry, the window's close box).
  bool ConfirmClose();
  // "Save Settings": asks, validates, saves; the window stays open.
  void SaveSettings();
  // When the spooler ends while the window holds unsaved changes: asks whether to save them
  // (Yes/No), and saves on Yes when the fields pass the checks.
  void SaveBeforeEnd();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void createControls();
  QGroupBox* createSpoolEvery();
  QGroupBox* createProblemHandling();
  QLineEdit* createField(const QString& objectName, int maxLength);
  QLabel* createLabel(const QString& objectName, const QString& text, QWidget* buddy);
  void createLayout();
  void createMenus();
  QAction* createAction(const QString& objectName, const QString& text);
  QAction* createSeparator(QMenu* menu, const QString& objectName);
  void setTabOrder();
  void connectSignals();
  void loadFields();
  void showRunMode();

  bool validateAndStore();
  bool storeFields();
  bool copyBack();
  void afterSave();
  void offerServiceAction(bool saved);
  void openOutputSettings();
  void openSmtpSettings();
  void openServiceSettings();
  void selectSpoolDirectory();
  void closeByCommand();
  void setClosingEnabled(bool enabled);

  SettingsWindowHost host_;
  std::unique_ptr<SettingsEdit> edit_;
  bool confirmed_ = false;  // the close that follows an accepted check

  QLabel* lblInfo_ = nullptr;
  QLabel* image1_ = nullptr;
  QLineEdit* txtSpoolDir_ = nullptr;
  QPushButton* cmdSelectSpoolDir_ = nullptr;
  QPushButton* cmdShowSpoolDir_ = nullptr;
  QLineEdit* txtExtension_ = nullptr;
  QLineEdit* txtDelay_ = nullptr;
  QCheckBox* checkOnlyIfOnline_ = nullptr;
  QLineEdit* txtMaxRetry_ = nullptr;
  QLineEdit* txtRetryInterval_ = nullptr;
  QLineEdit* txtDefaultReturnTo_ = nullptr;
  QPushButton* cmdOK_ = nullptr;
  QGroupBox* frame1_ = nullptr;
  QGroupBox* frame2_ = nullptr;

  QAction* mServiceSettings_ = nullptr;
  QAction* ml0_ = nullptr;
  QAction* mSaveSettings_ = nullptr;
  QAction* mOK_ = nullptr;
  QAction* mOutputSettings_ = nullptr;
  QAction* mSMTPSettings_ = nullptr;
  QAction* mnuSpoolerManual_ = nullptr;
  QAction* mnuCOMObjectManual_ = nullptr;
  QAction* mAbout_ = nullptr;
};

// The run-mode line at the top of the window.
QString RunModeLine(bool settingsMode, bool remoteSession, bool isService);

// Opens this process's one settings window (not modal), or raises it when it is open. An edit
// that cannot be opened (another window edits the same settings, the settings file cannot be
// read) is told in a message box over owner; the result is then null.
SettingsWindow* ShowSettingsWindow(const SettingsWindowHost& host, QWidget* owner = nullptr);
// The window while it is open; null otherwise.
SettingsWindow* OpenSettingsWindow();
// The message for an edit that could not be opened.
QString EditOpenFailureText(const SettingsEdit::OpenResult& result, const std::string& settingsFile);

}  // namespace pv
