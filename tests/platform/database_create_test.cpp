// Creating the application database on both engines: schema, procedures and
// the demo hotel, the refusal to touch an existing database without force,
// scaled demo bills, and generated numbers that continue after demo rows.
#include <gtest/gtest.h>

#include <cstdio>

#include "database/create_database.h"
#include "platform/db/connection.h"
#include "platform/db/engine.h"
#include "tests/platform/test_databases.h"

namespace qz::database {
namespace {

using qz::testing::TestDatabase;
using qz::testing::TestEngine;

class DatabaseCreateTest : public ::testing::TestWithParam<TestEngine> {
 protected:
  void SetUp() override {
    host_ = TestDatabase::create(GetParam());
    if (!host_) GTEST_SKIP() << "POSTGRESQL TEST SERVER NOT CONFIGURED";
    name_ = host_->name() + "_app";
    text_ = host_->connectionStringFor(name_);
  }

  void TearDown() override {
    if (!host_ || GetParam() != TestEngine::PostgreSQL) return;  // the folder goes with host_
    db::Connection master;
    master.setConnectionString(host_->connectionStringFor("master"));
    master.open();
    master.session().execute("DROP DATABASE IF EXISTS \"" + name_ + "\" WITH (FORCE)", {});
  }

  int64_t count(db::Connection& c, const std::string& sql) {
    auto cur = c.query(sql);
    EXPECT_TRUE(cur->next()) << sql;
    return cur->row()[0].toInt64();
  }

