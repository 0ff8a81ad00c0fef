#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/control_answer.h"

namespace pv {
namespace {

constexpr uid_t kOwn = 1000;
constexpr uid_t kOther = 1001;
constexpr uid_t kRoot = 0;
constexpr uid_t kUnknownPeer = static_cast<uid_t>(-1);
constexpr uid_t kMember = 1002;  // of the group postvane

bool FakeMembership(uid_t uid) { return uid == kMember; }

// Answers as told and records what it was asked to do.
class FakeSpooler : public ControlledSpooler {
 public:
  bool SpoolNow() override {
    calls.push_back("SpoolNow");
    return !paused;
  }
  bool PauseService() override {
    calls.push_back("PauseService");
    return true;
  }
  bool ContService() override {
    calls.push_back("ContService");
    return settingsLoad;
  }
  bool Reload() override {
    calls.push_back("Reload");
    return settingsLoad;
  }
  std::string StatusText() const override { return paused ? "Paused" : "Next Run at 12:00:03"; }
  std::string StateLine() const override {
    return paused ? "state=paused\tnext=2026-12-08T12:00:03" : "state=waiting\tnext=2026-12-08T12:00:03";
  }
  std::string SettingsFile() const override { return "/etc/pv/postvane.start"; }
  SpoolerSettings Settings() const override {
    SpoolerSettings settings;
    settings.SpoolFilePattern = "/var/spool/pv/*.mail";
    settings.DefaultExtension = "mail";
    return settings;
  }
  std::string QueueAnswer(std::string_view verb, const std::string& name) override {
    calls.push_back(std::string(verb) + " " + name);
    return "[]";
  }

  bool paused = false;
  bool settingsLoad = true;
  std::vector<std::string> calls;
};

struct AnswerCase {
  std::string request;
  uid_t peer, own;
  bool paused, settingsLoad;
  std::string answer;
  std::vector<std::string> calls;
};

TEST(ControlAnswer, RequestsAnswersAndWhoMayAsk) {
  using Calls = std::vector<std::string>;
  const std::string waiting = "Next Run at 12:00:03; spool directory /var/spool/pv/";
  const std::vector<AnswerCase> cases = {
      {"SPOOLNOW", kOther, kOwn, false, true, "OK", Calls{"SpoolNow"}},  // anyone may ask
      {"SPOOLNOW", kOther, kRoot, true, true, "PAUSED", Calls{"SpoolNow"}},
      {"STATUS", kOther, kOwn, false, true, waiting, Calls{}},
      {"STATE", kOther, kOwn, true, true,
       "state=paused\tnext=2026-12-08T12:00:03\tdir=/var/spool/pv/\text=mail\tsettings=/etc/pv/postvane.start",
       Calls{}},
      {"PAUSE", kOwn, kOwn, false, true, "OK", Calls{"PauseService"}},
      {"PAUSE", kOther, kOwn, false, true, "DENIED", Calls{}},
      {"PAUSE", kOwn, kRoot, false, true, "DENIED", Calls{}},  // a user does not pause root's service
      {"PAUSE", kUnknownPeer, kOwn, false, true, "DENIED", Calls{}},
      {"CONTINUE", kRoot, kOwn, true, false, "FAILED", Calls{"ContService"}},
      {"RELOAD", kOwn, kOwn, true, true, "OK", Calls{"Reload"}},
      {"RELOAD", kOwn, kOwn, false, false, "FAILED", Calls{"Reload"}},
      {"RELOAD", kOther, kOwn, false, true, "DENIED", Calls{}},
      {"SHOWSETTINGS", kOwn, kOwn, false, true, "NO DESKTOP", Calls{}},  // a headless spooler
      {"SHOWSETTINGS", kOther, kOwn, false, true, "DENIED", Calls{}},
      {"pause", kOwn, kOwn, false, true, "UNKNOWN", Calls{}},  // requests are exact
      {"", kOwn, kOwn, false, true, "UNKNOWN", Calls{}},
  };
  for (const AnswerCase& c : cases) {
    FakeSpooler spooler;
    spooler.paused = c.paused;
    spooler.settingsLoad = c.settingsLoad;
    const std::string shown = "[" + c.request + "] peer " + std::to_string(c.peer) + " own " +
                              std::to_string(c.own);
    EXPECT_EQ(ControlAnswer(spooler, c.request, c.peer, c.own, FakeMembership), c.answer) << shown;
    EXPECT_EQ(spooler.calls, c.calls) << shown;
  }
}

TEST(ControlAnswer, MembersRunTheServiceAndItsQueueWithCheckedNames) {
  using Calls = std::vector<std::string>;
  const std::string badName = "[{\"ok\":false,\"text\":\"'";
  const struct {
    std::string request;
    uid_t peer;
    std::string answer;  // its start
    Calls calls;
  } cases[] = {
      {"QUEUE", kMember, "[]", Calls{"QUEUE "}},
      {"QUEUE", kOther, "DENIED", Calls{}},
      {"QUEUE", kUnknownPeer, "DENIED", Calls{}},
      {"QUEUE all", kMember, "UNKNOWN", Calls{}},
      {"PAUSE", kMember, "OK", Calls{"PauseService"}},  // members run the service
      {"CONTINUE", kMember, "OK", Calls{"ContService"}},
      {"RELOAD", kMember, "OK", Calls{"Reload"}},
      {"SHOWSETTINGS", kMember, "DENIED", Calls{}},
      {"WATCH", kMember, "OK", Calls{}},  // members see the service's results
      {"WATCH", kOther, "DENIED", Calls{}},
      {"WATCH", kRoot, "OK", Calls{}},
      {"DELETE a b.eml", kMember, "[]", Calls{"DELETE a b.eml"}},
      {"HOLD a.eml", kOther, "DENIED", Calls{}},
      {"RETRY *", kMember, "[]", Calls{"RETRY *"}},
      {"DELETE *", kMember, badName + "*'", Calls{}},  // "*" only for RETRY
      {"DELETE ../etc/passwd", kMember, badName + "../etc/passwd'", Calls{}},
      {"HOLD a\x1b.eml", kMember, badName + "a\\u001b.eml'", Calls{}},
  };
  for (const auto& c : cases) {
    FakeSpooler spooler;
    const std::string answer = ControlAnswer(spooler, c.request, c.peer, kOwn, FakeMembership);
    EXPECT_EQ(answer.substr(0, c.answer.size()), c.answer) << c.request << " peer " << c.peer;
    EXPECT_EQ(spooler.calls, c.calls) << c.request << " peer " << c.peer;
  }
}

}  // namespace
}  // namespace pv
