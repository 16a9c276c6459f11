// The code and "data" of every kind of failure over the wire, one case per
// kind: failed calls carry an hresult, and source and interface wherever the
// call concerned a class; JSON-RPC faults carry none; a database error
// carries the engine's own code. Failed rows of AS_ApplyUpdates carry the
// code of their kind too.
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
  bool withSource;      // data.source and data.interface of the class created
  bool withEngineCode = false;
  const char* before = nullptr;  // params of a first call of method that succeeds
};

constexpr const char* kDeptFields =
    R"({"name":"id","type":"string","size":10,"key":true},{"name":"name","type":"string","size":30})";

const ErrorCase kCases[] = {
    {"no instance", nullptr, "AS_GetProviderNames", "{}", 1, "No instance: call create first",
     false, "0x8000FFFF", false},
    {"unknown class", nullptr, "create", R"({"class":"nope"})", 2, "Class not registered", false,
     "0x80040154", false},
    {"second create", "top_dm2", "create", R"({"class":"top_dm1"})", 1, "Instance already created",
     false, "0x8000FFFF", true},
    {"unknown provider", "top_dm2", "AS_GetRecords", R"({"provider":"nope","count":-1})", 2,
     "Provider not exported: nope", false, "0x80004005", true},
    {"statement refused", "top_dm2", "AS_GetRecords", R"({"provider":"SqlProvider","count":-1})", 3,
     "No SQL statement given for dataset", true, "0x80004005", true},
    {"record changed", "top_dm2", "AS_RowRequest",
     R"({"provider":"billP","requestType":1,"row":{"fields":[{"name":"num","type":"int32"}],)"
     R"("rows":[[999]]}})",
     4, "Record not found or changed by another user", false, "0x80004005", true},
    {"posting refused", "top_dm2", "AS_ApplyUpdates",
     R"({"provider":"billP","delta":{"fields":[],"rows":[]},"maxErrors":1,"requestKey":"k1"})", 5,
     "Request key already used for a different request: k1", false, "0x80004005", true, false,
     R"({"provider":"billP","delta":{"fields":[],"rows":[]},"maxErrors":0,"requestKey":"k1"})"},
    {"database error", "top_dm2", "AS_GetRecords",
     R"({"provider":"SqlProvider","count":-1,"commandText":"select * from no_such_table"})", 6, "",
     true, "0x80004005", true, true},
    {"unreadable delta", "top_dm2", "AS_ApplyUpdates",
     R"({"provider":"billP","delta":{"fields":[],"rows":[{"kind":"grow"}]}})", -32602,
     "Invalid delta: unknown row kind 'grow'", false, nullptr, false},
    {"unknown parameter", "top_dm2", "AS_GetRecords",
     R"({"provider":"billP","count":-1,"params":[{"name":"nope","value":1}]})", -32602,
     "Parameter 'nope' not found", false, nullptr, false},
    {"unknown method", "top_dm2", "AS_Frobnicate", "{}", -32601, "Method not found", true, nullptr,
     false},
    {"mistyped argument", "top_dm2", "AS_GetRecords", R"({"provider":7})", -32602, "Invalid params",
     true, nullptr, false},
};

TEST(ErrorDataTest, EachKindOfFailureCarriesItsCodeAndData) {
  ServerProcess server;
  std::string why;
  ASSERT_TRUE(server.createDatabase(TestEngine::Embedded, &why, false)) << why;
  ASSERT_GT(server.start(), 0);
  for (const ErrorCase& c : kCases) {
    SCOPED_TRACE(c.what);
    WireSession s(server.port());
    if (c.createFirst) s.create(c.createFirst);
    if (c.before) s.ok(c.method, c.before);
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
    EXPECT_EQ(d.HasMember("engineCode"), c.withEngineCode) << s.lastLine();
  }

  // Failed rows: each entry of the error packet carries its kind's code.
  struct RowCase {
    const char* what;
    const char* extraField;  // a field of the delta besides id and name
    const char* row;
    int code;
    bool withEngineCode;
  };
  const RowCase kRows[] = {
      {"record changed", "", R"({"kind":"modify","old":{"id":"zz","name":"a"},"new":{"name":"b"}})",
       4, false},
      {"database error", "", R"({"kind":"insert","new":{"id":"D1","name":"again"}})", 6, true},
      {"statement refused", R"(,{"name":"nope","type":"int32"})",
       R"({"kind":"modify","old":{"id":"D1","nope":1},"new":{"nope":2}})", 3, false},
  };
  WireSession s(server.port());
  s.create("top_dm1");
  s.exec("SQLProvider", "insert into dept (id, name) values ('D1', 'first')");
  for (const RowCase& c : kRows) {
    SCOPED_TRACE(c.what);
    const std::string delta =
        std::string(R"({"fields":[)") + kDeptFields + c.extraField + R"(],"rows":[)" + c.row + "]}";
    const auto& r = s.ok("AS_ApplyUpdates", R"({"provider":"deptP","delta":)" + delta + "}");
    ASSERT_EQ(r["errors"]["errors"].Size(), 1u) << s.lastLine();
    const auto& e = r["errors"]["errors"][0];
    EXPECT_EQ(e["code"].GetInt(), c.code) << s.lastLine();
    EXPECT_EQ(e.HasMember("engineCode"), c.withEngineCode) << s.lastLine();
  }
}

}  // namespace
}  // namespace qz::testing
