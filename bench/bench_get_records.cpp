// Reading 100,000 bills end to end: AS_GetRecords through the server (the
// client receives and decodes the whole packet) against reading the same
// rows through the engine's own C API (sqlite3_step; libpq over its
// socket). The two alternate over several rounds (QZ_BENCH_ROUNDS, default
// 5); prints the medians and their ratio for each engine, the first read on
// a new instance against the second, the same answer over the web transport
// (WebSocket) against the socket transport, then the read over TLS against
// plain TCP.
//
// Usage: bench_get_records [bills]   (default 100000)
#include <libpq-fe.h>
#include <sqlite3.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
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

const char* kCreate = R"({"jsonrpc":"2.0","id":1,"method":"create","params":{"class":"top_dm2"}})";

std::string recordsRequest() {
  return std::string("{\"jsonrpc\":\"2.0\",\"id\":2,\"method\":\"AS_GetRecords\",") +
         "\"params\":{\"provider\":\"SqlProvider\",\"count\":-1,\"options\":0," +
         "\"commandText\":\"" + kSql + "\"}}";
}

// The server's share alone, on each transport: one client with an
// instance; each read() sends the request and receives the whole answer
// without decoding it, returning the seconds it took.
class SocketAnswers {
 public:
  explicit SocketAnswers(const BenchServer& s) {
    sock_.connect(s.address(), std::chrono::seconds(10));
    sock_.send(std::string(kCreate) + "\n");
    sock_.readLine(std::chrono::seconds(30));
  }
  double read(size_t* bytes) {
    auto t0 = std::chrono::steady_clock::now();
    sock_.send(recordsRequest() + "\n");
    auto line = sock_.readLine(std::chrono::seconds(120));
    const double t = secondsSince(t0);
    *bytes = line ? line->size() : 0;
    return t;
  }

 private:
  client::LineSocket sock_;
};

class WebAnswers {
 public:
  explicit WebAnswers(const BenchServer& s) : ws_(ioc_) {
    namespace net = boost::asio;
    if (s.webPort() == 0) throw std::runtime_error("the server has no web port");
    ws_.next_layer().connect(net::ip::tcp::endpoint(net::ip::make_address("127.0.0.1"),
                                                    static_cast<uint16_t>(s.webPort())));
    ws_.next_layer().set_option(net::ip::tcp::no_delay(true));
    ws_.read_message_max(0);  // the answer is tens of megabytes
    ws_.handshake("127.0.0.1", "/rpc");
    ws_.text(true);
    ws_.write(net::buffer(std::string(kCreate)));
    boost::beast::flat_buffer created;
    ws_.read(created);
  }
  double read(size_t* bytes) {
    auto t0 = std::chrono::steady_clock::now();
    ws_.write(boost::asio::buffer(recordsRequest()));
    boost::beast::flat_buffer answer;
    ws_.read(answer);
    const double t = secondsSince(t0);
    *bytes = answer.size();
    return t;
  }

 private:
  boost::asio::io_context ioc_;
  boost::beast::websocket::stream<boost::asio::ip::tcp::socket> ws_;
};

double serverOnly(const BenchServer& s, size_t* bytesOut) {
  SocketAnswers sock(s);
  std::vector<double> times;
  for (int i = 0; i < benchRounds(); ++i) times.push_back(sock.read(bytesOut));
  return median(times);
}

// The web transport against the socket transport, alternating; in the
// result "ours" is the WebSocket and "capi" the socket.
Medians webAgainstSocket(const BenchServer& s, size_t* webBytes, size_t* socketBytes) {
  WebAnswers web(s);
  SocketAnswers sock(s);
  return alternate([&] { return web.read(webBytes); }, [&] { return sock.read(socketBytes); });
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
          case SQLITE_INTEGER:
            bytes += static_cast<size_t>(sqlite3_column_int64(st, k)) & 1;
            break;
          case SQLITE_FLOAT:
            bytes += sqlite3_column_double(st, k) > 0;
            break;
          case SQLITE_TEXT:
            bytes += static_cast<size_t>(sqlite3_column_bytes(st, k));
            break;
          default:
            break;
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
      const std::string conninfo = "host=" + server->host() +
                                   " port=" + std::to_string(server->port()) +
                                   " user=postgres dbname=" + s.pgDatabase();
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

// The first read of the table on a new instance ("ours") against the
// second read on the same instance: the first also learns the table's
// field flags. A new instance for each round.
Medians firstAgainstSecond(const BenchServer& s) {
  std::vector<double> first, second;
  for (int r = 0; r < benchRounds(); ++r) {
    auto c = openReader(s);
    size_t n = 0;
    first.push_back(serverRead(*c, &n));
    second.push_back(serverRead(*c, &n));
  }
  return {median(first), median(second)};
}

void report(const char* engine, size_t rows, const Medians& m) {
  std::printf(
      "%-10s AS_GetRecords of %zu bills, median of %d rounds: qzserver %.3f s, C API "
      "%.3f s, ratio %.2f\n",
      engine, rows, benchRounds(), m.ours, m.capi, m.ratio());
  std::fflush(stdout);
}

}  // namespace
}  // namespace qz::bench

int main(int argc, char** argv) {
  using namespace qz::bench;
  if (argc > 1) kRows = std::max(1, std::atoi(argv[1]));
  return runOnBothEngines(
      "bench_get_records", kRows, [](BenchServer& s, const char* engine, const PgServer* pg) {
        size_t a = 0, b = 0;
        CapiReader capi(s, pg);
        const Medians m = [&] {
          auto c = openReader(s);
          return alternate([&] { return serverRead(*c, &a); }, [&] { return capi.read(&b); });
        }();
        if (a != b) std::printf("  !! row counts differ: %zu and %zu\n", a, b);
        report(engine, a, m);
        printRatio((std::string("get_records.") + engine).c_str(), m.ratio(), 1.5);
        const Medians f = firstAgainstSecond(s);
        std::printf(
            "           first read on a new instance %.3f s, second read %.3f s, "
            "ratio %.2f (target <= 1.3)\n",
            f.ours, f.capi, f.ratio());
        printRatio((std::string("get_records.first_read.") + engine).c_str(), f.ratio(), 1.3);
        size_t bytes = 0;
        const double alone = serverOnly(s, &bytes);
        std::printf("           of which the server's answer (%zu bytes, not decoded) %.3f s\n",
                    bytes, alone);
        size_t webBytes = 0, socketBytes = 0;
        const Medians w = webAgainstSocket(s, &webBytes, &socketBytes);
        if (webBytes != socketBytes)
          std::printf("  !! answer sizes differ: %zu and %zu\n", webBytes, socketBytes);
        std::printf(
            "           over WebSocket: answer %.3f s, socket %.3f s, "
            "ratio %.2f (target <= 1.2)\n",
            w.ours, w.capi, w.ratio());
        printRatio((std::string("get_records.web_vs_socket.") + engine).c_str(), w.ratio(), 1.2);
        s.restartWithTls();
        size_t c = 0;
        auto tlsClient = openReader(s);
        const Medians t =
            alternate([&] { return serverRead(*tlsClient, &c); }, [&] { return capi.read(&b); });
        std::printf(
            "           over TLS: qzserver %.3f s, ratio to C API %.2f, "
            "to plain TCP %.2f (target <= 1.15)\n",
            t.ours, t.ratio(), t.ours / m.ours);
        printRatio((std::string("get_records.tls_vs_tcp.") + engine).c_str(), t.ours / m.ours,
                   1.15);
      });
}
