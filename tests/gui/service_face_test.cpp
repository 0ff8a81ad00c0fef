// The tray that shows the system service: a real control server in this process plays the
// service (its STATE, WATCH, SPOOLNOW and RELOAD answers), a fake service manager takes Pause,
// Continue and Stop.
#include <gtest/gtest.h>

#include <QAction>
#include <QTemporaryDir>
#include <QTest>
#include <deque>
#include <string>
#include <vector>

#include "desktop/message_box.h"
#include "desktop/service_face.h"
#include "desktop/tray_icon.h"
#include "desktop/tray_menu.h"
#include "fake_service_control.h"
#include "platform/watch_event.h"
#include "reporting_api/notifier.h"

namespace pv {
namespace {

class RecordingNotifier : public Notifier {
 public:
  void ShowBalloon(BalloonIcon icon, const std::string& title, const std::string& text) override {
    shown.push_back(std::to_string(static_cast<int>(icon)) + "|" + title + "|" + text);
  }
  void ShowCriticalMessage(const std::string& text) override { shown.push_back("critical|" + text); }
  std::vector<std::string> shown;
};

class FaceOfTheServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    server_ = std::make_unique<ControlServer>(
        dir_.path().toStdString(), [this](const std::string& request, uid_t) { return answer(request); });
    std::string error;
    ASSERT_TRUE(server_->Listen(error)) << error;
    SetMessageAnswererForTests([this](const MessageRequest& request) {
      messages.push_back(request.text.toStdString());
      return QMessageBox::Ok;
    });
    face_ = std::make_unique<ServiceFace>(tray_, menu_, service_, notifier_,
                                          FaceWindows{nullptr, [this](const std::string& file) {
                                                        settingsOpened.push_back(file);
                                                      },
                                                      nullptr, nullptr},
                                          server_->path());
    QObject::connect(face_.get(), &ServiceFace::ended, [this] { ended = true; });
    // The requests of one line are answered here at once: the server shares this thread, so a
    // blocking client would wait for itself. The watch takes the socket.
    face_->ask = [this](const std::string& request) { return server_ ? answer(request) : ""; };
  }

  std::string answer(const std::string& request) {
    requests.push_back(request);
    if (request == "STATE") return state;
    if (request == kWatchRequest) return watchAnswer;
    return std::string("OK");
  }

  void TearDown() override { SetMessageAnswererForTests(nullptr); }

  // "pcs": Pause, Continue and Spool now on ('+') or off ('-').
  std::string Entries() const {
    std::string entries;
    for (const QAction* entry : {menu_.pause, menu_.cont, menu_.spoolNow})
      entries += entry->isEnabled() ? '+' : '-';
    return entries;
  }

  QTemporaryDir dir_;
  std::unique_ptr<ControlServer> server_;
  TrayIcon tray_;
  TrayMenu menu_;
  FakeService service_;
  RecordingNotifier notifier_;
  std::unique_ptr<ServiceFace> face_;
  std::string state = "state=waiting\tnext=2026-12-08T12:00:03\tdir=/var/spool/postvane/\text=eml"
                      "\tsettings=/etc/postvane/postvane.start";
  std::string watchAnswer = "OK";
  std::vector<std::string> requests, messages, settingsOpened;
  bool ended = false;
};

TEST(FaceStateLine, ReadsTheStateAnswer) {
  const ServiceView paused = ServiceViewOf("state=paused\tnext=2026-12-08T12:00:03\tsettings=/etc/p.start");
  EXPECT_TRUE(paused.reachable);
  EXPECT_EQ(paused.state, SpoolerState::Paused);
  EXPECT_FALSE(paused.nextRun.empty());
  EXPECT_EQ(paused.settingsFile, "/etc/p.start");
  EXPECT_EQ(ServiceViewOf("state=spooling").state, SpoolerState::Spooling);
  EXPECT_EQ(ServiceViewOf("state=offline\tnext=x").nextRun, "");
  EXPECT_FALSE(ServiceViewOf("").reachable);
  EXPECT_FALSE(ServiceViewOf("DENIED").reachable);
}

