// The PostgreSQL engine: connection texts to libpq keywords, the value
// decoding of the text format, and a real server for sessions, metadata,
// timeouts, transactions and procedure calls. Server tests skip (loudly)
// when the test server is not configured.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/db/connection.h"
#include "platform/db/engine.h"
#include "platform/db/pg_conninfo.h"
#include "platform/db/pg_statement_cache.h"
#include "platform/db/pg_values.h"
#include "platform/log/server_log.h"
#include "tests/platform/test_databases.h"

namespace qz::db {
namespace {

PgConnInfo infoFor(const std::string& text, int timeout = 15) {
  return pgConnInfo(ConnectionString::parse(text), timeout);
}

bool hasKeyword(const PgConnInfo& info, const std::string& k) {
  for (const auto& [key, v] : info.params)
    if (key == k) return true;
  return false;
}

TEST(PgConnInfoTest, HostCommaPortCatalogAndLogin) {
  PgConnInfo i = infoFor(
      "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;Password=p;w;"
      "Initial Catalog=qz;Data Source= db.hotel.lan , 5433 ;Workstation ID=FRONT");
  EXPECT_EQ(i.get("host"), "db.hotel.lan");
  EXPECT_EQ(i.get("port"), "5433");
  EXPECT_EQ(i.get("dbname"), "qz");
  EXPECT_EQ(i.get("user"), "sa");
  EXPECT_EQ(i.get("password"), "p");  // the text ends the value at ';'
  EXPECT_EQ(i.get("connect_timeout"), "15");
  EXPECT_EQ(i.get("application_name"), "qzserver@FRONT");
}

TEST(PgConnInfoTest, ColonPortIsRefusedWithTheCommaForm) {
  try {
    infoFor("Data Source=db.hotel.lan:5433;Initial Catalog=qz");
    FAIL() << "accepted host:port";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("\"db.hotel.lan,5433\""), std::string::npos) << e.what();
  }
  // IPv6 addresses and host names keep working.
  EXPECT_EQ(infoFor("Data Source=::1,5433").get("host"), "::1");
  EXPECT_EQ(infoFor("Data Source=fe80::1").get("host"), "fe80::1");
}

TEST(PgConnInfoTest, LocalNamesUseTheSocketAndMasterIsTheMaintenanceDatabase) {
  for (const char* local : {".", "(local)", "(LOCAL)"}) {
    PgConnInfo i = infoFor(std::string("Data Source=") + local + ";Initial Catalog=MASTER");
    EXPECT_FALSE(hasKeyword(i, "host")) << local;
    EXPECT_EQ(i.get("dbname"), "postgres") << local;
  }
  PgConnInfo withPort = infoFor("Data Source=.,6543;Initial Catalog=qz1");
  EXPECT_FALSE(hasKeyword(withPort, "host"));
  EXPECT_EQ(withPort.get("port"), "6543");
  EXPECT_EQ(withPort.get("dbname"), "qz1");
}

TEST(PgConnInfoTest, IntegratedSecuritySendsNoLoginAndZeroTimeoutNoLimit) {
  PgConnInfo i = infoFor(
      "Provider=SQLOLEDB.1;Integrated Security=SSPI;User ID=sa;Password=secret;"
      "Data Source=srv",
      0);
  EXPECT_FALSE(hasKeyword(i, "user"));
  EXPECT_FALSE(hasKeyword(i, "password"));
  EXPECT_FALSE(hasKeyword(i, "connect_timeout"));
  // Only the exact word selects it; anything else keeps the login.
  PgConnInfo other = infoFor("Integrated Security=True;User ID=sa;Data Source=srv");
  EXPECT_EQ(other.get("user"), "sa");
}

TEST(PgValuesTest, ColumnTypesFollowTheMoneyRule) {
  auto money = pgColumnType(1700, ((19 << 16) | 4) + 4);
  EXPECT_EQ(money.type, FieldType::Currency);
  auto dec = pgColumnType(1700, ((10 << 16) | 2) + 4);
  EXPECT_EQ(dec.type, FieldType::Decimal);
  EXPECT_EQ(dec.precision, 10);
  EXPECT_EQ(dec.scale, 2);
  EXPECT_EQ(pgColumnType(1700, -1).type, FieldType::Decimal);  // sum() of money
  auto vc = pgColumnType(1043, 10 + 4);
  EXPECT_EQ(vc.type, FieldType::String);
  EXPECT_EQ(vc.size, 10);
  EXPECT_EQ(pgColumnType(25, -1).type, FieldType::Memo);
  EXPECT_EQ(pgColumnType(1114, 3).type, FieldType::DateTime);
  EXPECT_EQ(pgColumnType(21, -1).type, FieldType::Int16);
  EXPECT_EQ(pgColumnType(16, -1).type, FieldType::Boolean);
}

TEST(PgValuesTest, DecodesServerTextAndRefusesWhatNoVariantHolds) {
  EXPECT_EQ(pgDecodeValue(PgDecode::Timestamp, "2026-12-09 10:11:12.345678"),
            Variant(DateTime::fromParts(2026, 12, 9, 10, 11, 12, 345)));
  EXPECT_EQ(pgDecodeValue(PgDecode::Timestamp, "2026-12-09 10:11:12"),
            Variant(DateTime::fromParts(2026, 12, 9, 10, 11, 12)));
  EXPECT_EQ(pgDecodeValue(PgDecode::Date, "2000-02-29"), Variant(DateTime::fromParts(2000, 2, 29)));
  EXPECT_EQ(pgDecodeValue(PgDecode::Currency, "-12.3400"), Variant(Currency{-123400}));
  EXPECT_EQ(pgDecodeValue(PgDecode::Int16, "-32768"), Variant(int16_t{-32768}));
  EXPECT_EQ(pgDecodeValue(PgDecode::Bytea, "\\x00ff41"), Variant::bytes(std::string("\0\xff"
                                                                                    "A",
                                                                                    3)));
  EXPECT_THROW(pgDecodeValue(PgDecode::Timestamp, "infinity"), DbError);
  EXPECT_THROW(pgDecodeValue(PgDecode::Int32, "12x"), DbError);
  EXPECT_THROW(pgDecodeValue(PgDecode::Bytea, "\\x0"), DbError);
  bool binary = false;
  EXPECT_EQ(pgParamText(Variant(Currency{25000}), &binary), "2.5");
  EXPECT_EQ(pgParamText(Variant(0.1), &binary), "0.1");
  EXPECT_EQ(pgParamText(Variant(DateTime::fromParts(2026, 1, 2, 3, 4, 5, 6)), &binary),
            "2026-01-02 03:04:05.006");
  EXPECT_FALSE(binary);
  pgParamText(Variant::bytes("ab"), &binary);
  EXPECT_TRUE(binary);
}

// ---- against the server

class PgSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = qz::testing::TestDatabase::create(qz::testing::TestEngine::PostgreSQL);
    if (!db_) GTEST_SKIP() << "POSTGRESQL TEST SERVER NOT CONFIGURED";
    conn_.setConnectionString(db_->connectionString());
    conn_.open();
  }
  void TearDown() override { conn_.close(); }

  std::unique_ptr<qz::testing::TestDatabase> db_;
  Connection conn_;
};

