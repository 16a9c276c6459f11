// The object host over real TCP sockets: creation, calls, release,
// pipelining, framing faults, disconnects and stop.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>

#include "platform/remote/host.h"
#include "tests/platform/remote_test_support.h"

namespace qz::remote {
namespace {

using testing::errorCode;
using testing::errorMessage;
using testing::LineClient;
using testing::waitFor;

class HostTest : public ::testing::Test {
 protected:
  void startHost(std::function<void(HostOptions&)> tweak = {}) {
    HostOptions options;
    options.classes.push_back(testing::testClass(probe, [this] { return sockets.load(); }));
    options.listen.push_back("127.0.0.1:0");
    options.onLastInstanceReleased = [this] { ++lastReleased; };
    if (tweak) tweak(options);
    host = std::make_unique<Host>(std::move(options), window.loop);
    host->start();
    port = host->ports().at(0);
  }
  void TearDown() override {
    if (host) host->stop();
  }

  testing::Probe probe;
  std::atomic<bool> sockets{true};
  std::atomic<int> lastReleased{0};
  testing::LoopThread window;
  std::unique_ptr<Host> host;
  uint16_t port = 0;
};

TEST_F(HostTest, CreateCallReleaseAndCreateAgainOnTheSameConnection) {
  startHost();
  LineClient c(port);
  auto created = c.call("create", R"({"class":"echo_dm"})");
  ASSERT_TRUE(created.HasMember("result")) << errorMessage(created);
  const auto& r = created["result"];
  EXPECT_STREQ("echo_dm", r["class"].GetString());
  EXPECT_STREQ("TestServer.echo_dm", r["progid"].GetString());
  EXPECT_STREQ("{11111111-2222-3333-4444-555555555555}", r["clsid"].GetString());
  EXPECT_STREQ("Iecho_dm", r["interface"].GetString());
  EXPECT_STREQ("{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}", r["iid"].GetString());
  EXPECT_EQ(1u, host->instanceCount());

  auto echoed = c.call("echo", R"({"text":"张三","n":[1,2.5,null]})");
  ASSERT_TRUE(echoed.HasMember("result"));
  EXPECT_STREQ("张三", echoed["result"]["text"].GetString());
  EXPECT_EQ(2, echoed["id"].GetInt());
  EXPECT_EQ(1, c.call("count")["result"].GetInt());
  EXPECT_EQ(2, c.call("count")["result"].GetInt());

  auto released = c.call("release");
  ASSERT_TRUE(released.HasMember("result"));
  EXPECT_TRUE(released["result"].IsObject());
  EXPECT_EQ(0u, released["result"].MemberCount());
  EXPECT_EQ(1, probe.released.load());
  EXPECT_EQ(1, probe.destroyed.load());
  EXPECT_EQ(0u, host->instanceCount());

  // The connection stays open for a new instance, which starts afresh.
  ASSERT_TRUE(c.call("create", R"({"class":"echo_dm"})").HasMember("result"));
  EXPECT_EQ(1, c.call("count")["result"].GetInt());
  EXPECT_EQ(2, probe.created.load());
}

TEST_F(HostTest, CreateMatchesNameProgIdAndClassIdWithoutRegardToCase) {
  startHost();
  for (const char* name :
       {"ECHO_DM", "testserver.Echo_DM", "{11111111-2222-3333-4444-555555555555}",
        "11111111-2222-3333-4444-555555555555"}) {
    LineClient c(port);
    auto created = c.call("create", std::string(R"({"class":")") + name + "\"}");
    ASSERT_TRUE(created.HasMember("result")) << name << ": " << errorMessage(created);
    EXPECT_STREQ("echo_dm", created["result"]["class"].GetString());
  }
}

TEST_F(HostTest, RefusesCallsBeforeCreateAndASecondCreate) {
  startHost();
  LineClient c(port);
  for (const char* method : {"echo", "release", "AS_GetProviderNames"}) {
    auto a = c.call(method);
    EXPECT_EQ(1, errorCode(a)) << method;
    EXPECT_EQ("No instance: call create first", errorMessage(a)) << method;
  }
  ASSERT_TRUE(c.call("create", R"({"class":"echo_dm"})").HasMember("result"));
  auto again = c.call("create", R"({"class":"echo_dm"})");
  EXPECT_EQ("Instance already created", errorMessage(again));
  EXPECT_EQ(1, probe.created.load());
  // The instance is untouched by the refused create.
  EXPECT_EQ(1, c.call("count")["result"].GetInt());
}

TEST_F(HostTest, UnknownClassAndClassWithoutSocketsAreNotRegistered) {
  startHost();
  LineClient c(port);
  for (const char* params : {R"({"class":"top_dm9"})", R"({})", R"({"class":""})"}) {
    auto a = c.call("create", params);
    EXPECT_EQ("Class not registered", errorMessage(a)) << params;
    EXPECT_STREQ("0x80040154", a["error"]["data"]["hresult"].GetString());
  }
  // The registration is asked at each creation.
  sockets = false;
  auto refused = c.call("create", R"({"class":"echo_dm"})");
  EXPECT_EQ("Class not registered", errorMessage(refused));
  EXPECT_EQ(0, probe.created.load());
  sockets = true;
  EXPECT_TRUE(c.call("create", R"({"class":"echo_dm"})").HasMember("result"));
}

TEST_F(HostTest, FramingFaultsAreAnsweredAndTheConnectionKeepsServing) {
  startHost();
  LineClient c(port);
  ASSERT_TRUE(c.call("create", R"({"class":"echo_dm"})").HasMember("result"));
  struct Case {
    std::string line;
    int code;
    const char* id;  // expected id as JSON text
  };
  const Case cases[] = {
      {"{\"jsonrpc\":\"2.0\",\"id\":5,\"method\":", -32700, "null"},
      {"{} {}", -32700, "null"},
      {"\"jsonrpc\"", -32600, "null"},
      {"[{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"echo\"}]", -32600, "null"},
      {"{\"id\":7,\"method\":\"echo\"}", -32600, "7"},
      {"{\"jsonrpc\":\"1.0\",\"id\":\"a\",\"method\":\"echo\"}", -32600, "\"a\""},
      {"{\"jsonrpc\":\"2.0\",\"id\":8}", -32600, "8"},
      {"{\"jsonrpc\":\"2.0\",\"id\":9,\"method\":42}", -32600, "9"},
      {"{\"jsonrpc\":\"2.0\",\"id\":{},\"method\":\"echo\"}", -32600, "null"},
      {"{\"jsonrpc\":\"2.0\",\"method\":\"count\"}", -32600, "null"},  // notification
      {"{\"jsonrpc\":\"2.0\",\"id\":10,\"method\":\"echo\",\"params\":[1]}", -32602, "10"},
      {"{\"jsonrpc\":\"2.0\",\"id\":11,\"method\":\"nosuch\"}", -32601, "11"},
      {"{\"jsonrpc\":\"2.0\",\"id\":12,\"method\":\"echo\",\"params\":{\"s\":\"\xC3\x28\"}}",
       -32700, "null"},
  };
  for (const Case& k : cases) {
    c.send(k.line + "\n");
    auto a = c.readAnswer();
    EXPECT_EQ(k.code, errorCode(a)) << k.line;
    rapidjson::StringBuffer b;
    rapidjson::Writer<rapidjson::StringBuffer> w(b);
    a["id"].Accept(w);
    EXPECT_EQ(std::string(k.id), b.GetString()) << k.line;
    EXPECT_STREQ("2.0", a["jsonrpc"].GetString());
  }
  // The notification did not run: count starts at 1.
  EXPECT_EQ(1, c.call("count")["result"].GetInt());
  // Carriage returns before the line feed and empty lines are tolerated.
  c.send("\r\n\n" + LineClient::request(99, "echo", R"({"k":1})"));
  c.send("{\"jsonrpc\":\"2.0\",\"id\":100,\"method\":\"echo\",\"params\":{\"k\":2}}\r\n");
  EXPECT_EQ(1, c.readAnswer()["result"]["k"].GetInt());
  EXPECT_EQ(2, c.readAnswer()["result"]["k"].GetInt());
}

TEST_F(HostTest, DeeplyNestedMessagesDoNotExhaustTheStack) {
  startHost();
  LineClient c(port);
  ASSERT_TRUE(c.call("create", R"({"class":"echo_dm"})").HasMember("result"));
  const size_t depth = 2000000;
  std::string nested = std::string(depth, '[') + std::string(depth, ']');
  c.send("{\"jsonrpc\":\"2.0\",\"id\":7,\"method\":\"count\",\"params\":{\"deep\":" + nested +
         "}}\n");
  auto a = c.readAnswer(20000);
  EXPECT_EQ(1, a["result"].GetInt());
  c.send(std::string(depth, '[') + "\n");  // unbalanced
  EXPECT_EQ(-32700, errorCode(c.readAnswer(20000)));
  c.send(nested + "\n");  // balanced, but an array: not a request
  EXPECT_EQ(-32600, errorCode(c.readAnswer(20000)));
  EXPECT_EQ(2, c.call("count")["result"].GetInt());
}

TEST_F(HostTest, CallFailuresCarryHresultSourceAndInterface) {
  startHost();
  LineClient c(port);
  ASSERT_TRUE(c.call("create", R"({"class":"echo_dm"})").HasMember("result"));
  auto failed = c.call("fail");
  EXPECT_EQ(1, errorCode(failed));
  EXPECT_EQ("Provider not exported: nosuchP", errorMessage(failed));
  EXPECT_FALSE(failed.HasMember("result"));
  const auto& data = failed["error"]["data"];
  EXPECT_STREQ("0x80004005", data["hresult"].GetString());
  EXPECT_STREQ("TestServer.echo_dm", data["source"].GetString());
  EXPECT_STREQ("{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}", data["interface"].GetString());

  auto thrown = c.call("throw");
  EXPECT_EQ("disk on fire", errorMessage(thrown));
  EXPECT_STREQ("0x8000FFFF", thrown["error"]["data"]["hresult"].GetString());

  auto silent = c.call("silent");
  EXPECT_EQ(1, errorCode(silent));

  // -32601 from the object carries no data.
  auto unknown = c.call("nosuch");
  EXPECT_EQ(-32601, errorCode(unknown));
  EXPECT_FALSE(unknown["error"].HasMember("data"));
  // The instance survives its failures.
  EXPECT_EQ(1, c.call("count")["result"].GetInt());
}

TEST_F(HostTest, CreateWithNonStringClassIsInvalidParams) {
  startHost();
  LineClient c(port);
  auto a = c.call("create", R"({"class":5})");
  EXPECT_EQ(-32602, errorCode(a));
  EXPECT_TRUE(c.call("create", R"({"class":"echo_dm"})").HasMember("result"));
}

TEST_F(HostTest, OversizedMessageIsRefusedAndOnlyThatConnectionCloses) {
  startHost([](HostOptions& o) { o.maxMessage = 1024; });
  LineClient good(port);
  ASSERT_TRUE(good.call("create", R"({"class":"echo_dm"})").HasMember("result"));

  // A message of exactly the limit is fine.
  LineClient edge(port);
  std::string head = R"({"jsonrpc":"2.0","id":1,"method":"echo","params":{"s":")";
  std::string tail = "\"}}";
  std::string exact = head + std::string(1024 - head.size() - tail.size(), 'y') + tail;
  ASSERT_EQ(1024u, exact.size());
  edge.send(exact + "\r\n");
  auto a = edge.readAnswer();
  EXPECT_EQ("No instance: call create first", errorMessage(a));

