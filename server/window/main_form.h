// TSevMainForm: the system's one window. Tool bar and tray menu route the
// administrator functions, the list shows the activity log, and the
// administrator lock keeps the functions from tray position 5 on and six
// tool buttons disabled until an administrator signs in.
//
// Components keep their design names. The tray menu's thirteen top-level
// entries are, in order: N10 "登陆系统" (sign-in, caption "登陆"/"注销"),
// N8 "显示窗口", N13 -, N11 "数据库设置", N1 -, N21 "恢复数据",
// N12 "备份数据", N2 -, N4 "数据导出" (hidden), N5 "数据导入" (hidden),
// N3 "清理数据" (submenu N9, N14, N15 -, N18, N17 -, N16), N7 -,
// N6 "关闭系统". The signed-in flag lives in N10's data (1 signed in, 0 not).
// LockAdminFunctions and UnlockAdminFunctions are its only writers.
//
// Each tool button runs the same handler as the tray entry of its caption.
// Functions built elsewhere (restore, backup, export, import, the
// clean-ups) are reached through the std::function hooks below; a hook
// left empty makes its entry do nothing.
//
// Every handler runs through the standard error display: an error it does
// not catch is shown and the window keeps running.
//
// Thread-safety: window thread only. Activity entries arrive through the
// activity log's listener, which the dispatcher runs on this thread.
#pragma once

#include <QMainWindow>
#include <functional>
#include <string>

#include "platform/db/connection.h"
#include "server/activity_log.h"
#include "settings/sysinfo_ini.h"

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QSystemTrayIcon;
class QTableView;
class QTimer;
class QToolBar;
class QToolButton;

namespace qz::server {

class ActivityLogModel;

struct MainFormOptions {
  // Whether the desktop has a notification area now (asked at each hide, as
  // a panel may start after the server). Without one, hiding the window
  // minimizes it instead, so it can always be found again. Empty: yes.
  std::function<bool()> trayAvailable;
  // Live module instances; the close question is asked only while > 0.
  std::function<size_t()> instanceCount;
  // Runs once the window has accepted to close (the host ends its loop).
  std::function<void()> onClosed;
};

class TSevMainForm : public QMainWindow {
  Q_OBJECT
 public:
  // The creation steps in order: post the minimize, timeouts, close the
  // connections, AppDir (set to the executable's folder unless already
  // set), both connection texts, LockAdminFunctions.
  // Throws what the connection-text readers throw.
  TSevMainForm(SysInfoIni& ini, ActivityLog& log, MainFormOptions options,
               QWidget* parent = nullptr);
  // FormDestroy. The log's listener holds a guarded pointer and goes quiet.
  ~TSevMainForm() override;
  TSevMainForm(const TSevMainForm&) = delete;
  TSevMainForm& operator=(const TSevMainForm&) = delete;

  // --- the administrator lock
  void LockAdminFunctions();
  void UnlockAdminFunctions();
  // 1 while an administrator is signed in, else 0 (entry 0's tag).
  int signedIn() const;

  // --- handlers
  void ToolButton12Click();  // sign in, or sign out when signed in
  void ToolButton1Click();   // server settings
  void ToolButton11Click();  // activate the tray icon and hide the window
  void N11Click();           // show the window
  void ToolButton2Click();   // close the window (and so the process)
  void N16Click();           // start or stop the auto-lock
  void Timer1Timer();        // the auto-lock fires
  // Appends a row to the log (the window then hides). Throws what the list throws.
  void AddActivityEntry(const std::string& operatorName, const std::string& station,
                        const std::string& work);

  // Whether the tray icon has been activated (it never deactivates).
  bool trayActive() const { return trayActive_; }
  // Whether the auto-lock is running (its entry reads "停止").
  bool autoLockRunning() const { return autoLockRunning_; }
  ActivityLogModel* activityModel() const { return model_; }
  SysInfoIni& sysInfo() { return ini_; }

  // --- hooks for the functions of the maintenance issues
  std::function<void()> onRestoreDatabase;    // N21, ToolButton5
  std::function<void()> onBackupDatabase;     // N12, ToolButton4
  std::function<void()> onExportToAccess;     // N4, ToolButton7
  std::function<void()> onConnectImportFile;  // N5, ToolButton6
  std::function<void()> onCleanRoomData;      // N9
  std::function<void()> onCleanSalesData;     // N14
  std::function<void()> onEmptyDatabase;      // N18

  // --- the two main connections (the maintenance functions use them)
  db::Connection ADOC1;
  db::Query ADOQuery1{&ADOC1};
  // The Jet connection's text from express.ini; the export replaces it.
  std::string ADOC2ConnectionString;
  // The main Jet connection: the export file (or the file ConnectImportFile
  // chose) while open.
  db::Connection ADOC2;

  // --- components
  QWidget* CoolBar1;
  QToolBar* ToolBar1;
  QWidget* CoolBar1Band2;  // hidden; the export shows it
  QLabel* Band2Text;       // "正在运算"
  QProgressBar* ProgressBar1;
  QToolButton *ToolButton12, *ToolButton1, *ToolButton4, *ToolButton5, *ToolButton7, *ToolButton6,
      *ToolButton3, *ToolButton11, *ToolButton2;
  QTableView* ListView1;
  QSystemTrayIcon* LMDTrayIcon1;
  QMenu* LMDPopupMenu1;
  QAction *N10, *N8, *N13, *N11, *N1, *N21, *N12, *N2, *N4, *N5, *N3, *N7, *N6;
  QMenu* CleanMenu;  // the submenu of N3, also dropped down by ToolButton3
  QAction *N9, *N14, *N15, *N18, *N17, *N16;
  QTimer* Timer1;

 protected:
  // FormCloseQuery, after the question about live instances.
  void closeEvent(QCloseEvent* e) override;

 private:
  void BuildToolBar();
  void BuildTrayMenu();
  void ListView1Insert(const ActivityEntry& entry);
  void SetAdminEnabled(bool enabled);
  // Runs fn through the standard error display.
  void Guard(const std::function<void()>& fn);
  void RunHook(const std::function<void()>& hook);

  SysInfoIni& ini_;
  ActivityLog& log_;
  MainFormOptions options_;
  ActivityLogModel* model_;
  bool trayActive_ = false;
  bool autoLockRunning_ = false;
  // The toolbar actions of the two hidden buttons (a toolbar widget is
  // hidden through its action).
  QAction* ToolButton7Action_ = nullptr;
  QAction* ToolButton6Action_ = nullptr;
};

}  // namespace qz::server
