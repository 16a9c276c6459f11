// Backup, restore and the clean-up procedures on both engines, through the
// statements the administrator functions send: QZ_backup, RESTORE DATABASE
// on master, hpt_backup, material_backup and deleteall.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "database/maintenance_procedures.h"
#include "database/schema.h"
#include "platform/db/backup_media.h"
#include "platform/db/connection.h"
#include "platform/db/dialect.h"
#include "platform/db/sql_quote.h"
#include "tests/platform/test_databases.h"
#include "tests/server/temp_dir.h"

namespace qz::database {
namespace {

using qz::testing::TestDatabase;
using qz::testing::TestEngine;

class BackupRestoreTest : public ::testing::TestWithParam<TestEngine> {
 protected:
  void SetUp() override {
    registerEmbeddedMaintenanceProcedures();
    db_ = TestDatabase::create(GetParam());
    if (!db_) GTEST_SKIP() << "POSTGRESQL TEST SERVER NOT CONFIGURED";
    // The database server writes the media: its folder must be open to it.
    ::chmod(dir_.path().c_str(), 0777);
    conn_.setConnectionString(db_->connectionString());
    conn_.setCommandTimeout(300);
    installSchema(conn_);
    conn_.execute(
        "INSERT INTO users (id, psw, mark, popedom) VALUES ('admin', 'a', '系统管理', '1')");
  }

  bool pg() const { return GetParam() == TestEngine::PostgreSQL; }
  std::string media(const std::string& name = "qz_backup.dat") const { return dir_.file(name); }

  std::string first(db::Connection& c, const std::string& sql) {
    auto cur = c.query(sql);
    if (!cur->next()) return "<no row>";
    return cur->row()[0].isEmpty() ? "<null>" : cur->row()[0].toText();
  }
  std::string first(const std::string& sql) { return first(conn_, sql); }
  int count(const std::string& table) { return std::stoi(first("select count(*) from " + table)); }

  void addBill(int num, const std::string& ndate, const std::string& room = "101") {
    conn_.execute("INSERT INTO bills (num, roomid, ndate) VALUES (" + std::to_string(num) + ", '" +
                  room + "', '" + ndate + "')");
  }

  std::string backup(int kind, int overwrite, const std::string& password = "",
                     const std::string& file = "") {
    return first("exec QZ_backup 'disk','qz_backup'," +
                 db::QuoteSqlText(file.empty() ? media() : file) + ",'" + db_->name() + "'," +
                 std::to_string(kind) + "," + std::to_string(overwrite) + "," +
                 db::QuoteSqlText(password));
  }

  // RESTORE DATABASE on a connection to master, as the window sends it.
  void restore(const std::string& file, const std::string& with = "") {
    db::Connection master;
    master.setConnectionString(db_->connectionStringFor("master"));
    master.setCommandTimeout(300);
    master.execute("RESTORE DATABASE " + db_->name() + " from disk=" + db::QuoteSqlText(file) +
                   with);
  }

  std::string restoreError(const std::string& file, const std::string& with = "") {
    try {
      restore(file, with);
    } catch (const db::DbError& e) {
      return e.what();
    }
    return "<no error>";
  }

  std::string bills() {
    conn_.close();
    conn_.ensureOpen();
    std::string out;
    auto c = conn_.query("select num from bills order by num");
    while (c->next()) out += (out.empty() ? "" : ",") + c->row()[0].toText();
    return out;
  }