  LineClient bad(port);
  ASSERT_TRUE(bad.call("create", R"({"class":"echo_dm"})").HasMember("result"));
  EXPECT_EQ(2u, host->instanceCount());
  // One byte over, with no line feed in sight: the server must not wait for
  // the end of the line.
  bad.send(std::string(1025, 'z'));
  auto refused = bad.readAnswer();
  EXPECT_EQ(-32600, errorCode(refused));
  EXPECT_TRUE(refused["id"].IsNull());
  EXPECT_NE(std::string::npos, errorMessage(refused).find("1024"));
  EXPECT_FALSE(bad.readLine());  // closed
  EXPECT_FALSE(bad.timedOut());
  EXPECT_TRUE(waitFor([&] { return host->instanceCount() == 1; }));

  EXPECT_EQ(1, good.call("count")["result"].GetInt());
}

TEST_F(HostTest, PipelinedRequestsAreAnsweredInArrivalOrder) {
  startHost();
  LineClient c(port);
  std::string batch = LineClient::request(1, "create", R"({"class":"echo_dm"})");
  // A slow call first, then many quick ones, a malformed line and a
  // refused create in between: answers must still come in order.
  batch += LineClient::request(2, "sleep", R"({"ms":150})");
  for (int i = 3; i < 200; ++i) {
    if (i == 50) {
      batch += "{oops\n";
    } else if (i == 120) {
      batch += LineClient::request(i, "create", R"({"class":"echo_dm"})");
    } else {
      batch += LineClient::request(i, "count");
    }
  }
  batch += LineClient::request(200, "release");
  batch += LineClient::request(201, "count");
  c.send(batch);
  int expectedCount = 0;
  for (int i = 1; i <= 201; ++i) {
    auto a = c.readAnswer();
    if (i == 50) {
      EXPECT_EQ(-32700, errorCode(a));
      continue;
    }
    ASSERT_EQ(i, a["id"].GetInt());
    if (i == 120) {
      EXPECT_EQ("Instance already created", errorMessage(a));
    } else if (i >= 3 && i < 200) {
      EXPECT_EQ(++expectedCount, a["result"].GetInt());
    } else if (i == 201) {
      EXPECT_EQ("No instance: call create first", errorMessage(a));
    }
  }
}

TEST_F(HostTest, TwoClientsGetTwoInstancesRunningAtTheSameTime) {
  startHost();
  LineClient a(port), b(port);
  ASSERT_TRUE(a.call("create", R"({"class":"echo_dm"})").HasMember("result"));
  ASSERT_TRUE(b.call("create", R"({"class":"echo_dm"})").HasMember("result"));
  EXPECT_EQ(2u, host->instanceCount());
  uint64_t ta = a.call("thread")["result"].GetUint64();
  uint64_t tb = b.call("thread")["result"].GetUint64();
  EXPECT_NE(ta, tb);
  // Calls of one instance stay on its thread.
  EXPECT_EQ(ta, a.call("thread")["result"].GetUint64());

  auto start = std::chrono::steady_clock::now();
  a.send(LineClient::request(50, "sleep", R"({"ms":400})"));
  b.send(LineClient::request(50, "sleep", R"({"ms":400})"));
  a.readAnswer();
  b.readAnswer();
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::milliseconds(750));
  // Each instance counts for itself.
  EXPECT_EQ(1, a.call("count")["result"].GetInt());
  EXPECT_EQ(1, b.call("count")["result"].GetInt());
}

