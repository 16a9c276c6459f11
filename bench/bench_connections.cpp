// Connection benchmark of the real qzserver: many concurrent clients, each
// on its own connection, create top_dm2, log in, read providers, then stay
// idle. Prints the calls per second of each phase, the server's resident
// memory per idle instance (before and after its database connection
// opened), and, for comparison, the same read statement run through the
// engine's own C API in the same run (sqlite3; libpq when a PostgreSQL test
// server is named). A first section measures the transport alone against
// an in-process host with a trivial object.
//
// Usage: bench_connections [connections] [reads-per-connection]
//        (defaults 200 and 20)
// PostgreSQL is measured too when QZ_TEST_PG_HOST and QZ_TEST_PG_PORT name
// a server (QZ_TEST_PG_USER, default postgres).
#include <fcntl.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/connection.h"
#include "platform/remote/event_loop_dispatcher.h"
#include "platform/remote/host.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kReadSql = "select * from CLIENT";

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Runs the server binary with args; waits when wait is true. Returns the
// pid (not waiting) or the exit status (waiting), -1 on failure.
int runServer(const std::vector<std::string>& args, const std::string& logPath, bool wait) {
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int fd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    std::vector<char*> argv;
    std::string bin = QZ_SERVER_BIN;
    argv.push_back(bin.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(bin.c_str(), argv.data());
    _exit(127);
  }
  if (!wait) return pid;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int freePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

long rssKiB(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }

// Runs fn(i) on n threads at once; returns the wall time.
template <class Fn>
Clock::duration parallel(int n, Fn fn) {
  std::vector<std::thread> threads;
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  for (int i = 0; i < n; ++i) {
    threads.emplace_back([&, i] {
      ++ready;
      while (!go) std::this_thread::yield();
      fn(i);
    });
  }
  while (ready < n) std::this_thread::yield();
  auto start = Clock::now();
  go = true;
  for (auto& t : threads) t.join();
  return Clock::now() - start;
}

struct Engine {
  std::string name;
  std::string systemIni;   // lines of system.ini
  std::string pgConninfo;  // for the libpq comparison; empty for the embedded engine
  std::string pgDatabase;
};

// The same statement through the engine's C API: `total` reads spread over
// `threads` threads, each with its own connection, every value fetched as
// text. Returns reads per second, or 0 on failure.
double directReadsPerSecond(const Engine& e, const std::string& appDir, int threads, int total) {
  std::atomic<int> failures{0};
  int per = total / threads;
  auto wall = parallel(threads, [&](int) {
    if (e.pgConninfo.empty()) {
      sqlite3* db = nullptr;
      if (sqlite3_open_v2((appDir + "data/qz.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) !=
          SQLITE_OK) {
        ++failures;
        return;
      }
      sqlite3_busy_timeout(db, 5000);
      for (int k = 0; k < per; ++k) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, kReadSql, -1, &st, nullptr) != SQLITE_OK) {
          ++failures;
          break;
        }
        size_t bytes = 0;
        while (sqlite3_step(st) == SQLITE_ROW) {
          for (int c = 0; c < sqlite3_column_count(st); ++c) {
            const unsigned char* t = sqlite3_column_text(st, c);
            if (t) bytes += static_cast<size_t>(sqlite3_column_bytes(st, c));
          }
        }
        sqlite3_finalize(st);
        if (bytes == 0) ++failures;
      }
      sqlite3_close(db);
    } else {
      PGconn* conn = PQconnectdb((e.pgConninfo + " dbname=" + e.pgDatabase).c_str());
      if (PQstatus(conn) != CONNECTION_OK) {
        ++failures;
        PQfinish(conn);
        return;
      }
      for (int k = 0; k < per; ++k) {
        PGresult* r = PQexec(conn, "select * from client");
        if (PQresultStatus(r) != PGRES_TUPLES_OK) ++failures;
        size_t bytes = 0;
        for (int row = 0; row < PQntuples(r); ++row) {
          for (int c = 0; c < PQnfields(r); ++c) bytes += strlen(PQgetvalue(r, row, c));
        }
        if (bytes == 0) ++failures;
        PQclear(r);
      }
      PQfinish(conn);
    }
  });
  if (failures) {
    std::printf("  direct C API: %d failures\n", failures.load());
    return 0;
  }
  return per * threads / seconds(wall);
}

