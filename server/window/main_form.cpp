// The main window: construction of the cool bar, tool bar, list and tray
// menu, the administrator lock, and the handlers.
#include "server/window/main_form.h"

#include <QAction>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "admin/auto_lock.h"
#include "admin/dialogs/error_display.h"
#include "admin/dialogs/login_form.h"
#include "admin/dialogs/setup_form.h"
#include "server/window/activity_log_model.h"
#include "server/window/tool_images.h"
#include "server/window/window_font.h"
#include "settings/config.h"

namespace qz::server {
namespace {

constexpr int kFirstLockedEntry = 5;

// The platform's question before closing while clients hold instances.
const char* const kComWarningCaption = "COM Server Warning";
const char* const kComWarningText =
    "There are still active COM objects in this application.  One or more clients may have "
    "references to these objects, so manually closing this application may cause those "
    "client application(s) to fail.\n\nAre you sure you want to close this application?";

QToolButton* MakeToolButton(QWidget* parent, const char* name, const char* caption, int image) {
  auto* b = new QToolButton(parent);
  b->setObjectName(name);
  b->setText(QString::fromUtf8(caption));
  b->setIcon(ToolImage(image));
  b->setIconSize(QSize(32, 32));
  b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  b->setAutoRaise(true);  // flat
  b->setFixedSize(72, 52);
  return b;
}

QAction* MakeEntry(QMenu* menu, const char* name, const char* caption, int image = -1) {
  QAction* a = menu->addAction(QString::fromUtf8(caption));
  a->setObjectName(name);
  if (image >= 0) a->setIcon(ToolImage(image));
  return a;
}

QAction* MakeSeparator(QMenu* menu, const char* name) {
  QAction* a = menu->addSeparator();
  a->setObjectName(name);
  return a;
}

}  // namespace

TSevMainForm::TSevMainForm(SysInfoIni& ini, ActivityLog& log, MainFormOptions options,
                           QWidget* parent)
    : QMainWindow(parent), ini_(ini), log_(log), options_(std::move(options)) {
  setObjectName(QStringLiteral("SevMainForm"));
  setWindowTitle(QStringLiteral("岚舟应用服务器"));
  setWindowIcon(WindowIcon());
  setFont(CjkFont(13));
  resize(705, 321);
  setMinimumSize(564, 230);

  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  // CoolBar1: band 1 with the tool bar, band 2 (hidden) with the progress.
  CoolBar1 = new QWidget(central);
  CoolBar1->setObjectName(QStringLiteral("CoolBar1"));
  auto* bands = new QVBoxLayout(CoolBar1);
  bands->setContentsMargins(2, 2, 2, 2);
  bands->setSpacing(2);
  ToolBar1 = new QToolBar(CoolBar1);
  ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
  ToolBar1->setMovable(false);
  ToolBar1->setFloatable(false);
  ToolBar1->setIconSize(QSize(32, 32));
  ToolBar1->setMinimumHeight(52);
  bands->addWidget(ToolBar1);
  CoolBar1Band2 = new QWidget(CoolBar1);
  CoolBar1Band2->setObjectName(QStringLiteral("CoolBar1Band2"));
  auto* band2 = new QHBoxLayout(CoolBar1Band2);
  band2->setContentsMargins(4, 0, 4, 0);
  Band2Text = new QLabel(QStringLiteral("正在运算"), CoolBar1Band2);
  ProgressBar1 = new QProgressBar(CoolBar1Band2);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setRange(0, 100);
  ProgressBar1->hide();
  band2->addWidget(Band2Text);
  band2->addWidget(ProgressBar1, 1);
  bands->addWidget(CoolBar1Band2);
  CoolBar1Band2->hide();
  CoolBar1->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  column->addWidget(CoolBar1);

  // ListView1: the activity log in report view.
  model_ = new ActivityLogModel(log_, this);
  ListView1 = new QTableView(central);
  ListView1->setObjectName(QStringLiteral("ListView1"));
  ListView1->setModel(model_);
  ListView1->setShowGrid(true);
  ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
  ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView1->setWordWrap(false);
  ListView1->verticalHeader()->hide();
  ListView1->verticalHeader()->setDefaultSectionSize(18);
  ListView1->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  ListView1->horizontalHeader()->setStretchLastSection(false);
  const int widths[ActivityLogModel::kColumnCount] = {150, 80, 80, 150};
  for (int c = 0; c < ActivityLogModel::kColumnCount; ++c) ListView1->setColumnWidth(c, widths[c]);
  column->addWidget(ListView1, 1);
  setCentralWidget(central);

  BuildTrayMenu();
  BuildToolBar();

  LMDTrayIcon1 = new QSystemTrayIcon(WindowIcon(), this);
  LMDTrayIcon1->setObjectName(QStringLiteral("LMDTrayIcon1"));
  LMDTrayIcon1->setToolTip(QStringLiteral("岚舟应用服务器"));
  LMDTrayIcon1->setContextMenu(LMDPopupMenu1);
  connect(LMDTrayIcon1, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason r) {
            if (r == QSystemTrayIcon::DoubleClick) Guard([this] { N11Click(); });
          });

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  connect(Timer1, &QTimer::timeout, this, [this] { Guard([this] { Timer1Timer(); }); });

