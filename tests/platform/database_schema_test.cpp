// The application schema on both engines: every table of the model with its
// columns in order (the export reads three tables by position), NOT NULL
// columns, generated keys, and the payments view of the material store.
#include <gtest/gtest.h>

#include "database/procedures.h"
#include "database/schema.h"
#include "platform/db/connection.h"
#include "tests/platform/test_databases.h"

namespace qz::database {
namespace {

using qz::testing::TestDatabase;
using qz::testing::TestEngine;

class DatabaseSchemaTest : public ::testing::TestWithParam<TestEngine> {
 protected:
  void SetUp() override {
    db_ = TestDatabase::create(GetParam());
    if (!db_) GTEST_SKIP() << "POSTGRESQL TEST SERVER NOT CONFIGURED";
    conn_.setConnectionString(db_->connectionString());
    installSchema(conn_);
  }

  std::vector<std::string> columnsOf(const std::string& table) {
    auto c = conn_.query("select * from " + table + " where 1=0");
    std::vector<std::string> names;
    for (const auto& f : c->fields()) names.push_back(f.name);
    return names;
  }

  std::unique_ptr<TestDatabase> db_;
  db::Connection conn_;
};

void expectPrefix(const std::vector<std::string>& actual, const std::vector<std::string>& want,
                  const char* table) {
  ASSERT_GE(actual.size(), want.size()) << table;
  for (size_t i = 0; i < want.size(); ++i)
    EXPECT_TRUE(EqualsNoCase(actual[i], want[i]))
        << table << " column " << i << ": " << actual[i] << " instead of " << want[i];
}

TEST_P(DatabaseSchemaTest, ExportTablesBeginWithTheirColumnsInOrder) {
  expectPrefix(columnsOf("maccount"),
               {"num", "consumption", "DeptID", "cltid", "ndate", "fdate", "tdate", "operator",
                "waiter", "receiver", "sanctifier", "checker", "marck", "cltname"},
               "maccount");
  expectPrefix(columnsOf("maccitems"),
               {"bnum",      "oprt",       "summary",   "MID",       "plan_price", "plan_amount",
                "pye",       "pye_amount", "jf_PRICE",  "jf_amount", "df_PRICE",   "xs_Price",
                "df_amount", "ye",         "ye_amount", "marck",     "inum",       "iinum",
                "MName",     "MSize",      "dw",        "dw1",       "exchange"},
               "maccitems");
  expectPrefix(columnsOf("mgathering"),
               {"inum", "bnum", "ndate", "type", "summary", "PAYMODE", "money", "worker"},
               "mgathering");
  expectPrefix(columnsOf("client"),
               {"type", "id", "name", "addi", "mailno", "email", "tel", "m_tel", "fax", "bank",
                "bankID", "taxid", "pym"},
               "client");
  expectPrefix(columnsOf("material"),
               {"id",     "name",          "dw",     "dw1",  "exchange", "addi", "PRICE",
                "price0", "price1",        "INFO",   "cost", "pym",      "slye", "ye",
                "TcType", "TcCoefficient", "rebate", "sMax", "sMin",     "mType"},
               "material");
}

TEST_P(DatabaseSchemaTest, EveryModelTableHasItsColumnsAndConstraints) {
  for (const TableDef& t : applicationTables()) {
    std::vector<std::string> want;
    for (const auto& c : t.columns) want.push_back(c.name);
    std::vector<std::string> got = columnsOf(t.name);
    EXPECT_EQ(got.size(), want.size()) << t.name;
    expectPrefix(got, want, t.name);

    auto fields = conn_.tableFields(t.name);
    ASSERT_EQ(fields.size(), t.columns.size()) << t.name;
    for (size_t i = 0; i < fields.size(); ++i) {
      const ColumnDef& c = t.columns[i];
      const bool generated = c.type == ColType::Serial;
      bool isKey = generated;
      for (const char* k : t.key) isKey = isKey || EqualsNoCase(k, c.name);
      // Generated keys are filled by the database, so clients need not.
      EXPECT_EQ(fields[i].required, (c.notNull || isKey) && !generated) << t.name << "." << c.name;
      EXPECT_EQ(fields[i].key, isKey) << t.name << "." << c.name;
      EXPECT_EQ(fields[i].readOnly, generated) << t.name << "." << c.name;
    }
  }
}

TEST_P(DatabaseSchemaTest, StorePaymentsViewShowsOnlyReceiptsAndPayments) {
  conn_.execute(
      "insert into gathering (bnum, type, money) values (1, '销售收款', 10), "
      "(1, '采购付款', 20), (1, '现金', 30)");
  auto c = conn_.query("select sum(money) as total, count(*) as n from mgathering");
  ASSERT_TRUE(c->next());
  EXPECT_EQ(c->row()[0].toDouble(), 30.0);
  EXPECT_EQ(c->row()[1].toInt32(), 2);
}

TEST_P(DatabaseSchemaTest, GeneratedNumbersAndRequiredColumnsAreEnforced) {
  conn_.execute("insert into gathering (bnum, type) values (5, '现金')");
  conn_.execute("insert into gathering (bnum, type) values (5, '现金')");
  auto c = conn_.query("select inum from gathering order by inum");
  ASSERT_TRUE(c->next());
  int first = c->row()[0].toInt32();
  ASSERT_TRUE(c->next());
  EXPECT_EQ(c->row()[0].toInt32(), first + 1);
  // billitems needs its bill and line number; the pair is the key.
  EXPECT_THROW(conn_.execute("insert into billitems (inum) values (1)"), db::DbError);
  conn_.execute("insert into billitems (bnum, inum) values (1, 1)");
  EXPECT_THROW(conn_.execute("insert into billitems (bnum, inum) values (1, 1)"), db::DbError);
}

TEST_P(DatabaseSchemaTest, ProceduresAreInstalled) {
  std::vector<std::string> names = procedureNames();
  EXPECT_EQ(names.size(), 6u);
  for (const auto& n : names) {
    auto c = conn_.query(GetParam() == TestEngine::Embedded
                             ? "select name from sys_procedures where name = :n"
                             : "select proname as name from pg_proc where proname = lower(:n)",
                         {[&] {
                           db::Parameter p;
                           p.name = "n";
                           p.value = Variant(n);
                           return p;
                         }()});
    EXPECT_TRUE(c->next()) << n;
  }
}

TEST(DatabaseSchemaSqlTest, ScriptsDifferOnlyInTheEnginesWords) {
  std::string pg = schemaSql(db::SqlFlavor::Postgres);
  std::string lite = schemaSql(db::SqlFlavor::Sqlite);
  EXPECT_NE(pg.find("CREATE TABLE Maccount"), std::string::npos);
  EXPECT_NE(pg.find("GENERATED BY DEFAULT AS IDENTITY"), std::string::npos);
  EXPECT_NE(pg.find("numeric(19,4)"), std::string::npos);
  EXPECT_EQ(pg.find("sys_procedures"), std::string::npos);
  EXPECT_NE(lite.find("INTEGER PRIMARY KEY AUTOINCREMENT"), std::string::npos);
  EXPECT_NE(lite.find("sys_procedures"), std::string::npos);
  EXPECT_EQ(lite.find("CREATE FUNCTION"), std::string::npos);
  EXPECT_NE(findTable("MACCOUNT"), nullptr);
  EXPECT_EQ(findTable("nosuch"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(BothEngines, DatabaseSchemaTest,
                         ::testing::Values(TestEngine::Embedded, TestEngine::PostgreSQL),
                         [](const auto& info) { return qz::testing::testEngineName(info.param); });

}  // namespace
}  // namespace qz::database
