// The sign-in dialog, the password dialog and the sign-in from the main
// window, against a real embedded demo database.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <memory>

#include "admin/dialogs/app_title.h"
#include "admin/dialogs/chapass_form.h"
#include "admin/dialogs/login_form.h"
#include "admin/login_history.h"
#include "admin/sign_in.h"
#include "database/create_database.h"
#include "server/window/main_form.h"
#include "tests/window/window_test_support.h"

using namespace qz;
using qz::admin::TchapassForm;
using qz::admin::TloginForm;
using qz::testing::BoxAnswerer;
using qz::testing::TempAppDir;
using qz::testing::WhenModal;

namespace {

std::string ConnText(const std::string& catalog) {
  return "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=;Password=;Initial Catalog=" +
         catalog +
         ";Data Source=;Use Procedure for Prepare=1;Auto Translate=True;"
         "Packet Size=4096;Workstation ID=;Initial File Name=;Use Encryption for Data=False";
}

// A temporary AppDir with an embedded demo database "qz" and its system.ini.
struct DemoSite {
  TempAppDir app;
  std::unique_ptr<server::SysInfoIni> ini;
  DemoSite() {
    db::setEmbeddedDataDir(server::appDir() + "data/");
    std::filesystem::create_directories(server::appDir() + "data");
    database::createDatabase(ConnText("qz"), {.demo = true, .demoRows = 20});
    std::ofstream(app.path("system.ini"), std::ios::binary) << "\r\n\r\n\r\nqz\r\n\r\n\r\n\r\n";
    ini = std::make_unique<server::SysInfoIni>(app.path("sysinfo.ini"));
  }
  void writeIni(const std::string& text) {
    std::ofstream(app.path("sysinfo.ini"), std::ios::binary) << text;
  }
  std::string password(const std::string& id) {
    db::Connection c;
    c.setConnectionString(ConnText("qz"));
    c.open();
    auto cur = c.query("select psw from users where id='" + id + "' and mark='系统管理'");
    return cur->next() ? cur->row()[0].toText() : "<none>";
  }
};

struct Dialog {
  db::Connection conn;
  db::Query query{&conn};
  int unlocked = 0;
  std::unique_ptr<TloginForm> form;
  explicit Dialog(DemoSite& site, const std::string& catalog = "qz") {
    conn.setConnectionString(ConnText(catalog));
    form = std::make_unique<TloginForm>(*site.ini, conn, query, [this] { ++unlocked; });
  }
  void type(const QString& name, const QString& psw) {
    form->edit1->setEditText(name);
    form->Edit2->setText(psw);
  }
};

}  // namespace

class LoginFormTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void showingSetsCaptionTitleSizeAndHistory();
  void enterMovesFocusLikeTab();
  void rightPasswordSignsInAndRemembersName();
  void wrongPasswordShowsHintWhileLoopRuns();
  void popedomZeroOrEmptyIsRefused();
  void databaseErrorClosesNotSignedIn();
  void passwordChangeAfterSignIn();
  void passwordDialogRefusesDifferentEntries();
  void passwordDialogCancelKeepsPassword();
  void failedPasswordUpdateKeepsSignIn();
  void passwordEditsTakeTenGbkBytes();
  void mainWindowSignInUnlocksAndSignOutLocks();

 private:
  std::unique_ptr<DemoSite> site_;
};

void LoginFormTest::initTestCase() { site_ = std::make_unique<DemoSite>(); }

