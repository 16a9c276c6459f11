// Renders the main window, the tray menu and every dialog, checks that
// Chinese captions have glyphs and that no caption is cut off by its
// control, and, when QZ_PICTURES_DIR is set (scripts/render-pictures), saves
// each picture there as PNG.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <memory>

#include "admin/dialogs/chapass_form.h"
#include "admin/dialogs/computer_browser.h"
#include "admin/dialogs/login_form.h"
#include "admin/dialogs/setup_form.h"
#include "server/window/main_form.h"
#include "server/window/msg_hint_form.h"
#include "server/window/window_font.h"
#include "tests/window/window_test_support.h"

using namespace qz;
using qz::testing::TempAppDir;

namespace {

// Saves img as name.png in $QZ_PICTURES_DIR, when set.
void Save(const QImage& img, const char* name) {
  const QString dir = qEnvironmentVariable("QZ_PICTURES_DIR");
  if (dir.isEmpty()) return;
  QDir().mkpath(dir);
  QVERIFY(img.save(dir + "/" + name + ".png"));
}

// Whether the picture holds more than one colour (something was drawn).
bool HasContent(const QImage& img) {
  const QRgb first = img.pixel(0, 0);
  for (int y = 0; y < img.height(); y += 2)
    for (int x = 0; x < img.width(); x += 2)
      if (img.pixel(x, y) != first) return true;
  return false;
}

// Every caption of w's labels, buttons and check boxes fits its control,
// and every child lies inside its parent.
void CheckNothingClipped(QWidget* w) {
  for (QWidget* c : w->findChildren<QWidget*>()) {
    if (!c->isVisibleTo(w) || c->isWindow()) continue;
    QWidget* parent = c->parentWidget();
    QVERIFY2(
        parent->rect().contains(c->geometry()),
        qPrintable(c->objectName() + " " + c->metaObject()->className() + " outside its parent"));
    QString text;
    int room = c->width();
    if (auto* l = qobject_cast<QLabel*>(c)) {
      text = l->text();
      room -= 2 * l->margin();
    } else if (auto* cb = qobject_cast<QCheckBox*>(c)) {
      text = cb->text();
      room -= 20;  // the box and its spacing
    } else if (auto* b = qobject_cast<QPushButton*>(c)) {
      text = b->text();
      room -= 8;
    } else if (auto* t = qobject_cast<QToolButton*>(c)) {
      text = t->text();
      room -= 4;
    }
    if (text.isEmpty() || text.contains('\n')) continue;
    const int need = c->fontMetrics().horizontalAdvance(text);
    QVERIFY2(
        need <= room,
        qPrintable(
            QString("%1 \"%2\" needs %3 of %4").arg(c->objectName(), text).arg(need).arg(room)));
  }
}

// Grabs the next modal message box into *img and presses its button.
void GrabNextBox(QImage* img, QMessageBox::StandardButton answer) {
  auto* t = new QTimer;
  QObject::connect(t, &QTimer::timeout, [t, img, answer] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    t->stop();
    t->deleteLater();
    QCoreApplication::processEvents();
    *img = box->grab().toImage();
    box->button(answer)->click();
  });
  t->start(5);
}

QImage Grab(QWidget* w) {
  w->show();
  QCoreApplication::processEvents();
  return w->grab().toImage();
}

}  // namespace

class RenderPicturesTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void cjkFontHasTheCaptionsGlyphs();
  void mainWindow();
  void trayMenuAndCleanUpMenu();
  void signInDialog();
  void passwordDialog();
  void settingsDialog();
  void computerBrowser();
  void waitWindow();
  void messageBoxes();

 private:
  std::unique_ptr<TempAppDir> app_;
  std::unique_ptr<server::SysInfoIni> ini_;
  server::ActivityLog log_;
};

void RenderPicturesTest::initTestCase() {
  app_ = std::make_unique<TempAppDir>();
  ini_ = std::make_unique<server::SysInfoIni>(app_->path("sysinfo.ini"));
  ini_->writeString("Login", "user0", "admin");
  ini_->writeString("Login", "user1", "manager");
  QApplication::setFont(server::CjkFont(13));
}

void RenderPicturesTest::cjkFontHasTheCaptionsGlyphs() {
  const QFont f = server::CjkFont(13);
  QFontMetrics fm(f);
  for (QChar c : QStringLiteral("岚舟应用服务器登陆系统数据库设置清理恢复备份关闭隐藏窗口"))
    QVERIFY2(fm.inFont(c), qPrintable(QString("no glyph for ") + c + " in " + f.family()));
}

void RenderPicturesTest::mainWindow() {
  server::TSevMainForm form(*ini_, log_, {});
  form.UnlockAdminFunctions();
  const char* rows[][3] = {{"张三", "前台01", "客房结算"},
                           {"李四", "商场02", "商品销售"},
                           {"王五", "库房", "物料入库"},
                           {"赵六", "财务", "日报表"}};
  for (auto& r : rows) form.AddActivityEntry(r[0], r[1], r[2]);
  form.showNormal();
  QCoreApplication::processEvents();
  CheckNothingClipped(&form);
  const QImage img = form.grab().toImage();
  QVERIFY(HasContent(img));
  QCOMPARE(img.size() / img.devicePixelRatio(), QSize(705, 321));
  Save(img, "main-window");

  // The locked state as it is after start.
  form.LockAdminFunctions();
  QCoreApplication::processEvents();
  Save(form.grab().toImage(), "main-window-locked");
}

