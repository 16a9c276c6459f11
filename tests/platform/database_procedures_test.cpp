// The application's procedures on both engines, called the way the posting
// rules and providers call them: numbering inserts (also from eight
// connections at once), the day report's input-output parameters, the
// management report's rows and the payroll summary.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "database/schema.h"
#include "platform/db/connection.h"
#include "tests/platform/test_databases.h"

namespace qz::database {
namespace {

using db::ParamDirection;
using db::Parameter;
using db::ParamList;
using qz::testing::TestDatabase;
using qz::testing::TestEngine;

// A parameter typed after its value, as the packets type them.
Parameter in(const char* name, Variant v) {
  Parameter p;
  p.name = name;
  switch (v.type()) {
    case VarType::Boolean:
      p.type = db::FieldType::Boolean;
      break;
    case VarType::Int16:
      p.type = db::FieldType::Int16;
      break;
    case VarType::Int32:
      p.type = db::FieldType::Int32;
      break;
    case VarType::Double:
      p.type = db::FieldType::Float;
      break;
    case VarType::Currency:
      p.type = db::FieldType::Currency;
      break;
    case VarType::DateTime:
      p.type = db::FieldType::DateTime;
      break;
    default:
      break;
  }
  p.value = std::move(v);
  return p;
}
Parameter inout(const char* name, Variant v) {
  Parameter p = in(name, std::move(v));
  p.direction = ParamDirection::InputOutput;
  return p;
}
Parameter ret() {
  Parameter p;
  p.name = "@RETURN_VALUE";
  p.direction = ParamDirection::ReturnValue;
  p.type = db::FieldType::Int32;
  return p;
}
DateTime at(int y, int m, int d, int h = 0, int mi = 0) {
  return DateTime::fromParts(y, m, d, h, mi);
}

// Bills_insert's 17 inputs in the callers' order.
ParamList billParams(const std::string& room, Variant cltid) {
  return {ret(),
          in("@consumption", Variant("住宿")),
          in("@roomid", Variant(room)),
          in("@PAmount", Variant(int16_t{2})),
          in("@cltname", Variant("张三")),
          in("@ndate", Variant(at(2026, 3, 1, 14, 30))),
          in("@fdate", Variant(at(2026, 3, 1))),
          in("@tdate", Variant(at(2026, 3, 3))),
          in("@operator", Variant("王丽")),
          in("@waiter", Variant::null()),
          in("@receiver", Variant::null()),
          in("@sanctifier", Variant::null()),
          in("@checker", Variant::null()),
          in("@rebate", Variant(0.9)),
          in("@settle", Variant(false)),
          in("@comefrom", Variant("散客")),
          in("@station", Variant("QT01")),
          in("@cltid", std::move(cltid))};
}

class DatabaseProceduresTest : public ::testing::TestWithParam<TestEngine> {
 protected:
  void SetUp() override {
    db_ = TestDatabase::create(GetParam());
    if (!db_) GTEST_SKIP() << "POSTGRESQL TEST SERVER NOT CONFIGURED";
    conn_.setConnectionString(db_->connectionString());
    installSchema(conn_);
  }

  db::RowSet rows(const std::string& sql, const ParamList& params = {}) {
    auto c = conn_.query(sql, params);
    return db::RowSet::readAll(*c);
  }

  std::unique_ptr<TestDatabase> db_;
  db::Connection conn_;
};

TEST_P(DatabaseProceduresTest, InsertProceduresStoreTheRowAndReturnIncreasingNumbers) {
  ParamList first = billParams("101", Variant(int32_t{17}));
  conn_.callProcedure("Bills_insert;1", first);
  ParamList second = billParams("102", Variant::null());
  conn_.callProcedure("Bills_insert;1", second);
  const int a = first[0].value.toInt32(), b = second[0].value.toInt32();
  EXPECT_GT(a, 0);
  EXPECT_GT(b, a);
  auto r = rows("select roomid, cltid, rebate, pamount, ndate from bills where num = :n",
                {in("n", Variant(int32_t{a}))});
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.rows[0][0].toText(), "101");
  EXPECT_EQ(r.rows[0][1].toInt32(), 17);
  EXPECT_DOUBLE_EQ(r.rows[0][2].toDouble(), 0.9);
  EXPECT_EQ(r.rows[0][3].toInt32(), 2);
  EXPECT_EQ(r.rows[0][4], Variant(at(2026, 3, 1, 14, 30)));