// Returns the number of errors.
int runEngine(const Engine& e, int n, int reads) {
  std::printf("== %s engine, %d connections, %d reads each ==\n", e.name.c_str(), n, reads);
  char tmpl[] = "/tmp/qz-bench-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  std::string appDir = std::string(tmpl) + "/";
  std::ofstream(appDir + "system.ini") << e.systemIni;
  std::string log = appDir + "server.log";
  int rc = runServer({"--app-dir", appDir, "--create-database", "--demo", "--force"}, log, true);
  if (rc != 0) {
    std::printf("  cannot create the database (status %d); see %s\n", rc, log.c_str());
    return 1;
  }
  int port = freePort();
  std::string address = "127.0.0.1:" + std::to_string(port);
  int pid = runServer({"--headless", "--app-dir", appDir, "--listen", address}, log, false);
  bool up = false;
  for (int i = 0; i < 200 && !up; ++i) {
    try {
      qz::client::Connection::open(address, std::chrono::milliseconds(200));
      up = true;
    } catch (const qz::client::ClientError&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  if (!up) {
    std::printf("  the server did not start; see %s\n", log.c_str());
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return 1;
  }
  settle();
  long rss0 = rssKiB(pid);

  std::vector<std::unique_ptr<qz::client::Connection>> conns(static_cast<size_t>(n));
  std::atomic<int> errors{0};
  std::mutex firstMu;
  std::string firstError;
  auto fail = [&](const std::exception& ex) {
    ++errors;
    std::lock_guard<std::mutex> lock(firstMu);
    if (firstError.empty()) firstError = ex.what();
  };

  auto tCreate = parallel(n, [&](int i) {
    try {
      auto c = qz::client::Connection::open(address);
      c->create("top_dm2");
      char station[16];
      std::snprintf(station, sizeof station, "WS%03d", i);
      c->login("bench", station, "benchmark");
      conns[static_cast<size_t>(i)] = std::move(c);
    } catch (const std::exception& ex) {
      fail(ex);
    }
  });
  settle();
  long rssIdle = rssKiB(pid);

  auto tFirstRead = parallel(n, [&](int i) {
    auto& c = conns[static_cast<size_t>(i)];
    if (!c) return;
    try {
      if (c->getRecords("billP").data.fields.empty()) throw std::runtime_error("billP: no fields");
    } catch (const std::exception& ex) {
      fail(ex);
    }
  });
  settle();
  long rssWithDb = rssKiB(pid);

  std::atomic<long> rowsRead{0};
  auto tReads = parallel(n, [&](int i) {
    auto& c = conns[static_cast<size_t>(i)];
    if (!c) return;
    for (int k = 0; k < reads; ++k) {
      try {
        rowsRead += static_cast<long>(c->getRecords("SqlProvider", -1, kReadSql).data.rows.size());
      } catch (const std::exception& ex) {
        fail(ex);
      }
    }
  });
  settle();
  long rssAfter = rssKiB(pid);

  auto tRelease = parallel(n, [&](int i) {
    auto& c = conns[static_cast<size_t>(i)];
    if (!c) return;
    try {
      c->release();
    } catch (const std::exception& ex) {
      fail(ex);
    }
    c.reset();
  });

  double wireReads = static_cast<double>(n) * reads / seconds(tReads);
  std::printf(
      "  create + login:     %8.0f connections/s (%d connections in %.3f s, 3 calls each)\n",
      n / seconds(tCreate), n, seconds(tCreate));
  std::printf("  first read (billP): %8.0f calls/s (opens each instance's database connection)\n",
              n / seconds(tFirstRead));
  std::printf("  reads (%s): %8.0f calls/s, %ld rows\n", kReadSql, wireReads, rowsRead.load());
  std::printf("  release:            %8.0f calls/s\n", n / seconds(tRelease));
  std::printf(
      "  server RSS: %ld KiB at start, %ld KiB with %d idle instances, %ld KiB after"
      " their first read, %ld KiB after all reads\n",
      rss0, rssIdle, n, rssWithDb, rssAfter);
  double perIdle = static_cast<double>(rssIdle - rss0) / n;
  double perWithDb = static_cast<double>(rssWithDb - rss0) / n;
  std::printf(
      "  RSS per idle instance: %.1f KiB without its database connection (target < 256),"
      " %.1f KiB with it\n",
      perIdle, perWithDb);
  double direct = directReadsPerSecond(e, appDir, std::min(n, 8), n * reads);
  if (direct > 0) {
    std::printf("  same statement through the C API: %8.0f reads/s; wire/direct ratio %.2f\n",
                direct, wireReads / direct);
  }
  if (errors) {
    std::printf("  ERRORS: %d (first: %s)\n", errors.load(), firstError.c_str());
  } else {
    std::printf("  errors: 0\n");
  }
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  std::error_code ec;
  std::filesystem::remove_all(tmpl, ec);
  if (!e.pgConninfo.empty()) {
    PGconn* admin = PQconnectdb((e.pgConninfo + " dbname=postgres").c_str());
    PQclear(PQexec(admin, ("DROP DATABASE IF EXISTS " + e.pgDatabase).c_str()));
    PQfinish(admin);
  }
  return errors;
}

// The transport alone: the same number of connections against an in-process
// host whose object answers "ping" with {}. Shows what framing, JSON-RPC
// and the module-thread hop cost without any database work.
class PingObject : public qz::remote::RemoteObject {
 public:
  void call(std::string_view, const rapidjson::Value&, qz::remote::JsonWriter& w) override {
    w.StartObject();
    w.EndObject();
  }
};

int runTransportOnly(int n, int calls) {
  std::printf(
      "== transport alone (in-process host, no database), %d connections, %d calls each ==\n", n,
      calls);
  qz::remote::EventLoopDispatcher window;
  std::thread windowThread([&] { window.run(); });
  qz::remote::HostOptions o;
  qz::remote::HostedClass c;
  c.name = "ping";
  c.factory = [] { return std::make_unique<PingObject>(); };
  o.classes.push_back(c);
  o.listen.push_back("127.0.0.1:0");
  qz::remote::Host host(std::move(o), window);
  host.start();
  std::string address = "127.0.0.1:" + std::to_string(host.ports().at(0));
  std::vector<std::unique_ptr<qz::client::Connection>> conns(static_cast<size_t>(n));
  std::atomic<int> errors{0};
  auto tCreate = parallel(n, [&](int i) {
    try {
      conns[static_cast<size_t>(i)] = qz::client::Connection::open(address);
      conns[static_cast<size_t>(i)]->create("ping");
    } catch (const std::exception&) {
      ++errors;
    }
  });
  auto tCalls = parallel(n, [&](int i) {
    auto& conn = conns[static_cast<size_t>(i)];
    if (!conn) return;
    for (int k = 0; k < calls; ++k) {
      try {
        conn->call("ping");
      } catch (const std::exception&) {
        ++errors;
      }
    }
  });
  conns.clear();
  host.stop();
  window.quit();
  windowThread.join();
  std::printf("  create: %8.0f calls/s; calls: %8.0f calls/s; errors: %d\n", n / seconds(tCreate),
              static_cast<double>(n) * calls / seconds(tCalls), errors.load());
  return errors;
}

}  // namespace

int main(int argc, char** argv) {
  int n = argc > 1 ? std::atoi(argv[1]) : 200;
  int reads = argc > 2 ? std::atoi(argv[2]) : 20;
  if (n <= 0 || reads <= 0) {
    std::fprintf(stderr, "usage: bench_connections [connections] [reads-per-connection]\n");
    return 2;
  }
  int errors = runTransportOnly(n, 50);
  errors += runEngine({"embedded", "\r\n\r\n\r\nqz\r\n\r\nbench\r\n\r\n", "", ""}, n, reads);
  const char* host = std::getenv("QZ_TEST_PG_HOST");
  const char* port = std::getenv("QZ_TEST_PG_PORT");
  const char* user = std::getenv("QZ_TEST_PG_USER");
  if (host && port) {
    std::string u = user ? user : "postgres";
    std::string db = "qz_bench_" + std::to_string(getpid());
    Engine pg{
        "PostgreSQL",
        std::string(host) + "," + port + "\r\n" + u + "\r\n\r\n" + db + "\r\n\r\nbench\r\n\r\n",
        std::string("host=") + host + " port=" + port + " user=" + u, db};
    errors += runEngine(pg, n, reads);
  } else {
    std::printf("(PostgreSQL not measured: QZ_TEST_PG_HOST/QZ_TEST_PG_PORT not set)\n");
  }
  return errors ? 1 : 0;
}
