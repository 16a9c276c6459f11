// The Jet connection through the data-access layer: the connection text
// picks the Access file and its password, and the statement forms an
// export sends run with literals and positional parameters.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/db/connection.h"
#include "platform/jet/checker.h"
#include "platform/jet/database.h"
#include "tests/platform/jet_test_support.h"

namespace qz::db {
namespace {

namespace t = qz::testing;
using jet::ColumnType;

class JetConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = t::MakeTempDir();
    file_ = dir_ + "/qz.mdb";
    auto db = jet::Database::Create(file_, "6391");
    db->createTable("client",
                    {{"type", ColumnType::Text, 10},
                     {"id", ColumnType::Text, 10},
                     {"name", ColumnType::Text, 50},
                     {"m_tel", ColumnType::Text, 20}},
                    DateTime::fromParts(2024, 1, 1));
    db->createTable("Mgathering",
                    {{"inum", ColumnType::Long},
                     {"bnum", ColumnType::Long},
                     {"ndate", ColumnType::DateTime},
                     {"money", ColumnType::Currency},
                     {"paid", ColumnType::Boolean}},
                    DateTime::fromParts(2024, 1, 1));
  }
  void TearDown() override { t::RemoveTree(dir_); }
  std::string text(const std::string& password = "6391") const {
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + file_ +
           ";Persist Security Info=False;Jet OLEDB:Database Password=" + password;
  }
  std::string dir_, file_;
};

TEST_F(JetConnectionTest, ExportStatementsWriteRowsOneByOne) {
  Connection c;
  c.setConnectionString(text());
  c.open();
  // A literal insert with a column list, a quote kept by doubling it.
  EXPECT_EQ(c.execute("INSERT INTO client(type, id, name,\r\nm_tel)\r\nvalues "
                      "(\r\n'vip',\r\n'',\r\n'O''Brien 客户',\r\nnull)"),
            1);
  // Positional parameters in table order, converted to the column types.
  Query ins(&c);
  ins.setSql({"INSERT INTO Mgathering", "VALUES (:inum, :bnum, :ndate, :money, :paid);"});
  ASSERT_EQ(ins.params().size(), 5u);
  const std::vector<std::vector<Variant>> rows = {
      {int32_t(1), int64_t(10), DateTime::fromParts(2002, 12, 21, 18), 12.5, true},
      {"2", Variant::null(), "2002-12-22 08:00:00", Currency{10000}, Variant::null()},
      {int32_t(1), int32_t(11), Variant::null(), "3.25", false},
  };
  for (const auto& r : rows) {
    for (size_t i = 0; i < r.size(); ++i) ins.params()[i].value = r[i];
    EXPECT_EQ(ins.execSql(), 1);
  }
  Query del(&c);
  del.setSql({"delete mgathering from mgathering where inum=:inum"});
  del.params()[0].value = Variant("1");
  EXPECT_EQ(del.execSql(), 2);

  RowSet left = RowSet::readAll(*c.query("select * from Mgathering"));
  ASSERT_EQ(left.rows.size(), 1u);
  EXPECT_EQ(left.rows[0][0], Variant(int32_t(2)));
  EXPECT_TRUE(left.rows[0][1].isNull());
  EXPECT_EQ(left.rows[0][2], Variant(DateTime::fromParts(2002, 12, 22, 8)));
  EXPECT_EQ(left.rows[0][3], Variant(Currency{10000}));
  EXPECT_EQ(left.rows[0][4], Variant(false));
  RowSet clients = RowSet::readAll(*c.query("select name, id, m_tel from client"));
  ASSERT_EQ(clients.rows.size(), 1u);
  EXPECT_EQ(clients.rows[0][0], Variant("O'Brien 客户"));
  EXPECT_EQ(clients.rows[0][1], Variant(""));
  EXPECT_TRUE(clients.rows[0][2].isNull());
  c.close();
  EXPECT_TRUE(jet::CheckDatabaseFile(file_, "6391").empty());
}

TEST_F(JetConnectionTest, FailuresCarryTheProviderTexts) {
  std::ofstream(dir_ + "/plain.mdb") << std::string(4096, 'x');
  const struct {
    std::string text;
    std::string error;
  } opens[] = {
      {text("wrong"), "Not a valid password."},
      {text(""), "Not a valid password."},
      {"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + dir_ + "/none.mdb",
       "Could not find file '" + dir_ + "/none.mdb'."},
      {"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + dir_ + "/plain.mdb",
       "Unrecognized database format '" + dir_ + "/plain.mdb'."},
  };
  for (const auto& o : opens) {
    Connection c;
    c.setConnectionString(o.text);
    try {
      c.open();
      ADD_FAILURE() << "opened: " << o.text;
    } catch (const DbError& e) {
      EXPECT_EQ(e.what(), o.error);
    }
    EXPECT_FALSE(c.isOpen());
  }
  Connection c;
  c.setConnectionString(text());
  const struct {
    const char* sql;
    const char* error;
  } statements[] = {
      {"INSERT INTO client(type, name) values ('a', 'it's')",
       "Syntax error in INSERT INTO statement."},
      {"INSERT INTO client(nope) values ('a')",
       "The INSERT INTO statement contains the following unknown field name: 'nope'.  Make sure "
       "you have typed "
       "the name correctly, and try the operation again."},
      {"INSERT INTO client values ('a')",
       "Number of query values and destination fields are not the same."},
      {"INSERT INTO missing values (1)",
       "The Microsoft Jet database engine cannot find the input table or query 'missing'.  Make "
       "sure it exists "
       "and that its name is spelled correctly."},
      {"MERGE client",
       "Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or 'UPDATE'."},
  };
  for (const auto& s : statements) {
    try {
      c.execute(s.sql);
      ADD_FAILURE() << "ran: " << s.sql;
    } catch (const DbError& e) {
      EXPECT_STREQ(e.what(), s.error);
    }
  }
  EXPECT_EQ(RowSet::readAll(*c.query("select * from client")).rows.size(), 0u);
}

}  // namespace
}  // namespace qz::db
