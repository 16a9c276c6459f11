// Connection, Query and StoredProc on both engines: engine choice, typed
// parameters and values, transactions, error texts. Each case runs on a
// fresh database of the engine under test; PostgreSQL cases skip loudly
// when no test server is configured.
#include <gtest/gtest.h>

#include "platform/db/connection.h"
#include "tests/platform/test_databases.h"

namespace qz::db {
namespace {

using testing::TestDatabase;
using testing::TestEngine;

class ConnectionTest : public ::testing::TestWithParam<TestEngine> {
 protected:
  void SetUp() override {
    db_ = TestDatabase::create(GetParam());
    if (!db_) GTEST_SKIP() << "PostgreSQL test server not configured";
    conn_.setConnectionString(db_->connectionString());
  }
  void TearDown() override { conn_.close(); }

  // The single value of a one-row, one-column query.
  Variant scalar(std::string_view sql, const ParamList& params = {}) {
    auto c = conn_.query(sql, params);
    EXPECT_TRUE(c->next()) << sql;
    Variant v = c->row().at(0);
    EXPECT_FALSE(c->next()) << sql;
    return v;
  }

  static Parameter param(std::string name, FieldType type, Variant value) {
    Parameter p;
    p.name = std::move(name);
    p.type = type;
    p.value = std::move(value);
    return p;
  }

