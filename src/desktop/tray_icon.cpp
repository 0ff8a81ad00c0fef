#include "desktop/tray_icon.h"

#include <QSystemTrayIcon>

#include "desktop/tray_status.h"

namespace pv {

QIcon LoadTrayPicture(int picture) {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64}) {
    icon.addFile(TrayIconPath(static_cast<TrayPicture>(picture), size, false), QSize(size, size));
    icon.addFile(TrayIconPath(static_cast<TrayPicture>(picture), size, true), QSize(2 * size, 2 * size));
  }
  return icon;
}

TrayIcon::TrayIcon(QObject* parent) : QObject(parent), balloons_(QSystemTrayIcon::supportsMessages()) {}

TrayIcon::~TrayIcon() = default;

bool TrayIcon::SetIcon(const QIcon& picture, const QString& tooltip) {
  if (!icon_) {
    icon_ = std::make_unique<QSystemTrayIcon>();
    connect(icon_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
      if (reason == QSystemTrayIcon::Context) emit RightMouseButton();
      if (reason == QSystemTrayIcon::Trigger) emit LeftMouseButton();
      if (reason == QSystemTrayIcon::DoubleClick) emit LeftMouseDblClick();
    });
    connect(icon_.get(), &QSystemTrayIcon::messageClicked, this, &TrayIcon::BallonUserClick);
    icon_->setContextMenu(menu_);
  }
  icon_->setIcon(picture);
  icon_->setToolTip(PanelTooltip(tooltip, balloons_));
  icon_->show();
  return QSystemTrayIcon::isSystemTrayAvailable();
}

bool TrayIcon::ShowBalloon(int iconIndex, bool silent, const QString& title, const QString& text) {
  if (!icon_ || !balloons_) return false;
  // Qt's balloons carry no sound of their own; Silent asks for nothing more than that.
  (void)silent;
  const auto kind = iconIndex == 3   ? QSystemTrayIcon::Critical
                    : iconIndex == 2 ? QSystemTrayIcon::Warning
                                     : QSystemTrayIcon::Information;
  icon_->showMessage(title.left(63), text.left(255), kind);
  return true;
}

QString TrayIcon::ToolTip() const { return icon_ ? icon_->toolTip() : QString(); }

void TrayIcon::SetMenu(QMenu* menu) {
  menu_ = menu;
  if (icon_) icon_->setContextMenu(menu_);
}

bool TrayIcon::RemoveIcon() {
  if (!icon_) return false;
  icon_->hide();
  icon_.reset();
  return true;
}

}  // namespace pv
