// The PostgreSQL test server as an independent oracle for value conversions:
// a list of input texts goes to the server in one query and one text answer
// per input comes back, computed by the server's own numeric and timestamp
// code. Talks libpq directly so that none of our own conversions sit between
// the server's answer and the test.
//
// Thread-safety: one object from one thread.
#pragma once

#include <libpq-fe.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qz::testing {

class PgOracle {
 public:
  // A session on the test server's maintenance database, or nullptr when
  // QZ_TEST_PG_HOST / QZ_TEST_PG_PORT are not set. Throws std::runtime_error
  // when the server is configured but does not answer.
  static std::unique_ptr<PgOracle> connect() {
    auto env = [](const char* n) {
      const char* v = std::getenv(n);
      return std::string(v ? v : "");
    };
    if (env("QZ_TEST_PG_HOST").empty() || env("QZ_TEST_PG_PORT").empty()) return nullptr;
    const std::string info = "host=" + env("QZ_TEST_PG_HOST") + " port=" + env("QZ_TEST_PG_PORT") +
                             " user=" + env("QZ_TEST_PG_USER") +
                             " dbname=postgres connect_timeout=10";
    std::unique_ptr<PgOracle> o(new PgOracle(PQconnectdb(info.c_str())));
    if (PQstatus(o->conn_) != CONNECTION_OK)
      throw std::runtime_error(std::string("PostgreSQL test server: ") + PQerrorMessage(o->conn_));
    // Halves to even on numeric (the server's round() takes halves away from zero).
    o->exec(
        "create function pg_temp.half_even(y numeric) returns numeric language sql immutable as "
        "'select case when abs(y - trunc(y)) = 0.5 then 2 * round(y / 2) else round(y) end'");
    // The server's reading of a timestamp text to the millisecond, or NULL when it refuses it.
    o->exec(
        "create function pg_temp.try_timestamp(t text) returns text language plpgsql as "
        "'begin return to_char(date_trunc(''milliseconds'', t::timestamp), "
        "''YYYY-MM-DD\"T\"HH24:MI:SS.MS''); exception when others then return null; end'");
    return o;
  }
  ~PgOracle() { PQfinish(conn_); }
  PgOracle(const PgOracle&) = delete;
  PgOracle& operator=(const PgOracle&) = delete;

  // Evaluates expr once per input, with the input as text x (and $2, $3 as
  // the given extra parameters); returns the answers in input order, nullopt
  // for SQL NULL.
  // REQUIRES: inputs is not empty; no input is empty or holds a newline.
  std::vector<std::optional<std::string>> answers(const std::string& expr,
                                                  const std::vector<std::string>& inputs,
                                                  const std::vector<std::string>& extra = {}) {
    std::string joined;
    for (size_t i = 0; i < inputs.size(); ++i) joined += (i ? "\n" : "") + inputs[i];
    std::vector<const char*> params{joined.c_str()};
    for (const std::string& e : extra) params.push_back(e.c_str());
    const std::string sql =
        "select " + expr +
        " from unnest(string_to_array($1, chr(10))) with ordinality as t(x, n) order by n";
    PGresult* r = PQexecParams(conn_, sql.c_str(), static_cast<int>(params.size()), nullptr,
                               params.data(), nullptr, nullptr, 0);
    if (PQresultStatus(r) != PGRES_TUPLES_OK) {
      const std::string msg = PQerrorMessage(conn_);
      PQclear(r);
      throw std::runtime_error("oracle query failed: " + msg);
    }
    std::vector<std::optional<std::string>> out;
    for (int i = 0; i < PQntuples(r); ++i)
      out.push_back(PQgetisnull(r, i, 0) ? std::nullopt
                                         : std::optional<std::string>(PQgetvalue(r, i, 0)));
    PQclear(r);
    if (out.size() != inputs.size()) throw std::runtime_error("oracle query lost inputs");
    return out;
  }

 private:
  explicit PgOracle(PGconn* c) : conn_(c) {}
  void exec(const char* sql) {
    PGresult* r = PQexec(conn_, sql);
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    PQclear(r);
    if (!ok)
      throw std::runtime_error(std::string("oracle set-up failed: ") + PQerrorMessage(conn_));
  }

  PGconn* conn_;
};

}  // namespace qz::testing
