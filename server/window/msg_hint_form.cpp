// The wait window.
#include "server/window/msg_hint_form.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTextEdit>
#include <QVBoxLayout>

#include "server/window/window_font.h"

namespace qz::server {

TMsgHintForm::TMsgHintForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus) {
  setObjectName(QStringLiteral("MsgHintForm"));
  setFixedSize(291, 52);
  setEnabled(false);
  RichEdit1 = new QTextEdit(this);
  RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
  RichEdit1->setReadOnly(true);
  RichEdit1->setFrameShape(QFrame::NoFrame);
  RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  RichEdit1->setFont(CjkFont(16));
  QPalette p = RichEdit1->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    p.setColor(group, QPalette::Base, p.color(QPalette::Active, QPalette::ToolTipBase));
    p.setColor(group, QPalette::Text, p.color(QPalette::Active, QPalette::ToolTipText));
  }
  RichEdit1->setPalette(p);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(RichEdit1);
}

void TMsgHintForm::setMessage(const QString& text) { RichEdit1->setPlainText(text); }
QString TMsgHintForm::message() const { return RichEdit1->toPlainText(); }

void TMsgHintForm::showAndPaint() {
  if (QScreen* s = QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - rect().center());
  show();
  raise();
  repaint();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace qz::server
