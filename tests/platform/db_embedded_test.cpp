// The embedded engine: catalogue in master.db, attach by Initial File Name,
// cross-database names, system procedures, stored procedures kept as text,
// and write transactions that wait instead of deadlocking.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/db/connection.h"
#include "platform/db/embedded_engine.h"
#include "platform/db/embedded_procedures.h"
#include "tests/platform/test_databases.h"

namespace qz::db {
namespace {

using testing::TestDatabase;
using testing::TestEngine;

class EmbeddedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = TestDatabase::create(TestEngine::Embedded);
    conn_.setConnectionString(db_->connectionString());
  }

  RowSet rows(Connection& c, std::string_view sql, const ParamList& p = {}) {
    return RowSet::readAll(*c.query(sql, p));
  }

  void addProcedure(const std::string& name, const std::string& params, const std::string& body) {
    ParamList p(3);
    p[0].name = "n";
    p[0].value = Variant(name);
    p[1].name = "p";
    p[1].value = Variant(params);
    p[2].name = "b";
    p[2].value = Variant(body);
    conn_.execute("insert into sys_procedures(name, params, body) values (:n, :p, :b)", p);
  }

  static Parameter param(std::string name, FieldType type, ParamDirection dir, Variant v) {
    Parameter p;
    p.name = std::move(name);
    p.type = type;
    p.direction = dir;
    p.value = std::move(v);
    return p;
  }

  std::unique_ptr<TestDatabase> db_;
  Connection conn_;
};

// ------------------------------------------------------------ catalogue

TEST_F(EmbeddedTest, CatalogueListsDatabasesAndStartsWithoutDevices) {
  EXPECT_TRUE(std::filesystem::exists(db_->dataDir() + "master.db"));
  EXPECT_TRUE(std::filesystem::exists(db_->dataDir() + db_->name() + ".db"));
  RowSet dbs = rows(conn_, "select name from master.dbo.sysdatabases order by name");
  ASSERT_EQ(dbs.rows.size(), 2u);
  EXPECT_EQ(dbs.rows[0][0], Variant("master"));
  EXPECT_EQ(dbs.rows[1][0], Variant(db_->name()));
  RowSet dev = rows(conn_, "select top 1 * from master.dbo.sysdevices where cntrltype=2");
  EXPECT_EQ(dev.fields.size(), 7u);
  EXPECT_EQ(dev.fields[6].name, "phyname");
  EXPECT_TRUE(dev.rows.empty());
}

TEST_F(EmbeddedTest, AddUmpDeviceIsSeenThroughSysdevicesFromEveryConnection) {
  conn_.execute("exec sp_addumpdevice 'disk', 'qz_backup', '/srv/backup/qz.dat'");
  conn_.execute("exec sp_addumpdevice 'tape', 'tape1', '/dev/st0'");
  conn_.execute("exec sp_addumpdevice 'disk', 'second', '/srv/backup/two.dat'");

  Connection master;
  master.setConnectionString(db_->connectionStringFor("master"));
  for (Connection* c : {&conn_, &master}) {
    RowSet dev = rows(*c, "select top 1 * from master.dbo.sysdevices where cntrltype=2");
    ASSERT_EQ(dev.rows.size(), 1u);
    EXPECT_EQ(dev.rows[0][0], Variant("qz_backup"));
    EXPECT_EQ(dev.rows[0][5].toInt32(), 2);
    EXPECT_EQ(dev.rows[0][6], Variant("/srv/backup/qz.dat"));
  }
  EXPECT_EQ(rows(conn_, "select cntrltype from master..sysdevices where name='tape1'")
                .rows[0][0]
                .toInt32(),
            5);

  try {
    conn_.execute("exec sp_addumpdevice 'disk', 'QZ_BACKUP', '/x'");
    FAIL() << "duplicate device accepted";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("already exists"), std::string::npos) << e.what();
  }
  EXPECT_THROW(conn_.execute("exec sp_addumpdevice 'floppy', 'f', '/x'"), DbError);
  // Through callProcedure with a return value, as a stored procedure dataset would.
  ParamList p = {param("@RETURN_VALUE", FieldType::Int32, ParamDirection::ReturnValue, Variant()),
                 param("@devtype", FieldType::String, ParamDirection::Input, Variant("disk")),
                 param("@logicalname", FieldType::String, ParamDirection::Input, Variant("third")),
                 param("@physicalname", FieldType::String, ParamDirection::Input, Variant("/t"))};
  conn_.callProcedure("sp_addumpdevice;1", p);
  EXPECT_EQ(p[0].value, Variant(int32_t{0}));
  EXPECT_EQ(rows(conn_, "select count(*) from master.dbo.sysdevices").rows[0][0].toInt32(), 4);
}

