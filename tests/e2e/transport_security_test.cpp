// Who may connect, against the real qzserver: TLS with client certificates
// (made by the test), the address allow-list, the connection limit, the
// handshake time limit, the same settings read from sysinfo.ini with the
// command line winning, and the server log lines they leave; the WebSocket
// connections of the web transport under the same rules.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/system/system_error.hpp>
#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>

#include "client/connection.h"
#include "client/qzclient_cli.h"
#include "platform/packet/delta.h"
#include "platform/packet/packet.h"
#include "tests/e2e/server_process.h"
#include "tests/e2e/test_certificates.h"
#include "tests/e2e/web_socket_client.h"
#include "tests/e2e/wire_session.h"

namespace qz::client {
namespace {

using qz::testing::ServerProcess;
using qz::testing::TestCertificates;
using qz::testing::TestEngine;
using qz::testing::WebSocketClient;
using qz::testing::WireSession;

std::string address(const ServerProcess& s) { return "127.0.0.1:" + std::to_string(s.port()); }

// A plain TCP connection to 127.0.0.1:port from source address from.
// Returns the descriptor, -1 when it cannot connect.
int connectFrom(const char* from, int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in src{};
  src.sin_family = AF_INET;
  inet_pton(AF_INET, from, &src.sin_addr);
  sockaddr_in dst{};
  dst.sin_family = AF_INET;
  dst.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &dst.sin_addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&src), sizeof src) != 0 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&dst), sizeof dst) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Everything the server sends on fd until it closes the connection;
// *closed tells whether it did within ms.
std::string readUntilClosed(int fd, int ms, bool* closed) {
  std::string got;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  *closed = false;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return got;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buf[4096];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) {
      *closed = true;
      return got;
    }
    got.append(buf, static_cast<size_t>(n));
  }
}

const char* kCreate = R"({"jsonrpc":"2.0","id":1,"method":"create","params":{"class":"top_dm2"}})"
                      "\n";

// Whether a WebSocket client gets an instance created: false when the
// connection, TLS, the upgrade or the create fails.
bool webCreates(int port, const WebSocketClient::Options& o, std::string* answer = nullptr) {
  try {
    WebSocketClient c(port, o);
    const std::string got = c.call(kCreate);
    if (answer) *answer = got;
    return got.find("\"result\"") != std::string::npos;
  } catch (const boost::system::system_error&) {
    return false;
  }
}

class TlsServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!server.createDatabase(TestEngine::Embedded, &why)) FAIL() << why;
    ASSERT_GT(server.start({"--tls-cert", certs.server.cert, "--tls-key", certs.server.key,
                            "--tls-client-ca", certs.ca.cert, "--listen-web", "127.0.0.1:0"}),
              0);
  }
  ClientTlsOptions as(const qz::testing::CertFiles& who) const {
    ClientTlsOptions o;
    o.enabled = true;
    o.caFile = certs.ca.cert;
    o.certFile = who.cert;
    o.keyFile = who.key;
    return o;
  }
  std::unique_ptr<Connection> admitted() const {
    auto c = Connection::open(address(server), std::chrono::seconds(10), as(certs.desk));
    c->create("top_dm2");
    return c;
  }

  ServerProcess server;
  TestCertificates certs{server.appDir()};
};

TEST_F(TlsServerTest, AdmittedClientReadsAndPostsAndIsLoggedWithItsSubject) {
  auto c = admitted();
  c->login("op", "desk-1", "tls");
  c->execute("SqlProvider", "insert into CLIENT (id, name) values (4242, 'Zhang')");
  RecordsResult r = c->getRecords("SqlProvider", -1, "select id, name from CLIENT where id = 4242");
  ASSERT_EQ(1u, r.data.rows.size());
  EXPECT_EQ("Zhang", r.data.rows[0].values[1].toText());

  // A bill posted through billP gets its number from the server.
  auto fields = c->getRecords("billP", 0).data.fields;
  provider::Delta d;
  d.fields = fields;
  provider::DeltaRow bill = provider::makeDeltaRow(fields, provider::UpdateKind::Insert);
  for (size_t i = 0; i < fields.size(); ++i)
    if (fields[i].type != db::FieldType::Dataset) bill.newValues[i] = Variant::null();
  bill.newValues[static_cast<size_t>(provider::findField(fields, "num"))] = int32_t{0};
  bill.newValues[static_cast<size_t>(provider::findField(fields, "cltid"))] = int32_t{4242};
  bill.newValues[static_cast<size_t>(provider::findField(fields, "cltname"))] = Variant("Zhang");
  bill.newValues[static_cast<size_t>(provider::findField(fields, "ndate"))] = DateTime::now();
  d.rows.push_back(std::move(bill));
  ApplyResult applied = c->applyUpdates("billP", d);
  EXPECT_EQ(0, applied.errorCount);
  EXPECT_GT(applied.ownerData.toInt64(), 0);
  c->release();

  EXPECT_TRUE(server.waitForOutput("released top_dm2", 5000)) << server.output();
  const std::string log = server.output();
  EXPECT_NE(std::string::npos, log.find("over TLS")) << log;
  EXPECT_NE(std::string::npos, log.find("(CN=desk-1,O=Test Hotel): created top_dm2")) << log;
}