  // Every input may be null.
  ParamList group = {ret()};
  for (const char* n : {"@consumption", "@cltname", "@ndate", "@fdate", "@tdate", "@operator",
                        "@checker", "@rebate", "@station", "@cltid"})
    group.push_back(in(n, Variant::null()));
  conn_.callProcedure("GOrders_insert;1", group);
  ParamList group2 = group;
  conn_.callProcedure("GOrders_insert;1", group2);
  EXPECT_EQ(group2[0].value.toInt32(), group[0].value.toInt32() + 1);

  ParamList acc = {ret(),
                   in("@consumption", Variant("购进")),
                   in("@deptid", Variant("06")),
                   in("@ndate", Variant(at(2026, 3, 2))),
                   in("@fdate", Variant(at(2026, 3, 2))),
                   in("@tdate", Variant(at(2026, 3, 2))),
                   in("@operator", Variant("李")),
                   in("@waiter", Variant::null()),
                   in("@receiver", Variant::null()),
                   in("@sanctifier", Variant::null()),
                   in("@checker", Variant::null()),
                   in("@cltid", Variant(int32_t{11})),
                   in("@cltname", Variant("苏州饮料批发部")),
                   in("@item", Variant("采购入库")),
                   in("@dept2id", Variant("06"))};
  conn_.callProcedure("material_MAccIinsert;1", acc);
  auto m = rows("select consumption, deptid, cltid, item, dept2id from Maccount where num = :n",
                {in("n", acc[0].value)});
  ASSERT_EQ(m.rows.size(), 1u);
  EXPECT_EQ(m.rows[0][0].toText(), "购进");
  EXPECT_EQ(m.rows[0][1].toText(), "06");
  EXPECT_EQ(m.rows[0][2].toInt32(), 11);
  EXPECT_EQ(m.rows[0][3].toText(), "采购入库");
  EXPECT_EQ(m.rows[0][4].toText(), "06");
}

TEST_P(DatabaseProceduresTest, AnInsertRolledBackWithItsRequestLeavesNoRow) {
  conn_.beginTrans();
  ParamList p = billParams("201", Variant(int32_t{1}));
  conn_.callProcedure("Bills_insert;1", p);
  conn_.rollbackTrans();
  EXPECT_EQ(rows("select num from bills").rows.size(), 0u);
}

TEST_P(DatabaseProceduresTest, ConcurrentCallersNeverShareANumber) {
  constexpr int kThreads = 8, kCalls = 50;
  std::vector<std::vector<int>> numbers(kThreads);
  std::vector<std::string> errors(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      try {
        db::Connection c;
        c.setConnectionString(db_->connectionString());
        c.setCommandTimeout(60);
        for (int i = 0; i < kCalls; ++i) {
          // Half inside a request's transaction, half on their own.
          const bool framed = i % 2 == 0;
          if (framed) c.beginTrans();
          ParamList p = i % 3 == 0 ? ParamList{ret(), in("@consumption", Variant("c"))}
                                   : billParams(std::to_string(t), Variant(int32_t{t}));
          const char* proc = i % 3 == 0 ? "GOrders_insert;1" : "Bills_insert;1";
          c.callProcedure(proc, p);
          if (framed) c.commitTrans();
          numbers[t].push_back((i % 3 == 0 ? -1 : 1) * p[0].value.toInt32());
        }
      } catch (const std::exception& e) {
        errors[t] = e.what();
      }
    });
  for (auto& th : threads) th.join();
  std::set<int> seen;
  size_t total = 0;
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(errors[t], "") << "thread " << t;
    for (int n : numbers[t]) {
      EXPECT_TRUE(seen.insert(n).second) << "number " << n << " handed out twice";
      ++total;
    }
  }
  EXPECT_EQ(total, size_t{kThreads * kCalls});
  auto counts =
      rows("select (select count(*) from bills) as b, (select count(*) from gorders) as g");
  ASSERT_EQ(counts.rows.size(), 1u);
  EXPECT_EQ(counts.rows[0][0].toInt64() + counts.rows[0][1].toInt64(), kThreads * kCalls);
}