TEST(EmbeddedStartTest, ManyConnectionsOpeningAFreshDataFolderAtOnce) {
  const std::string previous = embeddedDataDir();
  std::string dir = (std::filesystem::temp_directory_path() / "qz-db-fresh-XXXXXX").string();
  ASSERT_TRUE(mkdtemp(dir.data()));
  setEmbeddedDataDir(dir + "/data/");  // not there yet: the first connection creates it
  std::atomic<int> ok{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      try {
        Connection c;
        c.setConnectionString("Provider=SQLOLEDB.1;Initial Catalog=master;Data Source=");
        auto cur = c.query("select count(*) from master.dbo.sysdatabases where name='master'");
        if (cur->next() && cur->row()[0].toInt32() == 1) ++ok;
      } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(ok.load(), 8);
  setEmbeddedDataDir(previous);
  std::filesystem::remove_all(dir);
}

TEST_F(EmbeddedTest, DescriptorsOfClosedConnectionsAreReusedAndFreedWithTheLastOne) {
  // SQLite cannot close the file of a connection while another connection
  // of the process holds a lock on the same file (closing would drop the
  // process's locks): it parks the descriptor, reuses it for the next
  // connection and closes it when the file's last lock goes. So parked
  // descriptors stay within the peak of simultaneous connections, and
  // return to the baseline when no connection is left.
  rlimit lim{};
  getrlimit(RLIMIT_NOFILE, &lim);
  if (lim.rlim_cur < 4096 && lim.rlim_max >= 4096) {
    lim.rlim_cur = 4096;
    setrlimit(RLIMIT_NOFILE, &lim);
  }
  auto openFds = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                         std::filesystem::directory_iterator{});
  };
  auto round = [&] {
    std::vector<std::unique_ptr<Connection>> many;
    for (int i = 0; i < 300; ++i) {
      many.push_back(std::make_unique<Connection>());
      many.back()->setConnectionString(db_->connectionString());
      many.back()->query("select count(*) from master.dbo.sysdatabases")->next();
    }
  };
  const auto base = openFds();
  round();
  EXPECT_LE(openFds(), base + 2);
  conn_.query("select count(*) from master.dbo.sysdatabases")
      ->next();  // stays, as the window's does
  round();
  const auto parked = openFds();
  round();
  EXPECT_LE(openFds(), parked) << "a second round must reuse the parked descriptors";
  conn_.close();
  EXPECT_LE(openFds(), base + 2);
}

