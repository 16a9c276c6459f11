// Read benchmark of the data-access layer: 100,000 rows of bills read
// through platform/db into typed values, against the same rows read through
// the engine's own C API (sqlite3_step; libpq PQexec + PQgetvalue) into the
// same C types, in one run, on both engines, alternating over several
// rounds (QZ_BENCH_ROUNDS, default 5). Prints both medians and the
// ratio (target: at most 1.3).
//
// Usage: bench_db_read [rows]   (default 100000)
// PostgreSQL is measured when QZ_TEST_PG_HOST and QZ_TEST_PG_PORT name a
// server (QZ_TEST_PG_USER, default postgres); the benchmark creates and
// drops its own database there.
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "bench/bench_rounds.h"
#include "database/create_database.h"
#include "platform/db/connection.h"
#include "platform/db/engine.h"
#include "platform/db/sql_quote.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kQuery = "select * from bills";

// What a reader accumulates, so that no conversion can be skipped.
struct Sink {
  int64_t rows = 0;
  int64_t ints = 0;
  double reals = 0;
  int64_t textBytes = 0;
  int64_t msecs = 0;
  int64_t nulls = 0;
};

void addVariant(Sink& s, const qz::Variant& v) {
  switch (v.type()) {
    case qz::VarType::Null:
      ++s.nulls;
      break;
    case qz::VarType::Boolean:
    case qz::VarType::Int16:
    case qz::VarType::Int32:
    case qz::VarType::Int64:
      s.ints += v.asInt();
      break;
    case qz::VarType::Double:
      s.reals += v.asDouble();
      break;
    case qz::VarType::Currency:
      s.reals += v.asCurrency().toDouble();
      break;
    case qz::VarType::DateTime:
      s.msecs += v.asDateTime().msecs;
      break;
    default:
      s.textBytes += static_cast<int64_t>(v.asString().size());
      break;
  }
}

Sink readThroughPlatform(qz::db::Connection& conn) {
  Sink s;
  auto cursor = conn.query(kQuery);
  while (cursor->next()) {
    ++s.rows;
    for (const auto& v : cursor->row()) addVariant(s, v);
  }
  return s;
}

// "YYYY-MM-DD HH:MM:SS[.fff...]" read at fixed positions, as a hand-written
// reader would; both engines print date-times in this form.
int64_t parseMsecs(const char* t, size_t len) {
  if (len < 19) return 0;
  auto d = [t](int pos, int n) {
    int v = 0;
    for (int i = 0; i < n; ++i) v = v * 10 + (t[pos + i] - '0');
    return v;
  };
  int ms = 0;
  if (len > 20 && t[19] == '.') {
    int digits = 0;
    for (size_t i = 20; i < len && digits < 3; ++i, ++digits) ms = ms * 10 + (t[i] - '0');
    for (; digits < 3; ++digits) ms *= 10;
  }
  return qz::DateTime::fromParts(d(0, 4), d(5, 2), d(8, 2), d(11, 2), d(14, 2), d(17, 2), ms).msecs;
}

// sqlite3_step over the same file, each column read by its declared type.
Sink readThroughSqlite(sqlite3* db) {
  Sink s;
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, kQuery, -1, &st, nullptr);
  const int n = sqlite3_column_count(st);
  std::vector<char> kind(n);
  for (int c = 0; c < n; ++c) {
    std::string decl = sqlite3_column_decltype(st, c) ? sqlite3_column_decltype(st, c) : "";
    std::transform(decl.begin(), decl.end(), decl.begin(), ::tolower);
    kind[c] = decl.find("int") != std::string::npos || decl == "bit" ? 'i'
              : decl == "float" || decl == "money"                   ? 'r'
              : decl == "datetime"                                   ? 'd'
                                                                     : 't';
  }
  while (sqlite3_step(st) == SQLITE_ROW) {
    ++s.rows;
    for (int c = 0; c < n; ++c) {
      if (sqlite3_column_type(st, c) == SQLITE_NULL) {
        ++s.nulls;
        continue;
      }
      switch (kind[c]) {
        case 'i':
          s.ints += sqlite3_column_int64(st, c);
          break;
        case 'r':
          s.reals += sqlite3_column_double(st, c);
          break;
        case 'd': {
          const char* t = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
          s.msecs += parseMsecs(t, sqlite3_column_bytes(st, c));
          break;
        }
        default: {
          const char* t = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
          std::string value(t, sqlite3_column_bytes(st, c));
          s.textBytes += static_cast<int64_t>(value.size());
        }
      }
    }
  }
  sqlite3_finalize(st);
  return s;
}

// PQexec over the same table, each text value converted by its type OID.
Sink readThroughLibpq(PGconn* conn) {
  Sink s;
  PGresult* r = PQexec(conn, kQuery);
  const int rows = PQntuples(r), n = PQnfields(r);
  std::vector<Oid> type(n);
  for (int c = 0; c < n; ++c) type[c] = PQftype(r, c);
  for (int i = 0; i < rows; ++i) {
    ++s.rows;
    for (int c = 0; c < n; ++c) {
      if (PQgetisnull(r, i, c)) {
        ++s.nulls;
        continue;
      }
      const char* v = PQgetvalue(r, i, c);
      const int len = PQgetlength(r, i, c);
      switch (type[c]) {
        case 16:
          s.ints += v[0] == 't';
          break;  // bool
        case 20:
        case 21:
        case 23: {  // int8/2/4
          int64_t x = 0;
          std::from_chars(v, v + len, x);
          s.ints += x;
          break;
        }
        case 700:
        case 701:
        case 1700: {  // float, numeric
          double x = 0;
          std::from_chars(v, v + len, x);
          s.reals += x;
          break;
        }
        case 1114:
          s.msecs += parseMsecs(v, len);
          break;  // timestamp
        default: {
          std::string value(v, len);
          s.textBytes += static_cast<int64_t>(value.size());
        }
      }
    }
  }
  PQclear(r);
  return s;
}

