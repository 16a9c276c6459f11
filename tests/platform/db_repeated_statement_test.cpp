// Statements run again and again with the same text (the resolver's inserts
// and updates, the procedures' statements): every run sees its own values,
// a failed run leaves nothing behind for the next one, and a schema change
// between runs is honoured. Both engines; PostgreSQL cases skip loudly when
// no test server is configured.
#include <gtest/gtest.h>

#include "platform/db/connection.h"
#include "tests/platform/test_databases.h"

namespace qz::db {
namespace {

using testing::TestDatabase;
using testing::TestEngine;

class RepeatedStatementTest : public ::testing::TestWithParam<TestEngine> {
 protected:
  void SetUp() override {
    db_ = TestDatabase::create(GetParam());
    if (!db_) GTEST_SKIP() << "PostgreSQL test server not configured";
    conn_.setConnectionString(db_->connectionString());
    conn_.execute("create table t (a int primary key, b varchar(10) check (b <> 'bad'))");
  }
  void TearDown() override { conn_.close(); }

  int64_t insert(int a, Variant b) {
    ParamList p(2);
    p[0].name = "a";
    p[0].type = FieldType::Int32;
    p[0].value = Variant(int32_t(a));
    p[1].name = "b";
    p[1].type = FieldType::String;
    p[1].value = std::move(b);
    return conn_.execute(kInsert, p);
  }

  // "a=b" for every row by a.
  std::string contents() {
    RowSet rs = RowSet::readAll(*conn_.query("select a, b from t order by a"));
    std::string out;
    for (const auto& r : rs.rows)
      out += std::to_string(r[0].toInt32()) + "=" + (r[1].isNull() ? "NULL" : r[1].toText()) + ";";
    return out;
  }