TEST_F(HostTest, FactoryRunsOnTheModuleThread) {
  startHost();
  LineClient c(port);
  ASSERT_TRUE(c.call("create", R"({"class":"echo_dm"})").HasMember("result"));
  size_t moduleThread = c.call("thread")["result"].GetUint64();
  EXPECT_EQ(moduleThread, probe.factoryThread.load());
  size_t windowThread = 0;
  window.loop.invoke([&] { windowThread = testing::threadKey(); });
  EXPECT_NE(windowThread, moduleThread);
}

TEST_F(HostTest, DisconnectRollsBackTheOpenTransaction) {
  startHost();
  {
    LineClient c(port);
    ASSERT_TRUE(c.call("create", R"({"class":"echo_dm"})").HasMember("result"));
    ASSERT_TRUE(c.call("begin").HasMember("result"));
  }
  // The instance is counted until its thread retires it, just after release.
  ASSERT_TRUE(waitFor([&] { return probe.released == 1 && host->instanceCount() == 0; }));
  EXPECT_EQ(1, probe.rolledBack.load());
  EXPECT_EQ(1, probe.destroyed.load());

  // A committed transaction is not rolled back.
  {
    LineClient c(port);
    ASSERT_TRUE(c.call("create", R"({"class":"echo_dm"})").HasMember("result"));
    c.call("begin");
    c.call("commit");
  }
  ASSERT_TRUE(waitFor([&] { return probe.released == 2; }));
  EXPECT_EQ(1, probe.rolledBack.load());
}