Parameter param(const char* name, Variant v) {
  Parameter p;
  p.name = name;
  p.value = std::move(v);
  return p;
}

TEST_F(PgSessionTest, MasterReachesTheMaintenanceDatabase) {
  Connection master;
  master.setConnectionString(db_->connectionStringFor("master"));
  auto c = master.query("select current_database() as db");
  ASSERT_TRUE(c->next());
  EXPECT_EQ(c->row()[0], Variant("postgres"));
  EXPECT_EQ(master.engine(), EngineKind::PostgreSQL);
}

TEST_F(PgSessionTest, LocalSourceFollowsPgHostAndFailuresCarryTheServersText) {
  const char* host = std::getenv("QZ_TEST_PG_HOST");
  const char* port = std::getenv("QZ_TEST_PG_PORT");
  std::string old = std::getenv("PGHOST") ? std::getenv("PGHOST") : "";
  setenv("PGHOST", host, 1);
  Connection local;
  local.setConnectionString("Provider=SQLOLEDB.1;User ID=postgres;Initial Catalog=" + db_->name() +
                            ";Data Source=.," + port);
  EXPECT_NO_THROW(local.open());
  if (old.empty())
    unsetenv("PGHOST");
  else
    setenv("PGHOST", old.c_str(), 1);

  Connection missing;
  missing.setConnectionString(db_->connectionStringFor("no_such_db_qz"));
  try {
    missing.open();
    FAIL() << "opened a database that does not exist";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("database \"no_such_db_qz\" does not exist"),
              std::string::npos)
        << e.what();
  }
  Connection nobody;
  nobody.setConnectionString("User ID=nobody_qz;Password=x;Initial Catalog=postgres;Data Source=" +
                             std::string(host) + "," + port);
  try {
    nobody.open();
    FAIL() << "signed in as a role that does not exist";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("nobody_qz"), std::string::npos) << e.what();
  }
}