void LoginFormTest::showingSetsCaptionTitleSizeAndHistory() {
  site_->writeIni("[Consts]\nsystemname=海景酒店\n[Login]\nuser0=admin\nuser1=front\nuser3=x\n");
  Dialog d(*site_);
  QCOMPARE(d.form->windowTitle(), QStringLiteral("登陆[海景酒店]"));
  QCOMPARE(admin::ApplicationTitle(), QStringLiteral("海景酒店"));
  QCOMPARE(d.form->edit1->count(), 10);
  QCOMPARE(d.form->edit1->itemText(0), QStringLiteral("admin"));
  QCOMPARE(d.form->edit1->itemText(1), QStringLiteral("front"));
  QCOMPARE(d.form->edit1->itemText(2), QString());
  QCOMPARE(d.form->edit1->itemText(3), QStringLiteral("x"));
  QCOMPARE(d.form->edit1->currentIndex(), 0);
  QCOMPARE(d.form->edit1->currentText(), QStringLiteral("admin"));
  // Size rule from the name label, the name field and the sign-in button.
  QCOMPARE(d.form->width(), d.form->Label1->x() + d.form->edit1->x() + d.form->edit1->width() + 15);
  QCOMPARE(d.form->height(),
           d.form->Label1->y() + d.form->BitBtn1->y() + d.form->BitBtn1->height() + 26);
  QVERIFY(d.form->windowFlags() & Qt::WindowStaysOnTopHint);
  QVERIFY(!(d.form->windowFlags() & Qt::WindowCloseButtonHint));
  QCOMPARE(d.form->Edit2->echoMode(), QLineEdit::Password);

  // Without a system name: the default.
  site_->writeIni("");
  Dialog d2(*site_);
  QCOMPARE(d2.form->windowTitle(), QStringLiteral("登陆[岚舟软件]"));
  QCOMPARE(admin::ApplicationTitle(), QStringLiteral("岚舟软件"));
  QCOMPARE(d2.form->edit1->count(), 10);
}

void LoginFormTest::enterMovesFocusLikeTab() {
  site_->writeIni("");
  Dialog d(*site_);
  d.form->show();
  QVERIFY(QTest::qWaitForWindowExposed(d.form.get()));
  d.form->activateWindow();
  d.form->edit1->setFocus();
  QTRY_VERIFY(d.form->edit1->hasFocus());
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  QTRY_VERIFY(d.form->Edit2->hasFocus());
  QTest::keyClick(d.form->Edit2, Qt::Key_Enter, Qt::KeypadModifier);
  QTRY_VERIFY(d.form->CheckBox1->hasFocus());
  QTest::keyClick(d.form->CheckBox1, Qt::Key_Return);
  QTRY_VERIFY(d.form->BitBtn1->hasFocus());
  // Enter on the sign-in button moves on; it does not sign in.
  QTest::keyClick(d.form->BitBtn1, Qt::Key_Return);
  QTRY_VERIFY(d.form->BitBtn2->hasFocus());
  QCOMPARE(d.unlocked, 0);
  QVERIFY(d.form->isVisible());
}

void LoginFormTest::rightPasswordSignsInAndRemembersName() {
  site_->writeIni("[Login]\nuser0=a\nuser1=b\nuser2=admin\n");
  Dialog d(*site_);
  d.type("admin", "admin");
  d.form->BitBtn1Click();
  QCOMPARE(d.unlocked, 1);
  QCOMPARE(d.form->result(), int(QDialog::Accepted));
  const auto h = admin::LoadLoginHistory(*site_->ini);
  QCOMPARE(QString::fromStdString(h[0]), QStringLiteral("admin"));
  QCOMPARE(QString::fromStdString(h[1]), QStringLiteral("a"));
  QCOMPARE(QString::fromStdString(h[2]), QStringLiteral("b"));
  QCOMPARE(QString::fromStdString(h[3]), QString());
}

void LoginFormTest::wrongPasswordShowsHintWhileLoopRuns() {
  site_->writeIni("[Login]\nuser0=a\n");
  Dialog d(*site_);
  d.form->show();
  QVERIFY(QTest::qWaitForWindowExposed(d.form.get()));
  d.type("admin", "nope");
  d.form->BitBtn2->setFocus();
  // Sampled by a timer while the hint's own loop runs.
  bool visibleDuring = false;
  QString textDuring;
  QTimer::singleShot(300, [&] {
    visibleDuring = d.form->hintVisible();
    textDuring = d.form->hintText();
  });
  QElapsedTimer clock;
  clock.start();
  d.form->BitBtn1Click();
  const qint64 ms = clock.elapsed();
  QVERIFY(visibleDuring);
  QCOMPARE(textDuring, QStringLiteral("  编号或口令有误!  "));
  QVERIFY2(ms >= 1150 && ms < 3000, qPrintable(QString::number(ms)));
  QVERIFY(!d.form->hintVisible());
  QCOMPARE(d.form->hintAnchor(), d.form->edit1->mapToGlobal(d.form->edit1->rect().center()));
  QTRY_VERIFY(d.form->edit1->hasFocus());
  QVERIFY(d.form->isVisible());
  QCOMPARE(d.unlocked, 0);
  // No history change on failure.
  QCOMPARE(QString::fromStdString(admin::LoadLoginHistory(*site_->ini)[0]), QStringLiteral("a"));
}

