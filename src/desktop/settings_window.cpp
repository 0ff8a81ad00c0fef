#include "desktop/settings_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "desktop/about_box.h"
#include "desktop/dialog_plumbing.h"
#include "desktop/message_box.h"
#include "desktop/output_settings_dialog.h"
#include "desktop/service_offers.h"
#include "desktop/smtp_settings_dialog.h"
#include "desktop/tray_icon.h"
#include "desktop/working_copy_writes.h"
#include "settings/ini_store.h"
#include "support/paths.h"

namespace pv {
namespace {

constexpr int kDefaultDelay = 60;
constexpr int kLongField = 256;

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }

QPointer<SettingsWindow>& TheWindow() {
  static QPointer<SettingsWindow> window;
  return window;
}

}  // namespace

QString RunModeLine(bool settingsMode, bool remoteSession, bool isService) {
  const QString title = QObject::tr("Postvane");
  if (settingsMode && remoteSession) return title + QObject::tr(" is running in a Remote Session");
  if (settingsMode) return title + QObject::tr(" is running in the Settings Mode");
  if (isService) return title + QObject::tr(" is running as Windows Service");
  return title + QObject::tr(" is running as System Tray Application");
}

SettingsWindow::SettingsWindow(SettingsWindowHost host, std::unique_ptr<SettingsEdit> edit,
                               QWidget* parent)
    : QMainWindow(parent), host_(std::move(host)), edit_(std::move(edit)) {
  setObjectName(QStringLiteral("frmSettings"));
  setWindowTitle(tr("Postvane"));
  setWindowIcon(LoadTrayPicture(0));
  createControls();
  createMenus();
  createLayout();
  setTabOrder();
  showRunMode();
  loadFields();
  connectSignals();
  edit_->SettingsChanged = false;
  adjustSize();
  CenterOnScreen(this);
}

SettingsWindow::~SettingsWindow() = default;

QLineEdit* SettingsWindow::createField(const QString& objectName, int maxLength) {
  auto* field = new QLineEdit(this);
  field->setObjectName(objectName);
  field->setMaxLength(maxLength);
  return field;
}

QLabel* SettingsWindow::createLabel(const QString& objectName, const QString& text,
                                    QWidget* buddy) {
  auto* label = new QLabel(text, this);
  label->setObjectName(objectName);
  label->setBuddy(buddy);
  return label;
}

void SettingsWindow::createControls() {
  lblInfo_ = new QLabel(this);
  lblInfo_->setObjectName(QStringLiteral("lblInfo"));
  image1_ = new QLabel(this);
  image1_->setObjectName(QStringLiteral("Image1"));
  image1_->setPixmap(LoadTrayPicture(0).pixmap(48, 48));
  image1_->setToolTip(tr("Double-click: spool now"));
  image1_->installEventFilter(this);
  txtSpoolDir_ = createField(QStringLiteral("txtSpoolDir"), kLongField);
  cmdSelectSpoolDir_ = new QPushButton(tr("..."), this);
  cmdSelectSpoolDir_->setObjectName(QStringLiteral("cmdSelectSpoolDir"));
  cmdSelectSpoolDir_->setToolTip(tr("Select Spool Directory"));
  cmdSelectSpoolDir_->setFixedWidth(cmdSelectSpoolDir_->fontMetrics().horizontalAdvance(QStringLiteral("....")) * 2);
  cmdShowSpoolDir_ = new QPushButton(tr("Open Spool Dir..."), this);
  cmdShowSpoolDir_->setObjectName(QStringLiteral("cmdShowSpoolDir"));
  txtExtension_ = createField(QStringLiteral("txtExtension"), 32);
  txtExtension_->setFixedWidth(txtExtension_->fontMetrics().horizontalAdvance(QStringLiteral("0")) * 14);
  frame1_ = createSpoolEvery();
  frame2_ = createProblemHandling();
  cmdOK_ = new QPushButton(tr("&Close"), this);
  cmdOK_->setObjectName(QStringLiteral("cmdOK"));
  cmdOK_->setDefault(true);
}