  static constexpr const char* kInsert = "insert into t (a, b) values (:a, :b)";
  std::unique_ptr<TestDatabase> db_;
  Connection conn_;
};

TEST_P(RepeatedStatementTest, EachRunBindsItsOwnValuesAndCountsItsRows) {
  EXPECT_EQ(insert(1, Variant("x")), 1);
  EXPECT_EQ(insert(2, Variant::null()), 1);
  EXPECT_EQ(insert(3, Variant("z")), 1);
  EXPECT_EQ(contents(), "1=x;2=NULL;3=z;");

  ParamList p(1);
  p[0].name = "b";
  p[0].value = Variant("z");
  const char* update = "update t set b = 'w' where b = :b or b is null";
  EXPECT_EQ(conn_.execute(update, p), 2);
  EXPECT_EQ(conn_.execute(update, p), 0);  // nothing left to change
  p[0].value = Variant("w");
  EXPECT_EQ(conn_.execute(update, p), 2);
}

TEST_P(RepeatedStatementTest, FailedRunLeavesTheNextRunUnharmed) {
  insert(1, Variant("x"));
  EXPECT_THROW(insert(1, Variant("dup")), DbError);  // duplicate key
  EXPECT_THROW(insert(2, Variant("bad")), DbError);  // check constraint
  EXPECT_EQ(insert(2, Variant("y")), 1);
  EXPECT_EQ(contents(), "1=x;2=y;");

  // The same inside a transaction that is then rolled back, and one that
  // commits.
  conn_.beginTrans();
  insert(3, Variant("gone"));
  conn_.rollbackTrans();
  conn_.beginTrans();
  insert(4, Variant("kept"));
  conn_.commitTrans();
  EXPECT_EQ(contents(), "1=x;2=y;4=kept;");
}

TEST_P(RepeatedStatementTest, SchemaChangedBetweenRunsIsHonoured) {
  insert(1, Variant("x"));
  // The table is rebuilt with its columns in another order and a new one.
  conn_.execute("drop table t");
  conn_.execute("create table t (c int default 7, b varchar(10), a int primary key)");
  EXPECT_EQ(insert(2, Variant("y")), 1);
  RowSet rs = RowSet::readAll(*conn_.query("select a, b, c from t"));
  ASSERT_EQ(rs.rows.size(), 1u);
  EXPECT_EQ(rs.rows[0][0].toInt32(), 2);
  EXPECT_EQ(rs.rows[0][1].toText(), "y");
  EXPECT_EQ(rs.rows[0][2].toInt32(), 7);

  // A table that no longer exists fails each time with the engine's text.
  conn_.execute("drop table t");
  for (int i = 0; i < 2; ++i) {
    try {
      insert(3, Variant("z"));
      FAIL() << "an insert into a dropped table succeeded";
    } catch (const DbError& e) {
      EXPECT_NE(std::string(e.what()).find("t"), std::string::npos) << e.what();
    }
  }
}

TEST_P(RepeatedStatementTest, QueryByKeyRunAgainSeesItsOwnValuesAndTheCurrentSchema) {
  insert(1, Variant("x"));
  insert(2, Variant("y"));
  const char* lookup = "select b from t where a = :a";
  auto byKey = [&](int a) {
    ParamList p(1);
    p[0].name = "a";
    p[0].type = FieldType::Int32;
    p[0].value = Variant(int32_t(a));
    return conn_.query(lookup, p);
  };
  // Two cursors of the same text open at once, read in turn, then again.
  auto one = byKey(1);
  auto two = byKey(2);
  ASSERT_TRUE(two->next());
  ASSERT_TRUE(one->next());
  EXPECT_EQ(one->row()[0].toText(), "x");
  EXPECT_EQ(two->row()[0].toText(), "y");
  one.reset();
  two.reset();
  for (int round = 0; round < 2; ++round) {
    auto c = byKey(2);
    ASSERT_TRUE(c->next());
    EXPECT_EQ(c->row()[0].toText(), "y");
    EXPECT_FALSE(c->next());
  }
  EXPECT_FALSE(byKey(9)->next());
  // A cursor left half-read while the table is written to.
  auto open = byKey(1);
  insert(3, Variant("z"));
  ASSERT_TRUE(open->next());
  open.reset();
  conn_.execute("drop table t");
  conn_.execute("create table t (b varchar(10), a int primary key)");
  insert(1, Variant("new"));
  auto c = byKey(1);
  ASSERT_TRUE(c->next());
  EXPECT_EQ(c->row()[0].toText(), "new");
}

TEST_P(RepeatedStatementTest, ManyDifferentTextsAndAReopenedConnection) {
  // More distinct texts than any statement or translation cache keeps.
  for (int i = 0; i < 300; ++i) {
    ParamList p(1);
    p[0].name = "a";
    p[0].value = Variant(int32_t(i));
    conn_.execute("insert into t (a, b) values (:a, '" + std::to_string(i % 7) + "')", p);
  }
  EXPECT_EQ(RowSet::readAll(*conn_.query("select a from t")).rows.size(), 300u);
  conn_.close();
  conn_.open();
  EXPECT_EQ(insert(1000, Variant("again")), 1);
  EXPECT_EQ(RowSet::readAll(*conn_.query("select a from t")).rows.size(), 301u);
}

// One connection object moved from one engine to the other runs the same
// T-SQL text in each engine's own dialect.
TEST(RepeatedStatementAcrossEnginesTest, ATextIsTranslatedForTheEngineItRunsOn) {
  auto embedded = TestDatabase::create(TestEngine::Embedded);
  auto pg = TestDatabase::create(TestEngine::PostgreSQL);
  if (!pg) GTEST_SKIP() << "PostgreSQL test server not configured";
  const char* top = "select top 1 a from t order by a desc";
  Connection conn;
  for (const TestDatabase* db : {embedded.get(), pg.get(), embedded.get()}) {
    conn.setConnectionString(db->connectionString());
    conn.execute("create table if not exists t (a int primary key)");
    conn.execute("delete from t");
    conn.execute("insert into t (a) values (1); insert into t (a) values (2)");
    RowSet rs = RowSet::readAll(*conn.query(top));
    ASSERT_EQ(rs.rows.size(), 1u) << testing::testEngineName(db->engine());
    EXPECT_EQ(rs.rows[0][0].toInt32(), 2);
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, RepeatedStatementTest,
                         ::testing::Values(TestEngine::Embedded, TestEngine::PostgreSQL),
                         [](const auto& info) {
                           return std::string(testing::testEngineName(info.param));
                         });

}  // namespace
}  // namespace qz::db
