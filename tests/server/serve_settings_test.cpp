// Transport and log settings from the command line and the [Server] section
// of sysinfo.ini: the file alone, the command line winning key by key, file
// names anchored at AppDir, and values that stop the start.
#include "server/serve_settings.h"

#include <gtest/gtest.h>

#include "tests/server/temp_dir.h"

namespace qz::server {
namespace {

using qz::testing::TempDir;

ServeSettings resolve(const TempDir& dir, const std::string& ini,
                      const std::vector<std::string>& args) {
  dir.write("sysinfo.ini", ini);
  SysInfoIni file(dir.file("sysinfo.ini"));
  return ResolveServeSettings(parseCommandLine(args), file, dir.path());
}

TEST(ServeSettingsTest, FileSetsWhatTheCommandLineLeavesOpen) {
  TempDir dir;
  const std::string ini =
      "[server]\r\ntlscert=certs/server.crt\r\nTlsKey=/etc/qz/server.key\r\n"
      "TlsClientCA=ca.crt\r\nAllow=192.168.1.0/24\r\nMaxConnections=40\r\n"
      "HandshakeTimeout=5\r\nLogLevel=Warning\r\nSlowRequest=250\r\n";
  ServeSettings fromFile = resolve(dir, ini, {});
  EXPECT_EQ(dir.path() + "certs/server.crt", fromFile.transport.tls.certFile);
  EXPECT_EQ("/etc/qz/server.key", fromFile.transport.tls.keyFile);
  EXPECT_EQ(dir.path() + "ca.crt", fromFile.transport.tls.clientCaFile);
  EXPECT_EQ("192.168.1.0/24", fromFile.transport.allow.text());
  EXPECT_EQ(40u, fromFile.transport.maxConnections);
  EXPECT_EQ(std::chrono::seconds(5), fromFile.transport.handshakeTimeout);
  EXPECT_EQ(log::Level::kWarning, fromFile.logLevel);
  EXPECT_EQ(std::chrono::milliseconds(250), fromFile.slowRequest);

  ServeSettings both = resolve(dir, ini,
                               {"--tls-cert", "a.crt", "--allow", "10.0.0.1", "--max-connections",
                                "0", "--handshake-timeout", "0", "--log-level", "debug"});
  EXPECT_EQ("a.crt", both.transport.tls.certFile);  // as given, not under AppDir
  EXPECT_EQ("/etc/qz/server.key", both.transport.tls.keyFile);
  EXPECT_EQ("10.0.0.1/32", both.transport.allow.text());
  EXPECT_EQ(0u, both.transport.maxConnections);
  EXPECT_EQ(std::chrono::seconds(0), both.transport.handshakeTimeout);
  EXPECT_EQ(log::Level::kDebug, both.logLevel);
}

TEST(ServeSettingsTest, WebTransportFromTheFileOrTheCommandLine) {
  TempDir dir;
  const std::string ini =
      "[Server]\r\nListenWeb=127.0.0.1:8080, [::1]:8080\r\n"
      "WebOrigin=http://desk:8080,,http://desk2:8080\r\nWebRoot=page\r\n";
  ServeSettings fromFile = resolve(dir, ini, {});
  EXPECT_EQ((std::vector<std::string>{"127.0.0.1:8080", "[::1]:8080"}), fromFile.listenWeb);
  EXPECT_EQ((std::vector<std::string>{"http://desk:8080", "http://desk2:8080"}),
            fromFile.webOrigins);
  EXPECT_EQ(dir.path() + "page", fromFile.webRoot);
  ServeSettings both =
      resolve(dir, ini, {"--listen-web", "0.0.0.0:9000", "--web-origin", "https://a,https://b"});
  EXPECT_EQ(std::vector<std::string>{"0.0.0.0:9000"}, both.listenWeb);
  EXPECT_EQ((std::vector<std::string>{"https://a", "https://b"}), both.webOrigins);
  EXPECT_TRUE(resolve(dir, "", {}).listenWeb.empty());
}

TEST(ServeSettingsTest, NothingSetMeansPlainTcpForEveryoneAndDefaultLimits) {
  TempDir dir;
  ServeSettings s = resolve(dir, "[Login]\r\nuser0=a\r\n", {});
  EXPECT_FALSE(s.transport.tls.enabled());
  EXPECT_TRUE(s.transport.allow.empty());
  EXPECT_EQ(0u, s.transport.maxConnections);
  EXPECT_EQ(std::chrono::seconds(30), s.transport.handshakeTimeout);
  EXPECT_EQ(log::Level::kInfo, s.logLevel);
}

TEST(ServeSettingsTest, UnusableValuesAreRefused) {
  TempDir dir;
  for (const char* ini :
       {"[Server]\r\nMaxConnections=lots\r\n", "[Server]\r\nAllow=10.0.0.0/40\r\n",
        "[Server]\r\nLogLevel=chatty\r\n", "[Server]\r\nTlsCert=a.crt\r\n",
        "[Server]\r\nTlsClientCA=ca.crt\r\n", "[Server]\r\nHandshakeTimeout=-1\r\n"}) {
    SCOPED_TRACE(ini);
    EXPECT_THROW(resolve(dir, ini, {}), SettingsError);
  }
  EXPECT_THROW(parseCommandLine({"--allow", "everyone"}), UsageError);
  EXPECT_THROW(parseCommandLine({"--log-level", "chatty"}), UsageError);
}

}  // namespace
}  // namespace qz::server