void LoginFormTest::popedomZeroOrEmptyIsRefused() {
  site_->writeIni("");
  {
    db::Connection c;
    c.setConnectionString(ConnText("qz"));
    c.open();
    c.execute("delete from users where id='nopop'");
    c.execute("insert into users (id, psw, mark, popedom) values ('nopop', 'p', '系统管理', '')");
  }
  for (auto [name, psw] : {std::pair{"cashier", "123"}, std::pair{"nopop", "p"}}) {
    Dialog d(*site_);
    d.type(name, psw);
    d.form->BitBtn1Click();
    QCOMPARE(d.unlocked, 0);
    QVERIFY(d.form->result() != int(QDialog::Accepted));
  }
}

void LoginFormTest::databaseErrorClosesNotSignedIn() {
  site_->writeIni("");
  Dialog d(*site_, "no_such_database");
  d.type("admin", "admin");
  BoxAnswerer ok;
  d.form->BitBtn1Click();
  QVERIFY(ok.box().seen);
  QCOMPARE(ok.box().icon, QMessageBox::Critical);
  QVERIFY(!ok.box().text.isEmpty());
  QCOMPARE(d.form->result(), int(QDialog::Rejected));
  QCOMPARE(d.unlocked, 0);
}

void LoginFormTest::passwordChangeAfterSignIn() {
  site_->writeIni("");
  {
    db::Connection c;
    c.setConnectionString(ConnText("qz"));
    c.open();
    c.execute("delete from users where id='boss'");
    c.execute("insert into users (id, psw, mark, popedom) values ('boss', 'old', '系统管理', '1')");
  }
  Dialog d(*site_);
  d.type("boss", "old");
  d.form->CheckBox1->setChecked(true);
  int unlockedWhenAsked = -1;
  WhenModal<TchapassForm>([&](TchapassForm* p) {
    unlockedWhenAsked = d.unlocked;
    p->Edit1->setText("n'ew");
    p->Edit2->setText("n'ew");
    p->BitBtn1->click();
  });
  d.form->BitBtn1Click();
  QCOMPARE(unlockedWhenAsked, 1);  // unlocked before the password dialog
  QCOMPARE(d.form->result(), int(QDialog::Accepted));
  QCOMPARE(QString::fromStdString(site_->password("boss")), QStringLiteral("n'ew"));

  // Two empty edits set the empty password.
  Dialog d2(*site_);
  d2.type("boss", "n'ew");
  d2.form->CheckBox1->setChecked(true);
  WhenModal<TchapassForm>([](TchapassForm* p) { p->BitBtn1->click(); });
  d2.form->BitBtn1Click();
  QCOMPARE(QString::fromStdString(site_->password("boss")), QString());
}

void LoginFormTest::passwordDialogRefusesDifferentEntries() {
  TchapassForm p(nullptr);
  QCOMPARE(p.windowTitle(), QStringLiteral("密码修改"));
  p.show();
  p.Edit1->setText("abc");
  p.Edit2->setText("abd");
  {
    BoxAnswerer yes;
    p.BitBtn1->click();
    QVERIFY(yes.box().seen);
    QCOMPARE(yes.box().text, QStringLiteral("新口令错误！请重新输入。"));
    QCOMPARE(yes.box().buttons, QMessageBox::Yes);
    QCOMPARE(yes.box().icon, QMessageBox::Critical);
  }
  QVERIFY(p.isVisible());
  QCOMPARE(p.result(), int(QDialog::Rejected));
  // Case matters: "ABC" differs from "abc".
  p.Edit2->setText("ABC");
  {
    BoxAnswerer yes;
    p.BitBtn1->click();
    QVERIFY(yes.box().seen);
  }
  p.Edit2->setText("abc");
  p.BitBtn1->click();
  QCOMPARE(p.result(), int(QDialog::Accepted));
  QCOMPARE(QString::fromStdString(p.newPassword()), QStringLiteral("abc"));
}

