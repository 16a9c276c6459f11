// The seam between the data-access layer and an engine. Connection parses
// the connection text, rewrites T-SQL through the dialect layer, turns
// ":name" markers into the engine's positional markers and hands the result
// to an EngineSession. One session per Connection; single-threaded.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/connection.h"
#include "platform/db/connection_string.h"

namespace qz::db {

// Which engine flavour the dialect layer writes for.
enum class SqlFlavor : uint8_t { Sqlite, Postgres };

struct DialectStatement;  // platform/db/dialect.h

class EngineSession {
 public:
  virtual ~EngineSession() = default;
  virtual EngineKind kind() const = 0;
  virtual SqlFlavor flavor() const = 0;

  virtual void begin() = 0;
  virtual void commit() = 0;
  virtual void rollback() = 0;
  virtual bool inTransaction() const = 0;
  virtual void setCommandTimeout(int seconds) = 0;

  // sql is already in the engine's dialect with positional markers
  // (?N for SQLite, $N for PostgreSQL); binds[i] is marker i+1.
  virtual int64_t execute(const std::string& sql, const std::vector<Parameter>& binds) = 0;
  virtual std::unique_ptr<Cursor> query(const std::string& sql,
                                        const std::vector<Parameter>& binds) = 0;
  // name without ";1". See Connection::callProcedure.
  virtual std::unique_ptr<Cursor> callProcedure(const std::string& name, ParamList& params) = 0;
  virtual std::vector<FieldDef> tableFields(const std::string& table) = 0;
  // Writes out changes the engine still holds in memory (an Access file's
  // pages); the default has none. Throws DbError when they cannot be written.
  virtual void flush() {}

  // The text to write before a name that T-SQL qualifies with a database
  // ("db.dbo.name"), e.g. "master." for an attached catalogue; "" drops the
  // qualifier (the default). Throws DbError for a database that the engine
  // cannot reach.
  virtual std::string qualifierFor(std::string_view database) { return {}; }
  // Runs a statement that the dialect layer turned into a native command
  // (EXEC on the embedded engine, RESTORE DATABASE, CREATE/DROP DATABASE).
  // args are the EXEC arguments with their values. Returns the command's
  // rows or nullptr. The default throws DbError: not supported.
  virtual std::unique_ptr<Cursor> runNative(const DialectStatement& statement, ParamList& args);
};

// Engine factories. Each throws DbError when the database cannot be reached.
std::unique_ptr<EngineSession> openEmbedded(const ConnectionString& cs, int connectTimeout,
                                            int commandTimeout);
std::unique_ptr<EngineSession> openPostgres(const ConnectionString& cs, int connectTimeout,
                                            int commandTimeout);

}  // namespace qz::db
