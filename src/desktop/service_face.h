#pragma once
// The tray of a desktop user while the system service runs: a system service has no desktop,
// so the user's tray shows it instead of spooling itself. Its picture and tooltip follow the
// service's STATE answer once a second; the service's notifications arrive on a watch of its
// control channel (members of the group postvane); Pause, Continue and Stop go through the
// service manager, Spool now over the control channel. The face ends when the service has
// gone.
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "platform/control_channel.h"
#include "reporting_api/notifier.h"
#include "service/service_control.h"
#include "shell/spooler_controller.h"

namespace pv {

class TrayIcon;
class TrayMenu;

// The service as its STATE answer describes it; reachable false for no answer.
struct ServiceView {
  bool reachable = false;
  SpoolerState state = SpoolerState::Waiting;
  std::string nextRun;  // the general date format, "" when the answer names none
  std::string settingsFile;
};

// Reads a STATE answer ("state=…\tnext=…\tdir=…\text=…\tsettings=…"). Pure.
ServiceView ServiceViewOf(const std::string& stateLine);

// The windows the face opens.
struct FaceWindows {
  std::function<void()> about;
  std::function<void(const std::string& settingsFile)> settings;
  // The autostart and service window; false: the face ends.
  std::function<bool()> serviceSettings;
  std::function<void()> testObject;
};

class ServiceFace : public QObject {
  Q_OBJECT
 public:
  ServiceFace(TrayIcon& tray, TrayMenu& menu, ServiceControl& service, Notifier& notifier,
              FaceWindows windows, std::string controlSocket, QObject* parent = nullptr);

  // Shows the state, starts the watch and the one-second refresh.
  void Start();
  void Refresh();
  void PauseCommand();
  void ContinueCommand();
  // Pauses the service while it asks; Yes stops the service (and with it the face), No
  // continues a service that was running.
  void StopCommand();
  void SpoolNow();
  void DoSettings();

  const ServiceView& view() const { return view_; }
  bool watching() const { return watch_ && watch_->watching(); }

  // The Stop question; tests answer it.
  std::function<bool()> askStop;
  // One request to the service's control channel; tests may replace it.
  std::function<std::string(const std::string& request)> ask;

  // Polls without an answer after which the service counts as gone.
  static constexpr int kMissesBeforeEnd = 5;

 signals:
  // The service has gone or was stopped from here; the application ends.
  void ended();

 private:
  void connectEvents();
  void show(const ServiceView& view);
  void startWatch();
  void onEvent(const std::string& line);
  void end();

  TrayIcon& tray_;
  TrayMenu& menu_;
  ServiceControl& service_;
  Notifier& notifier_;
  FaceWindows windows_;
  std::string controlSocket_;
  ServiceView view_;
  QTimer timer_;
  std::unique_ptr<ControlWatch> watch_;
  bool shown_ = false;
  bool watchRefused_ = false;
  int misses_ = 0;
  bool ended_ = false;
};

// Whether the system service answers on its control socket (and is not this process's own
// spooler): then the tray becomes its face.
bool SystemServiceAnswers();

}  // namespace pv
