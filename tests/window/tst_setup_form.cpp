// The server settings dialog: loading and the box rule from a real
// system.ini, the connection test and the save against the embedded engine
// and an unreachable server, the computer browser and the file dialog.
#include <sys/stat.h>

#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "admin/dialogs/computer_browser.h"
#include "admin/dialogs/setup_form.h"
#include "admin/server_settings.h"
#include "database/create_database.h"
#include "tests/window/window_test_support.h"

using namespace qz;
using qz::admin::TsetupForm;
using qz::testing::BoxAnswerer;
using qz::testing::TempAppDir;
using qz::testing::WhenModal;

namespace {

std::string ReadAll(const std::string& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void DoubleClick(QWidget* w) { QTest::mouseDClick(w, Qt::LeftButton); }

}  // namespace

class SetupFormTest : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void cleanup();
  void noFileGivesEmptyFieldsAndDefaultDatabaseFile();
  void sspiWithExistingFileDisablesUserAndPassword();
  void sspiRuleIsCaseSensitiveAndNeedsTheFile();
  void boxRuleFollowsEveryChange();
  void testButtonReportsSuccessAndClosesConnection();
  void testButtonShowsEngineErrorAndStaysOpen();
  void testButtonConnectsToPostgreSql();
  void saveWritesSevenLinesAndKeepsConnectionOpen();
  void saveWithWrongSettingsWritesNothing();
  void cancelWritesNothing();
  void browseResultGoesIntoTheClickedField();
  void cancelledComputerBrowserEmptiesTheField();
  void openDialogHasTitleAndFilters();

 private:
  std::unique_ptr<TempAppDir> app_;
  std::string dbFile_;
};

void SetupFormTest::init() {
  app_ = std::make_unique<TempAppDir>();
  db::setEmbeddedDataDir(server::appDir() + "data/");
  std::filesystem::create_directories(server::appDir() + "data");
  dbFile_ = app_->path("qz.mdf");
  std::ofstream(dbFile_) << "";
}

void SetupFormTest::cleanup() { app_.reset(); }

void SetupFormTest::noFileGivesEmptyFieldsAndDefaultDatabaseFile() {
  db::Connection conn;
  TsetupForm f(conn);
  QCOMPARE(f.windowTitle(), QStringLiteral("数据库服务器设置"));
  for (QLineEdit* e : {f.Edit1, f.Edit2, f.Edit3, f.Edit4, f.Edit6}) QCOMPARE(e->text(), QString());
  QCOMPARE(f.Edit5->text().toStdString(), admin::DefaultDatabaseFile(server::appDir()));
  QVERIFY(!f.CheckBox1->isChecked());
  QVERIFY(f.Edit2->isEnabled());
  QVERIFY(f.Edit3->isEnabled());
  QVERIFY(f.Edit3->echoMode() == QLineEdit::Normal);  // the password is shown in clear
  QVERIFY(f.BitBtn1->isDefault());
}

void SetupFormTest::sspiWithExistingFileDisablesUserAndPassword() {
  std::ofstream(app_->path("system.ini"), std::ios::binary) << "db1\r\nsa\r\n口令\r\nqz\r\n"
                                                            << dbFile_ << "\r\n前台\r\nSSPI\r\n";
  db::Connection conn;
  TsetupForm f(conn);
  QCOMPARE(f.Edit1->text(), QStringLiteral("db1"));
  QCOMPARE(f.Edit3->text(), QStringLiteral("口令"));
  QCOMPARE(f.Edit5->text().toStdString(), dbFile_);
  QCOMPARE(f.Edit6->text(), QStringLiteral("前台"));
  QVERIFY(f.CheckBox1->isChecked());
  QVERIFY(!f.Edit2->isEnabled());
  QVERIFY(!f.Edit3->isEnabled());
  QCOMPARE(f.Edit2->palette().color(QPalette::Disabled, QPalette::Base),
           f.palette().color(QPalette::Button));
}

void SetupFormTest::sspiRuleIsCaseSensitiveAndNeedsTheFile() {
  std::ofstream(app_->path("system.ini"), std::ios::binary) << "db1\nsa\npw\nqz\n"
                                                            << dbFile_ << "\nfront\nsspi\n";
  {
    db::Connection conn;
    TsetupForm f(conn);
    QVERIFY(!f.CheckBox1->isChecked());
    QVERIFY(f.Edit2->isEnabled());
  }
  std::ofstream(app_->path("system.ini"), std::ios::binary)
      << "db1\nsa\npw\nqz\n/nowhere/qz.mdf\nfront\nSSPI\n";
  {
    db::Connection conn;
    TsetupForm f(conn);
    QVERIFY(!f.CheckBox1->isChecked());
    QVERIFY(f.Edit3->isEnabled());
    QCOMPARE(f.Edit5->text().toStdString(), admin::DefaultDatabaseFile(server::appDir()));
    QCOMPARE(f.Edit2->text(), QStringLiteral("sa"));
  }
}

