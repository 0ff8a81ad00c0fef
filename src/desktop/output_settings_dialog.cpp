#include "desktop/output_settings_dialog.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "desktop/dialog_plumbing.h"
#include "desktop/help_key.h"
#include "desktop/message_box.h"
#include "desktop/settings_edit.h"
#include "desktop/working_copy_writes.h"
#include "settings/ini_store.h"
#include "support/paths.h"

namespace pv {
namespace {

// The dialog's own default; the record's load spells the variables in lower case, which names
// the same file.
constexpr std::string_view kDialogLogFileName = "PVX-Year$-Month$-Day$.csv";
constexpr int kFieldLimit = 256;

QString ReadString(const std::string& file, std::string_view key, std::string_view defaultValue) {
  return QString::fromStdString(ReadSettingString(file, kSpoolerSection, key, defaultValue));
}

}  // namespace

OutputSettingsDialog::OutputSettingsDialog(SettingsEdit& edit, const SettingsDefaults& defaults,
                                           QWidget* owner)
    : QDialog(owner), edit_(edit), help_(&ShowHelp) {
  setObjectName(QStringLiteral("frmOutputSettings"));
  setWindowTitle(tr("Output Settings"));
  if (owner) setWindowIcon(owner->windowIcon());
  createLayout();
  connectSignals();
  FilterEventsOfAll(this, this);
  load(defaults);
  adjustSize();
  CenterOverOwner(owner, this);
}

QLabel* OutputSettingsDialog::createLabel(const char* objectName, const QString& text) {
  auto* label = new QLabel(text, this);
  label->setObjectName(QLatin1String(objectName));
  label->setTextFormat(Qt::PlainText);
  return label;
}

QLineEdit* OutputSettingsDialog::createLineEdit(const char* objectName, int maxLength) {
  auto* field = new QLineEdit(this);
  field->setObjectName(QLatin1String(objectName));
  if (maxLength > 0) field->setMaxLength(maxLength);
  return field;
}

QCheckBox* OutputSettingsDialog::createCheckBox(const char* objectName, const QString& text) {
  auto* box = new QCheckBox(text, this);
  box->setObjectName(QLatin1String(objectName));
  return box;
}

QPushButton* OutputSettingsDialog::createButton(const char* objectName, const QString& text) {
  auto* button = new QPushButton(text, this);
  button->setObjectName(QLatin1String(objectName));
  return button;
}

QGroupBox* OutputSettingsDialog::createLogFileFrame() {
  auto* frame = new QGroupBox(tr("CSV Log File"), this);
  frame->setObjectName(QStringLiteral("Frame1"));
  QLabel* dirLabel = createLabel("lblLogFileDir", tr("Log File Directory"));
  txtLogFileDir_ = createLineEdit("txtLogFileDir", kFieldLimit);
  cmdSelectLogDir_ = createButton("cmdSelectLogDir", tr("..."));
  // As narrow as its caption: a button beside the field, not a column of its own.
  cmdSelectLogDir_->setMaximumWidth(cmdSelectLogDir_->fontMetrics().averageCharWidth() * 6);
  QLabel* nameLabel = createLabel("lblLogFileName", tr("Log File Name"));
  txtLogFileName_ = createLineEdit("txtLogFileName", 0);
  QLabel* hint = createLabel("Label2", tr("Available variables for Log File Name:"));
  QLabel* variables = createLabel("lblVariables", tr("Year$, Month$, Week$, Day$, Hour$"));
  chkWriteSuccessCSVLog_ = createCheckBox("chkWriteSuccessCSVLog", tr("Write Success Messages"));
  chkWriteErrorCSVLog_ = createCheckBox("chkWriteErrorCSVLog", tr("Write Error Messages"));
  cmdShowLogs_ = createButton("cmdShowLogs", tr("Open Log Dir..."));
  dirLabel->setBuddy(txtLogFileDir_);
  nameLabel->setBuddy(txtLogFileName_);

  auto* grid = new QGridLayout(frame);
  grid->addWidget(dirLabel, 0, 0);
  grid->addWidget(txtLogFileDir_, 0, 1);
  grid->addWidget(cmdSelectLogDir_, 0, 2);
  grid->addWidget(nameLabel, 1, 0);
  grid->addWidget(txtLogFileName_, 1, 1, 1, 2);
  auto* hintRow = new QHBoxLayout;
  hintRow->addWidget(hint);
  hintRow->addWidget(variables);
  hintRow->addStretch();
  grid->addLayout(hintRow, 2, 0, 1, 3);
  auto* switches = new QHBoxLayout;
  switches->addWidget(chkWriteSuccessCSVLog_);
  switches->addWidget(chkWriteErrorCSVLog_);
  switches->addStretch();
  switches->addWidget(cmdShowLogs_);
  grid->addLayout(switches, 3, 0, 1, 3);
  return frame;
}

QGroupBox* OutputSettingsDialog::createEventLogFrame() {
  auto* frame = new QGroupBox(tr("Windows NT Event Log"), this);
  frame->setObjectName(QStringLiteral("Frame3"));
  // The system log stands in for the event log.
  frame->setToolTip(tr("On Linux the messages go to the system log (journal or syslog)."));
  chkWriteSuccessEventLog_ =
      createCheckBox("chkWriteSuccessEventLog", tr("Write Success Messages"));
  chkWriteErrorEventLog_ = createCheckBox("chkWriteErrorEventLog", tr("Write Error Messages"));
  auto* row = new QHBoxLayout(frame);
  row->addWidget(chkWriteSuccessEventLog_);
  row->addWidget(chkWriteErrorEventLog_);
  row->addStretch();
  return frame;
}

QGroupBox* OutputSettingsDialog::createBalloonFrame() {
  auto* frame = new QGroupBox(tr("System Tray Balloons"), this);
  frame->setObjectName(QStringLiteral("Frame2"));
  frame->setToolTip(tr("On Linux the messages are desktop notifications."));
  chkShowSuccessBalloons_ = createCheckBox("chkShowSuccessBalloons", tr("Show Success Messages"));
  chkShowErrorBalloons_ = createCheckBox("chkShowErrorBalloons", tr("Show Error Messages"));
  auto* row = new QHBoxLayout(frame);
  row->addWidget(chkShowSuccessBalloons_);
  row->addWidget(chkShowErrorBalloons_);
  row->addStretch();
  return frame;
}

void OutputSettingsDialog::createLayout() {
  // Made in reading order, which gives the tab order; the buttons come last.
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(createLogFileFrame());
  layout->addWidget(createEventLogFrame());
  layout->addWidget(createBalloonFrame());
  cmdOK_ = createButton("cmdOK", tr("OK"));
  cmdCancel_ = createButton("cmdCancel", tr("Cancel"));
  cmdHelp_ = createButton("cmdHelp", tr("&Help"));
  cmdOK_->setDefault(true);
  layout->addLayout(RightAlignedRow({cmdOK_, cmdCancel_, cmdHelp_}));
  setMinimumWidth(fontMetrics().averageCharWidth() * 72);
}

void OutputSettingsDialog::connectSignals() {
  connect(cmdOK_, &QPushButton::clicked, this, &OutputSettingsDialog::okClicked);
  connect(cmdCancel_, &QPushButton::clicked, this, &QDialog::reject);
  connect(cmdHelp_, &QPushButton::clicked, this, &OutputSettingsDialog::showHelp);
  connect(cmdSelectLogDir_, &QPushButton::clicked, this, &OutputSettingsDialog::selectLogDirectory);
  connect(cmdShowLogs_, &QPushButton::clicked, this, &OutputSettingsDialog::openLogDirectory);
}

void OutputSettingsDialog::load(const SettingsDefaults& defaults) {
  const std::string& file = edit_.workingCopy();
  const std::string defaultDir = defaults.LogDirectory.empty()
                                     ? RemoveTrailingSeparator(defaults.ProgramDirectory)
                                     : defaults.LogDirectory;
  txtLogFileDir_->setText(ReadString(file, "LogFileDir", defaultDir));
  txtLogFileName_->setText(ReadString(file, "LogFileName", kDialogLogFileName));
  chkWriteErrorCSVLog_->setChecked(
      ReadSettingBool(file, kSpoolerSection, "WriteErrorCSVLog", true));
  chkWriteSuccessCSVLog_->setChecked(
      ReadSettingBool(file, kSpoolerSection, "WriteSuccessCSVLog", true));
  // Notifications and the system log exist wherever the desktop runs: the boxes are always
  // usable, so that OK never switches them off because this session lacks a panel.
  chkShowErrorBalloons_->setChecked(
      ReadSettingBool(file, kSpoolerSection, "ShowErrorBallons", true));
  chkShowSuccessBalloons_->setChecked(
      ReadSettingBool(file, kSpoolerSection, "ShowSuccessBallons", true));
  chkWriteErrorEventLog_->setChecked(
      ReadSettingBool(file, kSpoolerSection, "WriteErrorNTEventLog", true));
  chkWriteSuccessEventLog_->setChecked(
      ReadSettingBool(file, kSpoolerSection, "WriteSuccessNTEventLog", false));
}

bool OutputSettingsDialog::checkFields() {
  if (!DirectoryExists(txtLogFileDir_->text().toStdString())) {
    ShowCritical(this, tr("Log File Directory does not exist."));
    return false;
  }
  if (txtLogFileName_->text().isEmpty()) {
    ShowCritical(this, tr("Log File Name can not be empty"));
    return false;
  }
  return true;
}

void OutputSettingsDialog::okClicked() {
  if (!checkFields()) return;
  WorkingCopyWrites writes(edit_.workingCopy());
  writes.String(kSpoolerSection, "LogFileDir", txtLogFileDir_->text());
  writes.String(kSpoolerSection, "LogFileName", txtLogFileName_->text());
  writes.Bool(kSpoolerSection, "WriteErrorCSVLog", chkWriteErrorCSVLog_->isChecked());
  writes.Bool(kSpoolerSection, "WriteErrorNTEventLog", chkWriteErrorEventLog_->isChecked());
  writes.Bool(kSpoolerSection, "WriteSuccessCSVLog", chkWriteSuccessCSVLog_->isChecked());
  writes.Bool(kSpoolerSection, "WriteSuccessNTEventLog", chkWriteSuccessEventLog_->isChecked());
  writes.Bool(kSpoolerSection, "ShowSuccessBallons", chkShowSuccessBalloons_->isChecked());
  writes.Bool(kSpoolerSection, "ShowErrorBallons", chkShowErrorBalloons_->isChecked());
  if (!writes.ok()) {
    ShowWriteFailure(this, edit_.workingCopy(), writes.failedKey());
    return;
  }
  edit_.SettingsChanged = true;
  accept();
}

void OutputSettingsDialog::selectLogDirectory() {
  const QString chosen =
      BrowseForFolder(this, tr("Select Logfile Directory"), txtLogFileDir_->text());
  if (!chosen.isEmpty()) txtLogFileDir_->setText(chosen);
}

void OutputSettingsDialog::openLogDirectory() { OpenFolder(txtLogFileDir_->text()); }

void OutputSettingsDialog::showHelp() {
  if (help_) help_(this, QStringLiteral("spooler.htm"), QStringLiteral("OutputSettings"));
}

bool OutputSettingsDialog::eventFilter(QObject* watched, QEvent* event) {
  if (IsHelpKey(event)) {
    showHelp();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace pv
