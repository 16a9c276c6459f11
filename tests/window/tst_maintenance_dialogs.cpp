// The backup, restore and date-range dialogs, and the window's maintenance
// functions driven through them against a real embedded database: captions,
// size rules, the OK checks, what the boxes show, and Cancel.
#include <QCheckBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "admin/dialogs/app_title.h"
#include "admin/dialogs/backup_form.h"
#include "admin/dialogs/express_form.h"
#include "admin/dialogs/file_open_edit.h"
#include "admin/dialogs/select_date_form.h"
#include "admin/maintenance_functions.h"
#include "database/maintenance_procedures.h"
#include "database/schema.h"
#include "platform/db/backup_media.h"
#include "server/window/maintenance_window.h"
#include "tests/window/window_test_support.h"

using namespace qz;
using qz::testing::TempAppDir;
using qz::testing::WhenModal;

namespace {

// Answers every message box: Yes when it has one (or No when told), else
// its first button; records titles and texts in order.
class Boxes : public QObject {
 public:
  explicit Boxes(bool yes = true) : yes_(yes) {
    connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
    timer_.start(5);
  }
  QStringList seen;

 private:
  void Poll() {
    auto* mb = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (mb == nullptr || !mb->isVisible()) return;
    seen << mb->windowTitle() + "|" + mb->text();
    QAbstractButton* b = mb->button(yes_ ? QMessageBox::Yes : QMessageBox::No);
    if (!b) b = mb->buttons().value(0);
    if (b) b->click();
  }
  bool yes_;
  QTimer timer_;
};

std::string Text(const std::string& catalog) {
  return "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;Password=;Initial Catalog=" +
         catalog +
         ";Data Source=;Workstation ID=T;Initial File Name=;Use Encryption for Data=False";
}

}  // namespace

class MaintenanceDialogsTest : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void cleanup();
  void backupFormShowsItsFieldsAndIgnoresOkWhileNameOrPathIsEmpty();
  void restoreFormIgnoresOkWithoutSourceFile();
  void selectDateRangeWritesBackOnOkOnly();
  void exportFormTogglesThePeriodAndWritesBackOnOkOnly();
  void twoDigitYearsFallFrom1950();
  void backupThroughTheDialogShowsTheAnswerUnderTheApplicationTitle();
  void roomCleanUpAsksConfirmsAndShowsTheAnswer();
  void noInTheConfirmationSendsNothing();

 private:
  std::unique_ptr<TempAppDir> app_;
  std::unique_ptr<db::Connection> ADOC1_;
  std::unique_ptr<db::Query> ADOQuery1_;
  std::unique_ptr<server::SysInfoIni> ini_;
  admin::MaintenanceSettings settings_;
};

void MaintenanceDialogsTest::init() {
  app_ = std::make_unique<TempAppDir>();
  database::registerEmbeddedMaintenanceProcedures();
  db::setEmbeddedDataDir(server::appDir() + "data/");
  db::Connection master;
  master.setConnectionString(Text("master"));
  master.execute("CREATE DATABASE qz");
  db::Connection c;
  c.setConnectionString(Text("qz"));
  database::installSchema(c);
  c.execute(
      "INSERT INTO bills (num, roomid, ndate) VALUES (1, '101', '2026-01-05'), "
      "(2, '102', '2026-02-05')");
  ADOC1_ = std::make_unique<db::Connection>();
  ADOC1_->setConnectionString(Text("qz"));
  ADOQuery1_ = std::make_unique<db::Query>(ADOC1_.get());
  ini_ = std::make_unique<server::SysInfoIni>(app_->path("sysinfo.ini"));
  settings_.connectionText = [] { return Text("qz"); };
  settings_.databaseName = [] { return std::string("qz"); };
  settings_.proposedBackupFolder = server::appDir() + "data/";
  settings_.today = [] {
    admin::Day d{};
    admin::parseDayText("2026-03-01", &d);
    return d;
  };
}

void MaintenanceDialogsTest::cleanup() {
  ADOQuery1_.reset();
  ADOC1_.reset();
  app_.reset();
}

