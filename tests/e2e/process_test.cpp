// The real qzserver binary: switches, registration, database creation,
// headless start and clean stop.
#include <gtest/gtest.h>
#include <signal.h>

#include "settings/ini_file.h"
#include "tests/e2e/server_process.h"
#include "tests/e2e/wire_client.h"

namespace qz::testing {
namespace {

TEST(ProcessTest, RegServerInAnySpellingWritesRegistryAndExits) {
  for (const char* sw : {"-RegServer", "/regserver", "-REGSERVER"}) {
    SCOPED_TRACE(sw);
    TempDir dir;
    std::string out;
    EXPECT_EQ(runServer({sw, "--app-dir", dir.path()}, &out), 0) << out;
    auto ini = server::IniFile::load(dir.file("registry.ini"));
    ASSERT_TRUE(ini);
    EXPECT_EQ(
        ini->read("HKEY_CLASSES_ROOT\\CLSID\\{A6F60FA4-DEEC-45B2-8D4A-C3C68CD7685B}", "Sockets"),
        "1");
    EXPECT_EQ(ini->read("HKEY_CLASSES_ROOT\\QzServer.GzModule\\Clsid", "@"),
              "{2E7CA11B-AC20-40FC-BA9B-7017BD5369B0}");
  }
}

TEST(ProcessTest, UnregServerRemovesSocketsAndWeb) {
  TempDir dir;
  std::string out;
  ASSERT_EQ(runServer({"-regserver", "--app-dir", dir.path()}, &out), 0);
  ASSERT_EQ(runServer({"/UnRegServer", "--app-dir", dir.path()}, &out), 0) << out;
  auto ini = server::IniFile::load(dir.file("registry.ini"));
  ASSERT_TRUE(ini);
  EXPECT_FALSE(
      ini->read("HKEY_CLASSES_ROOT\\CLSID\\{6D2E1BC3-A48F-44B1-B3A9-2A012D585391}", "Sockets"));
  EXPECT_TRUE(ini->sectionNames().empty());
}

TEST(ProcessTest, RegServerReportsAFailureWithNonZeroStatus) {
  std::string out;
  EXPECT_NE(runServer({"-regserver", "--app-dir", "/nonexistent-qz-dir/"}, &out), 0);
  EXPECT_NE(out.find("Unable to write to /nonexistent-qz-dir/registry.ini"), std::string::npos)
      << out;
}

TEST(ProcessTest, HelpVersionAndBadOptions) {
  std::string out;
  EXPECT_EQ(runServer({"--help"}, &out), 0);
  EXPECT_NE(out.find("--listen HOST:PORT"), std::string::npos);
  out.clear();
  EXPECT_EQ(runServer({"--version"}, &out), 0);
  EXPECT_EQ(out.rfind("qzserver ", 0), 0u) << out;
  out.clear();
  EXPECT_EQ(runServer({"--no-such-option"}, &out), 2);
  EXPECT_NE(out.find("unknown option"), std::string::npos);
}

TEST(ProcessTest, HeadlessStartsRegistersAndStopsCleanlyOnSigtermAndSigint) {
  for (int sig : {SIGTERM, SIGINT}) {
    ServerProcess server;
    std::string why;
    ASSERT_TRUE(server.createDatabase(TestEngine::Embedded, &why, false)) << why;
    ASSERT_GT(server.start(), 0);
    EXPECT_NE(
        server.output().find("database qz on the embedded engine in " + server.appDir() + "data/"),
        std::string::npos)
        << server.output();
    WireClient client(server.port());
    EXPECT_NE(
        client.call(R"({"jsonrpc":"2.0","id":1,"method":"create","params":{"class":"top_dm1"}})")
            .find("\"progid\":\"QzServer.top_dm1\""),
        std::string::npos);
    EXPECT_EQ(server.stop(sig), 0) << server.output();
    EXPECT_NE(server.output().find("shutting down"), std::string::npos);
    auto ini = server::IniFile::load(server.dir().file("registry.ini"));
    EXPECT_TRUE(ini && ini->read("HKEY_CLASSES_ROOT\\CLSID\\{6D2E1BC3-A48F-44B1-B3A9-2A012D585391}",
                                 "Sockets") == "1");
  }
}

TEST(ProcessTest, CreateDatabaseWritesSystemIniAndRefusesAnExistingDatabase) {
  TempDir dir;
  std::string out;
  ASSERT_EQ(runServer({"--app-dir", dir.path(), "--create-database"}, &out), 0) << out;
  EXPECT_EQ(dir.read("system.ini"), "\r\n\r\n\r\nqz\r\n\r\n\r\n\r\n");
  out.clear();
  EXPECT_NE(runServer({"--app-dir", dir.path(), "--create-database"}, &out), 0);
  EXPECT_NE(out.find("qz"), std::string::npos) << out;
  out.clear();
  EXPECT_EQ(runServer({"--app-dir", dir.path(), "--create-database", "--force", "--demo"}, &out), 0)
      << out;
}

TEST(ProcessTest, UnregisteredClassIsRefusedOnTheSocket) {
  ServerProcess server;
  std::string why;
  ASSERT_TRUE(server.createDatabase(TestEngine::Embedded, &why, false)) << why;
  ASSERT_GT(server.start(), 0);
  // Removing the Sockets value while the server runs refuses new creations.
  auto ini = *server::IniFile::load(server.dir().file("registry.ini"));
  ini.deleteKey("HKEY_CLASSES_ROOT\\CLSID\\{2E7CA11B-AC20-40FC-BA9B-7017BD5369B0}", "Sockets");
  ASSERT_TRUE(ini.save(server.dir().file("registry.ini")));
  WireClient client(server.port());
  std::string answer =
      client.call(R"({"jsonrpc":"2.0","id":1,"method":"create","params":{"class":"GzModule"}})");
  EXPECT_NE(answer.find("Class not registered"), std::string::npos) << answer;
  EXPECT_NE(answer.find("0x80040154"), std::string::npos) << answer;
  answer =
      client.call(R"({"jsonrpc":"2.0","id":2,"method":"create","params":{"class":"top_dm2"}})");
  EXPECT_NE(answer.find("\"result\""), std::string::npos) << answer;
}

}  // namespace
}  // namespace qz::testing
