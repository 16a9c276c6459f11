// Long answers that leave in parts while the method still writes them:
// order among pipelined answers, pausing a client that does not read, a
// failure after part of the answer left, and a client that goes away in
// the middle.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/remote/host.h"
#include "tests/platform/remote_test_support.h"

namespace qz::remote {
namespace {

using testing::errorCode;
using testing::errorMessage;
using testing::LineClient;
using testing::rowText;
using testing::waitFor;

// Rows enough for an answer of several parts (about 2 MB).
constexpr int kManyRows = 20000;

class StreamedAnswerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HostOptions options;
    options.classes.push_back(testing::testClass(probe));
    options.listen.push_back("127.0.0.1:0");
    host = std::make_unique<Host>(std::move(options), window.loop);
    host->start();
    port = host->ports().at(0);
  }
  void TearDown() override { host->stop(); }

  static std::string rowsRequest(int id, int n, int failAt = -1) {
    std::string params = "{\"n\":" + std::to_string(n);
    if (failAt >= 0) params += ",\"failAt\":" + std::to_string(failAt);
    return LineClient::request(id, "rows", params + "}");
  }

  // Checks that answer a carries every row of a "rows" call, whole and in
  // order.
  static void expectRows(const rapidjson::Document& a, int n) {
    ASSERT_TRUE(a.HasMember("result")) << errorMessage(a);
    const auto& rows = a["result"];
    ASSERT_TRUE(rows.IsArray());
    ASSERT_EQ(static_cast<size_t>(n), rows.Size());
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(i, rows[i][0].GetInt());
      ASSERT_EQ(rowText(i), rows[i][1].GetString()) << "row " << i;
    }
  }

  testing::Probe probe;
  testing::LoopThread window;
  std::unique_ptr<Host> host;
  uint16_t port = 0;
};

TEST_F(StreamedAnswerTest, PipelinedRequestsAfterALongAnswerAreAnsweredInOrder) {
  LineClient c(port);
  std::string batch = LineClient::request(1, "create", R"({"class":"echo_dm"})");
  batch += rowsRequest(2, kManyRows);
  batch += LineClient::request(3, "count");
  batch += "{oops\n";
  batch += rowsRequest(5, kManyRows / 2);
  batch += LineClient::request(6, "echo", R"({"after":"rows"})");
  c.send(batch);
  EXPECT_TRUE(c.readAnswer().HasMember("result"));
  auto rows = c.readAnswer();
  EXPECT_EQ(2, rows["id"].GetInt());
  expectRows(rows, kManyRows);
  auto count = c.readAnswer();
  EXPECT_EQ(3, count["id"].GetInt());
  EXPECT_EQ(1, count["result"].GetInt());
  EXPECT_EQ(-32700, errorCode(c.readAnswer()));
  auto second = c.readAnswer();
  EXPECT_EQ(5, second["id"].GetInt());
  expectRows(second, kManyRows / 2);
  auto echo = c.readAnswer();
  EXPECT_EQ(6, echo["id"].GetInt());
  EXPECT_STREQ("rows", echo["result"]["after"].GetString());
}

