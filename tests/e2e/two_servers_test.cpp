// Two qzserver processes on one PostgreSQL database, as a hotel group runs
// one server per site against a central database: clients of both post
// bills, group orders and material accounts at once while a backup is taken
// through one server; then every document is read back whole, in the
// database and in a copy restored from the backup.
#include <gtest/gtest.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sys/stat.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "platform/db/connection.h"
#include "settings/config.h"
#include "tests/e2e/server_process.h"
#include "tests/e2e/wire_session.h"

namespace qz::testing {
namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// A connection to catalog on the test PostgreSQL server.
std::unique_ptr<db::Connection> pgConnection(const std::string& catalog) {
  auto c = std::make_unique<db::Connection>();
  c->setConnectionString("Provider=SQLOLEDB.1;User ID=" +
                         (env("QZ_TEST_PG_USER").empty() ? "postgres" : env("QZ_TEST_PG_USER")) +
                         ";Password=;Initial Catalog=" + catalog +
                         ";Data Source=" + env("QZ_TEST_PG_HOST") + "," + env("QZ_TEST_PG_PORT"));
  c->setCommandTimeout(300);
  return c;
}

std::string toJson(const rapidjson::Value& v) {
  rapidjson::StringBuffer b;
  rapidjson::Writer<rapidjson::StringBuffer> w(b);
  v.Accept(w);
  return b.GetString();
}

std::string applyParams(const std::string& provider, const std::string& fields,
                        const std::string& row, const std::string& ownerData = "null") {
  return "{\"provider\":\"" + provider + "\",\"delta\":{\"fields\":" + fields + ",\"rows\":[" +
         row + "]},\"maxErrors\":-1,\"ownerData\":" + ownerData + "}";
}

// The three kinds of documents, each marked with a tag that its lines repeat
// (a bill's items carry its room, a group order's member bills begin with
// its name, a material account's lines carry its operator in the summary).
enum Kind { kBill, kGroup, kAccount };
constexpr int kLines[] = {3, 2, 2};

std::string documentRow(Kind kind, const std::string& tag) {
  std::string lines;
  for (int i = 1; i <= kLines[kind]; ++i) {
    const std::string n = std::to_string(i);
    if (i > 1) lines += ",";
    if (kind == kBill)
      lines += R"({"kind":"insert","new":{"bnum":0,"inum":)" + n + R"(,"name":")" + tag + "\"}}";
    else if (kind == kGroup)
      lines += R"({"kind":"insert","new":{"gnum":0,"roomid":")" + tag + n + "\"}}";
    else
      lines += R"({"kind":"insert","new":{"bnum":0,"inum":)" + n +
               R"(,"MID":"A001","exchange":12,"price":"30","summary":")" + tag + "\"}}";
  }
  if (kind == kBill)
    return R"({"kind":"insert","new":{"num":0,"roomid":")" + tag +
           R"(","cltid":-1,"cltname":"张三","rebate":0.1,"settle":false},"details":{"billitems":[)" +
           lines + "]}}";
  if (kind == kGroup)
    return R"({"kind":"insert","new":{"go_num":0,"cltname":")" + tag +
           R"(","cltid":-1},"details":{"GItems":[)" + lines + "]}}";
  return R"({"kind":"insert","new":{"num":0,"consumption":"进货","operator":")" + tag +
         R"("},"details":{"MAccItems":[)" + lines + "]}}";
}

// Per kind: tag -> document number.
using Numbers = std::map<std::string, int>;

// Reads every document of the database and checks that each has exactly its
// own lines and that no line is left without its document. Returns the
// numbers by tag.
std::array<Numbers, 3> readDocumentsWhole(db::Connection& c) {
  std::array<Numbers, 3> numbers;
  std::array<std::map<std::string, int>, 3> lines;
  auto each = [&](const std::string& sql, auto&& f) {
    auto cur = c.query(sql);
    while (cur->next()) f(cur->row());
  };
  each(
      "select b.roomid, b.num, i.name from bills b left join billitems i on i.bnum = b.num "
      "where b.roomid like 'b%'",
      [&](const auto& r) {
        const std::string tag = r[0].toText();
        numbers[kBill][tag] = static_cast<int>(r[1].asInt());
        if (r[2].isNull()) return;
        EXPECT_EQ(r[2].toText(), tag) << "a line of another bill on bill " << tag;
        ++lines[kBill][tag];
      });
  each("select g.cltname, g.go_num, b.roomid from gorders g left join bills b on b.gnum = g.go_num",
       [&](const auto& r) {
         const std::string tag = r[0].toText();
         numbers[kGroup][tag] = static_cast<int>(r[1].asInt());
         if (r[2].isNull()) return;
         EXPECT_EQ(r[2].toText().substr(0, tag.size()), tag) << "a member of another group order";
         ++lines[kGroup][tag];
       });
  each(
      "select m.operator, m.num, i.summary from maccount m left join maccitems i on i.bnum = m.num",
      [&](const auto& r) {
        const std::string tag = r[0].toText();
        numbers[kAccount][tag] = static_cast<int>(r[1].asInt());
        if (r[2].isNull()) return;
        EXPECT_EQ(r[2].toText(), tag) << "a line of another material account";
        ++lines[kAccount][tag];
      });
  for (Kind k : {kBill, kGroup, kAccount}) {
    std::set<int> distinct;
    for (const auto& [tag, num] : numbers[k]) {
      distinct.insert(num);
      EXPECT_EQ(lines[k][tag], kLines[k]) << "document " << tag;
    }
    EXPECT_EQ(distinct.size(), numbers[k].size()) << "two documents share a number";
  }
  auto scalar = [&](const std::string& sql) {
    auto cur = c.query(sql);
    return cur->next() ? cur->row()[0].asInt() : -1;
  };
  EXPECT_EQ(scalar("select count(*) from billitems where bnum not in (select num from bills)"), 0);
  EXPECT_EQ(scalar("select count(*) from bills where roomid like 'g%' and gnum not in "
                   "(select go_num from gorders)"),
            0);
  EXPECT_EQ(scalar("select count(*) from maccitems where bnum not in (select num from maccount)"),
            0);
  return numbers;
}