  QPointer<TSevMainForm> self(this);
  log_.addListener([self](bool, const ActivityEntry& e) {
    if (self) self->ListView1Insert(e);
  });

  // FormCreate.
  // 1. Minimize once the event loop runs (a window hidden by then stays hidden).
  QTimer::singleShot(0, this, [this] {
    if (isVisible()) showMinimized();
  });
  // 2. Command timeouts.
  ADOC1.setCommandTimeout(3000);
  ADOQuery1.setCommandTimeout(3000);
  // 3. Both connections closed.
  ADOC1.close();
  // 4. AppDir: the executable's folder, unless the start already chose one.
  if (appDir().empty()) setAppDir(executableDir());
  // 5. The connection texts, not opened.
  ADOC1.setConnectionString(BuildSqlConnectionString());
  ADOC2ConnectionString = BuildAccessConnectionString();
  // 6. Locked.
  LockAdminFunctions();
}

TSevMainForm::~TSevMainForm() = default;

void TSevMainForm::BuildTrayMenu() {
  LMDPopupMenu1 = new QMenu(this);
  LMDPopupMenu1->setObjectName(QStringLiteral("LMDPopupMenu1"));
  N10 = MakeEntry(LMDPopupMenu1, "N10", "登陆系统", 0);
  N8 = MakeEntry(LMDPopupMenu1, "N8", "显示窗口", 7);
  N13 = MakeSeparator(LMDPopupMenu1, "N13");
  N11 = MakeEntry(LMDPopupMenu1, "N11", "数据库设置", 1);
  N1 = MakeSeparator(LMDPopupMenu1, "N1");
  N21 = MakeEntry(LMDPopupMenu1, "N21", "恢复数据", 2);
  N12 = MakeEntry(LMDPopupMenu1, "N12", "备份数据", 3);
  N2 = MakeSeparator(LMDPopupMenu1, "N2");
  N4 = MakeEntry(LMDPopupMenu1, "N4", "数据导出", 4);
  N5 = MakeEntry(LMDPopupMenu1, "N5", "数据导入", 5);
  CleanMenu = new QMenu(QStringLiteral("清理数据"), LMDPopupMenu1);
  CleanMenu->setObjectName(QStringLiteral("CleanMenu"));
  N3 = LMDPopupMenu1->addMenu(CleanMenu);
  N3->setObjectName(QStringLiteral("N3"));
  N3->setIcon(ToolImage(6));
  N7 = MakeSeparator(LMDPopupMenu1, "N7");
  N6 = MakeEntry(LMDPopupMenu1, "N6", "关闭系统", 8);

  N9 = MakeEntry(CleanMenu, "N9", "清理客房结算数据");
  N14 = MakeEntry(CleanMenu, "N14", "清理商品销售数据");
  N15 = MakeSeparator(CleanMenu, "N15");
  N18 = MakeEntry(CleanMenu, "N18", "清空数据库");
  N17 = MakeSeparator(CleanMenu, "N17");
  N16 = MakeEntry(CleanMenu, "N16", admin::kAutoLockStartCaption);

  // The export and import entries exist but are never shown.
  N4->setVisible(false);
  N5->setVisible(false);

  connect(N10, &QAction::triggered, this, [this] { Guard([this] { ToolButton12Click(); }); });
  connect(N8, &QAction::triggered, this, [this] { Guard([this] { N11Click(); }); });
  connect(N11, &QAction::triggered, this, [this] { Guard([this] { ToolButton1Click(); }); });
  connect(N21, &QAction::triggered, this, [this] { RunHook(onRestoreDatabase); });
  connect(N12, &QAction::triggered, this, [this] { RunHook(onBackupDatabase); });
  connect(N4, &QAction::triggered, this, [this] { RunHook(onExportToAccess); });
  connect(N5, &QAction::triggered, this, [this] { RunHook(onConnectImportFile); });
  connect(N6, &QAction::triggered, this, [this] { Guard([this] { ToolButton2Click(); }); });
  connect(N9, &QAction::triggered, this, [this] { RunHook(onCleanRoomData); });
  connect(N14, &QAction::triggered, this, [this] { RunHook(onCleanSalesData); });
  connect(N18, &QAction::triggered, this, [this] { RunHook(onEmptyDatabase); });
  connect(N16, &QAction::triggered, this, [this] { Guard([this] { N16Click(); }); });
}

