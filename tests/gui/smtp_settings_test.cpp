#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <functional>

#include "desktop/smtp_settings_dialog.h"
#include "settings/setting_cipher.h"
#include "settings_dialog_fixture.h"

namespace pv {
namespace {

const QString kPlaceholder = QString::fromLatin1(kPasswordPlaceholder);

class SmtpSettingsTest : public SettingsDialogFixture {
 protected:
  void SetUp() override {
    SettingsDialogFixture::SetUp();
    // The proxy default comes from the environment; every test starts without one.
    savedProxy_ = qgetenv("ALL_PROXY");
    qunsetenv("ALL_PROXY");
    qunsetenv("all_proxy");
  }
  void TearDown() override {
    if (!savedProxy_.isNull()) qputenv("ALL_PROXY", savedProxy_);
    SettingsDialogFixture::TearDown();
  }
  std::unique_ptr<SmtpSettingsDialog> MakeDialog(SettingsEdit& edit) {
    SettingsDefaults defaults;
    defaults.SystemDNSServers = "192.0.2.53,192.0.2.54";
    defaults.DefaultSenderHostName = "box.example";
    auto dialog = std::make_unique<SmtpSettingsDialog>(edit, defaults, &owner);
    dialog->setHelpOpenerForTests([this](QWidget*, const QString& page, const QString& anchor) {
      helpTopics.push_back({page, anchor});
    });
    dialog->show();
    return dialog;
  }
  DialogMaker maker() {
    return [this](SettingsEdit& edit) -> std::unique_ptr<QDialog> { return MakeDialog(edit); };
  }
  static QLineEdit* Field(QDialog& dialog, const char* name) {
    return Find<QLineEdit>(dialog, name);
  }
  // Presses OK; true when the dialog closed.
  static bool PressOk(QDialog& dialog) {
    ClickButton(dialog, "cmdOK");
    return !dialog.isVisible();
  }

