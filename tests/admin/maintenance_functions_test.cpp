// The backup, restore and clean-up flows on a real embedded database, with
// a scripted operator in place of the dialogs: what is proposed, what is
// asked, what is shown, what reaches the database, and what Cancel and No
// leave alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "admin/maintenance_functions.h"
#include "database/maintenance_procedures.h"
#include "database/schema.h"
#include "platform/db/backup_media.h"
#include "tests/server/temp_dir.h"

namespace qz::admin {
namespace {

// The operator: answers as scripted and records everything it was asked.
class ScriptedUi : public MaintenanceUi {
 public:
  bool askBackup(BackupChoices& c) override {
    proposed = c;
    log += "backup;";
    if (!ok) return false;
    if (edit) edit(c);
    return true;
  }
  bool askRestore(std::string& file) override {
    proposedFile = file;
    log += "restore;";
    if (!ok) return false;
    if (!restoreFile.empty()) file = restoreFile;
    return true;
  }
  bool selectDateRange(Day& f, Day& t) override {
    proposedFrom = f;
    proposedTo = t;
    log += "dates;";
    if (!ok) return false;
    if (from) f = *from;
    if (to) t = *to;
    return true;
  }
  bool confirm(const std::string& caption, const std::string& text) override {
    log += "confirm[" + caption + "|" + text + "];";
    return yes;
  }
  void message(const std::string& caption, const std::string& text) override {
    log += "message[" + caption + "];";
    shownCaption = caption;
    shown = text;
  }
  void showWait(const std::string& text) override {
    log += "wait[" + text + "];";
    if (onWait) onWait();
  }
  void closeWait() override { log += "closewait;"; }

  bool ok = true;
  bool yes = true;
  std::function<void(BackupChoices&)> edit;
  std::function<void()> onWait;
  std::string restoreFile;
  std::optional<Day> from, to;
  BackupChoices proposed;
  std::string proposedFile;
  Day proposedFrom{}, proposedTo{};
  std::string log, shown, shownCaption;
};

Day day(const char* text) {
  Day d{};
  EXPECT_TRUE(parseDayText(text, &d)) << text;
  return d;
}

class MaintenanceFunctionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    database::registerEmbeddedMaintenanceProcedures();
    previousDataDir_ = db::embeddedDataDir();
    db::setEmbeddedDataDir(dir_.file("data/"));
    db::Connection master;
    master.setConnectionString(text("master"));
    master.execute("CREATE DATABASE qz");
    conn_.setConnectionString(text("qz"));
    database::installSchema(conn_);
    conn_.execute("INSERT INTO bills (num, roomid, ndate) VALUES (1, '101', '2026-01-05 09:00:00')");
    settings_.connectionText = [this] { return text(dbName_); };
    settings_.databaseName = [this] { return dbName_; };
    settings_.proposedBackupFolder = dir_.file("data/");
    settings_.today = [] { return day("2026-03-01"); };
    ADOQuery1_.setCommandTimeout(3000);
    ADOC1_.setConnectionString(text("qz"));  // as the main window does at start
  }
  void TearDown() override { db::setEmbeddedDataDir(previousDataDir_); }

  std::string text(const std::string& catalog) const {
    return "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;Password=;"
           "Initial Catalog=" + catalog + ";Data Source=;Use Procedure for Prepare=1;"
           "Workstation ID=T1;Initial File Name=;Use Encryption for Data=False";
  }
  MaintenanceFunctions functions() {
    return MaintenanceFunctions(ADOC1_, ADOQuery1_, sysInfo_, settings_, ui_);
  }
  std::string bills() {
    conn_.close();
    std::string out;
    auto c = conn_.query("select num from bills order by num");
    while (c->next()) out += (out.empty() ? "" : ",") + c->row()[0].toText();
    conn_.close();
    return out;
  }

  qz::testing::TempDir dir_;
  std::string previousDataDir_;
  std::string dbName_ = "qz";
  db::Connection conn_;  // the test's own view of the database
  db::Connection ADOC1_;
  db::Query ADOQuery1_{&ADOC1_};
  server::SysInfoIni sysInfo_{dir_.file("sysinfo.ini")};
  MaintenanceSettings settings_;
  ScriptedUi ui_;
};