void SetupFormTest::boxRuleFollowsEveryChange() {
  db::Connection conn;
  TsetupForm f(conn);
  f.CheckBox1->setChecked(true);
  QVERIFY(!f.Edit2->isEnabled());
  QVERIFY(!f.Edit3->isEnabled());
  QCOMPARE(f.Edit3->palette().color(QPalette::Disabled, QPalette::Base),
           f.palette().color(QPalette::Button));
  f.CheckBox1->setChecked(false);
  QVERIFY(f.Edit2->isEnabled());
  QCOMPARE(f.Edit3->palette().color(QPalette::Active, QPalette::Base),
           f.palette().color(QPalette::Base));
  // User and password go into the text even while the box is checked.
  f.Edit2->setText("u");
  f.Edit3->setText("p");
  f.CheckBox1->setChecked(true);
  QCOMPARE(f.settings().user, std::string("u"));
  QVERIFY(f.settings().windowsAuthOnly);
}

void SetupFormTest::testButtonReportsSuccessAndClosesConnection() {
  database::createDatabase("Provider=SQLOLEDB.1;Initial Catalog=qz;Data Source=;", {});
  db::Connection conn;
  TsetupForm f(conn);
  f.Edit4->setText("qz");
  f.show();
  BoxAnswerer ok;
  f.BitBtn3->click();
  QVERIFY(ok.box().seen);
  QCOMPARE(ok.box().text, QStringLiteral("连接成功"));
  QVERIFY(!conn.isOpen());
  QVERIFY(f.isVisible());
  // The connection keeps the dialog's text.
  QVERIFY(conn.connectionString().find("Initial Catalog=qz;") != std::string::npos);
}

void SetupFormTest::testButtonShowsEngineErrorAndStaysOpen() {
  db::Connection conn;
  conn.setConnectionTimeout(3);
  TsetupForm f(conn);
  f.Edit1->setText("127.0.0.1,1");  // nothing listens on port 1
  f.Edit4->setText("qz");
  f.show();
  BoxAnswerer ok;
  f.BitBtn3->click();
  QVERIFY(ok.box().seen);
  QVERIFY(!ok.box().text.isEmpty());
  QVERIFY(ok.box().text != QStringLiteral("连接成功"));
  QVERIFY(!conn.isOpen());
  QVERIFY(f.isVisible());
}

void SetupFormTest::testButtonConnectsToPostgreSql() {
  const QString host = qEnvironmentVariable("QZ_TEST_PG_HOST");
  const QString port = qEnvironmentVariable("QZ_TEST_PG_PORT");
  if (host.isEmpty() || port.isEmpty())
    QSKIP("POSTGRESQL TESTS SKIPPED: QZ_TEST_PG_HOST/QZ_TEST_PG_PORT not set");
  const QString user = qEnvironmentVariable("QZ_TEST_PG_USER", "postgres");
  db::Connection conn;
  TsetupForm f(conn);
  f.Edit1->setText(host + "," + port);
  f.Edit2->setText(user);
  f.Edit4->setText("master");
  f.show();
  {
    BoxAnswerer ok;
    f.BitBtn3->click();
    QCOMPARE(ok.box().text, QStringLiteral("连接成功"));
  }
  QVERIFY(!conn.isOpen());
  // A wrong user name: the server's own refusal, the dialog stays.
  f.Edit2->setText("no_such_role_x");
  BoxAnswerer ok;
  f.BitBtn3->click();
  QVERIFY(ok.box().text.contains("no_such_role_x"));
  QVERIFY(f.isVisible());
}

void SetupFormTest::saveWritesSevenLinesAndKeepsConnectionOpen() {
  database::createDatabase("Provider=SQLOLEDB.1;Initial Catalog=qz;Data Source=;", {});
  db::Connection conn;
  WhenModal<TsetupForm>([](TsetupForm* f) {
    f->Edit1->clear();
    f->Edit2->setText("sa");
    f->Edit3->setText("秘密");
    f->Edit4->setText("qz");
    f->Edit5->setText("");
    f->Edit6->setText("前台");
    f->BitBtn1->click();
  });
  admin::EditServerSettings(nullptr, conn);
  QVERIFY(conn.isOpen());
  const std::string path = app_->path("system.ini");
  QCOMPARE(QString::fromStdString(ReadAll(path)),
           QStringLiteral("\r\nsa\r\n秘密\r\nqz\r\n\r\n前台\r\n\r\n"));
  struct stat st;
  QCOMPARE(::stat(path.c_str(), &st), 0);
  QCOMPARE(int(st.st_mode & 0777), 0600);
}

