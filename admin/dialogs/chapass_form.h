// TchapassForm ("密码修改"): the new password typed twice. Each edit takes
// at most 10 bytes of code-page-936 text; "确定" closes with OK only when
// both edits are equal (two empty edits are equal), otherwise the error box
// "新口令错误！请重新输入。" appears and the dialog stays open.
//
// Thread-safety: window thread only.
#pragma once

#include <QDialog>
#include <string>

class QLineEdit;
class QPushButton;
class QFrame;

namespace qz::admin {

class TchapassForm : public QDialog {
  Q_OBJECT
 public:
  explicit TchapassForm(QWidget* owner);

  // The password typed (UTF-8). Meaningful after the dialog closed with OK.
  std::string newPassword() const;

  QLineEdit* Edit1;      // "输入新口令："
  QLineEdit* Edit2;      // "重输新口令："
  QPushButton* BitBtn1;  // "确定"
  QPushButton* BitBtn2;  // "取消"

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void BitBtn1Click();
  QFrame* panel_;
};

}  // namespace qz::admin
