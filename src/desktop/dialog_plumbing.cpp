#include "desktop/dialog_plumbing.h"

#include <QApplication>
#include <QHBoxLayout>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QStringList>
#include <QWidget>

#include "desktop/message_box.h"

namespace pv {
namespace {

// How long each desktop query may take before it counts as failed.
constexpr int kBrowserQueryTimeoutMs = 2000;

std::function<QString()>& BrowserFinder() {
  static std::function<QString()> finder;
  return finder;
}

// The size a window takes on the desktop: with its frame once it has one.
QSize OuterSize(const QWidget* window) {
  const QSize frame = window->frameGeometry().size();
  return frame.isValid() && !frame.isEmpty() ? frame : window->size();
}

// One coordinate of CentredOverOwner: the middle of the owner, raised to the desktop's start,
// then lowered so that the window ends where the desktop ends.
int CentredWithin(int ownerStart, int ownerLength, int length, int desktopStart, int desktopLength) {
  int start = ownerStart + (ownerLength - length) / 2;
  if (start < desktopStart) start = desktopStart;
  if (start > desktopStart + desktopLength - length) start = desktopStart + desktopLength - length;
  return start;
}

// The trimmed standard output of a program that ended well within the time-out; "" otherwise
// (missing, failed, hung).
QString QueryOutput(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.setProgram(program);
  process.setArguments(arguments);
  process.setStandardInputFile(QProcess::nullDevice());
  process.setStandardErrorFile(QProcess::nullDevice());
  process.start();
  if (!process.waitForStarted(kBrowserQueryTimeoutMs)) return {};
  if (!process.waitForFinished(kBrowserQueryTimeoutMs)) {
    process.kill();
    process.waitForFinished(kBrowserQueryTimeoutMs);
    return {};
  }
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return {};
  return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

// The manual's folder in the installation that holds the running program.
QString ManualBesideProgram() {
  if (!QCoreApplication::instance()) return {};
  return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                         QStringLiteral("/../share/doc/postvane/html"));
}

bool IsDirectory(const QString& path) { return !path.isEmpty() && QFileInfo(path).isDir(); }

// The folder the picker opens at: the directory itself, else its nearest existing parent.
QString ExistingStart(const QString& directory) {
  QString path = directory.isEmpty() ? QDir::homePath() : QDir::cleanPath(directory);
  while (!IsDirectory(path)) {
    const QString parent = QFileInfo(path).absolutePath();
    if (parent == path) return QDir::homePath();
    path = parent;
  }
  return path;
}

}  // namespace

QPoint CentredOnScreen(const QRect& screen, const QSize& window) {
  return {screen.x() + (screen.width() - window.width()) / 2,
          screen.y() + (screen.height() - window.height()) / 2};
}

QPoint CentredOverOwner(const QRect& owner, const QSize& window, const QRect& desktop) {
  return {CentredWithin(owner.x(), owner.width(), window.width(), desktop.x(), desktop.width()),
          CentredWithin(owner.y(), owner.height(), window.height(), desktop.y(), desktop.height())};
}

WaitCursor::WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
WaitCursor::~WaitCursor() { QApplication::restoreOverrideCursor(); }

QHBoxLayout* RightAlignedRow(std::initializer_list<QWidget*> widgets) {
  auto* row = new QHBoxLayout;
  row->addStretch();
  for (QWidget* widget : widgets) row->addWidget(widget);
  return row;
}

void CenterOnScreen(QWidget* window) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!window || !screen) return;
  // move() places the frame's top left corner, so the frame's size is the one to centre.
  window->move(CentredOnScreen(screen->geometry(), OuterSize(window)));
}

void CenterOverOwner(QWidget* owner, QWidget* window) {
  if (!window) return;
  if (!owner) {
    CenterOnScreen(window);
    return;
  }
  // On Wayland the compositor places windows itself and takes the move as a hint at most.
  const QWidget* ownerWindow = owner->window();
  window->move(CentredOverOwner(ownerWindow->frameGeometry(), OuterSize(window), VirtualScreenGeometry()));
}

