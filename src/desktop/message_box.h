#pragma once
// The message boxes of the windows: modal, captioned with the application title, the icon and
// buttons the caller names. Every box goes through ShowMessage, so that tests can answer them.
#include <QMessageBox>
#include <QString>
#include <functional>

namespace pv {

struct MessageRequest {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString text;
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// Shows the box over owner (title "Postvane") and returns the button pressed; Esc gives the
// escape button Qt picks (No, Cancel or OK).
QMessageBox::StandardButton ShowMessage(QWidget* owner, const MessageRequest& request);

// Shorthands: a critical error, an information, a question with Yes and No.
void ShowCritical(QWidget* owner, const QString& text);
void ShowInformation(QWidget* owner, const QString& text);
bool AskYesNo(QWidget* owner, const QString& text);

// Tests: every box is handed to answer instead of being shown (empty: shown again).
void SetMessageAnswererForTests(std::function<QMessageBox::StandardButton(const MessageRequest&)> answer);

}  // namespace pv