TEST(TwoServersOnOneDatabaseTest, ClientsOfBothPostAtOnceAndABackupTakenMeanwhileIsWhole) {
  ServerProcess a, b;
  std::string why;
  if (!a.createDatabase(TestEngine::PostgreSQL, &why, false)) {
    if (!why.empty()) GTEST_SKIP() << why;
    FAIL() << "database creation failed";
  }
  b.dir().write("system.ini", a.dir().read("system.ini"));
  ASSERT_GT(a.start(), 0);
  ASSERT_GT(b.start(), 0);
  const std::string database = server::ReadFileLine(a.dir().file("system.ini"), 4);

  std::array<std::string, 3> fields;
  {
    WireSession s(a.port());
    s.create("top_dm1");
    s.exec("SQLProvider", "insert into material (id, name, price) values ('A001', '大米', 1)");
    fields[kAccount] =
        toJson(s.ok("AS_GetRecords", R"({"provider":"MAccountP","count":0})")["data"]["fields"]);
    WireSession s2(a.port());
    s2.create("top_dm2");
    fields[kBill] =
        toJson(s2.ok("AS_GetRecords", R"({"provider":"billP","count":0})")["data"]["fields"]);
    fields[kGroup] =
        toJson(s2.ok("AS_GetRecords", R"({"provider":"GOrdersP","count":0})")["data"]["fields"]);
  }

  // Three clients per server post rounds of one document of each kind until
  // the backup is done (at least two rounds, at most forty).
  constexpr int kClientsPerServer = 3;
  std::atomic<bool> backupDone{false};
  std::atomic<int> failures{0};
  std::mutex mu;
  std::array<Numbers, 3> posted;
  std::vector<std::thread> clients;
  for (ServerProcess* server : {&a, &b})
    for (int c = 0; c < kClientsPerServer; ++c)
      clients.emplace_back([&, port = server->port(), site = server == &a ? "a" : "b", c] {
        WireSession dm2(port), dm1(port);
        dm2.create("top_dm2");
        dm1.create("top_dm1");
        for (int round = 0; round < 40 && (round < 2 || !backupDone); ++round) {
          const std::string id =
              std::string(site) + std::to_string(c) + "-" + std::to_string(round);
          for (Kind k : {kBill, kGroup, kAccount}) {
            const std::string tag = (k == kBill ? "b" : k == kGroup ? "g" : "m") + id;
            WireSession& s = k == kAccount ? dm1 : dm2;
            const char* provider = k == kBill ? "billP" : k == kGroup ? "GOrdersP" : "MAccountP";
            const auto& r =
                s.ok("AS_ApplyUpdates", applyParams(provider, fields[k], documentRow(k, tag),
                                                    k == kAccount ? R"(["购进",-1])" : "null"));
            if (!r.HasMember("errorCount") || r["errorCount"].GetInt() != 0) {
              ADD_FAILURE() << tag << ": " << s.lastLine();
              ++failures;
              continue;
            }
            std::lock_guard<std::mutex> l(mu);
            posted[k][tag] = r["ownerData"].GetInt();
          }
        }
      });

  // The backup goes through server a while both serve: the PostgreSQL
  // server writes the file, so its folder is open to that server's user.
  TempDir media;
  ::chmod(media.path().c_str(), 0777);
  const std::string file = media.file("group.dat");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  {
    WireSession s(a.port());
    s.create("top_dm2");
    const auto& r = s.read("SqlProvider", "exec QZ_backup 'disk','qz_backup','" + file + "','" +
                                              database + "',0,1,''");
    EXPECT_NE(toJson(r).find("已完全备份"), std::string::npos) << s.lastLine();
  }
  backupDone = true;
  for (auto& t : clients) t.join();
  EXPECT_EQ(failures.load(), 0);

  // Every number the clients were given is the one the database holds.
  auto live = pgConnection(database);
  const auto stored = readDocumentsWhole(*live);
  for (Kind k : {kBill, kGroup, kAccount}) EXPECT_EQ(stored[k], posted[k]) << "kind " << k;

  // The backup restored as a copy holds whole documents, each with the
  // number it has in the database.
  const std::string copy = database + "_copy";
  auto master = pgConnection("master");
  master->execute("RESTORE DATABASE " + copy + " from disk='" + file + "'");
  {
    auto restored = pgConnection(copy);
    const auto inCopy = readDocumentsWhole(*restored);
    for (Kind k : {kBill, kGroup, kAccount})
      for (const auto& [tag, num] : inCopy[k]) EXPECT_EQ(num, posted[k][tag]) << tag;
  }
  master->execute("DROP DATABASE " + copy);
  EXPECT_EQ(a.stop(), 0) << a.output();
  EXPECT_EQ(b.stop(), 0) << b.output();
}

}  // namespace
}  // namespace qz::testing
