#pragma once
// The spooler's icon in the panel's notification area, over QSystemTrayIcon: shows a picture and
// tooltip, balloons at it, and goes away again. The icon object is made by the first SetIcon
// and dropped by RemoveIcon, so the next SetIcon starts afresh.
#include <QIcon>
#include <QObject>
#include <QString>
#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace pv {

// The picture of a state at every panel size, HiDPI sizes included.
QIcon LoadTrayPicture(int picture);

class TrayIcon : public QObject {
  Q_OBJECT
 public:
  explicit TrayIcon(QObject* parent = nullptr);
  ~TrayIcon() override;

  // The spooler's pause flag; the owner sets it, the tray status reads it.
  bool Paused = false;

  // Shows the icon with the picture and tooltip (cut as PanelTooltip says); true when a
  // notification area is there to take it.
  bool SetIcon(const QIcon& picture, const QString& tooltip);
  // iconIndex: 1 information, 2 warning, 3 error. False (nothing shown) before the first
  // SetIcon, after RemoveIcon, or where balloons are not supported.
  bool ShowBalloon(int iconIndex, bool silent, const QString& title, const QString& text);
  // False when no icon was shown.
  bool RemoveIcon();
  bool CanShowBalloons() const { return balloons_; }
  // The tooltip as the panel has it; "" without an icon.
  QString ToolTip() const;
  // The popup menu of a right click (the owner keeps it); also for an icon made later.
  void SetMenu(QMenu* menu);

 signals:
  void RightMouseButton();
  void LeftMouseButton();
  void LeftMouseDblClick();
  void BallonUserClick();

 private:
  bool balloons_;
  QMenu* menu_ = nullptr;
  std::unique_ptr<QSystemTrayIcon> icon_;
};

}  // namespace pv
