// TexpressForm ("数据导入/导出"): the Access file to write (an edit field
// with a browse button that opens the save dialog), "所有" (all periods)
// and the period's two date pickers, "导出" and "取消". CheckBox1Click
// enables the pickers when "所有" is not ticked and disables them when it
// is. AskExport shows a fresh form with the choices proposed.
//
// Thread-safety: window thread only.
#pragma once

#include <QDialog>

#include "admin/export_choices.h"

class QCheckBox;
class QDateEdit;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace qz::admin {

class TexpressForm : public QDialog {
  Q_OBJECT
 public:
  explicit TexpressForm(QWidget* owner);

  QLineEdit* LMDFileSaveEdit1;
  QToolButton* LMDFileSaveEdit1Browse;
  QCheckBox* CheckBox1;  // "所有"
  QDateEdit* DateTimePicker1;
  QDateEdit* DateTimePicker2;
  QPushButton* BitBtn1;  // "导出"
  QPushButton* BitBtn2;  // "取消"

  void CheckBox1Click();

 private:
  // The save dialog: overwrite prompt, an existing folder, initial folder
  // "d:\", the filter "Microsoft Access 数据库" for qz.mdb.
  void browseClick();
};

// Shows a fresh TexpressForm with the choices; on OK writes them back and
// returns true; on Cancel returns false and leaves them unchanged.
bool AskExport(QWidget* owner, ExportChoices& choices);

}  // namespace qz::admin
