#pragma once
// systemd's manager (org.freedesktop.systemd1) as the desktop calls it over D-Bus: one method
// for each call the service control makes, each a blocking call whose reply (or D-Bus error)
// comes back as a BusReply. Every call allows interactive authorization, so that polkit may ask
// the desktop's user for an administrator's password before systemd does what it was asked.
// Queries wait up to 5 seconds; requests, which may wait for that password dialog, up to
// 5 minutes, and the caller's window keeps repainting meanwhile.
#include <QDBusConnection>
#include <QVariantList>
#include <string>
#include <vector>

namespace pv {

inline constexpr int kBusQueryTimeoutMs = 5 * 1000;
inline constexpr int kBusRequestTimeoutMs = 5 * 60 * 1000;

struct BusReply {
  QVariantList values;       // the reply's arguments
  std::string errorName;     // the D-Bus error's name; "" when the call succeeded
  std::string errorMessage;  // and its message

  bool ok() const { return errorName.empty(); }
  // The first argument as text (an object path or a string); "" when there is none.
  std::string Text() const;
  // "<message> (<error name>)", for LastError.
  std::string ErrorText() const;
};

class SystemdBus {
 public:
  // The system bus by default ($DBUS_SYSTEM_BUS_ADDRESS, else the system's); tests pass a
  // connection to a bus of their own.
  explicit SystemdBus(QDBusConnection connection = QDBusConnection::systemBus());

  bool Connected() const { return connection_.isConnected(); }

  // Queries. GetUnit knows only loaded units (NoSuchUnit otherwise); LoadUnit loads the unit
  // from its file, and answers for a name without one too (LoadState "not-found").
  BusReply GetUnit(const std::string& name);
  BusReply LoadUnit(const std::string& name);
  // A property of org.freedesktop.systemd1.Unit ("ActiveState", "LoadState") of the unit at
  // that object path; the value is the reply's first argument.
  BusReply UnitProperty(const std::string& unitPath, const std::string& property);
  BusReply GetUnitFileState(const std::string& name);

  // Requests. The unit-file calls work on /etc (never runtime) and never force: an existing
  // link or mask in the way makes them fail. Their files are unit names or absolute paths.
  BusReply StartUnit(const std::string& name);  // mode "replace"
  BusReply StopUnit(const std::string& name);   // mode "replace"
  BusReply EnableUnitFiles(const std::vector<std::string>& files);
  BusReply LinkUnitFiles(const std::vector<std::string>& files);
  BusReply DisableUnitFiles(const std::vector<std::string>& files);
  BusReply MaskUnitFiles(const std::vector<std::string>& files);
  BusReply UnmaskUnitFiles(const std::vector<std::string>& files);
  // Reads the unit files anew (daemon-reload).
  BusReply Reload();

 private:
  BusReply CallManager(const QString& method, const QVariantList& args, int timeoutMs);
  BusReply Call(const QString& path, const QString& interface, const QString& method,
                const QVariantList& args, int timeoutMs);

  QDBusConnection connection_;
};

}  // namespace pv