TEST_F(FaceOfTheServiceTest, ShowsTheServiceAndItsNotifications) {
  face_->Start();
  EXPECT_TRUE(tray_.ToolTip().contains(QStringLiteral("Next Run at"))) << tray_.ToolTip().toStdString();
  EXPECT_EQ(Entries(), "+-+");
  EXPECT_TRUE(menu_.serviceSettings->isEnabled() == false);  // no window given
  ASSERT_TRUE(QTest::qWaitFor([&] { return face_->watching(); }, 5000));

  server_->Broadcast(FormatBalloonEvent(1, "Postvane Success", "1 eMail(s) send out."));
  server_->Broadcast(FormatBalloonEvent(3, "Postvane Error", "refused\nby the server"));
  server_->Broadcast(FormatCriticalEvent("The log cannot be written"));
  server_->Broadcast("SOMETHING\tnew");
  ASSERT_TRUE(QTest::qWaitFor([&] { return notifier_.shown.size() == 3; }, 5000));
  EXPECT_EQ(notifier_.shown, (std::vector<std::string>{"1|Postvane Success|1 eMail(s) send out.",
                                                       "3|Postvane Error|refused\nby the server",
                                                       "critical|The log cannot be written"}));

  menu_.spoolNow->trigger();
  EXPECT_EQ(requests.back(), "SPOOLNOW");
  state = "state=paused\tnext=2026-12-08T12:00:03\tsettings=/etc/postvane/postvane.start";
  face_->Refresh();
  EXPECT_TRUE(tray_.Paused);
  EXPECT_TRUE(tray_.ToolTip().contains(QStringLiteral("Paused")));
  EXPECT_EQ(Entries(), "-+-");
  menu_.settings->trigger();
  EXPECT_EQ(settingsOpened, std::vector<std::string>{"/etc/postvane/postvane.start"});
}

TEST_F(FaceOfTheServiceTest, ARefusedWatchStillShowsTheState) {
  watchAnswer = "DENIED";
  face_->Start();
  QTest::qWait(300);
  EXPECT_FALSE(face_->watching());
  EXPECT_TRUE(tray_.ToolTip().contains(QStringLiteral("Next Run at")));
  EXPECT_FALSE(ended);
}

TEST_F(FaceOfTheServiceTest, PauseContinueAndStopGoThroughTheServiceManager) {
  face_->Start();
  face_->PauseCommand();
  face_->ContinueCommand();
  EXPECT_EQ(service_.calls, (std::vector<std::string>{"pause", "continue"}));
  EXPECT_TRUE(messages.empty());

  service_.succeeds = false;
  service_.calls.clear();
  face_->PauseCommand();
  face_->ContinueCommand();
  EXPECT_EQ(messages, (std::vector<std::string>{"Error while pausing service.",
                                                "Error while continue service."}));

  // Stop: paused while asked; No continues the running service.
  service_.succeeds = true;
  service_.calls.clear();
  face_->askStop = [] { return false; };
  menu_.stop->trigger();
  EXPECT_EQ(service_.calls, (std::vector<std::string>{"pause", "continue"}));
  EXPECT_FALSE(ended);

  service_.calls.clear();
  face_->askStop = [] { return true; };
  menu_.stop->trigger();
  EXPECT_EQ(service_.calls, (std::vector<std::string>{"pause", "stop"}));
  EXPECT_TRUE(ended);
}

TEST_F(FaceOfTheServiceTest, AFailedStopKeepsTheFace) {
  face_->Start();
  service_.succeeds = false;
  face_->askStop = [] { return true; };
  menu_.stop->trigger();
  EXPECT_EQ(messages, std::vector<std::string>{"Error while stopping service."});
  EXPECT_FALSE(ended);
}

TEST_F(FaceOfTheServiceTest, EndsWhenTheServiceHasGone) {
  face_->Start();
  server_.reset();
  for (int i = 1; i < ServiceFace::kMissesBeforeEnd; ++i) face_->Refresh();
  EXPECT_FALSE(ended) << "one restart's gap is no end";
  face_->Refresh();
  EXPECT_TRUE(ended);
}

}  // namespace
}  // namespace pv