class DatabaseReportsTest : public DatabaseProceduresTest {
 protected:
  void SetUp() override {
    DatabaseProceduresTest::SetUp();
    if (IsSkipped()) return;
    struct Bill {
      int num;
      const char* kind;
      DateTime when;
      bool settled;
    };
    for (const Bill& b :
         {Bill{1, "住宿", at(2026, 3, 1, 10), true}, Bill{2, "住宿", at(2026, 3, 2, 23, 59), false},
          Bill{3, "餐饮", at(2026, 3, 5, 12), true}, Bill{4, "餐饮", at(2026, 2, 10, 12), true}})
      conn_.execute("insert into bills (num, consumption, ndate, settle) values (:n, :k, :d, :s)",
                    {in("n", Variant(int32_t{b.num})), in("k", Variant(b.kind)),
                     in("d", Variant(b.when)), in("s", Variant(b.settled))});
    struct Pay {
      int bnum;
      DateTime when;
      const char* type;
      int64_t money;
    };
    for (const Pay& p :
         {Pay{1, at(2026, 3, 1, 10, 5), "订金", 200}, Pay{1, at(2026, 3, 1, 18), "现金", 300},
          Pay{2, at(2026, 3, 2, 9, 10), "订金", 500}, Pay{2, at(2026, 3, 2, 12), "销售收款", 999},
          Pay{3, at(2026, 3, 5), "现金", 50}})
      conn_.execute("insert into gathering (bnum, ndate, type, money) values (:b, :d, :t, :m)",
                    {in("b", Variant(int32_t{p.bnum})), in("d", Variant(p.when)),
                     in("t", Variant(p.type)), in("m", Variant(Currency{p.money * 10000}))});
    struct Item {
      int bnum, inum;
      int64_t money;
    };
    for (const Item& i :
         {Item{1, 1, 400}, Item{1, 2, 100}, Item{2, 1, 380}, Item{3, 1, 120}, Item{4, 1, 90}})
      conn_.execute("insert into billitems (bnum, inum, money) values (:b, :i, :m)",
                    {in("b", Variant(int32_t{i.bnum})), in("i", Variant(int32_t{i.inum})),
                     in("m", Variant(Currency{i.money * 10000}))});
  }
};

DateTime asDateTime(const Variant& v) {
  if (v.type() == VarType::DateTime) return v.asDateTime();
  DateTime d;
  EXPECT_TRUE(DateTime::parse(v.toText(), &d)) << v.debugString();
  return d;
}

TEST_P(DatabaseReportsTest, DayReportFillsItsInputOutputParameters) {
  ParamList p = {ret(),
                 inout("@fdate", Variant(at(2026, 3, 1))),
                 inout("@tdate", Variant(at(2026, 3, 2))),
                 inout("@billcont", Variant::null()),
                 inout("@subscription", Variant::null()),
                 inout("@settlement", Variant::null()),
                 inout("@subscription1", Variant::null())};
  conn_.callProcedure("DayRpt;1", p);
  EXPECT_EQ(p[0].value.toInt32(), 0);
  EXPECT_EQ(asDateTime(p[1].value), at(2026, 3, 1));
  EXPECT_EQ(asDateTime(p[2].value), at(2026, 3, 2));
  EXPECT_EQ(p[3].value.toInt32(), 2);            // bills 1 and 2: the last day counts whole
  EXPECT_DOUBLE_EQ(p[4].value.toDouble(), 700);  // deposits received
  EXPECT_DOUBLE_EQ(p[5].value.toDouble(), 300);  // settled bills' payments, store kinds excluded
  EXPECT_DOUBLE_EQ(p[6].value.toDouble(), 500);  // deposits of bills still open
}

TEST_P(DatabaseReportsTest, DayReportWithoutDatesCoversToday) {
  ParamList p = {ret(),
                 inout("@fdate", Variant::null()),
                 inout("@tdate", Variant::null()),
                 inout("@billcont", Variant::null()),
                 inout("@subscription", Variant::null()),
                 inout("@settlement", Variant::null()),
                 inout("@subscription1", Variant::null())};
  conn_.callProcedure("DayRpt;1", p);
  EXPECT_EQ(asDateTime(p[1].value), DateTime::today());
  EXPECT_EQ(asDateTime(p[2].value), DateTime::today());
  EXPECT_EQ(p[3].value.toInt32(), 0);
  EXPECT_DOUBLE_EQ(p[6].value.toDouble(), 500);  // bill 2's deposit, still held today
}

