#include "desktop/service_settings_window.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>
#include <sys/stat.h>

#include "desktop/dialog_plumbing.h"
#include "desktop/help_key.h"
#include "desktop/message_box.h"
#include "platform/autostart_entry.h"
#include "platform/system_info.h"
#include "platform/user_dirs.h"

namespace pv {
namespace {

constexpr int kStateIntervalMs = 1000;
constexpr int kRemoveAttempts = 10;
constexpr int kModeNone = 0;
constexpr int kModeLogin = 1;
constexpr int kModeService = 2;

QString Q(const std::string& text) { return QString::fromStdString(text); }

// A value shown from its beginning, however long.
void showText(QLineEdit* field, const QString& text) {
  field->setText(text);
  field->setCursorPosition(0);
}
QString Title() { return QObject::tr("Postvane"); }

// What a start type read from the service manager shows. A null label leaves the label as it is.
struct StartTypeView {
  QString label;
  int listIndex;
  bool listEnabled;
  bool unavailable;
  bool installed;  // also: "Start as Windows Service" is selected
};

StartTypeView ViewOfStartType(int startType) {
  switch (startType) {
    case kStartTypeUnreadable:
    case kStartTypeUnexpected:
      return {QObject::tr("Can query the settings of the service in the Windows SCM."), 2, false,
              true, false};
    case kNoSuchService:
      return {QObject::tr("Can not find service in the Windows SCM."), 2, false, true, false};
    case kNoServiceManager:
      return {QObject::tr("Can not open the Windows SCM."), 2, false, true, false};
    case kStartBoot:
    case kStartSystem:
      return {QObject::tr("Illegal Start Type detected. Please choose any other."), 2, false,
              false, true};
    case kStartAutomatic:
    case kStartOnDemand:
    case kStartDisabled:
      return {QString(), startType - kStartAutomatic, true, false, true};
    default:
      return {QObject::tr("Unknown Start Type. Please choose any other."), 2, false, true, false};
  }
}

// What a service state shows: its name and which of Start, Stop, Pause, Continue can be used.
struct ServiceStateView {
  QString label;
  bool start, stop, pause, cont;
};

ServiceStateView ViewOfServiceState(int state) {
  switch (state) {
    case kServiceStopped: return {QObject::tr("Stopped"), true, false, false, false};
    case kServiceStartPending: return {QObject::tr("Start pending"), false, false, false, false};
    case kServiceStopPending: return {QObject::tr("Stop pending"), false, false, false, false};
    case kServiceRunning: return {QObject::tr("Running"), false, true, true, false};
    case kServiceContinuePending:
      return {QObject::tr("Continue pending"), false, false, false, false};
    case kServicePausePending: return {QObject::tr("Pause pending"), false, false, false, false};
    case kServicePaused: return {QObject::tr("Paused"), false, true, false, true};
    default: return {QObject::tr("Unknown"), false, false, false, false};
  }
}

// A path under the home directory as "~/…", the way users know it.
QString HomeRelative(const std::string& path) {
  const std::string home = HomeDirectory();
  if (!home.empty() && path.starts_with(home + "/")) return Q("~" + path.substr(home.size()));
  return Q(path);
}

}  // namespace

bool HasServiceManager(const std::string& runtimeDirectory) {
  struct stat info {};
  return ::lstat(runtimeDirectory.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool ShowServiceSettingsDialog(ServiceUtility& serUti, QWidget* owner) {
  serUti.EndService = false;
  if (!owner) owner = QApplication::activeWindow();
  ServiceSettingsWindow window(serUti, owner);
  // Modal to its owner's windows; with no owner to the whole application, so that no second
  // window of its kind can be opened beside it.
  window.setWindowModality(owner ? Qt::WindowModal : Qt::ApplicationModal);
  window.exec();
  return !serUti.EndService;
}

// For as long as it lives: the wait cursor, and the buttons that would start another request or
// close the window disabled. At its end the state display shows the buttons that fit.
class ServiceSettingsWindow::BusyScope {
 public:
  explicit BusyScope(ServiceSettingsWindow& window) : window_(window) { window_.setBusy(true); }
  ~BusyScope() {
    window_.setBusy(false);
    window_.ShowServiceState();
  }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  ServiceSettingsWindow& window_;
  WaitCursor cursor_;
};

ServiceSettingsWindow::ServiceSettingsWindow(ServiceUtility& serUti, QWidget* owner)
    : QDialog(owner), serUti_(serUti) {
  setObjectName(QStringLiteral("frmServiceSettings"));
  setWindowTitle(tr("Autostart and Service Settings"));
  if (owner) setWindowIcon(owner->windowIcon());
  createLayout();
  connectControls();
  FilterEventsOfAll(this, this);
  ShowStartType();
  ShowServiceState();
  currentAutostartMode_ = selectedMode();
  if (serUti_.hasServiceManager) timer1_->start();
  adjustSize();
  CenterOnScreen(this);
}

QLabel* ServiceSettingsWindow::createLabel(const char* objectName, const QString& text) {
  auto* label = new QLabel(text, this);
  label->setObjectName(QLatin1String(objectName));
  label->setTextFormat(Qt::PlainText);
  return label;
}

QLineEdit* ServiceSettingsWindow::createShowField(const char* objectName) {
  auto* field = new QLineEdit(this);
  field->setObjectName(QLatin1String(objectName));
  field->setReadOnly(true);
  return field;
}

QPushButton* ServiceSettingsWindow::createButton(const char* objectName, const QString& text) {
  auto* button = new QPushButton(text, this);
  button->setObjectName(QLatin1String(objectName));
  button->setAutoDefault(false);
  return button;
}

QGroupBox* ServiceSettingsWindow::createAutostartFrame() {
  auto* frame = new QGroupBox(tr("Autostart Settings"), this);
  frame->setObjectName(QStringLiteral("Frame2"));
  optAutostart_ = new QButtonGroup(this);
  const QString unit = Q(serUti_.ServiceName) + QStringLiteral(".service");
  const QString entry = HomeRelative(AutostartEntryPath());
  const struct {
    int index;
    QString text, tip;
  } options[] = {
      {kModeService, tr("Start as Windows Service"),
       tr("Installs the systemd unit %1: the system starts the spooler at boot, for every user, "
          "whether anybody is logged in or not.").arg(unit)},
      {kModeLogin, tr("Start when user logs in (Windows Autostart Group)"),
       tr("Writes the XDG autostart entry %1: the desktop starts Postvane with its tray icon "
          "when you log in.").arg(entry)},
      {kModeNone, tr("No Autostart"),
       tr("Neither: the systemd unit %1 is taken off the system, the autostart entry %2 "
          "deleted.").arg(unit, entry)},
  };
  auto* layout = new QGridLayout(frame);
  for (const auto& option : options) {
    auto* button = new QRadioButton(option.text, frame);
    button->setObjectName(QStringLiteral("optAutostart(%1)").arg(option.index));
    button->setToolTip(option.tip);
    optAutostart_->addButton(button, option.index);
    layout->addWidget(button, 2 - option.index, 0);
  }
  optAutostart_->button(kModeNone)->setChecked(true);
  cmdSetAutostart_ = createButton("cmdSetAutostart", tr("&Change Now"));
  cmdSetAutostart_->setToolTip(tr("Makes the selected autostart mode the one in force now."));
  layout->addWidget(cmdSetAutostart_, 2, 1, Qt::AlignRight | Qt::AlignBottom);
  layout->setColumnStretch(0, 1);
  return frame;
}

QGroupBox* ServiceSettingsWindow::createServiceFrame() {
  auto* frame = new QGroupBox(tr("Service Control (Windows NT, W2K, XP and higher)"), this);
  frame->setObjectName(QStringLiteral("Frame1"));
  frame->setToolTip(tr("The system service is the systemd unit %1.")
                        .arg(Q(serUti_.ServiceName) + QStringLiteral(".service")));
  lblName_ = createLabel("lblName", QString());
  txtDisplayName_ = createShowField("txtDisplayName");
  txtDescription_ = createShowField("txtDescription");
  txtExename_ = createShowField("txtExename");
  cboStartType_ = new QComboBox(this);
  cboStartType_->setObjectName(QStringLiteral("cboStartType"));
  cboStartType_->addItem(tr("Automatic"), kStartAutomatic);
  cboStartType_->addItem(tr("Manual"), kStartOnDemand);
  cboStartType_->addItem(tr("Disabled"), kStartDisabled);
  cboStartType_->setToolTip(tr("Automatic: enabled, started at boot. Manual: started only when "
                               "asked. Disabled: masked, it cannot be started."));
  lblServiceState_ = createLabel("lblServiceState", QString());
  const std::pair<QLabel*, QWidget*> rows[] = {
      {createLabel("lblNameCaption", tr("Service Name")), lblName_},
      {createLabel("lblDisplayName", tr("Display Name")), txtDisplayName_},
      {createLabel("lblDescription", tr("Description")), txtDescription_},
      {createLabel("lblExename", tr("Path to EXE file")), txtExename_},
      {createLabel("lblStartType", tr("Start Type")), cboStartType_},
      {createLabel("lblServiceStateCaption", tr("Service State")), lblServiceState_}};
  auto* grid = new QGridLayout(frame);
  int row = 0;
  for (const auto& [caption, field] : rows) {
    if (!qobject_cast<QLabel*>(field)) caption->setBuddy(field);
    grid->addWidget(caption, row, 0);
    grid->addWidget(field, row++, 1);
  }
  cmdStart_ = createButton("cmdStart", tr("&Start"));
  cmdStop_ = createButton("cmdStop", tr("S&top"));
  cmdPause_ = createButton("cmdPause", tr("&Pause"));
  cmdContinue_ = createButton("cmdContinue", tr("&Continue"));
  grid->addLayout(RightAlignedRow({cmdStart_, cmdStop_, cmdPause_, cmdContinue_}), row, 0, 1, 2);
  grid->setColumnStretch(1, 1);
  return frame;
}

void ServiceSettingsWindow::createLayout() {
  // Made in reading order, which gives the tab order; the buttons come last.
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(createAutostartFrame());
  layout->addWidget(createServiceFrame());
  cmdOK_ = createButton("cmdOK", tr("OK"));
  cmdCancel_ = createButton("cmdCancel", tr("Cancel"));
  cmdHelp_ = createButton("cmdHelp", tr("&Help"));
  cmdOK_->setDefault(true);
  layout->addLayout(RightAlignedRow({cmdOK_, cmdCancel_, cmdHelp_}));
  timer1_ = new QTimer(this);
  timer1_->setObjectName(QStringLiteral("Timer1"));
  timer1_->setInterval(kStateIntervalMs);
  setMinimumWidth(fontMetrics().averageCharWidth() * 72);
}

void ServiceSettingsWindow::connectControls() {
  connect(cmdSetAutostart_, &QPushButton::clicked, this, &ServiceSettingsWindow::changeNowClicked);
  connect(cmdOK_, &QPushButton::clicked, this, &ServiceSettingsWindow::okClicked);
  connect(cmdCancel_, &QPushButton::clicked, this, &ServiceSettingsWindow::reject);
  connect(cmdHelp_, &QPushButton::clicked, this, &ServiceSettingsWindow::showHelp);
  connect(cmdStart_, &QPushButton::clicked, this, &ServiceSettingsWindow::startClicked);
  connect(cmdStop_, &QPushButton::clicked, this, &ServiceSettingsWindow::stopClicked);
  connect(cmdPause_, &QPushButton::clicked, this, &ServiceSettingsWindow::pauseClicked);
  connect(cmdContinue_, &QPushButton::clicked, this, &ServiceSettingsWindow::continueClicked);
  connect(timer1_, &QTimer::timeout, this, &ServiceSettingsWindow::ShowServiceState);
}

// ---- What the window shows ----

void ServiceSettingsWindow::ShowStartType() {
  if (serUti_.hasServiceManager) {
    showStartTypeOf(service().QueryServiceStartType());
  } else {
    showNoServiceManager();
  }
  inAutostartGroup_ = HasAutostartShortcut();
  if (inAutostartGroup_) optAutostart_->button(kModeLogin)->setChecked(true);
}

void ServiceSettingsWindow::showStartTypeOf(int startType) {
  const StartTypeView view = ViewOfStartType(startType);
  if (!view.label.isNull()) lblServiceState_->setText(view.label);
  cboStartType_->setCurrentIndex(view.listIndex);
  cboStartType_->setEnabled(view.listEnabled);
  serviceUnavailable_ = view.unavailable;
  installedAsService_ = view.installed;
  if (view.installed) optAutostart_->button(kModeService)->setChecked(true);
  lblName_->setText(Q(serUti_.ServiceName));
  showText(txtDisplayName_, Q(serUti_.ServiceDisplayName));
  showText(txtDescription_, Q(serUti_.ServiceDescription));
  showText(txtExename_, Q(serUti_.ServiceFilename));
}

void ServiceSettingsWindow::showNoServiceManager() {
  cboStartType_->setCurrentIndex(2);
  installedAsService_ = false;
  optAutostart_->button(kModeService)->setEnabled(false);
  const QString none = tr("Not Available");
  lblName_->setText(none);
  for (QLineEdit* field : {txtDisplayName_, txtDescription_, txtExename_}) showText(field, none);
}

void ServiceSettingsWindow::ShowServiceState() {
  ServiceStateView view{QString(), false, false, false, false};
  if (!serUti_.hasServiceManager) {
    lblServiceState_->setText(tr("Not Available"));
    cboStartType_->setEnabled(false);
  } else if (!serviceUnavailable_) {
    view = ViewOfServiceState(service().QueryServiceState());
    lblServiceState_->setText(view.label);
  }
  // While a request waits, the label follows the service, the buttons stay off.
  cmdStart_->setEnabled(view.start && !busy_);
  cmdStop_->setEnabled(view.stop && !busy_);
  cmdPause_->setEnabled(view.pause && !busy_);
  cmdContinue_->setEnabled(view.cont && !busy_);
}

int ServiceSettingsWindow::selectedMode() const {
  for (int mode : {kModeNone, kModeLogin, kModeService}) {
    if (optAutostart_->button(mode)->isChecked()) return mode;
  }
  return kModeNone;
}

void ServiceSettingsWindow::setBusy(bool busy) {
  busy_ = busy;
  for (QPushButton* button : {cmdOK_, cmdCancel_, cmdSetAutostart_}) button->setEnabled(!busy);
  if (busy) {
    for (QPushButton* button : {cmdStart_, cmdStop_, cmdPause_, cmdContinue_})
      button->setEnabled(false);
  }
}

// ---- The autostart entry ----

bool ServiceSettingsWindow::HasAutostartShortcut() const { return AutostartEnabled(); }

bool ServiceSettingsWindow::SetAutostartShortcut(bool add, const std::string& target) {
  if (add) return !CreateAutostartEntry(target, {});
  IoError error;
  for (int attempt = 0; attempt < kRemoveAttempts; ++attempt) {
    error = RemoveAutostartEntry();
    if (!error) break;
  }
  return !error;
}

// ---- Changing the autostart mode ----

bool ServiceSettingsWindow::SetAutoStart(bool showNothingToDo) {
  bool error = false;
  {
    const BusyScope busy(*this);
    const int selected = selectedMode();
    if (selected == currentAutostartMode_) {
      if (showNothingToDo)
        inform(tr("Nothing to do. The selected autostart mode is already active."));
    } else if (selected == kModeNone) {
      error = switchToNoAutostart();
    } else if (selected == kModeLogin) {
      error = switchToLoginStart();
    } else {
      error = switchToService();
    }
    ShowStartType();
    // After a failed step the mode in force is what the system now holds, so that choosing a
    // mode again is never "nothing to do" while nothing starts the spooler.
    if (selected != currentAutostartMode_) {
      currentAutostartMode_ = !error                ? selected
                              : inAutostartGroup_   ? kModeLogin
                              : installedAsService_ ? kModeService
                                                    : kModeNone;
    }
  }
  return !error;
}

// Each switch returns true when a step failed.
bool ServiceSettingsWindow::switchToNoAutostart() {
  bool error = false;
  if (installedAsService_) {
    if (removeService(tr("There was an error uninstalling ") + Title() +
                      tr(" as a Windows Service."))) {
      inform(Title() +
             tr(" will NOT automatically run as a windows service when this system is booted."));
    } else {
      error = true;
    }
  }
  if (inAutostartGroup_) {
    if (SetAutostartShortcut(false, serUti_.RUNCommandLine)) {
      inform(Title() + tr(" was removed from the Windows Autostart Group."));
      inAutostartGroup_ = false;
    } else {
      critical(tr("There was an error removing ") + Title() +
               tr(" from the Windows Autostart Group."));
      error = true;
    }
  }
  return error;
}

bool ServiceSettingsWindow::switchToLoginStart() {
  if (installedAsService_ &&
      !removeService(tr("There was an error removing ") + Title() + tr(" from the Windows SCM.")))
    return true;
  if (SetAutostartShortcut(true, serUti_.RUNCommandLine)) {
    inform(Title() + tr(" was added to the Windows Autostart Group. It will automatically run "
                        "the next time somebody logs in."));
    inAutostartGroup_ = true;
    return false;
  }
  // The service is gone already: without the entry nothing would start the spooler.
  critical(tr("There was an error adding ") + Title() + tr(" to the Windows Autostart Group."));
  return true;
}

bool ServiceSettingsWindow::switchToService() {
  if (inAutostartGroup_) {
    if (!SetAutostartShortcut(false, serUti_.RUNCommandLine)) {
      critical(tr("There was an error removing ") + Title() +
               tr(" from the Windows Autostart Group."));
      return true;
    }
    inAutostartGroup_ = false;
  }
  if (service().InstallService(kStartAutomatic)) {
    inform(Title() + tr(" was added to the Windows SCM."));
    installedAsService_ = true;
    return false;
  }
  critical(tr("There was an error adding ") + Title() + tr(" to the Windows SCM."));
  // A service that was there already still starts the spooler; otherwise nothing does.
  return !serviceExists();
}

bool ServiceSettingsWindow::serviceExists() {
  const int startType = service().QueryServiceStartType();
  return startType != kNoSuchService && startType != kNoServiceManager;
}

// Stops the service and removes it; true when it is gone. A removal that fails is told with
// failureText.
bool ServiceSettingsWindow::removeService(const QString& failureText) {
  if (!stopBeforeRemoval()) return false;
  if (!service().UninstallService()) {
    critical(failureText);
    return false;
  }
  installedAsService_ = false;
  return true;
}

// A running service is stopped before it is removed; true when it is stopped.
bool ServiceSettingsWindow::stopBeforeRemoval() {
  if (service().QueryServiceState() == kServiceStopped) return true;
  if (!confirmStopOfThisProcess()) return false;
  if (service().StopServiceAndWait(0)) return true;
  critical(tr("Error while stopping service."));
  return false;
}

bool ServiceSettingsWindow::confirmStopOfThisProcess() {
  if (!serUti_.StartedAsService) return true;
  const QString text = Title() +
                       tr(" is started as a Windows Service. If you stop the service this dialog "
                          "will close and ") +
                       Title() + tr(" will be unloaded from memory.");
  return ask(QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
         QMessageBox::Yes;
}

// ---- Buttons ----

void ServiceSettingsWindow::changeNowClicked() { SetAutoStart(true); }

void ServiceSettingsWindow::okClicked() {
  // The start type the user chose, read before SetAutoStart shows the service's own again.
  const bool typeChosen = cboStartType_->isEnabled();
  const int chosenType = cboStartType_->currentData().toInt();
  if (!SetAutoStart(false)) {
    critical(tr("Error while changing autostart settings."));
    return;
  }
  if (installedAsService_ && typeChosen) {
    bool changed = true;
    {
      const BusyScope busy(*this);
      if (service().QueryServiceStartType() != chosenType)
        changed = service().ChangeServiceStartType(chosenType);
    }
    if (!changed) {
      critical(tr("Error while changing start type."));
      return;
    }
  }
  accept();
}

void ServiceSettingsWindow::startClicked() {
  bool started = false;
  {
    const BusyScope busy(*this);
    started = service().StartServiceAndWait(0);
    if (!started) critical(tr("Error while starting service."));
  }
  if (!started) return;
  const bool remote = serUti_.isRemoteSession ? serUti_.isRemoteSession() : IsRemoteSession();
  if (remote) return;
  inform(Title() + tr(" was started as service. One running instance of ") + Title() +
         tr(" is enough. The instance you are using right now is obsolete and will be shutdown "
            "now. The icon of the other instance (running as windows service) was placed into "
            "the system tray and can be accessed after clicking OK."));
  serUti_.EndService = true;
  accept();
}

void ServiceSettingsWindow::stopClicked() {
  if (!confirmStopOfThisProcess()) return;
  const BusyScope busy(*this);
  if (!service().StopServiceAndWait(0)) critical(tr("Error while stopping service."));
}

void ServiceSettingsWindow::pauseClicked() {
  const BusyScope busy(*this);
  if (!service().PauseServiceAndWait(0)) critical(tr("Error while pausing service."));
}

void ServiceSettingsWindow::continueClicked() {
  const BusyScope busy(*this);
  if (!service().ContinueServiceAndWait(0)) critical(tr("Error while continue service."));
}

void ServiceSettingsWindow::showHelp() {
  ShowHelp(this, Q(serUti_.HelpFileName), QStringLiteral("ServiceSettings"));
}

void ServiceSettingsWindow::reject() {
  if (!busy_) QDialog::reject();
}

bool ServiceSettingsWindow::eventFilter(QObject* watched, QEvent* event) {
  if (IsHelpKey(event)) {
    showHelp();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

// A box asks for a click: it shows the normal pointer even while a request waits.
QMessageBox::StandardButton ServiceSettingsWindow::ask(QMessageBox::Icon icon, const QString& text,
                                                       QMessageBox::StandardButtons buttons,
                                                       QMessageBox::StandardButton defaultButton) {
  const bool waiting = QApplication::overrideCursor() != nullptr;
  if (waiting) QApplication::setOverrideCursor(Qt::ArrowCursor);
  const QMessageBox::StandardButton answer =
      ShowMessage(this, {icon, text, buttons, defaultButton});
  if (waiting) QApplication::restoreOverrideCursor();
  return answer;
}

}  // namespace pv
