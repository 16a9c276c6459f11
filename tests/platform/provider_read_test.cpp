// Reading through providers on a real database: nested details per master
// row, record counts, parameters by name with design values, client
// statements allowed or refused, and the streaming writer agreeing with the
// in-memory reader.
#include <chrono>

#include "database/create_database.h"
#include "platform/packet/json_packet.h"
#include "tests/platform/provider_test_support.h"

namespace qz::provider {
namespace {

using qz::testing::TestEngine;

class ProviderReadTest : public ProviderDbTest {};

DataPacket readStreaming(Provider& p, const ReadRequest& req, int64_t* n) {
  rapidjson::StringBuffer sb;
  JsonWriter w(sb);
  *n = p.getRecords(w, req);
  return decodePacket(std::string_view(sb.GetString(), sb.GetSize()));
}

TEST_P(ProviderReadTest, DetailsAreNestedPerMasterRowNamedAfterTheirDataset) {
  fillBills();
  Provider p("billP", conn_, billsDataset());
  int64_t n = 0;
  DataPacket s = readStreaming(p, ReadRequest{}, &n);
  EXPECT_EQ(n, 3);
  ASSERT_EQ(s.rows.size(), 3u);
  int items = findField(s.fields, "billitems");
  int pay = findField(s.fields, "gathering");
  ASSERT_GE(items, 0);
  ASSERT_GE(pay, 0);
  EXPECT_EQ(s.fields[items].type, FieldType::Dataset);
  ASSERT_GE(findField(s.fields[items].children, "inum"), 0);
  // Bill 1: items in inum order; bill 2: none; bill 3: one.
  ASSERT_EQ(s.rows[0].details[0].size(), 2u);
  int inum = findField(s.fields[items].children, "inum");
  int name = findField(s.fields[items].children, "name");
  EXPECT_EQ(s.rows[0].details[0][0].values[inum].toInt32(), 1);
  EXPECT_EQ(s.rows[0].details[0][0].values[name], Variant("rice"));
  EXPECT_EQ(s.rows[0].details[0][1].values[name], Variant("tea"));
  EXPECT_TRUE(s.rows[1].details[0].empty());
  EXPECT_TRUE(s.rows[1].details[1].empty());
  ASSERT_EQ(s.rows[2].details[0].size(), 1u);
  ASSERT_EQ(s.rows[2].details[1].size(), 1u);

  // The in-memory reader gives exactly the same packet.
  int64_t m = 0;
  DataPacket mem = p.getRecordsPacket(ReadRequest{}, &m);
  EXPECT_EQ(m, 3);
  EXPECT_EQ(encodePacket(mem), encodePacket(s));
}

TEST_P(ProviderReadTest, CountLimitsRowsAndZeroGivesOnlyTheColumns) {
  fillBills();
  Provider p("billP", conn_, billsDataset());
  for (int count : {-1, 0, 1, 2, 3, 10}) {
    ReadRequest req;
    req.count = count;
    int64_t n = 0;
    DataPacket s = readStreaming(p, req, &n);
    size_t want = count < 0 ? 3 : std::min(count, 3);
    EXPECT_EQ(n, int64_t(want)) << count;
    EXPECT_EQ(s.rows.size(), want) << count;
    EXPECT_EQ(s.fields.size(), 9u) << count;  // 7 columns + 2 details
    if (want) EXPECT_EQ(s.rows[0].details.size(), 2u);
  }
}

TEST_P(ProviderReadTest, EmptyMasterStillDescribesItsDetailsAndKeys) {
  Provider p("billP", conn_, billsDataset({"select * from bills where 1=2"}));
  int64_t n = -1;
  DataPacket s = readStreaming(p, ReadRequest{}, &n);
  EXPECT_EQ(n, 0);
  EXPECT_TRUE(s.rows.empty());
  int items = findField(s.fields, "billitems");
  ASSERT_GE(items, 0);
  EXPECT_EQ(s.fields[items].children.size(), 4u);
  int num = findField(s.fields, "num");
  ASSERT_GE(num, 0);
  EXPECT_TRUE(s.fields[num].required);
  EXPECT_TRUE(s.fields[num].key);
  EXPECT_EQ(s.fields[findField(s.fields, "cltname")].size, 50);
}

TEST_P(ProviderReadTest, ParametersMatchByNameAndMissingOnesKeepTheirDesignValue) {
  fillBills();
  auto ds = Dataset::makeQuery("staffer",
                               {"select * from bills where cltname like :id", "  order by num"},
                               {textParam("id", Variant("A%"))});
  Provider p("stafferP", conn_, std::move(ds));
  DataPacket a = p.getRecordsPacket(ReadRequest{});
  ASSERT_EQ(a.rows.size(), 1u);
  EXPECT_EQ(a.rows[0].values[1], Variant("Alice"));

  ReadRequest req;
  req.params.push_back(textParam("ID", Variant("%")));
  DataPacket all = p.getRecordsPacket(req);
  EXPECT_EQ(all.rows.size(), 2u);  // null names do not match like
  EXPECT_EQ(p.lastParams()[0].value, Variant("%"));

  ReadRequest bad;
  bad.params.push_back(textParam("zz", Variant("x")));
  try {
    p.getRecordsPacket(bad);
    FAIL();
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Parameter 'zz' not found");
  }
}

TEST_P(ProviderReadTest, ClientStatementReplacesTheOwnOrIsRefused) {
  fillBills();
  Provider p("billP", conn_, billsDataset({"select * from bills where 1=2"}));
  ReadRequest req;
  req.commandText = "select * from bills where num = :n";
  req.params.push_back(intParam("n", Variant(int32_t(3))));
  DataPacket s = p.getRecordsPacket(req);
  ASSERT_EQ(s.rows.size(), 1u);
  EXPECT_EQ(s.rows[0].details[0].size(), 1u);  // details still nested
  EXPECT_EQ(p.currentCommandText(), req.commandText);

  p.allowCommandText = false;
  try {
    p.getRecordsPacket(req);
    FAIL();
  } catch (const ProviderError& e) {
    EXPECT_STREQ(e.what(), "CommandText changes are not allowed");
  }
  EXPECT_THROW(p.execute("delete from bills", {}), ProviderError);
  EXPECT_EQ(count("select count(*) from bills"), 3);
  // The provider's own statement still runs.
  EXPECT_TRUE(p.getRecordsPacket(ReadRequest{}).rows.empty());
}

TEST_P(ProviderReadTest, TableDatasetReadsItsTableOrTheClientsTableName) {
  fillBills();
  Provider p("deptP", conn_, Dataset::makeTable("dept", "billitems"));
  EXPECT_EQ(p.getRecordsPacket(ReadRequest{}).rows.size(), 3u);
  ReadRequest req;
  req.commandText = "gathering";
  EXPECT_EQ(p.getRecordsPacket(req).rows.size(), 2u);
  req.commandText = "bills; delete from bills";
  EXPECT_THROW(p.getRecordsPacket(req), std::runtime_error);
  EXPECT_EQ(count("select count(*) from bills"), 3);
}

TEST_P(ProviderReadTest, ExecuteRunsTheClientsStatementWithParameters) {
  fillBills();
  Provider p("SqlProvider", conn_, Dataset::makeQuery("SqlExp"));
  db::ParamList params{intParam("n", Variant(int32_t(2))), textParam("c", Variant("O'Brien"))};
  EXPECT_EQ(p.execute("update bills set cltname = :c where num = :n", params), 1);
  auto c = conn_.query("select cltname from bills where num = 2");
  ASSERT_TRUE(c->next());
  EXPECT_EQ(c->row()[0], Variant("O'Brien"));
  // A provider without a statement of its own has nothing to run.
  EXPECT_THROW(p.execute("", {}), std::runtime_error);
}

TEST_P(ProviderReadTest, RowRequestRefreshesByKeyAndReadsDetailsAsAsked) {
  fillBills();
  Provider p("billP", conn_, billsDataset());
  DataPacket all = p.getRecordsPacket(ReadRequest{});
  DataPacket one;
  one.fields = all.fields;
  one.rows.push_back(all.rows[0]);
  one.rows[0].details = {{}, {}};
  const int cltname = findField(one.fields, "cltname");
  const Variant readName = one.rows[0].values[cltname];
  conn_.execute("update bills set cltname = 'changed' where num = 1");

  // 0, as earlier clients send: the row as sent, with its details.
  DataPacket back = p.rowRequest(one, 0);
  ASSERT_EQ(back.rows.size(), 1u);
  EXPECT_EQ(back.rows[0].values[cltname], readName);
  EXPECT_EQ(back.rows[0].details[0].size(), 2u);
  EXPECT_EQ(back.rows[0].details[1].size(), 1u);

  // The record alone: found by its key although another user changed it,
  // read afresh, no details.
  DataPacket fresh = p.rowRequest(one, kFetchRecord | kFetchBlobs);
  ASSERT_EQ(fresh.rows.size(), 1u);
  EXPECT_EQ(fresh.rows[0].values[cltname], Variant("changed"));
  EXPECT_EQ(fresh.rows[0].values[findField(one.fields, "num")], one.rows[0].values[0]);
  ASSERT_EQ(fresh.rows[0].details.size(), 2u);
  EXPECT_TRUE(fresh.rows[0].details[0].empty());

  DataPacket both = p.rowRequest(one, kFetchRecord | kFetchDetails);
  EXPECT_EQ(both.rows[0].values[cltname], Variant("changed"));
  EXPECT_EQ(both.rows[0].details[0].size(), 2u);

  // A row that is gone cannot be refreshed; the details alone still answer.
  conn_.execute("delete from bills where num = 1");
  try {
    p.rowRequest(one, kFetchRecord);
    FAIL() << "a deleted row was refreshed";
  } catch (const ProviderError& e) {
    EXPECT_STREQ(e.what(), kRecordChanged);
  }
  EXPECT_EQ(p.rowRequest(one, kFetchDetails).rows.size(), 1u);
}

TEST_P(ProviderReadTest, HundredThousandRowsStreamFromTheDatabase) {
  if (GetParam() != TestEngine::Embedded) GTEST_SKIP() << "embedded only (size)";
  conn_.execute("create table big (id int not null primary key, name varchar(20), amount money)");
  conn_.execute(
      "insert into big (id, name, amount) select value, 'row ' || value, value / 100.0 from "
      "(with recursive n(value) as (select 1 union all select value + 1 from n where value < "
      "100000) "
      "select value from n)");
  Provider p("bigP", conn_, Dataset::makeQuery("big", {"select * from big order by id"}));
  auto t0 = std::chrono::steady_clock::now();
  rapidjson::StringBuffer sb;
  JsonWriter w(sb);
  int64_t n = p.getRecords(w, ReadRequest{});
  auto t1 = std::chrono::steady_clock::now();
  EXPECT_EQ(n, 100000);
  struct Sink : PacketSink {
    void onFields(const std::vector<FieldDef>&) override {}
    void onRow(DataRow&& r) override {
      sum += r.values[0].asInt();
      ++rows;
    }
    int64_t sum = 0, rows = 0;
  } sink;
  decodePacket(std::string_view(sb.GetString(), sb.GetSize()), sink);
  auto t2 = std::chrono::steady_clock::now();
  EXPECT_EQ(sink.rows, 100000);
  EXPECT_EQ(sink.sum, int64_t(100000) * 100001 / 2);
  std::printf("[ measure  ] 100000 rows: %zu bytes, read+encode %lld ms, decode %lld ms\n",
              sb.GetSize(),
              (long long)std::chrono::duration_cast<std::chrono::milliseconds>(t1 - t0).count(),
              (long long)std::chrono::duration_cast<std::chrono::milliseconds>(t2 - t1).count());
}

TEST_P(ProviderReadTest, DatasetTimeoutAppliesToItsRunAndTheConnectionKeepsItsOwn) {
  fillBills();
  conn_.setCommandTimeout(300);
  Provider p("billP", conn_, billsDataset());
  EXPECT_EQ(p.getRecordsPacket(ReadRequest{}).rows.size(), 3u);
  EXPECT_EQ(conn_.commandTimeout(), 300);
  if (GetParam() != TestEngine::PostgreSQL) return;
  auto slow = Dataset::makeQuery("SQLPRO", {"select pg_sleep(3)"});
  slow->setCommandTimeout(1);
  Provider q("SQLProvider", conn_, std::move(slow));
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_THROW(q.getRecordsPacket(ReadRequest{}), db::DbError);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(2500));
  EXPECT_EQ(conn_.commandTimeout(), 300);
  EXPECT_EQ(p.getRecordsPacket(ReadRequest{}).rows.size(), 3u);  // the connection still works
}

TEST_P(ProviderReadTest, StoredProcedureGivesBackItsOutputParameters) {
  conn_.close();
  qz::database::CreateOptions opts;
  opts.force = true;
  qz::database::createDatabase(db_->connectionString(), opts);
  conn_.open();
  db::Parameter settle;
  settle.name = "s";
  settle.type = db::FieldType::Boolean;
  settle.value = Variant(true);
  conn_.execute("insert into bills (num, ndate, settle) values (1, '2026-12-09 10:00:00', :s)",
                {settle});
  auto param = [](std::string name, db::FieldType t, db::ParamDirection d) {
    db::Parameter p;
    p.name = std::move(name);
    p.type = t;
    p.direction = d;
    return p;
  };
  using db::FieldType;
  using db::ParamDirection;
  db::ParamList params{param("@RETURN_VALUE", FieldType::Int32, ParamDirection::ReturnValue),
                       param("@fdate", FieldType::DateTime, ParamDirection::InputOutput),
                       param("@tdate", FieldType::DateTime, ParamDirection::InputOutput),
                       param("@billcont", FieldType::Int32, ParamDirection::InputOutput),
                       param("@subscription", FieldType::Decimal, ParamDirection::InputOutput),
                       param("@settlement", FieldType::Decimal, ParamDirection::InputOutput),
                       param("@subscription1", FieldType::Decimal, ParamDirection::InputOutput)};
  Provider p("DayRptP", conn_, Dataset::makeStoredProc("DayRpt", "DayRpt;1", params));
  ReadRequest req;
  req.params.push_back(textParam("@FDATE", Variant("2026-12-01")));
  req.params.push_back(textParam("@tdate", Variant("2026-12-31")));
  p.getRecordsPacket(req);
  const db::ParamList& out = p.lastParams();
  ASSERT_EQ(out.size(), 7u);
  EXPECT_EQ(out[1].value.type(), VarType::DateTime);  // converted to the parameter's type
  EXPECT_FALSE(out[3].value.isEmpty()) << "@billcont came back empty";
  EXPECT_EQ(out[3].value.toInt32(), 1);
  // A client statement names another procedure only where allowed.
  p.allowCommandText = false;
  req.commandText = "manageRpt;1";
  EXPECT_THROW(p.getRecordsPacket(req), ProviderError);
}

INSTANTIATE_TEST_SUITE_P(Engines, ProviderReadTest,
                         ::testing::Values(TestEngine::Embedded, TestEngine::PostgreSQL),
                         engineName);

}  // namespace
}  // namespace qz::provider