void LoginFormTest::passwordDialogCancelKeepsPassword() {
  site_->writeIni("");
  {
    db::Connection c;
    c.setConnectionString(ConnText("qz"));
    c.open();
    c.execute("delete from users where id='keep'");
    c.execute("insert into users (id, psw, mark, popedom) values ('keep', 'k', '系统管理', '1')");
  }
  Dialog d(*site_);
  d.type("keep", "k");
  d.form->CheckBox1->setChecked(true);
  WhenModal<TchapassForm>([](TchapassForm* p) {
    p->Edit1->setText("zzz");
    p->Edit2->setText("zzz");
    p->BitBtn2->click();
  });
  d.form->BitBtn1Click();
  QCOMPARE(d.unlocked, 1);
  QCOMPARE(d.form->result(), int(QDialog::Accepted));
  QCOMPARE(QString::fromStdString(site_->password("keep")), QStringLiteral("k"));
}

void LoginFormTest::failedPasswordUpdateKeepsSignIn() {
  site_->writeIni("");
  {
    db::Connection c;
    c.setConnectionString(ConnText("qz"));
    c.open();
    c.execute("delete from users where id='ro'");
    c.execute("insert into users (id, psw, mark, popedom) values ('ro', 'r', '系统管理', '1')");
  }
  Dialog d(*site_);
  d.type("ro", "r");
  d.form->CheckBox1->setChecked(true);
  BoxAnswerer* seen = nullptr;
  std::unique_ptr<BoxAnswerer> answerer;
  WhenModal<TchapassForm>([&](TchapassForm* p) {
    // The database goes away between the sign-in and the update.
    d.conn.close();
    d.conn.setConnectionString(ConnText("gone_database"));
    answerer = std::make_unique<BoxAnswerer>();
    seen = answerer.get();
    p->Edit1->setText("x");
    p->Edit2->setText("x");
    p->BitBtn1->click();
  });
  d.form->BitBtn1Click();
  QVERIFY(seen != nullptr);
  QVERIFY(seen->box().seen);
  QCOMPARE(seen->box().text, QStringLiteral("不能修改口令!"));
  QCOMPARE(d.unlocked, 1);
  QCOMPARE(d.form->result(), int(QDialog::Accepted));
  QCOMPARE(QString::fromStdString(site_->password("ro")), QStringLiteral("r"));
}

void LoginFormTest::passwordEditsTakeTenGbkBytes() {
  TchapassForm p(nullptr);
  p.show();
  p.Edit1->setFocus();
  QTest::keyClicks(p.Edit1, QStringLiteral("1234567890ab"));
  QCOMPARE(p.Edit1->text(), QStringLiteral("1234567890"));
  p.Edit2->setFocus();
  // Typed one character at a time, as an input method delivers them.
  for (QChar c : QStringLiteral("一二三四五六")) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(p.Edit2, &press);
  }
  QCOMPARE(p.Edit2->text(), QStringLiteral("一二三四五"));
  QCOMPARE(p.Edit2->echoMode(), QLineEdit::Password);
  // A paste is cut at the limit.
  p.Edit1->clear();
  p.Edit1->insert(QStringLiteral("口令口令口令"));
  QCOMPARE(p.Edit1->text(), QStringLiteral("口令口令口"));
  p.Edit1->clear();
  p.Edit1->insert(QStringLiteral("123456789口"));
  QCOMPARE(p.Edit1->text(), QStringLiteral("123456789"));
}

void LoginFormTest::mainWindowSignInUnlocksAndSignOutLocks() {
  site_->writeIni("");
  server::ActivityLog log;
  server::TSevMainForm form(*site_->ini, log, {});
  QVERIFY(!form.ADOC1.isOpen());
  WhenModal<TloginForm>([](TloginForm* f) {
    f->edit1->setEditText("admin");
    f->Edit2->setText("admin");
    f->BitBtn1->click();
  });
  form.ToolButton12->click();
  QCOMPARE(form.signedIn(), 1);
  QCOMPARE(form.N10->text(), QStringLiteral("注销"));
  QVERIFY(form.ToolButton5->isEnabled());
  QVERIFY(form.ADOC1.isOpen());  // the main SQL connection, from system.ini
  form.N10->trigger();
  QCOMPARE(form.signedIn(), 0);
  // Cancelling the dialog leaves the window locked.
  WhenModal<TloginForm>([](TloginForm* f) { f->BitBtn2->click(); });
  form.N10->trigger();
  QCOMPARE(form.signedIn(), 0);
}

QTEST_MAIN(LoginFormTest)
#include "tst_login_form.moc"
