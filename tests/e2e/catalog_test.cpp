// The providers of the three modules as clients see them, through the real
// server on both engines: packets, nesting, parameters, refused statements,
// login, instances and transactions.
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/e2e_fixture.h"

namespace qz::testing {
namespace {

// A small message limit, so that the oversized case stays quick.
class CatalogTest : public ServerTest {
  std::vector<std::string> extraArgs() const override { return {"--max-message", "2097152"}; }
};

std::vector<std::string> childNames(const rapidjson::Value& packet, const char* dataset) {
  std::vector<std::string> out;
  int i = fieldIndex(packet, dataset);
  if (i < 0) return out;
  const auto& f = packet["fields"][static_cast<rapidjson::SizeType>(i)];
  EXPECT_STREQ(f["type"].GetString(), "dataset");
  for (const auto& c : f["fields"].GetArray()) out.emplace_back(c["name"].GetString());
  return out;
}

TEST_P(CatalogTest, ProviderNamesInDeclarationOrder) {
  auto dm1 = session("top_dm1");
  const auto& names = dm1->ok("AS_GetProviderNames")["names"];
  std::vector<std::string> got;
  for (const auto& n : names.GetArray()) got.emplace_back(n.GetString());
  EXPECT_EQ(got, (std::vector<std::string>{"deptP", "stafferP", "SQLProvider", "MAccountP", "mmmp",
                                           "PV1", "PV2", "PV3"}));
  auto gz = session("QzServer.GzModule");
  got.clear();
  for (const auto& n : gz->ok("AS_GetProviderNames")["names"].GetArray())
    got.emplace_back(n.GetString());
  EXPECT_EQ(got, (std::vector<std::string>{"monthGZP", "gzstruP", "StaTypeP", "GatherGzP",
                                           "SqlProvider", "rptlistP"}));
}

TEST_P(CatalogTest, EmptyBillAndGroupOrderPacketsCarryTheirDetailsNestedAndEmpty) {
  auto dm2 = session("top_dm2");
  const auto& bills = dm2->read("billP");
  EXPECT_EQ(bills["rows"].Size(), 0u);
  EXPECT_GE(fieldIndex(bills, "cltid"), 0);
  EXPECT_FALSE(childNames(bills, "billitems").empty());
  EXPECT_FALSE(childNames(bills, "gathering").empty());
  const auto& orders = dm2->read("GOrdersP");
  EXPECT_EQ(orders["rows"].Size(), 0u);
  EXPECT_GE(fieldIndex(orders, "go_num"), 0);
  auto gitems = childNames(orders, "GItems");
  EXPECT_NE(std::find(gitems.begin(), gitems.end(), "gnum"), gitems.end());
  EXPECT_FALSE(childNames(orders, "ggathering").empty());
}

TEST_P(CatalogTest, MaterialAccountHasSortedItemsAndOnlyItsTwoPaymentTypes) {
  auto dm1 = session("top_dm1");
  dm1->exec("SQLProvider", "insert into Maccount (num, consumption) values (41, 'x')");
  for (int inum : {3, 1, 2})
    dm1->exec("SQLProvider", "insert into MAccItems (bnum, inum, MID) values (41, " +
                                 std::to_string(inum) + ", 'A00" + std::to_string(inum) + "')");
  for (const char* type : {"销售收款", "采购付款", "现金", "信用卡"})
    dm1->exec("SQLProvider",
              std::string("insert into gathering (bnum, type) values (41, '") + type + "')");
  const auto& p = dm1->read("MAccountP", "", R"([{"name":"num","value":41}])");
  ASSERT_EQ(p["rows"].Size(), 1u);
  const auto& row = p["rows"][0];
  const auto& items = row[static_cast<rapidjson::SizeType>(fieldIndex(p, "MAccItems"))];
  ASSERT_EQ(items.Size(), 3u);
  const int inumAt = [&] {
    auto names = childNames(p, "MAccItems");
    for (size_t i = 0; i < names.size(); ++i)
      if (strcasecmp(names[i].c_str(), "inum") == 0) return static_cast<int>(i);
    return -1;
  }();
  ASSERT_GE(inumAt, 0);
  for (rapidjson::SizeType i = 0; i < 3; ++i)
    EXPECT_EQ(items[i][static_cast<rapidjson::SizeType>(inumAt)].GetInt(), static_cast<int>(i) + 1);
  EXPECT_EQ(row[static_cast<rapidjson::SizeType>(fieldIndex(p, "Mgathering"))].Size(), 2u);

  // Through billP with a client statement, a bill gets the other types.
  auto dm2 = session("top_dm2");
  dm2->exec("SqlProvider", "insert into bills (num, roomid) values (41, '101')");
  const auto& b = dm2->read("billP", "select * from bills where num=41");
  ASSERT_EQ(b["rows"].Size(), 1u);
  EXPECT_EQ(b["rows"][0][static_cast<rapidjson::SizeType>(fieldIndex(b, "gathering"))].Size(), 2u);
}

TEST_P(CatalogTest, StafferDefaultsToDepartment01AndTakesParameters) {
  auto dm1 = session("top_dm1");
  dm1->exec("SQLProvider",
            "insert into staffer (id, name, deptid) values ('003', '丙', '01'), "
            "('001', '甲', '01'), ('002', '乙', '0101'), ('004', '丁', '02')");
  const auto& def = dm1->read("stafferP");
  ASSERT_EQ(def["rows"].Size(), 2u);
  const auto id = static_cast<rapidjson::SizeType>(fieldIndex(def, "id"));
  EXPECT_STREQ(def["rows"][0][id].GetString(), "001");
  EXPECT_STREQ(def["rows"][1][id].GetString(), "003");
  const auto& all = dm1->read("stafferP", "", R"([{"name":"ID","value":"01%"}])");
  ASSERT_EQ(all["rows"].Size(), 3u);
  EXPECT_STREQ(all["rows"][2][id].GetString(), "002");  // deptid 0101 sorts last
}

TEST_P(CatalogTest, MonthlyPayrollWithPercentPatternsListsEveryone) {
  auto gz = session("GzModule");
  gz->exec(
      "SqlProvider",
      "insert into gz (ndate, staid, deptID, xz, money) values "
      "('2026-11-05', 'S2', '02', '基本工资', 1800), ('2026-11-05', 'S1', '01', '基本工资', 2000), "
      "('2026-10-05', 'S1', '01', '基本工资', 1900)");
  const auto& p = gz->read(
      "monthGZP", "",
      R"([{"name":"year","value":2026},{"name":"month","value":11},{"name":"staID","value":"%"},{"name":"DeptId","value":"%"}])");
  ASSERT_EQ(p["rows"].Size(), 2u);
  const auto staid = static_cast<rapidjson::SizeType>(fieldIndex(p, "staid"));
  EXPECT_STREQ(p["rows"][0][staid].GetString(), "S1");
}

TEST_P(CatalogTest, ProvidersThatRefuseClientStatements) {
  auto gz = session("GzModule");
  for (const char* provider : {"gzstruP", "StaTypeP", "GatherGzP", "rptlistP"}) {
    SCOPED_TRACE(provider);
    EXPECT_EQ(
        gz->errorMessage("AS_GetRecords", std::string("{\"provider\":\"") + provider +
                                              "\",\"count\":-1,\"commandText\":\"select 1\"}"),
        "CommandText changes are not allowed");
  }
  const auto& r = gz->read("SqlProvider", "select count(*) as n from rptlist");
  EXPECT_EQ(r["rows"].Size(), 1u);
  EXPECT_EQ(gz->errorMessage("AS_GetRecords", R"({"provider":"billP","count":-1})"),
            "Provider not exported: billP");
}

TEST_P(CatalogTest, TwoClientsHaveTwoInstancesAndEachLoginLeavesARow) {
  auto a = session("top_dm2");
  auto b = session("top_dm2");
  EXPECT_EQ(
      a->ok("login", R"({"operator":"张三","station":"前台1","work":"结账"})")["hresult"].GetInt(),
      0);
  EXPECT_EQ(b->ok("login", "{}")["hresult"].GetInt(), 0);  // empty texts
  EXPECT_TRUE(server_->waitForOutput("\t张三\t前台1\t结账\n", 5000)) << server_->output();
  EXPECT_TRUE(server_->waitForOutput("\t\t\t\n", 5000)) << server_->output();
  // Each instance has its own connection: a transaction of one does not
  // block reading in the other.
  a->exec("SqlProvider", "insert into dept (id, name) values ('99', '测试')");
  EXPECT_EQ(b->read("SqlProvider", "select * from dept where id='99'")["rows"].Size(), 1u);
}

TEST_P(CatalogTest, DisconnectInTheMiddleOfATransactionRollsItBack) {
  {
    auto a = session("top_dm1");
    a->exec("SQLProvider", "begin transaction");
    a->exec("SQLProvider", "insert into dept (id, name) values ('77', '临时')");
    a->raw().close();
  }
  auto b = session("top_dm1");
  // The server releases the instance when it sees the connection close.
  for (int i = 0; i < 50; ++i) {
    const auto& d = b->read("SQLProvider", "select count(*) as n from dept where id='77'");
    if (d["rows"].Size() == 1 && d["rows"][0][0].GetInt() == 0) return;
    usleep(100 * 1000);
  }
  FAIL() << "the row of the abandoned transaction is still there";
}

TEST_P(CatalogTest, MalformedAndOversizedMessagesGetClearErrors) {
  auto a = session("top_dm2");
  a->raw().send("{not json");
  std::string answer = a->raw().readLine();
  EXPECT_NE(answer.find("-32700"), std::string::npos) << answer;
  EXPECT_EQ(a->ok("AS_GetProviderNames")["names"].Size(), 10u);  // the connection still serves
  EXPECT_NE(a->errorMessage("AS_GetRecords", R"({"provider":17})").size(), 0u);
  EXPECT_EQ(a->call("no_such_method")["error"]["code"].GetInt(), -32601);

  WireSession big(server_->port());
  big.raw().send(std::string(3 << 20, 'x'));  // over the 2 MiB limit of this server
  bool closed = false;
  answer = big.raw().readLine(20000, &closed);
  EXPECT_NE(answer.find("error"), std::string::npos) << answer;
  big.raw().readLine(5000, &closed);
  EXPECT_TRUE(closed);
  EXPECT_EQ(a->ok("AS_GetProviderNames")["names"].Size(), 10u);  // others go on
}

QZ_INSTANTIATE_ON_BOTH_ENGINES(CatalogTest);

}  // namespace
}  // namespace qz::testing