 private:
  QByteArray savedProxy_;
};

TEST_F(SmtpSettingsTest, LoadsTheProxyAndSavesItBack) {
  struct Row {
    std::vector<Entry> stored;
    const char* allProxy;  // nullptr: unset
    int type;
    QString url, port;
    std::string savedType, savedServer;
  };
  const Entry socks4{"Spooler", "ProxyType", "socks4"}, socks5{"Spooler", "ProxyType", "socks5"},
      auth{"Spooler", "ProxyType", "SOCKS5AUTH"}, unknown{"Spooler", "ProxyType", "x"};
  const auto server = [](const char* value) { return Entry{"Spooler", "ProxyServer", value}; };
  const std::vector<Row> rows = {
      {{}, nullptr, 0, "", "0", "NONE", ":0"},
      {{}, "socks5h://proxy.local:1081", 0, "proxy.local", "1081", "NONE", "proxy.local:1081"},
      {{socks4, server("host:1080")}, "socks5://x:1", 1, "host", "1080", "SOCKS4", "host:1080"},
      {{socks5, server("host")}, nullptr, 2, "host", "0", "SOCKS5NOAUTH", "host:0"},
      {{auth, server("host:abc")}, nullptr, 3, "host", "0", "SOCKS5AUTH", "host:0"},
      {{unknown, server("[::1]:1080")}, nullptr, 0, "[::1]", "1080", "NONE", "[::1]:1080"},
      {{{"Spooler", "ProxyType", "Socks5NoAuth"}}, nullptr, 2, "", "0", "SOCKS5NOAUTH", ":0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.savedType + " " + row.savedServer);
    row.allProxy ? qputenv("ALL_PROXY", row.allProxy) : qunsetenv("ALL_PROXY");
    auto dialog = MakeDialog(OpenEdit(row.stored));
    EXPECT_EQ(Find<QComboBox>(*dialog, "cboProxyType")->currentIndex(), row.type);
    EXPECT_EQ(Field(*dialog, "txtProxyURL")->text(), row.url);
    EXPECT_EQ(Field(*dialog, "txtProxyPort")->text(), row.port);
    ASSERT_TRUE(PressOk(*dialog));
    EXPECT_EQ(Stored("Spooler", "ProxyType"), row.savedType);
    EXPECT_EQ(Stored("Spooler", "ProxyServer"), row.savedServer);
  }
}

TEST_F(SmtpSettingsTest, ProxyTypeEnablesItsFields) {
  const char* const fields[] = {"txtProxyURL", "txtProxyPort", "txtProxyUser",
                                "txtProxyPassword(0)", "txtProxyPassword(1)"};
  const std::vector<std::vector<bool>> enabled = {
      {0, 0, 0, 0, 0}, {1, 1, 0, 0, 0}, {1, 1, 0, 0, 0}, {1, 1, 1, 1, 1}};
  const std::vector<QString> captions = {"None", "Socks 4", "Socks 5 No Auth", "Socks 5"};
  auto dialog =
      MakeDialog(OpenEdit({{"Spooler", "ProxyType", "socks5auth"}, {"Spooler", "ProxyUser", "u"}}));
  auto* list = Find<QComboBox>(*dialog, "cboProxyType");
  ASSERT_EQ(list->count(), 4);
  for (int index : {3, 0, 1, 2, 3, 0}) {
    SCOPED_TRACE(index);
    list->setCurrentIndex(index);
    EXPECT_EQ(list->currentText(), captions[index]);
    for (std::size_t i = 0; i < std::size(fields); ++i)
      EXPECT_EQ(Field(*dialog, fields[i])->isEnabled(), enabled[index][i]) << fields[i];
    // Disabled fields keep their text.
    EXPECT_EQ(Field(*dialog, "txtProxyUser")->text(), QStringLiteral("u"));
  }
  // Still written with "None" selected.
  ASSERT_TRUE(PressOk(*dialog));
  EXPECT_EQ(Stored("Spooler", "ProxyUser"), "u");
}

TEST_F(SmtpSettingsTest, LoadsHostsRelayAndDns) {
  struct Row {
    const char *sender, *dns, *security;  // stored; nullptr: missing
    QString shownSender, shownDns;
    bool ownDns;
    int securityIndex;
    std::string savedSecurity;
  };
  const QString system = "192.0.2.53,192.0.2.54";
  const std::vector<Row> rows = {
      {nullptr, nullptr, nullptr, "box.example", system, false, 0, "auto"},
      {"me.example", "<system>", "bogus", "me.example", system, false, 0, "auto"},
      {nullptr, "1.1.1.1, 8.8.8.8", "STARTTLS", "box.example", "1.1.1.1, 8.8.8.8", true, 1,
       "starttls"},
      {nullptr, nullptr, "tls", "box.example", system, false, 2, "tls"},
      {nullptr, nullptr, "none", "box.example", system, false, 3, "none"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.shownDns.toStdString() + " " + row.savedSecurity);
    std::vector<Entry> stored;
    if (row.sender) stored.push_back({"Spooler", "SenderHostName", row.sender});
    if (row.dns) stored.push_back({"Settings", "DNSServer", row.dns});
    if (row.security) stored.push_back({"Spooler", "RelaySecurity", row.security});
    auto dialog = MakeDialog(OpenEdit(stored));
    EXPECT_EQ(Field(*dialog, "txtSenderHostName")->text(), row.shownSender);
    EXPECT_EQ(Field(*dialog, "txtDNSServer")->text(), row.shownDns);
    EXPECT_EQ(Field(*dialog, "txtDNSServer")->isEnabled(), row.ownDns);
    EXPECT_EQ(Find<QRadioButton>(*dialog, "optDNS(1)")->isChecked(), row.ownDns);
    EXPECT_EQ(Find<QRadioButton>(*dialog, "optDNS(0)")->isChecked(), !row.ownDns);
    EXPECT_EQ(Find<QComboBox>(*dialog, "cboRelaySecurity")->currentIndex(), row.securityIndex);
    ASSERT_TRUE(PressOk(*dialog));
    EXPECT_EQ(Stored("Spooler", "RelaySecurity"), row.savedSecurity);
    // The system's list shown for information is never stored.
    EXPECT_EQ(Stored("Settings", "DNSServer"), row.ownDns ? row.dns : "<SYSTEM>");
  }
}

TEST_F(SmtpSettingsTest, DnsOptionsAndList) {
  struct Row {
    QString list;
    QMessageBox::Icon icon;  // NoIcon: accepted
  };
  const QString empty =
      "The option 'Use this DNS Servers' does not allow 'Host Names or IPs' to be empty.";
  const auto accepted = QMessageBox::NoIcon, refused = QMessageBox::Information;
  const std::vector<Row> rows = {
      {"1.1.1.1", accepted},         {"1.1.1.1, 8.8.8.8", accepted}, {" 1.1.1.1 ", accepted},
      {"127.0.0.1:5353", accepted},  {"[::1]:53", accepted},         {"::1,2001:db8::1", accepted},
      {"host.example", refused},     {"1.1.1.1,,", refused},         {"1.2.3", refused},
      {"1.1.1.1:99999", refused},    {" ", refused},                 {"", QMessageBox::Critical},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.list.toStdString());
    SettingsEdit& edit = OpenEdit();
    auto dialog = MakeDialog(edit);
    Find<QRadioButton>(*dialog, "optDNS(1)")->click();
    EXPECT_TRUE(Field(*dialog, "txtDNSServer")->isEnabled());
    Field(*dialog, "txtDNSServer")->setText(row.list);
    const bool closed = PressOk(*dialog);
    const auto [icon, text] = TakeMessage();
    EXPECT_EQ(icon, row.icon);
    EXPECT_EQ(closed, row.icon == QMessageBox::NoIcon);
    if (closed) {
      // As typed (the store drops blanks around a value when reading).
      EXPECT_EQ(Stored("Settings", "DNSServer"), row.list.trimmed().toStdString());
    }
    EXPECT_EQ(text, row.icon == refused ? QStringLiteral("Please enter only IP Numbers.")
                    : row.icon == accepted ? QString()
                                           : empty);
    // The system option ignores whatever the list holds.
    if (!closed) {
      Find<QRadioButton>(*dialog, "optDNS(0)")->click();
      EXPECT_FALSE(Field(*dialog, "txtDNSServer")->isEnabled());
      EXPECT_EQ(Field(*dialog, "txtDNSServer")->text(), row.list);
      ASSERT_TRUE(PressOk(*dialog));
      EXPECT_EQ(Stored("Settings", "DNSServer"), "<SYSTEM>");
    }
  }
}

TEST_F(SmtpSettingsTest, Passwords) {
  struct Row {
    const char* name;
    QString first, second;
    std::string stored;  // the password deciphered afterwards
    bool mismatch;
  };
  const std::vector<Row> rows = {
      {"untouched", kPlaceholder, kPlaceholder, "old", false},
      {"both cleared", "", "", "", false},
      {"both new", "new", "new", "new", false},
      {"differ", "new", "neu", "old", true},
      {"first kept", kPlaceholder, "", "old", true},
  };
  for (const char* key : {"ProxyPassword", "RelayPassword"}) {
    const std::string box =
        std::string(key == std::string("ProxyPassword") ? "txtProxyPassword" : "txtRelayPassword");
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(key) + " " + row.name);
      SettingsEdit& edit = OpenEdit({{"Spooler", "ProxyType", "socks5auth"}});
      ASSERT_TRUE(INIWriteUnicodeStringCrypted(edit.workingCopy(), "Spooler", key, "old",
                                               kProxyPasswordCipherKey));
      const std::string before = WorkingCopyText();
      auto dialog = MakeDialog(edit);
      QLineEdit* first = Field(*dialog, (box + "(0)").c_str());
      QLineEdit* second = Field(*dialog, (box + "(1)").c_str());
      EXPECT_EQ(first->text(), kPlaceholder);
      EXPECT_EQ(second->text(), kPlaceholder);
      EXPECT_EQ(first->echoMode(), QLineEdit::Password);
      EXPECT_EQ(first->displayText(), QString(16, QLatin1Char('*')));
      first->setText(row.first);
      second->setText(row.second);
      EXPECT_EQ(PressOk(*dialog), !row.mismatch);
      EXPECT_EQ(TakeMessage(), row.mismatch
                                   ? std::make_pair(QMessageBox::Critical,
                                                    QStringLiteral("The passwords do not match"))
                                   : std::make_pair(QMessageBox::NoIcon, QString()));
      if (row.mismatch) {
        EXPECT_EQ(WorkingCopyText(), before);
      }
      EXPECT_EQ(INIReadUnicodeStringCrypted(edit.workingCopy(), "Spooler", key, "<missing>",
                                            kProxyPasswordCipherKey),
                row.stored);
    }
  }
}

