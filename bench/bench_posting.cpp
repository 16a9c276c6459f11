// Posting bills: 2,000 bills with three items each through AS_ApplyUpdates
// (one request per bill, the client on the socket), against the same work
// done straight through the engine's C API (one transaction per bill: the
// insert the procedure makes, three item inserts, the client date update).
// Prints both times and the ratio for each engine, then the bills per
// second with 8 clients posting at once, then the same 2,000 bills posted
// with a request key each (recorded in the posting transaction) beside a
// run without, in the same process, and their ratio, then the same
// single-client run over TLS against plain TCP.
#include <libpq-fe.h>
#include <sqlite3.h>

#include <atomic>
#include <cstdio>
#include <stdexcept>
#include <thread>
#include <vector>

#include "bench/bench_rounds.h"
#include "bench/bench_server.h"
#include "client/connection.h"
#include "services/posting_values.h"

namespace qz::bench {
namespace {

int kBills = 2000;
constexpr int kConcurrentClients = 8;

provider::Delta billDelta(const std::vector<db::FieldDef>& fields, int serial) {
  provider::Delta d;
  d.fields = fields;
  provider::DeltaRow bill = provider::makeDeltaRow(fields, provider::UpdateKind::Insert);
  auto set = [](const std::vector<db::FieldDef>& f, provider::DeltaRow& r, const char* name,
                Variant v) { r.newValues[static_cast<size_t>(provider::findField(f, name))] = v; };
  for (size_t i = 0; i < fields.size(); ++i)
    if (fields[i].type != db::FieldType::Dataset) bill.newValues[i] = Variant::null();
  set(fields, bill, "num", int32_t{0});
  set(fields, bill, "roomid", Variant("R" + std::to_string(serial % 500)));
  set(fields, bill, "cltname", "张三");
  set(fields, bill, "cltid", int32_t{17});
  set(fields, bill, "rebate", 0.1);
  set(fields, bill, "settle", false);
  set(fields, bill, "ndate", DateTime::now());
  const int itemsAt = provider::findField(fields, "billitems");
  const auto& itemFields = fields[static_cast<size_t>(itemsAt)].children;
  auto idx = provider::datasetFieldIndexes(fields);
  size_t k = 0;
  while (static_cast<int>(idx[k]) != itemsAt) ++k;
  for (int i = 1; i <= 3; ++i) {
    provider::DeltaRow item = provider::makeDeltaRow(itemFields, provider::UpdateKind::Insert);
    for (size_t j = 0; j < itemFields.size(); ++j) item.newValues[j] = Variant::null();
    set(itemFields, item, "bnum", int32_t{0});
    set(itemFields, item, "inum", int32_t{i});
    set(itemFields, item, "name", "客房");
    Currency price;
    Currency::parse("288.00", &price);
    set(itemFields, item, "price", price);
    set(itemFields, item, "amount", 1.0);
    bill.details[k].push_back(std::move(item));
  }
  d.rows.push_back(std::move(bill));
  return d;
}

std::unique_ptr<client::Connection> openClient(const BenchServer& s) {
  auto c = client::Connection::open(s.address(), std::chrono::seconds(10), s.tls());
  c->create("top_dm2");
  c->login("bench", "bench", "posting");
  return c;
}

// Posts count bills on one client (each with a request key of its own
// when keyed); returns the number of failures.
int postBills(client::Connection& c, int first, int count, bool keyed = false) {
  auto fields = c.getRecords("billP", 0).data.fields;
  int failures = 0;
  for (int i = 0; i < count; ++i) {
    const std::string key = keyed ? "bench-" + std::to_string(first + i) : std::string();
    auto r = c.applyUpdates("billP", billDelta(fields, first + i), -1, Variant(), key);
    if (r.errorCount != 0) ++failures;
  }
  return failures;
}

double serverRun(const BenchServer& s, bool keyed = false, int first = 0) {
  auto c = openClient(s);
  c->execute("SqlProvider",
             "insert into CLIENT (id, name) select 17, '张三' where not exists "
             "(select 1 from CLIENT where id = 17)");
  auto t0 = std::chrono::steady_clock::now();
  int failures = postBills(*c, first, kBills, keyed);
  double t = secondsSince(t0);
  if (failures) std::printf("  !! %d failed requests\n", failures);
  return t;
}

double concurrentRun(const BenchServer& s) {
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  auto t0 = std::chrono::steady_clock::now();
  for (int t = 0; t < kConcurrentClients; ++t)
    threads.emplace_back([&, t] {
      auto c = openClient(s);
      failures += postBills(*c, t * 1000, kBills / kConcurrentClients);
    });
  for (auto& th : threads) th.join();
  double secs = secondsSince(t0);
  if (failures) std::printf("  !! %d failed requests\n", failures.load());
  return kBills / secs;
}

void check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
    throw std::runtime_error(sqlite3_errmsg(db));
}

// Posts count bills through one new connection; returns the seconds.
double sqliteRun(const std::string& file, int count = kBills) {
  sqlite3* db;
  check(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), nullptr);
  sqlite3_busy_timeout(db, 30000);
  check(sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL", nullptr, nullptr,
                     nullptr),
        db);
  sqlite3_stmt *bill, *item, *client, *begin, *commit;
  check(
      sqlite3_prepare_v2(db,
                         "INSERT INTO bills (consumption, roomid, PAmount, cltname, ndate, fdate, "
                         "tdate, operator, waiter, receiver, sanctifier, checker, rebate, settle, "
                         "comefrom, station, cltid) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
                         -1, &bill, nullptr),
      db);
  check(sqlite3_prepare_v2(db,
                           "INSERT INTO billitems (bnum, inum, name, price, amount) "
                           "VALUES (?,?,?,?,?)",
                           -1, &item, nullptr),
        db);
  check(sqlite3_prepare_v2(db, "UPDATE CLIENT SET neardate=? WHERE id=?", -1, &client, nullptr),
        db);
  check(sqlite3_prepare_v2(db, "BEGIN IMMEDIATE", -1, &begin, nullptr), db);
  check(sqlite3_prepare_v2(db, "COMMIT", -1, &commit, nullptr), db);
  const std::string today = services::todayText();
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    check(sqlite3_step(begin), db);
    sqlite3_reset(begin);
    sqlite3_clear_bindings(bill);
    const std::string room = "R" + std::to_string(i % 500);
    const std::string now = DateTime::now().toSql();
    sqlite3_bind_text(bill, 2, room.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(bill, 4, "张三", -1, SQLITE_STATIC);
    sqlite3_bind_text(bill, 5, now.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_double(bill, 13, 0.1);
    sqlite3_bind_int(bill, 14, 0);
    sqlite3_bind_int(bill, 17, 17);
    check(sqlite3_step(bill), db);
    sqlite3_reset(bill);
    const sqlite3_int64 num = sqlite3_last_insert_rowid(db);
    for (int k = 1; k <= 3; ++k) {
      sqlite3_bind_int64(item, 1, num);
      sqlite3_bind_int(item, 2, k);
      sqlite3_bind_text(item, 3, "客房", -1, SQLITE_STATIC);
      sqlite3_bind_double(item, 4, 288.0);
      sqlite3_bind_double(item, 5, 1.0);
      check(sqlite3_step(item), db);
      sqlite3_reset(item);
    }
    sqlite3_bind_text(client, 1, today.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(client, 2, 17);
    check(sqlite3_step(client), db);
    sqlite3_reset(client);
    check(sqlite3_step(commit), db);
    sqlite3_reset(commit);
  }
  double t = secondsSince(t0);
  for (auto* s : {bill, item, client, begin, commit}) sqlite3_finalize(s);
  sqlite3_close(db);
  return t;
}

void pgExec(PGconn* c, const char* sql) {
  PGresult* r = PQexec(c, sql);
  auto st = PQresultStatus(r);
  PQclear(r);
  if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) throw std::runtime_error(PQerrorMessage(c));
}

