// Starting and stopping the real qzserver binary.
#include "tests/e2e/server_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <regex>

namespace qz::testing {
namespace {

int spawn(const std::vector<std::string>& args, int* outFd) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    dup2(fds[1], 2);
    close(fds[0]);
    close(fds[1]);
    // The test runner may block signals; the server must see SIGTERM.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    std::vector<char*> argv;
    std::string bin = QZ_SERVER_BIN;
    argv.push_back(bin.data());
    for (auto& a : const_cast<std::vector<std::string>&>(args)) argv.push_back(a.data());
    argv.push_back(nullptr);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("QT_QPA_PLATFORM");
    execv(bin.c_str(), argv.data());
    _exit(127);
  }
  close(fds[1]);
  *outFd = fds[0];
  return pid;
}

std::string uniqueName() {
  static std::atomic<int> n{0};
  return "qz_e2e_" + std::to_string(getpid()) + "_" + std::to_string(n++);
}

}  // namespace

const char* engineName(TestEngine e) {
  return e == TestEngine::Embedded ? "Embedded" : "PostgreSQL";
}

int runServer(const std::vector<std::string>& args, std::string* output) {
  int fd;
  pid_t pid = spawn(args, &fd);
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) output->append(buf, static_cast<size_t>(n));
  close(fd);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

ServerProcess::ServerProcess() = default;

ServerProcess::~ServerProcess() {
  if (pid_ > 0) stop(SIGKILL);
  if (!pgDatabase_.empty()) {
    std::string out;
    const char* host = std::getenv("QZ_TEST_PG_HOST");
    const char* port = std::getenv("QZ_TEST_PG_PORT");
    const char* user = std::getenv("QZ_TEST_PG_USER");
    std::string cmd = std::string("psql -q -h ") + host + " -p " + port + " -U " +
                      (user ? user : "postgres") + " -d postgres -c 'DROP DATABASE IF EXISTS " +
                      pgDatabase_ + " WITH (FORCE)' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) { /* best effort */
    }
  }
}

bool ServerProcess::createDatabase(TestEngine engine, std::string* why, bool demo) {
  std::string lines;
  if (engine == TestEngine::Embedded) {
    lines = "\r\n\r\n\r\nqz\r\n\r\ntest\r\n\r\n";
  } else {
    const char* host = std::getenv("QZ_TEST_PG_HOST");
    const char* port = std::getenv("QZ_TEST_PG_PORT");
    const char* user = std::getenv("QZ_TEST_PG_USER");
    if (!host || !port) {
      *why = "POSTGRESQL TESTS SKIPPED: QZ_TEST_PG_HOST/QZ_TEST_PG_PORT not set";
      return false;
    }
    pgDatabase_ = uniqueName();
    lines = std::string(host) + "," + port + "\r\n" + (user ? user : "postgres") + "\r\n\r\n" +
            pgDatabase_ + "\r\n\r\ntest\r\n\r\n";
  }
  dir_.write("system.ini", lines);
  std::string out;
  std::vector<std::string> args{"--app-dir", dir_.path(), "--create-database"};
  if (demo) args.push_back("--demo");
  int rc = runServer(args, &out);
  EXPECT_EQ(rc, 0) << out;
  return rc == 0;
}

int ServerProcess::start(const std::vector<std::string>& extra, int port) {
  std::vector<std::string> args{"--headless", "--app-dir", dir_.path(), "--listen",
                                "127.0.0.1:" + std::to_string(port)};
  out_.clear();
  args.insert(args.end(), extra.begin(), extra.end());
  pid_ = spawn(args, &outFd_);
  if (pid_ <= 0) return 0;
  const std::regex re("serving on 127\\.0\\.0\\.1:([0-9]+)");
  // A restarted server's line: the output of an earlier run stays in out_.
  const size_t from = out_.size();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    drain(100);
    std::smatch m;
    const std::string fresh = out_.substr(from);
    if (std::regex_search(fresh, m, re)) {
      port_ = std::stoi(m[1]);
      const std::regex web("web page at https?://127\\.0\\.0\\.1:([0-9]+)/");
      webPort_ = std::regex_search(fresh, m, web) ? std::stoi(m[1]) : 0;
      return port_;
    }
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      ADD_FAILURE() << "qzserver ended at start:\n" << out_;
      return 0;
    }
  }
  ADD_FAILURE() << "qzserver printed no start line:\n" << out_;
  return 0;
}

void ServerProcess::drain(int timeoutMs) {
  if (outFd_ < 0) return;
  pollfd p{outFd_, POLLIN, 0};
  while (poll(&p, 1, timeoutMs) > 0) {
    char buf[4096];
    ssize_t n = read(outFd_, buf, sizeof buf);
    if (n <= 0) {
      close(outFd_);
      outFd_ = -1;
      return;
    }
    out_.append(buf, static_cast<size_t>(n));
    timeoutMs = 0;
  }
}

std::string ServerProcess::output() {
  drain(0);
  return out_;
}

bool ServerProcess::waitForOutput(const std::string& text, int ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (out_.find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    drain(50);
  }
  return true;
}

int ServerProcess::stop(int sig) {
  if (pid_ <= 0) return -1;
  kill(pid_, sig);
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    drain(20);
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
  }
  drain(0);
  if (outFd_ >= 0) close(outFd_);
  outFd_ = -1;
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace qz::testing
