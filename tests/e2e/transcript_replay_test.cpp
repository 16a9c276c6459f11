// The complete session of docs/protocol.md, replayed against a fresh server
// on the demo hotel: every request is sent as written, and every answer must
// equal the one written there (as JSON, member order aside).
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/e2e/server_process.h"
#include "tests/e2e/wire_client.h"

namespace qz::testing {
namespace {

struct Exchange {
  std::string request;
  std::string answer;
};

// The "-> " and "<- " lines of the page's complete session.
std::vector<Exchange> transcript() {
  std::ifstream page(std::string(QZ_SOURCE_DIR) + "/docs/protocol.md");
  std::vector<Exchange> out;
  bool inSession = false;
  for (std::string line; std::getline(page, line);) {
    if (line.rfind("## ", 0) == 0) inSession = line == "## A complete session";
    if (!inSession) continue;
    if (line.rfind("-> ", 0) == 0) out.push_back({line.substr(3), ""});
    if (line.rfind("<- ", 0) == 0 && !out.empty()) out.back().answer = line.substr(3);
  }
  return out;
}

TEST(TranscriptReplayTest, TheCompleteSessionOfTheProtocolPageRunsAsWritten) {
  const std::vector<Exchange> session = transcript();
  ASSERT_GE(session.size(), 8u) << "docs/protocol.md has no complete session";
  ServerProcess server;
  std::string why;
  ASSERT_TRUE(server.createDatabase(TestEngine::Embedded, &why, true)) << why;
  ASSERT_GT(server.start(), 0);
  WireClient client(server.port());
  for (const Exchange& e : session) {
    SCOPED_TRACE(e.request);
    const std::string got = client.call(e.request);
    rapidjson::Document want, have;
    want.Parse(e.answer.c_str());
    ASSERT_FALSE(want.HasParseError()) << "the page's answer is not JSON: " << e.answer;
    have.Parse(got.c_str());
    ASSERT_FALSE(have.HasParseError()) << got;
    EXPECT_TRUE(want == have) << "page:   " << e.answer << "\nserver: " << got;
  }
}

}  // namespace
}  // namespace qz::testing