TEST_F(SmtpSettingsTest, ChecksComeInOrderAndWritesToo) {
  // A password mismatch is reported before a bad DNS list.
  SettingsEdit& edit = OpenEdit();
  auto dialog = MakeDialog(edit);
  Find<QRadioButton>(*dialog, "optDNS(1)")->click();
  Field(*dialog, "txtDNSServer")->setText(QStringLiteral("host.example"));
  Field(*dialog, "txtRelayPassword(1)")->setText(QStringLiteral("x"));
  EXPECT_FALSE(PressOk(*dialog));
  EXPECT_EQ(TakeMessage().second, QStringLiteral("The passwords do not match"));
  EXPECT_FALSE(PressOk(*dialog));
  EXPECT_EQ(TakeMessage().second, QStringLiteral("The passwords do not match"));
  Field(*dialog, "txtRelayPassword(0)")->setText(QStringLiteral("x"));
  Field(*dialog, "txtProxyPassword(0)")->setText(QStringLiteral("y"));
  Field(*dialog, "txtProxyPassword(1)")->setText(QStringLiteral("y"));
  EXPECT_FALSE(PressOk(*dialog));
  EXPECT_EQ(TakeMessage().second, QStringLiteral("Please enter only IP Numbers."));
  EXPECT_FALSE(edit.SettingsChanged);
  Field(*dialog, "txtDNSServer")->setText(QStringLiteral("1.1.1.1"));
  ASSERT_TRUE(PressOk(*dialog));
  EXPECT_TRUE(edit.SettingsChanged);
  const std::vector<std::string> order = {
      "Spooler/SenderHostName", "Spooler/RelayHostName", "Spooler/RelayUser",
      "Spooler/RelayPassword",  "Spooler/RelaySecurity", "Spooler/ProxyPassword",
      "Spooler/ProxyType",      "Spooler/ProxyServer",   "Spooler/ProxyUser",
      "Settings/DNSServer"};
  EXPECT_EQ(StoredKeys(), order);
}

