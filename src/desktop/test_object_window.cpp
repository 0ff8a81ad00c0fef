#include "desktop/test_object_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "desktop/dialog_plumbing.h"
#include "desktop/message_box.h"
#include "scripting/client/test_mail.h"
#include "platform/system_info.h"
#include "pv_version.h"
#include "scripting/client/spool_tool_object.h"
#include "settings/blanked_copy.h"
#include "settings/ini_store.h"
#include "shell/settings_state.h"
#include "shell/startup.h"
#include "support/paths.h"
#include "support/text.h"

namespace pv {
namespace {

constexpr int kAddressWidthChars = 48;

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }

// A path as compared: canonical when it exists, else cleaned and absolute (never a separator at
// the end, except for the root itself).
QString ComparablePath(const QString& path) {
  const QFileInfo info(path);
  const QString canonical = info.canonicalFilePath();
  return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

QString ErrorText(const QString& text) { return QObject::tr("An Error occured. ") + "\n\n" + text; }

QString WarningText(const QString& spoolDir, const QString& comDir) {
  return QObject::tr("Warning. The spooler directory of the Spooler and the COM-Object are not the same!") +
         "\n\n\t" + QObject::tr("Postvane Spooler:") + '\t' + spoolDir + "\n\t" +
         QObject::tr("Postvane COM-Object:") + '\t' + comDir + "\n\n" +
         QObject::tr("The COM-Object might not be able to find or access 'pvx.start'.");
}

QString SuccessText(const QString& file) {
  return QObject::tr("A test mime file named") + "\n\n" + file + "\n\n" +
         QObject::tr("was successfully created. ") +
         QObject::tr("The eMail will send out with the next spooler cycle.");
}

QPointer<TestObjectWindow>& TheWindow() {
  static QPointer<TestObjectWindow> window;
  return window;
}

}  // namespace

// While a test runs: the wait cursor, both buttons off, closing refused.
class TestObjectWindow::BusyScope {
 public:
  explicit BusyScope(TestObjectWindow& window) : window_(window) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    window_.busy_ = true;
    window_.cmdOK_->setEnabled(false);
    window_.cmdCancel_->setEnabled(false);
  }
  ~BusyScope() {
    window_.cmdOK_->setEnabled(true);
    window_.cmdCancel_->setEnabled(true);
    window_.busy_ = false;
    QApplication::restoreOverrideCursor();
  }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  TestObjectWindow& window_;
};

MachineNames CurrentMachineNames() {
  return {GetComputerName(), GetLogonDomain(), GetWorkgroupName()};
}

TestObjectHost TestObjectHostOf(const StartupValues& startup, bool startedAsService) {
  TestObjectHost host;
  host.settingsFile = startup.SettingsFile;
  host.defaults = SettingsDefaultsOf(startup);
  host.programPath = startup.ProgramPath;
  host.remoteSession = IsRemoteSession();
  host.debugMode = startup.DebugMode;
  host.quietMode = startup.QuietMode;
  host.startedAsService = startedAsService;
  return host;
}

bool SameDirectory(const QString& a, const QString& b) { return ComparablePath(a) == ComparablePath(b); }

TestObjectWindow::TestObjectWindow(TestObjectHost host, QWidget* parent)
    : QDialog(parent), host_(std::move(host)) {
  setObjectName(QStringLiteral("frmTestObject"));
  setWindowTitle(tr("Postvane COM Object Test"));
  createControls();
  createLayout();
  connectControls();
  loadAddress();
  adjustSize();
  CenterOnScreen(this);
}

TestObjectWindow::~TestObjectWindow() = default;

void TestObjectWindow::createControls() {
  label1_ = new QLabel(tr("Create Test Mime for eMail Address"), this);
  label1_->setObjectName(QStringLiteral("label1"));
  txteMailAddress_ = new QLineEdit(this);
  txteMailAddress_->setObjectName(QStringLiteral("txteMailAddress"));
  txteMailAddress_->setMinimumWidth(txteMailAddress_->fontMetrics().averageCharWidth() * kAddressWidthChars);
  label1_->setBuddy(txteMailAddress_);
  cmdOK_ = new QPushButton(tr("OK"), this);
  cmdOK_->setObjectName(QStringLiteral("cmdOK"));
  cmdOK_->setDefault(true);
  cmdCancel_ = new QPushButton(tr("Cancel"), this);
  cmdCancel_->setObjectName(QStringLiteral("cmdCancel"));
}

void TestObjectWindow::createLayout() {
  QHBoxLayout* buttons = RightAlignedRow({cmdOK_, cmdCancel_});
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label1_);
  layout->addWidget(txteMailAddress_);
  layout->addLayout(buttons);
}

void TestObjectWindow::connectControls() {
  connect(cmdOK_, &QPushButton::clicked, this, &TestObjectWindow::runTest);
  connect(cmdCancel_, &QPushButton::clicked, this, &TestObjectWindow::close);
}

