// The seam between the data-access layer and an engine. Connection parses
// the connection text, rewrites T-SQL through the dialect layer, turns
// ":name" markers into the engine's positional markers and hands the result
// to an EngineSession. One session per Connection; single-threaded.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/db/connection.h"
#include "platform/db/connection_string.h"

namespace qz::db {

// Which engine flavour the dialect layer writes for.
enum class SqlFlavor : uint8_t { Sqlite, Postgres };

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
};

// Engine factories. Each throws DbError when the database cannot be reached.
std::unique_ptr<EngineSession> openEmbedded(const ConnectionString& cs, int connectTimeout,
                                            int commandTimeout);
std::unique_ptr<EngineSession> openPostgres(const ConnectionString& cs, int connectTimeout,
                                            int commandTimeout);

}  // namespace qz::db