void MaintenanceDialogsTest::backupFormShowsItsFieldsAndIgnoresOkWhileNameOrPathIsEmpty() {
  admin::TBackUpForm form(nullptr);
  QCOMPARE(form.windowTitle(), QStringLiteral("备份数据库"));
  QCOMPARE(form.MaskEdit1->echoMode(), QLineEdit::Password);
  form.setChoices({"", "/tmp/x.dat", "", 0, 0});
  form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&form));
  // FormShow's size rule.
  auto* panel = form.findChild<QFrame*>();
  QCOMPARE(form.width(), 2 * panel->x() + panel->width() + 5);
  QCOMPARE(form.height(), panel->y() + form.BitBtn1->y() + form.BitBtn1->height() + 36);
  form.BitBtn1->click();
  QVERIFY(form.isVisible());
  QCOMPARE(form.result(), int(QDialog::Rejected));
  form.Edit1->setText(QStringLiteral("dev"));
  form.LMDFileOpenEdit1->setText(QString());
  form.BitBtn1->click();
  QVERIFY(form.isVisible());
  form.LMDFileOpenEdit1->setText(QStringLiteral("/tmp/o'k.dat"));
  form.findChild<QRadioButton*>(QStringLiteral("RadioGroup11"))->setChecked(true);
  form.findChild<QRadioButton*>(QStringLiteral("RadioGroup21"))->setChecked(true);
  form.MaskEdit1->setText(QStringLiteral("pw"));
  form.BitBtn1->click();
  QCOMPARE(form.result(), int(QDialog::Accepted));
  const admin::BackupChoices c = form.choices();
  QCOMPARE(QString::fromStdString(c.deviceName), QStringLiteral("dev"));
  QCOMPARE(QString::fromStdString(c.path), QStringLiteral("/tmp/o'k.dat"));
  QCOMPARE(QString::fromStdString(c.password), QStringLiteral("pw"));
  QCOMPARE(c.kind, 1);
  QCOMPARE(c.media, 1);
}

void MaintenanceDialogsTest::restoreFormIgnoresOkWithoutSourceFile() {
  admin::TrestoreForm form(nullptr);
  QCOMPARE(form.windowTitle(), QStringLiteral("restoreForm"));
  form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&form));
  form.BitBtn1->click();
  QVERIFY(form.isVisible());
  form.LMDFileOpenEdit1->setText(QStringLiteral("/tmp/qz_backup.dat"));
  form.BitBtn1->click();
  QCOMPARE(form.result(), int(QDialog::Accepted));
}

void MaintenanceDialogsTest::selectDateRangeWritesBackOnOkOnly() {
  admin::Day from{}, to{};
  admin::parseDayText("2025-03-06", &from);
  admin::parseDayText("2025-12-31", &to);
  WhenModal<admin::TselectdateForm>([](admin::TselectdateForm* f) {
    QCOMPARE(f->windowTitle(), QStringLiteral("选择日期范围..."));
    QCOMPARE(f->wwDBDateTimePicker1->date(), QDate(2025, 3, 6));
    QCOMPARE(f->width(), 2 * f->Panel1->x() + f->Panel1->width() + 6);
    f->wwDBDateTimePicker2->setDate(QDate(2026, 1, 31));
    f->BitBtn2->click();
  });
  QVERIFY(!admin::SelectDateRange(nullptr, from, to));
  QCOMPARE(QString::fromStdString(admin::dayText(to)), QStringLiteral("2025-12-31"));
  WhenModal<admin::TselectdateForm>([](admin::TselectdateForm* f) {
    f->wwDBDateTimePicker1->setDate(QDate(2026, 2, 1));  // after the end: not compared
    f->wwDBDateTimePicker2->setDate(QDate(2026, 1, 31));
    f->BitBtn1->click();
  });
  QVERIFY(admin::SelectDateRange(nullptr, from, to));
  QCOMPARE(QString::fromStdString(admin::dayText(from)), QStringLiteral("2026-02-01"));
  QCOMPARE(QString::fromStdString(admin::dayText(to)), QStringLiteral("2026-01-31"));
}

void MaintenanceDialogsTest::exportFormTogglesThePeriodAndWritesBackOnOkOnly() {
  admin::ExportChoices c;
  WhenModal<admin::TexpressForm>([](admin::TexpressForm* f) {
    QCOMPARE(f->windowTitle(), QStringLiteral("数据导入/导出"));
    QCOMPARE(f->LMDFileSaveEdit1->text(), QStringLiteral("d:\\qz.mdb"));
    QCOMPARE(f->DateTimePicker1->date(), QDate(2002, 12, 21));
    QVERIFY(f->DateTimePicker1->isEnabled());
    f->CheckBox1->click();
    QVERIFY(!f->DateTimePicker1->isEnabled() && !f->DateTimePicker2->isEnabled());
    f->LMDFileSaveEdit1->setText(QStringLiteral("/tmp/x.mdb"));
    f->BitBtn2->click();
  });
  QVERIFY(!admin::AskExport(nullptr, c));
  QCOMPARE(QString::fromStdString(c.file), QStringLiteral("d:\\qz.mdb"));
  WhenModal<admin::TexpressForm>([](admin::TexpressForm* f) {
    f->CheckBox1->click();
    f->CheckBox1->click();
    QVERIFY(f->DateTimePicker2->isEnabled());
    f->DateTimePicker2->setDate(QDate(2003, 1, 31));
    f->LMDFileSaveEdit1->setText(QStringLiteral("/tmp/x.mdb"));
    f->BitBtn1->click();
  });
  QVERIFY(admin::AskExport(nullptr, c));
  QCOMPARE(QString::fromStdString(c.file), QStringLiteral("/tmp/x.mdb"));
  QVERIFY(!c.all);
  QCOMPARE(QString::fromStdString(admin::dayText(c.to)), QStringLiteral("2003-01-31"));
}