TEST_F(PgSessionTest, IntegratedSecuritySignsInAsTheOperatingSystemUser) {
  const passwd* pw = getpwuid(geteuid());
  ASSERT_NE(pw, nullptr);
  const std::string osUser = pw->pw_name;
  Connection c;
  c.setConnectionString(
      "Provider=SQLOLEDB.1;Integrated Security=SSPI;User ID=postgres;Password=x;"
      "Initial Catalog=" +
      db_->name() + ";Data Source=" + std::getenv("QZ_TEST_PG_HOST") + "," +
      std::getenv("QZ_TEST_PG_PORT"));
  if (osUser == "postgres") {
    EXPECT_NO_THROW(c.open());
    return;
  }
  // The test server knows no role of that name: its refusal names the user
  // libpq signed in as, which is not the User ID of the text.
  try {
    c.open();
    FAIL() << "signed in as " << osUser;
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("\"" + osUser + "\""), std::string::npos) << e.what();
  }
}

TEST_F(PgSessionTest, FieldMetadataCarriesNotNullKeysAndGeneratedColumns) {
  conn_.session().execute(
      "CREATE TABLE Meta (id integer GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, "
      "code varchar(6) NOT NULL, note text, price numeric(19,4), rate numeric(8,3), "
      "at timestamp(3))",
      {});
  auto c = conn_.query("select m.*, 1 + 1 as two from Meta m");
  const auto& f = c->fields();
  ASSERT_EQ(f.size(), 7u);
  EXPECT_EQ(f[0].name, "id");
  EXPECT_TRUE(f[0].key);
  EXPECT_FALSE(f[0].required);  // the database fills it
  EXPECT_TRUE(f[0].readOnly);
  EXPECT_EQ(f[0].table, "meta");
  EXPECT_TRUE(f[1].required);
  EXPECT_FALSE(f[1].key);
  EXPECT_FALSE(f[1].readOnly);
  EXPECT_EQ(f[1].type, FieldType::String);
  EXPECT_EQ(f[1].size, 6);
  EXPECT_FALSE(f[2].required);
  EXPECT_EQ(f[2].type, FieldType::Memo);
  EXPECT_EQ(f[3].type, FieldType::Currency);
  EXPECT_EQ(f[4].type, FieldType::Decimal);
  EXPECT_EQ(f[4].scale, 3);
  EXPECT_EQ(f[5].type, FieldType::DateTime);
  EXPECT_TRUE(f[6].table.empty());  // an expression belongs to no table

  // By name, in the statements' mixed case; a later schema change is seen.
  auto byName = conn_.tableFields("dbo.META");
  ASSERT_EQ(byName.size(), 6u);
  EXPECT_TRUE(byName[1].required);
  conn_.session().execute("ALTER TABLE meta ALTER COLUMN note SET NOT NULL", {});
  EXPECT_TRUE(conn_.tableFields("meta")[2].required);
  EXPECT_THROW(conn_.tableFields("no_such_table"), DbError);
}