TEST_F(EmbeddedTest, InitialFileNameRegistersAnExistingFile) {
  const std::string file = db_->dataDir() + "elsewhere/old_qz.mdf";
  std::filesystem::create_directories(db_->dataDir() + "elsewhere");
  {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &raw), SQLITE_OK);
    sqlite3_exec(raw, "create table bills(num int); insert into bills values (41);", nullptr,
                 nullptr, nullptr);
    sqlite3_close(raw);
  }
  Connection c;
  c.setConnectionString(db_->connectionStringFor("legacy", file));
  EXPECT_EQ(rows(c, "select num from bills").rows[0][0].toInt32(), 41);
  c.close();
  // Registered now: the catalog name alone opens it, and sysdatabases says where.
  Connection again;
  again.setConnectionString(db_->connectionStringFor("LEGACY"));
  EXPECT_EQ(rows(again, "select num from dbo.bills").rows[0][0].toInt32(), 41);
  RowSet reg = rows(again, "select filename from master.dbo.sysdatabases where name='legacy'");
  ASSERT_EQ(reg.rows.size(), 1u);
  EXPECT_EQ(reg.rows[0][0], Variant(file));
  // A file name that does not exist does not register anything.
  Connection missing;
  missing.setConnectionString(db_->connectionStringFor("ghost", db_->dataDir() + "nope.mdf"));
  try {
    missing.open();
    FAIL();
  } catch (const DbError& e) {
    EXPECT_STREQ(e.what(),
                 "Cannot open database \"ghost\" requested by the login. The login failed.");
  }
}

TEST_F(EmbeddedTest, OtherDatabasesAreReachedByQualifiedNames) {
  conn_.execute("create database qz_other");
  Connection other;
  other.setConnectionString(db_->connectionStringFor("qz_other"));
  other.execute(
      "create table dept(id varchar(6), name varchar(20)); insert into dept values ('01', 'x')");
  EXPECT_EQ(rows(conn_, "select name from qz_other.dbo.dept where id='01'").rows[0][0],
            Variant("x"));
  try {
    conn_.query("select * from nowhere.dbo.dept");
    FAIL();
  } catch (const DbError& e) {
    EXPECT_STREQ(
        e.what(),
        "Database 'nowhere' does not exist. Make sure that the name is entered correctly.");
  }
}

TEST_F(EmbeddedTest, CreateAndDropDatabaseGuardTheirCases) {
  conn_.execute("create database qz_new");
  EXPECT_THROW(conn_.execute("create database QZ_NEW"), DbError);
  EXPECT_THROW(conn_.execute("create database [../escape]"), DbError);
  EXPECT_FALSE(std::filesystem::exists(db_->dataDir() + "../escape.db"));
  EXPECT_THROW(conn_.execute("drop database " + db_->name()), DbError);  // in use
  EXPECT_THROW(conn_.execute("drop database master"), DbError);
  conn_.beginTrans();
  EXPECT_THROW(conn_.execute("drop database qz_new"), DbError);
  conn_.rollbackTrans();
  {
    // Another connection on it: refused, and nothing is lost.
    Connection user;
    user.setConnectionString(db_->connectionStringFor("qz_new"));
    user.execute("create table t(n int); insert into t values (1)");
    try {
      conn_.execute("drop database qz_new");
      FAIL() << "dropped a database in use";
    } catch (const DbError& e) {
      EXPECT_STREQ(e.what(), "Cannot drop database \"qz_new\" because it is currently in use.");
    }
    EXPECT_EQ(rows(user, "select count(*) from t").rows[0][0].toInt32(), 1);
  }
  conn_.execute("drop database qz_new");
  EXPECT_FALSE(std::filesystem::exists(db_->dataDir() + "qz_new.db"));
  EXPECT_THROW(conn_.execute("drop database qz_new"), DbError);
  Connection gone;
  gone.setConnectionString(db_->connectionStringFor("qz_new"));
  EXPECT_THROW(gone.open(), DbError);
}

// ------------------------------------------------------------ stored procedures

