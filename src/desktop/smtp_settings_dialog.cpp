#include "desktop/smtp_settings_dialog.h"

#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <array>

#include "desktop/dialog_plumbing.h"
#include "desktop/help_key.h"
#include "desktop/message_box.h"
#include "desktop/settings_edit.h"
#include "desktop/working_copy_writes.h"
#include "settings/ini_store.h"
#include "settings/setting_cipher.h"
#include "settings/system_proxy.h"
#include "support/server_address.h"
#include "support/text.h"

namespace pv {
namespace {

constexpr int kFieldLimit = 256;
constexpr int kPortLimit = 5;

// The proxy list's entries by index and the text each writes to Spooler/ProxyType.
struct ProxyTypeEntry {
  const char* caption;
  const char* stored;
};
constexpr std::array<ProxyTypeEntry, 4> kProxyTypes = {{
    {QT_TRANSLATE_NOOP("pv::SmtpSettingsDialog", "None"), "NONE"},
    {QT_TRANSLATE_NOOP("pv::SmtpSettingsDialog", "Socks 4"), "SOCKS4"},
    {QT_TRANSLATE_NOOP("pv::SmtpSettingsDialog", "Socks 5 No Auth"), "SOCKS5NOAUTH"},
    {QT_TRANSLATE_NOOP("pv::SmtpSettingsDialog", "Socks 5"), "SOCKS5AUTH"},
}};

struct RelaySecurityEntry {
  const char* caption;
  RelaySecurityMode mode;
};
constexpr std::array<RelaySecurityEntry, 4> kRelaySecurities = {{
    {QT_TRANSLATE_NOOP("pv::SmtpSettingsDialog", "Automatic (STARTTLS when offered)"),
     RelaySecurityMode::Auto},
    {QT_TRANSLATE_NOOP("pv::SmtpSettingsDialog", "STARTTLS required"), RelaySecurityMode::StartTls},
    {QT_TRANSLATE_NOOP("pv::SmtpSettingsDialog", "TLS from the start"), RelaySecurityMode::Tls},
    {QT_TRANSLATE_NOOP("pv::SmtpSettingsDialog", "None"), RelaySecurityMode::None},
}};

// The stored ProxyType, lower-cased, as a list index; anything unknown is "None".
int ProxyTypeIndex(const std::string& stored) {
  const std::string lower = ToLowerAscii(stored);
  if (lower == "socks4") return 1;
  if (lower == "socks5noauth" || lower == "socks5") return 2;
  if (lower == "socks5auth") return 3;
  return 0;
}

QString ReadString(const std::string& file, std::string_view section, std::string_view key,
                   std::string_view defaultValue) {
  return QString::fromStdString(ReadSettingString(file, section, key, defaultValue));
}

}  // namespace

bool IsDnsServerList(const QString& list) {
  for (const QString& item : list.split(QLatin1Char(','))) {
    const QString trimmed = item.trimmed();
    if (trimmed.isEmpty() || CanonicalDnsServer(trimmed.toStdString()).empty()) return false;
  }
  return true;
}

ProxyServerFields SplitProxyServer(const QString& server) {
  const qsizetype close =
      server.startsWith(QLatin1Char('[')) ? server.indexOf(QLatin1Char(']')) : -1;
  const qsizetype colon = server.indexOf(QLatin1Char(':'), close < 0 ? 0 : close);
  const QString host = colon < 0 ? server : server.left(colon);
  const QString after = colon < 0 ? server : server.mid(colon + 1);
  return {host, QString::number(SettingTextToLong(after.toStdString()))};
}

SmtpSettingsDialog::SmtpSettingsDialog(SettingsEdit& edit, const SettingsDefaults& defaults,
                                       QWidget* owner)
    : QDialog(owner), edit_(edit), help_(&ShowHelp) {
  setObjectName(QStringLiteral("frmSMTPSettings"));
  setWindowTitle(tr("SMTP Settings"));
  if (owner) setWindowIcon(owner->windowIcon());
  createLayout();
  connectSignals();
  FilterEventsOfAll(this, this);
  load(defaults);
  adjustSize();
  CenterOverOwner(owner, this);
}

QLabel* SmtpSettingsDialog::createLabel(const char* objectName, const QString& text,
                                        QWidget* buddy) {
  auto* label = new QLabel(text, this);
  label->setObjectName(QLatin1String(objectName));
  label->setTextFormat(Qt::PlainText);
  label->setBuddy(buddy);
  return label;
}

QLineEdit* SmtpSettingsDialog::createLineEdit(const char* objectName, int maxLength) {
  auto* field = new QLineEdit(this);
  field->setObjectName(QLatin1String(objectName));
  field->setMaxLength(maxLength);
  return field;
}

QLineEdit* SmtpSettingsDialog::createPasswordBox(const char* objectName) {
  QLineEdit* box = createLineEdit(objectName, kFieldLimit);
  box->setEchoMode(QLineEdit::Password);
  // "*" for every character, whatever the style would show.
  box->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
  return box;
}

QComboBox* SmtpSettingsDialog::createComboBox(const char* objectName) {
  auto* list = new QComboBox(this);
  list->setObjectName(QLatin1String(objectName));
  list->setEditable(false);
  return list;
}

QPushButton* SmtpSettingsDialog::createButton(const char* objectName, const QString& text) {
  auto* button = new QPushButton(text, this);
  button->setObjectName(QLatin1String(objectName));
  return button;
}

void SmtpSettingsDialog::createHostFields(QVBoxLayout* layout) {
  txtSenderHostName_ = createLineEdit("txtSenderHostName", kFieldLimit);
  txtRelayHostName_ = createLineEdit("txtRelayHostName", kFieldLimit);
  txtRelayUser_ = createLineEdit("txtRelayUser", kFieldLimit);
  txtRelayPassword0_ = createPasswordBox("txtRelayPassword(0)");
  txtRelayPassword1_ = createPasswordBox("txtRelayPassword(1)");
  cboRelaySecurity_ = createComboBox("cboRelaySecurity");
  const std::array<std::pair<QWidget*, QLabel*>, 6> rows = {{
      {txtSenderHostName_,
       createLabel("lblSenderHostName", tr("Sender Hostname"), txtSenderHostName_)},
      {txtRelayHostName_,
       createLabel("lblRelayHostName", tr("Relay Hostname (optional)"), txtRelayHostName_)},
      {txtRelayUser_, createLabel("lblRelayUser", tr("Relay User"), txtRelayUser_)},
      {txtRelayPassword0_,
       createLabel("lblRelayPassword(0)", tr("Relay Password"), txtRelayPassword0_)},
      {txtRelayPassword1_,
       createLabel("lblRelayPassword(1)", tr("Verify Relay Password"), txtRelayPassword1_)},
      {cboRelaySecurity_, createLabel("lblRelaySecurity", tr("Relay Security"), cboRelaySecurity_)},
  }};
  auto* grid = new QGridLayout;
  int row = 0;
  for (const auto& [field, label] : rows) {
    grid->addWidget(label, row, 0);
    grid->addWidget(field, row++, 1);
  }
  layout->addLayout(grid);
}

QGroupBox* SmtpSettingsDialog::createDnsFrame() {
  auto* frame = new QGroupBox(tr("DNS Server"), this);
  frame->setObjectName(QStringLiteral("Frame1"));
  // Parented to the frame, so that the two options exclude each other there only.
  optDNS0_ = new QRadioButton(tr("Use System DNS Servers from System Settings"), frame);
  optDNS0_->setObjectName(QStringLiteral("optDNS(0)"));
  optDNS1_ = new QRadioButton(tr("Use these DNS Servers"), frame);
  optDNS1_->setObjectName(QStringLiteral("optDNS(1)"));
  txtDNSServer_ = createLineEdit("txtDNSServer", kFieldLimit);
  auto* column = new QVBoxLayout(frame);
  column->addWidget(optDNS0_);
  column->addWidget(optDNS1_);
  column->addWidget(createLabel(
      "lblDNSServer", tr("DNS Server IPs ( , separates multiple entries)"), txtDNSServer_));
  column->addWidget(txtDNSServer_);
  return frame;
}

QGroupBox* SmtpSettingsDialog::createProxyFrame() {
  auto* frame = new QGroupBox(tr("Proxy"), this);
  frame->setObjectName(QStringLiteral("frameProxy"));
  cboProxyType_ = createComboBox("cboProxyType");
  txtProxyURL_ = createLineEdit("txtProxyURL", kFieldLimit);
  txtProxyPort_ = createLineEdit("txtProxyPort", kPortLimit);
  txtProxyUser_ = createLineEdit("txtProxyUser", kFieldLimit);
  txtProxyPassword0_ = createPasswordBox("txtProxyPassword(0)");
  txtProxyPassword1_ = createPasswordBox("txtProxyPassword(1)");
  auto* grid = new QGridLayout(frame);
  grid->addWidget(createLabel("lblProxyType", tr("Type"), cboProxyType_), 0, 0);
  grid->addWidget(cboProxyType_, 0, 1, 1, 3);
  grid->addWidget(createLabel("lblProxyURL", tr("URL"), txtProxyURL_), 1, 0);
  grid->addWidget(txtProxyURL_, 1, 1);
  grid->addWidget(createLabel("lblProxyPort", tr("Port"), txtProxyPort_), 1, 2);
  grid->addWidget(txtProxyPort_, 1, 3);
  grid->addWidget(createLabel("lblProxyUser", tr("User"), txtProxyUser_), 2, 0);
  grid->addWidget(txtProxyUser_, 2, 1, 1, 3);
  grid->addWidget(createLabel("lblProxyPassword(0)", tr("Password"), txtProxyPassword0_), 3, 0);
  grid->addWidget(txtProxyPassword0_, 3, 1, 1, 3);
  grid->addWidget(createLabel("lblProxyPassword(1)", tr("Verify Password"), txtProxyPassword1_), 4,
                  0);
  grid->addWidget(txtProxyPassword1_, 4, 1, 1, 3);
  txtProxyPort_->setMaximumWidth(fontMetrics().averageCharWidth() * 10);
  return frame;
}

void SmtpSettingsDialog::createLayout() {
  // Made in reading order, which gives the tab order; the buttons come last.
  auto* layout = new QVBoxLayout(this);
  createHostFields(layout);
  layout->addWidget(createDnsFrame());
  layout->addWidget(createProxyFrame());
  cmdOK_ = createButton("cmdOK", tr("OK"));
  cmdCancel_ = createButton("cmdCancel", tr("Cancel"));
  cmdHelp_ = createButton("cmdHelp", tr("&Help"));
  cmdOK_->setDefault(true);
  layout->addLayout(RightAlignedRow({cmdOK_, cmdCancel_, cmdHelp_}));
  for (const auto& entry : kRelaySecurities)
    cboRelaySecurity_->addItem(tr(entry.caption),
                               QString::fromLatin1(RelaySecurityName(entry.mode)));
  setMinimumWidth(fontMetrics().averageCharWidth() * 64);
}

void SmtpSettingsDialog::connectSignals() {
  connect(cmdOK_, &QPushButton::clicked, this, &SmtpSettingsDialog::okClicked);
  connect(cmdCancel_, &QPushButton::clicked, this, &QDialog::reject);
  connect(cmdHelp_, &QPushButton::clicked, this, &SmtpSettingsDialog::showHelp);
  connect(cboProxyType_, &QComboBox::currentIndexChanged, this,
          &SmtpSettingsDialog::proxyTypeChanged);
  connect(optDNS1_, &QRadioButton::toggled, txtDNSServer_, &QLineEdit::setEnabled);
}

void SmtpSettingsDialog::load(const SettingsDefaults& defaults) {
  const std::string& file = edit_.workingCopy();
  txtSenderHostName_->setText(
      ReadString(file, kSpoolerSection, "SenderHostName", defaults.DefaultSenderHostName));
  txtRelayHostName_->setText(ReadString(file, kSpoolerSection, "RelayHostName", ""));
  txtRelayUser_->setText(ReadString(file, kSpoolerSection, "RelayUser", ""));
  const RelaySecurityMode security =
      RelaySecurityFromText(ReadSettingString(file, kSpoolerSection, "RelaySecurity", "auto"));
  cboRelaySecurity_->setCurrentIndex(
      cboRelaySecurity_->findData(QString::fromLatin1(RelaySecurityName(security))));
  MakeDigitsOnly(txtProxyPort_);
  for (const auto& entry : kProxyTypes) cboProxyType_->addItem(tr(entry.caption));
  // The stored passwords are never read into the dialog.
  for (QLineEdit* box :
       {txtRelayPassword0_, txtRelayPassword1_, txtProxyPassword0_, txtProxyPassword1_})
    box->setText(QLatin1String(kPasswordPlaceholder));
  loadProxy();
  loadDns(defaults);
}

void SmtpSettingsDialog::loadProxy() {
  const std::string& file = edit_.workingCopy();
  cboProxyType_->setCurrentIndex(
      ProxyTypeIndex(ReadSettingString(file, kSpoolerSection, "ProxyType", "NoProxy")));
  // Index 0 is already current after the fill, so no change fires for it.
  proxyTypeChanged(cboProxyType_->currentIndex());
  const ProxyServerFields server =
      SplitProxyServer(ReadString(file, kSpoolerSection, "ProxyServer", GetSystemSocksProxy()));
  txtProxyPort_->setText(server.port);
  txtProxyURL_->setText(server.host);
  txtProxyUser_->setText(ReadString(file, kSpoolerSection, "ProxyUser", ""));
}

void SmtpSettingsDialog::loadDns(const SettingsDefaults& defaults) {
  const std::string stored =
      ReadSettingString(edit_.workingCopy(), kSettingsSection, "DNSServer", kSystemDnsServers);
  const bool own = !EqualsNoCase(stored, kSystemDnsServers);
  // The system's servers are shown for information only.
  txtDNSServer_->setText(QString::fromStdString(own ? stored : defaults.SystemDNSServers));
  QRadioButton* selected = own ? optDNS1_ : optDNS0_;
  QRadioButton* other = own ? optDNS0_ : optDNS1_;
  selected->setChecked(true);
  // Tab enters the group at the selected option (the arrows move between the two); Qt would
  // otherwise stop at whichever option gets the focus first.
  other->setFocusPolicy(static_cast<Qt::FocusPolicy>(other->focusPolicy() & ~Qt::TabFocus));
  txtDNSServer_->setEnabled(own);
}

void SmtpSettingsDialog::proxyTypeChanged(int index) {
  const bool server = index >= 1;
  const bool login = index == 3;
  txtProxyURL_->setEnabled(server);
  txtProxyPort_->setEnabled(server);
  txtProxyUser_->setEnabled(login);
  txtProxyPassword0_->setEnabled(login);
  txtProxyPassword1_->setEnabled(login);
}

bool SmtpSettingsDialog::checkFields(QString& dnsList) {
  if (txtProxyPassword0_->text() != txtProxyPassword1_->text() ||
      txtRelayPassword0_->text() != txtRelayPassword1_->text()) {
    ShowCritical(this, tr("The passwords do not match"));
    return false;
  }
  if (optDNS0_->isChecked()) {
    dnsList = QString::fromLatin1(kSystemDnsServers.data(), kSystemDnsServers.size());
    return true;
  }
  dnsList = txtDNSServer_->text();
  if (dnsList.isEmpty()) {
    ShowCritical(
        this,
        tr("The option 'Use this DNS Servers' does not allow 'Host Names or IPs' to be empty."));
    return false;
  }
  if (!IsDnsServerList(dnsList)) {
    ShowInformation(this, tr("Please enter only IP Numbers."));
    return false;
  }
  return true;
}

void SmtpSettingsDialog::write(const QString& dnsList) {
  const QLatin1String placeholder(kPasswordPlaceholder);
  WorkingCopyWrites writes(edit_.workingCopy());
  writes.String(kSpoolerSection, "SenderHostName", txtSenderHostName_->text());
  writes.String(kSpoolerSection, "RelayHostName", txtRelayHostName_->text());
  writes.String(kSpoolerSection, "RelayUser", txtRelayUser_->text());
  if (txtRelayPassword0_->text() != placeholder)
    writes.Crypted(kSpoolerSection, "RelayPassword", txtRelayPassword0_->text(),
                   kProxyPasswordCipherKey);
  writes.String(kSpoolerSection, "RelaySecurity", cboRelaySecurity_->currentData().toString());
  if (txtProxyPassword0_->text() != placeholder)
    writes.Crypted(kSpoolerSection, "ProxyPassword", txtProxyPassword0_->text(),
                   kProxyPasswordCipherKey);
  const int type = cboProxyType_->currentIndex();
  if (type >= 0)
    writes.String(kSpoolerSection, "ProxyType", QString::fromLatin1(kProxyTypes[type].stored));
  writes.String(kSpoolerSection, "ProxyServer",
                txtProxyURL_->text() + QLatin1Char(':') + txtProxyPort_->text());
  writes.String(kSpoolerSection, "ProxyUser", txtProxyUser_->text());
  writes.String(kSettingsSection, "DNSServer", dnsList);
  if (!writes.ok()) {
    ShowWriteFailure(this, edit_.workingCopy(), writes.failedKey());
    return;
  }
  edit_.SettingsChanged = true;
  accept();
}

void SmtpSettingsDialog::okClicked() {
  QString dnsList;
  if (checkFields(dnsList)) write(dnsList);
}

void SmtpSettingsDialog::showHelp() {
  if (help_) help_(this, QStringLiteral("spooler.htm"), QStringLiteral("SMTPSettings"));
}

bool SmtpSettingsDialog::eventFilter(QObject* watched, QEvent* event) {
  if (IsHelpKey(event)) {
    showHelp();
    return true;
  }
  if (event->type() == QEvent::FocusIn) {
    for (QLineEdit* box :
         {txtRelayPassword0_, txtRelayPassword1_, txtProxyPassword0_, txtProxyPassword1_}) {
      // Queued: the focus change itself would otherwise place the cursor after selecting.
      if (watched == box)
        QMetaObject::invokeMethod(box, &QLineEdit::selectAll, Qt::QueuedConnection);
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace pv
