#include "desktop/help_key.h"

#include <QKeyEvent>
#include <QWidget>

namespace pv {

bool IsHelpKey(const QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  const auto* key = static_cast<const QKeyEvent*>(event);
  const Qt::KeyboardModifiers blocking = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
  return key->key() == Qt::Key_F1 && !(key->modifiers() & blocking);
}

void FilterEventsOfAll(QWidget* window, QObject* filter) {
  window->installEventFilter(filter);
  for (QWidget* child : window->findChildren<QWidget*>()) child->installEventFilter(filter);
}

}  // namespace pv