// Posts count bills through one new connection; returns the seconds.
double pgRun(const std::string& host, int port, const std::string& dbname, int count = kBills) {
  const std::string conninfo =
      "host=" + host + " port=" + std::to_string(port) + " user=postgres dbname=" + dbname;
  PGconn* c = PQconnectdb(conninfo.c_str());
  if (PQstatus(c) != CONNECTION_OK) throw std::runtime_error(PQerrorMessage(c));
  auto prepare = [&](const char* name, const char* sql, int n) {
    PGresult* r = PQprepare(c, name, sql, n, nullptr);
    if (PQresultStatus(r) != PGRES_COMMAND_OK) throw std::runtime_error(PQerrorMessage(c));
    PQclear(r);
  };
  prepare("bill",
          "SELECT return_value FROM Bills_insert(NULL, $1, NULL, $2, $3, NULL, NULL, NULL, NULL, "
          "NULL, NULL, NULL, $4, $5, NULL, NULL, $6)",
          6);
  prepare("item", "INSERT INTO billitems (bnum, inum, name, price, amount) VALUES ($1,$2,$3,$4,$5)",
          5);
  prepare("client", "UPDATE CLIENT SET neardate=$1 WHERE id=$2", 2);
  const std::string today = services::todayText();
  auto run = [&](const char* stmt, std::vector<std::string> args) {
    std::vector<const char*> v;
    for (auto& a : args) v.push_back(a.c_str());
    PGresult* r =
        PQexecPrepared(c, stmt, static_cast<int>(v.size()), v.data(), nullptr, nullptr, 0);
    auto st = PQresultStatus(r);
    std::string first = st == PGRES_TUPLES_OK && PQntuples(r) ? PQgetvalue(r, 0, 0) : "";
    PQclear(r);
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK)
      throw std::runtime_error(PQerrorMessage(c));
    return first;
  };
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    pgExec(c, "BEGIN");
    const std::string num = run("bill", {"R" + std::to_string(i % 500), "张三",
                                         DateTime::now().toSql(), "0.1", "false", "17"});
    for (int k = 1; k <= 3; ++k) run("item", {num, std::to_string(k), "客房", "288.00", "1"});
    run("client", {today, "17"});
    pgExec(c, "COMMIT");
  }
  double t = secondsSince(t0);
  PQfinish(c);
  return t;
}

