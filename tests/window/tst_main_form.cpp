// The main window on the offscreen platform: its state after start, the
// administrator lock, the activity log list, hiding and showing, the close
// question, the auto-lock and the binding of tool buttons to tray entries.
#include <QAction>
#include <QDialog>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTest>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <atomic>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <thread>

#include "admin/dialogs/app_title.h"
#include "admin/silent_abort.h"
#include "server/window/activity_log_model.h"
#include "server/window/main_form.h"
#include "server/window/msg_hint_form.h"
#include "server/window/qt_ui_dispatcher.h"
#include "tests/window/window_test_support.h"

using namespace qz::server;
using qz::testing::BoxAnswerer;
using qz::testing::TempAppDir;

namespace {

struct Fixture {
  TempAppDir app;
  SysInfoIni ini{app.path("sysinfo.ini")};
  ActivityLog log;
  size_t instances = 0;
  int closedCalls = 0;
  std::unique_ptr<TSevMainForm> form;

  explicit Fixture(bool tray = true) {
    MainFormOptions o;
    o.trayAvailable = [tray] { return tray; };
    o.instanceCount = [this] { return instances; };
    o.onClosed = [this] { ++closedCalls; };
    form = std::make_unique<TSevMainForm>(ini, log, o);
  }
  void writeIni(const std::string& text) {
    std::ofstream(app.path("sysinfo.ini"), std::ios::binary) << text;
  }
};

QStringList Captions(const QList<QAction*>& actions) {
  QStringList out;
  for (QAction* a : actions) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
  return out;
}

// The tool bar from left to right: button object names, "-" for separators.
QStringList ToolBarOrder(QToolBar* bar) {
  QStringList out;
  for (QAction* a : bar->actions()) {
    if (a->isSeparator()) {
      out << "-";
    } else if (QWidget* w = bar->widgetForAction(a)) {
      out << w->objectName();
    }
  }
  return out;
}

// The enabled state the lock gave an entry. A hidden action reads as
// disabled, but keeps the state set on it and shows it once visible.
bool AdminEnabled(QAction* a) {
  if (a->isVisible()) return a->isEnabled();
  a->setVisible(true);
  const bool enabled = a->isEnabled();
  a->setVisible(false);
  return enabled;
}

}  // namespace

class MainFormTest : public QObject {
  Q_OBJECT
 private slots:
  void startsMinimizedLockedWithTrayInactive();
  void layoutFollowsTheDesign();
  void trayMenuHasThirteenEntriesInOrder();
  void unlockCoversExactlyTheListedEntriesAndButtons();
  void lockCoversEveryEntryFromPositionFive();
  void signOutLocksAtOnce();
  void logKeeps127RowsAfter128Appends();
  void appendHidesWindowIntoTrayAndShowBringsItBack();
  void appendMinimizesWithoutTray();
  void appendWhileDialogOpenKeepsTheDialog();
  void trayThatAppearsLaterIsUsed();
  void loginFromModuleThreadHidesWindow();
  void dispatcherCarriesExceptionsAndRefusesAfterClose();
  void dispatcherRunsWhileModalDialogRuns();
  void dispatcherWaitsWhileWindowThreadIsBusy();
  void closeAsksOnlyWhileInstancesExist();
  void closeRestoresMinimizedWindow();
  void autoLockLocksWhenTimerFires();
  void autoLockWithZeroMinutesNeverFires();
  void autoLockStopsWhenChosenAgain();
  void toolButtonsRunTheirEntrysHandler();
  void uncaughtErrorGoesToStandardDisplay();
  void waitWindowShape();
};