TEST_F(EmbeddedTest, ParametersThatDoNotReadAsTheirTypeAreRefusedByName) {
  conn_.execute("create table t (fyear int, fdate datetime)");
  struct Case {
    FieldType type;
    Variant value;
  };
  const Case cases[] = {
      {FieldType::Int32, Variant("x")},
      {FieldType::Int32, Variant("MMXXVI")},
      {FieldType::Int32, Variant(int64_t{1} << 40)},
      {FieldType::Int32, Variant("1099511627776")},
      {FieldType::Int16, Variant("40000")},
      {FieldType::DateTime, Variant("garbage")},
      {FieldType::DateTime, Variant("2026-02-30")},
      {FieldType::DateTime, Variant("2026-13-01")},
      {FieldType::Float, Variant("1,5")},
      {FieldType::Currency, Variant("1e308")},
  };
  for (const Case& c : cases) {
    ParamList p = {param("v", c.type, ParamDirection::Input, c.value)};
    try {
      conn_.execute("insert into t (fyear) values (:v)", p);
      ADD_FAILURE() << "accepted " << c.value.toText();
    } catch (const DbError& e) {
      EXPECT_NE(std::string(e.what()).find("Parameter 'v': "), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(rows(conn_, "select count(*) from t").rows.at(0).at(0).toInt32(), 0);
  ParamList ok = {param("y", FieldType::Int32, ParamDirection::Input, Variant("2026")),
                  param("d", FieldType::DateTime, ParamDirection::Input, Variant("2026-02-28"))};
  conn_.execute("insert into t (fyear, fdate) values (:y, :d)", ok);
  EXPECT_EQ(rows(conn_, "select count(*) from t").rows.at(0).at(0).toInt32(), 1);

  addProcedure("t_name", "@name varchar(5)", "insert into t(fyear) values (length(@name))");
  ParamList longText = {
      param("@name", FieldType::String, ParamDirection::Input, Variant("张三李四王五"))};
  try {
    conn_.callProcedure("t_name", longText);
    ADD_FAILURE() << "six characters went into varchar(5)";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("Parameter '@name': text of 6 characters"),
              std::string::npos)
        << e.what();
  }
  EXPECT_EQ(rows(conn_, "select count(*) from t").rows.at(0).at(0).toInt32(), 1);
}

TEST_F(EmbeddedTest, ProcedureReturnsValueOutputsAndRows) {
  conn_.execute(
      "create table bills(num integer primary key autoincrement, cltname varchar(50), "
      "ndate datetime, pamount smallint)");
  addProcedure("Bills_insert",
               "@cltname varchar(50), @ndate datetime, @PAmount smallint, @count int OUTPUT",
               "insert into bills(cltname, ndate, pamount) values (@cltname, @ndate, @PAmount);\n"
               "SET @count = (select count(*) from bills);\n"
               "select num, cltname from bills order by num;\n"
               "RETURN last_insert_rowid();\n"
               "insert into bills(cltname) values ('never')");
  ParamList p = {
      param("@RETURN_VALUE", FieldType::Int32, ParamDirection::ReturnValue, Variant()),
      param("@cltname", FieldType::String, ParamDirection::Input, Variant("王; 'x'")),
      param("@ndate", FieldType::DateTime, ParamDirection::Input,
            Variant(DateTime::fromParts(2026, 12, 9))),
      param("@PAmount", FieldType::Int16, ParamDirection::Input, Variant("3")),
      param("@count", FieldType::Int32, ParamDirection::InputOutput, Variant(int32_t{-1})),
  };
  auto c = conn_.callProcedure("Bills_insert;1", p);
  EXPECT_EQ(p[0].value, Variant(int32_t{1}));
  EXPECT_EQ(p[4].value, Variant(int32_t{1}));
  ASSERT_TRUE(c);
  RowSet rs = RowSet::readAll(*c);
  ASSERT_EQ(rs.rows.size(), 1u);
  EXPECT_EQ(rs.rows[0][1], Variant("王; 'x'"));

  StoredProc sp(&conn_, "Bills_insert;1", p);
  sp.param(1).value = Variant("second");
  sp.execProc();
  EXPECT_EQ(sp.param(0).value, Variant(int32_t{2}));
  EXPECT_EQ(sp.param(4).value, Variant(int32_t{2}));
  RowSet all = rows(conn_, "select cltname, ndate, pamount from bills order by num");
  ASSERT_EQ(all.rows.size(), 2u);  // nothing after RETURN ran
  EXPECT_EQ(all.rows[0][1], Variant(DateTime::fromParts(2026, 12, 9)));
  EXPECT_EQ(all.rows[0][2], Variant(int16_t{3}));
}

TEST_F(EmbeddedTest, ExecStatementReturnsTheProcedureRowSet) {
  addProcedure("QZ_echo", "@kind varchar(10), @name varchar(50), @n int",
               "declare @msg varchar(100) = @kind || ':' || @name;"
               "set @msg = @msg || ':' || @n;"
               "select @msg as message");
  Query q(&conn_);
  q.setSql({"exec QZ_echo 'disk','it''s',", "7"});
  RowSet rs = RowSet::readAll(*q.open());
  ASSERT_EQ(rs.rows.size(), 1u);
  EXPECT_EQ(rs.rows[0][0], Variant("disk:it's:7"));
  // :params as arguments.
  Parameter n;
  n.name = "n";
  n.value = Variant(int32_t{9});
  EXPECT_EQ(rows(conn_, "execute dbo.QZ_echo 'a', 'b', :n", {n}).rows[0][0], Variant("a:b:9"));
  // A procedure without rows cannot be opened as a query.
  addProcedure("deleteall", "", "delete from sys_procedures where name = 'nothing'");
  EXPECT_EQ(conn_.execute("exec deleteall"), 0);
  try {
    conn_.query("exec deleteall");
    FAIL();
  } catch (const DbError& e) {
    EXPECT_STREQ(e.what(), "CommandText does not return a result set");
  }
}

TEST_F(EmbeddedTest, ProcedureFailureUndoesOnlyItsOwnWork) {
  conn_.execute("create table t(n int not null)");
  addProcedure("two_inserts", "@a int, @b int",
               "insert into t values (@a); insert into t values (@b)");
  // Outside a transaction: all or nothing.
  EXPECT_THROW(conn_.execute("exec two_inserts 1, NULL"), DbError);
  EXPECT_EQ(rows(conn_, "select count(*) from t").rows[0][0].toInt32(), 0);
  EXPECT_FALSE(conn_.inTransaction());
  // Inside the caller's transaction: the procedure's work is undone, the
  // caller's stays, and the caller decides.
  conn_.beginTrans();
  conn_.execute("insert into t values (100)");
  EXPECT_THROW(conn_.execute("exec two_inserts 2, NULL"), DbError);
  EXPECT_TRUE(conn_.inTransaction());
  conn_.execute("exec two_inserts 3, 4");
  conn_.rollbackTrans();
  EXPECT_EQ(rows(conn_, "select count(*) from t").rows[0][0].toInt32(), 0);
  conn_.beginTrans();
  conn_.execute("exec two_inserts 5, 6");
  conn_.commitTrans();
  EXPECT_EQ(rows(conn_, "select sum(n) from t").rows[0][0].toInt32(), 11);
}

TEST_F(EmbeddedTest, ProcedureCallErrorsUseTheServersTexts) {
  addProcedure("one_arg", "@a int", "select @a");
  try {
    conn_.execute("exec one_arg 1, 2");
    FAIL();
  } catch (const DbError& e) {
    EXPECT_STREQ(e.what(), "Procedure or function one_arg has too many arguments specified.");
  }
  try {
    conn_.execute("exec no_such_proc 1");
    FAIL();
  } catch (const DbError& e) {
    EXPECT_STREQ(e.what(), "Could not find stored procedure 'no_such_proc'.");
  }
  // Missing arguments are NULL.
  EXPECT_TRUE(rows(conn_, "exec one_arg").rows[0][0].isNull());
  // Arguments by name in a statement; an unknown name is refused.
  EXPECT_EQ(rows(conn_, "exec one_arg @A = 5").rows[0][0].toInt32(), 5);
  try {
    conn_.execute("exec one_arg @b = 5");
    FAIL();
  } catch (const DbError& e) {
    EXPECT_STREQ(e.what(), "@b is not a parameter for procedure one_arg.");
  }
}

TEST_F(EmbeddedTest, StoredProcDatasetPassesArgumentsByPositionWhateverTheirNames) {
  addProcedure("pair", "@first varchar(10), @second varchar(10) OUTPUT",
               "set @second = @first || '+' || @second");
  // The dataset's names differ from the declaration and come in another
  // order: position decides.
  ParamList p = {param("@RETURN_VALUE", FieldType::Int32, ParamDirection::ReturnValue, Variant()),
                 param("@second", FieldType::String, ParamDirection::Input, Variant("a")),
                 param("@first", FieldType::String, ParamDirection::InputOutput, Variant("b"))};
  conn_.callProcedure("pair;1", p);
  EXPECT_EQ(p[2].value, Variant("a+b"));
  EXPECT_EQ(p[1].value, Variant("a"));
}

TEST_F(EmbeddedTest, NestedExecPassesOutputBack) {
  addProcedure("inner_proc", "@x int, @y int OUTPUT", "set @y = @x * 2; return 5");
  addProcedure("outer_proc", "@x int",
               "declare @r int; exec inner_proc @x, @r OUTPUT; select @r as r");
  EXPECT_EQ(rows(conn_, "exec outer_proc 21").rows[0][0], Variant(int32_t{42}));
}

TEST_F(EmbeddedTest, StatementsKeptBetweenCallsFollowTheSchemaAndTheirArguments) {
  conn_.execute("create table t(a int)");
  conn_.execute("insert into t values (1)");
  addProcedure("all_of_t", "@x int", "select *, @x as x from t");
  EXPECT_EQ(rows(conn_, "exec all_of_t 7").rows.at(0).size(), 2u);
  EXPECT_EQ(conn_.tableFields("t").size(), 1u);
  conn_.execute("alter table t add column b int default 5");
  EXPECT_EQ(conn_.tableFields("t").size(), 2u);
  {
    // A table changed through another connection is described as it is now.
    Connection other;
    other.setConnectionString(db_->connectionString());
    other.execute("alter table t add column c text not null default ''");
  }
  const auto now = conn_.tableFields("t");
  ASSERT_EQ(now.size(), 3u);
  EXPECT_TRUE(now[2].required);
  conn_.execute("alter table t drop column c");
  const RowSet rs = rows(conn_, "exec all_of_t");
  ASSERT_EQ(rs.rows.at(0).size(), 3u);
  EXPECT_EQ(rs.rows[0][1].toInt32(), 5);
  EXPECT_TRUE(rs.rows[0][2].isNull()) << "an argument of the earlier call stayed bound";
  // A changed text is planned afresh on the same connection.
  conn_.execute(
      "update sys_procedures set params = '', body = 'select 42 as y' "
      "where name = 'all_of_t'");
  EXPECT_EQ(rows(conn_, "exec all_of_t").rows.at(0).at(0).toInt32(), 42);
  // A statement that cannot run fails when it is reached, twice alike, and
  // what ran before it is undone.
  addProcedure("late_fault", "", "insert into t(a) values (9); declare @v nosuchtype");
  for (int round = 0; round < 2; ++round) {
    EXPECT_THROW(conn_.execute("exec late_fault"), DbError);
    EXPECT_EQ(rows(conn_, "select count(*) from t where a = 9").rows[0][0].toInt32(), 0);
  }
}

TEST(ProcedureParamsTest, ParsesDeclarationsAndRejectsGarbage) {
  const auto p = parseProcedureParams(
      "@consumption varchar(10), @PAmount smallint,\r\n @rebate float, @ndate datetime, "
      "@sub decimal(19, 4) OUTPUT, @settle bit");
  ASSERT_EQ(p.size(), 6u);
  EXPECT_EQ(p[0].name, "@consumption");
  EXPECT_EQ(p[0].type.type, FieldType::String);
  EXPECT_EQ(p[0].type.size, 10);
  EXPECT_EQ(p[1].type.type, FieldType::Int16);
  EXPECT_EQ(p[4].type.type, FieldType::Decimal);
  EXPECT_EQ(p[4].type.scale, 4);
  EXPECT_TRUE(p[4].output);
  EXPECT_FALSE(p[5].output);
  EXPECT_TRUE(parseProcedureParams("  ").empty());
  EXPECT_THROW(parseProcedureParams("consumption varchar(10)"), DbError);
  EXPECT_THROW(parseProcedureParams("@a int,"), DbError);
  EXPECT_THROW(parseProcedureParams("@a sometype"), DbError);
}

TEST_F(EmbeddedTest, RegisteredNativeProcedureRunsOnTheCallersConnection) {
  registerEmbeddedProcedure("qz_native_probe", [](EmbeddedCall& call) -> std::unique_ptr<Cursor> {
    call.returnValue = static_cast<int32_t>(call.args.size());
    ParamList none;
    return call.context.query("select count(*) as n from probe", none);
  });
  conn_.execute("create table probe(n int)");
  conn_.beginTrans();
  conn_.execute("insert into probe values (1)");
  // The native procedure sees the uncommitted row: same connection.
  EXPECT_EQ(rows(conn_, "exec qz_native_probe 'a', 'b'").rows[0][0].toInt32(), 1);
  conn_.rollbackTrans();
  try {
    conn_.execute("restore database qz from disk = '/tmp/none.dat'");
    FAIL();
  } catch (const DbError& e) {
    EXPECT_STREQ(e.what(), "RESTORE DATABASE is not supported by this database engine");
  }
}

// ------------------------------------------------------------ locking

TEST_F(EmbeddedTest, SecondWriterWaitsThenFailsClearlyAfterTimeout) {
  conn_.execute("create table t(n int)");
  Connection other;
  other.setConnectionString(db_->connectionString());
  other.setCommandTimeout(1);
  conn_.beginTrans();
  conn_.execute("insert into t values (1)");
  // Reading is not blocked.
  EXPECT_EQ(rows(other, "select count(*) from t").rows[0][0].toInt32(), 0);
  const auto start = std::chrono::steady_clock::now();
  try {
    other.beginTrans();
    FAIL() << "second write transaction began while the first held the lock";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("Lock request time out period exceeded"),
              std::string::npos)
        << e.what();
  }
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::seconds(5));
  EXPECT_FALSE(other.inTransaction());
  EXPECT_THROW(other.execute("insert into t values (2)"), DbError);  // autocommit writes wait too
  conn_.commitTrans();
  other.beginTrans();
  other.execute("insert into t values (3)");
  other.commitTrans();
  EXPECT_EQ(rows(conn_, "select count(*) from t").rows[0][0].toInt32(), 2);
}