// The C API side with kConcurrentClients connections posting at once;
// returns bills per second.
double concurrentCapi(const BenchServer& s, const PgServer* pg) {
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  auto t0 = std::chrono::steady_clock::now();
  for (int t = 0; t < kConcurrentClients; ++t)
    threads.emplace_back([&] {
      try {
        const int n = kBills / kConcurrentClients;
        if (pg)
          pgRun(pg->host(), pg->port(), s.pgDatabase(), n);
        else
          sqliteRun(s.appDir() + "data/qz.db", n);
      } catch (const std::exception& e) {
        if (failures++ == 0) std::fprintf(stderr, "C API: %s\n", e.what());
      }
    });
  for (auto& th : threads) th.join();
  const double secs = secondsSince(t0);
  if (failures) std::printf("  !! %d C API connections failed\n", failures.load());
  return kBills / secs;
}

}  // namespace
}  // namespace qz::bench

int main(int argc, char** argv) {
  using namespace qz::bench;
  if (argc > 1) kBills = std::max(kConcurrentClients, std::atoi(argv[1]));
  return runOnBothEngines(
      "bench_posting", 0, [](BenchServer& s, const char* engine, const PgServer* pg) {
        auto capi = [&] {
          return pg ? pgRun(pg->host(), pg->port(), s.pgDatabase())
                    : sqliteRun(s.appDir() + "data/qz.db");
        };
        const Medians one = alternate([&] { return serverRun(s); }, capi);
        std::printf(
            "%-10s %d bills x 3 items, median of %d rounds: qzserver "
            "%.2f s (%.0f bills/s), C API %.2f s (%.0f bills/s), "
            "ratio %.2f\n",
            engine, kBills, benchRounds(), one.ours, kBills / one.ours, one.capi, kBills / one.capi,
            one.ratio());
        printRatio((std::string("posting.") + engine).c_str(), one.ratio(), pg ? 1.3 : 2.5);
        // Bills per second: the ratio of C API to ours is the cost ratio.
        const Medians many =
            alternate([&] { return concurrentRun(s); }, [&] { return concurrentCapi(s, pg); });
        std::printf(
            "           %d clients at once: qzserver %.0f bills/s, "
            "C API with %d connections %.0f bills/s, ratio %.2f\n",
            kConcurrentClients, many.ours, kConcurrentClients, many.capi, many.capi / many.ours);
        printRatio((std::string("posting.8_clients.") + engine).c_str(), many.capi / many.ours,
                   1.3);
        // Request keys beside none, alternated like the rest.
        int serial = 1000000;
        const Medians keys = alternate(
            [&] {
              serial += kBills;
              return serverRun(s, true, serial);
            },
            [&] { return serverRun(s); });
        std::printf(
            "           with request keys: %.2f s, without %.2f s, "
            "ratio %.3f (target <= 1.10)\n",
            keys.ours, keys.capi, keys.ratio());
        printRatio((std::string("posting.request_keys.") + engine).c_str(), keys.ratio(), 1.10);
        std::fflush(stdout);
        s.restartWithTls();
        const Medians tls = alternate([&] { return serverRun(s); }, capi);
        std::printf(
            "           over TLS: qzserver %.2f s (%.0f bills/s), "
            "ratio to C API %.2f, to plain TCP %.2f (target <= 1.10)\n",
            tls.ours, kBills / tls.ours, tls.ratio(), tls.ours / one.ours);
        printRatio((std::string("posting.tls_vs_tcp.") + engine).c_str(), tls.ours / one.ours,
                   1.10);
      });
}
