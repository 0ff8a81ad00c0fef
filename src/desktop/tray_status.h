#pragma once
// What the tray shows for a spooler state: which of the four pictures and the tooltip, and the
// tooltip as a panel takes it. Pure; no Qt Widgets.
#include <QString>

#include "shell/spooler_controller.h"

namespace pv {

// The tray pictures, in this order (the resource names in TrayIconPath).
enum class TrayPicture { Waiting = 0, Spooling = 1, Paused = 2, Offline = 3 };

struct TrayStatus {
  TrayPicture picture;
  QString tooltip;  // two lines joined by CRLF, except before the first refresh
};

// The picture and tooltip of a state; nextRun is the next run in the general date format.
TrayStatus TrayStatusFor(SpoolerState state, const QString& nextRun);
// Shown from the launch until the first refresh.
TrayStatus PreparingTrayStatus();

// The tooltip as handed to the panel: where balloons are supported, at most 127 characters;
// elsewhere every CRLF becomes " - " and at most 63 characters remain. Too long is cut, never
// refused.
QString PanelTooltip(const QString& tooltip, bool balloonsSupported);

// The resource path of a picture at a size (16, 22, 24, 32, 48, 64), hiDpi for twice the pixels.
QString TrayIconPath(TrayPicture picture, int size, bool hiDpi);

}  // namespace pv
