// The scripting object that the desktop's test window drives, for real: postvane-spool run as a
// process traces addresses through the rig's DNS and spools the test mail, with the blanked
// settings copy attached, into the spool directory that the settings name (no spooler runs).
#include <QFileInfo>

#include "scripting/client/spool_tool_object.h"
#include "settings/blanked_copy.h"
#include "tool_object_fixture.h"

namespace pv {
namespace {

class TestObjectToolTest : public ToolObjectTest {};

TEST_F(TestObjectToolTest, TracesThroughTheRigDnsAndSpoolsTheTestMail) {
  WriteSettings({{"ProxyUser", "proxyuser"}, {"ProxyPassword", "c2VjcmV0"}, {"RelayPassword", "b3RoZXI="}});
  const test::ScopedEnvironment env(Env());
  fs::create_directories(dir_ + "/run");  // no spooler listens there

  const QString program =
      QFileInfo(QStringLiteral(POSTVANE_SPOOL_BINARY)).absolutePath() + QStringLiteral("/postvane");
  SpoolToolObject object(program);
  ASSERT_EQ(object.Create(), QString());
  EXPECT_EQ(object.tool(), QFileInfo(QStringLiteral(POSTVANE_SPOOL_BINARY)).absoluteFilePath());

  const QString dns = QString::fromStdString(rig_.Str("RIG_DNS_SERVER"));
  EXPECT_FALSE(object.Trace(dns, QStringLiteral("x@nosuch.test")));
  EXPECT_TRUE(object.Protocol().contains(QStringLiteral("MX nosuch.test: not found (NXDOMAIN)")))
      << object.Protocol().toStdString();
  const QString address = QString::fromStdString(Address("ok"));
  ASSERT_TRUE(object.Trace(dns, address)) << object.Protocol().toStdString();
  EXPECT_TRUE(object.Protocol().contains(QStringLiteral("MX a.test: 10 mx1.a.test, 20 mx2.a.test")))
      << object.Protocol().toStdString();

  std::string attached;
  {
    const BlankedSettingsCopy copy(dir_ + "/postvane.start");
    ASSERT_TRUE(copy.ok()) << copy.error();
    ASSERT_TRUE(object.Spool(QStringLiteral("Postvane Test eMail"), address,
                             QStringLiteral("Postvane COM Object and Spooler successfully tested.\n\n"
                                            "Spool Dir: ") + QString::fromStdString(spoolDir_),
                             QString::fromStdString(copy.path())))
        << object.LastResultMsg().toStdString();
    attached = copy.path();
  }
  EXPECT_FALSE(fs::exists(attached));
  const std::string file = object.LastResultMsg().toStdString();
  const std::vector<std::string> names = SpoolNames();
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(file, spoolDir_ + "/" + names[0]);

  const std::string mail = SpoolText(names[0]);
  for (const std::string& part :
       {"\r\nTo: " + Address("ok") + "\r\n", "\r\nFrom: " + Address("ok") + "\r\n",
        std::string("\r\nSubject: Postvane Test eMail\r\n"),
        "\r\n\r\nPostvane COM Object and Spooler successfully tested.\r\n\r\nSpool Dir: " + spoolDir_ + "\r\n"})
    EXPECT_NE(mail.find(part), std::string::npos) << part << "\n" << mail;
  const std::string settings = Base64Of(mail, "postvane.start");
  EXPECT_NE(settings.find("\nProxyPassword=\n"), std::string::npos) << settings;
  EXPECT_NE(settings.find("\nRelayPassword=\n"), std::string::npos) << settings;
  EXPECT_NE(settings.find("\nProxyUser=proxyuser\n"), std::string::npos) << settings;
  EXPECT_EQ(settings.find("c2VjcmV0"), std::string::npos) << settings;
  EXPECT_NE(test::ReadWholeFile(dir_ + "/postvane.start").find("ProxyPassword=c2VjcmV0"), std::string::npos);

  // No spooler takes the run request; the call comes back all the same, the mail stays.
  object.RunSpooler();
  EXPECT_EQ(SpoolNames(), names);
}

}  // namespace
}  // namespace pv
