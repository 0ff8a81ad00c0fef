#include "desktop/desktop_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QMessageBox>
#include <QStringList>
#include <QVariantMap>
#include <utility>

#include "desktop/tray_icon.h"

namespace pv {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

QString IconName(int icon) {
  if (icon == static_cast<int>(BalloonIcon::Error)) return QStringLiteral("dialog-error");
  if (icon == static_cast<int>(BalloonIcon::Warning)) return QStringLiteral("dialog-warning");
  return QStringLiteral("dialog-information");
}

// Every spool result is of normal urgency; the category tells a good run from a failed one.
QVariantMap Hints(int icon) {
  const bool failed = icon == static_cast<int>(BalloonIcon::Error) || icon == static_cast<int>(BalloonIcon::Warning);
  return {
      {QStringLiteral("desktop-entry"), QStringLiteral("postvane")},
      {QStringLiteral("urgency"), QVariant::fromValue<uchar>(1)},
      {QStringLiteral("category"), failed ? QStringLiteral("transfer.error") : QStringLiteral("transfer.complete")},
  };
}

// Servers may read the body as markup.
QString NotificationBody(const QString& text) {
  QString body;
  body.reserve(text.size());
  for (const QChar c : text) {
    if (c == QLatin1Char('&')) body += QStringLiteral("&amp;");
    else if (c == QLatin1Char('<')) body += QStringLiteral("&lt;");
    else if (c == QLatin1Char('>')) body += QStringLiteral("&gt;");
    else body += c;
  }
  return body;
}

QMessageBox* createCriticalMessage(const QString& text) {
  auto* box = new QMessageBox(QMessageBox::Critical, DesktopNotifier::tr("Postvane"), text, QMessageBox::Ok);
  box->setObjectName(QStringLiteral("msgCritical"));
  box->setTextFormat(Qt::PlainText);
  box->setAttribute(Qt::WA_DeleteOnClose);
  return box;
}

}  // namespace

DesktopNotifier::DesktopNotifier(TrayIcon* tray, QDBusConnection bus, QObject* parent)
    : QObject(parent), tray_(tray), bus_(std::move(bus)) {}

void DesktopNotifier::ShowBalloon(BalloonIcon icon, const std::string& title, const std::string& text) {
  QMetaObject::invokeMethod(
      this,
      [this, code = static_cast<int>(icon), title = QString::fromStdString(title), text = QString::fromStdString(text)] {
        Notify(code, title, text);
      },
      Qt::AutoConnection);
}

void DesktopNotifier::ShowCriticalMessage(const std::string& text) {
  // Queued from other threads, never blocking: the GUI thread may be the one joining the caller.
  QMetaObject::invokeMethod(
      this, [this, text = QString::fromStdString(text)] { OpenCriticalMessage(text); }, Qt::AutoConnection);
}

// The bus answers at once with an error when the name is neither owned nor activatable, so no
// separate look-up is needed; an activation that takes longer than the timeout counts as none.
void DesktopNotifier::Notify(int icon, const QString& title, const QString& text) {
  if (!bus_.isConnected()) {
    ShowTrayBalloon(icon, title, text);
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
  call << QStringLiteral("Postvane") << uint(0) << IconName(icon) << title << NotificationBody(text)
       << QStringList() << Hints(icon) << int(-1);
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kNotifyTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, icon, title, text] {
    watcher->deleteLater();
    const QDBusPendingReply<uint> reply = *watcher;
    if (reply.isError()) {
      ShowTrayBalloon(icon, title, text);
      return;
    }
    emit NotificationSent(reply.value());
  });
}

void DesktopNotifier::ShowTrayBalloon(int icon, const QString& title, const QString& text) {
  // The spooler's balloons are never silent.
  if (tray_) tray_->ShowBalloon(icon, false, title, text);
  emit BalloonFallback();
}

void DesktopNotifier::OpenCriticalMessage(const QString& text) { createCriticalMessage(text)->open(); }

}  // namespace pv
