// Applying deltas through providers on a real database: the default
// resolution finding rows by all old values (nulls included), the calling
// order of the events, MaxErrors with skip and abort, the provider's own
// transaction, and handlers that write rows themselves.
#include <string>
#include <vector>

#include "platform/packet/json_delta.h"
#include "platform/packet/json_packet.h"
#include "tests/platform/provider_test_support.h"

namespace qz::provider {
namespace {

using qz::testing::TestEngine;

class ProviderApplyTest : public ProviderDbTest {
 protected:
  // The bills packet as a client reads it: fields with nested details.
  std::vector<FieldDef> billFields(Provider& p) {
    ReadRequest req;
    req.count = 0;
    return p.getRecordsPacket(req).fields;
  }
  // A delta row of kind over fields; values by name.
  DeltaRow row(const std::vector<FieldDef>& fields, UpdateKind kind,
               std::vector<std::pair<std::string, Variant>> oldv,
               std::vector<std::pair<std::string, Variant>> newv = {}) {
    DeltaRow r = makeDeltaRow(fields, kind);
    for (auto& [n, v] : oldv) r.oldValues.at(findField(fields, n)) = v;
    for (auto& [n, v] : newv) r.newValues.at(findField(fields, n)) = v;
    return r;
  }
  // The old values of bill num as read from the database.
  std::vector<std::pair<std::string, Variant>> billAsRead(Provider& p, int num) {
    ReadRequest req;
    req.commandText = "select * from bills where num = " + std::to_string(num);
    DataPacket pk = p.getRecordsPacket(req);
    p.getRecordsPacket(ReadRequest{});  // back to the provider's own statement
    std::vector<std::pair<std::string, Variant>> out;
    for (size_t i = 0; i < pk.fields.size(); ++i)
      if (pk.fields[i].type != FieldType::Dataset)
        out.emplace_back(pk.fields[i].name, pk.rows.at(0).values[i]);
    return out;
  }
  Variant value(const std::string& sql) {
    auto c = conn_.query(sql);
    return c->next() ? c->row()[0] : Variant();
  }
  int apply(Provider& p, Delta& d, int maxErrors, ErrorPacket* e = nullptr) {
    Variant owner;
    ErrorPacket local;
    return p.applyUpdates(d, maxErrors, owner, e ? e : &local);
  }
};

TEST_P(ProviderApplyTest, UpdateFindsRowByAllOldValuesIncludingNull) {
  fillBills();
  // The statement spells the table in mixed case, as the database compares
  // names without regard to case.
  Provider p("billP", conn_, billsDataset({"select * from Bills order by num"}));
  Delta d;
  d.fields = billFields(p);
  auto old = billAsRead(p, 2);  // cltname is null
  d.rows.push_back(row(d.fields, UpdateKind::Modify, old,
                       {{"settle", Variant(true)}, {"cltname", Variant("Zoe")}}));
  ErrorPacket e;
  EXPECT_EQ(apply(p, d, -1, &e), 0) << (e.errors.empty() ? "" : e.errors[0].message);
  EXPECT_EQ(value("select cltname from bills where num = 2"), Variant("Zoe"));
  EXPECT_FALSE(conn_.inTransaction());
}

TEST_P(ProviderApplyTest, RowsWrittenInOtherDateAndMoneySpellingsAreFoundByTheirOldValues) {
  // Statements of clients and procedures write dates without a time or
  // with 'T', and money without decimals; the row must still be found.
  conn_.execute(
      "insert into bills (num, cltname, amount, ndate, rebate) values (5, 'x', 3, '2026-12-02', "
      "1)");
  conn_.execute(
      "insert into bills (num, cltname, amount, ndate, rebate) values (6, 'y', 2.50, "
      "'2026-12-02T08:30:00', 0)");
  conn_.execute(
      "insert into bills (num, cltname, amount, ndate, rebate) values (7, 'z', 2.5, '2026-12-02 "
      "08:30:00.120', 0)");
  Provider p("billP", conn_, billsDataset());
  Delta d;
  d.fields = billFields(p);
  for (int n : {5, 6, 7})
    d.rows.push_back(
        row(d.fields, UpdateKind::Modify, billAsRead(p, n), {{"cltname", Variant("found")}}));
  ErrorPacket e;
  EXPECT_EQ(apply(p, d, -1, &e), 0) << e.errors[0].message;
  EXPECT_EQ(value("select count(*) from bills where cltname = 'found'").toInt32(), 3);
}

TEST_P(ProviderApplyTest, ChangedRowIsRecordNotFoundAndNothingIsWritten) {
  fillBills();
  Provider p("billP", conn_, billsDataset());
  Delta d;
  d.fields = billFields(p);
  auto old = billAsRead(p, 1);
  // Another user changed the amount since the client read it.
  conn_.execute("update bills set amount = 99 where num = 1");
  d.rows.push_back(row(d.fields, UpdateKind::Modify, old, {{"cltname", Variant("Eve")}}));
  d.rows.push_back(row(d.fields, UpdateKind::Delete, old));
  ErrorPacket e;
  EXPECT_EQ(apply(p, d, -1, &e), 2);
  ASSERT_EQ(e.errors.size(), 2u);
  EXPECT_EQ(e.errors[0].message, "Record not found or changed by another user");
  EXPECT_EQ(e.errors[0].kind, UpdateKind::Modify);
  EXPECT_EQ(e.errors[1].kind, UpdateKind::Delete);
  EXPECT_EQ(e.errors[1].path[0].index, 1);
  EXPECT_EQ(value("select cltname from bills where num = 1"), Variant("Alice"));
  EXPECT_EQ(value("select count(*) from bills").toInt32(), 3);

  // With the current values the delete finds its row.
  Delta d2;
  d2.fields = d.fields;
  d2.rows.push_back(row(d.fields, UpdateKind::Delete, billAsRead(p, 1)));
  EXPECT_EQ(apply(p, d2, -1, &e), 0);
  EXPECT_EQ(value("select count(*) from bills").toInt32(), 2);
}

TEST_P(ProviderApplyTest, InsertedMasterGoesBeforeItsDetailsAndValuesAreBound) {
  Provider p("billP", conn_, billsDataset({"select * from bills where 1=2"}));
  Delta d;
  d.fields = billFields(p);
  const std::vector<FieldDef>& items = d.fields[findField(d.fields, "billitems")].children;
  DeltaRow m = row(d.fields, UpdateKind::Insert, {},
                   {{"num", Variant(int32_t(7))},
                    {"cltname", Variant("O'Hara'); drop table bills; --")},
                    {"amount", Variant(Currency{125000})},
                    {"ndate", Variant(DateTime::fromParts(2026, 12, 9, 10, 15, 30))},
                    {"settle", Variant::null()}});
  m.details[0].push_back(row(
      items, UpdateKind::Insert, {},
      {{"bnum", Variant(int32_t(7))}, {"inum", Variant(int32_t(1))}, {"name", Variant("tea")}}));
  d.rows.push_back(m);
  ErrorPacket e;
  ASSERT_EQ(apply(p, d, 0, &e), 0) << e.errors[0].message;
  EXPECT_EQ(value("select cltname from bills where num = 7"),
            Variant("O'Hara'); drop table bills; --"));
  EXPECT_EQ(value("select name from billitems where bnum = 7"), Variant("tea"));
  EXPECT_DOUBLE_EQ(value("select amount from bills where num = 7").toDouble(), 12.5);
  EXPECT_TRUE(value("select settle from bills where num = 7").isNull());

  // The row written finds itself again by all its old values.
  Delta d2;
  d2.fields = d.fields;
  d2.rows.push_back(
      row(d.fields, UpdateKind::Modify, billAsRead(p, 7), {{"rebate", Variant(0.25)}}));
  EXPECT_EQ(apply(p, d2, 0, &e), 0) << e.errors.back().message;
  EXPECT_DOUBLE_EQ(value("select rebate from bills where num = 7").toDouble(), 0.25);
}

// A delta of three inserts where the middle one collides with bill 1.
Delta threeInserts(const std::vector<FieldDef>& fields, int bad = 1, int bad2 = -1) {
  Delta d;
  d.fields = fields;
  int nums[] = {10, 11, 12};
  nums[bad] = 1;
  if (bad2 >= 0) nums[bad2] = 2;
  for (int n : nums) {
    DeltaRow r = makeDeltaRow(fields, UpdateKind::Insert);
    r.newValues[findField(fields, "num")] = Variant(int32_t(n));
    d.rows.push_back(r);
  }
  return d;
}

TEST_P(ProviderApplyTest, MaxErrorsDecidesSkipOrAbortAndTheOwnTransactionsFate) {
  fillBills();
  Provider p("billP", conn_, billsDataset());
  std::vector<FieldDef> fields = billFields(p);
  auto written = [&] { return value("select count(*) from bills where num >= 10").toInt32(); };
  struct Case {
    int maxErrors;
    int bad2;
    int errors;
    int written;
    int resolvedAfterError;
  };
  // maxErrors -1: no limit, commit. 0: first error aborts, rollback.
  // 1: one error skipped and committed; a second error aborts and rolls back.
  const Case cases[] = {{-1, -1, 1, 2, 1}, {0, -1, 1, 0, 0}, {1, -1, 1, 2, 1},
                        {1, 2, 2, 0, 0},   {5, 2, 2, 1, 0},  {-7, -1, 1, 2, 1}};
  for (const Case& c : cases) {
    conn_.execute("delete from bills where num >= 10");
    Delta d = threeInserts(fields, 1, c.bad2);
    std::vector<ResolverResponse> responses;
    int after = 0;
    p.onUpdateError = [&](Provider&, DeltaRecord&, const std::exception&, UpdateKind,
                          ResolverResponse& r) { responses.push_back(r); };
    p.afterUpdateRecord = [&](Provider&, const Dataset&, DeltaRecord&, UpdateKind) {
      if (!responses.empty()) ++after;
    };
    ErrorPacket e;
    EXPECT_EQ(apply(p, d, c.maxErrors, &e), c.errors) << c.maxErrors;
    EXPECT_EQ(written(), c.written) << c.maxErrors << "/" << c.bad2;
    EXPECT_EQ(after, c.resolvedAfterError) << c.maxErrors;
    ASSERT_FALSE(responses.empty());
    EXPECT_EQ(responses[0], c.maxErrors == 0 ? ResolverResponse::Abort : ResolverResponse::Skip);
    if (c.maxErrors == 1 && c.bad2 >= 0) EXPECT_EQ(responses.back(), ResolverResponse::Abort);
    EXPECT_FALSE(conn_.inTransaction());
    EXPECT_EQ(e.errors.size(), size_t(c.errors));
  }
}

TEST_P(ProviderApplyTest, EventsRunInTheOrderOfMastersAndDetails) {
  fillBills();
  Provider p("billP", conn_, billsDataset());
  std::vector<FieldDef> fields = billFields(p);
  const auto& items = fields[findField(fields, "billitems")].children;
  std::vector<std::string> calls;
  auto tag = [](const DeltaRecord& r) {
    return r.datasetName() + ":" + std::to_string(static_cast<int>(r.updateKind()));
  };
  p.beforeApplyUpdates = [&](Provider&, Variant& o) {
    calls.push_back("BeforeApply " + o.toText());
  };
  p.beforeUpdateRecord = [&](Provider&, const Dataset& ds, DeltaRecord& r, UpdateKind k,
                             bool& applied) {
    EXPECT_EQ(&ds.name(), &ds.name());
    EXPECT_EQ(ds.name(), r.datasetName());
    calls.push_back("Before " + tag(r));
    applied = true;  // the rule writes the row itself
  };
  p.afterUpdateRecord = [&](Provider&, const Dataset&, DeltaRecord& r, UpdateKind) {
    calls.push_back("After " + tag(r));
  };
  p.afterApplyUpdates = [&](Provider&, Variant& o) {
    calls.push_back("AfterApply");
    o = Variant(int32_t(42));
  };
  Delta d;
  d.fields = fields;
  DeltaRow ins = makeDeltaRow(fields, UpdateKind::Insert);
  ins.details[0].push_back(makeDeltaRow(items, UpdateKind::Insert));
  ins.details[0].push_back(makeDeltaRow(items, UpdateKind::Insert));
  DeltaRow mod = row(fields, UpdateKind::Modify, {{"num", Variant(int32_t(1))}});
  mod.details[0].push_back(row(items, UpdateKind::Delete, {{"bnum", Variant(int32_t(1))}}));
  DeltaRow carrier = row(fields, UpdateKind::Unmodified, {{"num", Variant(int32_t(3))}});
  carrier.details[0].push_back(row(items, UpdateKind::Modify, {{"bnum", Variant(int32_t(3))}}));
  d.rows = {ins, mod, carrier};
  Variant owner("in");
  ErrorPacket e;
  EXPECT_EQ(p.applyUpdates(d, -1, owner, &e), 0);
  const std::vector<std::string> want = {
      "BeforeApply in",    "Before bills:1",     "After bills:1",     "Before billitems:1",
      "After billitems:1", "Before billitems:1", "After billitems:1", "Before billitems:2",
      "After billitems:2", "Before bills:0",     "After bills:0",     "Before billitems:0",
      "After billitems:0", "AfterApply"};
  EXPECT_EQ(calls, want);
  EXPECT_EQ(owner, Variant(int32_t(42)));
  // Applied rows were not written by the provider.
  EXPECT_EQ(value("select count(*) from billitems").toInt32(), 3);
}

TEST_P(ProviderApplyTest, RuleSetsNewValuesThatTheDefaultResolutionWrites) {
  Provider p("billP", conn_, billsDataset({"select * from bills where 1=2"}));
  std::vector<FieldDef> fields = billFields(p);
  const auto& items = fields[findField(fields, "billitems")].children;
  int32_t next = 100;
  int32_t docNumber = 0;
  p.beforeUpdateRecord = [&](Provider&, const Dataset&, DeltaRecord& r, UpdateKind k, bool&) {
    if (k != UpdateKind::Insert) return;
    if (r.datasetName() == "bills") {
      docNumber = next++;
      r.fieldByName("NUM").setNewValue(Variant(docNumber));
    } else {
      r.fieldByName("BNum").setNewValue(Variant(docNumber));
    }
  };
  Delta d;
  d.fields = fields;
  for (int m = 0; m < 2; ++m) {
    DeltaRow r = row(fields, UpdateKind::Insert, {}, {{"num", Variant(int32_t(0))}});
    for (int i = 1; i <= 2; ++i)
      r.details[0].push_back(row(items, UpdateKind::Insert, {},
                                 {{"bnum", Variant(int32_t(0))}, {"inum", Variant(int32_t(i))}}));
    d.rows.push_back(r);
  }
  ErrorPacket e;
  ASSERT_EQ(apply(p, d, 0, &e), 0) << e.errors[0].message;
  // Each master's details got that master's number.
  EXPECT_EQ(value("select count(*) from billitems where bnum = 100").toInt32(), 2);
  EXPECT_EQ(value("select count(*) from billitems where bnum = 101").toInt32(), 2);
}

TEST_P(ProviderApplyTest, FailedRecordLeavesNothingOfItsOwnBehind) {
  fillBills();
  Provider p("billP", conn_, billsDataset());
  std::vector<FieldDef> fields = billFields(p);
  int n = 0;
  // The rule writes a payment first; the second record's rule then fails.
  p.beforeUpdateRecord = [&](Provider& pr, const Dataset&, DeltaRecord& r, UpdateKind, bool&) {
    ++n;
    db::ParamList ps{intParam("i", Variant(int32_t(100 + n)))};
    pr.connection().execute("insert into gathering (inum, bnum, type) values (:i, 0, 'rule')", ps);
    if (n == 2) throw std::runtime_error("rule failed");
  };
  Delta d = threeInserts(fields, 0);  // 1 collides too: both failures
  d.rows[0].newValues[findField(fields, "num")] = Variant(int32_t(20));
  ErrorPacket e;
  EXPECT_EQ(apply(p, d, -1, &e), 1);
  ASSERT_EQ(e.errors.size(), 1u);
  EXPECT_EQ(e.errors[0].message, "rule failed");
  EXPECT_EQ(e.errors[0].path[0].index, 1);
  // Records 1 and 3 are committed with their payments; record 2 left nothing.
  EXPECT_EQ(value("select count(*) from gathering where type = 'rule'").toInt32(), 2);
  EXPECT_TRUE(value("select inum from gathering where inum = 102").isUnassigned());
  EXPECT_EQ(value("select count(*) from bills where num in (20, 12)").toInt32(), 2);
}

TEST_P(ProviderApplyTest, RolledBackRequestResolvesNothingMore) {
  fillBills();
  Provider p("billP", conn_, billsDataset());
  std::vector<FieldDef> fields = billFields(p);
  // An atomic request: the first error undoes it all and ends it, whatever
  // the handler answered; afterApplyUpdates still runs, outside it.
  p.applyTransaction = ApplyTransaction::AtomicRequest;
  p.onUpdateError = [&](Provider&, DeltaRecord&, const std::exception&, UpdateKind,
                        ResolverResponse& r) { r = ResolverResponse::Skip; };
  bool inTransactionAfter = true;
  p.afterApplyUpdates = [&](Provider& pr, Variant&) {
    inTransactionAfter = pr.connection().inTransaction();
  };
  Delta d = threeInserts(fields);  // 10 ok, 1 collides, 12 would be ok
  ErrorPacket e;
  EXPECT_EQ(apply(p, d, -1, &e), 1);
  EXPECT_EQ(value("select count(*) from bills where num >= 10").toInt32(), 0);
  EXPECT_FALSE(inTransactionAfter);
  EXPECT_FALSE(conn_.inTransaction());

  // stopOnFirstError ends resolving even when no handler rolls back.
  Provider q("plainP", conn_, billsDataset());
  q.stopOnFirstError = true;
  Delta d2 = threeInserts(fields);
  EXPECT_EQ(apply(q, d2, -1, &e), 1);
  EXPECT_EQ(value("select count(*) from bills where num >= 10").toInt32(),
            1);  // 10 only, committed
}

TEST_P(ProviderApplyTest, FailureOfTheCallRollsBackWhatItBegan) {
  fillBills();
  Provider p("MAccountP", conn_, billsDataset());
  std::vector<FieldDef> fields = billFields(p);
  bool afterCalled = false;
  p.beforeApplyUpdates = [&](Provider& pr, Variant& owner) {
    pr.connection().beginTrans();
    pr.connection().execute("delete from bills where num = 1");
    owner.asArray().at(1).toInt32();  // OwnerData that is not an array
  };
  p.afterApplyUpdates = [&](Provider&, Variant&) { afterCalled = true; };
  Delta d = threeInserts(fields, 0);
  Variant owner("x");
  ErrorPacket e;
  EXPECT_THROW(p.applyUpdates(d, -1, owner, &e), std::exception);
  EXPECT_FALSE(afterCalled);
  EXPECT_FALSE(conn_.inTransaction());
  EXPECT_EQ(value("select count(*) from bills").toInt32(), 3);
}

TEST_P(ProviderApplyTest, GeneratedKeyIsReadOnlyAndLeftToTheDatabaseOnInsert) {
  const bool pg = GetParam() == TestEngine::PostgreSQL;
  conn_.execute(std::string("create table rptlist (id ") +
                (pg ? "integer generated by default as identity primary key"
                    : "integer primary key autoincrement") +
                ", fname varchar(20) not null)");
  Provider p("rptlistP", conn_, Dataset::makeQuery("rptlist", {"select * from rptlist"}));
  ReadRequest meta;
  meta.count = 0;
  Delta d;
  d.fields = p.getRecordsPacket(meta).fields;
  int id = findField(d.fields, "id");
  ASSERT_GE(id, 0);
  EXPECT_TRUE(d.fields[id].readOnly);
  EXPECT_TRUE(d.fields[findField(d.fields, "fname")].required);
  for (const char* name : {"a", "b"})
    d.rows.push_back(
        row(d.fields, UpdateKind::Insert, {}, {{"id", Variant::null()}, {"fname", Variant(name)}}));
  ErrorPacket e;
  ASSERT_EQ(apply(p, d, 0, &e), 0) << e.errors[0].message;
  EXPECT_EQ(value("select count(distinct id) from rptlist").toInt32(), 2);
  // A required column left null is the database's error, reported per row.
  Delta bad;
  bad.fields = d.fields;
  bad.rows.push_back(row(d.fields, UpdateKind::Insert, {}, {{"fname", Variant::null()}}));
  EXPECT_EQ(apply(p, bad, 0, &e), 1);
  EXPECT_FALSE(e.errors.back().message.empty());
}

TEST_P(ProviderApplyTest, FieldNamesOutsideTheTableNeverReachAStatement) {
  fillBills();
  Provider p("billP", conn_, billsDataset());
  std::vector<FieldDef> fields = billFields(p);
  FieldDef evil;
  evil.name = "settle = 1, cltname";
  evil.type = FieldType::String;
  fields.insert(fields.begin() + 1, evil);
  Delta d;
  d.fields = fields;
  auto old = billAsRead(p, 1);
  d.rows.push_back(row(fields, UpdateKind::Modify, old, {{evil.name, Variant("x")}}));
  ErrorPacket e;
  EXPECT_EQ(apply(p, d, -1, &e), 1);
  EXPECT_NE(e.errors[0].message.find("not found in table"), std::string::npos)
      << e.errors[0].message;
  EXPECT_EQ(value("select cltname from bills where num = 1"), Variant("Alice"));
}

TEST_P(ProviderApplyTest, TargetTableComesFromTheClientsStatementOrTheTableDataset) {
  fillBills();
  Provider p("AdoDataP", conn_, Dataset::makeQuery("ADOsql"));
  ReadRequest req;
  req.commandText = "select * from gathering where bnum = 1";
  DataPacket pk = p.getRecordsPacket(req);
  Delta d;
  d.fields = pk.fields;
  std::vector<std::pair<std::string, Variant>> old;
  for (size_t i = 0; i < pk.fields.size(); ++i)
    old.emplace_back(pk.fields[i].name, pk.rows[0].values[i]);
  d.rows.push_back(row(d.fields, UpdateKind::Modify, old, {{"type", Variant("voucher")}}));
  ErrorPacket e;
  ASSERT_EQ(apply(p, d, -1, &e), 0) << e.errors[0].message;
  EXPECT_EQ(value("select type from gathering where inum = 1"), Variant("voucher"));

  Provider t("deptP", conn_, Dataset::makeTable("dept", "billitems"));
  DataPacket items = t.getRecordsPacket(ReadRequest{});
  Delta d2;
  d2.fields = items.fields;
  d2.rows.push_back(row(
      items.fields, UpdateKind::Delete,
      {{"bnum", Variant(int32_t(3))}, {"inum", Variant(int32_t(1))}, {"name", Variant("soup")}}));
  ASSERT_EQ(apply(t, d2, -1, &e), 0) << e.errors.back().message;
  EXPECT_EQ(value("select count(*) from billitems").toInt32(), 2);

  // A provider with no statement and no client statement has no table.
  Provider none("PV1", conn_, Dataset::makeQuery("ADOQuery1"));
  Delta d3;
  d3.fields = pk.fields;
  d3.rows.push_back(row(pk.fields, UpdateKind::Delete, old));
  EXPECT_EQ(apply(none, d3, -1, &e), 1);
  EXPECT_NE(e.errors.back().message.find("no table name"), std::string::npos);
}

TEST_P(ProviderApplyTest, ValuesThatDoNotFitTheirColumnAreRefusedNamingTheField) {
  Provider p("billP", conn_, billsDataset());
  struct Case {
    const char* field;
    Variant value;
    const char* expect;
  };
  const Case cases[] = {
      {"amount", Variant(922337203685477.5808), "Field 'amount': "},
      {"amount", Variant(1e300), "out of range for currency"},
      {"amount", Variant(-1e300), "out of range for currency"},
      {"amount", Variant::decimal("922337203685478"), "out of range for currency"},
      {"cltname", Variant(std::string(100000, 'x')), "Field 'cltname': text of 100000 characters"},
  };
  for (const Case& c : cases) {
    Delta d;
    d.fields = billFields(p);
    d.rows.push_back(
        row(d.fields, UpdateKind::Insert, {}, {{"num", Variant(int32_t{9})}, {c.field, c.value}}));
    ErrorPacket e;
    EXPECT_EQ(apply(p, d, -1, &e), 1) << c.expect;
    ASSERT_EQ(e.errors.size(), 1u);
    EXPECT_NE(e.errors[0].message.find(c.expect), std::string::npos) << e.errors[0].message;
  }
  EXPECT_EQ(value("select count(*) from bills").toInt32(), 0);
  // Fifty characters of Chinese text fill a fifty-character column exactly.
  std::string fifty;
  for (int i = 0; i < 50; ++i) fifty += "张";
  Delta d;
  d.fields = billFields(p);
  d.rows.push_back(row(d.fields, UpdateKind::Insert, {},
                       {{"num", Variant(int32_t{9})}, {"cltname", Variant(fifty)}}));
  ErrorPacket e;
  EXPECT_EQ(apply(p, d, -1, &e), 0) << (e.errors.empty() ? "" : e.errors[0].message);
}

TEST_P(ProviderApplyTest, TextWithNulIsKeptOrRefusedButNeverCut) {
  Provider p("billP", conn_, billsDataset());
  const std::string text("a\0b", 3);
  Delta d;
  d.fields = billFields(p);
  d.rows.push_back(row(d.fields, UpdateKind::Insert, {},
                       {{"num", Variant(int32_t{9})}, {"cltname", Variant(text)}}));
  ErrorPacket e;
  const int errors = apply(p, d, -1, &e);
  if (GetParam() == TestEngine::PostgreSQL) {
    ASSERT_EQ(errors, 1);
    EXPECT_NE(e.errors[0].message.find("NUL character"), std::string::npos) << e.errors[0].message;
    EXPECT_EQ(value("select count(*) from bills").toInt32(), 0);
  } else {
    ASSERT_EQ(errors, 0) << e.errors[0].message;
    EXPECT_EQ(value("select cltname from bills where num = 9"), Variant(text));
  }
}

TEST_P(ProviderApplyTest, StoredMoneyOutsideTheCurrencyRangeStillReads) {
  // Rows written by an older version that did not check the range.
  conn_.execute("insert into bills (num, amount) values (1, 999999999999999)");
  conn_.execute("insert into bills (num, amount) values (2, -922337203685477.5808)");
  Provider p("billP", conn_, billsDataset({"select num, amount from bills order by num"}));
  const DataPacket read = decodePacket(encodePacket(p.getRecordsPacket(ReadRequest{})));
  ASSERT_EQ(read.rows.size(), 2u);
  EXPECT_EQ(read.rows[0].values[1].toText(), "999999999999999");
  EXPECT_EQ(read.rows[1].values[1], Variant(Currency{INT64_MIN}));
}

INSTANTIATE_TEST_SUITE_P(Engines, ProviderApplyTest,
                         ::testing::Values(TestEngine::Embedded, TestEngine::PostgreSQL),
                         engineName);

}  // namespace
}  // namespace qz::provider
