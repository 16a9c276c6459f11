// The request-key table on both engines. The statements are plain SQL that
// the dialect layer passes through; the table is created with each engine's
// own types so that the schema script and the on-demand creation agree.
#include "platform/db/request_keys.h"

#include "platform/db/engine.h"

namespace qz::db {
namespace {

Parameter textParam(const char* name, std::string_view value) {
  Parameter p;
  p.name = name;
  p.type = FieldType::String;
  p.size = static_cast<int>(value.size());
  p.value = Variant(std::string(value));
  return p;
}

Parameter intParam(const char* name, int32_t value) {
  Parameter p;
  p.name = name;
  p.type = FieldType::Int32;
  p.value = Variant(value);
  return p;
}

Parameter timeParam(const char* name, DateTime value) {
  Parameter p;
  p.name = name;
  p.type = FieldType::DateTime;
  p.value = Variant(value);
  return p;
}

std::string textOf(const Variant& v) { return v.isEmpty() ? std::string() : v.toText(); }

}  // namespace

std::vector<std::string> requestKeyTableStatements(SqlFlavor flavor) {
  const bool pg = flavor == SqlFlavor::Postgres;
  const std::string table(kRequestKeyTable);
  return {
      "CREATE TABLE IF NOT EXISTS " + table +
          " (\n"
          "  provider varchar(64) NOT NULL,\n"
          "  request_key varchar(64) NOT NULL,\n"
          "  digest varchar(64) NOT NULL,\n"
          "  error_count " +
          std::string(pg ? "integer" : "int") +
          " NOT NULL,\n"
          "  errors text NOT NULL,\n"
          "  owner_data text,\n"
          "  recorded " +
          std::string(pg ? "timestamp(3)" : "datetime") +
          " NOT NULL,\n"
          "  PRIMARY KEY (provider, request_key)\n"
          ")",
      "CREATE INDEX IF NOT EXISTS ix_" + table + "_recorded ON " + table + " (recorded)",
  };
}

void ensureRequestKeyTable(Connection& conn) {
  conn.ensureOpen();
  EngineSession& s = conn.session();
  for (const std::string& sql : requestKeyTableStatements(s.flavor())) {
    try {
      s.execute(sql, {});
    } catch (const DbError&) {
      // Two servers creating the table at once: PostgreSQL may refuse the
      // second CREATE ... IF NOT EXISTS; the table is there all the same.
      s.execute(sql, {});
    }
  }
}

std::optional<RecordedAnswer> findRecordedAnswer(Connection& conn, std::string_view provider,
                                                 std::string_view key, bool* created) {
  if (created) *created = false;
  static constexpr std::string_view kSelect =
      "SELECT digest, error_count, errors, owner_data FROM qz_request_keys "
      "WHERE provider = :provider AND request_key = :request_key";
  const ParamList params{textParam("provider", provider), textParam("request_key", key)};
  std::unique_ptr<Cursor> rows;
  try {
    rows = conn.query(kSelect, params);
  } catch (const DbError&) {
    // A database made before the table existed: create it and ask again.
    // Inside a transaction a failed statement may have spoilt it; the
    // caller's failure then stands.
    if (conn.inTransaction()) throw;
    ensureRequestKeyTable(conn);
    if (created) *created = true;
    rows = conn.query(kSelect, params);
  }
  if (!rows->next()) return std::nullopt;
  const std::vector<Variant>& r = rows->row();
  RecordedAnswer a;
  a.digest = textOf(r[0]);
  a.errorCount = r[1].toInt32();
  a.errors = textOf(r[2]);
  a.ownerData = textOf(r[3]);
  return a;
}

void recordAnswer(Connection& conn, std::string_view provider, std::string_view key,
                  const RecordedAnswer& answer) {
  ParamList params{
      textParam("provider", provider),       textParam("request_key", key),
      textParam("digest", answer.digest),    intParam("error_count", answer.errorCount),
      textParam("errors", answer.errors),    textParam("owner_data", answer.ownerData),
      timeParam("recorded", DateTime::now())};
  if (answer.ownerData.empty()) params[5].value = Variant::null();
  conn.execute(
      "INSERT INTO qz_request_keys (provider, request_key, digest, error_count, errors, "
      "owner_data, recorded) VALUES (:provider, :request_key, :digest, :error_count, :errors, "
      ":owner_data, :recorded)",
      params);
}

int64_t removeRequestKeysOlderThan(Connection& conn, int days) {
  if (days < 1) days = 1;
  ensureRequestKeyTable(conn);
  constexpr int64_t kMsecsPerDay = 24LL * 60 * 60 * 1000;
  const DateTime cutoff{DateTime::now().msecs - days * kMsecsPerDay};
  return conn.execute("DELETE FROM qz_request_keys WHERE recorded < :cutoff",
                      {timeParam("cutoff", cutoff)});
}

}  // namespace qz::db