TEST_F(HostTest, DisconnectDuringACallReleasesAfterTheCallEnds) {
  startHost();
  {
    LineClient c(port);
    ASSERT_TRUE(c.call("create", R"({"class":"echo_dm"})").HasMember("result"));
    c.send(LineClient::request(2, "begin") + LineClient::request(3, "sleep", R"({"ms":300})"));
    c.readAnswer();
  }
  ASSERT_TRUE(waitFor([&] { return probe.released == 1; }));
  EXPECT_EQ(1, probe.sleepsFinishedAtRelease.load()) << "released while its call still ran";
  EXPECT_EQ(1, probe.rolledBack.load());
}

TEST_F(HostTest, HalfClosedClientStillGetsItsAnswersThenTheInstanceEnds) {
  startHost();
  LineClient c(port);
  c.send(LineClient::request(1, "create", R"({"class":"echo_dm"})") +
         LineClient::request(2, "count") + LineClient::request(3, "count"));
  c.shutdownWrite();
  EXPECT_TRUE(c.readAnswer().HasMember("result"));
  EXPECT_EQ(1, c.readAnswer()["result"].GetInt());
  EXPECT_EQ(2, c.readAnswer()["result"].GetInt());
  EXPECT_FALSE(c.readLine());
  EXPECT_FALSE(c.timedOut());
  EXPECT_TRUE(waitFor([&] { return probe.released == 1; }));
}

