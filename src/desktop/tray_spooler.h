#pragma once
// The spooler as the tray shows and runs it: the life cycle with the menu's states, the tray
// status, the menu's commands (Settings, Pause, Continue, Spool now, Stop with its question)
// and the clicks at the icon. Lives on the event loop's thread.
#include <QObject>
#include <functional>

#include "shell/spooler_controller.h"

namespace pv {

class TrayIcon;
class TrayMenu;

// The windows the tray opens.
struct TrayWindows {
  std::function<void()> about;     // the About box, not modal
  std::function<void()> settings;  // the settings window, one per process, not modal
  // Before Stop ends the spooler: the settings window offers to save unsaved changes.
  std::function<void()> beforeEnd = nullptr;
  // The autostart and service window; false: the system service now runs, so this spooler
  // ends (and the tray comes back as the service's face). Empty: the entry stays off.
  std::function<bool()> serviceSettings = nullptr;
  // The scripting test window, not modal. Empty: the entry stays off.
  std::function<void()> testObject = nullptr;
};

// Whether the panel's tray host speaks StatusNotifierItem, which knows a single activation but
// no double click.
bool TrayHostKnowsOnlyActivation();

class TraySpooler : public QObject {
  Q_OBJECT
 public:
  TraySpooler(SpoolerController& controller, TrayIcon& tray, TrayMenu& menu, TrayWindows windows,
              QObject* parent = nullptr);

  bool StartService();
  bool PauseService();
  // False when the settings did not load: the spooler stays paused, and so does the menu.
  bool ContService();
  // Ends after the mail in hand; the controller's end then quits the application.
  bool EndService();
  void DoSettings();
  // The autostart and service window; ends the spooler when the system service took over.
  void DoServiceSettings();
  // Pauses while it asks whether to stop; No continues a spooler that was running.
  void StopCommand();

  // The tray's picture and tooltip for a state.
  void ShowState(SpoolerState state);

  // The Stop question; tests answer it.
  std::function<bool()> askStop;

 private:
  void connectEvents();

  SpoolerController& controller_;
  TrayIcon& tray_;
  TrayMenu& menu_;
  TrayWindows windows_;
  // After the end nothing starts again (a question still open when SIGTERM came).
  bool ended_ = false;
};

// The Stop question as a message box (Yes/No, No the default); true for Yes.
bool AskStopQuestion();

}  // namespace pv