QGroupBox* SettingsWindow::createSpoolEvery() {
  auto* frame = new QGroupBox(tr("Spool every"), this);
  frame->setObjectName(QStringLiteral("Frame1"));
  txtDelay_ = createField(QStringLiteral("txtDelay"), 5);
  txtDelay_->setFixedWidth(txtDelay_->fontMetrics().horizontalAdvance(QStringLiteral("0000000")));
  MakeDigitsOnly(txtDelay_);
  checkOnlyIfOnline_ = new QCheckBox(
      tr("Spool eMail only if a connection to the internet is already established"), frame);
  checkOnlyIfOnline_->setObjectName(QStringLiteral("checkOnlyIfOnline"));
  auto* row = new QHBoxLayout;
  row->addWidget(txtDelay_);
  row->addWidget(createLabel(QStringLiteral("lblDelay"), tr("sec"), txtDelay_));
  row->addStretch();
  auto* layout = new QVBoxLayout(frame);
  layout->addLayout(row);
  layout->addWidget(checkOnlyIfOnline_);
  return frame;
}

QGroupBox* SettingsWindow::createProblemHandling() {
  auto* frame = new QGroupBox(tr("Problem Handling"), this);
  frame->setObjectName(QStringLiteral("Frame2"));
  txtMaxRetry_ = createField(QStringLiteral("txtMaxRetry"), 2);
  txtMaxRetry_->setFixedWidth(txtMaxRetry_->fontMetrics().horizontalAdvance(QStringLiteral("00000")));
  MakeDigitsOnly(txtMaxRetry_);
  txtRetryInterval_ = createField(QStringLiteral("txtRetryInterval"), kLongField);
  txtDefaultReturnTo_ = createField(QStringLiteral("txtDefaultReturnTo"), kLongField);
  auto* retry = new QHBoxLayout;
  retry->addWidget(createLabel(QStringLiteral("lblRetry"), tr("Retry"), txtMaxRetry_));
  retry->addWidget(txtMaxRetry_);
  retry->addWidget(createLabel(QStringLiteral("lblTimes"), tr("times"), txtMaxRetry_));
  retry->addStretch();
  auto* layout = new QVBoxLayout(frame);
  layout->addLayout(retry);
  layout->addWidget(createLabel(QStringLiteral("lblRetryInterval"),
                                tr("Interval (use , to separate minutes)"), txtRetryInterval_));
  layout->addWidget(txtRetryInterval_);
  layout->addWidget(createLabel(QStringLiteral("lblDefaultReturnTo"),
                                tr("Return to eMail Address"), txtDefaultReturnTo_));
  layout->addWidget(txtDefaultReturnTo_);
  return frame;
}

void SettingsWindow::createLayout() {
  auto* central = new QWidget(this);
  auto* grid = new QGridLayout(central);
  auto* header = new QHBoxLayout;
  header->addWidget(image1_);
  header->addWidget(lblInfo_, 1);
  grid->addLayout(header, 0, 0, 1, 3);
  grid->addWidget(createLabel(QStringLiteral("lblSpoolDir"), tr("Spool Directory"), txtSpoolDir_),
                  1, 0, 1, 3);
  auto* spoolDir = new QHBoxLayout;
  spoolDir->addWidget(txtSpoolDir_, 1);
  spoolDir->addWidget(cmdSelectSpoolDir_);
  spoolDir->addWidget(cmdShowSpoolDir_);
  grid->addLayout(spoolDir, 2, 0, 1, 3);
  auto* extension = new QHBoxLayout;
  extension->addWidget(createLabel(QStringLiteral("lblExtension"), tr("Extension"), txtExtension_));
  extension->addWidget(txtExtension_);
  extension->addStretch();
  grid->addLayout(extension, 3, 0, 1, 3);
  grid->addWidget(frame1_, 4, 0, 1, 3);
  grid->addWidget(frame2_, 5, 0, 1, 3);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(cmdOK_);
  grid->addLayout(buttons, 6, 0, 1, 3);
  setCentralWidget(central);
  setMinimumWidth(fontMetrics().averageCharWidth() * 72);
}

QAction* SettingsWindow::createAction(const QString& objectName, const QString& text) {
  auto* action = new QAction(text, this);
  action->setObjectName(objectName);
  return action;
}

QAction* SettingsWindow::createSeparator(QMenu* menu, const QString& objectName) {
  QAction* separator = menu->addSeparator();
  separator->setObjectName(objectName);
  return separator;
}