void RenderPicturesTest::trayMenuAndCleanUpMenu() {
  server::TSevMainForm form(*ini_, log_, {});
  form.UnlockAdminFunctions();
  QMenu* menu = form.LMDPopupMenu1;
  menu->popup(QPoint(40, 40));
  QTRY_VERIFY(menu->isVisible());
  CheckNothingClipped(menu);
  QImage img = menu->grab().toImage();
  QVERIFY(HasContent(img));
  Save(img, "tray-menu");
  menu->hide();

  form.LockAdminFunctions();
  menu->popup(QPoint(40, 40));
  QTRY_VERIFY(menu->isVisible());
  Save(menu->grab().toImage(), "tray-menu-locked");
  menu->hide();

  form.UnlockAdminFunctions();
  form.CleanMenu->popup(QPoint(40, 40));
  QTRY_VERIFY(form.CleanMenu->isVisible());
  img = form.CleanMenu->grab().toImage();
  QVERIFY(HasContent(img));
  Save(img, "clean-up-menu");
  form.CleanMenu->hide();

  // On a desktop with a tray: the icon and its menu on the whole screen.
  if (QSystemTrayIcon::isSystemTrayAvailable() &&
      !qEnvironmentVariable("QZ_PICTURES_DIR").isEmpty()) {
    form.showNormal();
    form.ToolButton11Click();  // activates the icon, hides the window
    QTest::qWait(800);
    const QRect icon = form.LMDTrayIcon1->geometry();
    menu->popup(icon.isValid() ? icon.topLeft() - QPoint(0, menu->sizeHint().height())
                               : QPoint(500, 300));
    QTest::qWait(500);
    // The corner of the screen with the panel, the icon and the menu.
    QRect area = menu->geometry().united(icon).adjusted(-60, -30, 60, 30);
    area = area.intersected(QGuiApplication::primaryScreen()->geometry());
    Save(QGuiApplication::primaryScreen()->grabWindow(0).toImage().copy(area), "tray-desktop");
    menu->hide();
  }
}

void RenderPicturesTest::signInDialog() {
  db::Connection conn;
  db::Query query(&conn);
  admin::TloginForm f(*ini_, conn, query, [] {});
  CheckNothingClipped(&f);
  const QImage img = Grab(&f);
  QVERIFY(HasContent(img));
  Save(img, "sign-in");
  f.hide();
}

void RenderPicturesTest::passwordDialog() {
  admin::TchapassForm f(nullptr);
  CheckNothingClipped(&f);
  const QImage img = Grab(&f);
  QVERIFY(HasContent(img));
  Save(img, "password");
}

void RenderPicturesTest::settingsDialog() {
  db::Connection conn;
  admin::TsetupForm f(conn);
  f.Edit1->setText("192.168.1.10,5432");
  f.Edit2->setText("hotel");
  f.Edit3->setText("secret");
  f.Edit4->setText("qz");
  f.Edit5->setText("/srv/qzserver/qz.mdf");
  f.Edit6->setText("frontdesk");
  CheckNothingClipped(&f);
  const QImage img = Grab(&f);
  QVERIFY(HasContent(img));
  Save(img, "server-settings");
}

void RenderPicturesTest::computerBrowser() {
  admin::TComputerBrowser b({"frontdesk", "kitchen", "dbserver"}, nullptr);
  const QImage img = Grab(&b);
  CheckNothingClipped(&b);
  QVERIFY(HasContent(img));
  Save(img, "computer-browser");
}

void RenderPicturesTest::waitWindow() {
  server::TMsgHintForm hint;
  hint.setMessage(QStringLiteral("正在清理数据，请稍候..."));
  const QImage img = Grab(&hint);
  QVERIFY(HasContent(img));
  Save(img, "wait-window");
}

void RenderPicturesTest::messageBoxes() {
  size_t instances = 2;
  server::MainFormOptions o;
  o.instanceCount = [&] { return instances; };
  server::TSevMainForm form(*ini_, log_, o);
  form.UnlockAdminFunctions();
  form.show();

  QImage img;
  form.onBackupDatabase = [] { throw std::runtime_error("无法连接数据库服务器"); };
  GrabNextBox(&img, QMessageBox::Ok);
  form.ToolButton4->click();
  QVERIFY(HasContent(img));
  Save(img, "error-display");

  img = QImage();
  GrabNextBox(&img, QMessageBox::No);
  QVERIFY(!form.close());
  QVERIFY(HasContent(img));
  Save(img, "close-question");

  admin::TchapassForm p(nullptr);
  p.show();
  p.Edit1->setText("a");
  img = QImage();
  GrabNextBox(&img, QMessageBox::Yes);
  p.BitBtn1->click();
  QVERIFY(HasContent(img));
  Save(img, "password-mismatch");
}

QTEST_MAIN(RenderPicturesTest)
#include "tst_render_pictures.moc"
