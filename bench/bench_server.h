// Starting the real qzserver for a benchmark: a temporary AppDir with a
// database on the embedded engine or on a PostgreSQL server, headless on a
// free port. Also the PostgreSQL server itself when the environment names
// none (a throwaway cluster through scripts/pg-test-server).
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "client/tls_channel.h"

namespace qz::bench {

inline std::string shellOutput(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[512];
  while (fgets(buf, sizeof buf, p)) out += buf;
  pclose(p);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

// A PostgreSQL server for the run: QZ_TEST_PG_HOST/PORT when set, else a
// throwaway cluster. port() is 0 when none can start.
class PgServer {
 public:
  PgServer() {
    if (const char* p = std::getenv("QZ_TEST_PG_PORT")) {
      host_ = std::getenv("QZ_TEST_PG_HOST") ? std::getenv("QZ_TEST_PG_HOST") : "127.0.0.1";
      port_ = std::atoi(p);
      return;
    }
    dir_ = std::filesystem::temp_directory_path() / ("qz-bench-pg-" + std::to_string(getpid()));
    const std::string out =
        shellOutput("bash " QZ_SOURCE_DIR "/scripts/pg-test-server start " + dir_.string());
    port_ = std::atoi(out.c_str());
  }
  ~PgServer() {
    if (!dir_.empty())
      shellOutput("bash " QZ_SOURCE_DIR "/scripts/pg-test-server stop " + dir_.string());
  }
  int port() const { return port_; }
  const std::string& host() const { return host_; }

 private:
  std::string host_ = "127.0.0.1";
  int port_ = 0;
  std::filesystem::path dir_;
};

class BenchServer {
 public:
  // pgPort 0: the embedded engine. demoRows > 0 adds that many demo bills.
  BenchServer(int pgPort, const std::string& pgHost, int demoRows = 0) {
    char tmpl[] = "/tmp/qz-bench-XXXXXX";
    dir_ = mkdtemp(tmpl);
    dir_ += "/";
    std::ofstream ini(dir_ + "system.ini", std::ios::binary);
    if (pgPort == 0) {
      ini << "\r\n\r\n\r\nqz\r\n\r\nbench\r\n\r\n";
    } else {
      pgDb_ = "qz_bench_" + std::to_string(getpid());
      ini << pgHost << "," << pgPort << "\r\npostgres\r\n\r\n" << pgDb_ << "\r\n\r\nbench\r\n\r\n";
    }
    ini.close();
    std::string cmd =
        std::string(QZ_SERVER_BIN) + " --app-dir " + dir_ + " --create-database --force" +
        (demoRows > 0 ? " --demo-rows " + std::to_string(demoRows) : "") + " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) throw std::runtime_error("database creation failed");
    launch({});
  }
  ~BenchServer() {
    halt();
    std::filesystem::remove_all(dir_);
  }

  // Stops the server and starts it again on the same database serving TLS
  // with a certificate for 127.0.0.1 made now; tls() is then what a client
  // needs to connect. Throws std::runtime_error when it cannot.
  void restartWithTls() {
    const std::string cert = dir_ + "bench.crt", key = dir_ + "bench.key";
    const std::string cmd =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " + key +
        " -out " + cert + " -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1" +
        " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0)
      throw std::runtime_error("openssl could not make a certificate");
    halt();
    launch({"--tls-cert", cert, "--tls-key", key});
    tls_.enabled = true;
    tls_.caFile = cert;
  }
  const client::ClientTlsOptions& tls() const { return tls_; }

  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  // The port of the web transport (WebSocket at /rpc), which every bench
  // server also listens on.
  int webPort() const { return webPort_; }
  int pid() const { return pid_; }
  const std::string& appDir() const { return dir_; }
  const std::string& pgDatabase() const { return pgDb_; }

 private:
  void launch(const std::vector<std::string>& extra) {
    port_ = 0;
    std::vector<std::string> args = {QZ_SERVER_BIN, "--headless",  "--app-dir",    dir_,
                                     "--listen",    "127.0.0.1:0", "--listen-web", "127.0.0.1:0",
                                     "--log-level", "error"};
    args.insert(args.end(), extra.begin(), extra.end());
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], 1);
      close(fds[0]);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(QZ_SERVER_BIN, argv.data());
      _exit(127);
    }
    close(fds[1]);
    FILE* out = fdopen(fds[0], "r");
    char line[1024];
    const std::regex re("serving on 127\\.0\\.0\\.1:([0-9]+)");
    const std::regex web("web page at https?://127\\.0\\.0\\.1:([0-9]+)/");
    while (fgets(line, sizeof line, out)) {
      std::cmatch m;
      if (std::regex_search(line, m, re)) {
        port_ = std::stoi(m[1]);
        if (std::regex_search(line, m, web)) webPort_ = std::stoi(m[1]);
        break;
      }
    }
    // Keep reading the activity lines so the server never blocks on a full pipe.
    reader_ = std::thread([out] {
      char buf[4096];
      while (fgets(buf, sizeof buf, out)) {
      }
      fclose(out);
    });
    if (port_ == 0) throw std::runtime_error("qzserver did not start");
  }

  void halt() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    reader_.join();
  }

  std::string dir_;
  std::string pgDb_;
  client::ClientTlsOptions tls_;
  int pid_ = -1;
  int port_ = 0;
  int webPort_ = 0;
  std::thread reader_;
};

// Runs body on a server over the embedded engine, then on one over
// PostgreSQL (skipped with a message when no PostgreSQL server can start).
// QZ_BENCH_ENGINE=embedded or postgresql runs only that one. Returns the
// exit status for main.
inline int runOnBothEngines(
    const char* benchName, int demoRows,
    const std::function<void(BenchServer&, const char* engine, const PgServer* pg)>& body) {
  const char* only = std::getenv("QZ_BENCH_ENGINE");
  const std::string engine = only ? only : "";
  try {
    if (engine != "postgresql") {
      BenchServer s(0, "", demoRows);
      body(s, "embedded", nullptr);
    }
    if (engine == "embedded") return 0;
    PgServer pg;
    if (pg.port() == 0) {
      std::printf("postgresql: SKIPPED, no server could start\n");
      return 0;
    }
    BenchServer s(pg.port(), pg.host(), demoRows);
    body(s, "postgresql", &pg);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", benchName, e.what());
    return 1;
  }
  return 0;
}

inline double secondsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace qz::bench