TEST_F(SmtpSettingsTest, OkCancelAndFailedWrite) {
  CheckOkCancelAndFailedWrite({{"Spooler", "SenderHostName", "me.example"}}, maker());
}

TEST_F(SmtpSettingsTest, Keyboard) {
  const std::vector<KeyRow> rows = {
      {"txtProxyPort", Qt::Key_F1, Qt::NoModifier, 1, -1},
      {"cboProxyType", Qt::Key_F1, Qt::NoModifier, 1, -1},
      {"optDNS(0)", Qt::Key_F1, Qt::NoModifier, 1, -1},
      {"txtSenderHostName", Qt::Key_F1, Qt::ShiftModifier, 0, -1},
      {"txtSenderHostName", Qt::Key_F1, Qt::ControlModifier | Qt::AltModifier, 0, -1},
      {"txtSenderHostName", Qt::Key_H, Qt::AltModifier, 1, -1},
      {"cmdHelp", Qt::Key_Space, Qt::NoModifier, 1, -1},
      {"txtRelayUser", Qt::Key_Enter, Qt::NoModifier, 0, QDialog::Accepted},
      {"txtRelayUser", Qt::Key_Escape, Qt::NoModifier, 0, QDialog::Rejected},
  };
  CheckKeys(rows, {{"Spooler", "ProxyType", "socks4"}}, maker(), QStringLiteral("SMTPSettings"));
  // Tab enters the DNS options at the selected one.
  auto dialog = MakeDialog(
      OpenEdit({{"Spooler", "ProxyType", "socks5auth"}, {"Settings", "DNSServer", "1.1.1.1"}}));
  CheckTabOrder(*dialog,
                {"txtSenderHostName", "txtRelayHostName", "txtRelayUser", "txtRelayPassword(0)",
                 "txtRelayPassword(1)", "cboRelaySecurity", "optDNS(1)", "txtDNSServer",
                 "cboProxyType", "txtProxyURL", "txtProxyPort", "txtProxyUser",
                 "txtProxyPassword(0)", "txtProxyPassword(1)", "cmdOK", "cmdCancel", "cmdHelp"});
}

TEST_F(SmtpSettingsTest, HelpOpensTheTopic) {
  CheckHelpOpensTopic(MakeDialog(OpenEdit()), QStringLiteral("SMTPSettings"));
}

TEST_F(SmtpSettingsTest, PasswordFocusSelectsAll) {
  auto dialog = MakeDialog(OpenEdit({{"Spooler", "ProxyType", "socks5auth"}}));
  ShowActive(*dialog);
  for (const char* name : {"txtRelayPassword(0)", "txtRelayPassword(1)", "txtProxyPassword(0)",
                           "txtProxyPassword(1)"}) {
    SCOPED_TRACE(name);
    QLineEdit* box = Field(*dialog, name);
    Field(*dialog, "txtRelayUser")->setFocus(Qt::TabFocusReason);
    box->deselect();
    QTest::mouseClick(box, Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(box->selectedText(), kPlaceholder);
    QTest::keyClicks(box, QStringLiteral("pw"));
    EXPECT_EQ(box->text(), QStringLiteral("pw"));
  }
}

}  // namespace
}  // namespace pv
