// The client library and qzclient against the real qzserver binary: reading
// packets, tracked edits applied through providers on both engines, the
// system's refusal texts, and a server that keeps serving through
// malformed and oversized messages.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "client/change_tracker.h"
#include "client/connection.h"
#include "client/line_socket.h"
#include "client/qzclient_cli.h"
#include "tests/e2e/server_process.h"

namespace qz::client {
namespace {

using qz::testing::ServerProcess;
using qz::testing::TestEngine;

std::string address(const ServerProcess& s) { return "127.0.0.1:" + std::to_string(s.port()); }

std::unique_ptr<Connection> connectTop2(const ServerProcess& s) {
  auto c = Connection::open(address(s));
  c->create("top_dm2");
  return c;
}

int64_t scalar(Connection& c, const std::string& sql) {
  RecordsResult r = c.getRecords("SqlProvider", -1, sql);
  EXPECT_EQ(1u, r.data.rows.size()) << sql;
  if (r.data.rows.empty()) return -1;
  return r.data.rows[0].values[0].toInt64();
}

class ClientServerTest : public ::testing::TestWithParam<TestEngine> {
 protected:
  void SetUp() override {
    std::string why;
    if (!server.createDatabase(GetParam(), &why)) {
      if (!why.empty()) GTEST_SKIP() << why;
      FAIL() << "cannot create the database";
    }
    ASSERT_GT(server.start(), 0) << server.output();
  }
  ServerProcess server;
};

TEST_P(ClientServerTest, CreateListAndReadPackets) {
  auto c = Connection::open(address(server));
  ClassInfo info = c->create("QzServer.TOP_DM2");
  EXPECT_EQ("top_dm2", info.name);
  EXPECT_EQ("{A6F60FA4-DEEC-45B2-8D4A-C3C68CD7685B}", info.clsid);
  EXPECT_EQ("Itop_dm2", info.interfaceName);

  std::vector<std::string> names = c->getProviderNames();
  EXPECT_NE(names.end(), std::find(names.begin(), names.end(), "billP"));

  RecordsResult meta = c->getRecords("billP", 0);
  EXPECT_TRUE(meta.data.rows.empty());
  int items = provider::findField(meta.data.fields, "billitems");
  ASSERT_GE(items, 0);
  EXPECT_EQ(provider::FieldType::Dataset, meta.data.fields[static_cast<size_t>(items)].type);

  RecordsResult clients = c->getRecords("SqlProvider", 3, "select * from CLIENT order by id");
  ASSERT_EQ(3u, clients.data.rows.size());
  int name = provider::findField(clients.data.fields, "name");
  ASSERT_GE(name, 0);
  EXPECT_EQ("上海岚舟贸易有限公司",
            clients.data.rows[0].values[static_cast<size_t>(name)].toText());
}

TEST_P(ClientServerTest, RefusalsCarryTheSystemTexts) {
  auto c = Connection::open(address(server));
  try {
    c->getProviderNames();
    FAIL() << "a call before create was accepted";
  } catch (const CallError& e) {
    EXPECT_STREQ("No instance: call create first", e.what());
  }
  try {
    c->create("top_dm7");
    FAIL() << "an unknown class was created";
  } catch (const CallError& e) {
    EXPECT_STREQ("Class not registered", e.what());
    EXPECT_EQ(0x80040154u, e.hresult);
  }
  c->create("top_dm2");
  try {
    c->getRecords("nosuchP");
    FAIL() << "an unknown provider answered";
  } catch (const CallError& e) {
    EXPECT_STREQ("Provider not exported: nosuchP", e.what());
    EXPECT_EQ(2, e.code);
  }
  try {
    c->create("top_dm2");
    FAIL() << "a second instance was created";
  } catch (const CallError& e) {
    EXPECT_STREQ("Instance already created", e.what());
  }
  // Still usable after every refusal.
  EXPECT_FALSE(c->getProviderNames().empty());
  c->release();
  c->create("top_dm1");
  EXPECT_FALSE(c->getProviderNames().empty());
}

TEST_P(ClientServerTest, TrackedBillWithItemsIsPostedAndNumbered) {
  auto c = connectTop2(server);
  int64_t before = scalar(*c, "select count(*) from bills");

  ChangeTracker t(c->getRecords("billP", 0).data);
  RowPath bill = t.appendRow();
  t.setValue(bill, "consumption", Variant("住宿"));
  t.setValue(bill, "roomid", Variant("808"));
  t.setValue(bill, "PAmount", Variant(int32_t(2)));
  t.setValue(bill, "cltname", Variant("测试客人"));
  t.setValue(bill, "ndate", Variant(DateTime::fromParts(2026, 12, 9, 10, 0)));
  t.setValue(bill, "operator", Variant("op1"));
  t.setValue(bill, "settle", Variant(false));
  for (int i = 1; i <= 2; ++i) {
    RowPath line = t.appendRow(bill, "billitems");
    t.setValue(line, "bnum", Variant(int32_t(0)));
    t.setValue(line, "inum", Variant(int32_t(i)));
    t.setValue(line, "name", Variant(i == 1 ? "标准间" : "早餐"));
    t.setValue(line, "price", Variant("268.00"));
    t.setValue(line, "amount", Variant(1.0));
  }
  // Without a client the bill cannot be posted: the whole request is
  // refused and nothing of it stays.
  ApplyResult refused = c->applyUpdates("billP", t.delta());
  EXPECT_EQ(1, refused.errorCount);
  ASSERT_EQ(1u, refused.errors.errors.size());
  EXPECT_EQ(provider::UpdateKind::Insert, refused.errors.errors[0].kind);
  EXPECT_EQ(before, scalar(*c, "select count(*) from bills"));

  t.setValue(bill, "cltid", Variant(int32_t(5)));
  ApplyResult r = c->applyUpdates("billP", t.delta());
  ASSERT_EQ(0, r.errorCount) << (r.errors.errors.empty() ? "" : r.errors.errors[0].message);
  ASSERT_FALSE(r.ownerData.isEmpty()) << "the new bill number comes back in ownerData";
  int64_t num = r.ownerData.toInt64();
  EXPECT_GT(num, 0);
  EXPECT_EQ(before + 1, scalar(*c, "select count(*) from bills"));
  EXPECT_EQ(2, scalar(*c, "select count(*) from billitems where bnum=" + std::to_string(num)));
}

TEST_P(ClientServerTest, TrackedEditOfAReadRowRoundTrips) {
  auto c = connectTop2(server);
  const std::string sql = "select * from billitems where bnum=1 order by inum";
  RecordsResult read = c->getRecords("SqlProvider", -1, sql);
  ASSERT_FALSE(read.data.rows.empty());
  ChangeTracker t(read.data);
  t.setValue({{"", 0}}, "memo", Variant("改过的备注"));
  ApplyResult r = c->applyUpdates("SqlProvider", t.delta());
  ASSERT_EQ(0, r.errorCount) << (r.errors.errors.empty() ? "" : r.errors.errors[0].message);

  ChangeTracker again(c->getRecords("SqlProvider", -1, sql).data);
  EXPECT_EQ(Variant("改过的备注"), again.value({{"", 0}}, "memo"));

  // The first tracker's delta is stale now: its old values no longer match.
  ApplyResult stale = c->applyUpdates("SqlProvider", t.delta());
  EXPECT_EQ(1, stale.errorCount);
  ASSERT_EQ(1u, stale.errors.errors.size());
  EXPECT_EQ("Record not found or changed by another user", stale.errors.errors[0].message);
}

TEST_P(ClientServerTest, QzClientReadsAppliesAndReports) {
  std::string server_ = address(server);
  {
    std::ostringstream out, err;
    ASSERT_EQ(0, runQzClient({"--server", server_, "providers"}, out, err)) << err.str();
    EXPECT_NE(std::string::npos, out.str().find("billP\n"));
  }
  {
    std::ostringstream out, err;
    ASSERT_EQ(0, runQzClient({"--server", server_, "read", "SqlProvider", "--sql",
                              "select id, name from CLIENT where id = :id", "--param", "id=2",
                              "--format", "csv"},
                             out, err))
        << err.str();
    EXPECT_EQ("id,name\r\n2,杭州西溪科技有限公司\r\n", out.str());
  }
  {
    std::ostringstream out, err;
    ASSERT_EQ(0, runQzClient({"--server", server_, "read", "SqlProvider", "--sql",
                              "select id, name from CLIENT where id <= 2 order by id"},
                             out, err))
        << err.str();
    EXPECT_EQ(
        "id  name\n"
        "--  --------------------\n"
        " 1  上海岚舟贸易有限公司\n"
        " 2  杭州西溪科技有限公司\n"
        "(2 rows)\n",
        out.str());
  }
  {
    // A delta from a file: one modify of client 3's memo.
    std::ostringstream out, err;
    ASSERT_EQ(0, runQzClient({"--server", server_, "read", "SqlProvider", "--sql",
                              "select id, memo from CLIENT where id = 3", "--format", "json"},
                             out, err));
    std::string packet = out.str();
    std::string fields =
        packet.substr(packet.find('['), packet.find(",\"rows\"") - packet.find('['));
    std::string path = server.appDir() + "delta.json";
    std::ofstream(path) << "{\"fields\":" << fields
                        << ",\"rows\":[{\"kind\":\"modify\",\"old\":{\"id\":3,\"memo\":null},"
                           "\"new\":{\"memo\":\"文件里的改动\"}}]}";
    std::ostringstream aout, aerr;
    const std::string sql = "select id, memo from CLIENT where id = 3";
    EXPECT_EQ(0, runQzClient({"--server", server_, "apply", "SqlProvider", path, "--sql", sql,
                              "--owner-data", "\"x\""},
                             aout, aerr))
        << aerr.str();
    EXPECT_EQ("errorCount: 0\nownerData: \"x\"\n", aout.str());
    auto c = connectTop2(server);
    RecordsResult r = c->getRecords("SqlProvider", -1, "select memo from CLIENT where id = 3");
    ASSERT_EQ(1u, r.data.rows.size());
    EXPECT_EQ(Variant("文件里的改动"), r.data.rows[0].values[0]);

    // Applying the same file again fails on its stale old value: status 1.
    std::ostringstream bout, berr;
    EXPECT_EQ(1, runQzClient({"--server", server_, "apply", "SqlProvider", path, "--sql", sql},
                             bout, berr));
    EXPECT_NE(std::string::npos,
              bout.str().find("row [0] modify: Record not found or changed by another user"))
        << bout.str();
  }
  {
    std::ostringstream out, err;
    EXPECT_EQ(1, runQzClient({"--server", server_, "read", "nosuchP"}, out, err));
    EXPECT_NE(std::string::npos, err.str().find("Provider not exported: nosuchP")) << err.str();
  }
}

TEST_P(ClientServerTest, TwoClientsTwoInstancesEachLoginLogged) {
  auto a = connectTop2(server);
  auto b = connectTop2(server);
  a->login("甲", "QT01", "前台");
  b->login("乙", "QT02", "收银");
  EXPECT_TRUE(server.waitForOutput("甲\tQT01\t前台", 5000)) << server.output();
  EXPECT_TRUE(server.waitForOutput("乙\tQT02\t收银", 5000)) << server.output();
  // Each keeps its own instance: releasing one leaves the other working.
  a->release();
  EXPECT_FALSE(b->getProviderNames().empty());
}

INSTANTIATE_TEST_SUITE_P(Engines, ClientServerTest,
                         ::testing::Values(TestEngine::Embedded, TestEngine::PostgreSQL),
                         [](const auto& info) {
                           return std::string(qz::testing::engineName(info.param));
                         });

// Framing faults against the real server: the faulty connection gets a
// clear answer, the others are not disturbed.
TEST(ClientWireTest, MalformedAndOversizedMessagesLeaveOtherClientsServed) {
  ServerProcess server;
  std::string why;
  ASSERT_TRUE(server.createDatabase(TestEngine::Embedded, &why)) << why;
  ASSERT_GT(server.start({"--max-message", "4096"}), 0) << server.output();
  auto good = connectTop2(server);

  LineSocket raw;
  raw.connect(address(server), std::chrono::seconds(5));
  raw.send("this is not json\n");
  auto line = raw.readLine(std::chrono::seconds(5));
  ASSERT_TRUE(line);
  EXPECT_NE(std::string::npos, line->find("-32700")) << *line;
  raw.send(
      "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"create\",\"params\":{\"class\":\"top_dm2\"}}\n");
  line = raw.readLine(std::chrono::seconds(5));
  ASSERT_TRUE(line);
  EXPECT_NE(std::string::npos, line->find("\"result\"")) << *line;

  // Deep nesting inside a request within the limit: refused, not a crash.
  raw.send(
      "{\"jsonrpc\":\"2.0\",\"id\":2,\"method\":\"AS_GetRecords\",\"params\":{"
      "\"provider\":\"billP\",\"count\":0,\"ownerData\":" +
      std::string(1500, '[') + std::string(1500, ']') + "}}\n");
  line = raw.readLine(std::chrono::seconds(5));
  ASSERT_TRUE(line);
  EXPECT_NE(std::string::npos, line->find("\"error\"")) << *line;
  EXPECT_NE(std::string::npos, line->find("\"id\":2")) << *line;

  raw.send(std::string(5000, ' ') + "\n");
  line = raw.readLine(std::chrono::seconds(5));
  ASSERT_TRUE(line);
  EXPECT_NE(std::string::npos, line->find("4096")) << *line;
  EXPECT_FALSE(raw.readLine(std::chrono::seconds(5)));  // closed by the server

  EXPECT_FALSE(good->getProviderNames().empty());
  // The refused client's instance is gone; a new connection works.
  auto again = connectTop2(server);
  EXPECT_FALSE(again->getProviderNames().empty());
}

}  // namespace
}  // namespace qz::client
