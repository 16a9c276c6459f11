// Every dialect construct run on both engines: the T-SQL the system sends
// must give the same answer on the embedded engine and on PostgreSQL.
#include <gtest/gtest.h>

#include "platform/db/connection.h"
#include "tests/platform/test_databases.h"

namespace qz::db {
namespace {

using testing::TestDatabase;
using testing::TestEngine;

class DialectRunTest : public ::testing::TestWithParam<TestEngine> {
 protected:
  void SetUp() override {
    db_ = TestDatabase::create(GetParam());
    if (!db_) GTEST_SKIP() << "PostgreSQL test server not configured";
    conn_.setConnectionString(db_->connectionString());
    const bool pg = GetParam() == TestEngine::PostgreSQL;
    conn_.execute(std::string("create table nums(n int not null primary key, d ") +
                  (pg ? "timestamp(3)" : "datetime") + ", name varchar(20))");
    for (int i = 1; i <= 5; ++i) {
      ParamList p(3);
      p[0].name = "n";
      p[0].value = Variant(int32_t{i});
      p[1].name = "d";
      p[1].value = Variant(DateTime::fromParts(2026, 2, 23 + i, 13, 45, 7, 250));
      p[2].name = "name";
      p[2].value = Variant(i == 1 ? "top 1 [x]" : "n" + std::to_string(i));
      conn_.execute("insert into nums(n, d, name) values (:n, :d, :name)", p);
    }
    // The same procedure on each engine, in each engine's own form.
    if (pg) {
      conn_.execute(
          "create function add_one(x int) returns table(y int) "
          "language sql as 'select x + 1'");
    } else {
      conn_.execute(
          "insert into sys_procedures values ('add_one', '@x int', 'select @x + 1 as y')");
    }
  }

  // The rows of sql as text, "a,b;c,d".
  std::string run(std::string sql) {
    for (size_t at; (at = sql.find("{db}")) != std::string::npos;) sql.replace(at, 4, db_->name());
    Parameter year;
    year.name = "year";
    year.type = FieldType::Int32;
    year.value = Variant(int32_t{2026});
    RowSet rs = RowSet::readAll(*conn_.query(sql, {year}));
    std::string out;
    for (const auto& row : rs.rows) {
      if (!out.empty()) out += ';';
      for (size_t i = 0; i < row.size(); ++i) {
        if (i) out += ',';
        out += row[i].isNull() ? "NULL" : row[i].toText();
      }
    }
    return out;
  }

