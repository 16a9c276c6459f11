// TMsgHintForm: the wait window that long maintenance functions show while
// they work. Borderless, always on top, disabled (it takes no input),
// centred on the desktop, client area 291 x 52, filled by the read-only
// rich-text box RichEdit1 (16-pixel CJK font on the tooltip colour).
//
// Use: create, setMessage, showAndPaint, do the work, then destroy.
// Thread-safety: window thread only.
#pragma once

#include <QWidget>

class QTextEdit;

namespace qz::server {

class TMsgHintForm : public QWidget {
  Q_OBJECT
 public:
  explicit TMsgHintForm(QWidget* parent = nullptr);

  void setMessage(const QString& text);
  QString message() const;
  // Shows the window centred on the desktop and lets it paint before the
  // caller blocks the window thread with its work.
  void showAndPaint();

  QTextEdit* RichEdit1;
};

}  // namespace qz::server
