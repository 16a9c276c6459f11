// Helpers shared by the window tests: a temporary AppDir with its
// sysinfo.ini, and a watcher that answers the next modal message box.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <string>

#include "settings/config.h"

namespace qz::testing {

// A fresh folder made the process's AppDir.
struct TempAppDir {
  QTemporaryDir dir;
  TempAppDir() { server::setAppDir(dir.path().toStdString()); }
  std::string path(const char* name) const { return server::appDir() + name; }
};

// What a message box showed.
struct SeenBox {
  bool seen = false;
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// Polls for the next modal message box, records it and presses answer
// (or the first button when answer is NoButton). Keep the object alive
// until the box has been handled.
class BoxAnswerer : public QObject {
 public:
  explicit BoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::NoButton)
      : answer_(answer) {
    connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
    timer_.start(5);
  }
  const SeenBox& box() const { return box_; }
  int count() const { return count_; }
  // Answer every box (default) or only the first.
  void setOnce(bool once) { once_ = once; }

 private:
  void Poll() {
    auto* mb = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (mb == nullptr || !mb->isVisible()) return;
    box_.seen = true;
    box_.title = mb->windowTitle();
    box_.text = mb->text();
    box_.icon = mb->icon();
    box_.buttons = mb->standardButtons();
    box_.defaultButton =
        mb->defaultButton() ? mb->standardButton(mb->defaultButton()) : QMessageBox::NoButton;
    ++count_;
    QAbstractButton* b =
        answer_ != QMessageBox::NoButton ? mb->button(answer_) : mb->buttons().value(0);
    if (b) b->click();
    if (once_) timer_.stop();
  }
  QMessageBox::StandardButton answer_;
  QTimer timer_;
  SeenBox box_;
  int count_ = 0;
  bool once_ = false;
};

// Runs fn once the next modal dialog of type T is on screen (polling).
template <typename T>
void WhenModal(std::function<void(T*)> fn) {
  auto* t = new QTimer;
  QObject::connect(t, &QTimer::timeout, [t, fn] {
    if (auto* d = qobject_cast<T*>(QApplication::activeModalWidget()); d && d->isVisible()) {
      t->stop();
      t->deleteLater();
      fn(d);
    }
  });
  t->start(5);
}

}  // namespace qz::testing
