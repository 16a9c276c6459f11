// The maintenance subcommands through the real binary on both engines:
// backup, clean-up, restore and empty-database with their answers and exit
// statuses, and a restore refused while a client holds the database.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>

#include "platform/db/connection.h"
#include "settings/config.h"
#include "tests/e2e/server_process.h"

namespace qz::testing {
namespace {

class MaintenanceCliTest : public ::testing::TestWithParam<TestEngine> {
 protected:
  void SetUp() override {
    std::string why;
    if (!server_.createDatabase(GetParam(), &why)) GTEST_SKIP() << why;
    // The database server writes the media: a folder open to it.
    ::chmod(media_.path().c_str(), 0777);
  }
  int run(std::vector<std::string> args, std::string* out) {
    out->clear();
    args.insert(args.begin(), {"--app-dir", server_.appDir()});
    return runServer(args, out);
  }
  // The number of bills a clean-up over every day moved.
  std::string movedBills(const std::string& out) {
    std::smatch m;
    return std::regex_search(out, m, std::regex("账单 ([0-9]+) 张")) ? m[1].str() : "?";
  }

  ServerProcess server_;
  TempDir media_;
};

TEST_P(MaintenanceCliTest, BackupCleanUpAndRestoreBringTheRowsBack) {
  std::string out;
  const std::string file = media_.file("nightly.dat");
  ASSERT_EQ(run({"backup", "--file", file}, &out), 0) << out;
  EXPECT_NE(out.find("已完全备份到 " + file), std::string::npos) << out;

  ASSERT_EQ(run({"cleanup", "rooms", "--from", "2000-01-01", "--to", "2099-12-31"}, &out), 0)
      << out;
  const std::string moved = movedBills(out);
  EXPECT_NE(moved, "0") << out;
  EXPECT_NE(moved, "?") << out;
  EXPECT_EQ(out.find("正在删除数据"), std::string::npos) << "progress line without a terminal";
  ASSERT_EQ(run({"cleanup", "rooms", "--from", "2000-01-01", "--to", "2099-12-31"}, &out), 0)
      << out;
  EXPECT_EQ(movedBills(out), "0") << out;

  ASSERT_EQ(run({"restore", "--file", file}, &out), 0) << out;
  // The bills are back: the same clean-up finds them all again.
  ASSERT_EQ(run({"cleanup", "rooms", "--from", "2000-01-01", "--to", "2099-12-31"}, &out), 0)
      << out;
  EXPECT_EQ(movedBills(out), moved) << out;

  ASSERT_EQ(run({"cleanup", "sales", "--from", "2000-01-01", "--to", "2099-12-31"}, &out), 0)
      << out;
  EXPECT_NE(out.find("商品销售结算数据"), std::string::npos) << out;
}

TEST_P(MaintenanceCliTest, DifferentialAndProtectedBackups) {
  std::string out;
  const std::string file = media_.file("nightly.dat");
  media_.write("pw", "s3'cret\n");
  ASSERT_EQ(run({"backup", "--file", file}, &out), 0) << out;
  const int diff = run({"backup", "--file", file, "--differential"}, &out);
  const int protectedSet = run(
      {"backup", "--file", media_.file("locked.dat"), "--password-file", media_.file("pw")}, &out);
  if (GetParam() == TestEngine::PostgreSQL) {
    // Not available there: the answer says so and the status tells cron.
    EXPECT_EQ(diff, 1);
    EXPECT_EQ(protectedSet, 1);
    EXPECT_NE(out.find("口令"), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(media_.file("locked.dat")));
    return;
  }
  EXPECT_EQ(diff, 0);
  EXPECT_EQ(protectedSet, 0) << out;
  EXPECT_NE(out.find("有口令保护"), std::string::npos) << out;
  ASSERT_EQ(run({"cleanup", "rooms", "--from", "2000-01-01", "--to", "2099-12-31"}, &out), 0)
      << out;
  const std::string moved = movedBills(out);
  EXPECT_EQ(run({"restore", "--file", media_.file("locked.dat")}, &out), 1) << out;
  EXPECT_NE(out.find("password"), std::string::npos) << out;
  ASSERT_EQ(
      run({"restore", "--file", media_.file("locked.dat"), "--password-file", media_.file("pw")},
          &out),
      0)
      << out;
  ASSERT_EQ(run({"cleanup", "rooms", "--from", "2000-01-01", "--to", "2099-12-31"}, &out), 0)
      << out;
  EXPECT_EQ(movedBills(out), moved) << out;
}

TEST_P(MaintenanceCliTest, EmptyDatabaseWantsYesAndThenEmptiesTheBusinessData) {
  std::string out;
  EXPECT_EQ(run({"empty-database"}, &out), 2) << out;
  EXPECT_NE(out.find("--yes"), std::string::npos) << out;
  ASSERT_EQ(run({"empty-database", "--yes"}, &out), 0) << out;
  EXPECT_NE(out.find("数据已成功删除!"), std::string::npos) << out;
  ASSERT_EQ(run({"cleanup", "rooms", "--from", "2000-01-01", "--to", "2099-12-31"}, &out), 0)
      << out;
  EXPECT_EQ(movedBills(out), "0") << out;
}

TEST_P(MaintenanceCliTest, FailuresGiveANonZeroStatusAndTheReason) {
  std::string out;
  EXPECT_EQ(run({"cleanup", "rooms", "--from", "2026-02-30"}, &out), 2) << out;
  EXPECT_EQ(run({"cleanup", "everything"}, &out), 2) << out;
  EXPECT_EQ(run({"restore", "--file", media_.file("never-written.dat")}, &out), 1) << out;
  EXPECT_NE(out.find("never-written.dat"), std::string::npos) << out;
  EXPECT_EQ(run({"backup", "--file", "/nonexistent-qz-dir/x.dat"}, &out), 1) << out;
  // A clean-up's failure is its answer, and the status says so.
  std::string ini = server_.dir().read("system.ini");
  size_t line4 = 0;
  for (int i = 0; i < 3; ++i) line4 = ini.find("\r\n", line4) + 2;
  ini.replace(line4, ini.find("\r\n", line4) - line4, "nosuchdb");
  server_.dir().write("system.ini", ini);
  EXPECT_EQ(run({"cleanup", "sales"}, &out), 1) << out;
  EXPECT_NE(out.find("nosuchdb"), std::string::npos) << out;
}

TEST_P(MaintenanceCliTest, RestoreWhileAClientHoldsTheDatabaseIsRefused) {
  std::string out;
  const std::string file = media_.file("nightly.dat");
  ASSERT_EQ(run({"backup", "--file", file}, &out), 0) << out;
  ASSERT_EQ(run({"cleanup", "rooms", "--from", "2000-01-01", "--to", "2099-12-31"}, &out), 0)
      << out;
  // A client of the database in this process.
  server::setAppDir(server_.appDir());
  db::setEmbeddedDataDir(server_.appDir() + "data/");
  db::Connection client;
  client.setConnectionString(server::BuildSqlConnectionString());
  client.open();
  EXPECT_EQ(run({"restore", "--file", file}, &out), 1) << out;
  if (GetParam() == TestEngine::PostgreSQL)
    EXPECT_NE(out.find("being accessed by other users"), std::string::npos) << out;
  else
    EXPECT_NE(out.find("Exclusive access could not be obtained"), std::string::npos) << out;
  EXPECT_EQ(db::RowSet::readAll(*client.query("select count(*) from bills")).rows[0][0].toText(),
            "0");
  client.close();
  ASSERT_EQ(run({"restore", "--file", file}, &out), 0) << out;
}

INSTANTIATE_TEST_SUITE_P(Engines, MaintenanceCliTest,
                         ::testing::Values(TestEngine::Embedded, TestEngine::PostgreSQL),
                         [](const auto& info) { return std::string(engineName(info.param)); });

}  // namespace
}  // namespace qz::testing