TEST_F(TlsServerTest, RefusedClientsLeaveAdmittedOnesServing) {
  auto keeper = admitted();
  struct Case {
    const char* name;
    ClientTlsOptions tls;
  };
  ClientTlsOptions none = as(certs.desk);
  none.certFile.clear();
  none.keyFile.clear();
  ClientTlsOptions wrongName = as(certs.desk);
  wrongName.serverName = "elsewhere.example";
  ClientTlsOptions untrustedServer = as(certs.desk);
  untrustedServer.caFile = certs.other.cert;
  const Case cases[] = {
      {"no client certificate", none},
      {"certificate from another authority", as(certs.stranger)},
      {"expired certificate", as(certs.expired)},
      {"server name not in its certificate", wrongName},
      {"server certificate from an unknown authority", untrustedServer},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    try {
      auto c = Connection::open(address(server), std::chrono::seconds(10), k.tls);
      c->create("top_dm2");
      ADD_FAILURE() << "admitted";
    } catch (const TransportError& e) {
      EXPECT_NE(std::string::npos, std::string(e.what()).find("TLS")) << e.what();
    }
    EXPECT_FALSE(keeper->getProviderNames().empty());
  }
  EXPECT_TRUE(server.waitForOutput("certificate has expired", 5000)) << server.output();
}

