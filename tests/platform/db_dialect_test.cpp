// The T-SQL dialect layer as pure rewriting: each construct for both
// flavours, literals and comments left alone, unknown forms passed through.
#include <gtest/gtest.h>

#include "platform/core/ascii.h"
#include "platform/db/dialect.h"
#include "platform/db/sql_lexer.h"

namespace qz::db {
namespace {

std::string rewrite(std::string_view sql, SqlFlavor flavor) {
  DialectOptions opt;
  opt.flavor = flavor;
  opt.qualify = [flavor](std::string_view db) -> std::string {
    if (flavor == SqlFlavor::Postgres) return "";
    return AsciiLower(db) == "qz" ? "main." : AsciiLower(db) + ".";
  };
  const auto st = translateSql(sql, opt);
  EXPECT_EQ(st.size(), 1u) << sql;
  if (st.empty()) return "<none>";
  EXPECT_EQ(st[0].kind, DialectStatement::Kind::Sql) << sql;
  return st[0].sql;
}

struct RewriteCase {
  const char* tsql;
  const char* sqlite;
  const char* postgres;
};

const RewriteCase kCases[] = {
    // TOP
    {"select top 1 * from master.dbo.sysdevices where cntrltype=2",
     "select * from master.sysdevices where cntrltype=2 LIMIT 1",
     "select * from sysdevices where cntrltype=2 LIMIT 1"},
    {"SELECT DISTINCT TOP (3) a FROM t ORDER BY a", "SELECT DISTINCT a FROM t ORDER BY a LIMIT 3",
     "SELECT DISTINCT a FROM t ORDER BY a LIMIT 3"},
    {"select * from (select top 2 a from t order by a) x where a > 0",
     "select * from (select a from t order by a LIMIT 2) x where a > 0",
     "select * from (select a from t order by a LIMIT 2) x where a > 0"},
    {"select top 10 percent * from t", "select top 10 percent * from t",
     "select top 10 percent * from t"},
    {"select top :n a from t\r\n", "select a from t LIMIT ?1\r\n", "select a from t LIMIT $1\r\n"},
    // qualified names
    {"select * from qz.dbo.bills", "select * from main.bills", "select * from bills"},
    {"select * from qz..bills", "select * from main.bills", "select * from bills"},
    {"select * from dbo.bills b where b.num = 1", "select * from bills b where b.num = 1",
     "select * from bills b where b.num = 1"},
    {"select * from [qz].[dbo].[Bill Items]", "select * from main.\"Bill Items\"",
     "select * from \"bill items\""},
    // datepart
    {"select * from gz where datepart(yyyy,ndate)=:year and datepart(mm,ndate)=:month",
     "select * from gz where datepart('year',ndate)=?1 and datepart('month',ndate)=?2",
     "select * from gz where CAST(EXTRACT(YEAR FROM (ndate)) AS integer)=$1 and "
     "CAST(EXTRACT(MONTH FROM (ndate)) AS integer)=$2"},
    {"select datepart(dw, getdate())", "select datepart('weekday', getdate())",
     "select (CAST(EXTRACT(DOW FROM ( LOCALTIMESTAMP(3))) AS integer) + 1)"},
    {"select datepart(fortnight, d) from t", "select datepart(fortnight, d) from t",
     "select datepart(fortnight, d) from t"},
    // getdate, cast
    {"select getdate()", "select getdate()", "select LOCALTIMESTAMP(3)"},
    {"select cast('2026-01-05' as datetime)", "select qz_datetime('2026-01-05' )",
     "select CAST('2026-01-05' AS timestamp(3))"},
    {"select cast(x as int) from t", "select cast(x as int) from t",
     "select cast(x as int) from t"},
    // delete ... from
    {"delete bills from bills where num=:n", "delete FROM bills where num=?1",
     "delete FROM bills where num=$1"},
    {"delete b from bills b where b.num=1", "delete FROM bills AS b where b.num=1",
     "delete FROM bills AS b where b.num=1"},
    {"delete [b] from [Bills] as [b]", "delete FROM \"Bills\" AS \"b\"",
     "delete FROM \"bills\" AS \"b\""},
    {"delete bills where num=1", "delete FROM bills where num=1", "delete FROM bills where num=1"},
    {"delete from bills where num=1", "delete from bills where num=1",
     "delete from bills where num=1"},
    {"delete x from bills where num=1", "delete x from bills where num=1",
     "delete x from bills where num=1"},
    // brackets, quotes, N'...'
    {"select [Name], \"Kind\" from [Staff]", "select \"Name\", \"Kind\" from \"Staff\"",
     "select \"name\", \"kind\" from \"staff\""},
    {"select N'销售收款'", "select '销售收款'", "select '销售收款'"},
    // LIKE ignores case on every engine
    {"select * from staffer where deptid like :id and not (id Like 'a%')",
     "select * from staffer where deptid like ?1 and not (id Like 'a%')",
     "select * from staffer where deptid ILIKE $1 and not (id ILIKE 'a%')"},
    // isnull as a function only
    {"select isnull(a, 0) as isnull from t", "select coalesce(a, 0) as isnull from t",
     "select coalesce(a, 0) as isnull from t"},
    // casts and assignments are not markers
    {"select a::int, :b from t", "select a::int, ?1 from t", "select a::int, $1 from t"},
};

TEST(DialectTest, RewritesEachConstructForBothEngines) {
  for (const RewriteCase& c : kCases) {
    EXPECT_EQ(rewrite(c.tsql, SqlFlavor::Sqlite), c.sqlite) << c.tsql;
    EXPECT_EQ(rewrite(c.tsql, SqlFlavor::Postgres), c.postgres) << c.tsql;
  }
}

TEST(DialectTest, LiteralsAndCommentsAreNeverRewritten) {
  const char* sql =
      "select 'top 1 [x] dbo.t :p getdate() datepart(yy,d)' as s, -- top 1 :q [y]\r\n"
      " /* delete t from t; exec p */ \"dbo\" from t where a = 'it''s :r'";
  DialectOptions opt;
  opt.flavor = SqlFlavor::Sqlite;
  const auto st = translateSql(sql, opt);
  ASSERT_EQ(st.size(), 1u);
  EXPECT_EQ(st[0].sql, sql);
  EXPECT_TRUE(st[0].markers.empty());
}

TEST(DialectTest, MarkersNumberDistinctNamesWithoutCase) {
  DialectOptions opt;
  opt.flavor = SqlFlavor::Postgres;
  const auto st = translateSql("select :A, :b, :a, :B2", opt);
  ASSERT_EQ(st.size(), 1u);
  EXPECT_EQ(st[0].sql, "select $1, $2, $1, $3");
  EXPECT_EQ(st[0].markers, (std::vector<std::string>{"A", "b", "B2"}));
}

TEST(DialectTest, BatchesSplitOutsideLiteralsAndBlocks) {
  DialectOptions opt;
  const auto st = translateSql(
      "insert into t values ('a;b'); ; -- c;\n"
      "create trigger tr after insert on t begin update t set x = 1; "
      "select case when 1 then 2 end; end;"
      "select 1",
      opt);
  ASSERT_EQ(st.size(), 3u);
  EXPECT_EQ(st[0].sql, "insert into t values ('a;b')");
  EXPECT_NE(st[1].sql.find("end"), std::string::npos);
  EXPECT_EQ(st[2].sql, "select 1");
  EXPECT_TRUE(translateSql("  -- nothing\r\n ; ", opt).empty());
}

TEST(DialectTest, ExecBecomesNativeCallWithTypedArguments) {
  DialectOptions opt;
  const auto st =
      translateSql("exec QZ_backup 'disk','qz_backup','e:\\qz_backup.dat','qz',0,1,''", opt);
  ASSERT_EQ(st.size(), 1u);
  ASSERT_EQ(st[0].kind, DialectStatement::Kind::Exec);
  EXPECT_EQ(st[0].procedure, "QZ_backup");
  EXPECT_EQ(st[0].database, "");
  ASSERT_EQ(st[0].args.size(), 7u);
  EXPECT_EQ(st[0].args[2].value, Variant("e:\\qz_backup.dat"));
  EXPECT_EQ(st[0].args[4].value, Variant(int32_t{0}));
  EXPECT_EQ(st[0].args[6].value, Variant(""));

  const auto q = translateSql(
      "EXECUTE qz.dbo.hpt_backup 'qz','qz1', :from, -2.5, NULL, @out = 'x', :o OUTPUT", opt);
  ASSERT_EQ(q[0].kind, DialectStatement::Kind::Exec);
  EXPECT_EQ(q[0].database, "qz");
  EXPECT_EQ(q[0].procedure, "hpt_backup");
  ASSERT_EQ(q[0].args.size(), 7u);
  EXPECT_EQ(q[0].args[2].param, "from");
  EXPECT_EQ(q[0].args[3].value, Variant::decimal("-2.5"));
  EXPECT_TRUE(q[0].args[4].value.isNull());
  EXPECT_EQ(q[0].args[5].name, "@out");
  EXPECT_TRUE(q[0].args[6].output);

  opt.flavor = SqlFlavor::Postgres;
  const auto pg = translateSql("exec qz.dbo.hpt_backup 'qz', N'q''1', :from, @x = 3", opt);
  ASSERT_EQ(pg[0].kind, DialectStatement::Kind::Sql);
  EXPECT_EQ(pg[0].sql, "SELECT * FROM \"hpt_backup\"('qz', 'q''1', $1, x => 3)");
}

TEST(DialectTest, MalformedExecPassesThrough) {
  DialectOptions opt;
  const auto st = translateSql("exec p 'a' 'b'", opt);
  ASSERT_EQ(st.size(), 1u);
  EXPECT_EQ(st[0].kind, DialectStatement::Kind::Sql);
  EXPECT_EQ(st[0].sql, "exec p 'a' 'b'");
}

TEST(DialectTest, NativeDatabaseCommands) {
  DialectOptions opt;
  auto st = translateSql("RESTORE DATABASE qz from disk='/backups/it''s.dat'", opt);
  ASSERT_EQ(st[0].kind, DialectStatement::Kind::Restore);
  EXPECT_EQ(st[0].database, "qz");
  EXPECT_EQ(st[0].disk, "/backups/it's.dat");
  // With an option it is not the recognised form: the engine answers.
  st = translateSql("RESTORE DATABASE qz from disk='f' with replace", opt);
  EXPECT_EQ(st[0].kind, DialectStatement::Kind::Sql);
  st = translateSql("create database [qz 2]", opt);
  ASSERT_EQ(st[0].kind, DialectStatement::Kind::CreateDatabase);
  EXPECT_EQ(st[0].database, "qz 2");
  st = translateSql("drop database qz", opt);
  EXPECT_EQ(st[0].kind, DialectStatement::Kind::DropDatabase);
  opt.flavor = SqlFlavor::Postgres;
  st = translateSql("create database qz", opt);
  EXPECT_EQ(st[0].kind, DialectStatement::Kind::Sql);
}

TEST(SqlLexerTest, TokensCoverInputExactly) {
  const std::string sql =
      "select [a]]b], \"c\"\"d\", 'e''f', 1.5e3, :p, @v, @@rowcount -- x\n/* y */ a<>b::c";
  std::string joined;
  for (const Token& t : lexSql(sql)) joined += t.text;
  EXPECT_EQ(joined, sql);
  const auto toks = lexSql(sql);
  EXPECT_EQ(identifierName(toks[2]), "a]b");
  EXPECT_EQ(identifierName(toks[5]), "c\"d");
  EXPECT_EQ(stringLiteralValue(toks[8]), "e'f");
  // Unterminated literal runs to the end rather than failing.
  const auto open = lexSql("select 'abc");
  EXPECT_EQ(open.back().kind, TokenKind::String);
}

}  // namespace
}  // namespace qz::db
