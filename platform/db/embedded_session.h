// The embedded engine's session: one SQLite handle on the connection's
// current database, with the catalogue attached as "master" and other
// databases attached when a statement names them (db.dbo.name).
//
// A statement (or procedure) that runs longer than the command timeout is
// interrupted with "Query timeout expired"; the timeout covers execution up
// to the first row, not the reading of a cursor afterwards.
//
// Before the connection writes (BEGIN, a writing statement, a procedure),
// its unfinished cursors read their remaining rows into memory, so that no
// read snapshot of its own makes the write fail instead of waiting.
//
// Transactions begin IMMEDIATE, so two write transactions never deadlock:
// the second waits for the first up to the command timeout and then fails
// with "Lock request time out period exceeded...". A statement outside a
// transaction that writes waits the same way.
//
// Thread-safety: one thread at a time (the connection's).
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/db/embedded_engine.h"
#include "platform/db/embedded_procedures.h"
#include "platform/db/embedded_use_lock.h"
#include "platform/db/engine.h"
#include "platform/db/sqlite_cursor.h"
#include "platform/db/sqlite_statement_cache.h"

namespace qz::db {

class EmbeddedSession : public EngineSession, public EmbeddedContext {
 public:
  // Opens database `database` (its file `file`) on the data folder.
  // Throws DbError.
  EmbeddedSession(std::string dataDir, std::string database, const std::string& file,
                  int commandTimeout);
  ~EmbeddedSession() override;
  EmbeddedSession(const EmbeddedSession&) = delete;
  EmbeddedSession& operator=(const EmbeddedSession&) = delete;

  // EngineSession
  EngineKind kind() const override { return EngineKind::Embedded; }
  SqlFlavor flavor() const override { return SqlFlavor::Sqlite; }
  void begin() override;
  void commit() override;
  void rollback() override;
  bool inTransaction() const override;
  void setCommandTimeout(int seconds) override;
  int64_t execute(const std::string& sql, const std::vector<Parameter>& binds) override;
  std::unique_ptr<Cursor> query(const std::string& sql,
                                const std::vector<Parameter>& binds) override;
  std::unique_ptr<Cursor> callProcedure(const std::string& name, ParamList& params) override;
  std::vector<FieldDef> tableFields(const std::string& table) override;
  std::string qualifierFor(std::string_view database) override;
  std::unique_ptr<Cursor> runNative(const DialectStatement& statement, ParamList& args) override;

  // EmbeddedContext
  sqlite3* handle() override { return db_; }
  std::string catalogSchema() const override { return isMaster_ ? "main" : "master"; }
  const std::string& dataDir() const override { return dataDir_; }
  const std::string& database() const override { return database_; }
  std::string databaseFile(std::string_view name) override;
  // execute, query and inTransaction serve both bases: ?N markers take
  // binds[N-1], @name markers the parameter of that name.

 private:
  // Prepares one statement and binds params (?N by position, @name by name).
  sqlite3_stmt* prepare(const char* sql, const char** tail, const std::vector<Parameter>& params);
  // Binds params to a prepared statement as prepare() does. Throws DbError.
  void bindAll(sqlite3_stmt* st, const std::vector<Parameter>& params);
  // Steps a prepared, bound statement to its end; returns the rows it
  // changed (0 for other than INSERT/UPDATE/DELETE). Throws DbError; the
  // caller still owns st either way.
  int64_t runToEnd(sqlite3_stmt* st);
  void execPlain(const char* sql);
  // execPlain() for the few fixed texts run on every request (BEGIN, COMMIT,
  // ROLLBACK): their statements are kept. Throws DbError.
  void execKept(const char* sql);
  static void execPlainOn(sqlite3* db, const char* sql);
  // Calls a procedure qualified by database (may be "") with arguments;
  // params may start with @RETURN_VALUE. byPosition ignores the arguments'
  // names (a stored-procedure dataset); otherwise "@x" names an argument
  // (EXEC p @x = 1).
  std::unique_ptr<Cursor> callIn(const std::string& database, const std::string& name,
                                 ParamList& params, bool byPosition);
  void createDatabase(const std::string& name);
  // Interrupts a statement that runs past the command timeout.
  static int progress(void* self);
  friend class DeadlineScope;
  void dropDatabase(const std::string& name);

  std::string dataDir_;
  std::string database_;
  bool isMaster_ = false;
  sqlite3* db_ = nullptr;
  std::vector<std::string> attached_;  // databases attached on demand (lower case)
  // Statements of single-statement texts that execute() and stored
  // procedures ran. Finalized before the handle closes.
  SqliteStatementCache statements_;
  // Plans of the stored procedures this connection ran.
  ProcedurePlans plans_;
  // What tableFields() last found for a statement of statements_, and the
  // statement's count of re-preparations then: SQLite prepares a kept
  // statement anew when the schema changed, so an unchanged count means an
  // unchanged description.
  struct KnownFields {
    int reprepares = 0;
    std::vector<FieldDef> fields;
  };
  std::unordered_map<std::string, KnownFields> knownFields_;
  // Open cursors of this connection; shared so that a cursor may outlive it.
  std::shared_ptr<CursorRegistry> cursors_ = std::make_shared<CursorRegistry>();
  // Held while the connection is open, so a restore knows it is in use.
  std::unique_ptr<DatabaseUseLock> useLock_;
  bool userTxn_ = false;     // begin() ran and no commit()/rollback() yet
  int commandTimeout_ = 30;  // seconds; 0 = no limit
  int deadlineDepth_ = 0;    // nesting of DeadlineScope
  std::chrono::steady_clock::time_point deadline_;
};

}  // namespace qz::db