  std::unique_ptr<TestDatabase> db_;
  Connection conn_;
};

struct RunCase {
  const char* tsql;
  const char* expected;
};

const RunCase kQueries[] = {
    {"select top 2 n from nums order by n desc", "5;4"},
    {"select top (1) n from nums where n > 2 order by n", "3"},
    {"select count(*) from (select top 3 n from nums order by n) x", "3"},
    {"select n from dbo.nums where n = 1", "1"},
    {"select n from {db}.dbo.nums where n = 2", "2"},
    {"select n from {db}..nums where n = 3", "3"},
    {"select [n] from [nums] where [N] = 4", "4"},
    {"select name from nums where name = 'top 1 [x]'", "top 1 [x]"},
    {"select name from nums where name = N'n2'", "n2"},
    {"select count(*) from nums where name like 'N%'", "4"},
    {"select datepart(yyyy,d), datepart(yy,d), datepart(year,d) from nums where n = 5",
     "2026,2026,2026"},
    {"select datepart(qq,d), datepart(mm,d), datepart(dd,d), datepart(dy,d) from nums where n = 5",
     "1,2,28,59"},
    {"select datepart(hh,d), datepart(mi,d), datepart(ss,d), datepart(ms,d) from nums where n = 5",
     "13,45,7,250"},
    {"select datepart(dw,d), datepart(wk,d) from nums where n = 5", "7,9"},  // a Saturday
    {"select datepart(dw,d), datepart(wk,d) from nums where n = 1", "3,9"},  // a Tuesday
    {"select count(*) from nums where datepart(yyyy,d)=:year and datepart(mm,d)=2", "5"},
    {"select count(*) from nums where d < getdate()", "5"},
    {"select count(*) from nums where d >= cast('2026-02-27' as datetime)", "2"},
    {"select datepart(dd, cast('2026-03-01 10:00:00' as datetime))", "1"},
    // Week numbers at the year's edges: 2022-01-01 is a Saturday, 2024 a leap year.
    {"select datepart(wk, cast('2022-01-01' as datetime)), datepart(wk, cast('2022-01-02' as "
     "datetime)), datepart(dw, cast('2022-01-02' as datetime))",
     "1,2,1"},
    {"select datepart(wk, cast('2024-12-31' as datetime)), datepart(dy, cast('2024-12-31' as "
     "datetime)), datepart(q, cast('2024-12-31' as datetime))",
     "53,366,4"},
    {"select isnull(max(n), -1), isnull((select n from nums where n = 99), -1) from nums", "5,-1"},
    {"exec add_one 41", "42"},
    {"execute dbo.add_one :year", "2027"},
};

TEST_P(DialectRunTest, QueriesGiveTheSameAnswerOnEachEngine) {
  for (const RunCase& c : kQueries) {
    try {
      EXPECT_EQ(run(c.tsql), c.expected) << c.tsql;
    } catch (const DbError& e) {
      ADD_FAILURE() << c.tsql << ": " << e.what();
    }
  }
}

TEST_P(DialectRunTest, DeleteWithRepeatedTableName) {
  EXPECT_EQ(conn_.execute("delete nums from nums where n = 5"), 1);
  EXPECT_EQ(conn_.execute("delete x from nums x where x.n = 4"), 1);
  EXPECT_EQ(conn_.execute("delete nums where n = 3"), 1);
  EXPECT_EQ(run("select count(*) from nums"), "2");
}

TEST_P(DialectRunTest, UnknownConstructsReachTheEngine) {
  // TOP ... PERCENT is not rewritten: the engine's own error comes back.
  EXPECT_THROW(conn_.query("select top 50 percent n from nums"), DbError);
  EXPECT_THROW(conn_.query("select datepart(fortnight, d) from nums"), DbError);
}

// Every datepart unit by its long name and each abbreviation.
struct UnitNames {
  const char* unit;
  std::vector<const char*> abbreviations;
};
const UnitNames kUnits[] = {
    {"year", {"yy", "yyyy"}},   {"quarter", {"qq", "q"}}, {"month", {"mm", "m"}},
    {"dayofyear", {"dy", "y"}}, {"day", {"dd", "d"}},     {"week", {"wk", "ww"}},
    {"weekday", {"dw", "w"}},   {"hour", {"hh"}},         {"minute", {"mi", "n"}},
    {"second", {"ss", "s"}},    {"millisecond", {"ms"}},
};

// The long names' answers worked out by hand (weeks start on Sunday, week 1
// holds January 1) for the first dates of the table below.
struct HandCase {
  const char* date;
  int expected[11];  // in kUnits order
};
const HandCase kHandCases[] = {
    {"2022-01-01 00:00:00", {2022, 1, 1, 1, 1, 1, 7, 0, 0, 0, 0}},      // a Saturday
    {"2022-01-02 06:07:08.009", {2022, 1, 1, 2, 2, 2, 1, 6, 7, 8, 9}},  // a Sunday
    {"2000-02-29 12:34:56.789", {2000, 1, 2, 60, 29, 10, 3, 12, 34, 56, 789}},
    {"2024-12-31 23:59:59.997", {2024, 4, 12, 366, 31, 53, 3, 23, 59, 59, 997}},
    {"1900-03-01 01:02:03", {1900, 1, 3, 60, 1, 9, 5, 1, 2, 3, 0}},  // 1900 is no leap year
};

// Each unit under every name, over dates around year ends, leap days and the
// calendar's ends, run through the dialect on both engines: abbreviations
// answer as the long name, the engines answer alike, and the hand-worked
// dates give the hand-worked answers.
TEST(DatePartOracleTest, EveryUnitAndAbbreviationAgreesOnBothEngines) {
  std::vector<std::string> dates;
  for (const HandCase& h : kHandCases) dates.push_back(h.date);
  for (int y : {1, 1600, 1753, 1899, 1900, 1999, 2000, 2021, 2022, 2023, 2024, 2100, 9998}) {
    char buf[40];
    for (const char* md : {"01-01", "01-02", "01-03", "01-04", "01-05", "01-06", "01-07", "01-08",
                           "02-28", "03-01", "12-24", "12-28", "12-29", "12-30", "12-31"}) {
      std::snprintf(buf, sizeof buf, "%04d-%s %02zu:%02zu:%02zu.%03zu", y, md, dates.size() % 24,
                    dates.size() % 60, dates.size() * 7 % 60, dates.size() * 37 % 1000);
      dates.push_back(buf);
    }
  }
  dates.push_back("9999-12-31 23:59:59.999");
  std::string insert = "insert into dates(n, d) values ";
  for (size_t i = 0; i < dates.size(); ++i)
    insert += (i ? ", (" : "(") + std::to_string(i) + ", cast('" + dates[i] + "' as datetime))";
  std::string select = "select n";
  for (const UnitNames& u : kUnits) {
    select += std::string(", datepart(") + u.unit + ", d)";
    for (const char* a : u.abbreviations) select += std::string(", datepart(") + a + ", d)";
  }
  select += " from dates order by n";

  std::vector<std::vector<std::string>> answers[2];
  for (TestEngine engine : {TestEngine::Embedded, TestEngine::PostgreSQL}) {
    auto db = TestDatabase::create(engine);
    if (!db) continue;
    Connection conn;
    conn.setConnectionString(db->connectionString());
    conn.execute(std::string("create table dates(n int not null primary key, d ") +
                 (engine == TestEngine::PostgreSQL ? "timestamp(3))" : "datetime)"));
    conn.execute(insert);
    RowSet rs = RowSet::readAll(*conn.query(select));
    ASSERT_EQ(rs.rows.size(), dates.size());
    auto& mine = answers[engine == TestEngine::PostgreSQL];
    for (const auto& row : rs.rows) {
      mine.emplace_back();
      for (size_t c = 1; c < row.size(); ++c) mine.back().push_back(row[c].toText());
    }
    for (size_t i = 0; i < dates.size(); ++i) {
      size_t col = 0;
      for (size_t u = 0; u < std::size(kUnits); ++u) {
        const std::string& name = mine[i][col++];
        for (const char* a : kUnits[u].abbreviations)
          EXPECT_EQ(mine[i][col++], name)
              << engine << " " << dates[i] << ": " << a << " vs " << kUnits[u].unit;
        if (i < std::size(kHandCases))
          EXPECT_EQ(name, std::to_string(kHandCases[i].expected[u]))
              << engine << " " << dates[i] << ": " << kUnits[u].unit;
      }
    }
  }
  if (answers[1].empty())
    GTEST_SKIP() << "PostgreSQL test server not configured: engines not compared";
  for (size_t i = 0; i < dates.size(); ++i)
    EXPECT_EQ(answers[0][i], answers[1][i]) << dates[i] << ": embedded and PostgreSQL differ";
}

INSTANTIATE_TEST_SUITE_P(Engines, DialectRunTest,
                         ::testing::Values(TestEngine::Embedded, TestEngine::PostgreSQL),
                         [](const auto& info) {
                           return std::string(testing::testEngineName(info.param));
                         });

}  // namespace
}  // namespace qz::db
