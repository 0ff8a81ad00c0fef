// SystemdServiceControl against systemd's mock: the calls each operation makes, in order, and
// the states and start types it reads back.
#include "service/systemd_service_control.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "service/service_state.h"
#include "systemd_fixture.h"

namespace pv {
namespace {

using CallList = std::vector<std::string>;

class SystemdControlTest : public test::SystemdMockTest {};

TEST_F(SystemdControlTest, StartTypeFromTheUnitFileState) {
  struct Case { const char* fileState; int startType; };
  const Case cases[] = {{"enabled", kStartAutomatic}, {"linked", kStartOnDemand},
                        {"static", kStartOnDemand},   {"masked", kStartDisabled},
                        {"bad", kStartTypeUnexpected}, {"", kNoSuchService}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fileState);
    Given(c.fileState);
    EXPECT_EQ(control().QueryServiceStartType(), c.startType);
    EXPECT_EQ(control().LastError().empty(), c.startType >= 0) << control().LastError();
  }
  Mock("RefuseMethods", {QStringList{"GetUnitFileState"}});
  EXPECT_EQ(control().QueryServiceStartType(), kStartTypeUnreadable);
  EXPECT_NE(control().LastError().find("AccessDenied"), std::string::npos) << control().LastError();
}

TEST_F(SystemdControlTest, StateForEveryActiveState) {
  ASSERT_TRUE(channel_->Start());
  struct Case { const char* activeState; bool spoolerPaused; int state; };
  const Case cases[] = {
      {"inactive", false, kServiceStopped},       {"failed", false, kServiceStopped},
      {"activating", false, kServiceStartPending}, {"deactivating", false, kServiceStopPending},
      {"active", false, kServiceRunning},         {"reloading", false, kServiceRunning},
      {"active", true, kServicePaused},           {"reloading", true, kServicePaused},
      {"inactive", true, kServiceStopped},        {"maintenance", false, kServiceUnknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.activeState) + (c.spoolerPaused ? ", spooler paused" : ""));
    Given("enabled", c.activeState);
    channel_->paused = c.spoolerPaused;
    EXPECT_EQ(control().QueryServiceState(), c.state);
  }
  // Without an answer on the control channel a running service is running.
  channel_->Stop();
  Given("enabled", "active");
  EXPECT_EQ(control().QueryServiceState(), kServiceRunning);
}

TEST_F(SystemdControlTest, StateOfAUnitWithoutFile) {
  Given("");
  EXPECT_EQ(control().QueryServiceState(), kServiceUnknown);
  EXPECT_NE(control().LastError().find("not installed"), std::string::npos) << control().LastError();
  // A masked unit is loaded as masked and stopped.
  Given("masked");
  EXPECT_EQ(control().QueryServiceState(), kServiceStopped);
}

TEST_F(SystemdControlTest, StateLoadsAUnitSystemdHasNotLoaded) {
  // No unit object yet: GetUnit answers NoSuchUnit, LoadUnit makes it.
  EXPECT_EQ(control().QueryServiceState(), kServiceUnknown);
  const std::vector<test::MockCall> calls = ManagerCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].method, "GetUnit");
  EXPECT_EQ(calls[1].method, "LoadUnit");
  EXPECT_EQ(calls[1].args, std::vector<std::string>{kUnit});
}