void MainFormTest::startsMinimizedLockedWithTrayInactive() {
  Fixture f;
  f.form->show();
  QTRY_VERIFY(f.form->isMinimized());
  QCOMPARE(f.form->signedIn(), 0);
  QCOMPARE(f.form->N10->text(), QStringLiteral("登陆"));
  QCOMPARE(f.form->ToolButton12->text(), QStringLiteral("登陆系统"));
  QVERIFY(!f.form->trayActive());
  QVERIFY(!f.form->LMDTrayIcon1->isVisible());
  // Hidden export and import, in the tool bar and in the menu.
  QVERIFY(!f.form->ToolButton7->isVisible());
  QVERIFY(!f.form->ToolButton6->isVisible());
  QVERIFY(f.form->ToolButton3->isVisible());
  QVERIFY(!f.form->N4->isVisible());
  QVERIFY(!f.form->N5->isVisible());
  // Locked: restore, backup, clean-up and close disabled; settings enabled.
  QVERIFY(!f.form->N21->isEnabled());
  QVERIFY(!f.form->N12->isEnabled());
  QVERIFY(!f.form->N3->isEnabled());
  QVERIFY(!f.form->N6->isEnabled());
  QVERIFY(f.form->N11->isEnabled());
  QVERIFY(f.form->ToolButton1->isEnabled());
  QVERIFY(!f.form->ToolButton2->isEnabled());
  QVERIFY(!f.form->Timer1->isActive());
  QCOMPARE(f.form->N16->text(), QStringLiteral("开启"));
  // Nothing is opened at start.
  QVERIFY(!f.form->ADOC1.isOpen());
  QVERIFY(f.form->ADOC1.connectionString().rfind("Provider=SQLOLEDB.1;Persist Security Info=False;",
                                                 0) == 0);
  QVERIFY(f.form->ADOC2ConnectionString.rfind("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=", 0) ==
          0);
  QCOMPARE(f.form->ADOQuery1.commandTimeout(), 3000);
}

