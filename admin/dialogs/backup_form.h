// TBackUpForm ("备份数据库") and TrestoreForm ("restoreForm"): the backup
// and restore dialogs. Both are centred on the desktop; OK is ignored (the
// dialog stays open, without a message) while a required field is empty:
// "名称" or "目的" in the backup dialog, "源文件" in the restore dialog.
//
// Thread-safety: window thread only.
#pragma once

#include <QDialog>

#include "admin/maintenance_statements.h"

class QButtonGroup;
class QFrame;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace qz::admin {

class FileOpenEdit;

class TBackUpForm : public QDialog {
  Q_OBJECT
 public:
  explicit TBackUpForm(QWidget* owner);

  // Puts proposed values into the controls / reads the operator's choices.
  void setChoices(const BackupChoices& c);
  BackupChoices choices() const;

  QLineEdit* Edit1;                // "名称"
  FileOpenEdit* LMDFileOpenEdit1;  // "目的"
  QLineEdit* MaskEdit1;            // "口令", shown as '*'
  QGroupBox* RadioGroup1;          // " 备份 "
  QGroupBox* RadioGroup2;          // " 重写 "
  QPushButton* BitBtn1;            // OK
  QPushButton* BitBtn2;            // Cancel

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void BitBtn1Click();
  QFrame* panel_;
  QButtonGroup* kind_;
  QButtonGroup* media_;
};

class TrestoreForm : public QDialog {
  Q_OBJECT
 public:
  explicit TrestoreForm(QWidget* owner);

  FileOpenEdit* LMDFileOpenEdit1;  // "源文件"
  QPushButton* BitBtn1;
  QPushButton* BitBtn2;

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void BitBtn1Click();
  QFrame* panel_;
};

}  // namespace qz::admin