TEST_F(PgSessionTest, ValuesRoundTripThroughParameters) {
  conn_.session().execute(
      "CREATE TABLE vals (i2 smallint, i4 integer, i8 bigint, b boolean, f double precision, "
      "m numeric(19,4), d numeric(12,3), t timestamp(3), s varchar(20), x text, y bytea)",
      {});
  std::vector<Parameter> binds = {
      param("i2", Variant(int16_t{-7})),
      param("i4", Variant(int32_t{2147483647})),
      param("i8", Variant(int64_t{-9000000000LL})),
      param("b", Variant(true)),
      param("f", Variant(0.1)),
      param("m", Variant(Currency{-12345678})),
      param("d", Variant::decimal("123456789.125")),
      param("t", Variant(DateTime::fromParts(2026, 12, 9, 23, 59, 58, 999))),
      param("s", Variant("岚舟 O'Brien")),
      param("x", Variant::null()),
      param("y", Variant::bytes(std::string("\0\x01\xfe", 3))),
  };
  EXPECT_EQ(conn_.session().execute(
                "INSERT INTO vals VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11)", binds),
            1);
  auto c = conn_.session().query("SELECT * FROM vals", {});
  ASSERT_TRUE(c->next());
  const auto& r = c->row();
  for (size_t i = 0; i < binds.size(); ++i) {
    if (binds[i].value.isNull())
      EXPECT_TRUE(r[i].isNull()) << i;
    else
      EXPECT_EQ(r[i], binds[i].value) << binds[i].name << ": " << r[i].debugString();
  }
  EXPECT_FALSE(c->next());
  EXPECT_FALSE(c->next());  // stays at the end
}

TEST_F(PgSessionTest, CommandTimeoutEndsLongStatementsAndSurvivesRollback) {
  conn_.setCommandTimeout(1);
  try {
    conn_.query("select pg_sleep(3)");
    FAIL() << "the statement outlived the timeout";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("statement timeout"), std::string::npos) << e.what();
  }
  // A timeout set inside a transaction that is rolled back still holds.
  conn_.setCommandTimeout(0);
  conn_.beginTrans();
  conn_.setCommandTimeout(1);
  conn_.rollbackTrans();
  auto c = conn_.query("select current_setting('statement_timeout') as t");
  ASSERT_TRUE(c->next());
  EXPECT_EQ(c->row()[0], Variant("1s"));
}

int64_t backendPid(Connection& c) {
  auto cur = c.query("select pg_backend_pid() as pid");
  EXPECT_TRUE(cur->next());
  return cur->row()[0].toInt64();
}

void terminate(const qz::testing::TestDatabase& db, int64_t pid) {
  Connection admin;
  admin.setConnectionString(db.connectionStringFor("master"));
  // Waits (up to 5 s) until the backend has gone.
  auto cur = admin.query("select pg_terminate_backend(" + std::to_string(pid) + ", 5000) as done");
  ASSERT_TRUE(cur->next());
  ASSERT_EQ(cur->row()[0], Variant(true));
}