  std::unique_ptr<TestDatabase> host_;
  std::string name_;
  std::string text_;
};

db::Parameter ret() {
  db::Parameter p;
  p.name = "@RETURN_VALUE";
  p.direction = db::ParamDirection::ReturnValue;
  return p;
}

TEST_P(DatabaseCreateTest, DemoHotelIsCompleteAndNumbersContinueAfterIt) {
  CreateOptions opt;
  opt.demo = true;
  createDatabase(text_, opt);
  EXPECT_TRUE(databaseExists(text_));

  db::Connection c;
  c.setConnectionString(text_);
  auto admin = db::RowSet::readAll(
      *c.query("select psw, popedom from users where id='admin' and mark='系统管理'"));
  ASSERT_EQ(admin.rows.size(), 1u);
  EXPECT_EQ(admin.rows[0][0].toText(), "admin");
  EXPECT_EQ(admin.rows[0][1].toText().substr(0, 1), "1");
  EXPECT_GT(count(c, "select count(*) from staffer where deptid like '01'"), 0);
  EXPECT_EQ(count(c, "select count(*) from material where id = 'A001'"), 1);
  EXPECT_EQ(count(c, "select count(*) from bills"), 240);
  EXPECT_GT(count(c, "select count(*) from billitems"), 240);
  EXPECT_GT(count(c, "select count(*) from bills where gnum in (select go_num from gorders)"), 8);
  EXPECT_GT(count(c, "select count(*) from gathering where type in ('销售收款', '采购付款')"), 0);
  EXPECT_GT(count(c, "select count(*) from gathering where type in ('现金', '订金', '挂账')"), 0);
  EXPECT_GT(count(c, "select count(*) from maccitems where bnum in (select num from maccount)"),
            48);
  EXPECT_GT(count(c, "select count(*) from client where neardate is not null"), 0);
  EXPECT_EQ(count(c, "select count(*) from billitems where bnum not in (select num from bills)"),
            0);
  EXPECT_GT(count(c, "select count(*) from gzstru"), 0);
  EXPECT_GT(count(c, "select count(*) from rptlist"), 0);

  // Two months of payroll for every staff member, summarised per person.
  auto month = db::RowSet::readAll(*c.query("select max(ndate) as last from gz"));
  ASSERT_EQ(month.rows.size(), 1u);
  int y, m, d, h, mi, s, ms;
  // An expression's type on the embedded engine is its value's: text here.
  DateTime last;
  const Variant& v = month.rows[0][0];
  if (v.type() == VarType::DateTime)
    last = v.asDateTime();
  else
    ASSERT_TRUE(DateTime::parse(v.toText(), &last)) << v.debugString();
  last.toParts(&y, &m, &d, &h, &mi, &s, &ms);
  db::ParamList gz = {ret(), {}, {}, {}};
  gz[1].name = "@vYear";
  gz[1].value = Variant(int32_t{y});
  gz[2].name = "@vMonth";
  gz[2].value = Variant(int32_t{m});
  gz[3].name = "@deptID";
  gz[3].value = Variant("%");
  auto summary = c.callProcedure("gz_gatherGz;1", gz);
  ASSERT_NE(summary, nullptr);
  EXPECT_EQ(db::RowSet::readAll(*summary).rows.size(),
            static_cast<size_t>(count(c, "select count(*) from staffer")));

  // Generated numbers go on after the demo's own.
  const int64_t lastBill = count(c, "select max(num) from bills");
  db::ParamList bill = {ret()};
  c.callProcedure("Bills_insert;1", bill);
  EXPECT_EQ(bill[0].value.toInt64(), lastBill + 1);
  const int64_t lastOrder = count(c, "select max(go_num) from gorders");
  db::ParamList order = {ret()};
  c.callProcedure("GOrders_insert;1", order);
  EXPECT_EQ(order[0].value.toInt64(), lastOrder + 1);
  const int64_t lastAccount = count(c, "select max(num) from maccount");
  db::ParamList account = {ret()};
  c.callProcedure("material_MAccIinsert;1", account);
  EXPECT_EQ(account[0].value.toInt64(), lastAccount + 1);
  EXPECT_EQ(c.execute("insert into gathering (bnum, type, money) values (1, '现金', 1)"), 1);
  EXPECT_EQ(c.execute("insert into client (name) values ('新客户')"), 1);
}

TEST_P(DatabaseCreateTest, AnExistingDatabaseIsLeftAloneUnlessForced) {
  createDatabase(text_, {});
  {
    db::Connection c;
    c.setConnectionString(text_);
    c.execute("insert into dept (id, name) values ('99', '保留的部门')");
  }
  try {
    createDatabase(text_, {});
    FAIL() << "an existing database was replaced without force";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("already exists"), std::string::npos) << e.what();
  }
  {
    db::Connection c;
    c.setConnectionString(text_);
    EXPECT_EQ(count(c, "select count(*) from dept where id = '99'"), 1);
  }
  CreateOptions force;
  force.force = true;
  createDatabase(text_, force);
  db::Connection c;
  c.setConnectionString(text_);
  EXPECT_EQ(count(c, "select count(*) from dept"), 0);
  EXPECT_EQ(count(c, "select count(*) from bills"), 0);  // no demo asked
}

TEST_P(DatabaseCreateTest, AnUnregisteredDatabaseFileCountsAsExisting) {
  if (GetParam() != TestEngine::Embedded) GTEST_SKIP() << "embedded data folder only";
  {
    FILE* f = std::fopen((host_->dataDir() + name_ + ".db").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("not a database yet", f);
    std::fclose(f);
  }
  EXPECT_TRUE(databaseExists(text_));
  EXPECT_THROW(createDatabase(text_, {}), std::runtime_error);
  std::FILE* f = std::fopen((host_->dataDir() + name_ + ".db").c_str(), "rb");
  ASSERT_NE(f, nullptr);  // left alone
  char buf[8] = {};
  EXPECT_EQ(std::fread(buf, 1, 3, f), 3u);
  std::fclose(f);
  EXPECT_STREQ(buf, "not");
}

TEST_P(DatabaseCreateTest, DemoRowsScaleTheBills) {
  CreateOptions opt;
  opt.demoRows = 1500;
  createDatabase(text_, opt);
  db::Connection c;
  c.setConnectionString(text_);
  EXPECT_EQ(count(c, "select count(*) from bills"), 1500);
  EXPECT_EQ(count(c,
                  "select count(*) from bills b where not exists "
                  "(select 1 from billitems i where i.bnum = b.num)"),
            0);
}

TEST_P(DatabaseCreateTest, UnusableNamesAreRefusedBeforeAnythingIsCreated) {
  for (const char* bad : {"", "master", "qz x", "qz'--", "a\"b"}) {
    std::string text = host_->connectionStringFor(bad);
    EXPECT_THROW(createDatabase(text, {}), std::runtime_error) << bad;
  }
  CreateOptions negative;
  negative.demoRows = -1;
  EXPECT_THROW(createDatabase(text_, negative), std::runtime_error);
  EXPECT_FALSE(databaseExists(text_));
}

TEST(DatabaseDefaultsTest, FreshInstallationUsesTheEmbeddedEngineAndQz) {
  std::vector<std::string> lines = defaultSystemIniLines();
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0], "");    // no server name: the embedded engine
  EXPECT_EQ(lines[3], "qz");  // qz1 stays free for the archive
  EXPECT_EQ(lines[6], "");
}

INSTANTIATE_TEST_SUITE_P(BothEngines, DatabaseCreateTest,
                         ::testing::Values(TestEngine::Embedded, TestEngine::PostgreSQL),
                         [](const auto& info) { return qz::testing::testEngineName(info.param); });

}  // namespace
}  // namespace qz::database
