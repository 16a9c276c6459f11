// The Enter-as-Tab key filter.
#include "admin/dialogs/enter_as_tab.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace qz::admin {

EnterAsTab::EnterAsTab(QWidget* dialog) : QObject(dialog), dialog_(dialog) {}

void EnterAsTab::Install(QWidget* dialog) {
  auto* f = new EnterAsTab(dialog);
  dialog->installEventFilter(f);
  for (QWidget* w : dialog->findChildren<QWidget*>()) w->installEventFilter(f);
}

void EnterAsTab::FocusNext() {
  QWidget* cur = QApplication::focusWidget();
  if (cur == nullptr || !dialog_->isAncestorOf(cur)) cur = dialog_;
  for (QWidget* w = cur->nextInFocusChain(); w != cur; w = w->nextInFocusChain()) {
    if (dialog_->isAncestorOf(w) && w->focusProxy() == nullptr && w->isEnabled() &&
        w->isVisible() && (w->focusPolicy() & Qt::TabFocus)) {
      w->setFocus(Qt::TabFocusReason);
      return;
    }
  }
}

bool EnterAsTab::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* k = static_cast<QKeyEvent*>(event);
    if ((k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) &&
        (k->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
      // Stopped here, before the control or the dialog's default button
      // sees it.
      FocusNext();
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace qz::admin