TEST_F(HostTest, CreationWaitsWhileTheWindowThreadIsBusyButCallsGoOn) {
  startHost();
  LineClient existing(port);
  ASSERT_TRUE(existing.call("create", R"({"class":"echo_dm"})").HasMember("result"));

  std::promise<void> unblock;
  std::shared_future<void> gate = unblock.get_future().share();
  window.loop.post([gate] { gate.wait(); });  // a long maintenance job

  LineClient newcomer(port);
  newcomer.send(LineClient::request(1, "create", R"({"class":"echo_dm"})"));
  EXPECT_FALSE(newcomer.readLine(300));
  EXPECT_TRUE(newcomer.timedOut());
  // The existing instance keeps working meanwhile.
  EXPECT_EQ(1, existing.call("count")["result"].GetInt());
  EXPECT_EQ(1, probe.created.load());

  unblock.set_value();
  EXPECT_TRUE(newcomer.readAnswer().HasMember("result"));
  EXPECT_EQ(2, probe.created.load());
}

TEST_F(HostTest, FailedCreationIsReportedAndTheConnectionCanTryAgain) {
  startHost();
  LineClient c(port);
  probe.failCreate = true;
  auto failed = c.call("create", R"({"class":"echo_dm"})");
  EXPECT_EQ(1, errorCode(failed));
  EXPECT_EQ("cannot open the database", errorMessage(failed));
  EXPECT_EQ(0u, host->instanceCount());
  EXPECT_EQ("No instance: call create first", errorMessage(c.call("count")));
  probe.failCreate = false;
  // With no instance left, the failure counts as the last one going, so a
  // server started for this client does not linger.
  EXPECT_TRUE(waitFor([&] { return lastReleased == 1; }));
  EXPECT_TRUE(c.call("create", R"({"class":"echo_dm"})").HasMember("result"));
  EXPECT_EQ(1, lastReleased.load());
}

TEST_F(HostTest, LastInstanceIsNotSignalledWhileACreationIsUnderWay) {
  startHost();
  LineClient a(port);
  ASSERT_TRUE(a.call("create", R"({"class":"echo_dm"})").HasMember("result"));

  std::promise<void> unblock;
  std::shared_future<void> gate = unblock.get_future().share();
  window.loop.post([gate] { gate.wait(); });
  LineClient b(port);
  b.send(LineClient::request(1, "create", R"({"class":"echo_dm"})"));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  a.call("release");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(0, lastReleased.load()) << "signalled while b was still being created";
  unblock.set_value();
  EXPECT_TRUE(b.readAnswer().HasMember("result"));
  b.call("release");
  EXPECT_TRUE(waitFor([&] { return lastReleased == 1; }));
}

