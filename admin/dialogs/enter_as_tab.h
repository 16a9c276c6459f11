// Enter as Tab: while a dialog is open, Enter (either key) moves the focus
// to the next control and goes no further, so it never presses a button.
#pragma once

#include <QObject>

class QWidget;

namespace qz::admin {

class EnterAsTab : public QObject {
  Q_OBJECT
 public:
  // Watches dialog and every child it has now. The filter is a child of
  // dialog and dies with it.
  static void Install(QWidget* dialog);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  explicit EnterAsTab(QWidget* dialog);
  // Focuses the next enabled, visible control of the tab chain.
  void FocusNext();
  QWidget* dialog_;
};

}  // namespace qz::admin