TEST_F(MaintenanceFunctionsTest, BackupWithoutDiskDeviceProposesDefaultsAndShowsTheAnswer) {
  conn_.execute("exec sp_addumpdevice 'tape', 'tape0', '/dev/st0'");  // not a disk
  auto f = functions();
  const Outcome out = f.BackupDatabase();
  EXPECT_EQ(ui_.proposed.deviceName, "qz_backup");
  EXPECT_EQ(ui_.proposed.path, dir_.file("data/qz_backup.dat"));
  EXPECT_EQ(ui_.proposed.kind, 0);
  EXPECT_EQ(ui_.proposed.media, 0);
  EXPECT_EQ(ui_.proposed.password, "");
  EXPECT_EQ(out.status, Outcome::Done);
  EXPECT_NE(out.answer.find("已完全备份"), std::string::npos) << out.answer;
  EXPECT_EQ(ui_.shown, out.answer);
  EXPECT_EQ(ui_.shownCaption, "");  // the application title
  EXPECT_EQ(db::media::readSets(dir_.file("data/qz_backup.dat")).size(), 1u);
  EXPECT_TRUE(ADOC1_.isOpen());  // left open for the next function
}

TEST_F(MaintenanceFunctionsTest, SeveralDiskDevicesProposeTheFirst) {
  conn_.execute("exec sp_addumpdevice 'disk', 'nightly', '" + dir_.file("nightly.dat") + "'");
  conn_.execute("exec sp_addumpdevice 'disk', 'weekly', '" + dir_.file("weekly.dat") + "'");
  auto f = functions();
  f.BackupDatabase();
  EXPECT_EQ(ui_.proposed.deviceName, "nightly");
  EXPECT_EQ(ui_.proposed.path, dir_.file("nightly.dat"));
  EXPECT_TRUE(std::filesystem::exists(dir_.file("nightly.dat")));
  ui_.ok = false;
  ADOC1_.close();
  f.RestoreDatabase();
  EXPECT_EQ(ui_.proposedFile, dir_.file("nightly.dat"));
}

TEST_F(MaintenanceFunctionsTest, CancelledBackupAndRestoreSendNothing) {
  ui_.ok = false;
  auto f = functions();
  EXPECT_EQ(f.BackupDatabase().status, Outcome::Cancelled);
  EXPECT_FALSE(std::filesystem::exists(dir_.file("data/qz_backup.dat")));
  EXPECT_EQ(f.RestoreDatabase().status, Outcome::Cancelled);
  EXPECT_EQ(ui_.log, "backup;restore;");
  // The connection does not stay on master after the cancelled restore.
  EXPECT_FALSE(ADOC1_.isOpen());
  EXPECT_EQ(ADOC1_.connectionString(), text("qz"));
  EXPECT_EQ(bills(), "1");
}

TEST_F(MaintenanceFunctionsTest, RestoreTakesTheDatabaseBackAndLeavesTheNormalConnectionText) {
  ui_.edit = [this](BackupChoices& c) {
    c.path = dir_.file("it's mine.dat");  // a quote in the path
    c.password = "o'k";
  };
  auto f = functions();
  f.BackupDatabase();
  conn_.execute("INSERT INTO bills (num, roomid, ndate) VALUES (2, '102', '2026-01-06')");
  conn_.close();
  ui_.restoreFile = dir_.file("it's mine.dat");
  // The window's statement carries no password: the protected set is refused.
  EXPECT_THROW(f.RestoreDatabase(), db::DbError);
  EXPECT_FALSE(ADOC1_.isOpen());
  EXPECT_EQ(ADOC1_.connectionString(), text("qz"));
  EXPECT_EQ(bills(), "1,2");
  // With the password (the command line's way) it goes through.
  EXPECT_EQ(f.RestoreDatabase("o'k").status, Outcome::Done);
  EXPECT_EQ(bills(), "1");
  EXPECT_EQ(ADOC1_.connectionString(), text("qz"));
  // The next function finds the application database.
  ui_.edit = nullptr;
  f.BackupDatabase();
  EXPECT_NE(ui_.shown.find("数据库 qz"), std::string::npos) << ui_.shown;
}

TEST_F(MaintenanceFunctionsTest, RestoreRefusedWhileAClientHoldsTheDatabaseChangesNothing) {
  auto f = functions();
  f.BackupDatabase();
  conn_.execute("INSERT INTO bills (num, roomid, ndate) VALUES (2, '102', '2026-01-06')");
  db::Connection module;  // a client's module instance
  module.setConnectionString(text("qz"));
  module.open();
  ui_.restoreFile = dir_.file("data/qz_backup.dat");
  try {
    f.RestoreDatabase();
    FAIL() << "restore went through while the database was in use";
  } catch (const db::DbError& e) {
    EXPECT_NE(std::string(e.what()).find("Exclusive access"), std::string::npos) << e.what();
  }
  EXPECT_EQ(bills(), "1,2");
  module.close();
  f.RestoreDatabase();
  EXPECT_EQ(bills(), "1");
}