void MainFormTest::layoutFollowsTheDesign() {
  Fixture f;
  QCOMPARE(f.form->size(), QSize(705, 321));
  QCOMPARE(f.form->minimumSize(), QSize(564, 230));
  QVERIFY(f.form->windowTitle().startsWith(QStringLiteral("岚舟应用服务器")));
  QVERIFY(f.form->menuWidget() == nullptr);
  QCOMPARE(f.form->font().pixelSize(), 13);
  QVERIFY(
      QFontDatabase::families(QFontDatabase::SimplifiedChinese).contains(f.form->font().family()) ||
      f.form->font().family() == QStringLiteral("SimSun"));

  QCOMPARE(ToolBarOrder(f.form->ToolBar1),
           QStringList({"ToolButton12", "-", "ToolButton1", "-", "ToolButton4", "ToolButton5", "-",
                        "ToolButton7", "ToolButton6", "ToolButton3", "-", "ToolButton11",
                        "ToolButton2"}));
  const QStringList captions = {"登陆系统", "数据库设置", "备份数据", "恢复数据", "数据导出",
                                "数据导入", "清理数据",   "隐藏窗口", "关闭系统"};
  const QList<QToolButton*> buttons = {
      f.form->ToolButton12, f.form->ToolButton1,  f.form->ToolButton4,
      f.form->ToolButton5,  f.form->ToolButton7,  f.form->ToolButton6,
      f.form->ToolButton3,  f.form->ToolButton11, f.form->ToolButton2};
  for (int i = 0; i < buttons.size(); ++i) {
    QCOMPARE(buttons[i]->text(), captions[i]);
    QCOMPARE(buttons[i]->size(), QSize(72, 52));
    QCOMPARE(buttons[i]->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    QCOMPARE(buttons[i]->iconSize(), QSize(32, 32));
    QVERIFY(buttons[i]->autoRaise());
    QVERIFY(!buttons[i]->icon().isNull());
  }
  // Band 2 and its bar are hidden until the export shows them.
  QVERIFY(f.form->CoolBar1Band2->isHidden());
  QVERIFY(f.form->ProgressBar1->isHidden());
  QCOMPARE(f.form->Band2Text->text(), QStringLiteral("正在运算"));
  QCOMPARE(f.form->ProgressBar1->minimum(), 0);
  QCOMPARE(f.form->ProgressBar1->maximum(), 100);

  QTableView* list = f.form->ListView1;
  QCOMPARE(list->model()->columnCount(), 4);
  const QStringList heads = {"登陆时间", "操作员", "工作站", "操作内容"};
  const int widths[] = {150, 80, 80, 150};
  for (int c = 0; c < 4; ++c) {
    QCOMPARE(list->model()->headerData(c, Qt::Horizontal).toString(), heads[c]);
    QCOMPARE(list->columnWidth(c), widths[c]);
  }
  QVERIFY(list->showGrid());
  QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
}

void MainFormTest::trayMenuHasThirteenEntriesInOrder() {
  Fixture f;
  QCOMPARE(Captions(f.form->LMDPopupMenu1->actions()),
           QStringList({"登陆", "显示窗口", "-", "数据库设置", "-", "恢复数据", "备份数据", "-",
                        "数据导出", "数据导入", "清理数据", "-", "关闭系统"}));
  QCOMPARE(Captions(f.form->CleanMenu->actions()),
           QStringList({"清理客房结算数据", "清理商品销售数据", "-", "清空数据库", "-", "开启"}));
  QCOMPARE(f.form->N3->menu(), f.form->CleanMenu);
  QCOMPARE(f.form->ToolButton3->menu(), f.form->CleanMenu);
  QCOMPARE(f.form->ToolButton3->popupMode(), QToolButton::InstantPopup);
  QCOMPARE(f.form->LMDTrayIcon1->contextMenu(), f.form->LMDPopupMenu1);
}

void MainFormTest::unlockCoversExactlyTheListedEntriesAndButtons() {
  Fixture f;
  // Things the lock never touches keep a state set by someone else.
  f.form->ToolButton1->setEnabled(false);
  f.form->ToolButton11->setEnabled(false);
  f.form->N8->setEnabled(false);
  f.form->N9->setEnabled(false);  // submenu entries are not touched one by one
  f.form->UnlockAdminFunctions();
  QCOMPARE(f.form->signedIn(), 1);
  QCOMPARE(f.form->N10->text(), QStringLiteral("注销"));
  QCOMPARE(f.form->ToolButton12->text(), QStringLiteral("登陆系统"));
  const QList<QAction*> entries = f.form->LMDPopupMenu1->actions();
  for (int i = 5; i < entries.size(); ++i)
    QVERIFY2(AdminEnabled(entries[i]), qPrintable(QString::number(i)));
  for (QToolButton* b : {f.form->ToolButton2, f.form->ToolButton3, f.form->ToolButton4,
                         f.form->ToolButton5, f.form->ToolButton6, f.form->ToolButton7})
    QVERIFY2(b->isEnabled(), qPrintable(b->objectName()));
  QVERIFY(!f.form->ToolButton1->isEnabled());
  QVERIFY(!f.form->ToolButton11->isEnabled());
  QVERIFY(!f.form->N8->isEnabled());
  QVERIFY(!f.form->N9->isEnabled());
  // Still hidden after the unlock.
  QVERIFY(!f.form->N4->isVisible());
  QVERIFY(!f.form->ToolButton7->isVisible());

  f.form->LockAdminFunctions();
  QCOMPARE(f.form->signedIn(), 0);
  QCOMPARE(f.form->N10->text(), QStringLiteral("登陆"));
  for (int i = 5; i < entries.size(); ++i) QVERIFY(!AdminEnabled(entries[i]));
  for (int i = 0; i < 5; ++i)
    if (entries[i] != f.form->N8) QVERIFY(entries[i]->isEnabled());
  for (QToolButton* b : {f.form->ToolButton2, f.form->ToolButton3, f.form->ToolButton4,
                         f.form->ToolButton5, f.form->ToolButton6, f.form->ToolButton7})
    QVERIFY(!b->isEnabled());
  QVERIFY(f.form->ToolButton12->isEnabled());
  QVERIFY(!f.form->N9->isEnabled());
}

void MainFormTest::lockCoversEveryEntryFromPositionFive() {
  Fixture f;
  QAction* extra = f.form->LMDPopupMenu1->addAction(QStringLiteral("extra"));
  f.form->UnlockAdminFunctions();
  QVERIFY(extra->isEnabled());
  f.form->LockAdminFunctions();
  QVERIFY(!extra->isEnabled());
}

void MainFormTest::signOutLocksAtOnce() {
  Fixture f;
  f.form->UnlockAdminFunctions();
  f.form->N10->trigger();  // "注销": no question, locked again
  QCOMPARE(f.form->signedIn(), 0);
  QVERIFY(!f.form->N6->isEnabled());
  f.form->UnlockAdminFunctions();
  f.form->ToolButton12->click();
  QCOMPARE(f.form->signedIn(), 0);
}

void MainFormTest::logKeeps127RowsAfter128Appends() {
  Fixture f;
  for (int i = 1; i <= 127; ++i) f.form->AddActivityEntry("op" + std::to_string(i), "st", "w");
  ActivityLogModel* m = f.form->activityModel();
  QCOMPARE(m->rowCount(), 127);
  f.form->AddActivityEntry("op128", "st", "w");
  QCOMPARE(m->rowCount(), 127);
  QCOMPARE(f.form->ListView1->model()->rowCount(), 127);
  QCOMPARE(m->index(0, 1).data().toString(), QStringLiteral("op2"));
  QCOMPARE(m->index(126, 1).data().toString(), QStringLiteral("op128"));
  QCOMPARE(f.log.size(), size_t{127});
  // Empty texts give empty cells; the time cell is filled.
  f.form->AddActivityEntry("", "", "");
  QCOMPARE(m->index(126, 1).data().toString(), QString());
  QCOMPARE(m->index(126, 2).data().toString(), QString());
  QCOMPARE(m->index(126, 3).data().toString(), QString());
  QVERIFY(!m->index(126, 0).data().toString().isEmpty());
}

void MainFormTest::appendHidesWindowIntoTrayAndShowBringsItBack() {
  Fixture f;
  f.form->show();
  QTRY_VERIFY(f.form->isMinimized());
  f.form->N11Click();
  QVERIFY(f.form->isVisible());
  QVERIFY(!f.form->isMinimized());
  f.form->AddActivityEntry("张三", "前台1", "收银");
  QVERIFY(!f.form->isVisible());
  QVERIFY(f.form->trayActive());
  QVERIFY(f.form->LMDTrayIcon1->isVisible());
  f.form->N8->trigger();  // "显示窗口"
  QVERIFY(f.form->isVisible());
  QCOMPARE(f.form->activityModel()->index(0, 1).data().toString(), QStringLiteral("张三"));
  // Showing a visible window leaves it visible; the tray icon stays.
  f.form->N11Click();
  QVERIFY(f.form->isVisible());
  QVERIFY(f.form->LMDTrayIcon1->isVisible());
  // "隐藏窗口" hides it again.
  f.form->ToolButton11->click();
  QVERIFY(!f.form->isVisible());
  QVERIFY(f.form->trayActive());
}

void MainFormTest::appendMinimizesWithoutTray() {
  Fixture f(/*tray=*/false);
  f.form->show();
  QTRY_VERIFY(f.form->isMinimized());
  f.form->N11Click();
  QVERIFY(!f.form->isMinimized());
  f.form->AddActivityEntry("a", "b", "c");
  // No notification area: the window stays reachable, minimized.
  QVERIFY(f.form->isVisible());
  QVERIFY(f.form->isMinimized());
  QVERIFY(!f.form->LMDTrayIcon1->isVisible());
  f.form->N11Click();
  QVERIFY(!f.form->isMinimized());
}

void MainFormTest::trayThatAppearsLaterIsUsed() {
  TempAppDir app;
  SysInfoIni ini(app.path("sysinfo.ini"));
  ActivityLog log;
  bool tray = false;
  MainFormOptions o;
  o.trayAvailable = [&] { return tray; };
  TSevMainForm form(ini, log, o);
  form.show();
  form.N11Click();
  form.ToolButton11Click();
  QVERIFY(form.isVisible());
  QVERIFY(form.isMinimized());
  tray = true;  // the panel has started
  form.N11Click();
  form.ToolButton11Click();
  QVERIFY(!form.isVisible());
  QVERIFY(form.LMDTrayIcon1->isVisible());
}

void MainFormTest::appendWhileDialogOpenKeepsTheDialog() {
  Fixture f;
  f.form->show();
  f.form->N11Click();
  QDialog dialog(f.form.get());
  bool visibleAfter = false, formVisibleAfter = true;
  QTimer::singleShot(50, [&] {
    f.form->AddActivityEntry("a", "b", "c");
    QCoreApplication::processEvents();
    visibleAfter = dialog.isVisible();
    formVisibleAfter = f.form->isVisible();
    dialog.reject();
  });
  dialog.exec();
  QVERIFY(!formVisibleAfter);
  // The operator's dialog stays on screen and can be finished.
  QVERIFY(visibleAfter);
}

void MainFormTest::loginFromModuleThreadHidesWindow() {
  Fixture f;
  f.form->show();
  f.form->N11Click();
  QtUiDispatcher dispatcher(f.form.get());
  std::atomic<bool> done{false};
  std::thread module([&] {
    dispatcher.invoke([&] { f.log.append("李四", "客房", "登记"); });
    done = true;
  });
  QTRY_VERIFY(done.load());
  module.join();
  QVERIFY(!f.form->isVisible());
  QVERIFY(f.form->trayActive());
  QCOMPARE(f.form->activityModel()->rowCount(), 1);
  QCOMPARE(f.form->activityModel()->index(0, 3).data().toString(), QStringLiteral("登记"));
}

void MainFormTest::dispatcherCarriesExceptionsAndRefusesAfterClose() {
  Fixture f;
  QtUiDispatcher dispatcher(f.form.get());
  std::string caught;
  std::atomic<bool> done{false};
  std::thread t([&] {
    try {
      dispatcher.invoke([] { throw std::runtime_error("list full"); });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
    done = true;
  });
  QTRY_VERIFY(done.load());
  t.join();
  QCOMPARE(QString::fromStdString(caught), QStringLiteral("list full"));

  // A call waiting while the window thread does not run its loop is
  // released by close() instead of hanging, and its work never runs.
  std::atomic<bool> ran{false}, released{false};
  std::thread waiter([&] {
    try {
      dispatcher.invoke([&] { ran = true; });
    } catch (const qz::remote::RemoteError&) {
      released = true;
    }
  });
  QThread::msleep(50);  // the waiter has posted its work by now (no events processed)
  dispatcher.close();
  waiter.join();
  QVERIFY(released.load());
  QCoreApplication::processEvents();
  QVERIFY(!ran.load());
  // Later calls are refused at once.
  std::atomic<bool> refused{false};
  std::thread late([&] {
    try {
      dispatcher.invoke([] {});
    } catch (const qz::remote::RemoteError&) {
      refused = true;
    }
  });
  late.join();
  QVERIFY(refused.load());
  // On the window thread itself the work runs directly.
  bool direct = false;
  dispatcher.invoke([&] { direct = true; });
  QVERIFY(direct);
}

void MainFormTest::dispatcherRunsWhileModalDialogRuns() {
  Fixture f;
  QtUiDispatcher dispatcher(f.form.get());
  std::atomic<bool> done{false};
  QMessageBox box(QMessageBox::Information, "t", "modal", QMessageBox::Ok);
  std::thread module;
  QTimer::singleShot(0, [&] {
    module = std::thread([&] {
      dispatcher.invoke([&] { f.log.append("a", "b", "c"); });
      done = true;
    });
  });
  // The box's own loop delivers the call; the box closes only afterwards.
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (done) box.accept();
  });
  poll.start(5);
  box.exec();
  module.join();
  QVERIFY(done.load());
  QCOMPARE(f.form->activityModel()->rowCount(), 1);
}

