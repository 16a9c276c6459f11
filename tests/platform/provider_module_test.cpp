// The application-server operations over JSON, as a client reaches them:
// provider names in declaration order, reading and applying through the
// wire shapes, parameters, OwnerData, and the system's refusals.
#include "platform/module/remote_data_module.h"
#include "platform/packet/json_delta.h"
#include "platform/packet/json_packet.h"
#include "platform/packet/json_params.h"
#include "tests/platform/provider_test_support.h"

namespace qz::provider {
namespace {

using qz::testing::TestEngine;

class TestModule : public RemoteDataModule {
 public:
  explicit TestModule(db::Connection& conn, std::unique_ptr<Dataset> bills) : conn_(conn) {
    addConnection(conn);
    addProvider(std::make_unique<Provider>("deptP", conn, Dataset::makeTable("dept", "billitems")));
    Provider& billP = addProvider(std::make_unique<Provider>("billP", conn, std::move(bills)));
    billP.afterApplyUpdates = [](Provider&, Variant& o) { o = Variant(int32_t(77)); };
    Provider& rpt = addProvider(std::make_unique<Provider>(
        "rptlistP", conn,
        Dataset::makeQuery("rptlist", {"select * from bills where num = :num"},
                           {intParam("num", Variant(int32_t(1)))})));
    rpt.allowCommandText = false;
    addProvider(std::make_unique<Provider>("SqlProvider", conn, Dataset::makeQuery("SqlExp")));
  }
  std::vector<std::string> custom;

 protected:
  bool callCustom(std::string_view method, const rapidjson::Value&,
                  remote::JsonWriter& w) override {
    if (method != "login") return false;
    custom.emplace_back(method);
    w.StartObject();
    w.Key("hresult");
    w.Int(0);
    w.EndObject();
    return true;
  }

 private:
  db::Connection& conn_;
};

class ProviderModuleTest : public ProviderDbTest {
 protected:
  void SetUp() override {
    ProviderDbTest::SetUp();
    if (IsSkipped()) return;
    fillBills();
    module_ = std::make_unique<TestModule>(conn_, billsDataset());
  }
  // Calls method with params (JSON text); returns the result as a document.
  rapidjson::Document call(const std::string& method, const std::string& params) {
    rapidjson::Document in;
    parseJson(params, &in);
    rapidjson::StringBuffer sb;
    remote::JsonWriter w(sb);
    module_->call(method, in, w);
    rapidjson::Document out;
    parseJson(std::string_view(sb.GetString(), sb.GetSize()), &out);
    return out;
  }
  std::string callError(const std::string& method, const std::string& params, int* code = nullptr) {
    try {
      call(method, params);
    } catch (const remote::RemoteError& e) {
      if (code) *code = e.code;
      return e.what();
    } catch (const std::exception& e) {
      if (code) *code = 1;
      return e.what();
    }
    return "(no error)";
  }
  Variant value(const std::string& sql) {
    auto c = conn_.query(sql);
    return c->next() ? c->row()[0] : Variant();
  }
  std::unique_ptr<TestModule> module_;
};

TEST_P(ProviderModuleTest, ProviderNamesComeInDeclarationOrder) {
  auto r = call("AS_GetProviderNames", "{}");
  ASSERT_TRUE(r["names"].IsArray());
  std::vector<std::string> names;
  for (auto& n : r["names"].GetArray()) names.push_back(n.GetString());
  EXPECT_EQ(names, (std::vector<std::string>{"deptP", "billP", "rptlistP", "SqlProvider"}));
}

TEST_P(ProviderModuleTest, UnknownProviderAndMethodAreRefused) {
  int code = 0;
  EXPECT_EQ(callError("AS_GetRecords", R"({"provider":"nope","count":-1})", &code),
            "Provider not exported: nope");
  EXPECT_EQ(code, 2);
  EXPECT_EQ(callError("AS_ApplyUpdates", R"({"provider":"ghostP","delta":{"fields":[]}})"),
            "Provider not exported: ghostP");
  callError("AS_Frobnicate", "{}", &code);
  EXPECT_EQ(code, -32601);
  callError("AS_GetRecords", R"({"count":-1})", &code);
  EXPECT_EQ(code, -32602);
  callError("AS_GetRecords", R"({"provider":"billP","count":"all"})", &code);
  EXPECT_EQ(code, -32602);
  EXPECT_EQ(callError("AS_GetRecords", R"({"provider":"rptlistP","commandText":"select 1"})"),
            "CommandText changes are not allowed");
  auto r = call("login", R"({"operator":"a"})");
  EXPECT_EQ(r["hresult"].GetInt(), 0);
  EXPECT_EQ(module_->custom.size(), 1u);
}

TEST_P(ProviderModuleTest, GetRecordsAnswersPacketCountParamsAndOwnerData) {
  auto r = call("AS_GetRecords",
                R"({"provider":"BILLP","count":2,"options":0,"commandText":"","params":[],)"
                R"("ownerData":{"$currency":"1.5000"}})");
  EXPECT_EQ(r["recsOut"].GetInt(), 2);
  DataPacket p = packetFromValue(r["data"]);
  ASSERT_EQ(p.rows.size(), 2u);
  EXPECT_EQ(p.rows[0].details[0].size(), 2u);
  EXPECT_EQ(readTaggedValue(r["ownerData"]), Variant(Currency{15000}));
  EXPECT_TRUE(r["params"].IsArray());

  auto q = call("AS_GetRecords", R"({"provider":"rptlistP","params":[{"name":"NUM","value":3}]})");
  DataPacket one = packetFromValue(q["data"]);
  ASSERT_EQ(one.rows.size(), 1u);
  EXPECT_EQ(one.rows[0].values[1], Variant("Bob"));
  db::ParamList back = paramsFromValue(q["params"]);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].value, Variant(int32_t(3)));
  EXPECT_FALSE(q.HasMember("ownerData"));  // unassigned stays absent

