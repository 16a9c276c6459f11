// Reading 100,000 bills end to end: AS_GetRecords through the server (the
// client receives and decodes the whole packet) against reading the same
// rows through the engine's own C API (sqlite3_step; libpq over its
// socket). The two alternate over several rounds (QZ_BENCH_ROUNDS, default
// 5); prints the medians and their ratio for each engine, then the same
// read over TLS against plain TCP.
//
// Usage: bench_get_records [bills]   (default 100000)
#include <libpq-fe.h>
#include <sqlite3.h>

#include <cstdio>
#include <stdexcept>

#include "bench/bench_rounds.h"
#include "bench/bench_server.h"
#include "client/connection.h"
#include "client/line_socket.h"

namespace qz::bench {
namespace {

int kRows = 100000;
const char* kSql = "select * from bills";

std::unique_ptr<client::Connection> openReader(const BenchServer& s) {
  auto c = client::Connection::open(s.address(), std::chrono::seconds(10), s.tls());
  c->create("top_dm2");
  return c;
}

double serverRead(client::Connection& c, size_t* rowsOut) {
  auto t0 = std::chrono::steady_clock::now();
  auto r = c.getRecords("SqlProvider", -1, kSql);
  const double t = secondsSince(t0);
  *rowsOut = r.data.rows.size();
  return t;
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
  std::vector<double> times;
  for (int i = 0; i < benchRounds(); ++i) {
    auto t0 = std::chrono::steady_clock::now();
    sock.send(req);
    auto line = sock.readLine(std::chrono::seconds(120));
    times.push_back(secondsSince(t0));
    *bytesOut = line ? line->size() : 0;
  }
  return median(times);
}

double sqliteRead(sqlite3* db, size_t* rowsOut) {
  {
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
    *rowsOut = rows + (bytes == 0 ? 0 : 0);
    return secondsSince(t0);
  }
}

double pgRead(PGconn* c, size_t* rowsOut) {
  {
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
    return secondsSince(t0);
  }
}

// The C API side of the run: one open handle, each call one timed read.
struct CapiReader {
  sqlite3* lite = nullptr;
  PGconn* pg = nullptr;
  CapiReader(const BenchServer& s, const PgServer* server) {
    if (server) {
      const std::string conninfo = "host=" + server->host() + " port=" +
                                   std::to_string(server->port()) + " user=postgres dbname=" +
                                   s.pgDatabase();
      pg = PQconnectdb(conninfo.c_str());
      if (PQstatus(pg) != CONNECTION_OK) throw std::runtime_error(PQerrorMessage(pg));
      return;
    }
    const std::string file = s.appDir() + "data/qz.db";
    if (sqlite3_open_v2(file.c_str(), &lite, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
      throw std::runtime_error("cannot open " + file);
    // The server's last connection to the file checkpoints its write-ahead
    // log when it closes, holding the file for a moment: wait for that
    // rather than fail to prepare.
    sqlite3_busy_timeout(lite, 10000);
  }
  ~CapiReader() {
    if (pg) PQfinish(pg);
    if (lite) sqlite3_close(lite);
  }
  double read(size_t* rows) { return pg ? pgRead(pg, rows) : sqliteRead(lite, rows); }
};

void report(const char* engine, size_t rows, const Medians& m) {
  std::printf("%-10s AS_GetRecords of %zu bills, median of %d rounds: qzserver %.3f s, C API "
              "%.3f s, ratio %.2f\n",
              engine, rows, benchRounds(), m.ours, m.capi, m.ratio());
  std::fflush(stdout);
}

}  // namespace
}  // namespace qz::bench

int main(int argc, char** argv) {
  using namespace qz::bench;
  if (argc > 1) kRows = std::max(1, std::atoi(argv[1]));
  return runOnBothEngines("bench_get_records", kRows,
                          [](BenchServer& s, const char* engine, const PgServer* pg) {
                            size_t a = 0, b = 0;
                            CapiReader capi(s, pg);
                            const Medians m = [&] {
                              auto c = openReader(s);
                              return alternate([&] { return serverRead(*c, &a); },
                                               [&] { return capi.read(&b); });
                            }();
                            if (a != b) std::printf("  !! row counts differ: %zu and %zu\n", a, b);
                            report(engine, a, m);
                            printRatio((std::string("get_records.") + engine).c_str(), m.ratio(), 1.5);
                            size_t bytes = 0;
                            const double alone = serverOnly(s, &bytes);
                            std::printf("           of which the server's answer (%zu bytes, not decoded) %.3f s\n",
                                        bytes, alone);
                            s.restartWithTls();
                            size_t c = 0;
                            auto tlsClient = openReader(s);
                            const Medians t = alternate([&] { return serverRead(*tlsClient, &c); },
                                                        [&] { return capi.read(&b); });
                            std::printf("           over TLS: qzserver %.3f s, ratio to C API %.2f, "
                                        "to plain TCP %.2f (target <= 1.15)\n",
                                        t.ours, t.ratio(), t.ours / m.ours);
                            printRatio((std::string("get_records.tls_vs_tcp.") + engine).c_str(),
                                       t.ours / m.ours, 1.15);
                          });
}
