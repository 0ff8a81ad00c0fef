// The scripting test as the desktop's test window runs it, end to end: the real scripting object
// traces the address, spools the test mail with the blanked copy of the settings attached into
// the directory that the running spooler names, asks that spooler for a run, and the rig's MX
// receives the mail. The settings hold real enciphered passwords; only the copy loses them.
#include <QFileInfo>

#include "scripting/client/test_mail.h"
#include "pv_version.h"
#include "scripting/client/spool_tool_object.h"
#include "settings/blanked_copy.h"
#include "settings/setting_cipher.h"
#include "settings/spooler_settings.h"
#include "tool_object_fixture.h"

namespace pv {
namespace {

class ServiceTestMailTest : public ToolObjectTest {
 protected:
  // `from` replaced by `to`, once; the text unchanged when from is not in it.
  static std::string ReplacedOnce(std::string text, const std::string& from, const std::string& to) {
    if (const std::size_t at = text.find(from); at != std::string::npos) text.replace(at, from.size(), to);
    return text;
  }

  // The test mail's text as the window writes it, with the facts of this spooler.
  std::string TestMail(const std::string& settingsFile) const {
    TestMailFacts facts;
    facts.date = QStringLiteral("01.02.2024 10:11:12");
    facts.version = VersionText(QStringLiteral(POSTVANE_VERSION));
    facts.computerName = QStringLiteral("client");
    facts.spoolDir = QString::fromStdString(spoolDir_);
    facts.logDir = QString::fromStdString(logDir_);
    facts.startedAsService = true;
    facts.settingsFile = QString::fromStdString(settingsFile);
    return TestMailText(facts).toStdString();
  }
};

TEST_F(ServiceTestMailTest, TheRunningSpoolerSendsTheTestMailWithTheSecretsBlanked) {
  const std::string proxy = EncipherSetting("proxy secret", kProxyPasswordCipherKey);
  const std::string relay = EncipherSetting("relay secret", kProxyPasswordCipherKey);
  ASSERT_FALSE(proxy.empty());
  ASSERT_FALSE(relay.empty());
  StartSpooler({{"UpDelay", "3600"},
                {"ProxyUser", "proxyuser"},
                {"ProxyPassword", proxy},
                {"RelayUser", "relayuser"},
                {"RelayPassword", relay}});
  const std::string settingsFile = dir_ + "/postvane.start";
  const std::string original = test::ReadWholeFile(settingsFile);
  WaitUntilIdle();
  const test::ScopedEnvironment env(Env());  // the tool asks this test's spooler

  SpoolToolObject object(QFileInfo(QStringLiteral(POSTVANE_BINARY)).absoluteFilePath());
  ASSERT_EQ(object.Create(), QString());
  const std::string address = Address("ok");
  ASSERT_TRUE(object.Trace(QString::fromStdString(rig_.Str("RIG_DNS_SERVER")), QString::fromStdString(address)))
      << object.Protocol().toStdString();
  const std::string text = TestMail(settingsFile);
  {
    const BlankedSettingsCopy copy(settingsFile);
    ASSERT_TRUE(copy.ok()) << copy.error();
    ASSERT_TRUE(object.Spool(TestMailSubject(), QString::fromStdString(address), QString::fromStdString(text),
                             QString::fromStdString(copy.path())))
        << object.LastResultMsg().toStdString();
  }
  // Written where the spooler reads, and left there: the next run is an hour away.
  const std::vector<std::string> names = SpoolNames();
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(object.LastResultMsg().toStdString(), spoolDir_ + "/" + names[0]);

  object.RunSpooler();
  const std::optional<ReceivedMail> mail = WaitForMailTo("RIG_MX1_MAILDIR", address);
  ASSERT_TRUE(mail) << spooler_->Output();
  EXPECT_TRUE(WaitUntil([&] { return SpoolEmpty(); })) << ::testing::PrintToString(SpoolNames());
  EXPECT_EQ(MailsTo("RIG_MX1_MAILDIR", address).size(), 1u);
  EXPECT_TRUE(MailsTo("RIG_MX2_MAILDIR", address).empty());

  for (const std::string& line :
       {std::string("\r\nSubject: Postvane Test eMail\r\n"),
        std::string("\r\n\r\nPostvane COM Object and Spooler successfully tested.\r\n\r\n"),
        "\r\nSpool Dir: " + spoolDir_ + "\r\nLog Dir: " + logDir_ + "\r\n",
        "\r\nStarted as Service: Yes\r\n\r\nPVX.START: " + settingsFile + " (File is attached to this eMail)\r\n"})
    EXPECT_NE(mail->eml.find(line), std::string::npos) << line << "\n" << mail->eml;

  // The attachment is the settings file with exactly the two values gone; the file keeps them.
  const std::string expected =
      ReplacedOnce(ReplacedOnce(original, "\nProxyPassword=" + proxy + "\n", "\nProxyPassword=\n"),
                   "\nRelayPassword=" + relay + "\n", "\nRelayPassword=\n");
  ASSERT_NE(expected, original);
  EXPECT_EQ(Base64Of(mail->eml, "postvane.start"), expected) << mail->eml;
  EXPECT_EQ(test::ReadWholeFile(settingsFile), original);
  SpoolerSettings settings;
  LoadSettings(settingsFile, SettingsDefaults(), settings);
  EXPECT_EQ(settings.ProxyPassword, "proxy secret");
  EXPECT_EQ(settings.RelayPassword, "relay secret");
  StopSpooler();
}

}  // namespace
}  // namespace pv
