#pragma once
// The key that opens a dialog's manual topic from anywhere in it: F1 without Shift, Ctrl or
// Alt. The dialog sees key presses before its controls by filtering them.
class QEvent;
class QObject;
class QWidget;

namespace pv {

// A key press of F1 without Shift, Ctrl or Alt (Meta and the keypad flag do not count).
bool IsHelpKey(const QEvent* event);

// Installs filter on window and on every widget in it as it stands now, so that filter sees
// their events first. Call once the window's controls are made.
void FilterEventsOfAll(QWidget* window, QObject* filter);

}  // namespace pv
