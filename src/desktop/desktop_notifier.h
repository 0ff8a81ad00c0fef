#pragma once
// The desktop's notifier: balloons go to the desktop's notification server
// (org.freedesktop.Notifications on the session bus) and, where none answers, to the tray icon's
// own balloon; the critical message is a message box. Both may be called from any thread; the
// work is done on the thread that owns this object (the GUI thread), and no caller waits for it.
#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QString>
#include <string>

#include "reporting_api/notifier.h"

namespace pv {

class TrayIcon;

class DesktopNotifier : public QObject, public Notifier {
  Q_OBJECT
 public:
  // tray: where balloons go when no notification server answers; may be null (then nowhere).
  explicit DesktopNotifier(TrayIcon* tray, QDBusConnection bus = QDBusConnection::sessionBus(),
                           QObject* parent = nullptr);

  void ShowBalloon(BalloonIcon icon, const std::string& title, const std::string& text) override;
  // Opens the box and returns at once; the box deletes itself when closed.
  void ShowCriticalMessage(const std::string& text) override;

  // How long the notification server may take to answer before the tray shows the balloon.
  static constexpr int kNotifyTimeoutMs = 2000;

 signals:
  // The server took the notification under this id.
  void NotificationSent(uint id);
  // No server answered; the balloon went to the tray icon, if there is one.
  void BalloonFallback();

 private:
  void Notify(int icon, const QString& title, const QString& text);
  void ShowTrayBalloon(int icon, const QString& title, const QString& text);
  void OpenCriticalMessage(const QString& text);

  QPointer<TrayIcon> tray_;
  QDBusConnection bus_;
};

}  // namespace pv