// Median times of the two readers over QZ_BENCH_ROUNDS rounds (default 5),
// alternating them so that both see the same machine load.
void bestOfRounds(const std::function<Sink()>& ours, const std::function<Sink()>& raw,
                  double* oursMs, double* rawMs, Sink* oursSink, Sink* rawSink) {
  auto timed = [](const std::function<Sink()>& read, Sink* out) {
    auto t0 = Clock::now();
    *out = read();
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  };
  std::vector<double> a, b;
  for (int i = 0; i < qz::bench::benchRounds(); ++i) {
    b.push_back(timed(raw, rawSink));
    a.push_back(timed(ours, oursSink));
  }
  *oursMs = qz::bench::median(a);
  *rawMs = qz::bench::median(b);
}

void report(const char* engine, int64_t rows, double ours, double raw) {
  std::printf("%-10s %8lld rows  platform/db %8.1f ms  C API %8.1f ms  ratio %.2f%s\n", engine,
              static_cast<long long>(rows), ours, raw, ours / raw,
              ours / raw <= 1.3 ? "" : "  (above the 1.3 target)");
  qz::bench::printRatio((std::string("db_read.") + engine).c_str(), ours / raw, 1.3);
}

bool runEmbedded(int rows) {
  const std::string dir =
      (std::filesystem::temp_directory_path() / ("qz-bench-" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(dir);
  qz::db::setEmbeddedDataDir(dir);
  const std::string text = "Provider=SQLOLEDB.1;Initial Catalog=qzbench;Data Source=";
  qz::database::CreateOptions opt;
  opt.demoRows = rows;
  opt.force = true;
  auto t0 = Clock::now();
  qz::database::createDatabase(text, opt);
  std::printf("embedded   database with %d bills created in %.1f s\n", rows,
              std::chrono::duration<double>(Clock::now() - t0).count());

  qz::db::Connection conn;
  conn.setConnectionString(text);
  conn.open();
  sqlite3* raw = nullptr;
  sqlite3_open_v2((dir + "/qzbench.db").c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  Sink a, b;
  double ourMs, rawMs;
  bestOfRounds([&] { return readThroughPlatform(conn); }, [&] { return readThroughSqlite(raw); },
               &ourMs, &rawMs, &a, &b);
  sqlite3_close(raw);
  conn.close();
  std::filesystem::remove_all(dir);
  if (a.rows != b.rows || a.nulls != b.nulls || a.msecs != b.msecs) {
    std::printf("embedded: the two readers disagree (rows %lld/%lld, nulls %lld/%lld)\n",
                static_cast<long long>(a.rows), static_cast<long long>(b.rows),
                static_cast<long long>(a.nulls), static_cast<long long>(b.nulls));
    return false;
  }
  report("embedded", a.rows, ourMs, rawMs);
  return true;
}

bool runPostgres(int rows) {
  const char* host = std::getenv("QZ_TEST_PG_HOST");
  const char* port = std::getenv("QZ_TEST_PG_PORT");
  const char* user = std::getenv("QZ_TEST_PG_USER");
  if (!host || !port) {
    std::printf("postgres   skipped: QZ_TEST_PG_HOST / QZ_TEST_PG_PORT not set\n");
    return true;
  }
  const std::string userName = user && *user ? user : "postgres";
  const std::string name = "qzbench_" + std::to_string(getpid());
  const std::string text = "Provider=SQLOLEDB.1;User ID=" + userName +
                           ";Password=;Initial Catalog=" + name + ";Data Source=" + host + "," +
                           port;
  qz::database::CreateOptions opt;
  opt.demoRows = rows;
  opt.force = true;
  auto t0 = Clock::now();
  qz::database::createDatabase(text, opt);
  std::printf("postgres   database with %d bills created in %.1f s\n", rows,
              std::chrono::duration<double>(Clock::now() - t0).count());

  Sink a, b;
  double ourMs, rawMs;
  {
    qz::db::Connection conn;
    conn.setConnectionString(text);
    conn.open();
    const std::string info =
        "host=" + std::string(host) + " port=" + port + " user=" + userName + " dbname=" + name;
    PGconn* raw = PQconnectdb(info.c_str());
    bestOfRounds([&] { return readThroughPlatform(conn); }, [&] { return readThroughLibpq(raw); },
                 &ourMs, &rawMs, &a, &b);
    PQfinish(raw);
  }
  qz::db::Connection master;
  master.setConnectionString("User ID=" + userName + ";Initial Catalog=master;Data Source=" + host +
                             "," + port);
  master.open();
  master.session().execute("DROP DATABASE " + qz::db::QuoteSqlName(name), {});
  if (a.rows != b.rows || a.nulls != b.nulls || a.msecs != b.msecs || a.ints != b.ints) {
    std::printf("postgres: the two readers disagree (rows %lld/%lld, ints %lld/%lld)\n",
                static_cast<long long>(a.rows), static_cast<long long>(b.rows),
                static_cast<long long>(a.ints), static_cast<long long>(b.ints));
    return false;
  }
  report("postgres", a.rows, ourMs, rawMs);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  if (rows <= 0) {
    std::fprintf(stderr, "usage: bench_db_read [rows]\n");
    return 2;
  }
  try {
    bool ok = runEmbedded(rows);
    ok = runPostgres(rows) && ok;
    return ok ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_db_read: %s\n", e.what());
    return 1;
  }
}
