#pragma once
// The About box: the product, its version, the service's name and description, where its
// settings file and spool directory are, the licence, a link to the manual, and Qt's own About.
// It takes what it shows as plain data; CurrentAboutInfo gathers that data for this process.
#include <QDialog>
#include <QString>
#include <QUrl>

class QLabel;
class QPushButton;

namespace pv {

struct AboutInfo {
  QString version;
  QString displayName;
  QString description;
  QString settingsFile;
  QString spoolDirectory;
  QUrl manualUrl;
};

// This process's values: the build's version, the start-up values, the spool directory of the
// settings as loaded, and the installed HTML manual.
AboutInfo CurrentAboutInfo();

class AboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit AboutBox(const AboutInfo& info, QWidget* parent = nullptr);

 private:
  QLabel* createTitle();
  QLabel* createTextLabel(const QString& objectName, const QString& text, bool wrap = true);
  QLabel* createManualLink();
  QPushButton* createButton(const QString& objectName, const QString& text);
  void createLayout();
  void connectSignals();
  void centreOnScreen();

  const AboutInfo info_;
  QLabel* lblManual_ = nullptr;
  QPushButton* cmdOK_ = nullptr;
  QPushButton* cmdAboutQt_ = nullptr;
};

// Shows this process's one About box, modal or not as the caller asks (the tray asks for a
// box that leaves the other windows usable). While a box is open, a further call raises it
// instead of opening another; the box deletes itself when closed.
AboutBox* ShowAboutBox(QWidget* owner, bool modal);

}  // namespace pv
