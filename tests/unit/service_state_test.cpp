#include "service/service_state.h"

#include <gtest/gtest.h>

#include "service/service_control.h"

namespace pv {
namespace {

TEST(SystemdStates, FromActiveState) {
  struct Case { const char* activeState; bool paused; int state; };
  const Case cases[] = {
      {"inactive", false, kServiceStopped},     {"failed", false, kServiceStopped},
      {"activating", false, kServiceStartPending}, {"deactivating", false, kServiceStopPending},
      {"active", false, kServiceRunning},       {"reloading", false, kServiceRunning},
      {"active", true, kServicePaused},         {"reloading", true, kServicePaused},
      // A paused spooler that systemd sees stopping or stopped is not paused.
      {"inactive", true, kServiceStopped},      {"deactivating", true, kServiceStopPending},
      {"maintenance", false, kServiceUnknown},  {"", false, kServiceUnknown},
      {"Active", false, kServiceUnknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.activeState) + (c.paused ? " paused" : ""));
    EXPECT_EQ(ServiceStateFromActiveState(c.activeState, c.paused), c.state);
  }
}

TEST(SystemdStates, StartTypeFromUnitFileState) {
  struct Case { const char* unitFileState; int startType; };
  const Case cases[] = {
      {"enabled", kStartAutomatic},  {"enabled-runtime", kStartAutomatic},
      {"linked", kStartOnDemand},    {"linked-runtime", kStartOnDemand},
      {"disabled", kStartOnDemand},  {"static", kStartOnDemand},
      {"indirect", kStartOnDemand},  {"alias", kStartOnDemand},
      {"generated", kStartOnDemand}, {"masked", kStartDisabled},
      {"masked-runtime", kStartDisabled},
      {"transient", kStartTypeUnexpected}, {"bad", kStartTypeUnexpected},
      {"", kStartTypeUnexpected},    {"Enabled", kStartTypeUnexpected},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.unitFileState);
    EXPECT_EQ(StartTypeFromUnitFileState(c.unitFileState), c.startType);
  }
}

TEST(SystemdStates, StartTypeFromBusError) {
  struct Case { const char* errorName; int code; };
  const Case cases[] = {
      {"org.freedesktop.systemd1.NoSuchUnit", kNoSuchService},
      {"org.freedesktop.DBus.Error.FileNotFound", kNoSuchService},
      {"org.freedesktop.DBus.Error.ServiceUnknown", kNoServiceManager},
      {"org.freedesktop.DBus.Error.NameHasNoOwner", kNoServiceManager},
      {"org.freedesktop.DBus.Error.Disconnected", kNoServiceManager},
      {"org.freedesktop.DBus.Error.NoServer", kNoServiceManager},
      {"org.freedesktop.DBus.Error.AccessDenied", kStartTypeUnreadable},
      {"org.freedesktop.DBus.Error.NoReply", kStartTypeUnreadable},
      {"org.freedesktop.DBus.Error.Timeout", kStartTypeUnreadable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.errorName);
    EXPECT_EQ(StartTypeFromBusError(c.errorName), c.code);
  }
}

TEST(SystemdStates, ParseStateLine) {
  using Pairs = std::map<std::string, std::string>;
  EXPECT_EQ(ParseStateLine("state=paused\tnext=2024-05-01T10:00:00\tdir=/var/spool/postvane/\text=eml"),
            (Pairs{{"state", "paused"}, {"next", "2024-05-01T10:00:00"},
                   {"dir", "/var/spool/postvane/"}, {"ext", "eml"}}));
  // A value keeps its blanks and any further "="; an empty value is a value.
  EXPECT_EQ(ParseStateLine("dir=/srv/my spool/a=b\text="),
            (Pairs{{"dir", "/srv/my spool/a=b"}, {"ext", ""}}));
  // Pieces without a key are left out; the last of a key wins.
  EXPECT_EQ(ParseStateLine("OK\t=x\t\tstate=waiting\tstate=spooling\t"),
            (Pairs{{"state", "spooling"}}));
  EXPECT_TRUE(ParseStateLine("").empty());
}

TEST(SystemdStates, StateLineSaysPaused) {
  EXPECT_TRUE(StateLineSaysPaused("state=paused\tnext=2024-05-01T10:00:00"));
  EXPECT_TRUE(StateLineSaysPaused("next=x\tstate=paused"));
  EXPECT_FALSE(StateLineSaysPaused("state=waiting\tnext=2024-05-01T10:00:00"));
  EXPECT_FALSE(StateLineSaysPaused("state=pausedx"));
  EXPECT_FALSE(StateLineSaysPaused("dir=state=paused"));
  EXPECT_FALSE(StateLineSaysPaused("PAUSED"));
  EXPECT_FALSE(StateLineSaysPaused(""));
}

}  // namespace
}  // namespace pv