void MainFormTest::dispatcherWaitsWhileWindowThreadIsBusy() {
  Fixture f;
  QtUiDispatcher dispatcher(f.form.get());
  std::atomic<bool> done{false};
  std::thread module([&] {
    dispatcher.invoke([&] { f.log.append("a", "b", "c"); });
    done = true;
  });
  // An administrator function holds the window thread: the login waits.
  QThread::msleep(200);
  QVERIFY(!done.load());
  QCOMPARE(f.form->activityModel()->rowCount(), 0);
  QTRY_VERIFY(done.load());
  module.join();
  QCOMPARE(f.form->activityModel()->rowCount(), 1);
}

void MainFormTest::closeAsksOnlyWhileInstancesExist() {
  {
    Fixture f;
    f.form->show();
    BoxAnswerer none;
    QVERIFY(f.form->close());
    QVERIFY(!none.box().seen);
    QCOMPARE(f.closedCalls, 1);
  }
  {
    Fixture f;
    f.instances = 2;
    f.form->show();
    {
      BoxAnswerer no(QMessageBox::No);
      QVERIFY(!f.form->close());
      QVERIFY(no.box().seen);
      QCOMPARE(no.box().title, QStringLiteral("COM Server Warning"));
      QCOMPARE(
          no.box().text,
          QStringLiteral("There are still active COM objects in this application.  One or more "
                         "clients may have references to these objects, so manually closing "
                         "this application may cause those client application(s) to fail.\n\n"
                         "Are you sure you want to close this application?"));
      QCOMPARE(no.box().buttons, QMessageBox::Yes | QMessageBox::No);
      QCOMPARE(no.box().defaultButton, QMessageBox::No);
      QVERIFY(f.form->isVisible());
      QCOMPARE(f.closedCalls, 0);
    }
    // The close box works also while locked; "关闭系统" is locked.
    QVERIFY(!f.form->ToolButton2->isEnabled());
    BoxAnswerer yes(QMessageBox::Yes);
    QVERIFY(f.form->close());
    QCOMPARE(yes.count(), 1);
    QCOMPARE(f.closedCalls, 1);
  }
  {
    // "关闭系统" (entry and button) after sign-in closes the same way.
    Fixture f;
    f.form->show();
    f.form->UnlockAdminFunctions();
    f.form->N6->trigger();
    QCOMPARE(f.closedCalls, 1);
    QVERIFY(!f.form->isVisible());
  }
  {
    // From the tray while the window is hidden, with instances: asked too.
    Fixture f;
    f.instances = 1;
    f.form->show();
    f.form->UnlockAdminFunctions();
    f.form->ToolButton11Click();
    QVERIFY(!f.form->isVisible());
    BoxAnswerer yes(QMessageBox::Yes);
    f.form->N6->trigger();
    QCOMPARE(yes.count(), 1);
    QCOMPARE(f.closedCalls, 1);
  }
}

