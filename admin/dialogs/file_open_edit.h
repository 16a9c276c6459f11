// FileOpenEdit: an edit field with a browse button that opens the system's
// file-open dialog (no filter) and puts the chosen path into the field.
//
// Thread-safety: window thread only.
#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace qz::admin {

class FileOpenEdit : public QWidget {
  Q_OBJECT
 public:
  explicit FileOpenEdit(QWidget* parent);

  QString text() const;
  void setText(const QString& text);

  QLineEdit* edit;
  QToolButton* browse;

 private:
  void browseClick();
};

}  // namespace qz::admin