void SettingsWindow::createMenus() {
  QMenu* start = menuBar()->addMenu(tr("&Start"));
  start->setObjectName(QStringLiteral("mnuStart"));
  mServiceSettings_ = createAction(QStringLiteral("mServiceSettings"),
                                   tr("Autostart and Service Settings..."));
  mServiceSettings_->setEnabled(static_cast<bool>(host_.serviceSettings));
  start->addAction(mServiceSettings_);
  ml0_ = createSeparator(start, QStringLiteral("ml0"));
  mSaveSettings_ = createAction(QStringLiteral("mSaveSettings"), tr("Save Settings"));
  start->addAction(mSaveSettings_);
  createSeparator(start, QStringLiteral("ml3"));
  mOK_ = createAction(QStringLiteral("mOK"), tr("&Close"));
  start->addAction(mOK_);
  mServiceSettings_->setVisible(host_.settingsMode);
  ml0_->setVisible(host_.settingsMode);

  QMenu* settings = menuBar()->addMenu(tr("&Settings"));
  settings->setObjectName(QStringLiteral("mnuSettings"));
  mOutputSettings_ = createAction(QStringLiteral("mOutputSettings"), tr("Output Settings..."));
  mSMTPSettings_ = createAction(QStringLiteral("mSMTPSettings"), tr("SMTP Settings..."));
  settings->addAction(mOutputSettings_);
  settings->addAction(mSMTPSettings_);

  QMenu* help = menuBar()->addMenu(tr("Help"));
  help->setObjectName(QStringLiteral("mnuHelp"));
  mnuSpoolerManual_ = createAction(QStringLiteral("mnuSpoolerManual"), tr("Show Spooler Manual"));
  mnuSpoolerManual_->setShortcut(QKeySequence(Qt::Key_F1));
  mnuCOMObjectManual_ =
      createAction(QStringLiteral("mnuCOMObjectManual"), tr("Show COM Object Manual"));
  mnuCOMObjectManual_->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F1));
  help->addAction(mnuSpoolerManual_);
  help->addAction(mnuCOMObjectManual_);
  createSeparator(help, QStringLiteral("ml2"));
  mAbout_ = createAction(QStringLiteral("mAbout"), tr("About Postvane..."));
  help->addAction(mAbout_);
}

void SettingsWindow::setTabOrder() {
  const QWidget* order[] = {txtSpoolDir_,   cmdSelectSpoolDir_, cmdShowSpoolDir_,
                            txtExtension_,   txtDelay_,         checkOnlyIfOnline_,
                            txtMaxRetry_,    txtRetryInterval_, txtDefaultReturnTo_,
                            cmdOK_};
  for (std::size_t i = 1; i < std::size(order); ++i)
    QWidget::setTabOrder(const_cast<QWidget*>(order[i - 1]), const_cast<QWidget*>(order[i]));
}

void SettingsWindow::connectSignals() {
  const auto changed = [this] { edit_->SettingsChanged = true; };
  for (QLineEdit* field : {txtSpoolDir_, txtExtension_, txtDelay_, txtMaxRetry_, txtRetryInterval_,
                           txtDefaultReturnTo_})
    connect(field, &QLineEdit::textChanged, this, changed);
  connect(checkOnlyIfOnline_, &QCheckBox::clicked, this, changed);
  connect(cmdOK_, &QPushButton::clicked, this, &SettingsWindow::closeByCommand);
  connect(mOK_, &QAction::triggered, this, &SettingsWindow::closeByCommand);
  connect(mSaveSettings_, &QAction::triggered, this, &SettingsWindow::SaveSettings);
  connect(mOutputSettings_, &QAction::triggered, this, &SettingsWindow::openOutputSettings);
  connect(mSMTPSettings_, &QAction::triggered, this, &SettingsWindow::openSmtpSettings);
  connect(mServiceSettings_, &QAction::triggered, this, &SettingsWindow::openServiceSettings);
  connect(mnuSpoolerManual_, &QAction::triggered, this,
          [this] { ShowHelp(this, QStringLiteral("Spooler.htm"), QStringLiteral("MainSettings")); });
  connect(mnuCOMObjectManual_, &QAction::triggered, this,
          [this] { ShowHelp(this, QStringLiteral("COMObject.htm"), QStringLiteral("COM1")); });
  connect(mAbout_, &QAction::triggered, this, [this] { ShowAboutBox(this, true); });
  connect(cmdSelectSpoolDir_, &QPushButton::clicked, this, &SettingsWindow::selectSpoolDirectory);
  connect(cmdShowSpoolDir_, &QPushButton::clicked, this,
          [this] { OpenFolder(txtSpoolDir_->text()); });
}