void TSevMainForm::BuildToolBar() {
  ToolButton12 = MakeToolButton(ToolBar1, "ToolButton12", "登陆系统", 0);
  ToolButton1 = MakeToolButton(ToolBar1, "ToolButton1", "数据库设置", 1);
  ToolButton4 = MakeToolButton(ToolBar1, "ToolButton4", "备份数据", 3);
  ToolButton5 = MakeToolButton(ToolBar1, "ToolButton5", "恢复数据", 2);
  ToolButton7 = MakeToolButton(ToolBar1, "ToolButton7", "数据导出", 4);
  ToolButton6 = MakeToolButton(ToolBar1, "ToolButton6", "数据导入", 5);
  ToolButton3 = MakeToolButton(ToolBar1, "ToolButton3", "清理数据", 6);
  ToolButton11 = MakeToolButton(ToolBar1, "ToolButton11", "隐藏窗口", 7);
  ToolButton2 = MakeToolButton(ToolBar1, "ToolButton2", "关闭系统", 8);

  ToolBar1->addWidget(ToolButton12);
  ToolBar1->addSeparator();
  ToolBar1->addWidget(ToolButton1);
  ToolBar1->addSeparator();
  ToolBar1->addWidget(ToolButton4);
  ToolBar1->addWidget(ToolButton5);
  ToolBar1->addSeparator();
  ToolButton7Action_ = ToolBar1->addWidget(ToolButton7);
  ToolButton6Action_ = ToolBar1->addWidget(ToolButton6);
  ToolBar1->addWidget(ToolButton3);
  ToolBar1->addSeparator();
  ToolBar1->addWidget(ToolButton11);
  ToolBar1->addWidget(ToolButton2);
  ToolButton7Action_->setVisible(false);
  ToolButton6Action_->setVisible(false);

  // ToolButton3 drops the clean-up submenu down under itself.
  ToolButton3->setMenu(CleanMenu);
  ToolButton3->setPopupMode(QToolButton::InstantPopup);
  ToolButton3->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));

  connect(ToolButton12, &QToolButton::clicked, this,
          [this] { Guard([this] { ToolButton12Click(); }); });
  connect(ToolButton1, &QToolButton::clicked, this,
          [this] { Guard([this] { ToolButton1Click(); }); });
  connect(ToolButton4, &QToolButton::clicked, this, [this] { RunHook(onBackupDatabase); });
  connect(ToolButton5, &QToolButton::clicked, this, [this] { RunHook(onRestoreDatabase); });
  connect(ToolButton7, &QToolButton::clicked, this, [this] { RunHook(onExportToAccess); });
  connect(ToolButton6, &QToolButton::clicked, this, [this] { RunHook(onConnectImportFile); });
  connect(ToolButton11, &QToolButton::clicked, this,
          [this] { Guard([this] { ToolButton11Click(); }); });
  connect(ToolButton2, &QToolButton::clicked, this,
          [this] { Guard([this] { ToolButton2Click(); }); });
}