TEST_F(SystemdControlTest, InstallWithEachStartType) {
  struct Case { int startType; CallList requests; int result; };
  const std::string enable = "EnableUnitFiles " + unitFile_;
  const Case cases[] = {
      {kStartAutomatic, {enable, "Reload"}, kStartAutomatic},
      {kStartOnDemand, {"LinkUnitFiles " + unitFile_, "Reload"}, kStartOnDemand},
      {kStartDisabled, {std::string("MaskUnitFiles ") + kUnit, "Reload"}, kStartDisabled},
      // Boot and system start do not exist here; other numbers count as boot start.
      {kStartBoot, {enable, "Reload"}, kStartAutomatic},
      {kStartSystem, {enable, "Reload"}, kStartAutomatic},
      {9, {enable, "Reload"}, kStartAutomatic},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.startType);
    Given("");
    EXPECT_TRUE(control().InstallService(c.startType)) << control().LastError();
    EXPECT_EQ(Requests(), c.requests);
    EXPECT_EQ(control().QueryServiceStartType(), c.result);
    EXPECT_EQ(control().QueryServiceState(), kServiceStopped);
  }
  const QDBusMessage calls = Mock("GetNonInteractiveCalls");
  EXPECT_TRUE(calls.arguments().at(0).toStringList().isEmpty())
      << calls.arguments().at(0).toStringList().join(' ').toStdString();
}

TEST_F(SystemdControlTest, InstallSendsNoRuntimeAndNoForce) {
  Given("");
  ASSERT_TRUE(control().InstallService(kStartAutomatic));
  const std::vector<test::MockCall> calls = ManagerCalls();
  const auto enable = std::find_if(calls.begin(), calls.end(),
                                   [](const test::MockCall& call) { return call.method == "EnableUnitFiles"; });
  ASSERT_NE(enable, calls.end());
  EXPECT_EQ(enable->args, (std::vector<std::string>{unitFile_, "false", "false"}));
}