TEST_F(HostTest, ClientThatDoesNotReadStillGetsEveryAnswerInOrder) {
  // Far more requests than the server keeps in flight: it must pause
  // reading and resume as answers are taken, without losing any.
  startHost();
  LineClient c(port);
  std::string batch = LineClient::request(1, "create", R"({"class":"echo_dm"})");
  const int n = 3000;
  for (int i = 2; i <= n; ++i) batch += LineClient::request(i, "echo", R"({"pad":"0123456789"})");
  std::thread writer([&] { c.send(batch); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  for (int i = 1; i <= n; ++i) {
    auto a = c.readAnswer();
    ASSERT_EQ(i, a["id"].GetInt());
    ASSERT_TRUE(a.HasMember("result"));
  }
  writer.join();
}

TEST_F(HostTest, LastInstanceReleasedIsSignalledOnceWhenCountReachesZero) {
  startHost();
  LineClient a(port), b(port);
  ASSERT_TRUE(a.call("create", R"({"class":"echo_dm"})").HasMember("result"));
  ASSERT_TRUE(b.call("create", R"({"class":"echo_dm"})").HasMember("result"));
  a.call("release");
  EXPECT_EQ(0, lastReleased.load());
  b.close();
  ASSERT_TRUE(waitFor([&] { return lastReleased == 1; }));
  EXPECT_EQ(0u, host->instanceCount());
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(1, lastReleased.load());
}

TEST_F(HostTest, StopReleasesEveryInstanceAndClosesConnections) {
  startHost();
  LineClient a(port), b(port);
  ASSERT_TRUE(a.call("create", R"({"class":"echo_dm"})").HasMember("result"));
  ASSERT_TRUE(b.call("create", R"({"class":"echo_dm"})").HasMember("result"));
  a.call("begin");
  host->stop();
  EXPECT_EQ(2, probe.released.load());
  EXPECT_EQ(1, probe.rolledBack.load());
  EXPECT_EQ(2, probe.destroyed.load());
  EXPECT_EQ(0u, host->instanceCount());
  EXPECT_EQ(0, lastReleased.load()) << "stopping is not the last client leaving";
  EXPECT_FALSE(a.readLine(2000));
  EXPECT_FALSE(a.timedOut());
  EXPECT_THROW(LineClient late(port), std::runtime_error);
  host->stop();  // idempotent
}

TEST_F(HostTest, StopLetsTheCallInFlightFinishAndDropsQueuedOnes) {
  startHost();
  LineClient c(port);
  ASSERT_TRUE(c.call("create", R"({"class":"echo_dm"})").HasMember("result"));
  c.send(LineClient::request(2, "begin") + LineClient::request(3, "sleep", R"({"ms":300})") +
         LineClient::request(4, "commit"));
  c.readAnswer();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  host->stop();
  EXPECT_EQ(1, probe.released.load());
  EXPECT_EQ(1, probe.sleepsFinishedAtRelease.load()) << "released before the running call ended";
  EXPECT_EQ(1, probe.rolledBack.load()) << "the queued commit ran after stop";
}

TEST_F(HostTest, ServesAnInheritedListeningSocket) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
  ASSERT_EQ(0, ::listen(fd, 16));
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  uint16_t inherited = ntohs(addr.sin_port);

  startHost([fd](HostOptions& o) {
    o.listen.clear();
    o.listenFds.push_back(fd);
  });
  EXPECT_EQ(inherited, port);
  LineClient c(port);
  EXPECT_TRUE(c.call("create", R"({"class":"echo_dm"})").HasMember("result"));
}

TEST_F(HostTest, InheritedDescriptorThatIsNotAListeningSocketIsRefused) {
  int bound = ::socket(AF_INET, SOCK_STREAM, 0);  // bound, never listening
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0, ::bind(bound, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
  int udp = ::socket(AF_INET, SOCK_DGRAM, 0);
  for (int fd : {bound, udp, 999}) {
    HostOptions o;
    o.classes.push_back(testing::testClass(probe));
    o.listenFds.push_back(fd);
    Host h(std::move(o), window.loop);
    try {
      h.start();
      ADD_FAILURE() << "descriptor " << fd << " was accepted";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string::npos, std::string(e.what()).find(std::to_string(fd))) << e.what();
    }
  }
  ::close(bound);
  ::close(udp);
}

TEST_F(HostTest, StartFailsClearlyOnBadOrBusyAddresses) {
  startHost();
  testing::Probe other;
  for (const std::string& addr :
       {std::string("127.0.0.1:http"), std::string("127.0.0.1"), std::string("127.0.0.1:70000"),
        "127.0.0.1:" + std::to_string(port)}) {
    HostOptions o;
    o.classes.push_back(testing::testClass(other));
    o.listen.push_back(addr);
    Host h(std::move(o), window.loop);
    try {
      h.start();
      ADD_FAILURE() << addr << " was accepted";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string::npos, std::string(e.what()).find(addr)) << e.what();
    }
  }
  // The running host is unharmed.
  LineClient c(port);
  EXPECT_TRUE(c.call("create", R"({"class":"echo_dm"})").HasMember("result"));
}

TEST_F(HostTest, LargeAnswersArriveWhole) {
  startHost();
  LineClient c(port);
  ASSERT_TRUE(c.call("create", R"({"class":"echo_dm"})").HasMember("result"));
  auto a = c.call("big", R"({"n":5000000})");
  ASSERT_TRUE(a.HasMember("result"));
  EXPECT_EQ(5000000u, a["result"].GetStringLength());
  EXPECT_EQ(1, c.call("count")["result"].GetInt());
}

}  // namespace
}  // namespace qz::remote
