#pragma once
// "Autostart and Service Settings": how the spooler starts by itself — as the system service
// (the systemd unit PostvaneSpooler.service) when the machine boots, from the user's XDG
// autostart entry when the user logs in, or not at all — and the control of the installed
// service: its state, start, stop, pause, continue and its start type.
#include <QDialog>
#include <QMessageBox>
#include <functional>
#include <string>

#include "service/service_control.h"

class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;

namespace pv {

// What the window works on: the service it controls and the program the autostart entry starts.
// The launch fills one for the life of the process; the tray menu and the settings window open
// the window through it.
struct ServiceUtility {
  std::string ServiceName;         // the unit is ServiceName + ".service"
  std::string ServiceDisplayName;  // shown
  std::string ServiceDescription;  // shown
  std::string ServiceFilename;     // the program, shown as "Path to EXE file"
  std::string NTCommandLine;       // the service's command line (the control installs it)
  std::string RUNCommandLine;      // the program the autostart entry starts
  std::string HelpFileName = "spooler.htm";
  bool StartedAsService = false;   // this process is the running system service's face
  bool EndService = false;         // set by the window when this process must end

  // The system service's manager; null where the system has none.
  ServiceControl* service = nullptr;
  // The system runs a service manager (HasServiceManager()). False: the service half of the
  // window shows "Not Available" and "Start as Windows Service" cannot be chosen.
  bool hasServiceManager = false;
  // This is a remote (SSH) session; empty: IsRemoteSession().
  std::function<bool()> isRemoteSession;
};

// The system was booted with systemd: its runtime directory exists (what sd_booted tests).
bool HasServiceManager(const std::string& runtimeDirectory = "/run/systemd/system");

// Opens the window modally over owner (null: the active window), after clearing EndService;
// false when this process must end (the service was started and takes over).
bool ShowServiceSettingsDialog(ServiceUtility& serUti, QWidget* owner = nullptr);

class ServiceSettingsWindow : public QDialog {
  Q_OBJECT
 public:
  explicit ServiceSettingsWindow(ServiceUtility& serUti, QWidget* owner = nullptr);

  // Makes the mode of the option buttons the one in force: removes what the other modes left
  // (the service, stopped first; the autostart entry) and sets up the chosen one, each step
  // told in a message box. showNothingToDo: say so when the mode is in force already. True when
  // no step failed.
  bool SetAutoStart(bool showNothingToDo);
  // The mode in force as the window last found or made it: 0 none, 1 the autostart entry,
  // 2 the service.
  int CurrentAutostartMode() const { return currentAutostartMode_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  // Not while a service request is waiting: the window holds the request's state.
  void reject() override;

 private:
  class BusyScope;

  QLabel* createLabel(const char* objectName, const QString& text);
  QLineEdit* createShowField(const char* objectName);
  QPushButton* createButton(const char* objectName, const QString& text);
  QGroupBox* createAutostartFrame();
  QGroupBox* createServiceFrame();
  void createLayout();
  void connectControls();

  void ShowStartType();
  void ShowServiceState();
  bool HasAutostartShortcut() const;
  bool SetAutostartShortcut(bool add, const std::string& target);

  int selectedMode() const;
  void showStartTypeOf(int startType);
  void showNoServiceManager();
  bool removeService(const QString& failureText);
  bool stopBeforeRemoval();
  bool confirmStopOfThisProcess();
  bool switchToNoAutostart();
  bool switchToLoginStart();
  bool switchToService();
  bool serviceExists();
  void setBusy(bool busy);

  void changeNowClicked();
  void okClicked();
  void startClicked();
  void stopClicked();
  void pauseClicked();
  void continueClicked();
  void showHelp();

  QMessageBox::StandardButton ask(QMessageBox::Icon icon, const QString& text,
                                  QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
  void critical(const QString& text) { ask(QMessageBox::Critical, text); }
  void inform(const QString& text) { ask(QMessageBox::Information, text); }
  ServiceControl& service() { return serUti_.service ? *serUti_.service : noService_; }

  ServiceUtility& serUti_;
  NoServiceControl noService_;
  int currentAutostartMode_ = 0;
  bool serviceUnavailable_ = false;
  bool installedAsService_ = false;
  bool inAutostartGroup_ = false;
  bool busy_ = false;  // a service request or SetAutoStart is running

  QButtonGroup* optAutostart_ = nullptr;
  QPushButton* cmdSetAutostart_ = nullptr;
  QLabel* lblName_ = nullptr;
  QLineEdit* txtDisplayName_ = nullptr;
  QLineEdit* txtDescription_ = nullptr;
  QLineEdit* txtExename_ = nullptr;
  QComboBox* cboStartType_ = nullptr;
  QLabel* lblServiceState_ = nullptr;
  QPushButton* cmdStart_ = nullptr;
  QPushButton* cmdStop_ = nullptr;
  QPushButton* cmdPause_ = nullptr;
  QPushButton* cmdContinue_ = nullptr;
  QPushButton* cmdOK_ = nullptr;
  QPushButton* cmdCancel_ = nullptr;
  QPushButton* cmdHelp_ = nullptr;
  QTimer* timer1_ = nullptr;
};

}  // namespace pv