void SettingsWindow::loadFields() {
  const std::string& file = edit_->workingCopy();
  const SettingsDefaults& defaults = host_.defaults;
  txtSpoolDir_->setText(Q(ReadSettingString(file, kSettingsSection, "DefaultSpoolDir",
                                            RemoveTrailingSeparator(defaults.ProgramDirectory))));
  txtExtension_->setText(
      Q(ReadSettingString(file, kSettingsSection, "DefaultExtension", kDefaultSpoolExtension)));
  txtDelay_->setText(
      QString::number(ReadSettingLong(file, kSpoolerSection, "UpDelay", kDefaultDelay)));
  txtRetryInterval_->setText(
      Q(ReadSettingString(file, kSpoolerSection, "RetryInterval", kDefaultRetryInterval)));
  txtMaxRetry_->setText(QString::number(
      ReadSettingLong(file, kSpoolerSection, "MaxretryCount", kDefaultMaxRetryCount)));
  txtDefaultReturnTo_->setText(Q(ReadSettingString(file, kSettingsSection, "DefaultReturnTo",
                                                   defaults.DefaultReturnAddress)));
  checkOnlyIfOnline_->setChecked(ReadSettingBool(file, kSpoolerSection, "OnlyIfOnline", false));
}

void SettingsWindow::showRunMode() {
  lblInfo_->setText(RunModeLine(host_.settingsMode, host_.remoteSession, host_.isService));
}

bool SettingsWindow::validateAndStore() {
  QString problem;
  if (!DirectoryExists(S(txtSpoolDir_->text())))
    problem = tr("Spool Directory does not exist.");
  else if (SettingTextToLong(S(txtDelay_->text())) < 60)
    problem = tr("The time between two checks should be at least 60 seconds.");
  else if (txtRetryInterval_->text().isEmpty())
    problem = tr("There should be at least one value in Retry Interval.");
  else if (txtExtension_->text().isEmpty())
    problem = tr("The extension of the mime files should be at least one char long.");
  if (!problem.isEmpty()) {
    ShowCritical(this, problem);
    return false;
  }
  return storeFields();
}

// The fields into the working copy, in their order; a refused write is told and stops.
bool SettingsWindow::storeFields() {
  WorkingCopyWrites writes(edit_->workingCopy());
  const auto number = [](const QLineEdit* field) {
    return QString::number(SettingTextToLong(S(field->text())));
  };
  writes.String(kSpoolerSection, "UpDelay", number(txtDelay_));
  writes.String(kSettingsSection, "DefaultSpoolDir", txtSpoolDir_->text());
  writes.String(kSettingsSection, "DefaultExtension", txtExtension_->text());
  writes.String(kSpoolerSection, "RetryInterval", txtRetryInterval_->text());
  writes.String(kSpoolerSection, "MaxRetryCount", number(txtMaxRetry_));
  writes.String(kSettingsSection, "DefaultReturnTo", txtDefaultReturnTo_->text());
  writes.Bool(kSpoolerSection, "OnlyIfOnline", checkOnlyIfOnline_->isChecked());
  if (!writes.ok()) ShowWriteFailure(this, edit_->workingCopy(), writes.failedKey());
  return writes.ok();
}

// Copies the working copy back; on failure tells where the backup is.
bool SettingsWindow::copyBack() {
  bool saved = false;
  {
    WaitCursor wait;
    saved = edit_->Save();
  }
  if (saved) return true;
  ShowMessage(this, {QMessageBox::NoIcon,
                     tr("There was a critical error. ") + tr("Postvane") + tr(" was not able to access '") +
                         Q(edit_->settingsFile()) + tr("'. There is a backup of your settings in '") +
                         Q(edit_->workingCopy()) + tr("'.")});
  return false;
}

void SettingsWindow::afterSave() {
  if (!host_.settingsMode && host_.reload) host_.reload();
  // A service that read the saved settings again needs no restart.
  const bool reloaded = host_.reloadService && host_.reloadService();
  offerServiceAction(!reloaded);
}

void SettingsWindow::offerServiceAction(bool saved) {
  const bool editsTheService = host_.settingsMode || host_.reloadService;
  if (editsTheService && host_.service) OfferServiceAction(this, *host_.service, saved);
}

