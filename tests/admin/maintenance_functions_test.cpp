// The backup, restore and clean-up flows on a real embedded database, with
// a scripted operator in place of the dialogs: what is proposed, what is
// asked, what is shown, what reaches the database, and what Cancel and No
// leave alone.
#include "admin/maintenance_functions.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

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

enum class Engine { Embedded, PostgreSQL };

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

class MaintenanceFunctionsTest : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    database::registerEmbeddedMaintenanceProcedures();
    previousDataDir_ = db::embeddedDataDir();
    db::setEmbeddedDataDir(dir_.file("data/"));
    std::filesystem::create_directories(dir_.file("data"));
    // The database server writes the media: folders open to it.
    ::chmod(dir_.path().c_str(), 0777);
    ::chmod(dir_.file("data").c_str(), 0777);
    if (pg()) {
      if (env("QZ_TEST_PG_HOST").empty() || env("QZ_TEST_PG_PORT").empty())
        GTEST_SKIP() << "POSTGRESQL TESTS SKIPPED: QZ_TEST_PG_HOST/QZ_TEST_PG_PORT not set";
      source_ = env("QZ_TEST_PG_HOST") + "," + env("QZ_TEST_PG_PORT");
      user_ = env("QZ_TEST_PG_USER").empty() ? "postgres" : env("QZ_TEST_PG_USER");
      dbName_ = "qzmaint_" + std::to_string(::getpid()) + "_" + std::to_string(++counter_);
    }
    db::Connection master;
    master.setConnectionString(text("master"));
    master.execute("CREATE DATABASE " + dbName_);
    created_ = true;
    conn_.setConnectionString(text(dbName_));
    database::installSchema(conn_);
    conn_.execute(
        "INSERT INTO bills (num, roomid, ndate) VALUES (1, '101', '2026-01-05 09:00:00')");
    conn_.close();
    settings_.connectionText = [this] { return text(dbName_); };
    settings_.databaseName = [this] { return dbName_; };
    settings_.proposedBackupFolder = dir_.file("data/");
    settings_.today = [] { return day("2026-03-01"); };
    ADOQuery1_.setCommandTimeout(3000);
    ADOC1_.setConnectionString(text(dbName_));  // as the main window does at start
  }
  void TearDown() override {
    ADOC1_.close();
    conn_.close();
    if (pg() && created_) {
      try {
        db::Connection master;
        master.setConnectionString(text("master"));
        master.execute("DROP DATABASE IF EXISTS " + createdName() + " WITH (FORCE)");
      } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
      }
    }
    db::setEmbeddedDataDir(previousDataDir_);
  }

  bool pg() const { return GetParam() == Engine::PostgreSQL; }
  std::string createdName() const {
    return pg() ? "qzmaint_" + std::to_string(::getpid()) + "_" + std::to_string(counter_) : "qz";
  }
  std::string text(const std::string& catalog) const {
    return "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=" + user_ +
           ";Password=;"
           "Initial Catalog=" +
           catalog + ";Data Source=" + source_ +
           ";Use Procedure for Prepare=1;"
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
    c.reset();
    conn_.close();
    return out;
  }
  void addDevice(const std::string& type, const std::string& name, const std::string& file) {
    conn_.execute("exec sp_addumpdevice '" + type + "', '" + name + "', '" + file + "'");
    conn_.close();
  }

  static inline int counter_ = 0;
  qz::testing::TempDir dir_;
  std::string previousDataDir_;
  std::string source_;
  std::string user_ = "sa";
  std::string dbName_ = "qz";
  bool created_ = false;
  db::Connection conn_;  // the test's own view of the database
  db::Connection ADOC1_;
  db::Query ADOQuery1_{&ADOC1_};
  server::SysInfoIni sysInfo_{dir_.file("sysinfo.ini")};
  MaintenanceSettings settings_;
  ScriptedUi ui_;
};

TEST_P(MaintenanceFunctionsTest, BackupWithoutDiskDeviceProposesDefaultsAndShowsTheAnswer) {
  if (!pg()) addDevice("tape", "tape0", "/dev/st0");  // not a disk
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
  if (pg())
    EXPECT_TRUE(std::filesystem::exists(dir_.file("data/qz_backup.dat")));
  else
    EXPECT_EQ(db::media::readSets(dir_.file("data/qz_backup.dat")).size(), 1u);
  EXPECT_TRUE(ADOC1_.isOpen());  // left open for the next function
}

