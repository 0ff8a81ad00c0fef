#pragma once
// "SMTP Settings": what shapes delivery (the sender host name, the relay host and its login,
// the DNS servers for direct delivery, the SOCKS proxy with its credentials). Edits the working
// copy of a settings edit; the main settings window saves it. The caller runs exec().
#include <QDialog>
#include <QString>
#include <functional>

#include "settings/spooler_settings.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QVBoxLayout;

namespace pv {

class SettingsEdit;

// What both password boxes of a pair show when the dialog opens: not a password, just the
// sign that the stored one stays as it is while the first box still holds it.
inline constexpr char kPasswordPlaceholder[] = "~~pv~unchanged~~";

// The DNS list check behind OK: every item of the comma list, blanks around it allowed, is a
// DNS server the resolver takes (support/server_address.h); an empty item is not.
bool IsDnsServerList(const QString& list);

// The proxy server's text split into host and port the way the dialog shows it: before and
// after the first colon (a bracketed IPv6 host keeps its colons), the port as the leading
// number after the colon ("0" when there is none, also without a colon).
struct ProxyServerFields {
  QString host;
  QString port;
};
ProxyServerFields SplitProxyServer(const QString& server);

class SmtpSettingsDialog : public QDialog {
  Q_OBJECT
 public:
  // How the dialog opens a manual topic; ShowHelp unless a test puts its own.
  using HelpOpener =
      std::function<void(QWidget* owner, const QString& page, const QString& anchor)>;

  SmtpSettingsDialog(SettingsEdit& edit, const SettingsDefaults& defaults, QWidget* owner);
  void setHelpOpenerForTests(HelpOpener opener) { help_ = std::move(opener); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLabel* createLabel(const char* objectName, const QString& text, QWidget* buddy);
  QLineEdit* createLineEdit(const char* objectName, int maxLength);
  QLineEdit* createPasswordBox(const char* objectName);
  QComboBox* createComboBox(const char* objectName);
  QPushButton* createButton(const char* objectName, const QString& text);
  QGroupBox* createDnsFrame();
  QGroupBox* createProxyFrame();
  void createHostFields(QVBoxLayout* layout);
  void createLayout();
  void connectSignals();
  void load(const SettingsDefaults& defaults);
  void loadProxy();
  void loadDns(const SettingsDefaults& defaults);

  void okClicked();
  bool checkFields(QString& dnsList);
  void write(const QString& dnsList);
  void proxyTypeChanged(int index);
  void showHelp();

  SettingsEdit& edit_;
  HelpOpener help_;
  QLineEdit* txtSenderHostName_ = nullptr;
  QLineEdit* txtRelayHostName_ = nullptr;
  QLineEdit* txtRelayUser_ = nullptr;
  QLineEdit* txtRelayPassword0_ = nullptr;
  QLineEdit* txtRelayPassword1_ = nullptr;
  QComboBox* cboRelaySecurity_ = nullptr;
  QRadioButton* optDNS0_ = nullptr;
  QRadioButton* optDNS1_ = nullptr;
  QLineEdit* txtDNSServer_ = nullptr;
  QComboBox* cboProxyType_ = nullptr;
  QLineEdit* txtProxyURL_ = nullptr;
  QLineEdit* txtProxyPort_ = nullptr;
  QLineEdit* txtProxyUser_ = nullptr;
  QLineEdit* txtProxyPassword0_ = nullptr;
  QLineEdit* txtProxyPassword1_ = nullptr;
  QPushButton* cmdOK_ = nullptr;
  QPushButton* cmdCancel_ = nullptr;
  QPushButton* cmdHelp_ = nullptr;
};

}  // namespace pv