bool SettingsWindow::ConfirmClose() {
  setClosingEnabled(false);
  bool mayClose = false;
  if (validateAndStore()) {
    if (!edit_->SettingsChanged) {
      offerServiceAction(false);
      edit_->RemoveWorkingCopy();
      mayClose = true;
    } else {
      const QMessageBox::StandardButton answer = ShowMessage(
          this, {QMessageBox::Question, tr("Do you want to save and use the changed settings?"),
                 QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel});
      if (answer == QMessageBox::Yes) {
        if (copyBack()) {
          afterSave();
          edit_->RemoveWorkingCopy();
        }
        mayClose = true;
      } else if (answer == QMessageBox::No) {
        offerServiceAction(false);
        edit_->RemoveWorkingCopy();
        mayClose = true;
      }
    }
  }
  setClosingEnabled(true);
  return mayClose;
}

void SettingsWindow::SaveSettings() {
  if (!AskYesNo(this, tr("Save and activate all settings?"))) return;
  if (!validateAndStore() || !copyBack()) return;
  afterSave();
  edit_->SettingsChanged = false;
  ShowInformation(this, tr("Settings successfully saved."));
}

void SettingsWindow::SaveBeforeEnd() {
  if (!edit_->SettingsChanged) return;
  if (!AskYesNo(this, tr("Do you want to save and use the changed settings?"))) return;
  if (validateAndStore() && copyBack()) {
    edit_->SettingsChanged = false;
    edit_->RemoveWorkingCopy();
  }
}

void SettingsWindow::setClosingEnabled(bool enabled) {
  cmdOK_->setEnabled(enabled);
  mOK_->setEnabled(enabled);
}

void SettingsWindow::closeByCommand() {
  if (!ConfirmClose()) return;
  confirmed_ = true;
  close();
}

void SettingsWindow::closeEvent(QCloseEvent* event) {
  // The close box asks first; a close by the program (the spooler ends) does not.
  if (!confirmed_ && event->spontaneous() && !ConfirmClose()) {
    event->ignore();
    return;
  }
  event->accept();
}

bool SettingsWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == image1_ && event->type() == QEvent::MouseButtonDblClick) {
    if (host_.spoolNow) host_.spoolNow();
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

void SettingsWindow::openOutputSettings() {
  OutputSettingsDialog dialog(*edit_, host_.defaults, this);
  dialog.exec();
}

void SettingsWindow::openSmtpSettings() {
  SmtpSettingsDialog dialog(*edit_, host_.defaults, this);
  dialog.exec();
}

void SettingsWindow::openServiceSettings() {
  if (host_.serviceSettings && !host_.serviceSettings()) close();
}

void SettingsWindow::selectSpoolDirectory() {
  const QString chosen = BrowseForFolder(this, tr("Select Spool Directory"), txtSpoolDir_->text());
  if (!chosen.isEmpty()) txtSpoolDir_->setText(chosen);
}

QString EditOpenFailureText(const SettingsEdit::OpenResult& result,
                            const std::string& settingsFile) {
  const QString file = Q(settingsFile);
  switch (result.failure) {
    case SettingsEdit::OpenFailure::Locked:
      return QObject::tr("The settings in '%1' are being edited in another window (%2). Close "
                         "that window first.")
          .arg(file, result.detail);
    case SettingsEdit::OpenFailure::Unreadable:
      return QObject::tr("The settings file '%1' cannot be read (%2). It is left as it is; the "
                         "settings window opens once the file can be read.")
          .arg(file, result.detail);
    case SettingsEdit::OpenFailure::NoLock:
    case SettingsEdit::OpenFailure::NoWorkingCopy:
      return QObject::tr("The settings in '%1' cannot be edited: the working copy beside it "
                         "cannot be written (%2).")
          .arg(file, result.detail);
    case SettingsEdit::OpenFailure::None: break;
  }
  return {};
}

SettingsWindow* ShowSettingsWindow(const SettingsWindowHost& host, QWidget* owner) {
  QPointer<SettingsWindow>& window = TheWindow();
  if (!window) {
    SettingsEdit::OpenResult opened = SettingsEdit::Open(host.settingsFile, host.workingCopy);
    if (!opened.edit) {
      ShowCritical(owner, EditOpenFailureText(opened, host.settingsFile));
      return nullptr;
    }
    window = new SettingsWindow(host, std::move(opened.edit), owner);
    window->setAttribute(Qt::WA_DeleteOnClose);
  }
  if (window->isMinimized()) window->showNormal();
  window->show();
  window->raise();
  window->activateWindow();
  return window;
}

SettingsWindow* OpenSettingsWindow() { return TheWindow(); }

}  // namespace pv