  std::unique_ptr<TestDatabase> db_;
  Connection conn_;
};

TEST_P(ConnectionTest, OpensFromComposedTextAndReportsEngine) {
  EXPECT_FALSE(conn_.isOpen());
  EXPECT_EQ(conn_.engine(),
            GetParam() == TestEngine::Embedded ? EngineKind::Embedded : EngineKind::PostgreSQL);
  conn_.open();
  EXPECT_TRUE(conn_.isOpen());
  EXPECT_EQ(conn_.engine(),
            GetParam() == TestEngine::Embedded ? EngineKind::Embedded : EngineKind::PostgreSQL);
  EXPECT_EQ(scalar("select 1+1").toInt32(), 2);
  conn_.close();
  EXPECT_FALSE(conn_.isOpen());
  // Connections open when first used.
  EXPECT_EQ(scalar("select 40+2").toInt32(), 42);
  EXPECT_TRUE(conn_.isOpen());
}

TEST_P(ConnectionTest, MissingDatabaseFailsWithLoginText) {
  Connection other;
  other.setConnectionString(db_->connectionStringFor("no_such_db_here"));
  try {
    other.open();
    FAIL() << "opened a database that does not exist";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("no_such_db_here"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(other.isOpen());
}

TEST_P(ConnectionTest, ParametersOfEveryTypeRoundTripWithNull) {
  // The column types each engine's schema uses for the same fields.
  const bool pg = GetParam() == TestEngine::PostgreSQL;
  conn_.execute(std::string("create table vals(id int not null primary key, s varchar(20), "
                            "i16 smallint, i32 int, i64 bigint, f float, ") +
                (pg ? "m numeric(19,4), d decimal(18,3), b boolean, t timestamp(3), bin bytea)"
                    : "m money, d decimal(18,3), b bit, t datetime, bin image)"));
  ParamList p = {
      param("id", FieldType::Int32, Variant(int32_t{1})),
      param("s", FieldType::String, Variant("它's \"q\"")),
      param("i16", FieldType::Int16, Variant(int16_t{-7})),
      param("i32", FieldType::Int32, Variant(int32_t{2000000000})),
      param("i64", FieldType::Int64, Variant(int64_t{9000000000LL})),
      param("f", FieldType::Float, Variant(2.5)),
      param("m", FieldType::Currency, Variant(Currency{123456})),  // 12.3456
      param("d", FieldType::Decimal, Variant::decimal("1234.5")),
      param("b", FieldType::Boolean, Variant(true)),
      param("t", FieldType::DateTime, Variant(DateTime::fromParts(2026, 2, 28, 13, 45, 7, 250))),
      param("bin", FieldType::Bytes, Variant::bytes(std::string("\0\x01\xff'x", 5))),
  };
  EXPECT_EQ(conn_.execute(
                "insert into vals values (:id, :s, :i16, :i32, :i64, :f, :m, :d, :b, :t, :bin)", p),
            1);
  ParamList nulls = {param("id", FieldType::Int32, Variant(int32_t{2}))};
  for (const char* n : {"s", "i16", "i32", "i64", "f", "m", "d", "b", "t", "bin"})
    nulls.push_back(param(n, FieldType::String, Variant::null()));
  conn_.execute("insert into vals values (:id, :s, :i16, :i32, :i64, :f, :m, :d, :b, :t, :bin)",
                nulls);

  auto c = conn_.query("select * from vals order by id");
  const auto& f = c->fields();
  ASSERT_EQ(f.size(), 11u);
  EXPECT_EQ(f[0].type, FieldType::Int32);
  EXPECT_TRUE(f[0].key);
  EXPECT_TRUE(f[0].required);
  EXPECT_EQ(f[1].type, FieldType::String);
  EXPECT_EQ(f[1].size, 20);
  EXPECT_FALSE(f[1].required);
  EXPECT_EQ(f[2].type, FieldType::Int16);
  EXPECT_EQ(f[3].type, FieldType::Int32);
  EXPECT_EQ(f[4].type, FieldType::Int64);
  EXPECT_EQ(f[5].type, FieldType::Float);
  EXPECT_EQ(f[6].type, FieldType::Currency);
  EXPECT_EQ(f[7].type, FieldType::Decimal);
  EXPECT_EQ(f[7].precision, 18);
  EXPECT_EQ(f[7].scale, 3);
  EXPECT_EQ(f[8].type, FieldType::Boolean);
  EXPECT_EQ(f[9].type, FieldType::DateTime);
  EXPECT_EQ(f[10].type, FieldType::Bytes);

  ASSERT_TRUE(c->next());
  const auto& r = c->row();
  EXPECT_EQ(r[0], Variant(int32_t{1}));
  EXPECT_EQ(r[1], Variant("它's \"q\""));
  EXPECT_EQ(r[2], Variant(int16_t{-7}));
  EXPECT_EQ(r[3], Variant(int32_t{2000000000}));
  EXPECT_EQ(r[4], Variant(int64_t{9000000000LL}));
  EXPECT_EQ(r[5], Variant(2.5));
  EXPECT_EQ(r[6], Variant(Currency{123456}));
  EXPECT_EQ(r[7], Variant::decimal("1234.500"));  // the column's scale
  EXPECT_EQ(r[8], Variant(true));
  EXPECT_EQ(r[9], Variant(DateTime::fromParts(2026, 2, 28, 13, 45, 7, 250)));
  EXPECT_EQ(r[10], Variant::bytes(std::string("\0\x01\xff'x", 5)));
  ASSERT_TRUE(c->next());
  for (size_t i = 1; i < c->row().size(); ++i) EXPECT_TRUE(c->row()[i].isNull()) << i;
  EXPECT_FALSE(c->next());
}

TEST_P(ConnectionTest, TextValueForNumericParameterIsConverted) {
  conn_.execute("create table nums(n int)");
  conn_.execute("insert into nums values (:n)", {param("n", FieldType::Int32, Variant("17"))});
  EXPECT_EQ(
      scalar("select n from nums where n = :n", {param("n", FieldType::Int32, Variant("17"))}),
      Variant(int32_t{17}));
}

TEST_P(ConnectionTest, ParameterNamesMatchWithoutCaseAndRepeat) {
  conn_.execute("create table pairs(a int, b int)");
  conn_.execute("insert into pairs values (:Val, :VAL + 1)",
                {param("val", FieldType::Int32, Variant(int32_t{5}))});
  auto c = conn_.query("select a, b from pairs");
  ASSERT_TRUE(c->next());
  EXPECT_EQ(c->row()[0].toInt32(), 5);
  EXPECT_EQ(c->row()[1].toInt32(), 6);
}

TEST_P(ConnectionTest, MissingParameterIsAnError) {
  EXPECT_THROW(conn_.query("select :nothere"), DbError);
}

TEST_P(ConnectionTest, TransactionsCommitAndRollBack) {
  conn_.execute("create table t(n int)");
  EXPECT_FALSE(conn_.inTransaction());
  conn_.beginTrans();
  EXPECT_TRUE(conn_.inTransaction());
  conn_.execute("insert into t values (1)");
  conn_.rollbackTrans();
  EXPECT_FALSE(conn_.inTransaction());
  EXPECT_EQ(scalar("select count(*) from t").toInt32(), 0);

  conn_.beginTrans();
  conn_.execute("insert into t values (2)");
  EXPECT_THROW(conn_.beginTrans(), DbError);  // one at a time
  EXPECT_TRUE(conn_.inTransaction());
  conn_.commitTrans();
  EXPECT_FALSE(conn_.inTransaction());
  EXPECT_EQ(scalar("select count(*) from t").toInt32(), 1);
  EXPECT_THROW(conn_.commitTrans(), DbError);  // nothing to commit
}

TEST_P(ConnectionTest, CloseRollsBackOpenTransaction) {
  conn_.execute("create table t(n int)");
  conn_.beginTrans();
  conn_.execute("insert into t values (1)");
  conn_.close();
  EXPECT_EQ(scalar("select count(*) from t").toInt32(), 0);
}

TEST_P(ConnectionTest, OtherConnectionSeesOnlyCommittedRows) {
  conn_.execute("create table t(n int)");
  Connection other;
  other.setConnectionString(db_->connectionString());
  conn_.beginTrans();
  conn_.execute("insert into t values (1)");
  auto before = other.query("select count(*) from t");
  ASSERT_TRUE(before->next());
  EXPECT_EQ(before->row()[0].toInt32(), 0);
  before.reset();
  conn_.commitTrans();
  auto after = other.query("select count(*) from t");
  ASSERT_TRUE(after->next());
  EXPECT_EQ(after->row()[0].toInt32(), 1);
}

TEST_P(ConnectionTest, ErrorsCarryTheEnginesText) {
  try {
    conn_.query("select * from no_such_table_x");
    FAIL();
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("no_such_table_x"), std::string::npos) << e.what();
  }
  // The connection stays usable after an error.
  EXPECT_EQ(scalar("select 3").toInt32(), 3);
}

TEST_P(ConnectionTest, ExecuteCountsRowsAndQueryWithoutRowsFails) {
  conn_.execute("create table t(n int)");
  EXPECT_EQ(conn_.execute("insert into t values (1); insert into t values (2)"), 2);
  EXPECT_EQ(conn_.execute("update t set n = n + 10"), 2);
  EXPECT_EQ(conn_.execute("delete from t where n = 11"), 1);
  try {
    conn_.query("update t set n = 0");
    FAIL();
  } catch (const DbError& e) {
    EXPECT_STREQ(e.what(), "CommandText does not return a result set");
  }
  EXPECT_THROW(conn_.execute("  -- only a comment\r\n"), DbError);
}

TEST_P(ConnectionTest, BatchRunsInOrderAndLastStatementGivesRows) {
  conn_.execute("create table t(n int)");
  RowSet rs = RowSet::readAll(*conn_.query(
      "insert into t values (:a); insert into t values (:a + 1);\r\nselect n from t order by n",
      {param("a", FieldType::Int32, Variant(int32_t{7}))}));
  ASSERT_EQ(rs.rows.size(), 2u);
  EXPECT_EQ(rs.rows[1][0].toInt32(), 8);
  // A failing statement stops the batch: what follows does not run.
  EXPECT_THROW(conn_.execute("insert into t values (1); insert into nowhere values (2); "
                             "insert into t values (3)"),
               DbError);
  EXPECT_EQ(scalar("select count(*) from t where n in (1, 3)").toInt32(), 1);
}

TEST_P(ConnectionTest, EmptyResultKeepsColumns) {
  conn_.execute("create table bills(num int not null primary key, cltname varchar(50))");
  auto c = conn_.query("select * from bills where 1=2");
  ASSERT_EQ(c->fields().size(), 2u);
  EXPECT_EQ(c->fields()[1].name, "cltname");
  EXPECT_EQ(c->fields()[1].size, 50);
  EXPECT_FALSE(c->next());
}

TEST_P(ConnectionTest, TableFieldsGiveKeysAndRequired) {
  conn_.execute(
      "create table items(bnum int not null, inum int not null, name varchar(10), "
      "primary key (bnum, inum))");
  const auto f = conn_.tableFields("items");
  ASSERT_EQ(f.size(), 3u);
  EXPECT_TRUE(f[0].key && f[1].key);
  EXPECT_FALSE(f[2].key);
  EXPECT_TRUE(f[0].required);
  EXPECT_FALSE(f[2].required);
}

// ------------------------------------------------------------------ Query

TEST_P(ConnectionTest, QueryLinesAndParametersFollowTheText) {
  conn_.execute("create table staffer(id varchar(6), deptid varchar(6))");
  conn_.execute(
      "insert into staffer values ('a1', '01'); insert into staffer values ('a2', '011');"
      "insert into staffer values ('b1', '02')");
  Query q(&conn_);
  q.setSql({"select * from staffer where deptid like :id", "  order by deptid,id"});
  ASSERT_EQ(q.params().size(), 1u);
  q.param("ID")->type = FieldType::String;
  q.param("id")->value = Variant("01%");
  auto rows = RowSet::readAll(*q.open());
  ASSERT_EQ(rows.rows.size(), 2u);
  EXPECT_EQ(rows.rows[1][0], Variant("a2"));

  // Replacing one line re-reads the parameters; values of kept names stay.
  q.setLine(1, "  and id like :pfx order by id");
  ASSERT_EQ(q.params().size(), 2u);
  EXPECT_EQ(q.params()[0].value, Variant("01%"));
  EXPECT_TRUE(q.params()[1].value.isUnassigned());
  q.param("pfx")->value = Variant("a1");
  rows = RowSet::readAll(*q.open());
  ASSERT_EQ(rows.rows.size(), 1u);

  q.setSql({"update staffer set deptid = '09' where id = :pfx"});
  ASSERT_EQ(q.params().size(), 1u);
  EXPECT_EQ(q.params()[0].value, Variant("a1"));
  EXPECT_EQ(q.execSql(), 1);
  EXPECT_EQ(q.text(), "update staffer set deptid = '09' where id = :pfx");
}

TEST(EngineChoiceTest, DataSourcePicksTheEngine) {
  struct Case {
    const char* text;
    EngineKind engine;
  } cases[] = {
      {"Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;Password=;Initial Catalog=qz;"
       "Data Source=;Use Procedure for Prepare=1;Initial File Name=;Use Encryption for Data=False",
       EngineKind::Embedded},
      {"Provider=SQLOLEDB.1;Initial Catalog=qz;Data Source=(embedded)", EngineKind::Embedded},
      {"provider=SQLOLEDB.1;initial catalog=qz;DATA SOURCE=(Embedded)", EngineKind::Embedded},
      {"Provider=SQLOLEDB.1;Initial Catalog=qz", EngineKind::Embedded},  // no Data Source at all
      {"Provider=SQLOLEDB.1;Initial Catalog=qz;Data Source= ", EngineKind::Embedded},
      {"Provider=SQLOLEDB.1;Initial Catalog=qz;Data Source=.", EngineKind::PostgreSQL},
      {"Provider=SQLOLEDB.1;Integrated Security=SSPI;Data Source=dbhost,5433",
       EngineKind::PostgreSQL},
      {"Provider=SQLOLEDB.1;Data Source=(local);Data Source=", EngineKind::Embedded},  // last wins
  };
  for (const Case& c : cases) {
    Connection conn;
    conn.setConnectionString(c.text);
    EXPECT_EQ(conn.engine(), c.engine) << c.text;
    EXPECT_FALSE(conn.isOpen());
  }
}

TEST(EngineChoiceTest, ReplacingTheTextClosesTheConnection) {
  auto db = testing::TestDatabase::create(TestEngine::Embedded);
  Connection conn;
  conn.setConnectionString(db->connectionString());
  conn.execute("create table t(n int)");
  conn.beginTrans();
  conn.execute("insert into t values (1)");
  conn.setConnectionString(db->connectionStringFor("master"));
  EXPECT_FALSE(conn.isOpen());
  EXPECT_FALSE(conn.inTransaction());
  conn.setConnectionString(db->connectionString());
  auto c = conn.query("select count(*) from t");
  ASSERT_TRUE(c->next());
  EXPECT_EQ(c->row()[0].toInt32(), 0);  // the open transaction was rolled back
}

TEST(ParamNamesTest, MarkersOutsideLiteralsCommentsAndCasts) {
  EXPECT_EQ(parseParamNames("select ':no' as x, a::int, b := 1 -- :no\n"
                            "/* :no */ from t where a=:one and b=:Two and c=:ONE"),
            (std::vector<std::string>{"one", "Two"}));
  EXPECT_EQ(parseParamNames("select [:no], \":no\" from t where x=:y1_z"),
            (std::vector<std::string>{"y1_z"}));
  EXPECT_TRUE(parseParamNames("select 1").empty());
}

INSTANTIATE_TEST_SUITE_P(Engines, ConnectionTest,
                         ::testing::Values(TestEngine::Embedded, TestEngine::PostgreSQL),
                         [](const auto& info) {
                           return std::string(testing::testEngineName(info.param));
                         });

}  // namespace
}  // namespace qz::db