TEST_F(TlsServerTest, WebSocketsSpeakTlsWithTheSameCertificatesAndClientCheck) {
  ASSERT_GT(server.webPort(), 0) << server.output();
  auto keeper = admitted();
  struct Case {
    const char* name;
    WebSocketClient::Options options;
    bool admitted;
  };
  const Case cases[] = {
      {"client certificate from the trusted authority", {&certs.ca, &certs.desk, ""}, true},
      {"no client certificate", {&certs.ca, nullptr, ""}, false},
      {"certificate from another authority", {&certs.ca, &certs.stranger, ""}, false},
      {"expired certificate", {&certs.ca, &certs.expired, ""}, false},
      {"server certificate from an unknown authority", {&certs.other, &certs.desk, ""}, false},
      {"plain ws:// on the TLS port", {nullptr, nullptr, ""}, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    std::string answer;
    EXPECT_EQ(k.admitted, webCreates(server.webPort(), k.options, &answer)) << answer;
    EXPECT_FALSE(keeper->getProviderNames().empty());
  }
  EXPECT_TRUE(server.waitForOutput("(CN=desk-1,O=Test Hotel) over WebSocket", 5000))
      << server.output();
}

TEST_F(TlsServerTest, QzClientConnectsWithItsCertificateAndSaysWhyItIsRefused) {
  const std::string at = address(server);
  std::ostringstream out, err;
  EXPECT_EQ(0, runQzClient({"--server", at, "--tls-ca", certs.ca.cert, "--tls-cert",
                            certs.desk.cert, "--tls-key", certs.desk.key, "providers"},
                           out, err))
      << err.str();
  EXPECT_NE(std::string::npos, out.str().find("billP"));
  std::ostringstream out2, err2;
  EXPECT_EQ(3, runQzClient({"--server", at, "--tls-ca", certs.other.cert, "--tls-cert",
                            certs.desk.cert, "--tls-key", certs.desk.key, "providers"},
                           out2, err2));
  EXPECT_NE(std::string::npos, err2.str().find("certificate is not trusted")) << err2.str();
}

TEST_F(TlsServerTest, PlainClientOnTheTlsPortIsClosedWithALogLine) {
  int fd = connectFrom("127.0.0.1", server.port());
  ASSERT_GE(fd, 0);
  ASSERT_GT(::send(fd, kCreate, std::strlen(kCreate), MSG_NOSIGNAL), 0);
  bool closed = false;
  std::string got = readUntilClosed(fd, 10000, &closed);
  ::close(fd);
  EXPECT_TRUE(closed);
  EXPECT_EQ(std::string::npos, got.find("result"));
  EXPECT_TRUE(server.waitForOutput("does not speak TLS", 5000)) << server.output();
  EXPECT_FALSE(admitted()->getProviderNames().empty());
}

TEST(TransportLimitsTest, AllowListAdmitsOnlyItsAddressesAndFailuresAreLogged) {
  ServerProcess server;
  std::string why;
  ASSERT_TRUE(server.createDatabase(TestEngine::Embedded, &why)) << why;
  ASSERT_GT(server.start({"--allow", "10.0.0.0/8, 127.0.0.1", "--listen-web", "127.0.0.1:0"}), 0);

  WireSession inside(server.port());
  inside.create("top_dm2");
  EXPECT_EQ("Provider not exported: noSuchP",
            inside.errorMessage("AS_GetRecords", R"({"provider":"noSuchP","count":-1})"));
  EXPECT_TRUE(webCreates(server.webPort(), {}));

  // Outside the list: closed before anything is read, on either port.
  const std::string upgrade =
      "GET /rpc HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
      "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
  for (auto [port, first] :
       {std::pair{server.port(), std::string(kCreate)}, std::pair{server.webPort(), upgrade}}) {
    int fd = connectFrom("127.0.0.2", port);
    ASSERT_GE(fd, 0) << "no second loopback address here";
    ::send(fd, first.data(), first.size(), MSG_NOSIGNAL);
    bool closed = false;
    EXPECT_EQ("", readUntilClosed(fd, 5000, &closed)) << port;
    EXPECT_TRUE(closed) << port;
    ::close(fd);
  }

  EXPECT_TRUE(server.waitForOutput("refused connection from 127.0.0.2:", 5000)) << server.output();
  EXPECT_NE(std::string::npos, server.output().find("top_dm2.AS_GetRecords failed (code 2, hresult "
                                                    "0x80004005: Provider not exported: noSuchP)"))
      << server.output();
}

TEST(TransportLimitsTest, ConnectionLimitAndHandshakeTimeoutFromSysinfoWithCommandLineWinning) {
  ServerProcess server;
  std::string why;
  ASSERT_TRUE(server.createDatabase(TestEngine::Embedded, &why)) << why;
  server.dir().write("sysinfo.ini", "[Server]\r\nMaxConnections=1\r\nHandshakeTimeout=1\r\n");
  ASSERT_GT(server.start({"--max-connections", "2"}), 0);

  WireSession a(server.port());
  a.create("top_dm2");
  auto b = std::make_unique<WireSession>(server.port());
  b->create("top_dm2");

  // Beyond the limit: one error answer, then the end.
  int fd = connectFrom("127.0.0.1", server.port());
  bool closed = false;
  std::string got = readUntilClosed(fd, 5000, &closed);
  ::close(fd);
  EXPECT_TRUE(closed);
  EXPECT_NE(std::string::npos, got.find(R"("code":-32000)")) << got;
  EXPECT_NE(std::string::npos, got.find("Server busy")) << got;

  // Connections with an instance outlive the handshake time; one without
  // is closed after it.
  b.reset();
  // Its place is free once the server has closed it (after the busy one).
  for (int i = 0; i < 50; ++i) {
    std::string out = server.output();
    size_t closedLines = 0;
    for (size_t at = 0; (at = out.find(" closed\n", at)) != std::string::npos; ++at) ++closedLines;
    if (closedLines >= 2) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  auto t0 = std::chrono::steady_clock::now();
  fd = connectFrom("127.0.0.1", server.port());
  got = readUntilClosed(fd, 8000, &closed);
  ::close(fd);
  EXPECT_TRUE(closed);
  EXPECT_EQ("", got);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(900));
  EXPECT_FALSE(a.ok("AS_GetProviderNames").IsNull());
  EXPECT_TRUE(server.waitForOutput("no instance created within 1 s", 5000)) << server.output();
}

TEST(TransportLimitsTest, WebSocketConnectionsShareTheLimitAndTheHandshakeTime) {
  ServerProcess server;
  std::string why;
  ASSERT_TRUE(server.createDatabase(TestEngine::Embedded, &why)) << why;
  ASSERT_GT(server.start({"--max-connections", "2", "--handshake-timeout", "1", "--listen-web",
                          "127.0.0.1:0"}),
            0);
  ASSERT_GT(server.webPort(), 0) << server.output();

  // A WebSocket that creates nothing is closed after the handshake time.
  {
    WebSocketClient idle(server.webPort(), {});
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_THROW(idle.read(), boost::system::system_error);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(900));
    EXPECT_TRUE(server.waitForOutput("no instance created within 1 s", 5000)) << server.output();
    // Its place is free once the close is logged.
    EXPECT_TRUE(server.waitForOutput(" closed\n", 5000)) << server.output();
  }

  // One socket and one WebSocket client fill the two places ...
  WireSession a(server.port());
  a.create("top_dm2");
  WebSocketClient b(server.webPort(), {});
  ASSERT_NE(std::string::npos, b.call(kCreate).find("\"result\""));

  // ... so a third is refused as busy on either transport.
  std::string busy;
  EXPECT_FALSE(webCreates(server.webPort(), {}, &busy));
  EXPECT_NE(std::string::npos, busy.find("Server busy")) << busy;
  int fd = connectFrom("127.0.0.1", server.port());
  bool closed = false;
  busy = readUntilClosed(fd, 5000, &closed);
  ::close(fd);
  EXPECT_TRUE(closed);
  EXPECT_NE(std::string::npos, busy.find("Server busy")) << busy;
  EXPECT_FALSE(a.ok("AS_GetProviderNames").IsNull());
}

}  // namespace
}  // namespace qz::client