TEST_P(MaintenanceFunctionsTest, SeveralDiskDevicesProposeTheFirst) {
  addDevice("disk", "nightly", dir_.file("nightly.dat"));
  addDevice("disk", "weekly", dir_.file("weekly.dat"));
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

TEST_P(MaintenanceFunctionsTest, CancelledBackupAndRestoreSendNothing) {
  ui_.ok = false;
  auto f = functions();
  EXPECT_EQ(f.BackupDatabase().status, Outcome::Cancelled);
  EXPECT_FALSE(std::filesystem::exists(dir_.file("data/qz_backup.dat")));
  EXPECT_EQ(f.RestoreDatabase().status, Outcome::Cancelled);
  EXPECT_EQ(ui_.log, "backup;restore;");
  // The connection does not stay on master after the cancelled restore.
  EXPECT_FALSE(ADOC1_.isOpen());
  EXPECT_EQ(ADOC1_.connectionString(), text(dbName_));
  EXPECT_EQ(bills(), "1");
}

TEST_P(MaintenanceFunctionsTest, RestoreTakesTheDatabaseBackAndLeavesTheNormalConnectionText) {
  ui_.edit = [this](BackupChoices& c) {
    c.path = dir_.file("it's mine.dat");  // a quote in the path
    if (!pg()) c.password = "o'k";        // PostgreSQL writes no protected sets
  };
  auto f = functions();
  f.BackupDatabase();
  conn_.execute("INSERT INTO bills (num, roomid, ndate) VALUES (2, '102', '2026-01-06')");
  conn_.close();
  ui_.restoreFile = dir_.file("it's mine.dat");
  if (pg()) {
    EXPECT_EQ(f.RestoreDatabase().status, Outcome::Done);
    EXPECT_EQ(bills(), "1");
    EXPECT_FALSE(ADOC1_.isOpen());
    EXPECT_EQ(ADOC1_.connectionString(), text(dbName_));
    return;
  }
  // The window's statement carries no password: the protected set is refused.
  EXPECT_THROW(f.RestoreDatabase(), db::DbError);
  EXPECT_FALSE(ADOC1_.isOpen());
  EXPECT_EQ(ADOC1_.connectionString(), text(dbName_));
  EXPECT_EQ(bills(), "1,2");
  // With the password (the command line's way) it goes through.
  EXPECT_EQ(f.RestoreDatabase("o'k").status, Outcome::Done);
  EXPECT_EQ(bills(), "1");
  EXPECT_EQ(ADOC1_.connectionString(), text(dbName_));
  // The next function finds the application database.
  ui_.edit = nullptr;
  f.BackupDatabase();
  EXPECT_NE(ui_.shown.find("数据库 " + dbName_), std::string::npos) << ui_.shown;
}

TEST_P(MaintenanceFunctionsTest, RestoreRefusedWhileAClientHoldsTheDatabaseChangesNothing) {
  auto f = functions();
  f.BackupDatabase();
  conn_.execute("INSERT INTO bills (num, roomid, ndate) VALUES (2, '102', '2026-01-06')");
  db::Connection module;  // a client's module instance
  module.setConnectionString(text(dbName_));
  module.open();
  ui_.restoreFile = dir_.file("data/qz_backup.dat");
  try {
    f.RestoreDatabase();
    FAIL() << "restore went through while the database was in use";
  } catch (const db::DbError& e) {
    const std::string why = e.what();
    EXPECT_NE(why.find(pg() ? "being accessed by other users" : "Exclusive access"),
              std::string::npos)
        << why;
  }
  EXPECT_EQ(bills(), "1,2");
  module.close();
  f.RestoreDatabase();
  EXPECT_EQ(bills(), "1");
}

TEST_P(MaintenanceFunctionsTest, RoomCleanUpProposesTheRangeAsksAndReportsUnderItsCaption) {
  conn_.execute(
      "INSERT INTO bills (num, roomid, ndate) VALUES (2, '102', '2026-01-10 23:00:00'), "
      "(3, '103', '2026-01-11 00:00:00')");
  sysInfo_.writeInteger("BackUp", "BeforeDays", 30);
  // A request key past [Server] RequestKeyDays goes too; a recent one stays.
  sysInfo_.writeInteger("Server", "RequestKeyDays", 2);
  conn_.execute(
      "insert into qz_request_keys (provider, request_key, digest, error_count, errors, recorded) "
      "values ('billP', 'old', 'd', 0, '{}', '2020-01-01 00:00:00'), "
      "('billP', 'new', 'd', 0, '{}', '2999-01-01 00:00:00')");
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
  {
    auto c = conn_.query("select request_key from qz_request_keys");
    ASSERT_TRUE(c->next());
    EXPECT_EQ(c->row()[0].toText(), "new");
    EXPECT_FALSE(c->next());
  }
  // BackupFileName's default, in the data folder; the archive is Database's default.
  if (pg()) {
    // The archive schema holds the moved bills.
    auto c = conn_.query("select count(*) from qz1.bills");
    ASSERT_TRUE(c->next());
    EXPECT_EQ(c->row()[0].toText(), "2");
  } else {
    EXPECT_EQ(db::media::readSets(dir_.file("data/qz1")).size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(dir_.file("data/qz1.db")));
  }
}

TEST_P(MaintenanceFunctionsTest, DefaultRangeWithoutBeforeDaysAndWithMoreThan360Days) {
  ui_.ok = false;
  auto f = functions();
  f.N14Click();
  EXPECT_EQ(dayText(ui_.proposedFrom), "2025-03-06");
  EXPECT_EQ(dayText(ui_.proposedTo), "2025-12-31");  // 60 days
  sysInfo_.writeString("BackUp", "BeforeDays", "400");
  f.N14Click();
  EXPECT_EQ(dayText(ui_.proposedTo), "2025-01-25");  // after the start: accepted as is
}

TEST_P(MaintenanceFunctionsTest, SettingsThatWouldOverreachFailTheCleanUpAndMoveNothing) {
  auto f = functions();
  for (const char* days : {"1000000000", "2147000000", "2147483646", "2147483647", "0", "-3"}) {
    sysInfo_.writeString("BackUp", "BeforeDays", days);
    ui_.log.clear();
    const Outcome out = f.N9Click();
    EXPECT_EQ(out.status, Outcome::Failed) << days;
    EXPECT_NE(out.answer.find(std::string("BeforeDays=") + days), std::string::npos) << out.answer;
    EXPECT_EQ(ui_.log, "message[系统提示];") << days;
  }
  sysInfo_.writeString("BackUp", "BeforeDays", "30");
  // A settings value is a name, never a piece of a connection text.
  for (const char* archive : {"qz9;Initial Catalog=master", "../qz", "qz]"}) {
    sysInfo_.writeString("BackUp", "Database", archive);
    ui_.log.clear();
    EXPECT_EQ(f.N9Click().status, Outcome::Failed) << archive;
    EXPECT_EQ(ui_.log, "message[系统提示];") << archive;
  }
  EXPECT_EQ(bills(), "1");
  sysInfo_.writeString("BackUp", "Database", "qz1");
  sysInfo_.writeString("BackUp", "BeforeDays", "1");
  ui_.ok = false;
  f.N14Click();
  EXPECT_EQ(dayText(ui_.proposedTo), "2026-02-28");  // yesterday
}

TEST_P(MaintenanceFunctionsTest, CancelOrNoInTheCleanUpsSendsNothing) {
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

TEST_P(MaintenanceFunctionsTest, CleanUpErrorIsTheAnswerUnderTheSuccessCaption) {
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

TEST_P(MaintenanceFunctionsTest, EmptyDatabaseAsksDeletesAndReports) {
  auto f = functions();
  const Outcome out = f.N18Click();
  EXPECT_EQ(ui_.log,
            "confirm[系统提示|您是否确定把该系统内的数据全部删除?];wait[正在删除数据...];"
            "closewait;message[系统提示];");
  EXPECT_EQ(ui_.shown, "数据已成功删除!");
  EXPECT_EQ(out.status, Outcome::Done);
  EXPECT_EQ(bills(), "");
}

TEST_P(MaintenanceFunctionsTest, EmptyDatabaseErrorPropagatesWithTheWaitWindowClosed) {
  // The connection on master (as the old restore left it): no tables there.
  ADOC1_.setConnectionString(text("master"));
  auto f = functions();
  EXPECT_THROW(f.N18Click(), db::DbError);
  EXPECT_EQ(ui_.log,
            "confirm[系统提示|您是否确定把该系统内的数据全部删除?];wait[正在删除数据...];"
            "closewait;");
  EXPECT_EQ(bills(), "1");
}

INSTANTIATE_TEST_SUITE_P(Engines, MaintenanceFunctionsTest,
                         ::testing::Values(Engine::Embedded, Engine::PostgreSQL),
                         [](const auto& info) {
                           return std::string(info.param == Engine::Embedded ? "Embedded"
                                                                             : "PostgreSQL");
                         });

}  // namespace
}  // namespace qz::admin
