// The small parts of the object host: line framing, the JSON-RPC envelope,
// socket-activation variables, the event loop dispatcher and class lookup.
#include <gtest/gtest.h>
#include <unistd.h>

#include <asio.hpp>
#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>

#include "platform/remote/event_loop_dispatcher.h"
#include "platform/remote/host.h"
#include "platform/remote/json_rpc.h"
#include "platform/remote/line_framer.h"
#include "platform/remote/linger.h"
#include "platform/remote/socket_activation.h"

namespace qz::remote {
namespace {

TEST(LineFramerTest, SplitsLinesAcrossChunksAndDropsCarriageReturns) {
  LineFramer f(100);
  std::vector<std::string> out;
  EXPECT_TRUE(f.feed("{\"a\":1}\r\n{\"b\"", out));
  EXPECT_TRUE(f.feed(":2}", out));
  ASSERT_EQ(1u, out.size());
  EXPECT_EQ("{\"a\":1}", out[0]);
  EXPECT_TRUE(f.feed("\n\n\r\nx\ny", out));
  ASSERT_EQ(3u, out.size());
  EXPECT_EQ("{\"b\":2}", out[1]);
  EXPECT_EQ("x", out[2]);
  EXPECT_EQ(1u, f.pending());
}

TEST(LineFramerTest, LimitCountsTheLineWithoutItsEnding) {
  LineFramer f(4);
  std::vector<std::string> out;
  EXPECT_TRUE(f.feed("abcd\r", out));  // the '\r' may still belong to "\r\n"
  EXPECT_TRUE(f.feed("\n", out));
  EXPECT_TRUE(f.feed("abcd\n", out));
  ASSERT_EQ(2u, out.size());
  EXPECT_EQ("abcd", out[0]);
  EXPECT_EQ("abcd", out[1]);
}

TEST(LineFramerTest, OverflowsWithoutWaitingForTheLineFeedAndStaysOverflowed) {
  LineFramer f(4);
  std::vector<std::string> out;
  EXPECT_TRUE(f.feed("ok\nabc", out));
  EXPECT_TRUE(f.feed("d", out));
  EXPECT_FALSE(f.feed("e", out));
  EXPECT_TRUE(f.overflowed());
  EXPECT_EQ(0u, f.pending());
  EXPECT_FALSE(f.feed("\nfine\n", out));
  ASSERT_EQ(1u, out.size());
  EXPECT_EQ("ok", out[0]);

  LineFramer g(4);
  out.clear();
  EXPECT_FALSE(g.feed("abcd\rX\n", out));  // '\r' not before '\n' counts
  LineFramer h(4);
  EXPECT_FALSE(h.feed("abcdefgh\n", out));  // whole too-long line in one chunk
  EXPECT_TRUE(out.empty());
}

TEST(JsonRpcTest, FailedCallsAlwaysCarryAnHresultOtherErrorsOnlyWhereDefined) {
  EXPECT_EQ(
      "{\"jsonrpc\":\"2.0\",\"id\":7,\"error\":{\"code\":1,\"message\":\"No instance\","
      "\"data\":{\"hresult\":\"0x8000FFFF\"}}}\n",
      errorResponse("7", 1, "No instance"));
  EXPECT_EQ("{\"jsonrpc\":\"2.0\",\"id\":null,\"error\":{\"code\":-32600,\"message\":\"x\"}}\n",
            errorResponse("null", kInvalidRequest, "x"));
  EXPECT_EQ(
      "{\"jsonrpc\":\"2.0\",\"id\":\"x\",\"error\":{\"code\":1,\"message\":\"Class not "
      "registered\",\"data\":{\"hresult\":\"0x80040154\"}}}\n",
      errorResponse("\"x\"", 1, "Class not registered", kClassNotRegistered));
  std::string full = errorResponse("null", 1, "引号\"", 0x8000FFFF, "QzServer.top_dm2", "{E}");
  rapidjson::Document d;
  d.Parse(full.c_str());
  ASSERT_FALSE(d.HasParseError());
  EXPECT_STREQ("引号\"", d["error"]["message"].GetString());
  EXPECT_STREQ("0x8000FFFF", d["error"]["data"]["hresult"].GetString());
  EXPECT_STREQ("QzServer.top_dm2", d["error"]["data"]["source"].GetString());
  EXPECT_STREQ("{E}", d["error"]["data"]["interface"].GetString());
}

TEST(JsonRpcTest, CheckRequestAcceptsStringNumberAndNullIds) {
  for (const char* text : {R"({"jsonrpc":"2.0","id":"abc","method":"m"})",
                           R"({"jsonrpc":"2.0","id":-3.5,"method":"m","params":null})",
                           R"({"jsonrpc":"2.0","id":null,"method":"m","params":{"a":1}})"}) {
    rapidjson::Document d;
    std::string error;
    ASSERT_TRUE(parseMessage(text, &d, &error)) << text;
    RequestHead head;
    EXPECT_TRUE(checkRequest(d, &head, &error)) << text << " " << error;
    EXPECT_EQ("m", head.method);
  }
  rapidjson::Document d;
  std::string error;
  ASSERT_TRUE(
      parseMessage(R"({"jsonrpc":"2.0","id":"abc","method":"m","params":{"a":1}})", &d, &error));
  RequestHead head;
  ASSERT_TRUE(checkRequest(d, &head, &error));
  EXPECT_EQ("\"abc\"", head.idJson);
  ASSERT_NE(nullptr, head.params);
  EXPECT_EQ(1, (*head.params)["a"].GetInt());
}

// Well formed lines take a faster parse than the others; either way a line
// is accepted or refused exactly as RapidJSON's own encoding check decides.
TEST(JsonRpcTest, ParseAcceptsAndRefusesLinesAsTheEncodingCheckDoes) {
  const std::string pad = "0123456";  // moves the sequence across 8-byte blocks
  const std::vector<std::string> inside = {"abc",
                                           "\xC3\xA9",
                                           "\xE5\xBC\xA0",
                                           "\xF0\x9F\x98\x80",
                                           "\xC0\x80",
                                           "\xC1\xBF",
                                           "\xE0\x80\xAF",
                                           "\xED\xA0\x80",
                                           "\xF4\x90\x80\x80",
                                           "\xF5\x80\x80\x80",
                                           "\xF0\x8F\xBF\xBF",
                                           "\xE5\xBC",
                                           "\xBF",
                                           "\xFF",
                                           std::string("a\0b", 3),
                                           "\xEF\xBF\xBF",
                                           "\xF4\x8F\xBF\xBF"};
  for (size_t shift = 0; shift < 8; ++shift) {
    for (const std::string& piece : inside) {
      const std::string text =
          R"({"jsonrpc":"2.0","id":1,"method":")" + pad.substr(0, shift) + piece + "\"}";
      rapidjson::Document oracle;
      oracle.Parse<rapidjson::kParseValidateEncodingFlag>(text.data(), text.size());
      rapidjson::Document d;
      std::string error;
      EXPECT_EQ(!oracle.HasParseError(), parseMessage(text, &d, &error))
          << "shift " << shift << ", piece of " << piece.size() << " bytes";
      if (!oracle.HasParseError()) EXPECT_EQ(pad.substr(0, shift) + piece, d["method"].GetString());
    }
  }
}

TEST(SocketActivationTest, TakesDescriptorsOnlyForThisProcess) {
  std::string error;
  auto fds = parseListenFds("4242", "2", 4242, &error);
  ASSERT_TRUE(fds);
  EXPECT_EQ((std::vector<int>{3, 4}), *fds);
  EXPECT_TRUE(parseListenFds("4243", "2", 4242, &error)->empty());  // a parent's
  EXPECT_TRUE(parseListenFds(nullptr, "2", 4242, &error)->empty());
  EXPECT_TRUE(parseListenFds("4242", nullptr, 4242, &error)->empty());
  EXPECT_TRUE(parseListenFds("4242", "0", 4242, &error)->empty());
}

TEST(SocketActivationTest, RejectsGarbage) {
  for (auto [pid, count] : {std::pair{"12x", "1"}, std::pair{"4242", "one"},
                            std::pair{"4242", "-1"}, std::pair{"", "1"}, std::pair{"0", "1"}}) {
    std::string error;
    EXPECT_FALSE(parseListenFds(pid, count, 4242, &error)) << pid << " " << count;
    EXPECT_FALSE(error.empty());
  }
}

TEST(SocketActivationTest, EnvironmentIsReadAndCleared) {
  std::string pid = std::to_string(getpid());
  setenv("LISTEN_PID", pid.c_str(), 1);
  setenv("LISTEN_FDS", "0", 1);
  std::string error;
  auto fds = listenFdsFromEnvironment(true, &error);
  ASSERT_TRUE(fds);
  EXPECT_TRUE(fds->empty());
  EXPECT_EQ(nullptr, getenv("LISTEN_PID"));
  EXPECT_EQ(nullptr, getenv("LISTEN_FDS"));
}

TEST(EventLoopDispatcherTest, InvokeRunsOnTheLoopThreadAndRethrows) {
  EventLoopDispatcher loop;
  std::thread t([&] { loop.run(); });
  while (!loop.running()) std::this_thread::yield();
  std::thread::id ran;
  loop.invoke([&] { ran = std::this_thread::get_id(); });
  EXPECT_EQ(t.get_id(), ran);
  EXPECT_THROW(loop.invoke([] { throw std::invalid_argument("bad"); }), std::invalid_argument);
  // Posted work runs in order, and an exception in it does not end the loop.
  std::vector<int> order;
  loop.post([&] { order.push_back(1); });
  loop.post([] { throw std::runtime_error("ignored"); });
  loop.post([&] { order.push_back(2); });
  loop.invoke([&] { order.push_back(3); });
  EXPECT_EQ((std::vector<int>{1, 2, 3}), order);
  // Invoke from the loop thread itself runs directly instead of deadlocking.
  bool nested = false;
  loop.invoke([&] { loop.invoke([&] { nested = true; }); });
  EXPECT_TRUE(nested);
  loop.quit();
  t.join();
  EXPECT_THROW(loop.invoke([] {}), std::runtime_error);
}

TEST(EventLoopDispatcherTest, QuitReleasesInvokersWaitingBehindBusyWork) {
  EventLoopDispatcher loop;
  std::thread t([&] { loop.run(); });
  while (!loop.running()) std::this_thread::yield();
  std::promise<void> release;
  std::shared_future<void> busy = release.get_future().share();
  std::atomic<bool> inBusy{false};
  loop.post([&, busy] {
    inBusy = true;
    busy.wait();
  });
  while (!inBusy) std::this_thread::yield();
  std::atomic<bool> ran{false};
  std::thread waiter([&] { EXPECT_THROW(loop.invoke([&] { ran = true; }), std::runtime_error); });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  loop.quit();  // whether the invoke was queued yet or not, it must not run
  release.set_value();
  waiter.join();
  t.join();
  EXPECT_FALSE(ran.load());
}

TEST(HostedClassTest, FindsByNameProgIdOrClassIdWithOrWithoutBraces) {
  std::vector<HostedClass> classes(2);
  classes[0].name = "top_dm1";
  classes[0].progId = "QzServer.top_dm1";
  classes[0].clsid = "{6D2E1BC3-A48F-44B1-B3A9-2A012D585391}";
  classes[1].name = "top_dm2";
  classes[1].progId = "QzServer.top_dm2";
  classes[1].clsid = "{A6F60FA4-DEEC-45B2-8D4A-C3C68CD7685B}";
  EXPECT_EQ(&classes[1], findHostedClass(classes, "TOP_DM2"));
  EXPECT_EQ(&classes[1], findHostedClass(classes, "qzserver.top_dm2"));
  EXPECT_EQ(&classes[0], findHostedClass(classes, "{6d2e1bc3-a48f-44b1-b3a9-2a012d585391}"));
  EXPECT_EQ(&classes[0], findHostedClass(classes, "6D2E1BC3-A48F-44B1-B3A9-2A012D585391"));
  EXPECT_EQ(nullptr, findHostedClass(classes, "top_dm"));
  EXPECT_EQ(nullptr, findHostedClass(classes, "QzServer"));
  EXPECT_EQ(nullptr, findHostedClass(classes, ""));
  EXPECT_EQ(nullptr, findHostedClass(classes, "{}"));
}

// The I/O threads run their loop through runLingering: it must end as run()
// does (out of work, or stopped while blocked or while lingering) and run
// handlers posted from another thread in order, lingering or not.
TEST(RunLingeringTest, EndsLikeRunAndRunsWhatOtherThreadsPost) {
  {
    asio::io_context io;
    int ran = 0;
    for (int i = 0; i < 3; ++i) asio::post(io, [&] { ++ran; });
    runLingering(io);  // out of work: returns
    EXPECT_EQ(3, ran);
  }
  asio::io_context io;
  auto work = asio::make_work_guard(io);
  std::vector<int> order;
  std::thread loop([&] { runLingering(io); });
  for (int i = 0; i < 40; ++i) {
    asio::post(io, [&order, i] { order.push_back(i); });
    // Every other handler after a pause longer than the linger, so that
    // some find the thread lingering and some find it asleep.
    if (i % 2) std::this_thread::sleep_for(std::chrono::microseconds(i % 4 == 1 ? 50 : 1000));
  }
  std::promise<void> last;
  asio::post(io, [&] { last.set_value(); });
  last.get_future().wait();
  io.stop();  // the thread is lingering now, or about to block
  loop.join();
  ASSERT_EQ(40u, order.size());
  for (int i = 0; i < 40; ++i) EXPECT_EQ(i, order[i]);
}

}  // namespace
}  // namespace qz::remote
