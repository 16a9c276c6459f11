// The file edit with a browse button; see file_open_edit.h.
#include "admin/dialogs/file_open_edit.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QToolButton>

namespace qz::admin {

FileOpenEdit::FileOpenEdit(QWidget* parent) : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  edit = new QLineEdit(this);
  edit->setObjectName(QStringLiteral("edit"));
  browse = new QToolButton(this);
  browse->setObjectName(QStringLiteral("browse"));
  browse->setText(QStringLiteral("..."));
  layout->addWidget(edit, 1);
  layout->addWidget(browse);
  connect(browse, &QToolButton::clicked, this, [this] { browseClick(); });
}

QString FileOpenEdit::text() const { return edit->text(); }
void FileOpenEdit::setText(const QString& text) { edit->setText(text); }

void FileOpenEdit::browseClick() {
  const QString chosen = QFileDialog::getOpenFileName(this, QString(), edit->text());
  if (!chosen.isEmpty()) edit->setText(chosen);
}

}  // namespace qz::admin
