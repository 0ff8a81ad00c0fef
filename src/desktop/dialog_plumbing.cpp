#include "desktop/dialog_plumbing.h"

// Placeholder bodies until the shared services land; each does the least that keeps a window
// usable.
#include <QDesktopServices>
#include <QFileDialog>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QWidget>

namespace pv {

QPoint CentredOnScreen(const QRect& screen, const QSize& window) {
  return {screen.x() + (screen.width() - window.width()) / 2,
          screen.y() + (screen.height() - window.height()) / 2};
}
QPoint CentredOverOwner(const QRect& owner, const QSize& window, const QRect&) {
  return {owner.x() + (owner.width() - window.width()) / 2,
          owner.y() + (owner.height() - window.height()) / 2};
}
void CenterOnScreen(QWidget*) {}
void CenterOverOwner(QWidget*, QWidget*) {}
QRect VirtualScreenGeometry() { return {}; }
void MakeDigitsOnly(QLineEdit* field) {
  field->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), field));
}
QString BrowseForFolder(QWidget* owner, const QString& title, const QString& initialDirectory) {
  return QFileDialog::getExistingDirectory(owner, title, initialDirectory);
}
bool IsUrl(QString&) { return false; }
bool OpenFolder(const QString& directory) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(directory));
}
bool ShellOpen(const QString&) { return false; }
QString ManualDirectory() { return {}; }
QUrl HelpTopicUrl(const QString&, const QString&) { return {}; }
QString FindDefaultBrowser() { return {}; }
void SetBrowserFinderForTests(std::function<QString()>) {}
void ShowHelp(QWidget*, const QString&, const QString&) {}

}  // namespace pv
