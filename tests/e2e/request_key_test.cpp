// Request keys through the real server: a server killed after posting and
// before answering, restarted, answers the client library's resend from the
// recorded key; a key recorded by one server answers on another.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "client/client_session.h"
#include "client/qzclient_cli.h"
#include "platform/packet/json_delta.h"
#include "tests/e2e/e2e_fixture.h"

namespace qz::testing {
namespace {

using client::ApplyResult;

std::string billFields(client::Connection& c) {
  // The provider's own packet fields, as the client's delta repeats them.
  rapidjson::Document r = c.call("AS_GetRecords", R"({"provider":"billP","count":0})");
  rapidjson::StringBuffer b;
  rapidjson::Writer<rapidjson::StringBuffer> w(b);
  r["data"]["fields"].Accept(w);
  return b.GetString();
}

std::string billDeltaJson(const std::string& fields, const std::string& room) {
  return "{\"fields\":" + fields +
         ",\"rows\":[{\"kind\":\"insert\",\"new\":{\"num\":0,\"roomid\":\"" + room +
         "\",\"cltid\":-1},\"details\":{\"billitems\":[{\"kind\":\"insert\",\"new\":"
         "{\"bnum\":0,\"inum\":1,\"name\":\"" +
         room + "\"}}]}}]}";
}

class RequestKeyEndToEndTest : public ServerTest {
 protected:
  void SetUp() override {
    // The server kills itself after its second keyed commit, before answering.
    ::setenv("QZ_TEST_KILL_AFTER_KEYED_COMMIT", "2", 1);
    ServerTest::SetUp();
    ::unsetenv("QZ_TEST_KILL_AFTER_KEYED_COMMIT");
  }
  std::string server() const { return "127.0.0.1:" + std::to_string(server_->port()); }
  std::string fields() {
    auto c = client::Connection::open(server());
    c->create("top_dm2");
    return billFields(*c);
  }
  int64_t count(const std::string& sql) {
    auto c = client::Connection::open(server());
    c->create("top_dm2");
    return c->getRecords("SqlProvider", -1, sql).data.rows.at(0).values.at(0).toInt64();
  }
};

TEST_P(RequestKeyEndToEndTest, RetriesThroughACrashPostOneBillPerRequest) {
  const std::string f = fields();
  const int port = server_->port();
  // Restarts the server on the same port whenever it dies.
  std::atomic<bool> done{false};
  std::atomic<int> restarts{0};
  std::thread watcher([&] {
    while (!done) {
      int status;
      if (server_->pid() > 0 && waitpid(server_->pid(), &status, WNOHANG) == server_->pid()) {
        server_->stop();
        if (server_->start({}, port) == port) ++restarts;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  client::SessionOptions o;
  o.server = server();
  o.login = {"op", "st", "work"};
  o.tries = 40;
  o.retryDelay = std::chrono::milliseconds(250);
  client::ClientSession session(o);
  std::vector<ApplyResult> results;
  for (int i = 0; i < 4; ++i) {
    const provider::Delta d = provider::decodeDelta(billDeltaJson(f, "R" + std::to_string(i)));
    try {
      results.push_back(session.apply("billP", d));
    } catch (const std::exception& e) {
      ADD_FAILURE() << "request " << i << ": " << e.what();
    }
  }
  done = true;
  watcher.join();
  ASSERT_EQ(results.size(), 4u);
  EXPECT_EQ(restarts.load(), 1);
  std::set<int64_t> numbers;
  for (size_t i = 0; i < results.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(results[i].errorCount, 0);
    numbers.insert(results[i].ownerData.toInt64());
    // The second request was posted, its answer lost: the resend is answered.
    EXPECT_EQ(results[i].replayed, i == 1);
    EXPECT_EQ(results[i].tries > 1, i == 1);
  }
  EXPECT_EQ(numbers.size(), 4u);
  EXPECT_EQ(count("select count(*) from bills"), 4);
  EXPECT_EQ(count("select count(*) from billitems"), 4);
}

TEST_P(RequestKeyEndToEndTest, KeyRecordedByOneServerAnswersOnAnother) {
  // On PostgreSQL a second server on the same database; the embedded
  // engine's database belongs to one server, which is asked twice.
  std::unique_ptr<ServerProcess> second;
  std::string other = server();
  if (GetParam() == TestEngine::PostgreSQL) {
    second = std::make_unique<ServerProcess>();
    second->dir().write("system.ini", server_->dir().read("system.ini"));
    ASSERT_GT(second->start(), 0);
    other = "127.0.0.1:" + std::to_string(second->port());
  }
  const std::string path = server_->appDir() + "bill.json";
  std::ofstream(path) << billDeltaJson(fields(), "S1");
  std::ostringstream out1, err1, out2, err2, out3, err3;
  ASSERT_EQ(0, client::runQzClient(
                   {"--server", server(), "apply", "billP", path, "--request-key", "bill-S1"}, out1,
                   err1))
      << err1.str();
  ASSERT_EQ(
      0, client::runQzClient(
             {"--server", other, "apply", "billP", path, "--request-key", "bill-S1"}, out2, err2))
      << err2.str();
  EXPECT_EQ(out2.str(),
            out1.str() + "replayed: the request was posted before; this is its recorded answer\n");
  EXPECT_EQ(count("select count(*) from bills"), 1);
  // The same key with another bill is refused.
  std::ofstream(path) << billDeltaJson(fields(), "S2");
  EXPECT_EQ(
      1, client::runQzClient(
             {"--server", other, "apply", "billP", path, "--request-key", "bill-S1"}, out3, err3));
  EXPECT_NE(err3.str().find("Request key already used for a different request: bill-S1"),
            std::string::npos)
      << err3.str();
  if (second) EXPECT_EQ(second->stop(), 0);
}

QZ_INSTANTIATE_ON_BOTH_ENGINES(RequestKeyEndToEndTest);

}  // namespace
}  // namespace qz::testing
