// The "data" of error answers, one case per kind of failure: every failed
// call (code 1) carries an hresult, and source and interface wherever the
// call concerned a class; JSON-RPC faults carry none.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/server_process.h"
#include "tests/e2e/wire_session.h"

namespace qz::testing {
namespace {

constexpr const char* kDm2Source = "QzServer.top_dm2";
constexpr const char* kDm2Iid = "{EA5546B8-4B97-4818-B61C-3E2C977EE8E6}";

struct ErrorCase {
  const char* what;
  const char* createFirst;  // class to create before the call, or nullptr
  const char* method;
  const char* params;
  int code;
  const char* message;  // the whole message, or its beginning when prefix
  bool prefix;
  const char* hresult;  // nullptr: no "data" at all
  bool withSource;      // data.source and data.interface of top_dm2
};

const ErrorCase kCases[] = {
    {"no instance", nullptr, "AS_GetProviderNames", "{}", 1, "No instance: call create first",
     false, "0x8000FFFF", false},
    {"unknown class", nullptr, "create", R"({"class":"nope"})", 1, "Class not registered", false,
     "0x80040154", false},
    {"second create", "top_dm2", "create", R"({"class":"top_dm1"})", 1, "Instance already created",
     false, "0x8000FFFF", true},
    {"unknown provider", "top_dm2", "AS_GetRecords", R"({"provider":"nope","count":-1})", 1,
     "Provider not exported: nope", false, "0x8000FFFF", true},
    {"database error", "top_dm2", "AS_GetRecords",
     R"({"provider":"SqlProvider","count":-1,"commandText":"select * from no_such_table"})", 1, "",
     true, "0x8000FFFF", true},
    {"unreadable delta", "top_dm2", "AS_ApplyUpdates",
     R"({"provider":"billP","delta":{"fields":[],"rows":[{"kind":"grow"}]}})", 1,
     "Invalid delta: unknown row kind 'grow'", false, "0x8000FFFF", true},
    {"unknown parameter", "top_dm2", "AS_GetRecords",
     R"({"provider":"billP","count":-1,"params":[{"name":"nope","value":1}]})", 1,
     "Parameter 'nope' not found", false, "0x8000FFFF", true},
    {"unknown method", "top_dm2", "AS_Frobnicate", "{}", -32601, "Method not found", true, nullptr,
     false},
    {"mistyped argument", "top_dm2", "AS_GetRecords", R"({"provider":7})", -32602,
     "Invalid params", true, nullptr, false},
};

TEST(ErrorDataTest, EachKindOfFailureCarriesItsData) {
  ServerProcess server;
  std::string why;
  ASSERT_TRUE(server.createDatabase(TestEngine::Embedded, &why, false)) << why;
  ASSERT_GT(server.start(), 0);
  for (const ErrorCase& c : kCases) {
    SCOPED_TRACE(c.what);
    WireSession s(server.port());
    if (c.createFirst) s.create(c.createFirst);
    const auto& answer = s.call(c.method, c.params);
    ASSERT_TRUE(answer.HasMember("error")) << s.lastLine();
    const auto& e = answer["error"];
    EXPECT_EQ(e["code"].GetInt(), c.code);
    const std::string message = e["message"].GetString();
    if (c.prefix)
      EXPECT_EQ(message.rfind(c.message, 0), 0u) << message;
    else
      EXPECT_EQ(message, c.message);
    if (!c.hresult) {
      EXPECT_FALSE(e.HasMember("data")) << s.lastLine();
      continue;
    }
    ASSERT_TRUE(e.HasMember("data")) << s.lastLine();
    const auto& d = e["data"];
    EXPECT_STREQ(d["hresult"].GetString(), c.hresult);
    EXPECT_EQ(d.HasMember("source"), c.withSource) << s.lastLine();
    EXPECT_EQ(d.HasMember("interface"), c.withSource) << s.lastLine();
    if (c.withSource && d.HasMember("source")) {
      EXPECT_STREQ(d["source"].GetString(), kDm2Source);
      EXPECT_STREQ(d["interface"].GetString(), kDm2Iid);
    }
  }
}

}  // namespace
}  // namespace qz::testing
