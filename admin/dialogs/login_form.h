// TloginForm: the administrator sign-in dialog, ShowLoginDialog which runs
// it, and the password change that may follow a successful sign-in.
//
// A successful sign-in, in this order: the name goes to the history, the
// dialog is marked to close with OK, unlock() runs, and the password change
// runs when "修改口令" is checked (while the dialog is still open). Wrong
// credentials show the hint "  编号或口令有误!  " for 1200 ms at the centre
// of the name field (the event loop keeps running) and keep the dialog
// open. A database error goes to the standard error display and closes the
// dialog as not signed in.
//
// Thread-safety: window thread only; the connection and the query belong
// to the main window.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "platform/db/connection.h"
#include "settings/sysinfo_ini.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qz::admin {

class TloginForm : public QDialog {
  Q_OBJECT
 public:
  // unlock runs on a successful sign-in. All references must outlive the dialog.
  TloginForm(server::SysInfoIni& ini, db::Connection& conn, db::Query& query,
             std::function<void()> unlock, QWidget* parent = nullptr);

  // The sign-in button's handler (also reachable for tests).
  void BitBtn1Click();
  // The names loaded into the list when the dialog was shown.
  const std::vector<std::string>& loadedNames() const { return loaded_; }
  // True while the failure hint is on screen.
  bool hintVisible() const;
  QString hintText() const;
  // Where the hint was anchored (global coordinates of the name field's centre).
  QPoint hintAnchor() const { return hintAnchor_; }

  QLabel* Label1;        // "登陆名称"
  QComboBox* edit1;      // name, with the history
  QLabel* Label2;        // "登陆口令"
  QLineEdit* Edit2;      // password
  QCheckBox* CheckBox1;  // "修改口令"
  QPushButton* BitBtn1;  // "登陆"
  QPushButton* BitBtn2;  // "取消"

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void ShowFailureHint();
  void RunPasswordChange(const std::string& name, const std::string& mark);

  server::SysInfoIni& ini_;
  db::Connection& conn_;
  db::Query& query_;
  std::function<void()> unlock_;
  std::vector<std::string> loaded_;
  QLabel* msgHint_;
  QPoint hintAnchor_;
};

// Opens a TloginForm over parent, runs it modally and destroys it.
void ShowLoginDialog(QWidget* parent, server::SysInfoIni& ini, db::Connection& conn,
                     db::Query& query, const std::function<void()>& unlock);

}  // namespace qz::admin
