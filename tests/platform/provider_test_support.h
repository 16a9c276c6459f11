// A fresh database with a small bill schema (bills, billitems, gathering)
// for provider tests, on every available engine, plus helpers to build
// datasets and read rows back.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/db/connection.h"
#include "platform/provider/dataset.h"
#include "platform/provider/provider.h"
#include "tests/platform/test_databases.h"

namespace qz::provider {

inline db::Parameter intParam(std::string name, Variant value = Variant()) {
  db::Parameter p;
  p.name = std::move(name);
  p.type = db::FieldType::Int32;
  p.precision = 10;
  p.size = 4;
  p.value = std::move(value);
  return p;
}

inline db::Parameter textParam(std::string name, Variant value = Variant()) {
  db::Parameter p;
  p.name = std::move(name);
  p.type = db::FieldType::String;
  p.size = 20;
  p.value = std::move(value);
  return p;
}

class ProviderDbTest : public ::testing::TestWithParam<qz::testing::TestEngine> {
 protected:
  void SetUp() override {
    db_ = qz::testing::TestDatabase::create(GetParam());
    if (!db_) GTEST_SKIP() << "PostgreSQL test server not configured";
    conn_.setConnectionString(db_->connectionString());
    conn_.open();
    const bool pg = GetParam() == qz::testing::TestEngine::PostgreSQL;
    const std::string integer = pg ? "integer" : "int";
    const std::string money = pg ? "numeric(19,4)" : "money";
    const std::string bit = pg ? "boolean" : "bit";
    const std::string dt = pg ? "timestamp(3)" : "datetime";
    const std::string flt = pg ? "double precision" : "float";
    conn_.execute("create table bills (num " + integer +
                  " not null primary key, cltname varchar(50), " + "settle " + bit + ", amount " +
                  money + ", ndate " + dt + ", rebate " + flt + ", remark text)");
    conn_.execute("create table billitems (bnum " + integer + " not null, inum " + integer +
                  " not null, name varchar(20), price " + money + ", primary key (bnum, inum))");
    conn_.execute("create table gathering (inum " + integer + " not null primary key, bnum " +
                  integer + ", type varchar(10), amount " + money + ")");
  }
  void TearDown() override { conn_.close(); }

  // bills 1..3 (bill 1 with items 1 and 2, bill 3 with item 1; gathering
  // rows for bills 1 and 3); bill 2 has a null client name.
  void fillBills() {
    const bool pg = GetParam() == qz::testing::TestEngine::PostgreSQL;
    const std::string no = pg ? "false" : "0", yes = pg ? "true" : "1";
    conn_.execute(
        "insert into bills (num, cltname, settle, amount, ndate, rebate) values "
        "(1, 'Alice', " +
        no + ", 12.5, '2026-12-01 10:00:00', 0.1)");
    conn_.execute(
        "insert into bills (num, cltname, settle, amount, ndate, rebate) values "
        "(2, null, " +
        no + ", 3, '2026-12-02 00:00:00', 0)");
    conn_.execute(
        "insert into bills (num, cltname, settle, amount, ndate, rebate) values "
        "(3, 'Bob', " +
        yes + ", 7.25, '2026-12-03 08:30:00', 0.5)");
    conn_.execute("insert into billitems (bnum, inum, name, price) values (1, 2, 'tea', 1.5)");
    conn_.execute("insert into billitems (bnum, inum, name, price) values (1, 1, 'rice', 2)");
    conn_.execute("insert into billitems (bnum, inum, name, price) values (3, 1, 'soup', 4)");
    conn_.execute("insert into gathering (inum, bnum, type, amount) values (1, 1, 'cash', 12.5)");
    conn_.execute("insert into gathering (inum, bnum, type, amount) values (2, 3, 'card', 7.25)");
  }

  // A "bills" master query with "billitems" and "gathering" details.
  std::unique_ptr<Dataset> billsDataset(std::vector<std::string> sql = {
                                            "select * from bills order by num"}) {
    auto bills = Dataset::makeQuery("bills", std::move(sql));
    bills->addDetail(Dataset::makeQuery(
        "billitems", {"SELECT * ", "FROM billitems ", "where bnum=:num order by inum"},
        {intParam("num")}));
    bills->addDetail(Dataset::makeQuery("gathering", {"select * from gathering where bnum=:num"},
                                        {intParam("num")}));
    return bills;
  }

  int64_t count(const std::string& sql) {
    auto c = conn_.query(sql);
    if (!c->next()) return -1;
    return c->row()[0].toInt64();
  }

  std::unique_ptr<qz::testing::TestDatabase> db_;
  db::Connection conn_;
};

inline std::string engineName(const ::testing::TestParamInfo<qz::testing::TestEngine>& info) {
  return info.param == qz::testing::TestEngine::Embedded ? "Embedded" : "PostgreSQL";
}

}  // namespace qz::provider