void MainFormTest::closeRestoresMinimizedWindow() {
  Fixture f;
  f.form->show();
  QTRY_VERIFY(f.form->isMinimized());
  QVERIFY(f.form->close());
  QVERIFY(!(f.form->windowState() & Qt::WindowMinimized));
}

void MainFormTest::autoLockLocksWhenTimerFires() {
  Fixture f;
  f.writeIni("[BackUp]\nOpenTimes=1\n");
  f.form->UnlockAdminFunctions();
  f.form->N16->trigger();
  QVERIFY(f.form->Timer1->isActive());
  QCOMPARE(f.form->Timer1->interval(), 60000);
  QCOMPARE(f.form->N16->text(), QStringLiteral("停止"));
  // Signing out by hand does not stop the timer.
  f.form->ToolButton12Click();
  QVERIFY(f.form->Timer1->isActive());
  f.form->UnlockAdminFunctions();
  // Let the real timer fire soon instead of in a minute.
  f.form->Timer1->setInterval(20);
  QTRY_COMPARE(f.form->signedIn(), 0);
  QVERIFY(!f.form->Timer1->isActive());
  QCOMPARE(f.form->N16->text(), QStringLiteral("开启"));
  QVERIFY(!f.form->N21->isEnabled());
  QVERIFY(!f.form->autoLockRunning());

  // A value that is not a number counts as 3 minutes.
  f.writeIni("[BackUp]\nOpenTimes=soon\n");
  f.form->N16Click();
  QCOMPARE(f.form->Timer1->interval(), 180000);
  f.form->Timer1Timer();
  QVERIFY(!f.form->Timer1->isActive());
}