QRect VirtualScreenGeometry() {
  QRect desktop;
  for (const QScreen* screen : QGuiApplication::screens()) desktop = desktop.united(screen->geometry());
  return desktop;
}

void MakeDigitsOnly(QLineEdit* field) {
  field->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), field));
}

QString BrowseForFolder(QWidget* owner, const QString& title, const QString& initialDirectory) {
  // Qt's own dialog on every desktop, so that it behaves (and can be driven) the same everywhere.
  QFileDialog dialog(owner, title, ExistingStart(initialDirectory));
  dialog.setObjectName(QStringLiteral("dlgBrowseForFolder"));
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
  if (IsDirectory(initialDirectory)) dialog.selectFile(QFileInfo(initialDirectory).absoluteFilePath());
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList chosen = dialog.selectedFiles();
  return chosen.isEmpty() ? QString() : chosen.first();
}

bool IsUrl(QString& target) {
  const QString lower = target.toLower();
  if (lower.startsWith(QLatin1String("http://"))) return true;
  if (lower.startsWith(QLatin1String("www."))) {
    target.prepend(QLatin1String("http://"));
    return true;
  }
  for (const char* prefix : {"ftp://", "mailto:", "javascript:", "https://"})
    if (lower.startsWith(QLatin1String(prefix))) return true;
  return false;
}

bool OpenFolder(const QString& directory) {
  if (!IsDirectory(directory)) return false;
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(directory).absoluteFilePath()));
}

bool ShellOpen(const QString& target) {
  QString address = target;
  if (IsUrl(address)) return QDesktopServices::openUrl(QUrl(address));
  if (target.isEmpty() || !QFileInfo::exists(target)) return false;
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(target).absoluteFilePath()));
}

QString ManualDirectory() {
  const QString chosen = qEnvironmentVariable("POSTVANE_MANUAL_DIR");
  if (!chosen.isEmpty()) return chosen;
  const QString besideProgram = ManualBesideProgram();
  if (IsDirectory(besideProgram)) return besideProgram;
  const QString installed = QStringLiteral(POSTVANE_MANUAL_INSTALL_DIR);
  if (IsDirectory(installed)) return installed;
  // A program run from its build tree reads the manual's sources.
  const QString sources = QStringLiteral(POSTVANE_MANUAL_SOURCE_DIR);
  return IsDirectory(sources) ? sources : installed;
}

QUrl HelpTopicUrl(const QString& page, const QString& anchor) {
  QString stem = page.toLower();
  for (const char* suffix : {".html", ".htm"}) {
    if (stem.endsWith(QLatin1String(suffix))) {
      stem.chop(static_cast<int>(qstrlen(suffix)));
      break;
    }
  }
  return QUrl::fromLocalFile(ManualDirectory() + QStringLiteral("/topics/%1-%2.html").arg(stem, anchor.toLower()));
}

QString FindDefaultBrowser() {
  if (BrowserFinder()) return BrowserFinder()();
  QString browser = QueryOutput(QStringLiteral("xdg-settings"), {QStringLiteral("get"), QStringLiteral("default-web-browser")});
  if (browser.isEmpty())
    browser = QueryOutput(QStringLiteral("xdg-mime"),
                          {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("x-scheme-handler/https")});
  return browser;
}

void SetBrowserFinderForTests(std::function<QString()> finder) { BrowserFinder() = std::move(finder); }

void ShowHelp(QWidget* owner, const QString& page, const QString& anchor) {
  if (!FindDefaultBrowser().isEmpty()) {
    QDesktopServices::openUrl(HelpTopicUrl(page, anchor));
    return;
  }
  ShowMessage(owner, {QMessageBox::NoIcon,
                      QObject::tr("A Internet Browser is used to display help. ") + QStringLiteral("Postvane") +
                          QObject::tr(" was not able to find the standard browser on this computer."),
                      QMessageBox::Ok});
}

}  // namespace pv
