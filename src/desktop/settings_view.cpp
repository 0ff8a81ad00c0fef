#include "desktop/settings_view.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "shell/settings_commands.h"

namespace pv {

SettingsView::SettingsView(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmSettingsView"));
  setWindowTitle(tr("Postvane"));
  createControls();
  Refresh();
}

void SettingsView::createControls() {
  auto* info = new QLabel(
      tr("The settings in use, read only. Change them in the settings file (postvane "
         "--set-password for the passwords); the spooler reads them again when it continues "
         "after a pause."),
      this);
  info->setObjectName(QStringLiteral("lblInfo"));
  info->setWordWrap(true);
  listing_ = new QPlainTextEdit(this);
  listing_->setObjectName(QStringLiteral("txtSettings"));
  listing_->setReadOnly(true);
  listing_->setLineWrapMode(QPlainTextEdit::NoWrap);
  listing_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* close = buttons->addButton(tr("&Close"), QDialogButtonBox::RejectRole);
  close->setObjectName(QStringLiteral("cmdOK"));
  close->setDefault(true);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(info);
  layout->addWidget(listing_);
  layout->addWidget(buttons);
  resize(720, 520);
}

void SettingsView::Refresh() {
  std::string text, error;
  if (!DescribeSettingsFile(Startup(), text, error))
    text = Startup().SettingsFile + ": cannot be read (" + error + ")";
  listing_->setPlainText(QString::fromStdString(text));
}

SettingsView* ShowSettingsView() {
  static QPointer<SettingsView> view;
  if (!view) view = new SettingsView;
  else view->Refresh();
  view->show();
  view->raise();
  view->activateWindow();
  return view;
}

}  // namespace pv
