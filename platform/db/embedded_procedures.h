// Stored procedures of the embedded engine, kept as text in each database:
//
//   sys_procedures(name TEXT PRIMARY KEY COLLATE NOCASE,
//                  params TEXT NOT NULL, body TEXT NOT NULL)
//
// params: T-SQL style declarations separated by commas, e.g.
//   "@consumption varchar(10), @PAmount smallint, @billcont int OUTPUT"
// body: SQLite statements separated by ';' (not inside literals, comments,
// parentheses or CASE ... END), referring to parameters as @name. Besides
// SQLite statements a body may hold:
//   DECLARE @name type [= expr]   a local variable
//   SET @name = expr              assigns (evaluated as SELECT expr)
//   RETURN [expr]                 sets @RETURN_VALUE and ends the procedure
//   EXEC[UTE] name args           calls another procedure (args: literals or @names)
// The rows of the last statement that returns rows are the procedure's row set.
//
// A procedure runs on the caller's connection: inside the caller's
// transaction in a savepoint of its own when one is open, else in an
// IMMEDIATE transaction of its own; on failure its changes are undone.
#pragma once

#include <sqlite3.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/db/connection.h"
#include "platform/db/dialect.h"
#include "platform/db/sqlite_statement_cache.h"

namespace qz::db {

struct ProcParam {
  std::string name;  // with '@'
  FieldDef type;
  bool output = false;
};

// Parses the params text. Throws DbError naming the faulty declaration.
std::vector<ProcParam> parseProcedureParams(std::string_view text);

struct StoredProcedureText {
  std::string name;
  std::string params;
  std::string body;
};

struct ProcedurePlan;

// The plans of the procedures one handle ran, by their text: a body is
// split and lexed, and its parameters parsed, once rather than on every
// call. A procedure altered since is planned afresh under its new text.
//
// Thread-safety: one thread at a time (the handle's).
class ProcedurePlans {
 public:
  ProcedurePlans();
  ~ProcedurePlans();
  ProcedurePlans(const ProcedurePlans&) = delete;
  ProcedurePlans& operator=(const ProcedurePlans&) = delete;

  // The plan of proc, made now when its text is new. Throws DbError when
  // its parameters do not parse (nothing is kept then).
  std::shared_ptr<const ProcedurePlan> planOf(const StoredProcedureText& proc);

 private:
  static constexpr size_t kMaxPlans = 64;
  std::unordered_map<std::string, std::shared_ptr<const ProcedurePlan>> plans_;
};

// Runs an EXEC met inside a body (args already evaluated).
using NestedExec = std::function<std::unique_ptr<Cursor>(const DialectStatement&, ParamList&)>;

// Runs proc on db. args: by position, or by name when their name is set
// ("@x"; a name the procedure does not declare throws DbError); output
// parameters are written back to args. *returnValue gets
// RETURN's value (0 without RETURN). Returns the row set or nullptr.
// Throws DbError (the procedure's changes undone). The body's statements
// are taken from and kept in statements (the handle's cache; may be null),
// and its plan from plans (the handle's; may be null: planned for this call).
std::unique_ptr<Cursor> runStoredProcedure(sqlite3* db, SqliteStatementCache* statements,
                                           ProcedurePlans* plans, const StoredProcedureText& proc,
                                           ParamList& args, int32_t* returnValue,
                                           const NestedExec& nested);

}  // namespace qz::db