void TestObjectWindow::loadAddress() {
  txteMailAddress_->setText(Q(ReadSettingString(host_.settingsFile, kSpoolerSection, "TestAddress",
                                                host_.defaults.DefaultReturnAddress)));
}

void TestObjectWindow::reject() {
  if (!busy_) QDialog::reject();
}

void TestObjectWindow::closeEvent(QCloseEvent* event) {
  // A test waits for the tool with the event loop running: the window must outlive it.
  if (busy_) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void TestObjectWindow::runTest() {
  if (busy_) return;
  std::unique_ptr<ScriptingObject> object;
  Outcome outcome;
  {
    const BusyScope busy(*this);
    const QString address = txteMailAddress_->text();
    WriteSettingString(host_.settingsFile, kSpoolerSection, "TestAddress", S(address));
    object = makeObject();
    outcome = runSteps(*object, address);
  }
  if (!outcome.succeeded) {
    ShowMessage(this, outcome.message);
    return;
  }
  // The box and the run request let events through: the window may be closed meanwhile.
  const QPointer<TestObjectWindow> self(this);
  ShowInformation(this, SuccessText(outcome.file));
  object->RunSpooler();
  if (self) close();
}

TestObjectWindow::Outcome TestObjectWindow::runSteps(ScriptingObject& object, const QString& address) {
  if (const QString error = object.Create(); !error.isEmpty()) return Failure(error);
  if (!object.Trace(dnsUrl(), address)) return Failure(object.Protocol());
  const Directories dirs = directories();
  {
    // The copy lives only as long as the spool call that reads it.
    const BlankedSettingsCopy copy(host_.settingsFile);
    if (!copy.ok()) return Failure(Q(copy.error()));
    if (!object.Spool(TestMailSubject(), address, mailText(dirs), Q(copy.path())))
      return Failure(object.LastResultMsg());
  }
  Outcome outcome;
  outcome.file = object.LastResultMsg();
  const QString comDir = Q(RemoveTrailingSeparator(DirectoryPart(S(outcome.file))));
  if (!SameDirectory(comDir, dirs.spoolDir)) {
    // Nobody would send it: the spooler does not watch that directory.
    DeleteFileIfExists(S(outcome.file));
    outcome.message = {QMessageBox::Critical, WarningText(dirs.spoolDir, comDir)};
    return outcome;
  }
  outcome.succeeded = true;
  return outcome;
}

TestObjectWindow::Outcome TestObjectWindow::Failure(const QString& text) {
  Outcome outcome;
  outcome.message = {QMessageBox::NoIcon, ErrorText(text)};
  return outcome;
}

QString TestObjectWindow::dnsUrl() const {
  const std::string dns =
      ReadSettingString(host_.settingsFile, kSettingsSection, "DNSServer", kSystemDnsServers);
  return Q(EqualsNoCase(dns, kSystemDnsServers) ? host_.defaults.SystemDNSServers : dns);
}

TestObjectWindow::Directories TestObjectWindow::directories() const {
  std::string spool = ReadSettingString(host_.settingsFile, kSettingsSection, "DefaultSpoolDir", "");
  // An empty entry means the default, as the spooler loads it.
  if (spool.empty()) spool = host_.defaults.ProgramDirectory;
  const std::string log = ReadSettingString(
      host_.settingsFile, kSpoolerSection, "LogFileDir",
      host_.defaults.LogDirectory.empty() ? spool : host_.defaults.LogDirectory);
  return {Q(RemoveTrailingSeparator(spool)), Q(RemoveTrailingSeparator(log))};
}

QString TestObjectWindow::mailText(const Directories& dirs) const {
  const MachineNames names = host_.machineNames ? host_.machineNames() : CurrentMachineNames();
  TestMailFacts facts;
  facts.date = Q(FormatGeneralDate(host_.now ? host_.now() : LocalDateTime::Now()));
  facts.version = VersionText(QStringLiteral(POSTVANE_VERSION));
  facts.computerName = Q(names.computerName);
  facts.domainName = Q(names.domainName);
  facts.workgroupName = Q(names.workgroupName);
  facts.spoolDir = dirs.spoolDir;
  facts.logDir = dirs.logDir;
  facts.remoteMode = host_.remoteSession;
  facts.debugMode = host_.debugMode;
  facts.quietMode = host_.quietMode;
  facts.startedAsService = host_.startedAsService;
  facts.settingsFile = Q(host_.settingsFile);
  return TestMailText(facts);
}

std::unique_ptr<ScriptingObject> TestObjectWindow::makeObject() const {
  if (host_.scriptingObject) return host_.scriptingObject();
  return std::make_unique<SpoolToolObject>(Q(host_.programPath));
}

TestObjectWindow* ShowTestObjectWindow(const TestObjectHost& host) {
  QPointer<TestObjectWindow>& window = TheWindow();
  if (!window) {
    window = new TestObjectWindow(host);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setModal(false);
  }
  if (window->isMinimized()) window->showNormal();
  window->show();
  window->raise();
  window->activateWindow();
  return window;
}

}  // namespace pv