TEST_F(StreamedAnswerTest, ClientThatDoesNotReadALongAnswerStillGetsEverythingInOrder) {
  // The long answer heads the queue while more requests than the server
  // keeps in flight follow it: reading must pause and resume without loss.
  LineClient c(port);
  std::string batch = LineClient::request(1, "create", R"({"class":"echo_dm"})");
  batch += rowsRequest(2, kManyRows);
  const int n = 1500;
  for (int i = 3; i <= n; ++i) batch += LineClient::request(i, "echo", R"({"pad":"0123456789"})");
  std::thread writer([&] { c.send(batch); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  for (int i = 1; i <= n; ++i) {
    auto a = c.readAnswer();
    ASSERT_EQ(i, a["id"].GetInt());
    if (i == 2) expectRows(a, kManyRows);
    ASSERT_TRUE(a.HasMember("result"));
  }
  writer.join();
}

TEST_F(StreamedAnswerTest, FailureBeforeAnythingLeftIsAnErrorAnswer) {
  LineClient c(port);
  ASSERT_TRUE(c.call("create", R"({"class":"echo_dm"})").HasMember("result"));
  c.send(rowsRequest(2, kManyRows, 10));
  auto a = c.readAnswer();
  EXPECT_EQ(2, a["id"].GetInt());
  EXPECT_EQ("the cursor broke", errorMessage(a));
  EXPECT_EQ(1, c.call("count")["result"].GetInt()) << "the connection goes on";
}

TEST_F(StreamedAnswerTest, FailureAfterPartOfTheAnswerLeftEndsTheConnection) {
  LineClient c(port);
  ASSERT_TRUE(c.call("create", R"({"class":"echo_dm"})").HasMember("result"));
  c.send(rowsRequest(2, kManyRows, kManyRows - 10) + LineClient::request(3, "count"));
  // No whole line may come: a cut-off result must not pass for an answer,
  // and nothing is answered after it.
  auto line = c.readLine(10000);
  EXPECT_FALSE(line) << "got a line of " << line->size() << " bytes";
  EXPECT_FALSE(c.timedOut());
  ASSERT_TRUE(waitFor([&] { return probe.released == 1 && host->instanceCount() == 0; }));

  LineClient again(port);
  ASSERT_TRUE(again.call("create", R"({"class":"echo_dm"})").HasMember("result"));
  expectRows(again.call("rows", R"({"n":3000})"), 3000);
}

TEST_F(StreamedAnswerTest, ClientGoneInTheMiddleStopsTheWritingAndReleases) {
  const int huge = 2000000;  // about 200 MB if it were all written
  {
    LineClient c(port);
    ASSERT_TRUE(c.call("create", R"({"class":"echo_dm"})").HasMember("result"));
    c.send(rowsRequest(2, huge));
    ASSERT_TRUE(waitFor([&] { return probe.rowsWritten > kManyRows; }));
  }
  ASSERT_TRUE(waitFor([&] { return probe.released == 1 && host->instanceCount() == 0; }, 20000));
  EXPECT_LT(probe.rowsWritten.load(), huge) << "the method wrote on for nobody";

  LineClient again(port);
  ASSERT_TRUE(again.call("create", R"({"class":"echo_dm"})").HasMember("result"));
  EXPECT_EQ(1, again.call("count")["result"].GetInt());
}

TEST_F(StreamedAnswerTest, ClientsThatNeverReadHoldTheServerToItsAnswerBudget) {
  // Two clients pipeline answers of about 2 MB and 1 MB without reading.
  // Unbounded, the server would compose all 60 MB; with 1 MB per
  // connection and 1 MB in total it holds at most the total plus, per
  // connection, one answer that cannot be split (1 MB here) and one part
  // (256 KB and a row), and a third client is still served.
  constexpr size_t kLimit = 1u << 20;
  HostOptions options;
  options.classes.push_back(testing::testClass(probe));
  options.listen.push_back("127.0.0.1:0");
  options.answerBytesPerConnection = kLimit;
  options.answerBytesTotal = kLimit;
  Host tight(std::move(options), window.loop);
  tight.start();
  const uint16_t tightPort = tight.ports().at(0);
  std::string batch = LineClient::request(1, "create", R"({"class":"echo_dm"})");
  for (int i = 2; i < 22; ++i) {
    batch += rowsRequest(i, kManyRows);
    batch += LineClient::request(i + 100, "big", R"({"n":1000000})");
  }
  LineClient a(tightPort), b(tightPort);
  a.send(batch);
  b.send(batch);
  // The kernel takes a few megabytes per connection before the budget
  // matters; once the writing stalls, the held bytes stay where they are.
  size_t most = 0;
  for (int i = 0; i < 40; ++i) {
    most = std::max(most, tight.answerBytesHeld());
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  EXPECT_LE(most, kLimit + 2 * (kLimit + (300u << 10)));
  EXPECT_LT(probe.rowsWritten.load(), 10 * kManyRows) << "the methods wrote on for nobody";

  LineClient c(tightPort);
  ASSERT_TRUE(c.call("create", R"({"class":"echo_dm"})").HasMember("result"));
  EXPECT_EQ(1, c.call("count")["result"].GetInt());
  expectRows(c.call("rows", R"({"n":3000})"), 3000);

  // Reading catches up and every answer arrives whole and in order.
  for (int i = 0; i < 6; ++i) {
    const auto answer = a.readAnswer(10000);
    ASSERT_TRUE(answer.HasMember("result")) << errorMessage(answer);
    if (i > 0 && i % 2 == 1) expectRows(answer, kManyRows);
  }
  tight.stop();
}

}  // namespace
}  // namespace qz::remote
