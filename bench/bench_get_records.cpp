// Reading 100,000 bills end to end: AS_GetRecords through the server (the
// client receives and decodes the whole packet) against reading the same
// rows through the engine's own C API (sqlite3_step; libpq over its
// socket). Prints both times and the ratio for each engine, then the
// same read over TLS against plain TCP.
#include <libpq-fe.h>
#include <sqlite3.h>

#include <cstdio>
#include <stdexcept>

#include "bench/bench_server.h"
#include "client/connection.h"
#include "client/line_socket.h"

namespace qz::bench {
namespace {

constexpr int kRows = 100000;
constexpr int kRounds = 3;
const char* kSql = "select * from bills";

double serverRead(const BenchServer& s, size_t* rowsOut) {
  auto c = client::Connection::open(s.address(), std::chrono::seconds(10), s.tls());
  c->create("top_dm2");
  double best = 1e9;
  for (int i = 0; i < kRounds; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    auto r = c->getRecords("SqlProvider", -1, kSql);
    best = std::min(best, secondsSince(t0));
    *rowsOut = r.data.rows.size();
  }
  return best;
}

// The server's share alone: the same request over a bare socket, the answer
// received as one line but not decoded.
double serverOnly(const BenchServer& s, size_t* bytesOut) {
  client::LineSocket sock;
  sock.connect(s.address(), std::chrono::seconds(10));
  sock.send("{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"create\",\"params\":{\"class\":\"top_dm2\"}}\n");
  sock.readLine(std::chrono::seconds(30));
  const std::string req = std::string("{\"jsonrpc\":\"2.0\",\"id\":2,\"method\":\"AS_GetRecords\",") +
                          "\"params\":{\"provider\":\"SqlProvider\",\"count\":-1,\"options\":0," +
                          "\"commandText\":\"" + kSql + "\"}}\n";
  double best = 1e9;
  for (int i = 0; i < kRounds; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    sock.send(req);
    auto line = sock.readLine(std::chrono::seconds(120));
    best = std::min(best, secondsSince(t0));
    *bytesOut = line ? line->size() : 0;
  }
  return best;
}

double sqliteRead(const std::string& file, size_t* rowsOut) {
  sqlite3* db;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
    throw std::runtime_error("cannot open " + file);
  // The server's last connection to the file checkpoints its write-ahead
  // log when it closes, holding the file for a moment: wait for that rather
  // than fail to prepare.
  sqlite3_busy_timeout(db, 10000);
  double best = 1e9;
  for (int i = 0; i < kRounds; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    sqlite3_stmt* st;
    if (sqlite3_prepare_v2(db, kSql, -1, &st, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string("cannot read bills: ") + sqlite3_errmsg(db));
    const int n = sqlite3_column_count(st);
    size_t rows = 0, bytes = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
      for (int k = 0; k < n; ++k) {
        switch (sqlite3_column_type(st, k)) {
          case SQLITE_INTEGER: bytes += static_cast<size_t>(sqlite3_column_int64(st, k)) & 1; break;
          case SQLITE_FLOAT: bytes += sqlite3_column_double(st, k) > 0; break;
          case SQLITE_TEXT: bytes += static_cast<size_t>(sqlite3_column_bytes(st, k)); break;
          default: break;
        }
      }
      ++rows;
    }
    sqlite3_finalize(st);
    best = std::min(best, secondsSince(t0));
    *rowsOut = rows + (bytes == 0 ? 0 : 0);
  }
  sqlite3_close(db);
  return best;
}

double pgRead(const std::string& host, int port, const std::string& dbname, size_t* rowsOut) {
  const std::string conninfo =
      "host=" + host + " port=" + std::to_string(port) + " user=postgres dbname=" + dbname;
  PGconn* c = PQconnectdb(conninfo.c_str());
  if (PQstatus(c) != CONNECTION_OK) throw std::runtime_error(PQerrorMessage(c));
  double best = 1e9;
  for (int i = 0; i < kRounds; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    PGresult* r = PQexec(c, kSql);
    if (PQresultStatus(r) != PGRES_TUPLES_OK) throw std::runtime_error(PQerrorMessage(c));
    size_t bytes = 0;
    const int n = PQntuples(r), f = PQnfields(r);
    for (int row = 0; row < n; ++row)
      for (int k = 0; k < f; ++k)
        if (!PQgetisnull(r, row, k)) bytes += static_cast<size_t>(PQgetlength(r, row, k));
    *rowsOut = static_cast<size_t>(n) + (bytes == 0 ? 0 : 0);
    PQclear(r);
    best = std::min(best, secondsSince(t0));
  }
  PQfinish(c);
  return best;
}

void report(const char* engine, size_t rows, double server, double capi) {
  std::printf("%-10s AS_GetRecords of %zu bills: qzserver %.3f s, C API %.3f s, ratio %.2f\n",
              engine, rows, server, capi, server / capi);
  std::fflush(stdout);
}

}  // namespace
}  // namespace qz::bench

int main() {
  using namespace qz::bench;
  return runOnBothEngines("bench_get_records", kRows,
                          [](BenchServer& s, const char* engine, const PgServer* pg) {
                            size_t a = 0, b = 0;
                            const double server = serverRead(s, &a);
                            const double capi =
                                pg ? pgRead(pg->host(), pg->port(), s.pgDatabase(), &b)
                                   : sqliteRead(s.appDir() + "data/qz.db", &b);
                            if (a != b) std::printf("  !! row counts differ: %zu and %zu\n", a, b);
                            report(engine, a, server, capi);
                            size_t bytes = 0;
                            const double alone = serverOnly(s, &bytes);
                            std::printf("           of which the server's answer (%zu bytes, not decoded) %.3f s\n",
                                        bytes, alone);
                            s.restartWithTls();
                            size_t c = 0;
                            const double tls = serverRead(s, &c);
                            std::printf("           over TLS: qzserver %.3f s, ratio to C API %.2f, "
                                        "to plain TCP %.2f (target <= 1.15)\n",
                                        tls, tls / capi, tls / server);
                          });
}
