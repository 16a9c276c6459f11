// Crash safety: the server is killed with SIGKILL while several clients
// post bills, then started again on the same database. Every bill must have
// exactly its items (no half document), no bill number may repeat, and
// every bill whose answer reached its client must be there with the number
// it was given. A few rounds on each engine.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <atomic>
#include <csignal>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "tests/e2e/e2e_fixture.h"

namespace qz::testing {
namespace {

constexpr int kRounds = 3;
constexpr int kClients = 4;

std::string toJson(const rapidjson::Value& v) {
  rapidjson::StringBuffer b;
  rapidjson::Writer<rapidjson::StringBuffer> w(b);
  v.Accept(w);
  return b.GetString();
}

// A bill for room with items named after the room; the room's name ends in
// its item count ("K12-7-3": round 1, client 2, bill 7, three items).
std::string billDelta(const std::string& fields, const std::string& room, int items) {
  std::string rows = "{\"kind\":\"insert\",\"new\":{\"num\":0,\"roomid\":\"" + room +
                     "\",\"cltid\":-1,\"cltname\":\"K\",\"settle\":false},"
                     "\"details\":{\"billitems\":[";
  for (int i = 1; i <= items; ++i) {
    if (i > 1) rows += ",";
    rows += "{\"kind\":\"insert\",\"new\":{\"bnum\":0,\"inum\":" + std::to_string(i) +
            ",\"name\":\"" + room + "\"}}";
  }
  rows += "]}}";
  return "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"AS_ApplyUpdates\",\"params\":{"
         "\"provider\":\"billP\",\"delta\":{\"fields\":" +
         fields + ",\"rows\":[" + rows + "]},\"maxErrors\":-1}}";
}

int itemsOfRoom(const std::string& room) { return room.back() - '0'; }

struct Acknowledged {
  std::mutex mu;
  std::map<std::string, int> numberOfRoom;  // bills whose answer arrived
  std::atomic<int> count{0};
  std::atomic<int> refused{0};  // answers that were errors
};

// Posts bills on one connection until the server goes away.
void PostUntilKilled(int port, const std::string& fields, int round, int client,
                     Acknowledged* acks) {
  WireClient c(port);
  if (!c.call("{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"create\",\"params\":"
              "{\"class\":\"top_dm2\"}}")
           .size())
    return;
  for (int b = 0;; ++b) {
    const std::string room = "K" + std::to_string(round) + std::to_string(client) + "-" +
                             std::to_string(b) + "-" + std::to_string(1 + b % 4);
    if (!c.send(billDelta(fields, room, itemsOfRoom(room)))) return;
    const std::string line = c.readLine(20000);
    if (line.empty()) return;  // killed
    rapidjson::Document d;
    d.Parse(line.c_str());
    const rapidjson::Value* result =
        !d.HasParseError() && d.IsObject() && d.HasMember("result") ? &d["result"] : nullptr;
    if (!result || !result->HasMember("errorCount") || !(*result)["errorCount"].IsInt() ||
        (*result)["errorCount"].GetInt() != 0 || !result->HasMember("ownerData") ||
        !(*result)["ownerData"].IsInt()) {
      ADD_FAILURE() << room << " refused: " << line;
      ++acks->refused;
      return;
    }
    std::lock_guard<std::mutex> lock(acks->mu);
    acks->numberOfRoom[room] = (*result)["ownerData"].GetInt();
    ++acks->count;
  }
}

class CrashSafetyTest : public ServerTest {};

TEST_P(CrashSafetyTest, KilledWhilePostingLosesNoAcknowledgedBillAndLeavesNoHalfBill) {
  std::string fields;
  {
    auto s = session("top_dm2");
    fields =
        toJson(s->ok("AS_GetRecords", "{\"provider\":\"billP\",\"count\":0}")["data"]["fields"]);
  }
  Acknowledged acks;
  for (int round = 1; round <= kRounds; ++round) {
    const int before = acks.count.load();
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c)
      clients.emplace_back(PostUntilKilled, server_->port(), fields, round, c, &acks);
    // Kill once the round has posted a few bills, at a moment that falls
    // in the middle of some client's request.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (acks.count.load() < before + 8 * round && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(3 * round));
    EXPECT_EQ(server_->stop(SIGKILL), 128 + SIGKILL);
    for (auto& t : clients) t.join();
    ASSERT_GT(acks.count.load(), before) << "no bill was posted in round " << round;
    ASSERT_GT(server_->start(), 0) << "the server does not start after being killed";
  }
  EXPECT_EQ(acks.refused.load(), 0);

  auto s = session("top_dm2");
  const auto& bills = s->read("SqlProvider",
                              "select b.roomid, b.num, count(i.inum), "
                              "sum(case when i.name = b.roomid then 1 else 0 end) "
                              "from bills b left join billitems i on i.bnum = b.num "
                              "group by b.roomid, b.num");
  std::set<int> numbers;
  std::map<std::string, int> rooms;  // room -> number, as stored
  for (const auto& r : bills["rows"].GetArray()) {
    const std::string room = r[0].GetString();
    const int num = r[1].GetInt();
    EXPECT_TRUE(numbers.insert(num).second) << "number " << num << " repeats";
    EXPECT_TRUE(rooms.emplace(room, num).second) << room << " was posted twice";
    EXPECT_EQ(r[2].GetInt(), itemsOfRoom(room)) << room << " has the wrong number of items";
    EXPECT_EQ(r[3].GetInt(), r[2].GetInt()) << room << " holds items of another bill";
  }
  for (const auto& [room, num] : acks.numberOfRoom) {
    auto stored = rooms.find(room);
    ASSERT_NE(stored, rooms.end()) << "acknowledged bill " << room << " is lost";
    EXPECT_EQ(stored->second, num) << room << " was stored under another number";
  }
  const auto& orphans = s->read("SqlProvider",
                                "select count(*) from billitems "
                                "where bnum not in (select num from bills)");
  EXPECT_EQ(orphans["rows"][0][0].GetInt(), 0) << "items without their bill";
  EXPECT_GE(rooms.size(), acks.numberOfRoom.size());
}

QZ_INSTANTIATE_ON_BOTH_ENGINES(CrashSafetyTest);

}  // namespace
}  // namespace qz::testing
