#pragma once
// A session bus of the test's own with python3-dbusmock's notification daemon on it, for the
// end-to-end tests of the desktop's notifications. Both run as the user a launcher names (or
// as this process's user); the mock logs every Notify it takes.
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "../common/private_bus_config.h"
#include "spooler_process.h"

namespace pv::test {


// A child process killed and reaped when it goes.
class Child {
 public:
  explicit Child(pid_t pid = -1) : pid_(pid) {}
  ~Child() { Stop(SIGKILL); }
  Child& operator=(Child&& other) noexcept {
    std::swap(pid_, other.pid_);
    return *this;
  }
  pid_t pid() const { return pid_; }
  std::optional<int> Stop(int signal = SIGTERM) {
    if (pid_ <= 0) return std::nullopt;
    ::kill(pid_, signal);
    const std::optional<int> code = WaitForExit(pid_, std::chrono::seconds(20));
    if (!code) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    return code;
  }

 private:
  pid_t pid_;
};

inline bool DesktopBusToolsPresent() {
  namespace fs = std::filesystem;
  return fs::exists("/usr/bin/dbus-daemon") && fs::exists("/usr/bin/dbus-send") &&
         fs::exists("/usr/lib/python3/dist-packages/dbusmock");
}

class NotificationBus {
 public:
  // dir: where the bus's socket, configuration and logs go; launcher: how the bus and the
  // mock are started (setpriv as another user), empty for this process's user.
  bool Start(const std::string& dir, const std::vector<std::string>& launcher = {}) {
    dir_ = dir;
    const std::string socket = dir + "/bus.sock";
    std::ofstream(dir + "/bus.conf") << PrivateBusConfig("session", "unix:path=" + socket);
    address_ = "unix:path=" + socket;
    bus_ = Child(SpawnProgram(With(launcher, {"/usr/bin/dbus-daemon", "--config-file=" + dir + "/bus.conf",
                                              "--nofork"}),
                              {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"}}, dir + "/bus.out"));
    if (!WaitUntil([&] { return std::filesystem::exists(socket); })) return false;
    mock_ = Child(SpawnProgram(With(launcher, {"/usr/bin/python3", "-m", "dbusmock", "--session", "-t",
                                               "notification_daemon", "-l", dir + "/notify.log"}),
                               {{"DBUS_SESSION_BUS_ADDRESS", address_}}, dir + "/mock.out"));
    return WaitUntil([&] { return ServerOnBus(launcher); });
  }
  void Stop() {
    mock_.Stop();
    bus_.Stop();
  }
  const std::string& address() const { return address_; }
  std::string Log() const { return ReadWholeFile(dir_ + "/notify.log"); }
  std::string MockOutput() const { return ReadWholeFile(dir_ + "/mock.out"); }

 private:
  static std::vector<std::string> With(std::vector<std::string> launcher,
                                       const std::vector<std::string>& command) {
    launcher.insert(launcher.end(), command.begin(), command.end());
    return launcher;
  }
  // Whether the mock owns the notification server's name yet.
  bool ServerOnBus(const std::vector<std::string>& launcher) const {
    const std::string out = dir_ + "/owner.out";
    std::filesystem::remove(out);
    const pid_t pid = SpawnProgram(
        With(launcher, {"/usr/bin/dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
                        "org.freedesktop.DBus.NameHasOwner", "string:org.freedesktop.Notifications"}),
        {{"DBUS_SESSION_BUS_ADDRESS", address_}}, out);
    return pid > 0 && WaitForExit(pid, std::chrono::seconds(5)) == 0 &&
           ReadWholeFile(out).find("boolean true") != std::string::npos;
  }

  std::string dir_, address_;
  Child bus_, mock_;
};

}  // namespace pv::test
