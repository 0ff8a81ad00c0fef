#pragma once
// The message boxes of the autostart and service window as its tests see them: icon and text,
// and the texts the window tells.
#include <QMessageBox>
#include <QString>
#include <ostream>

namespace pv {

struct Box {
  QMessageBox::Icon icon;
  QString text;
  bool operator==(const Box&) const = default;
};

inline void PrintTo(const Box& box, std::ostream* out) {
  *out << "{icon " << box.icon << ", \"" << box.text.toStdString() << "\"}";
}

inline Box Info(const QString& text) { return {QMessageBox::Information, text}; }
inline Box Error(const QString& text) { return {QMessageBox::Critical, text}; }

inline const QString kStopQuestion =
    "Postvane is started as a Windows Service. If you stop the service this dialog will close "
    "and Postvane will be unloaded from memory.";
inline const QString kStartedText =
    "Postvane was started as service. One running instance of Postvane is enough. The instance "
    "you are using right now is obsolete and will be shutdown now. The icon of the other "
    "instance (running as windows service) was placed into the system tray and can be accessed "
    "after clicking OK.";
inline const QString kAddedToGroup =
    "Postvane was added to the Windows Autostart Group. It will automatically run the next time "
    "somebody logs in.";
inline const QString kRemovedFromGroup = "Postvane was removed from the Windows Autostart Group.";
inline const QString kAddedToScm = "Postvane was added to the Windows SCM.";
inline const QString kNotBooted =
    "Postvane will NOT automatically run as a windows service when this system is booted.";
inline const QString kNothingToDo = "Nothing to do. The selected autostart mode is already active.";

}  // namespace pv
