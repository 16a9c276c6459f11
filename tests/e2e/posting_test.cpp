// Posting through the real server on both engines: deltas as clients send
// them, OwnerData back, the database read back afterwards; and many clients
// posting at once.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <map>
#include <set>
#include <thread>

#include "tests/e2e/e2e_fixture.h"

namespace qz::testing {
namespace {

std::string toJson(const rapidjson::Value& v) {
  rapidjson::StringBuffer b;
  rapidjson::Writer<rapidjson::StringBuffer> w(b);
  v.Accept(w);
  return b.GetString();
}

// The "fields" of a provider's packet, as a delta repeats them.
std::string deltaFields(WireSession& s, const char* provider) {
  const auto& r =
      s.ok("AS_GetRecords", std::string("{\"provider\":\"") + provider + "\",\"count\":0}");
  return toJson(r["data"]["fields"]);
}

std::string billRow(const std::string& room, int cltid, int items) {
  std::string r =
      "{\"kind\":\"insert\",\"new\":{\"num\":0,\"roomid\":\"" + room +
      "\",\"cltid\":" + std::to_string(cltid) +
      ",\"cltname\":\"张三\",\"rebate\":0.1,\"settle\":false},\"details\":{\"billitems\":[";
  for (int i = 1; i <= items; ++i) {
    if (i > 1) r += ",";
    r += "{\"kind\":\"insert\",\"new\":{\"bnum\":0,\"inum\":" + std::to_string(i) + ",\"name\":\"" +
         room + "\"}}";
  }
  return r + "]}}";
}

std::string applyParams(const char* provider, const std::string& fields, const std::string& rows,
                        const std::string& ownerData = "null") {
  return std::string("{\"provider\":\"") + provider + "\",\"delta\":{\"fields\":" + fields +
         ",\"rows\":[" + rows + "]},\"maxErrors\":-1,\"ownerData\":" + ownerData + "}";
}

class PostingEndToEndTest : public ServerTest {};

TEST_P(PostingEndToEndTest, NewBillWithItemsReturnsItsNumber) {
  auto s = session("top_dm2");
  s->exec("SqlProvider", "insert into CLIENT (id, name) values (17, '张三')");
  const std::string fields = deltaFields(*s, "billP");
  const auto& r = s->ok("AS_ApplyUpdates", applyParams("billP", fields, billRow("101", 17, 3)));
  ASSERT_EQ(r["errorCount"].GetInt(), 0) << s->lastLine();
  const int num = r["ownerData"].GetInt();
  const auto& bills = s->read("SqlProvider", "select num from bills");
  ASSERT_EQ(bills["rows"].Size(), 1u);
  EXPECT_EQ(bills["rows"][0][0].GetInt(), num);
  const auto& items =
      s->read("SqlProvider", "select count(*) from billitems where bnum=" + std::to_string(num));
  EXPECT_EQ(items["rows"][0][0].GetInt(), 3);
  const auto& client = s->read("SqlProvider", "select neardate from CLIENT where id=17");
  EXPECT_FALSE(client["rows"][0][0].IsNull());
}

TEST_P(PostingEndToEndTest, FailingRowComesBackInTheErrorPacketAndNothingIsWritten) {
  auto s = session("top_dm2");
  const std::string fields = deltaFields(*s, "billP");
  std::string bad = billRow("102", 17, 1);
  bad.replace(bad.find("\"cltid\":17"), 10, "\"cltid\":null");
  const auto& r =
      s->ok("AS_ApplyUpdates", applyParams("billP", fields, billRow("101", 17, 2) + "," + bad));
  EXPECT_EQ(r["errorCount"].GetInt(), 1) << s->lastLine();
  ASSERT_EQ(r["errors"]["errors"].Size(), 1u);
  EXPECT_EQ(r["errors"]["errors"][0]["row"][0].GetInt(), 1);
  EXPECT_STREQ(r["errors"]["errors"][0]["kind"].GetString(), "insert");
  EXPECT_EQ(s->read("SqlProvider", "select count(*) from bills")["rows"][0][0].GetInt(), 0);
  EXPECT_EQ(s->read("SqlProvider", "select count(*) from billitems")["rows"][0][0].GetInt(), 0);
}

TEST_P(PostingEndToEndTest, PurchaseLineCarriesItsPriceToTheMaterial) {
  auto s = session("top_dm1");
  s->exec("SQLProvider", "insert into material (id, name, price) values ('A001', '大米', 1)");
  const std::string fields = deltaFields(*s, "MAccountP");
  const std::string row =
      R"({"kind":"insert","new":{"num":0,"consumption":"进货"},"details":{"MAccItems":[)"
      R"({"kind":"insert","new":{"bnum":0,"inum":1,"MID":"A001","exchange":12,"price":"30"}}]}})";
  const auto& r = s->ok("AS_ApplyUpdates", applyParams("MAccountP", fields, row, R"(["购进",-1])"));
  ASSERT_EQ(r["errorCount"].GetInt(), 0) << s->lastLine();
  EXPECT_GT(r["ownerData"].GetInt(), 0);
  const auto& m = s->read("SQLProvider", "select price from material where id='A001'");
  EXPECT_STREQ(m["rows"][0][0].GetString(), "2.5000");
  // A bad OwnerData fails the call as a whole.
  EXPECT_NE(s->errorMessage("AS_ApplyUpdates", applyParams("MAccountP", fields, row, "\"x\"")), "");
}

TEST_P(PostingEndToEndTest, TwentyClientsPostingAtOnceNeverShareANumberOrMixItems) {
  constexpr int kClients = 20, kBills = 4;
  std::string fields;
  {
    auto s = session("top_dm2");
    fields = deltaFields(*s, "billP");
  }
  std::map<std::string, int> numberOfRoom;
  std::mutex mu;
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int c = 0; c < kClients; ++c)
    threads.emplace_back([&, c] {
      WireSession s(server_->port());
      s.create("top_dm2");
      s.ok("login", "{\"operator\":\"c" + std::to_string(c) + "\"}");
      for (int b = 0; b < kBills; ++b) {
        const std::string room = "R" + std::to_string(c) + "-" + std::to_string(b);
        const auto& r = s.ok("AS_ApplyUpdates", applyParams("billP", fields, billRow(room, -1, 3)));
        if (!r.HasMember("errorCount") || r["errorCount"].GetInt() != 0) {
          ++failures;
          continue;
        }
        std::lock_guard<std::mutex> l(mu);
        numberOfRoom[room] = r["ownerData"].GetInt();
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  std::set<int> numbers;
  for (const auto& [room, num] : numberOfRoom) numbers.insert(num);
  EXPECT_EQ(numbers.size(), static_cast<size_t>(kClients * kBills));

  auto s = session("top_dm2");
  const auto& rows = s->read("SqlProvider",
                             "select b.roomid, b.num, count(i.inum) from bills b "
                             "join billitems i on i.bnum = b.num and i.name = b.roomid "
                             "group by b.roomid, b.num");
  ASSERT_EQ(rows["rows"].Size(), static_cast<size_t>(kClients * kBills));
  for (const auto& r : rows["rows"].GetArray()) {
    EXPECT_EQ(r[1].GetInt(), numberOfRoom[r[0].GetString()]) << r[0].GetString();
    EXPECT_EQ(r[2].GetInt(), 3) << r[0].GetString();
  }
  EXPECT_EQ(s->read("SqlProvider", "select count(*) from billitems")["rows"][0][0].GetInt(),
            kClients * kBills * 3);
}

QZ_INSTANTIATE_ON_BOTH_ENGINES(PostingEndToEndTest);

}  // namespace
}  // namespace qz::testing
