#include "desktop/tray_status.h"

#include <QCoreApplication>

namespace pv {
namespace {

QString Tr(const char* text) { return QCoreApplication::translate("TrayStatus", text); }

TrayStatus TwoLines(TrayPicture picture, const QString& second) {
  return {picture, Tr("Postvane") + QStringLiteral("\r\n") + second};
}

}  // namespace

TrayStatus TrayStatusFor(SpoolerState state, const QString& nextRun) {
  switch (state) {
    case SpoolerState::Offline: return TwoLines(TrayPicture::Offline, Tr("Not connected to the internet"));
    case SpoolerState::Spooling: return TwoLines(TrayPicture::Spooling, Tr("Spooling eMail"));
    case SpoolerState::Paused: return TwoLines(TrayPicture::Paused, Tr("Paused"));
    case SpoolerState::Waiting: break;
  }
  return TwoLines(TrayPicture::Waiting, Tr("Next Run at ") + nextRun);
}

TrayStatus PreparingTrayStatus() {
  return {TrayPicture::Waiting, Tr("Preparing. Please be patient.")};
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