TEST_F(SystemdControlTest, InstallRefused) {
  struct Case {
    const char* name;
    const char* fileState;
    bool administrator;
    bool unitFileThere;
    std::string safetyProblem;
    const char* refused;
    CallList requests;
    const char* why;
  };
  const Case cases[] = {
      {"installed already", "linked", true, true, "", "", {}, "installed already"},
      {"masked counts as installed", "masked", true, true, "", "", {}, "installed already"},
      {"not an administrator", "", false, true, "", "", {}, "administrator"},
      {"no unit file", "", true, false, "", "", {}, "does not exist"},
      {"unsafe unit file", "", true, true, "/home/u/postvane is writable by everyone", "", {},
       "/home/u/postvane is writable by everyone"},
      {"polkit refuses", "", true, true, "", "EnableUnitFiles", {"EnableUnitFiles " + unitFile_},
       "AccessDenied"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Given(c.fileState);
    administrator_ = c.administrator;
    safetyProblem_ = c.safetyProblem;
    if (!c.unitFileThere) std::filesystem::rename(unitFile_, unitFile_ + ".away");
    Mock("RefuseMethods", {QStringList{QString::fromLatin1(c.refused)}});
    EXPECT_FALSE(control().InstallService(kStartAutomatic));
    EXPECT_NE(control().LastError().find(c.why), std::string::npos) << control().LastError();
    EXPECT_EQ(Requests(), c.requests);
    if (!c.administrator) {
      EXPECT_TRUE(ManagerCalls().empty());
    }
    if (!c.unitFileThere) std::filesystem::rename(unitFile_ + ".away", unitFile_);
  }
}

TEST_F(SystemdControlTest, ChangeStartTypeFromEachToEach) {
  const std::string enable = "EnableUnitFiles " + unitFile_;
  const std::string link = "LinkUnitFiles " + unitFile_;
  const std::string disable = std::string("DisableUnitFiles ") + kUnit;
  const std::string mask = std::string("MaskUnitFiles ") + kUnit;
  const std::string unmask = std::string("UnmaskUnitFiles ") + kUnit;
  struct Case { const char* from; int to; CallList requests; };
  const Case cases[] = {
      {"enabled", kStartAutomatic, {enable, "Reload"}},
      {"enabled", kStartOnDemand, {disable, link, "Reload"}},
      {"enabled", kStartDisabled, {disable, mask, "Reload"}},
      {"linked", kStartAutomatic, {enable, "Reload"}},
      {"linked", kStartOnDemand, {disable, link, "Reload"}},
      {"linked", kStartDisabled, {disable, mask, "Reload"}},
      {"masked", kStartAutomatic, {unmask, enable, "Reload"}},
      {"masked", kStartOnDemand, {unmask, link, "Reload"}},
      {"masked", kStartDisabled, {disable, mask, "Reload"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.from) + " to " + std::to_string(c.to));
    Given(c.from);
    EXPECT_TRUE(control().ChangeServiceStartType(c.to)) << control().LastError();
    EXPECT_EQ(Requests(), c.requests);
    EXPECT_EQ(control().QueryServiceStartType(), c.to);
  }
}

TEST_F(SystemdControlTest, ChangeStartTypeRefused) {
  Given("");
  EXPECT_FALSE(control().ChangeServiceStartType(kStartOnDemand));
  EXPECT_NE(control().LastError().find("not installed"), std::string::npos) << control().LastError();
  Given("enabled");
  EXPECT_FALSE(control().ChangeServiceStartType(7));
  EXPECT_FALSE(control().ChangeServiceStartType(-1));
  safetyProblem_ = "unsafe";
  EXPECT_FALSE(control().ChangeServiceStartType(kStartOnDemand));
  EXPECT_NE(control().LastError().find("unsafe"), std::string::npos) << control().LastError();
  EXPECT_EQ(Requests(), CallList{});
  // Disabling links nothing: the unit file's safety plays no part.
  EXPECT_TRUE(control().ChangeServiceStartType(kStartDisabled)) << control().LastError();
  // A mask refused after the disable: the unit is enabled again, not left uninstalled, and the
  // refusal is what is told.
  Given("enabled");
  Mock("RefuseMethods", {QStringList{"MaskUnitFiles"}});
  EXPECT_FALSE(control().ChangeServiceStartType(kStartDisabled));
  EXPECT_NE(control().LastError().find("MaskUnitFiles"), std::string::npos) << control().LastError();
  EXPECT_EQ(Requests(), (CallList{std::string("DisableUnitFiles ") + kUnit, std::string("MaskUnitFiles ") + kUnit,
                                  "EnableUnitFiles " + unitFile_, "Reload"}));
  EXPECT_EQ(control().QueryServiceStartType(), kStartAutomatic);
  // The same for a link refused after the unmask: masked again.
  Given("masked");
  Mock("RefuseMethods", {QStringList{"LinkUnitFiles"}});
  EXPECT_FALSE(control().ChangeServiceStartType(kStartOnDemand));
  EXPECT_EQ(control().QueryServiceStartType(), kStartDisabled);
}

TEST_F(SystemdControlTest, Uninstall) {
  struct Case { const char* fileState; CallList requests; };
  const Case cases[] = {
      {"enabled", {std::string("DisableUnitFiles ") + kUnit, "Reload"}},
      {"linked", {std::string("DisableUnitFiles ") + kUnit, "Reload"}},
      {"masked", {std::string("UnmaskUnitFiles ") + kUnit, "Reload"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fileState);
    Given(c.fileState);
    EXPECT_TRUE(control().UninstallService()) << control().LastError();
    EXPECT_EQ(Requests(), c.requests);
    EXPECT_EQ(control().QueryServiceStartType(), kNoSuchService);
    EXPECT_EQ(control().QueryServiceState(), kServiceUnknown);
  }
}

TEST_F(SystemdControlTest, UninstallRefusedOrLeavingTheServiceRunning) {
  Given("");
  EXPECT_FALSE(control().UninstallService());
  EXPECT_NE(control().LastError().find("not installed"), std::string::npos) << control().LastError();
  Given("enabled");
  administrator_ = false;
  EXPECT_FALSE(control().UninstallService());
  EXPECT_TRUE(ManagerCalls().empty());
  // A running service is not stopped here.
  administrator_ = true;
  Given("enabled", "active");
  EXPECT_TRUE(control().UninstallService());
  EXPECT_EQ(Requests(), (CallList{std::string("DisableUnitFiles ") + kUnit, "Reload"}));
  // Without its file the unit still runs, and can still be stopped.
  EXPECT_EQ(control().QueryServiceState(), kServiceRunning);
  EXPECT_EQ(control().QueryServiceStartType(), kNoSuchService);
  EXPECT_TRUE(control().StopServiceAndWait(5)) << control().LastError();
  EXPECT_EQ(control().QueryServiceState(), kServiceUnknown);
}

TEST_F(SystemdControlTest, StartAndStop) {
  Given("enabled");
  EXPECT_TRUE(control().StartServiceAndWait(5)) << control().LastError();
  EXPECT_EQ(Requests(), (CallList{std::string("StartUnit ") + kUnit}));
  EXPECT_EQ(waits_, 0);  // running at the first poll
  EXPECT_EQ(control().QueryServiceState(), kServiceRunning);
  Mock("ClearCalls");
  EXPECT_TRUE(control().StopServiceAndWait(5)) << control().LastError();
  EXPECT_EQ(Requests(), (CallList{std::string("StopUnit ") + kUnit}));
  EXPECT_EQ(control().QueryServiceState(), kServiceStopped);
}

TEST_F(SystemdControlTest, RefusedRequestsSendNothingAndDoNotWait) {
  struct Case { const char* name; const char* activeState; bool start; const char* why; };
  const Case cases[] = {
      {"start of a running service", "active", true, "not stopped"},
      {"start of a starting service", "activating", true, "not stopped"},
      {"stop of a stopped service", "inactive", false, "stopped already"},
      {"stop of a failed service", "failed", false, "stopped already"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Given("enabled", c.activeState);
    EXPECT_FALSE(c.start ? control().StartServiceAndWait(0) : control().StopServiceAndWait(0));
    EXPECT_NE(control().LastError().find(c.why), std::string::npos) << control().LastError();
    EXPECT_EQ(Requests(), CallList{});
    EXPECT_EQ(waits_, 0);
  }
  // Refused by polkit: the request went out, nothing is polled.
  Given("enabled");
  Mock("RefuseMethods", {QStringList{"StartUnit"}});
  EXPECT_FALSE(control().StartServiceAndWait(0));
  EXPECT_NE(control().LastError().find("AccessDenied"), std::string::npos) << control().LastError();
  EXPECT_EQ(CountCalls("GetUnit"), 1);  // the state check before the request
  EXPECT_EQ(waits_, 0);
  // Not installed: no state, no request.
  Given("");
  EXPECT_FALSE(control().StartServiceAndWait(0));
  EXPECT_EQ(Requests(), CallList{});
}

TEST_F(SystemdControlTest, StartTimesOutAfterItsPolls) {
  Mock("SetStartOutcome", {kUnit, "activating"});
  struct Case { int timeout; int polls; };
  for (const Case c : {Case{0, 60}, Case{1, 1}, Case{3, 3}}) {
    SCOPED_TRACE(c.timeout);
    Given("enabled");
    EXPECT_FALSE(control().StartServiceAndWait(c.timeout));
    EXPECT_NE(control().LastError().find("start pending"), std::string::npos) << control().LastError();
    EXPECT_EQ(Requests(), (CallList{std::string("StartUnit ") + kUnit}));
    // One state check before the request, then the polls with a second between two of them.
    EXPECT_EQ(CountCalls("GetUnit"), 1 + c.polls);
    EXPECT_EQ(waits_, c.polls - 1);
  }
}

TEST_F(SystemdControlTest, StopOfAPausedOrStoppingService) {
  ASSERT_TRUE(channel_->Start());
  for (const char* activeState : {"active", "deactivating"}) {
    SCOPED_TRACE(activeState);
    Given("enabled", activeState);
    channel_->paused = true;
    EXPECT_TRUE(control().StopServiceAndWait(5)) << control().LastError();
    EXPECT_EQ(Requests(), (CallList{std::string("StopUnit ") + kUnit}));
  }
}

TEST_F(SystemdControlTest, PauseAndContinue) {
  ASSERT_TRUE(channel_->Start());
  Given("enabled", "active");
  EXPECT_TRUE(control().PauseServiceAndWait(5)) << control().LastError();
  EXPECT_TRUE(channel_->paused);
  EXPECT_EQ(control().QueryServiceState(), kServicePaused);
  EXPECT_TRUE(control().ContinueServiceAndWait(5)) << control().LastError();
  EXPECT_FALSE(channel_->paused);
  EXPECT_EQ(control().QueryServiceState(), kServiceRunning);
  // Neither goes through systemd.
  EXPECT_EQ(Requests(), CallList{});
  EXPECT_EQ(waits_, 0);
}

TEST_F(SystemdControlTest, PauseAndContinueRefused) {
  ASSERT_TRUE(channel_->Start());
  Given("enabled", "active");
  channel_->deny = true;
  EXPECT_FALSE(control().PauseServiceAndWait(5));
  EXPECT_NE(control().LastError().find("refused PAUSE"), std::string::npos) << control().LastError();
  EXPECT_FALSE(channel_->paused);
  channel_->deny = false;
  channel_->paused = true;
  channel_->failContinue = true;
  EXPECT_FALSE(control().ContinueServiceAndWait(5));
  EXPECT_NE(control().LastError().find("FAILED"), std::string::npos) << control().LastError();
  EXPECT_EQ(waits_, 0);
  channel_->Stop();
  EXPECT_FALSE(control().PauseServiceAndWait(5));
  EXPECT_NE(control().LastError().find("does not answer"), std::string::npos) << control().LastError();
}

TEST_F(SystemdControlTest, PauseWaitsForThePausedState) {
  // The spooler answers OK but does not say paused: it is waited for, the time-out tells.
  ASSERT_TRUE(channel_->Start());
  Given("enabled", "active");
  channel_->lingers = true;
  EXPECT_FALSE(control().PauseServiceAndWait(3));
  EXPECT_EQ(waits_, 2);
  EXPECT_NE(control().LastError().find("within 3 s"), std::string::npos) << control().LastError();
}

class SystemdBusGoneTest : public test::PrivateSystemBus {};

TEST_F(SystemdBusGoneTest, BusWithoutSystemd) {
  SystemdServiceControl control(ServiceDefinition{}, SystemdBus(bus()));
  EXPECT_EQ(control.QueryServiceStartType(), kNoServiceManager);
  EXPECT_NE(control.LastError().find("ServiceUnknown"), std::string::npos) << control.LastError();
  EXPECT_EQ(control.QueryServiceState(), kServiceUnknown);
}

TEST(SystemdNoBusTest, NoBusAtAll) {
  const QString name = QStringLiteral("pv-systemd-test-nobus");
  {
    SystemdServiceControl control(
        ServiceDefinition{}, SystemdBus(QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent"), name)));
    EXPECT_EQ(control.QueryServiceStartType(), kNoServiceManager);
    EXPECT_NE(control.LastError().find("no connection to the system bus"), std::string::npos) << control.LastError();
    EXPECT_EQ(control.QueryServiceState(), kServiceUnknown);
    EXPECT_FALSE(control.StartServiceAndWait(0));
    EXPECT_FALSE(control.InstallService(kStartAutomatic));
  }
  QDBusConnection::disconnectFromBus(name);
  // The system bus itself, which main points at nothing.
  SystemdServiceControl control;
  EXPECT_EQ(control.QueryServiceStartType(), kNoServiceManager);
}

TEST(SystemdUnitFileTest, ShippedUnitFile) {
  ::setenv("POSTVANE_UNIT_FILE", "/srv/units/PostvaneSpooler.service", 1);
  EXPECT_EQ(ShippedUnitFile(), "/srv/units/PostvaneSpooler.service");
  ::unsetenv("POSTVANE_UNIT_FILE");
  // The test program has no share/postvane beside it: the place the build installs to.
  EXPECT_EQ(ShippedUnitFile(), POSTVANE_TEST_INSTALLED_UNIT_FILE);
  EXPECT_EQ(ServiceDefinition{}.unitName, "PostvaneSpooler.service");
}

}  // namespace
}  // namespace pv