void SetupFormTest::saveWithWrongSettingsWritesNothing() {
  std::ofstream(app_->path("system.ini"), std::ios::binary) << "old\r\n";
  db::Connection conn;
  conn.setConnectionTimeout(3);
  WhenModal<TsetupForm>([](TsetupForm* f) {
    f->Edit1->setText("127.0.0.1,1");
    f->Edit4->setText("qz");
    f->BitBtn1->click();
  });
  // The error box comes after the dialog has closed.
  bool errorSeen = false, dialogVisibleAtError = true;
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    errorSeen = true;
    dialogVisibleAtError = false;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (qobject_cast<TsetupForm*>(w) && w->isVisible()) dialogVisibleAtError = true;
    probe.stop();
    box->button(QMessageBox::Ok)->click();
  });
  probe.start(2);
  admin::EditServerSettings(nullptr, conn);
  QVERIFY(errorSeen);
  QVERIFY(!dialogVisibleAtError);
  QVERIFY(!conn.isOpen());
  QCOMPARE(QString::fromStdString(ReadAll(app_->path("system.ini"))), QStringLiteral("old\r\n"));
}

void SetupFormTest::cancelWritesNothing() {
  db::Connection conn;
  WhenModal<TsetupForm>([](TsetupForm* f) {
    f->Edit1->setText("changed");
    f->BitBtn2->click();
  });
  admin::EditServerSettings(nullptr, conn);
  QVERIFY(!std::filesystem::exists(app_->path("system.ini")));
  QVERIFY(!conn.isOpen());
}

void SetupFormTest::browseResultGoesIntoTheClickedField() {
  db::Connection conn;
  TsetupForm f(conn);
  f.show();
  f.browseForComputer = [](QWidget*) { return std::string("kitchen"); };
  DoubleClick(f.Edit6);
  QCOMPARE(f.Edit6->text(), QStringLiteral("kitchen"));
  QCOMPARE(f.Edit1->text(), QString());
  f.openDatabaseFile = [](QWidget*, QString* name) {
    *name = QStringLiteral("/srv/qz.mdf");
    return true;
  };
  DoubleClick(f.Edit5);
  QCOMPARE(f.Edit5->text(), QStringLiteral("/srv/qz.mdf"));
  f.openDatabaseFile = [](QWidget*, QString*) { return false; };
  DoubleClick(f.Edit5);
  QCOMPARE(f.Edit5->text(), QStringLiteral("/srv/qz.mdf"));  // cancel leaves it
}

void SetupFormTest::cancelledComputerBrowserEmptiesTheField() {
  db::Connection conn;
  TsetupForm f(conn);
  f.show();
  f.Edit1->setText("old-server");
  QString title;
  WhenModal<admin::TComputerBrowser>([&](admin::TComputerBrowser* b) {
    title = b->windowTitle();
    QCOMPARE(b->windowModality(), Qt::ApplicationModal);
    b->CancelButton->click();
  });
  DoubleClick(f.Edit1);
  QCOMPARE(title, QStringLiteral("选择机器名"));
  QCOMPARE(f.Edit1->text(), QString());
  // Choosing a name puts it in.
  WhenModal<admin::TComputerBrowser>([&](admin::TComputerBrowser* b) {
    b->List->addItem(QStringLiteral("frontdesk"));
    b->List->setCurrentRow(b->List->count() - 1);
    b->OkButton->click();
  });
  DoubleClick(f.Edit1);
  QCOMPARE(f.Edit1->text(), QStringLiteral("frontdesk"));
}

void SetupFormTest::openDialogHasTitleAndFilters() {
  QString title;
  QStringList filters;
  QFileDialog::FileMode mode = QFileDialog::AnyFile;
  WhenModal<QFileDialog>([&](QFileDialog* d) {
    title = d->windowTitle();
    filters = d->nameFilters();
    mode = d->fileMode();
    d->reject();
  });
  QString name = QStringLiteral("unchanged");
  QVERIFY(!admin::RunOpenDialog1(nullptr, &name));
  QCOMPARE(name, QStringLiteral("unchanged"));
  QCOMPARE(title, QStringLiteral("选择数据库文件名"));
  QCOMPARE(filters.size(), 2);
  QVERIFY(filters[0].startsWith(QStringLiteral("Microsoft SQL Server 数据库")));
  QVERIFY(filters[1].startsWith(QStringLiteral("所有文件")));
  QCOMPARE(mode, QFileDialog::ExistingFile);
}

QTEST_MAIN(SetupFormTest)
#include "tst_setup_form.moc"