TEST_F(EmbeddedTest, LongStatementStopsAtCommandTimeout) {
  conn_.execute("create table t(n int)");
  conn_.setCommandTimeout(1);
  conn_.beginTrans();
  conn_.execute("insert into t values (1)");
  const auto start = std::chrono::steady_clock::now();
  try {
    conn_.execute(
        "insert into t with recursive c(i) as (select 1 union all select i + 1 from c "
        "where i < 2000000000) select count(*) from c");
    FAIL() << "ran past the timeout";
  } catch (const DbError& e) {
    EXPECT_STREQ(e.what(), "Query timeout expired");
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  // SQLite has rolled the interrupted transaction back; rolling back again
  // is no new error, and nothing of it stays.
  conn_.rollbackTrans();
  EXPECT_FALSE(conn_.inTransaction());
  EXPECT_EQ(rows(conn_, "select count(*) from t").rows[0][0].toInt32(), 0);
  // A rollback without any transaction is still the engine's error.
  EXPECT_THROW(conn_.rollbackTrans(), DbError);
  // The timeout covers execution, not the reading of a cursor afterwards.
  auto c = conn_.query("select 1");
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_TRUE(c->next());
}

TEST_F(EmbeddedTest, OpenCursorDoesNotBlockItsOwnConnectionsWrites) {
  conn_.execute("create table t(n int); insert into t values (1); insert into t values (2)");
  Connection other;
  other.setConnectionString(db_->connectionString());
  auto cur = conn_.query("select n from t order by n");
  ASSERT_TRUE(cur->next());
  EXPECT_EQ(cur->row()[0].toInt32(), 1);
  // Another connection commits meanwhile: the cursor's snapshot is stale.
  other.execute("insert into t values (3)");
  conn_.beginTrans();
  conn_.execute("insert into t values (4)");
  conn_.commitTrans();
  // The cursor goes on with the rows of its own snapshot.
  ASSERT_TRUE(cur->next());
  EXPECT_EQ(cur->row()[0].toInt32(), 2);
  EXPECT_FALSE(cur->next());
  cur.reset();
  // The same outside a transaction, and with a procedure.
  auto cur2 = conn_.query("select n from t order by n");
  ASSERT_TRUE(cur2->next());
  other.execute("insert into t values (5)");
  EXPECT_EQ(conn_.execute("update t set n = n + 10 where n = 5"), 1);
  addProcedure("ins", "@n int", "insert into t values (@n)");
  other.execute("insert into t values (6)");
  conn_.execute("exec ins 7");
  int seen = 1;
  while (cur2->next()) ++seen;
  EXPECT_EQ(seen, 4);  // 1, 2, 3, 4: the rows when the cursor opened
  EXPECT_EQ(rows(conn_, "select count(*) from t").rows[0][0].toInt32(), 7);
}

TEST_F(EmbeddedTest, QueryRunsWithItsOwnCommandTimeout) {
  conn_.setCommandTimeout(30);
  Query q(&conn_);
  q.setCommandTimeout(1);
  q.setSql({"with recursive c(i) as (select 1 union all select i + 1 from c where i < 2000000000)",
            "select count(*) from c"});
  const auto start = std::chrono::steady_clock::now();
  try {
    q.open();
    FAIL() << "ran past the query's timeout";
  } catch (const DbError& e) {
    EXPECT_STREQ(e.what(), "Query timeout expired");
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  // The connection keeps its own timeout for its own statements.
  EXPECT_EQ(conn_.commandTimeout(), 30);
  EXPECT_EQ(rows(conn_,
                 "with recursive c(i) as (select 1 union all select i + 1 from c where "
                 "i < 300000) select count(*) from c")
                .rows[0][0]
                .toInt32(),
            300000);
}

TEST_F(EmbeddedTest, ConcurrentWriteTransactionsNeverDeadlock) {
  conn_.execute("create table counter(n int); insert into counter values (0)");
  constexpr int kThreads = 4, kRounds = 40;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  const std::string text = db_->connectionString();
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, text] {
      try {
        Connection c;
        c.setConnectionString(text);
        c.setCommandTimeout(30);
        for (int i = 0; i < kRounds; ++i) {
          c.beginTrans();
          // Read first, then write: the pattern that deadlocks with deferred transactions.
          auto cur = c.query("select n from counter");
          cur->next();
          const int n = cur->row()[0].toInt32();
          cur.reset();
          Parameter p;
          p.name = "n";
          p.value = Variant(int32_t{n + 1});
          c.execute("update counter set n = :n", {p});
          c.commitTrans();
        }
      } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
        ++failures;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(rows(conn_, "select n from counter").rows[0][0].toInt32(), kThreads * kRounds);
}

}  // namespace
}  // namespace qz::db