void MainFormTest::autoLockWithZeroMinutesNeverFires() {
  Fixture f;
  f.writeIni("[BackUp]\nOpenTimes=0\n");
  f.form->UnlockAdminFunctions();
  f.form->N16Click();
  QCOMPARE(f.form->N16->text(), QStringLiteral("停止"));
  QVERIFY(f.form->autoLockRunning());
  QVERIFY(!f.form->Timer1->isActive());
  QTest::qWait(50);
  QCOMPARE(f.form->signedIn(), 1);
  f.form->N16Click();
  QCOMPARE(f.form->N16->text(), QStringLiteral("开启"));
  QVERIFY(!f.form->autoLockRunning());
}

void MainFormTest::autoLockStopsWhenChosenAgain() {
  Fixture f;
  f.form->UnlockAdminFunctions();
  f.form->N16Click();
  QCOMPARE(f.form->Timer1->interval(), 3 * 60000);  // no sysinfo.ini: 3 minutes
  f.form->N16Click();
  QVERIFY(!f.form->Timer1->isActive());
  QCOMPARE(f.form->N16->text(), QStringLiteral("开启"));
  QCOMPARE(f.form->signedIn(), 1);
}

void MainFormTest::toolButtonsRunTheirEntrysHandler() {
  Fixture f;
  int restore = 0, backup = 0, exportCount = 0, import = 0, clean9 = 0, clean14 = 0, empty = 0;
  f.form->onRestoreDatabase = [&] { ++restore; };
  f.form->onBackupDatabase = [&] { ++backup; };
  f.form->onExportToAccess = [&] { ++exportCount; };
  f.form->onConnectImportFile = [&] { ++import; };
  f.form->onCleanRoomData = [&] { ++clean9; };
  f.form->onCleanSalesData = [&] { ++clean14; };
  f.form->onEmptyDatabase = [&] { ++empty; };
  f.form->UnlockAdminFunctions();
  f.form->ToolButton5->click();
  f.form->N21->trigger();
  f.form->ToolButton4->click();
  f.form->N12->trigger();
  f.form->ToolButton7->click();
  f.form->N4->trigger();
  f.form->ToolButton6->click();
  f.form->N5->trigger();
  f.form->N9->trigger();
  f.form->N14->trigger();
  f.form->N18->trigger();
  QCOMPARE(restore, 2);
  QCOMPARE(backup, 2);
  QCOMPARE(exportCount, 2);
  QCOMPARE(import, 2);
  QCOMPARE(clean9, 1);
  QCOMPARE(clean14, 1);
  QCOMPARE(empty, 1);
  // Locked buttons do nothing when clicked.
  f.form->LockAdminFunctions();
  f.form->ToolButton4->click();
  QCOMPARE(backup, 2);
}