  qz::testing::TempDir dir_;
  std::unique_ptr<TestDatabase> db_;
  db::Connection conn_;
};

TEST_P(BackupRestoreTest, RestoreReturnsTheDatabaseToItsStateAtTheBackup) {
  addBill(1, "2026-01-05 10:00:00");
  conn_.execute(
      "insert into qz_request_keys (provider, request_key, digest, error_count, errors, "
      "recorded) values ('billP', 'k1', 'd', 0, '{}', '2026-01-05 10:00:00')");
  const std::string answer = backup(0, 0);
  EXPECT_NE(answer.find(db_->name()), std::string::npos) << answer;
  EXPECT_NE(answer.find("完全备份"), std::string::npos) << answer;
  addBill(2, "2026-01-06 10:00:00");
  conn_.execute("UPDATE bills SET roomid = '999' WHERE num = 1");
  conn_.close();
  restore(media());
  EXPECT_EQ(bills(), "1");
  EXPECT_EQ(first("select roomid from bills"), "101");
  // Users, procedures and the recorded request keys come back with the rest.
  EXPECT_EQ(count("users"), 1);
  EXPECT_EQ(count("qz_request_keys"), 1);
}

TEST_P(BackupRestoreTest, AppendedSetsRestoreTheNewestAndOverwriteDropsTheOlderOnes) {
  addBill(1, "2026-01-05");
  backup(0, 0);
  addBill(2, "2026-01-06");
  backup(0, 0);  // appended
  addBill(3, "2026-01-07");
  conn_.close();
  restore(media());
  EXPECT_EQ(bills(), "1,2");
  if (!pg()) EXPECT_EQ(db::media::readSets(media()).size(), 2u);

  conn_.execute("DELETE FROM bills WHERE num = 2");
  backup(0, 1);  // overwrite: a media with this one set only
  if (!pg()) EXPECT_EQ(db::media::readSets(media()).size(), 1u);
  addBill(4, "2026-01-08");
  conn_.close();
  restore(media());
  EXPECT_EQ(bills(), "1");
}

TEST_P(BackupRestoreTest, DifferentialOnTopOfAFullBackup) {
  addBill(1, "2026-01-05");
  backup(0, 0);
  for (int i = 2; i <= 40; ++i) addBill(i, "2026-01-06");
  const std::string answer = backup(1, 0);
  if (pg()) {
    // PostgreSQL cannot write a differential: a clear answer, nothing written.
    EXPECT_NE(answer.find("不支持差异备份"), std::string::npos) << answer;
    addBill(41, "2026-01-07");
    conn_.close();
    restore(media());
    EXPECT_EQ(count("bills"), 1);
    return;
  }
  EXPECT_NE(answer.find("差异备份"), std::string::npos) << answer;
  EXPECT_NE(answer.find("基于备份集 1"), std::string::npos) << answer;
  const auto sets = db::media::readSets(media());
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[1].kind, db::media::SetKind::Differential);
  EXPECT_LT(sets[1].payloadSize, sets[0].payloadSize);
  addBill(41, "2026-01-07");
  conn_.close();
  restore(media());
  EXPECT_EQ(count("bills"), 40);
  EXPECT_EQ(first("select max(num) from bills"), "40");
}

TEST_P(BackupRestoreTest, DifferentialWithoutAFullBackupOnTheMediaIsRefused) {
  if (pg()) GTEST_SKIP() << "PostgreSQL answers every differential with a message";
  try {
    backup(1, 0);
    FAIL() << "a differential without a full backup was written";
  } catch (const db::DbError& e) {
    EXPECT_NE(std::string(e.what()).find("full"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(std::filesystem::exists(media()));
}

TEST_P(BackupRestoreTest, PasswordProtectedBackupNeedsItsPasswordAndLeavesTheDatabaseOtherwise) {
  addBill(1, "2026-01-05");
  const std::string answer = backup(0, 0, "s3cr'et");
  if (pg()) {
    EXPECT_NE(answer.find("口令"), std::string::npos) << answer;
    EXPECT_FALSE(std::filesystem::exists(media()));
    return;
  }
  EXPECT_NE(answer.find("口令保护"), std::string::npos) << answer;
  addBill(2, "2026-01-06");
  conn_.close();
  EXPECT_NE(restoreError(media()).find("password"), std::string::npos);
  EXPECT_NE(restoreError(media(), " with password='wrong'").find("not correct"), std::string::npos);
  EXPECT_EQ(bills(), "1,2");
  conn_.close();
  restore(media(), " with password='s3cr''et'");
  EXPECT_EQ(bills(), "1");
}

TEST_P(BackupRestoreTest, DamagedOrMissingMediaLeavesTheDatabaseUntouched) {
  addBill(1, "2026-01-05");
  backup(0, 0);
  addBill(2, "2026-01-06");
  {
    // Inside the (only) set's data on both engines' media.
    std::fstream f(media(), std::ios::in | std::ios::out | std::ios::binary);
    for (uint64_t at = 600; at < 664; ++at) {
      f.seekp(static_cast<std::streamoff>(at));
      f.put('\x55');
    }
  }
  conn_.close();
  const std::string err = restoreError(media());
  EXPECT_NE(err, "<no error>");
  EXPECT_EQ(bills(), "1,2");
  conn_.close();
  EXPECT_NE(restoreError(dir_.file("never-written.dat")), "<no error>");
  EXPECT_EQ(bills(), "1,2");
}

TEST_P(BackupRestoreTest, MaintenanceFailuresGiveTheReasonInOneOrTwoLines) {
  addBill(1, "2026-01-05");
  backup(0, 0);
  const auto size = std::filesystem::file_size(media());
  std::string backupError = "<no error>";
  try {
    backup(0, 0, "", dir_.file("no-such-folder/qz.dat"));
  } catch (const db::DbError& e) {
    backupError = e.what();
  }
  EXPECT_NE(backupError.find("Cannot open backup device"), std::string::npos) << backupError;
  if (pg()) {
    // The database server's own user writes the file: the message names it.
    const std::string locked = dir_.file("locked");
    std::filesystem::create_directory(locked);
    ::chmod(locked.c_str(), 0555);
    backupError = "<no error>";
    try {
      backup(0, 0, "", locked + "/qz.dat");
    } catch (const db::DbError& e) {
      backupError = e.what();
    }
    EXPECT_NE(backupError.find("runs as the operating-system user"), std::string::npos)
        << backupError;
    EXPECT_EQ(backupError.find('\n'), std::string::npos) << backupError;
  }
  struct Case {
    const char* name;
    std::function<void(const std::string&)> make;
    const char* reason;
  };
  const Case cases[] = {
      {"missing.dat", [](const std::string&) {}, "does not exist"},
      {"empty.dat", [](const std::string& f) { std::ofstream{f}; }, ""},
      {"garbage.dat", [](const std::string& f) { std::ofstream{f} << std::string(5000, 'g'); }, ""},
      {"half.dat",
       [&](const std::string& f) {
         std::filesystem::copy_file(media(), f);
         std::filesystem::resize_file(f, size / 2);
       },
       ""},
      {"flipped.dat",
       [&](const std::string& f) {
         std::filesystem::copy_file(media(), f);
         std::fstream io(f, std::ios::in | std::ios::out | std::ios::binary);
         io.seekp(static_cast<std::streamoff>(size / 2));
         io.put('\x55');
         io.put('\xaa');
       },
       ""},
  };
  for (const Case& c : cases) {
    c.make(media(c.name));
    conn_.close();
    const std::string err = restoreError(media(c.name));
    EXPECT_NE(err, "<no error>") << c.name;
    EXPECT_NE(err.find(c.reason), std::string::npos) << c.name << ": " << err;
    EXPECT_EQ(err.find("child process"), std::string::npos) << c.name << ": " << err;
    EXPECT_LE(std::count(err.begin(), err.end(), '\n'), 2) << c.name << ": " << err;
    EXPECT_LT(err.size(), 400u) << c.name << ": " << err;
    EXPECT_EQ(bills(), "1");
  }
}

TEST_P(BackupRestoreTest, RestoreWhileAnotherClientHoldsTheDatabaseIsRefused) {
  addBill(1, "2026-01-05");
  backup(0, 0);
  addBill(2, "2026-01-06");
  // conn_ stays open on the database, as a module instance's would.
  ASSERT_TRUE(conn_.isOpen());
  const std::string err = restoreError(media());
  if (pg())
    EXPECT_NE(err.find("being accessed by other users"), std::string::npos) << err;
  else
    EXPECT_NE(err.find("Exclusive access could not be obtained"), std::string::npos) << err;
  EXPECT_EQ(bills(), "1,2");
}

TEST_P(BackupRestoreTest, RestoreUnderANewNameCreatesThatDatabase) {
  addBill(1, "2026-01-05");
  backup(0, 0);
  const std::string copy = db_->name() + "_copy";
  db::Connection master;
  master.setConnectionString(db_->connectionStringFor("master"));
  master.setCommandTimeout(300);
  master.execute("RESTORE DATABASE " + copy + " from disk='" + media() + "'");
  {
    db::Connection c;
    c.setConnectionString(db_->connectionStringFor(copy));
    EXPECT_EQ(first(c, "select roomid from bills"), "101");
  }
  if (pg()) master.execute("DROP DATABASE " + copy);
  // The original is untouched and still usable.
  EXPECT_EQ(bills(), "1");
}

TEST_P(BackupRestoreTest, QuotesInPathsTravelAsTextNotAsStatement) {
  addBill(1, "2026-01-05");
  const std::string odd = dir_.file("o'brien backup.dat");
  backup(0, 0, "", odd);
  EXPECT_TRUE(std::filesystem::exists(odd));
  addBill(2, "2026-01-06");
  conn_.close();
  restore(odd);
  EXPECT_EQ(bills(), "1");
}

// Bills of 2026-01-01, 01-10 (last minute) and 01-11; payments of the bills
// and a 销售收款 payment of the material store's document 2.
void fillRooms(db::Connection& c) {
  c.execute(
      "INSERT INTO bills (num, roomid, ndate) VALUES (1, '101', '2026-01-01 08:00:00'), "
      "(2, '102', '2026-01-10 23:59:00'), (3, '103', '2026-01-11 00:00:00')");
  c.execute(
      "INSERT INTO billitems (bnum, inum, name, money) VALUES (1, 1, '房费', 100), (2, 1, '房费', "
      "200), "
      "(2, 2, '餐费', 50), (3, 1, '房费', 300)");
  c.execute(
      "INSERT INTO gathering (inum, bnum, type, money) VALUES (1, 1, '现金', 100), (2, 2, '现金', "
      "250), "
      "(3, 3, '信用卡', 300), (4, 2, '销售收款', 80)");
}

TEST_P(BackupRestoreTest, RoomCleanUpMovesExactlyTheRangeIncludingItsLastDay) {
  fillRooms(conn_);
  const std::string file = pg() ? dir_.file("before-clean") : "before-clean";
  const std::string answer = first("exec " + db_->name() + ".dbo.hpt_backup '" + db_->name() +
                                   "','qz1','2026-01-01','2026-01-10','" + file + "'");
  EXPECT_NE(answer.find("账单 2 张"), std::string::npos) << answer;
  EXPECT_NE(answer.find("消费明细 3 条"), std::string::npos) << answer;
  EXPECT_NE(answer.find("收款 2 条"), std::string::npos) << answer;
  EXPECT_EQ(first("select count(*) from bills"), "1");
  EXPECT_EQ(first("select num from bills"), "3");
  EXPECT_EQ(count("billitems"), 1);
  // The material store's payment with the same number stays.
  EXPECT_EQ(first("select count(*) from gathering where type = '销售收款'"), "1");
  EXPECT_EQ(count("gathering"), 2);

  // The archive holds the moved rows.
  if (pg()) {
    EXPECT_EQ(first("select count(*) from qz1.bills"), "2");
    EXPECT_EQ(first("select count(*) from qz1.billitems"), "3");
    EXPECT_EQ(first("select count(*) from qz1.gathering"), "2");
  } else {
    db::Connection arch;
    arch.setConnectionString(db_->connectionStringFor("qz1"));
    EXPECT_EQ(first(arch, "select count(*) from bills"), "2");
    EXPECT_EQ(first(arch, "select sum(money) from billitems"), "350");
    EXPECT_EQ(first(arch, "select count(*) from gathering"), "2");
    // The full backup was written first, into the data folder.
    const auto sets = db::media::readSets(db_->dataDir() + "before-clean");
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].kind, db::media::SetKind::Full);
  }
  if (pg()) EXPECT_TRUE(std::filesystem::exists(file));

  // Run again over the same days: nothing more moves, nothing is doubled.
  const std::string again = first("exec " + db_->name() + ".dbo.hpt_backup '" + db_->name() +
                                  "','qz1','2026-01-01','2026-01-10','" + file + "'");
  EXPECT_NE(again.find("账单 0 张"), std::string::npos) << again;
}

TEST_P(BackupRestoreTest, SalesCleanUpMovesSalesDocumentsOnly) {
  conn_.execute(
      "INSERT INTO Maccount (num, consumption, ndate) VALUES (1, '销售', '2026-02-01'), "
      "(2, '购进', '2026-02-01'), (3, '销售', '2026-02-03 12:00:00'), (4, '销售', '2026-02-04')");
  conn_.execute(
      "INSERT INTO MAccItems (bnum, inum, iinum, money) VALUES (1, 1, 1, 10), (1, 2, 2, 20), "
      "(2, 1, 3, 30), (3, 1, 4, 40), (4, 1, 5, 50)");
  conn_.execute(
      "INSERT INTO gathering (inum, bnum, type, money) VALUES (1, 1, '销售收款', 30), "
      "(2, 2, '采购付款', 30), (3, 3, '销售收款', 40), (4, 1, '现金', 99)");
  const std::string answer = first("exec " + db_->name() + ".dbo.material_backup '" + db_->name() +
                                   "','qz1','2026/02/01','2026/02/03'");
  EXPECT_NE(answer.find("销售单 2 张"), std::string::npos) << answer;
  EXPECT_NE(answer.find("明细 3 条"), std::string::npos) << answer;
  EXPECT_NE(answer.find("收款 2 条"), std::string::npos) << answer;
  EXPECT_EQ(first("select count(*) from Maccount"), "2");
  EXPECT_EQ(first("select count(*) from MAccItems"), "2");
  // The purchase's payment and the room payment of bill 1 stay.
  EXPECT_EQ(count("gathering"), 2);
}

TEST_P(BackupRestoreTest, CleanUpWithADateThatIsNoDateChangesNothing) {
  fillRooms(conn_);
  EXPECT_THROW(first("exec material_backup '" + db_->name() + "','qz1','2026-13-01','2026-01-10'"),
               db::DbError);
  EXPECT_EQ(count("bills"), 3);
  EXPECT_EQ(count("gathering"), 4);
}

TEST_P(BackupRestoreTest, DeleteAllEmptiesBusinessDataAndKeepsUsersAndMasterData) {
  fillRooms(conn_);
  conn_.execute("INSERT INTO material (id, name) VALUES ('A001', '矿泉水')");
  conn_.execute("INSERT INTO Maccount (num, consumption, ndate) VALUES (1, '销售', '2026-02-01')");
  conn_.execute("exec deleteall");
  for (const std::string& t : businessTables()) EXPECT_EQ(count(t), 0) << t;
  EXPECT_EQ(count("users"), 1);
  EXPECT_EQ(count("material"), 1);
}

TEST(RestoreStatementTest, PasswordOptionAndBracketedNamesAreRecognised) {
  db::DialectOptions opt;
  auto st =
      db::translateSql("RESTORE DATABASE [酒店 qz] from disk='a''b' WITH PASSWORD = 'p''w'", opt);
  ASSERT_EQ(st.size(), 1u);
  ASSERT_EQ(st[0].kind, db::DialectStatement::Kind::Restore);
  EXPECT_EQ(st[0].database, "酒店 qz");
  EXPECT_EQ(st[0].disk, "a'b");
  EXPECT_EQ(st[0].password, "p'w");
  st = db::translateSql("RESTORE DATABASE qz from disk='f'", opt);
  EXPECT_EQ(st[0].password, "");
  // Another option, or a password that is no text, is not the recognised form.
  st = db::translateSql("RESTORE DATABASE qz from disk='f' with password=1", opt);
  EXPECT_EQ(st[0].kind, db::DialectStatement::Kind::Sql);
  opt.flavor = db::SqlFlavor::Postgres;
  st = db::translateSql("restore database qz from disk='f' with password='x'", opt);
  EXPECT_EQ(st[0].kind, db::DialectStatement::Kind::Restore);
}

// Media written by an earlier version of the server, kept in the tree: set 1
// a full backup without password, set 2 a full and set 3 a differential
// backup with the password "旧 pw" (a table rooms, pages of 512 bytes).
// Stored media must keep reading and restoring whatever computes the crypto.
TEST(StoredMediaTest, MediaWrittenByAnEarlierVersionStillRestores) {
  registerEmbeddedMaintenanceProcedures();
  auto db = TestDatabase::create(TestEngine::Embedded);
  qz::testing::TempDir dir;
  const std::string file = dir.file("media.dat");
  std::filesystem::copy_file(QZ_SOURCE_DIR "/tests/platform/data/protected_media.dat", file);
  const auto sets = db::media::readSets(file);
  ASSERT_EQ(sets.size(), 3u);
  EXPECT_FALSE(sets[0].passwordProtected);
  EXPECT_TRUE(sets[2].passwordProtected);
  EXPECT_EQ(sets[2].kind, db::media::SetKind::Differential);
  EXPECT_EQ(db::media::readPayload(file, sets[0], "").size(), 5 * 512u);
  db::Connection master;
  master.setConnectionString(db->connectionStringFor("master"));
  const std::string restore = "RESTORE DATABASE " + db->name() + " from disk='" + file + "'";
  EXPECT_THROW(master.execute(restore + " with password='wrong'"), db::DbError);
  master.execute(restore + " with password='旧 pw'");
  db::Connection conn;
  conn.setConnectionString(db->connectionString());
  auto cur = conn.query("select id, price from rooms order by id");
  std::string rows;
  while (cur->next()) rows += cur->row()[0].toText() + "=" + cur->row()[1].toText() + ";";
  EXPECT_EQ(rows, "101=99.99;102=200;103=220.25;");
}

INSTANTIATE_TEST_SUITE_P(Engines, BackupRestoreTest,
                         ::testing::Values(TestEngine::Embedded, TestEngine::PostgreSQL),
                         [](const auto& info) { return std::string(testEngineName(info.param)); });

}  // namespace
}  // namespace qz::database
