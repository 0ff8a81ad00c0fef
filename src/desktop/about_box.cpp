#include "desktop/about_box.h"

#include <QDesktopServices>
#include <QFont>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "desktop/dialog_plumbing.h"
#include "pv_version.h"
#include "shell/settings_state.h"
#include "shell/startup.h"
#include "support/paths.h"

namespace pv {

AboutInfo CurrentAboutInfo() {
  const StartupValues& startup = Startup();
  AboutInfo info;
  info.version = QStringLiteral(POSTVANE_VERSION);
  info.displayName = QString::fromStdString(startup.ServiceDisplayName);
  info.description = QString::fromStdString(startup.ServiceDescription);
  info.settingsFile = QString::fromStdString(startup.SettingsFile);
  info.spoolDirectory = QString::fromStdString(DirectoryPart(SettingsSnapshot().SpoolFilePattern));
  info.manualUrl = QUrl::fromLocalFile(ManualDirectory() + QStringLiteral("/index.html"));
  return info;
}

AboutBox::AboutBox(const AboutInfo& info, QWidget* parent) : QDialog(parent), info_(info) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(tr("About Postvane"));
  createLayout();
  connectSignals();
  cmdOK_->setFocus();
  centreOnScreen();
}

QLabel* AboutBox::createTitle() {
  QLabel* title = createTextLabel(QStringLiteral("lblTitle"), tr("Postvane"));
  QFont font = title->font();
  if (font.pointSizeF() > 0) font.setPointSizeF(font.pointSizeF() * 2);
  font.setBold(true);
  title->setFont(font);
  return title;
}

QLabel* AboutBox::createTextLabel(const QString& objectName, const QString& text, bool wrap) {
  auto* label = new QLabel(text, this);
  label->setObjectName(objectName);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(wrap);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

QLabel* AboutBox::createManualLink() {
  auto* label = new QLabel(this);
  label->setObjectName(QStringLiteral("lblManual"));
  label->setTextFormat(Qt::RichText);
  label->setText(QStringLiteral("<a href=\"%1\">%2</a>")
                     .arg(info_.manualUrl.toString().toHtmlEscaped(), tr("Open the manual").toHtmlEscaped()));
  // The link goes through linkActivated to QDesktopServices, where a URL handler may take it.
  label->setOpenExternalLinks(false);
  label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  return label;
}

QPushButton* AboutBox::createButton(const QString& objectName, const QString& text) {
  auto* button = new QPushButton(text, this);
  button->setObjectName(objectName);
  return button;
}

void AboutBox::createLayout() {
  // Wide enough that the description wraps into a few lines rather than a column.
  setMinimumWidth(fontMetrics().averageCharWidth() * 64);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(createTitle());
  layout->addWidget(createTextLabel(QStringLiteral("lblVersion"), tr("Version %1").arg(info_.version)));
  layout->addWidget(createTextLabel(QStringLiteral("lblDisplayName"), info_.displayName));
  layout->addWidget(createTextLabel(QStringLiteral("lblDescription"), info_.description));
  layout->addSpacing(8);
  // Paths stay on one line each: wrapped, they would read as two paths.
  layout->addWidget(
      createTextLabel(QStringLiteral("lblSettingsFile"), tr("Settings file: %1").arg(info_.settingsFile), false));
  layout->addWidget(createTextLabel(QStringLiteral("lblSpoolDirectory"),
                                    tr("Spool directory: %1").arg(info_.spoolDirectory), false));
  layout->addSpacing(8);
  layout->addWidget(createTextLabel(
      QStringLiteral("lblLicence"),
      tr("Postvane is free software under the MIT licence. It uses Qt under the GNU LGPL version 3.")));
  lblManual_ = createManualLink();
  layout->addWidget(lblManual_);

  cmdAboutQt_ = createButton(QStringLiteral("cmdAboutQt"), tr("About &Qt"));
  cmdOK_ = createButton(QStringLiteral("cmdOK"), tr("OK"));
  cmdOK_->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(cmdAboutQt_);
  buttons->addStretch();
  buttons->addWidget(cmdOK_);
  layout->addLayout(buttons);
}

void AboutBox::connectSignals() {
  connect(cmdOK_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cmdAboutQt_, &QPushButton::clicked, this, [this] { QMessageBox::aboutQt(this); });
  connect(lblManual_, &QLabel::linkActivated, this, [this] { QDesktopServices::openUrl(info_.manualUrl); });
}

void AboutBox::centreOnScreen() {
  const QWidget* owner = parentWidget();
  QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  adjustSize();
  // A moved dialog keeps its place; QDialog would otherwise put it over its owner.
  move(screen->availableGeometry().center() - rect().center());
}

AboutBox* ShowAboutBox(QWidget* owner, bool modal) {
  // The process's one box; cleared by Qt when the box deletes itself on closing.
  static QPointer<AboutBox> box;
  if (!box) {
    box = new AboutBox(CurrentAboutInfo(), owner);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(modal ? Qt::ApplicationModal : Qt::NonModal);
  }
  if (box->isMinimized()) box->showNormal();
  box->show();
  box->raise();
  box->activateWindow();
  return box;
}

}  // namespace pv