TEST_P(DatabaseReportsTest, ManagementReportComparesThreePeriods) {
  ParamList p = {ret(),
                 in("@fdate", Variant(at(2026, 3, 1))),
                 in("@tdate", Variant(at(2026, 3, 31))),
                 in("@t1", Variant(at(2026, 2, 1))),
                 in("@t2", Variant(at(2026, 2, 28))),
                 in("@t3", Variant(at(2026, 3, 2))),
                 in("@t4", Variant(at(2026, 3, 2)))};
  auto c = conn_.callProcedure("manageRpt;1", p);
  ASSERT_NE(c, nullptr);
  db::RowSet r = db::RowSet::readAll(*c);
  ASSERT_EQ(r.fields.size(), 5u);
  EXPECT_TRUE(EqualsNoCase(r.fields[0].name, "consumption"));
  ASSERT_EQ(r.rows.size(), 2u);
  // Ordered by kind: 住宿 (U+4F4F) before 餐饮 (U+9910).
  EXPECT_EQ(r.rows[0][0].toText(), "住宿");
  EXPECT_EQ(r.rows[0][1].toInt32(), 2);
  EXPECT_DOUBLE_EQ(r.rows[0][2].toDouble(), 880);
  EXPECT_DOUBLE_EQ(r.rows[0][3].toDouble(), 0);
  EXPECT_DOUBLE_EQ(r.rows[0][4].toDouble(), 380);
  EXPECT_EQ(r.rows[1][0].toText(), "餐饮");
  EXPECT_EQ(r.rows[1][1].toInt32(), 1);
  EXPECT_DOUBLE_EQ(r.rows[1][2].toDouble(), 120);
  EXPECT_DOUBLE_EQ(r.rows[1][3].toDouble(), 90);
  EXPECT_EQ(p[0].value.toInt32(), 0);
}

TEST_P(DatabaseReportsTest, PayrollSummaryFollowsMonthAndDepartmentPattern) {
  struct Gz {
    const char* staid;
    const char* dept;
    DateTime when;
    const char* kind;
    int money;
  };
  for (const Gz& g : {Gz{"0001", "01", at(2026, 11, 30), "应发", 5000},
                      Gz{"0001", "01", at(2026, 11, 30), "扣款", 600},
                      Gz{"0002", "0401", at(2026, 11, 30), "应发", 3000},
                      Gz{"0001", "01", at(2026, 10, 31), "应发", 4000}})
    conn_.execute(
        "insert into gz (ndate, staid, staname, deptID, xz, kind, money) "
        "values (:d, :s, '某人', :p, '基本工资', :k, :m)",
        {in("d", Variant(g.when)), in("s", Variant(g.staid)), in("p", Variant(g.dept)),
         in("k", Variant(g.kind)), in("m", Variant(Currency{int64_t{g.money} * 10000}))});
  auto call = [&](const char* pattern) {
    ParamList p = {ret(), in("@vYear", Variant(int32_t{2026})), in("@vMonth", Variant(int32_t{11})),
                   in("@deptID", Variant(pattern))};
    auto c = conn_.callProcedure("gz_gatherGz;1", p);
    EXPECT_NE(c, nullptr);
    return c ? db::RowSet::readAll(*c) : db::RowSet{};
  };
  db::RowSet all = call("%");
  ASSERT_EQ(all.rows.size(), 2u);
  EXPECT_EQ(all.rows[0][0].toText(), "0001");
  EXPECT_DOUBLE_EQ(all.rows[0][3].toDouble(), 5000);
  EXPECT_DOUBLE_EQ(all.rows[0][4].toDouble(), 600);
  EXPECT_DOUBLE_EQ(all.rows[0][5].toDouble(), 4400);
  db::RowSet catering = call("04%");
  ASSERT_EQ(catering.rows.size(), 1u);
  EXPECT_EQ(catering.rows[0][0].toText(), "0002");
  EXPECT_EQ(catering.rows[0][2].toText(), "0401");

  // The same through a client's EXEC statement, arguments by position and by name.
  auto byPosition = db::RowSet::readAll(*conn_.query("exec gz_gatherGz 2026, 11, '01'"));
  EXPECT_EQ(byPosition.rows.size(), 1u);
  auto byName = db::RowSet::readAll(
      *conn_.query("exec gz_gatherGz @vYear = 2026, @vMonth = 10, @deptID = '%'"));
  ASSERT_EQ(byName.rows.size(), 1u);
  EXPECT_DOUBLE_EQ(byName.rows[0][5].toDouble(), 4000);
}

INSTANTIATE_TEST_SUITE_P(BothEngines, DatabaseProceduresTest,
                         ::testing::Values(TestEngine::Embedded, TestEngine::PostgreSQL),
                         [](const auto& info) { return qz::testing::testEngineName(info.param); });
INSTANTIATE_TEST_SUITE_P(BothEngines, DatabaseReportsTest,
                         ::testing::Values(TestEngine::Embedded, TestEngine::PostgreSQL),
                         [](const auto& info) { return qz::testing::testEngineName(info.param); });

}  // namespace
}  // namespace qz::database