TEST_F(MaintenanceFunctionsTest, RoomCleanUpProposesTheRangeAsksAndReportsUnderItsCaption) {
  conn_.execute("INSERT INTO bills (num, roomid, ndate) VALUES (2, '102', '2026-01-10 23:00:00'), "
                "(3, '103', '2026-01-11 00:00:00')");
  sysInfo_.writeInteger("BackUp", "BeforeDays", 30);
  ui_.from = day("2026-01-05");
  ui_.to = day("2026-01-10");
  bool sentBeforeWait = false;
  ui_.onWait = [&] { sentBeforeWait = bills() != "1,2,3"; };
  auto f = functions();
  const Outcome out = f.N9Click();
  EXPECT_FALSE(sentBeforeWait);
  EXPECT_EQ(dayText(ui_.proposedFrom), "2025-03-06");  // today - 360
  EXPECT_EQ(dayText(ui_.proposedTo), "2026-01-30");    // today - BeforeDays
  EXPECT_EQ(ui_.log,
            "dates;confirm[确定删除数据|是否确定删除2026-01-05至2026-01-10的客房结算数据吗？];"
            "wait[正在删除数据...];closewait;message[数据已成功删除!];");
  EXPECT_EQ(out.status, Outcome::Done);
  EXPECT_NE(out.answer.find("账单 2 张"), std::string::npos) << out.answer;
  EXPECT_EQ(ui_.shown, out.answer);
  EXPECT_EQ(bills(), "3");
  // BackupFileName's default, in the data folder; the archive is Database's default.
  EXPECT_EQ(db::media::readSets(dir_.file("data/qz1")).size(), 1u);
  EXPECT_TRUE(std::filesystem::exists(dir_.file("data/qz1.db")));
}

TEST_F(MaintenanceFunctionsTest, DefaultRangeWithoutBeforeDaysAndWithMoreThan360Days) {
  ui_.ok = false;
  auto f = functions();
  f.N14Click();
  EXPECT_EQ(dayText(ui_.proposedFrom), "2025-03-06");
  EXPECT_EQ(dayText(ui_.proposedTo), "2025-12-31");  // 60 days
  sysInfo_.writeString("BackUp", "BeforeDays", "400");
  f.N14Click();
  EXPECT_EQ(dayText(ui_.proposedTo), "2025-01-25");  // after the start: accepted as is
}

TEST_F(MaintenanceFunctionsTest, CancelOrNoInTheCleanUpsSendsNothing) {
  auto f = functions();
  ui_.ok = false;
  EXPECT_EQ(f.N9Click().status, Outcome::Cancelled);
  ui_.ok = true;
  ui_.yes = false;
  ui_.from = day("2026-01-01");
  EXPECT_EQ(f.N9Click().status, Outcome::Cancelled);
  EXPECT_EQ(f.N14Click().status, Outcome::Cancelled);
  EXPECT_EQ(f.N18Click().status, Outcome::Cancelled);
  EXPECT_EQ(ui_.log.find("wait"), std::string::npos) << ui_.log;
  EXPECT_EQ(ui_.log.find("message"), std::string::npos) << ui_.log;
  EXPECT_EQ(bills(), "1");
  EXPECT_FALSE(std::filesystem::exists(dir_.file("data/qz1")));
}

TEST_F(MaintenanceFunctionsTest, CleanUpErrorIsTheAnswerUnderTheSuccessCaption) {
  dbName_ = "nosuchdb";
  ui_.from = day("2026-01-01");
  auto f = functions();
  const Outcome out = f.N14Click();
  EXPECT_EQ(out.status, Outcome::Failed);
  EXPECT_NE(out.answer.find("nosuchdb"), std::string::npos) << out.answer;
  EXPECT_EQ(ui_.shownCaption, "数据已成功删除!");
  EXPECT_EQ(ui_.shown, out.answer);
  EXPECT_NE(ui_.log.find("closewait;message"), std::string::npos) << ui_.log;
}

TEST_F(MaintenanceFunctionsTest, EmptyDatabaseAsksDeletesAndReports) {
  auto f = functions();
  const Outcome out = f.N18Click();
  EXPECT_EQ(ui_.log,
            "confirm[系统提示|您是否确定把该系统内的数据全部删除?];wait[正在删除数据...];"
            "closewait;message[系统提示];");
  EXPECT_EQ(ui_.shown, "数据已成功删除!");
  EXPECT_EQ(out.status, Outcome::Done);
  EXPECT_EQ(bills(), "");
}

TEST_F(MaintenanceFunctionsTest, EmptyDatabaseErrorPropagatesWithTheWaitWindowClosed) {
  // The connection on master (as the old restore left it): no tables there.
  ADOC1_.setConnectionString(text("master"));
  auto f = functions();
  EXPECT_THROW(f.N18Click(), db::DbError);
  EXPECT_EQ(ui_.log,
            "confirm[系统提示|您是否确定把该系统内的数据全部删除?];wait[正在删除数据...];"
            "closewait;");
  EXPECT_EQ(bills(), "1");
}

}  // namespace
}  // namespace qz::admin