  auto g = call("AS_GetParams", R"({"provider":"rptlistP","ownerData":[1,"x"]})");
  EXPECT_EQ(paramsFromValue(g["params"])[0].name, "num");
  EXPECT_EQ(readTaggedValue(g["ownerData"]),
            Variant(VariantArray{Variant(int32_t(1)), Variant("x")}));
}

TEST_P(ProviderModuleTest, ApplyUpdatesOverTheWireReturnsErrorsAndOwnerData) {
  auto r = call("AS_GetRecords",
                R"({"provider":"billP","commandText":"select * from bills where num = 3"})");
  DataPacket p = packetFromValue(r["data"]);
  // Modify bill 3's client name and delete its item; then a stale delete.
  Delta d;
  d.fields = p.fields;
  DeltaRow m = makeDeltaRow(d.fields, UpdateKind::Modify);
  m.oldValues = p.rows[0].values;
  m.newValues[findField(d.fields, "cltname")] = Variant("Bobby");
  const auto& items = d.fields[findField(d.fields, "billitems")].children;
  DeltaRow del = makeDeltaRow(items, UpdateKind::Delete);
  del.oldValues = p.rows[0].details[0][0].values;
  m.details[0].push_back(del);
  DeltaRow stale = makeDeltaRow(items, UpdateKind::Delete);
  stale.oldValues = del.oldValues;
  stale.oldValues[findField(items, "name")] = Variant("gone");
  m.details[0].push_back(stale);
  d.rows.push_back(m);
  std::string params = "{\"provider\":\"billP\",\"maxErrors\":-1,\"delta\":" + encodeDelta(d) + "}";
  auto a = call("AS_ApplyUpdates", params);
  EXPECT_EQ(a["errorCount"].GetInt(), 1);
  ErrorPacket e = errorPacketFromValue(a["errors"]);
  ASSERT_EQ(e.errors.size(), 1u);
  EXPECT_EQ(e.errors[0].message, "Record not found or changed by another user");
  ASSERT_EQ(e.errors[0].path.size(), 2u);
  EXPECT_EQ(e.errors[0].path[1].detail, "billitems");
  EXPECT_EQ(e.errors[0].path[1].index, 1);
  EXPECT_EQ(readTaggedValue(a["ownerData"]), Variant(int32_t(77)));
  EXPECT_EQ(value("select cltname from bills where num = 3"), Variant("Bobby"));
  EXPECT_EQ(value("select count(*) from billitems where bnum = 3").toInt32(), 0);

  // A malformed delta fails the call and writes nothing.
  std::string bad = R"({"provider":"billP","delta":{"fields":[{"name":"num","type":"int32"}],)"
                    R"("rows":[{"kind":"insert","new":{"num":"x"}}]}})";
  EXPECT_NE(callError("AS_ApplyUpdates", bad).find("Field 'num'"), std::string::npos);
}

TEST_P(ProviderModuleTest, ExecuteDataRequestAndRelease) {
  auto r = call(
      "AS_Execute",
      R"({"provider":"SqlProvider","commandText":"update bills set settle = :s where num = :n",)"
      R"("params":[{"name":"s","type":"boolean","value":true},{"name":"n","value":2}]})");
  ASSERT_TRUE(r["params"].IsArray());
  EXPECT_EQ(r["params"].Size(), 2u);
  EXPECT_TRUE(value("select settle from bills where num = 2").toInt32() != 0);

  // Parameters of a client statement take the type of the values sent.
  db::ParamList back = paramsFromValue(r["params"]);
  EXPECT_EQ(back[0].type, db::FieldType::Boolean);
  EXPECT_EQ(back[1].type, db::FieldType::Int32);
  EXPECT_EQ(back[1].value, Variant(int32_t(2)));

  auto dr = call("AS_DataRequest", R"({"provider":"billP","data":5})");
  EXPECT_TRUE(dr["result"].IsNull());

  // Release rolls back a transaction left open and closes the connection.
  conn_.beginTrans();
  conn_.execute("delete from bills");
  module_->release();
  EXPECT_FALSE(conn_.isOpen());
  conn_.open();
  EXPECT_EQ(value("select count(*) from bills").toInt32(), 3);
}

TEST_P(ProviderModuleTest, RowRequestFetchesTheDetailsOfTheRowSent) {
  auto r = call("AS_GetRecords", R"({"provider":"billP","count":0})");
  DataPacket meta = packetFromValue(r["data"]);
  DataPacket row;
  for (const FieldDef& f : meta.fields)
    if (f.type != FieldType::Dataset) row.fields.push_back(f);
  DataRow one;
  one.values.assign(row.fields.size(), Variant::null());
  one.values[findField(row.fields, "num")] = Variant(int32_t(1));
  row.rows.push_back(one);
  auto q = call("AS_RowRequest",
                "{\"provider\":\"billP\",\"requestType\":0,\"row\":" + encodePacket(row) + "}");
  DataPacket back = packetFromValue(q["data"]);
  ASSERT_EQ(back.rows.size(), 1u);
  EXPECT_EQ(back.rows[0].details[0].size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Engines, ProviderModuleTest,
                         ::testing::Values(TestEngine::Embedded, TestEngine::PostgreSQL),
                         engineName);

}  // namespace
}  // namespace qz::provider
