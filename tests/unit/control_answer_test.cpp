#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "reporting_api/notifier.h"
#include "shell/control_answer.h"
#include "shell/spooler_runtime.h"
#include "support/paths.h"
#include "support/unique_fd.h"
#include "temp_dir.h"

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
  std::string StatusText() const override { return paused ? "Paused" : "Next Run at 12:00:03"; }
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
      {"SPOOLNOW", kOwn, kOwn, false, true, "OK", Calls{"SpoolNow"}},
      {"SPOOLNOW", kOther, kOwn, false, true, "OK", Calls{"SpoolNow"}},  // anyone may ask
      {"SPOOLNOW", kOther, kRoot, true, true, "PAUSED", Calls{"SpoolNow"}},
      {"STATUS", kOther, kOwn, false, true, waiting, Calls{}},
      {"STATUS", kUnknownPeer, kOwn, true, true, "Paused; spool directory /var/spool/pv/", Calls{}},
      {"SPOOLDIR", kOther, kOwn, true, true, "/var/spool/pv/\tmail", Calls{}},
      {"PAUSE", kOwn, kOwn, false, true, "OK", Calls{"PauseService"}},
      {"PAUSE", kRoot, kOwn, false, true, "OK", Calls{"PauseService"}},
      {"PAUSE", kOther, kOwn, false, true, "DENIED", Calls{}},
      {"PAUSE", kOwn, kRoot, false, true, "DENIED", Calls{}},  // a user does not pause root's service
      {"PAUSE", kUnknownPeer, kOwn, false, true, "DENIED", Calls{}},
      {"CONTINUE", kOwn, kOwn, true, true, "OK", Calls{"ContService"}},
      {"CONTINUE", kRoot, kOwn, true, false, "FAILED", Calls{"ContService"}},
      {"CONTINUE", kOther, kOwn, true, true, "DENIED", Calls{}},
      {"pause", kOwn, kOwn, false, true, "UNKNOWN", Calls{}},  // requests are exact
      {"STATUS now", kOwn, kOwn, false, true, "UNKNOWN", Calls{}},
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

TEST(ControlAnswer, QueueRequestsForMembersWithCheckedNames) {
  using Calls = std::vector<std::string>;
  const std::string badName = "[{\"ok\":false,\"text\":\"'";
  const struct {
    std::string request;
    uid_t peer;
    std::string answer;  // its start
    Calls calls;
  } cases[] = {
      {"QUEUE", kMember, "[]", Calls{"QUEUE "}},
      {"QUEUE", kRoot, "[]", Calls{"QUEUE "}},
      {"QUEUE", kOwn, "[]", Calls{"QUEUE "}},
      {"QUEUE", kOther, "DENIED", Calls{}},
      {"QUEUE", kUnknownPeer, "DENIED", Calls{}},
      {"QUEUE all", kMember, "UNKNOWN", Calls{}},
      {"PAUSE", kMember, "DENIED", Calls{}},  // members use the queue, not the service
      {"DELETE a b.eml", kMember, "[]", Calls{"DELETE a b.eml"}},
      {"HOLD a.eml", kOther, "DENIED", Calls{}},
      {"RELEASE a.eml.hold", kRoot, "[]", Calls{"RELEASE a.eml.hold"}},
      {"RETRY *", kMember, "[]", Calls{"RETRY *"}},
      {"DELETE *", kMember, badName + "*'", Calls{}},  // "*" only for RETRY
      {"DELETE", kMember, "UNKNOWN", Calls{}},
      {"DELETE ", kMember, badName + "'", Calls{}},
      {"DELETE ../etc/passwd", kMember, badName + "../etc/passwd'", Calls{}},
      {"HOLD a\x1b.eml", kMember, badName + "a\\u001b.eml'", Calls{}},
      {"HOLD a\x7f.eml", kRoot, badName + "a\\u007f.eml'", Calls{}},
  };
  for (const auto& c : cases) {
    FakeSpooler spooler;
    const std::string answer = ControlAnswer(spooler, c.request, c.peer, kOwn, FakeMembership);
    EXPECT_EQ(answer.substr(0, c.answer.size()), c.answer) << c.request << " peer " << c.peer;
    EXPECT_EQ(spooler.calls, c.calls) << c.request << " peer " << c.peer;
  }
}

// One request over a real socket, served by the event loop of this thread.
std::string Ask(const std::string& socketPath, const std::string& request) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    return std::string("connect: ") + std::strerror(errno);
  const std::string line = request + "\n";
  if (::send(fd.get(), line.data(), line.size(), MSG_NOSIGNAL) < 0) return "send failed";
  std::string answer;
  for (int round = 0; round < 1000 && answer.find('\n') == std::string::npos; ++round) {
    QCoreApplication::processEvents();
    pollfd p{fd.get(), POLLIN, 0};
    if (::poll(&p, 1, 10) <= 0) continue;
    char buffer[256];
    const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
    if (n <= 0) break;
    answer.append(buffer, static_cast<std::size_t>(n));
  }
  return answer;
}

struct ShownState {
  SpoolerState state;
  std::string text;
};

TEST(SpoolerRuntimeTest, PeerOnTheControlSocketGetsTheAnswers) {
  int argc = 1;
  char name[] = "unit_tests";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  test::TempDir runtimeDir;
  SilentNotifier notifier;
  std::vector<ShownState> shown;
  bool quit = false;
  {
    SpoolerRuntime runtime(StartupValues{}, "test",
                           {notifier,
                            [&shown](SpoolerState state, const std::string& text) {
                              shown.push_back({state, text});
                            },
                            [&quit] { quit = true; }});
    std::string error;
    ASSERT_TRUE(runtime.ListenForControl(runtimeDir.path(), error)) << error;
    const std::string socketPath = runtimeDir / kControlSocketName;

    EXPECT_EQ(Ask(socketPath, "PAUSE"), "OK\n");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].state, SpoolerState::Paused);
    EXPECT_EQ(shown[0].text, "Paused");
    EXPECT_EQ(Ask(socketPath, "SPOOLNOW"), "PAUSED\n");
    const std::string status = Ask(socketPath, "STATUS");
    EXPECT_EQ(status.rfind("Paused; spool directory ", 0), 0u) << status;
    EXPECT_EQ(Ask(socketPath, "HELLO"), "UNKNOWN\n");

    runtime.controller().EndService();
    EXPECT_TRUE(quit);
  }
}

}  // namespace
}  // namespace pv
