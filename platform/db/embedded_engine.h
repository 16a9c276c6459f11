// The embedded engine's extension points: native system procedures written
// in C++ (sp_addumpdevice, backup, RESTORE DATABASE...), and the context they
// run in.
//
// The embedded engine emulates a small database server over SQLite files in
// the data folder (setEmbeddedDataDir): master.db is the catalogue
// (sysdatabases, sysdevices), every other database is one SQLite file. A
// native procedure is found by name (case-insensitive) before the stored
// procedures of the database; RESTORE DATABASE d FROM DISK='f' runs the
// native procedure named "RESTORE DATABASE" with the arguments d and f.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/db/connection.h"

namespace qz::db {

// What a native procedure may use of the connection that calls it.
// Thread-safety: only during the call, on the caller's thread.
class EmbeddedContext {
 public:
  virtual ~EmbeddedContext() = default;
  // The SQLite handle of the calling connection (its current database is
  // "main", the catalogue is "master" unless main is the catalogue).
  virtual sqlite3* handle() = 0;
  // The schema name under which the catalogue's tables are reached on
  // handle(): "master", or "main" when the connection is on master.
  virtual std::string catalogSchema() const = 0;
  virtual const std::string& dataDir() const = 0;
  // The name of the connection's current database ("qz", "master").
  virtual const std::string& database() const = 0;
  // The file of a database registered in the catalogue (or <name>.db in the
  // data folder). Throws DbError when there is no such database.
  virtual std::string databaseFile(std::string_view name) = 0;
  virtual bool inTransaction() const = 0;
  // Runs SQLite statements (no dialect); ?N markers take params[N-1] and
  // @name markers the parameter of that name. Returns rows changed.
  virtual int64_t execute(const std::string& sql, const ParamList& params) = 0;
  // Runs one SQLite statement that returns rows.
  virtual std::unique_ptr<Cursor> query(const std::string& sql, const ParamList& params) = 0;
};

// One call of a native procedure.
struct EmbeddedCall {
  EmbeddedContext& context;
  // The arguments by position (no @RETURN_VALUE); a named argument keeps its
  // "@name". Output arguments may be written.
  ParamList& args;
  int32_t returnValue = 0;  // becomes @RETURN_VALUE
};

// Returns the procedure's rows, or nullptr. Throws DbError with the text the
// caller should see.
using EmbeddedProcFn = std::function<std::unique_ptr<Cursor>(EmbeddedCall& call)>;

// Registers (or replaces) a native procedure, process-wide.
// REQUIRES: called at start, before connections run procedures.
void registerEmbeddedProcedure(std::string name, EmbeddedProcFn fn);

// The native procedure of that name (case-insensitive), or nullptr.
const EmbeddedProcFn* findEmbeddedProcedure(std::string_view name);

}  // namespace qz::db
