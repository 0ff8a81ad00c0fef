#include "service/systemd_bus.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QStringList>

namespace pv {
namespace {

const QString kSystemd = QStringLiteral("org.freedesktop.systemd1");
const QString kManagerPath = QStringLiteral("/org/freedesktop/systemd1");
const QString kManager = QStringLiteral("org.freedesktop.systemd1.Manager");
const QString kUnit = QStringLiteral("org.freedesktop.systemd1.Unit");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

QString Q(const std::string& text) { return QString::fromStdString(text); }

QStringList Files(const std::vector<std::string>& files) {
  QStringList list;
  for (const std::string& file : files) list << Q(file);
  return list;
}

}  // namespace

std::string BusReply::Text() const {
  if (values.isEmpty()) return {};
  const QVariant& first = values.first();
  if (first.canConvert<QDBusObjectPath>()) return first.value<QDBusObjectPath>().path().toStdString();
  return first.toString().toStdString();
}

std::string BusReply::ErrorText() const {
  if (ok()) return {};
  return (errorMessage.empty() ? errorName : errorMessage) + " (" + errorName + ")";
}

SystemdBus::SystemdBus(QDBusConnection connection) : connection_(std::move(connection)) {}

BusReply SystemdBus::Call(const QString& path, const QString& interface, const QString& method,
                          const QVariantList& args, int timeoutMs) {
  if (!connection_.isConnected()) {
    const QString why = connection_.lastError().message();
    return {{}, "org.freedesktop.DBus.Error.Disconnected",
            "no connection to the system bus" + (why.isEmpty() ? "" : ": " + why.toStdString())};
  }
  QDBusMessage call = QDBusMessage::createMethodCall(kSystemd, path, interface, method);
  call.setArguments(args);
  call.setInteractiveAuthorizationAllowed(true);
  // A request may wait minutes for the password dialog: meanwhile the window still repaints.
  const QDBus::CallMode mode = timeoutMs > kBusQueryTimeoutMs ? QDBus::BlockWithGui : QDBus::Block;
  const QDBusMessage reply = connection_.call(call, mode, timeoutMs);
  if (reply.type() == QDBusMessage::ReplyMessage) return {reply.arguments(), {}, {}};
  if (reply.type() == QDBusMessage::ErrorMessage)
    return {{}, reply.errorName().toStdString(), reply.errorMessage().toStdString()};
  return {{}, "org.freedesktop.DBus.Error.Failed", method.toStdString() + " got no reply"};
}

BusReply SystemdBus::CallManager(const QString& method, const QVariantList& args, int timeoutMs) {
  return Call(kManagerPath, kManager, method, args, timeoutMs);
}

BusReply SystemdBus::GetUnit(const std::string& name) {
  return CallManager(QStringLiteral("GetUnit"), {Q(name)}, kBusQueryTimeoutMs);
}

BusReply SystemdBus::LoadUnit(const std::string& name) {
  return CallManager(QStringLiteral("LoadUnit"), {Q(name)}, kBusQueryTimeoutMs);
}

BusReply SystemdBus::UnitProperty(const std::string& unitPath, const std::string& property) {
  BusReply reply =
      Call(Q(unitPath), kProperties, QStringLiteral("Get"), {kUnit, Q(property)}, kBusQueryTimeoutMs);
  // Properties.Get answers a variant: the value itself is inside.
  if (reply.ok() && !reply.values.isEmpty() && reply.values.first().canConvert<QDBusVariant>())
    reply.values.first() = reply.values.first().value<QDBusVariant>().variant();
  return reply;
}

BusReply SystemdBus::GetUnitFileState(const std::string& name) {
  return CallManager(QStringLiteral("GetUnitFileState"), {Q(name)}, kBusQueryTimeoutMs);
}

BusReply SystemdBus::StartUnit(const std::string& name) {
  return CallManager(QStringLiteral("StartUnit"), {Q(name), QStringLiteral("replace")},
                     kBusRequestTimeoutMs);
}

BusReply SystemdBus::StopUnit(const std::string& name) {
  return CallManager(QStringLiteral("StopUnit"), {Q(name), QStringLiteral("replace")},
                     kBusRequestTimeoutMs);
}

BusReply SystemdBus::EnableUnitFiles(const std::vector<std::string>& files) {
  return CallManager(QStringLiteral("EnableUnitFiles"), {Files(files), false, false},
                     kBusRequestTimeoutMs);
}

BusReply SystemdBus::LinkUnitFiles(const std::vector<std::string>& files) {
  return CallManager(QStringLiteral("LinkUnitFiles"), {Files(files), false, false},
                     kBusRequestTimeoutMs);
}

BusReply SystemdBus::DisableUnitFiles(const std::vector<std::string>& files) {
  return CallManager(QStringLiteral("DisableUnitFiles"), {Files(files), false}, kBusRequestTimeoutMs);
}

BusReply SystemdBus::MaskUnitFiles(const std::vector<std::string>& files) {
  return CallManager(QStringLiteral("MaskUnitFiles"), {Files(files), false, false},
                     kBusRequestTimeoutMs);
}

BusReply SystemdBus::UnmaskUnitFiles(const std::vector<std::string>& files) {
  return CallManager(QStringLiteral("UnmaskUnitFiles"), {Files(files), false}, kBusRequestTimeoutMs);
}

BusReply SystemdBus::Reload() {
  return CallManager(QStringLiteral("Reload"), {}, kBusRequestTimeoutMs);
}

}  // namespace pv