TEST_F(PgSessionTest, ADroppedConnectionReopensButNeverInsideATransaction) {
  conn_.session().execute("CREATE TABLE kept (a integer)", {});
  conn_.setCommandTimeout(7);

  // Outside a transaction: the statement that meets the dropped connection
  // fails, the next one runs on a new session with the same timeout.
  std::vector<std::string> logged;
  log::setSink([&](log::Level, std::string_view m) { logged.emplace_back(m); });
  terminate(*db_, backendPid(conn_));
  EXPECT_THROW(conn_.query("select 1 as one"), DbError);
  auto t = conn_.query("select current_setting('statement_timeout') as t");
  log::setSink({});
  ASSERT_TRUE(t->next());
  EXPECT_EQ(t->row()[0], Variant("7s"));
  // The server log tells of the reconnect.
  ASSERT_EQ(2u, logged.size());
  EXPECT_NE(std::string::npos, logged[0].find("lost; reconnecting")) << logged[0];
  EXPECT_NE(std::string::npos, logged[1].find("restored")) << logged[1];

  // Inside one: every statement fails until the caller ends the transaction,
  // so nothing runs outside it unnoticed.
  conn_.beginTrans();
  conn_.execute("insert into kept values (1)");
  terminate(*db_, backendPid(conn_));
  EXPECT_THROW(conn_.execute("insert into kept values (2)"), DbError);
  try {
    conn_.execute("insert into kept values (3)");
    FAIL() << "a statement ran after the transaction was lost";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("lost"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(conn_.inTransaction());
  EXPECT_THROW(conn_.commitTrans(), DbError);
  EXPECT_FALSE(conn_.inTransaction());
  auto n = conn_.query("select count(*) as n from kept");
  ASSERT_TRUE(n->next());
  EXPECT_EQ(n->row()[0], Variant(int64_t{0}));

  // The same ended by a rollback, which raises nothing.
  conn_.beginTrans();
  conn_.execute("insert into kept values (6)");
  terminate(*db_, backendPid(conn_));
  EXPECT_THROW(conn_.execute("insert into kept values (4)"), DbError);
  EXPECT_NO_THROW(conn_.rollbackTrans());
  EXPECT_EQ(conn_.execute("insert into kept values (5)"), 1);
}

TEST_F(PgSessionTest, CommitOfAFailedTransactionIsNoSuccess) {
  conn_.session().execute("CREATE TABLE t1 (a integer)", {});
  conn_.beginTrans();
  conn_.execute("insert into t1 values (1)");
  EXPECT_THROW(conn_.execute("insert into t1 values ('x')"), DbError);
  EXPECT_THROW(conn_.commitTrans(), DbError);
  EXPECT_FALSE(conn_.inTransaction());
  auto c = conn_.query("select count(*) as n from t1");
  ASSERT_TRUE(c->next());
  EXPECT_EQ(c->row()[0], Variant(int64_t{0}));
  EXPECT_THROW(conn_.commitTrans(), DbError);  // nothing open
}

// BEGIN travels with the transaction's first statement (in one round trip
// when that statement is prepared): the statement is inside the
// transaction all the same, and a connection lost before it reopens, since
// nothing of the transaction had run yet.
TEST_F(PgSessionTest, TheFirstStatementOfATransactionIsInsideIt) {
  conn_.session().execute("CREATE TABLE t2 (a integer)", {});
  const ParamList one = {param("a", Variant(int32_t{1}))};
  auto count = [&] {
    auto c = conn_.query("select count(*) as n from t2");
    EXPECT_TRUE(c->next());
    return c->row()[0].toInt64();
  };
  for (int run = 0; run < 3; ++run) {  // prepared from the second run on
    conn_.beginTrans();
    EXPECT_TRUE(conn_.inTransaction());
    EXPECT_EQ(conn_.execute("insert into t2 values (:a)", one), 1);
    conn_.rollbackTrans();
  }
  EXPECT_EQ(count(), 0);
  conn_.beginTrans();
  conn_.commitTrans();  // nothing ran: nothing to end
  EXPECT_FALSE(conn_.inTransaction());

  const int64_t pid = backendPid(conn_);
  conn_.beginTrans();
  terminate(*db_, pid);
  EXPECT_EQ(conn_.execute("insert into t2 values (:a)", one), 1);
  EXPECT_NE(backendPid(conn_), pid);
  conn_.rollbackTrans();
  EXPECT_EQ(count(), 0);
}

TEST_F(PgSessionTest, ProceduresWriteBackOutputsOrReturnRows) {
  conn_.session().execute(
      "CREATE FUNCTION addup(INOUT total integer, step integer DEFAULT 1, "
      "OUT return_value integer) LANGUAGE plpgsql AS $$ BEGIN total := total + step; "
      "return_value := 7; END $$",
      {});
  conn_.session().execute(
      "CREATE FUNCTION listing(n integer) RETURNS TABLE (k integer) LANGUAGE sql AS "
      "$$ SELECT generate_series(1, n) $$",
      {});
  conn_.session().execute(
      "CREATE FUNCTION nothing(n integer) RETURNS void LANGUAGE sql AS $$ SELECT $$", {});

  Parameter ret;
  ret.name = "@RETURN_VALUE";
  ret.direction = ParamDirection::ReturnValue;
  Parameter total = param("@total", Variant(int32_t{40}));
  total.direction = ParamDirection::InputOutput;
  ParamList params = {ret, total, param("@step", Variant(int32_t{2}))};
  EXPECT_EQ(conn_.callProcedure("AddUp;1", params), nullptr);
  EXPECT_EQ(params[0].value, Variant(int32_t{7}));
  EXPECT_EQ(params[1].value, Variant(int32_t{42}));

  ParamList rowsParams = {ret, param("@n", Variant(int32_t{3}))};
  auto rows = conn_.callProcedure("dbo.listing", rowsParams);
  ASSERT_NE(rows, nullptr);
  EXPECT_EQ(RowSet::readAll(*rows).rows.size(), 3u);
  EXPECT_EQ(rowsParams[0].value, Variant(int32_t{0}));

  ParamList none = {param("@n", Variant(int32_t{1}))};
  EXPECT_EQ(conn_.callProcedure("nothing", none), nullptr);

  // The name goes into the statement, so only identifiers are accepted.
  ParamList empty;
  EXPECT_THROW(conn_.callProcedure("listing(1); drop table x --", empty), DbError);
}

// ---- prepared statements and the table lookup

TEST(PgStatementCacheTest, PreparesOnTheSecondUseAndForgetsOnRequest) {
  PgStatementCache cache;
  EXPECT_EQ(cache.use("select $1").kind, PgStatementCache::Plan::kUnnamed);
  auto second = cache.use("select $1");
  ASSERT_EQ(second.kind, PgStatementCache::Plan::kPrepare);
  cache.prepared("select $1", second.name);
  auto third = cache.use("select $1");
  EXPECT_EQ(third.kind, PgStatementCache::Plan::kPrepared);
  EXPECT_EQ(third.name, second.name);

  // A prepare that failed leaves the text unprepared: it is tried again.
  cache.use("select $2");
  auto failed = cache.use("select $2");
  EXPECT_EQ(cache.use("select $2").kind, PgStatementCache::Plan::kPrepare);
  EXPECT_NE(failed.name, second.name);  // names are never reused

  cache.forget("select $1");
  EXPECT_EQ(cache.use("select $1").kind, PgStatementCache::Plan::kUnnamed);
  EXPECT_EQ(cache.preparedCount(), 0u);
}

TEST(PgStatementCacheTest, ForgottenNamesAskForOneDeallocationAndTheTableStaysBounded) {
  PgStatementCache cache;
  for (int i = 0; i < 32; ++i) {
    const std::string key = "select " + std::to_string(i);
    cache.use(key);
    cache.prepared(key, cache.use(key).name);
    EXPECT_FALSE(cache.wantsDeallocateAll()) << i;
    cache.forget(key);
  }
  EXPECT_TRUE(cache.wantsDeallocateAll());
  cache.forgetAll();
  EXPECT_FALSE(cache.wantsDeallocateAll());

  // Endless distinct one-off texts do not grow the table without end, and
  // the prepared ones survive the sweep.
  cache.use("kept");
  cache.prepared("kept", cache.use("kept").name);
  for (int i = 0; i < 20000; ++i) cache.use("one-off " + std::to_string(i));
  EXPECT_EQ(cache.use("kept").kind, PgStatementCache::Plan::kPrepared);
}

TEST_F(PgSessionTest, RepeatedStatementsSurviveReconnectsAndTablesChangedByOthers) {
  conn_.session().execute("CREATE TABLE guest (id integer PRIMARY KEY, name text)", {});
  auto byId = [&](int id) {
    auto c = conn_.session().query("SELECT * FROM guest WHERE id = $1",
                                   {param("id", Variant(int32_t{id}))});
    return RowSet::readAll(*c);
  };
  for (int i = 1; i <= 3; ++i)
    EXPECT_EQ(conn_.session().execute("INSERT INTO guest VALUES ($1, $2)",
                                      {param("id", Variant(int32_t{i})), param("n", "x")}),
              1);
  EXPECT_EQ(byId(2).rows.size(), 1u);
  EXPECT_EQ(byId(3).rows.size(), 1u);  // now a prepared statement

  // A new server session knows none of the prepared names.
  terminate(*db_, backendPid(conn_));
  EXPECT_THROW(conn_.query("select 1 as one"), DbError);
  EXPECT_EQ(byId(1).rows.size(), 1u);
  EXPECT_EQ(conn_.session().execute("INSERT INTO guest VALUES ($1, $2)",
                                    {param("id", Variant(int32_t{4})), param("n", "y")}),
            1);

  // Another session adds a column: outside a transaction the statement is
  // planned afresh and shows it at once.
  Connection other;
  other.setConnectionString(db_->connectionString());
  other.open();
  ASSERT_EQ(conn_.tableFields("guest").size(), 2u);
  other.session().execute("ALTER TABLE guest ADD COLUMN room varchar(6)", {});
  auto widened = byId(2);
  ASSERT_EQ(widened.fields.size(), 3u);
  EXPECT_EQ(widened.fields[2].name, "room");

  // Another session recreates the table without "name": the statement that
  // still names it fails clearly, and the lookup after it is fresh.
  other.session().execute("DROP TABLE guest", {});
  other.session().execute("CREATE TABLE guest (id integer PRIMARY KEY, floor integer)", {});
  EXPECT_THROW(conn_.session().execute("INSERT INTO guest (id, name) VALUES ($1, $2)",
                                       {param("id", Variant(int32_t{5})), param("n", "z")}),
               DbError);
  const auto fields = conn_.tableFields("guest");
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(fields[1].name, "floor");
  EXPECT_EQ(byId(5).rows.size(), 0u);
}

// Rows are handed out while the server still sends them; the connection is
// then busy, so any other use of it first reads the remaining rows ahead.
TEST_F(PgSessionTest, StreamedRowsSurviveOtherStatementsAbandonmentAndLateFailures) {
  conn_.session().execute("CREATE TABLE seen (n integer)", {});
  const char* series = "SELECT g AS n FROM generate_series(1, 1000) g";

  // Another statement in the middle of reading: every row still comes, in order.
  auto c = conn_.query(series);
  for (int i = 1; i <= 10; ++i) {
    ASSERT_TRUE(c->next());
    EXPECT_EQ(c->row()[0], Variant(int32_t{i}));
  }
  EXPECT_EQ(conn_.execute("insert into seen values (1)"), 1);
  int next = 11;
  while (c->next()) EXPECT_EQ(c->row()[0], Variant(int32_t{next++}));
  EXPECT_EQ(next, 1001);
  EXPECT_FALSE(c->next());

  // Dropped after five rows: the connection is free at once.
  {
    auto partial = conn_.query(series);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(partial->next());
  }
  EXPECT_EQ(RowSet::readAll(*conn_.query("select count(*) as n from seen")).rows[0][0],
            Variant(int64_t{1}));

  // A failure after some rows: the rows before it, then the error; inside a
  // transaction the transaction is lost and commit says so.
  const char* failing = "SELECT 1 / (500 - g) AS q FROM generate_series(1, 1000) g";
  conn_.beginTrans();
  conn_.execute("insert into seen values (2)");
  auto f = conn_.query(failing);
  int rows = 0;
  try {
    while (f->next()) ++rows;
    FAIL() << "a failing statement ended without its error";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("division by zero"), std::string::npos) << e.what();
  }
  EXPECT_LT(rows, 500);
  EXPECT_TRUE(conn_.inTransaction());
  EXPECT_THROW(conn_.commitTrans(), DbError);
  EXPECT_EQ(RowSet::readAll(*conn_.query("select count(*) as n from seen")).rows[0][0],
            Variant(int64_t{1}));

  // The failure read ahead (another statement came first) surfaces after
  // the rows read before it.
  auto g = conn_.query(failing);
  ASSERT_TRUE(g->next());
  conn_.beginTrans();  // reads the rest ahead
  EXPECT_TRUE(conn_.inTransaction());
  EXPECT_THROW(while (g->next()){}, DbError);
  EXPECT_EQ(conn_.execute("insert into seen values (3)"), 1);
  conn_.commitTrans();
  EXPECT_EQ(RowSet::readAll(*conn_.query("select count(*) as n from seen")).rows[0][0],
            Variant(int64_t{2}));
}

// A new session's first read of a table streams too: the table's flags are
// read from the catalogue before the rows start, so the server is still
// sending (blocked on a full socket) when the first row is handed out,
// instead of idle because every row was read into memory first.
TEST_F(PgSessionTest, AFirstReadOfATableStreamsWithItsFieldFlags) {
  constexpr int kRows = 400000;  // far more than socket buffers hold
  conn_.execute("CREATE TABLE big (id integer PRIMARY KEY, t text NOT NULL)");
  conn_.execute("INSERT INTO big SELECT g, repeat('x', 100) FROM generate_series(1, " +
                std::to_string(kRows) + ") g");
  for (const char* sql : {"select * from big", "select t, id from big where id > $1"}) {
    Connection fresh;
    fresh.setConnectionString(db_->connectionString());
    fresh.open();
    const int64_t pid = backendPid(fresh);
    std::vector<Parameter> binds;
    if (std::string_view(sql).find('$') != std::string_view::npos)
      binds.push_back(param("id", Variant(int32_t{0})));
    auto c = fresh.session().query(sql, binds);
    ASSERT_TRUE(c->next()) << sql;
    auto state =
        conn_.query("select state from pg_stat_activity where pid = " + std::to_string(pid));
    ASSERT_TRUE(state->next());
    EXPECT_EQ(state->row()[0].asString(), "active") << sql;
    for (const FieldDef& f : c->fields()) {
      EXPECT_EQ(f.table, "big") << sql;
      EXPECT_TRUE(f.required) << sql << " " << f.name;
      EXPECT_EQ(f.key, f.name == "id") << sql << " " << f.name;
    }
    int rows = 1;
    while (c->next()) ++rows;
    EXPECT_EQ(rows, kRows) << sql;
  }
}

TEST_F(PgSessionTest, AStreamCutByALostConnectionFailsInsteadOfEndingShort) {
  const int64_t pid = backendPid(conn_);  // asked before the stream holds the connection
  conn_.beginTrans();
  auto c = conn_.query("SELECT g AS n FROM generate_series(1, 3000000) g");
  ASSERT_TRUE(c->next());
  terminate(*db_, pid);
  int64_t rows = 1;
  try {
    while (c->next()) ++rows;
    FAIL() << "the stream ended after " << rows << " rows as if complete";
  } catch (const DbError&) {
  }
  EXPECT_LT(rows, 3000000);
  EXPECT_TRUE(conn_.inTransaction());
  EXPECT_THROW(conn_.commitTrans(), DbError);
  EXPECT_EQ(RowSet::readAll(*conn_.query("select 1 as one")).rows.size(), 1u);
}

}  // namespace
}  // namespace qz::db
