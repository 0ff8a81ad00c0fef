#include "desktop/message_box.h"

namespace pv {
namespace {

std::function<QMessageBox::StandardButton(const MessageRequest&)>& Answerer() {
  static std::function<QMessageBox::StandardButton(const MessageRequest&)> answer;
  return answer;
}

}  // namespace

QMessageBox::StandardButton ShowMessage(QWidget* owner, const MessageRequest& request) {
  if (Answerer()) return Answerer()(request);
  QMessageBox box(request.icon, QObject::tr("Postvane"), request.text, request.buttons, owner);
  box.setObjectName(QStringLiteral("msgBox"));
  if (request.defaultButton != QMessageBox::NoButton) box.setDefaultButton(request.defaultButton);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

void ShowCritical(QWidget* owner, const QString& text) {
  ShowMessage(owner, {QMessageBox::Critical, text});
}

void ShowInformation(QWidget* owner, const QString& text) {
  ShowMessage(owner, {QMessageBox::Information, text});
}

bool AskYesNo(QWidget* owner, const QString& text) {
  return ShowMessage(owner, {QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No}) ==
         QMessageBox::Yes;
}

void SetMessageAnswererForTests(
    std::function<QMessageBox::StandardButton(const MessageRequest&)> answer) {
  Answerer() = std::move(answer);
}

}  // namespace pv
