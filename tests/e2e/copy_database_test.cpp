// Moving an installation from the embedded engine to PostgreSQL with
// "qzserver copy-database", as docs/operations.md describes it.
#include <gtest/gtest.h>

#include <cstdio>

#include "database/schema.h"
#include "tests/e2e/server_process.h"
#include "tests/e2e/wire_session.h"

namespace qz::testing {
namespace {

// "select count(*)" of every table, and the highest bill number.
std::vector<std::string> contents(int port) {
  WireSession s(port);
  s.create("top_dm2");
  std::vector<std::string> out;
  for (const auto& t : database::applicationTables()) {
    const auto& p = s.read("SqlProvider", std::string("select count(*) as n from ") + t.name);
    out.push_back(std::string(t.name) + " " + std::to_string(p["rows"][0][0].GetInt64()));
  }
  out.push_back(
      "max bill " +
      std::to_string(s.read("SqlProvider", "select max(num) from bills")["rows"][0][0].GetInt()));
  return out;
}

TEST(CopyDatabaseTest, EmbeddedDemoMovesToPostgreSqlAndNumberingContinues) {
  ServerProcess server;
  // The embedded installation with the demo hotel.
  server.dir().write("system.ini", "\r\n\r\n\r\nqz\r\n\r\ntest\r\n\r\n");
  std::string out;
  ASSERT_EQ(runServer({"--app-dir", server.appDir(), "--create-database", "--demo"}, &out), 0)
      << out;
  ASSERT_GT(server.start(), 0);
  const std::vector<std::string> before = contents(server.port());
  ASSERT_EQ(server.stop(), 0);
  ASSERT_EQ(std::rename(server.dir().file("system.ini").c_str(),
                        server.dir().file("system.ini.embedded").c_str()),
            0);
  // The empty PostgreSQL database beside it.
  std::string why;
  if (!server.createDatabase(TestEngine::PostgreSQL, &why, false)) GTEST_SKIP() << why;

  out.clear();
  ASSERT_EQ(runServer({"--app-dir", server.appDir(), "copy-database",
                       server.dir().file("system.ini.embedded")},
                      &out),
            0)
      << out;
  EXPECT_NE(out.find("bills: "), std::string::npos) << out;
  // Twice refuses: the target holds rows now.
  out.clear();
  EXPECT_EQ(runServer({"--app-dir", server.appDir(), "copy-database",
                       server.dir().file("system.ini.embedded")},
                      &out),
            1);
  EXPECT_NE(out.find("holds rows"), std::string::npos) << out;

  ASSERT_GT(server.start(), 0);
  EXPECT_EQ(contents(server.port()), before);
  WireSession s(server.port());
  s.create("top_dm2");
  s.exec("SqlProvider", "insert into bills (roomid) values ('copy')");
  const int maxBill = s.read("SqlProvider", "select max(num) from bills")["rows"][0][0].GetInt();
  EXPECT_EQ("max bill " + std::to_string(maxBill - 1), before.back());
}

}  // namespace
}  // namespace qz::testing