void MainFormTest::uncaughtErrorGoesToStandardDisplay() {
  Fixture f;
  qz::admin::SetApplicationTitle(QStringLiteral("岚舟应用服务器"));
  f.form->UnlockAdminFunctions();
  f.form->onBackupDatabase = [] { throw std::runtime_error("磁盘已满"); };
  {
    BoxAnswerer ok;
    f.form->ToolButton4->click();
    QVERIFY(ok.box().seen);
    QCOMPARE(ok.box().title, QStringLiteral("岚舟应用服务器"));
    QCOMPARE(ok.box().text, QStringLiteral("磁盘已满."));
    QCOMPARE(ok.box().icon, QMessageBox::Critical);
    QCOMPARE(ok.box().buttons, QMessageBox::Ok);
  }
  {
    f.form->onBackupDatabase = [] { throw std::runtime_error("Disk full!"); };
    BoxAnswerer ok;
    f.form->N12->trigger();
    QCOMPARE(ok.box().text, QStringLiteral("Disk full!"));
  }
  {
    // A silent abort shows nothing; the window keeps running.
    f.form->onBackupDatabase = [] { throw qz::admin::SilentAbort(); };
    BoxAnswerer none;
    f.form->ToolButton4->click();
    QTest::qWait(30);
    QVERIFY(!none.box().seen);
  }
}

void MainFormTest::waitWindowShape() {
  TMsgHintForm hint;
  hint.setMessage(QStringLiteral("正在清理数据，请稍候..."));
  hint.showAndPaint();
  QCOMPARE(hint.size(), QSize(291, 52));
  QVERIFY(!hint.isEnabled());
  QVERIFY(hint.windowFlags() & Qt::FramelessWindowHint);
  QVERIFY(hint.windowFlags() & Qt::WindowStaysOnTopHint);
  QVERIFY(hint.RichEdit1->isReadOnly());
  QCOMPARE(hint.RichEdit1->font().pixelSize(), 16);
  QCOMPARE(hint.RichEdit1->palette().color(QPalette::Disabled, QPalette::Base),
           hint.palette().color(QPalette::Active, QPalette::ToolTipBase));
  QCOMPARE(hint.message(), QStringLiteral("正在清理数据，请稍候..."));
  QVERIFY(hint.isVisible());
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  QVERIFY(qAbs(hint.geometry().center().x() - screen.center().x()) <= 1);
}

QTEST_MAIN(MainFormTest)
#include "tst_main_form.moc"