void TSevMainForm::Guard(const std::function<void()>& fn) { admin::RunGuarded(this, fn); }

void TSevMainForm::RunHook(const std::function<void()>& hook) {
  if (hook) Guard(hook);
}

int TSevMainForm::signedIn() const { return N10->data().toInt(); }

void TSevMainForm::SetAdminEnabled(bool enabled) {
  // 1. Every top-level entry from position 5 on, whatever their number.
  const QList<QAction*> entries = LMDPopupMenu1->actions();
  for (int i = kFirstLockedEntry; i < entries.size(); ++i) entries[i]->setEnabled(enabled);
  // 2. Entry 0's caption and the signed-in flag.
  N10->setText(enabled ? QStringLiteral("注销") : QStringLiteral("登陆"));
  N10->setData(enabled ? 1 : 0);
  // 3. The six tool buttons.
  for (QToolButton* b :
       {ToolButton2, ToolButton3, ToolButton4, ToolButton5, ToolButton6, ToolButton7})
    b->setEnabled(enabled);
}

void TSevMainForm::LockAdminFunctions() { SetAdminEnabled(false); }
void TSevMainForm::UnlockAdminFunctions() { SetAdminEnabled(true); }

void TSevMainForm::ToolButton12Click() {
  if (signedIn() != 0) {
    LockAdminFunctions();
    return;
  }
  admin::ShowLoginDialog(this, ini_, ADOC1, ADOQuery1, [this] { UnlockAdminFunctions(); });
}

void TSevMainForm::ToolButton1Click() { admin::EditServerSettings(this, ADOC1); }

void TSevMainForm::ToolButton11Click() {
  trayActive_ = true;
  const bool tray = !options_.trayAvailable || options_.trayAvailable();
  if (tray) {
    LMDTrayIcon1->show();  // a no-op once shown
    hide();
  } else {
    showMinimized();
  }
}

void TSevMainForm::N11Click() {
  if (isMinimized())
    showNormal();
  else
    show();
  raise();
  activateWindow();
}

void TSevMainForm::ToolButton2Click() { close(); }

void TSevMainForm::N16Click() {
  if (autoLockRunning_) {
    N16->setText(QString::fromUtf8(admin::kAutoLockStartCaption));
    Timer1->stop();
    autoLockRunning_ = false;
    return;
  }
  // With 0 (or fewer) minutes the entry reads "停止" but nothing ever fires.
  if (const auto ms = admin::AutoLockIntervalMs(ini_)) {
    Timer1->setInterval(*ms);
    Timer1->start();
  }
  autoLockRunning_ = true;
  N16->setText(QString::fromUtf8(admin::kAutoLockStopCaption));
}

void TSevMainForm::Timer1Timer() {
  N16->setText(QString::fromUtf8(admin::kAutoLockStartCaption));
  Timer1->stop();
  autoLockRunning_ = false;
  LockAdminFunctions();
}

void TSevMainForm::AddActivityEntry(const std::string& operatorName, const std::string& station,
                                    const std::string& work) {
  log_.append(operatorName, station, work);
}

void TSevMainForm::ListView1Insert(const ActivityEntry& entry) {
  model_->append(entry);
  ListView1->scrollToBottom();  // the newest row is the one to see
  ToolButton11Click();
}

void TSevMainForm::closeEvent(QCloseEvent* e) {
  if (options_.instanceCount && options_.instanceCount() > 0) {
    QMessageBox box(QMessageBox::Warning, QString::fromUtf8(kComWarningCaption),
                    QString::fromUtf8(kComWarningText), QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName(QStringLiteral("ComServerWarning"));
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() != QMessageBox::Yes) {
      e->ignore();
      return;
    }
  }
  // FormCloseQuery: a minimized window is restored; the close is never refused.
  setWindowState(windowState() & ~Qt::WindowMinimized);
  e->accept();
  if (options_.onClosed) options_.onClosed();
}

}  // namespace qz::server