void MaintenanceDialogsTest::twoDigitYearsFallFrom1950() {
  admin::TselectdateForm form(nullptr);
  form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&form));
  auto* edit = form.wwDBDateTimePicker1->findChild<QLineEdit*>();
  QVERIFY(edit != nullptr);
  for (auto [typed, year] :
       {std::pair{"49", 2049}, std::pair{"50", 1950}, std::pair{"2026", 2026}}) {
    form.wwDBDateTimePicker1->setDate(QDate(2000, 1, 2));
    form.wwDBDateTimePicker1->setFocus();
    form.wwDBDateTimePicker1->setSelectedSection(QDateTimeEdit::YearSection);
    QTest::keyClicks(edit, QString::fromLatin1(typed));
    // What leaving the field (or Enter) does with the typed text.
    form.wwDBDateTimePicker1->interpretText();
    QCOMPARE(form.wwDBDateTimePicker1->date(), QDate(year, 1, 2));
  }
}

void MaintenanceDialogsTest::backupThroughTheDialogShowsTheAnswerUnderTheApplicationTitle() {
  server::WindowMaintenanceUi ui(nullptr);
  admin::MaintenanceFunctions f(*ADOC1_, *ADOQuery1_, *ini_, settings_, ui);
  QString proposedName, proposedPath;
  WhenModal<admin::TBackUpForm>([&](admin::TBackUpForm* form) {
    proposedName = form->Edit1->text();
    proposedPath = form->LMDFileOpenEdit1->text();
    form->BitBtn1->click();
  });
  Boxes boxes;
  f.BackupDatabase();
  QCOMPARE(proposedName, QStringLiteral("qz_backup"));
  QCOMPARE(proposedPath, QString::fromStdString(server::appDir() + "data/qz_backup.dat"));
  QCOMPARE(boxes.seen.size(), 1);
  QVERIFY2(boxes.seen[0].startsWith(admin::ApplicationTitle() + "|数据库 qz 已完全备份"),
           qPrintable(boxes.seen[0]));
  QCOMPARE(db::media::readSets(server::appDir() + "data/qz_backup.dat").size(), size_t(1));
}

void MaintenanceDialogsTest::roomCleanUpAsksConfirmsAndShowsTheAnswer() {
  server::WindowMaintenanceUi ui(nullptr);
  admin::MaintenanceFunctions f(*ADOC1_, *ADOQuery1_, *ini_, settings_, ui);
  WhenModal<admin::TselectdateForm>([](admin::TselectdateForm* form) {
    form->wwDBDateTimePicker1->setDate(QDate(2026, 1, 1));
    form->wwDBDateTimePicker2->setDate(QDate(2026, 1, 31));
    form->BitBtn1->click();
  });
  Boxes boxes;
  const admin::Outcome out = f.N9Click();
  QCOMPARE(boxes.seen.size(), 2);
  QCOMPARE(boxes.seen[0],
           QStringLiteral("确定删除数据|是否确定删除2026-01-01至2026-01-31的客房结算数据吗？"));
  QVERIFY2(
      boxes.seen[1].startsWith(QStringLiteral("数据已成功删除!|已将 2026-01-01 至 2026-01-31")),
      qPrintable(boxes.seen[1]));
  QCOMPARE(int(out.status), int(admin::Outcome::Done));
  // The wait window is gone.
  for (QWidget* w : QApplication::topLevelWidgets())
    QVERIFY(!(w->inherits("qz::server::TMsgHintForm") && w->isVisible()));
  auto rows = ADOC1_->query("select count(*) from bills");
  QVERIFY(rows->next());
  QCOMPARE(rows->row()[0].toText(), std::string("1"));
}

void MaintenanceDialogsTest::noInTheConfirmationSendsNothing() {
  server::WindowMaintenanceUi ui(nullptr);
  admin::MaintenanceFunctions f(*ADOC1_, *ADOQuery1_, *ini_, settings_, ui);
  WhenModal<admin::TselectdateForm>([](admin::TselectdateForm* form) { form->BitBtn1->click(); });
  Boxes boxes(false);
  QCOMPARE(int(f.N14Click().status), int(admin::Outcome::Cancelled));
  QCOMPARE(int(f.N18Click().status), int(admin::Outcome::Cancelled));
  QCOMPARE(boxes.seen.size(), 2);
  QCOMPARE(boxes.seen[1], QStringLiteral("系统提示|您是否确定把该系统内的数据全部删除?"));
  auto rows = ADOC1_->query("select count(*) from bills");
  QVERIFY(rows->next());
  QCOMPARE(rows->row()[0].toText(), std::string("2"));
}

QTEST_MAIN(MaintenanceDialogsTest)
#include "tst_maintenance_dialogs.moc"
