#include "desktop/tray_status.h"

namespace pv {
namespace {

const QString kTitle = QStringLiteral("Postvane");

TrayStatus TwoLines(TrayPicture picture, const QString& second) {
  return {picture, kTitle + QStringLiteral("\r\n") + second};
}

}  // namespace

TrayStatus TrayStatusFor(SpoolerState state, const QString& nextRun) {
  switch (state) {
    case SpoolerState::Offline: return TwoLines(TrayPicture::Offline, QStringLiteral("Not connected to the internet"));
    case SpoolerState::Spooling: return TwoLines(TrayPicture::Spooling, QStringLiteral("Spooling eMail"));
    case SpoolerState::Paused: return TwoLines(TrayPicture::Paused, QStringLiteral("Paused"));
    case SpoolerState::Waiting: break;
  }
  return TwoLines(TrayPicture::Waiting, QStringLiteral("Next Run at ") + nextRun);
}

TrayStatus PreparingTrayStatus() {
  return {TrayPicture::Waiting, QStringLiteral("Preparing. Please be patient.")};
}

QString PanelTooltip(const QString& tooltip, bool balloonsSupported) {
  if (balloonsSupported) return tooltip.left(127);
  QString oneLine = tooltip;
  oneLine.replace(QStringLiteral("\r\n"), QStringLiteral(" - "));
  return oneLine.left(63);
}

QString TrayIconPath(TrayPicture picture, int size, bool hiDpi) {
  static const char* const kNames[] = {"waiting", "spooling", "paused", "offline"};
  return QStringLiteral(":/tray/png/%1-%2%3.png")
      .arg(QLatin1String(kNames[static_cast<int>(picture)]))
      .arg(size)
      .arg(hiDpi ? QStringLiteral("@2x") : QString());
}

}  // namespace pv
