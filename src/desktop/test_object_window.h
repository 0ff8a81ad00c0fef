#pragma once
// The window that tests the scripting object and the spooler together ("Postvane COM Object
// Test"): the scripting object checks the typed address, spools a test mail with a copy of the
// settings file attached, the directory it wrote into is compared with the spooler's, and the
// spooler is asked for a run. Every outcome is told in a message box; after a failure the
// window stays open for another try, after a success it closes.
#include <QDialog>
#include <functional>
#include <memory>
#include <string>

#include "desktop/message_box.h"
#include "scripting/client/scripting_object.h"
#include "settings/spooler_settings.h"
#include "support/date_time.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace pv {

struct StartupValues;

// The names of this machine that the test mail tells.
struct MachineNames {
  std::string computerName;
  std::string domainName;     // "" when none
  std::string workgroupName;  // "" on Linux
};
MachineNames CurrentMachineNames();

// What the window needs from the process that opens it.
struct TestObjectHost {
  std::string settingsFile;
  // DefaultReturnAddress (the address offered first), SystemDNSServers, ProgramDirectory (the
  // default spool directory) and LogDirectory (the default log directory, "" for the spool
  // directory), as the settings are loaded with them.
  SettingsDefaults defaults;
  std::string programPath;  // postvane-spool is looked for beside it
  bool remoteSession = false;
  bool debugMode = false;
  bool quietMode = false;
  bool startedAsService = false;  // the tray shows the system service
  // Makes the scripting object; empty: postvane-spool run as a process (spool_tool_object.h).
  ScriptingObjectFactory scriptingObject;
  // The clock and the names the test mail tells; empty: the system's.
  std::function<LocalDateTime()> now;
  std::function<MachineNames()> machineNames;
};

// The host for this process's start-up values.
TestObjectHost TestObjectHostOf(const StartupValues& startup, bool startedAsService);

class TestObjectWindow : public QDialog {
  Q_OBJECT
 public:
  explicit TestObjectWindow(TestObjectHost host, QWidget* parent = nullptr);
  ~TestObjectWindow() override;

  // True while a test runs (the window then refuses to close).
  bool busy() const { return busy_; }

 public slots:
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  struct Directories {
    QString spoolDir;
    QString logDir;
  };
  // How a test ended: the spool file written, or the box that tells why not.
  struct Outcome {
    bool succeeded = false;
    QString file;
    MessageRequest message;
  };
  class BusyScope;

  void createControls();
  void createLayout();
  void connectControls();
  void loadAddress();

  void runTest();
  Outcome runSteps(ScriptingObject& object, const QString& address);
  static Outcome Failure(const QString& text);
  QString dnsUrl() const;
  Directories directories() const;
  QString mailText(const Directories& dirs) const;
  std::unique_ptr<ScriptingObject> makeObject() const;

  TestObjectHost host_;
  bool busy_ = false;
  QLabel* label1_ = nullptr;
  QLineEdit* txteMailAddress_ = nullptr;
  QPushButton* cmdOK_ = nullptr;
  QPushButton* cmdCancel_ = nullptr;
};

// Whether two directory paths name the same directory: their canonical paths (symbolic links
// resolved) for directories that exist, else their cleaned absolute paths; compared exactly,
// case and all, separators at the end ignored.
bool SameDirectory(const QString& a, const QString& b);

// Opens this process's one test window (not modal), or raises it when it is open. The window
// deletes itself when it closes.
TestObjectWindow* ShowTestObjectWindow(const TestObjectHost& host);

}  // namespace pv
