// A process started for clients (socket activation with -Embedding) ends
// when its last instance is released; one started by an operator goes on.
#include <fcntl.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>

#include "tests/e2e/server_process.h"
#include "tests/e2e/wire_client.h"

namespace qz::testing {
namespace {

int freePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

// Waits up to ms for pid to end; returns its exit status or -1.
int waitExit(pid_t pid, int ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  int status = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return -1;
}

TEST(ActivationTest, ActivatedProcessEndsWithItsLastInstance) {
  if (access("/usr/bin/systemd-socket-activate", X_OK) != 0)
    GTEST_SKIP() << "systemd-socket-activate is not installed";
  ServerProcess setup;
  std::string why;
  ASSERT_TRUE(setup.createDatabase(TestEngine::Embedded, &why, false)) << why;
  const int port = freePort();
  const std::string listen = "127.0.0.1:" + std::to_string(port);
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execl("/usr/bin/systemd-socket-activate", "systemd-socket-activate", "-l", listen.c_str(),
          QZ_SERVER_BIN, "-Embedding", "--headless", "--app-dir", setup.appDir().c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  // The activator listens first; connecting may need a moment.
  std::unique_ptr<WireClient> a;
  for (int i = 0; i < 100 && !(a && a->connected()); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::testing::TestPartResultArray ignored;
    ::testing::ScopedFakeTestPartResultReporter quiet(&ignored);
    a = std::make_unique<WireClient>(port);
  }
  ASSERT_TRUE(a && a->connected());
  WireClient b(port);
  EXPECT_NE(a->call(R"({"jsonrpc":"2.0","id":1,"method":"create","params":{"class":"top_dm2"}})")
                .find("result"),
            std::string::npos);
  EXPECT_NE(b.call(R"({"jsonrpc":"2.0","id":1,"method":"create","params":{"class":"top_dm1"}})")
                .find("result"),
            std::string::npos);
  EXPECT_NE(a->call(R"({"jsonrpc":"2.0","id":2,"method":"release"})").find("result"),
            std::string::npos);
  EXPECT_EQ(waitExit(pid, 500), -1) << "ended while an instance still existed";
  b.close();  // releasing the last instance by disconnecting
  const int status = waitExit(pid, 15000);
  if (status == -1) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  EXPECT_EQ(status, 0);
}

TEST(ActivationTest, OperatorStartedProcessKeepsRunningWithoutInstances) {
  ServerProcess server;
  std::string why;
  ASSERT_TRUE(server.createDatabase(TestEngine::Embedded, &why, false)) << why;
  ASSERT_GT(server.start(), 0);
  {
    WireClient c(server.port());
    c.call(R"({"jsonrpc":"2.0","id":1,"method":"create","params":{"class":"top_dm2"}})");
    c.call(R"({"jsonrpc":"2.0","id":2,"method":"release"})");
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(kill(server.pid(), 0), 0);
  WireClient again(server.port());
  EXPECT_NE(again.call(R"({"jsonrpc":"2.0","id":1,"method":"create","params":{"class":"top_dm2"}})")
                .find("result"),
            std::string::npos);
}

}  // namespace
}  // namespace qz::testing
