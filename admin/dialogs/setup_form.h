// TsetupForm ("数据库服务器设置"): the seven server settings of system.ini,
// the connection test and EditServerSettings, which saves them.
//
// Loading reads system.ini through the line reader; when the database file
// named on line 5 does not exist, Edit5 proposes AppDir minus its last 7
// characters followed by "qz.mdf" and the box is unchecked. The box rule:
// checked disables Edit2 and Edit3 and greys them like buttons.
//
// Thread-safety: window thread only; the connection belongs to the main window.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "admin/server_settings.h"
#include "platform/db/connection.h"

class QCheckBox;
class QFrame;
class QLineEdit;
class QPushButton;

namespace qz::admin {

class TsetupForm : public QDialog {
  Q_OBJECT
 public:
  // Loads the fields from AppDir's system.ini.
  explicit TsetupForm(db::Connection& conn, QWidget* parent = nullptr);

  // The fields as settings.
  ServerSettings settings() const;
  // Puts the dialog's connection text on the connection and opens it. A
  // failure shows the error's own text. Returns whether it is open.
  bool ConnectWithDialogSettings();
  // "测试": "连接成功" when the connection opens, then closes it again.
  void BitBtn3Click();

  // Picks a computer; replaced by tests. Default: BrowseForComputer.
  std::function<std::string(QWidget*)> browseForComputer;
  // Picks a database file; returns false on cancel. Default: OpenDialog1.
  std::function<bool(QWidget*, QString*)> openDatabaseFile;

  QLineEdit* Edit1;      // "数据服务器名"
  QLineEdit* Edit2;      // "登陆用户"
  QLineEdit* Edit3;      // "登录口令"
  QLineEdit* Edit4;      // "附加的数据库名:"
  QLineEdit* Edit5;      // "数据库物理文件名:"
  QLineEdit* Edit6;      // "应用服务器名"
  QCheckBox* CheckBox1;  // "仅使用Windows NT 身份验证"
  QPushButton* BitBtn3;  // "测试"
  QPushButton* BitBtn1;  // "保存"
  QPushButton* BitBtn2;  // "取消"

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* e) override;

 private:
  void ApplyBoxRule(bool checked);

  db::Connection& conn_;
  QFrame* panel_;
};

// Runs OpenDialog1 ("选择数据库文件名", database files or all files, an
// existing file). Returns false when cancelled.
bool RunOpenDialog1(QWidget* parent, QString* fileName);

// The action of "数据库设置": runs the dialog; on OK, when the connection
// opens with the dialog's settings, rewrites AppDir + "system.ini" (the
// connection stays open). Throws std::runtime_error when the file cannot
// be written.
void EditServerSettings(QWidget* parent, db::Connection& conn);

}  // namespace qz::admin
