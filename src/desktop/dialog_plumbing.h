#pragma once
// The small services every window shares: placing a window, fields that take digits only, the
// folder picker, opening folders and web addresses with the desktop, and the HTML manual.
// They hold no state; opening goes through QDesktopServices, so tests catch it with
// QDesktopServices::setUrlHandler.
#include <QRect>
#include <QSize>
#include <QString>
#include <QUrl>
#include <functional>
#include <initializer_list>

class QLineEdit;
class QHBoxLayout;
class QWidget;

namespace pv {

// Pure geometry behind the two placements.
// The middle of the screen, not held inside it.
QPoint CentredOnScreen(const QRect& screen, const QSize& window);
// The middle of the owner, then held inside the desktop: raised to its left/top edge first,
// then lowered so that the right/bottom edge meets the desktop's (a window wider than the
// desktop thus ends left of it).
QPoint CentredOverOwner(const QRect& owner, const QSize& window, const QRect& desktop);

// Moves the window to the middle of the primary screen, its size unchanged.
void CenterOnScreen(QWidget* window);

// The wait cursor over the whole application for as long as the object lives.
class WaitCursor {
 public:
  WaitCursor();
  ~WaitCursor();
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

// A row of buttons at the right edge, in this order (the row of OK, Cancel, Help).
QHBoxLayout* RightAlignedRow(std::initializer_list<QWidget*> widgets);
// Moves the window to the middle of its owner, kept inside the whole desktop (every screen).
void CenterOverOwner(QWidget* owner, QWidget* window);
// The whole desktop: the union of every screen's geometry.
QRect VirtualScreenGeometry();

// From now on the field takes digits only (typed or pasted).
void MakeDigitsOnly(QLineEdit* field);

// The folder picker, opened at initialDirectory (selected when it exists); "" when the user
// cancels. Callers put a non-empty result into their field.
QString BrowseForFolder(QWidget* owner, const QString& title, const QString& initialDirectory);

// True when target names a web or mail address: "http://", "https://", "ftp://", "mailto:",
// "javascript:" at its start (any case); "www." at its start counts too and gets "http://" put
// in front.
bool IsUrl(QString& target);

// Opens a folder in the desktop's file manager; only an existing directory, and always as a
// local path (a field that holds "www.x" or "javascript:" opens nothing). False when nothing
// was opened.
bool OpenFolder(const QString& directory);
// Opens a web or mail address (see IsUrl) or an existing local file with the desktop. False when
// the desktop refused or the target is neither.
bool ShellOpen(const QString& target);

// The HTML manual: POSTVANE_MANUAL_DIR when set; else share/doc/postvane/html beside the
// program's installation prefix (<bin>/../share/doc/postvane/html) when it exists; else the
// directory the build installs to when it exists; else the manual's sources (a program run from
// its build tree). docs/manual.md tells more.
QString ManualDirectory();
// The page that opens a topic: a small page per topic in the manual's "topics" folder, which
// sends the browser on to the page's anchor (the desktop's opener drops "#anchor" and "?query"
// from file URLs). Page names are taken in lower case with ".htm" read as ".html":
// ("Spooler.htm", "MainSettings") gives <manual>/topics/spooler-mainsettings.html.
QUrl HelpTopicUrl(const QString& page, const QString& anchor);
// The default web browser's desktop entry (xdg-settings, then xdg-mime for https); "" when the
// desktop names none. Tests replace it with SetBrowserFinderForTests.
QString FindDefaultBrowser();
void SetBrowserFinderForTests(std::function<QString()> finder);
// Opens the manual at a topic in the default browser; without one, the message "A Internet
// Browser is used to display help. Postvane was not able to find the standard browser on this
// computer." (OK only, no icon) over owner.
void ShowHelp(QWidget* owner, const QString& page, const QString& anchor);

}  // namespace pv
