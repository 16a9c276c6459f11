// Packets name their fields as the application schema declares them, on
// both engines: every provider of the three modules and every table read on
// a server over the embedded engine and one over PostgreSQL.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "database/schema.h"
#include "tests/e2e/server_process.h"
#include "tests/e2e/wire_session.h"

namespace qz::testing {
namespace {

// "name", and "detail.name" for the fields of nested datasets.
void collectNames(const rapidjson::Value& fields, const std::string& prefix,
                  std::vector<std::string>* out) {
  for (const auto& f : fields.GetArray()) {
    out->push_back(prefix + f["name"].GetString());
    if (f.HasMember("fields")) collectNames(f["fields"], prefix + f["name"].GetString() + ".", out);
  }
}

// The field names of each provider of each module (an error's message in
// place of the names where a provider cannot read without a statement), and
// of "select * from <table>" for every table of the schema.
std::map<std::string, std::vector<std::string>> packetNames(int port) {
  std::map<std::string, std::vector<std::string>> out;
  for (const char* module : {"top_dm1", "top_dm2", "GzModule"}) {
    WireSession s(port);
    s.create(module);
    std::vector<std::string> providers;
    for (const auto& n : s.ok("AS_GetProviderNames")["names"].GetArray())
      providers.emplace_back(n.GetString());
    for (const std::string& p : providers) {
      const auto& answer =
          s.call("AS_GetRecords", "{\"provider\":" + jsonString(p) + ",\"count\":0}");
      std::vector<std::string>& names = out[std::string(module) + "." + p];
      if (answer.HasMember("result"))
        collectNames(answer["result"]["data"]["fields"], "", &names);
      else
        names.push_back(std::string("error: ") + answer["error"]["message"].GetString());
    }
  }
  WireSession s(port);
  s.create("top_dm2");
  for (const auto& t : database::applicationTables()) {
    const auto& packet = s.read("SqlProvider", std::string("select * from ") + t.name);
    collectNames(packet["fields"], "", &out[std::string("table ") + t.name]);
  }
  return out;
}

TEST(FieldNamesTest, ProvidersAndTablesNameTheirFieldsAlikeOnBothEngines) {
  std::map<TestEngine, std::map<std::string, std::vector<std::string>>> seen;
  for (TestEngine engine : {TestEngine::Embedded, TestEngine::PostgreSQL}) {
    ServerProcess server;
    std::string why;
    if (!server.createDatabase(engine, &why, false)) GTEST_SKIP() << why;
    ASSERT_GT(server.start(), 0);
    seen[engine] = packetNames(server.port());
    EXPECT_EQ(server.stop(), 0) << server.output();
  }
  const auto& embedded = seen[TestEngine::Embedded];
  const auto& pg = seen[TestEngine::PostgreSQL];
  EXPECT_EQ(embedded.size(), pg.size());
  for (const auto& [what, names] : embedded) {
    SCOPED_TRACE(what);
    auto other = pg.find(what);
    ASSERT_NE(other, pg.end());
    EXPECT_EQ(names, other->second);
  }
  // Tables read with "*" give their columns as declared, in order.
  for (const auto& t : database::applicationTables()) {
    std::vector<std::string> declared;
    for (const auto& c : t.columns) declared.emplace_back(c.name);
    EXPECT_EQ(pg.at(std::string("table ") + t.name), declared) << t.name;
  }
}

}  // namespace
}  // namespace qz::testing
