// The T-SQL dialect layer: rewrites the statements the system and its
// clients send (written for the old database server) into the dialect of the
// engine at hand, and turns ":name" markers into positional markers.
//
// What is rewritten (docs/database.md lists it with examples):
//   TOP n / TOP (n)             -> LIMIT n at the end of that SELECT
//   EXEC[UTE] proc args         -> a procedure call (embedded: a native call;
//                                  PostgreSQL: SELECT * FROM proc(args))
//   db.dbo.name, db..name       -> the engine's way to reach db's object
//   dbo.name                    -> name
//   datepart(unit, x)           -> the engine's date-part extraction
//   getdate()                   -> the engine's local current time
//   cast(x as datetime)         -> the engine's date-time conversion
//   delete t from t where ...   -> delete from t where ...
//   [bracketed names]           -> the engine's quoted identifiers
//   N'text'                     -> 'text'
//   LIKE                        -> ILIKE on PostgreSQL (LIKE ignores case)
//   isnull(a, b)                -> coalesce(a, b)
//   RESTORE DATABASE d FROM DISK='f', CREATE DATABASE d, DROP DATABASE d
//                               -> native commands the engine runs itself
//
// Invariants: rewriting works on tokens (sql_lexer.h), so nothing inside a
// string literal, quoted name or comment is ever changed; a construct that
// does not match its pattern exactly is passed through unchanged, so the
// engine's own error reaches the caller. Values are never spliced into text:
// ":name" markers stay markers and EXEC arguments stay literals or markers.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/variant.h"
#include "platform/db/engine.h"

namespace qz::db {

// One argument of "EXEC proc args".
struct ExecArgument {
  std::string name;     // "@x" when written "@x = value", else empty
  std::string param;    // the ":name" marker's name when the argument is one
  Variant value;        // the literal's value otherwise (Null for NULL)
  bool output = false;  // followed by OUTPUT
};

// One statement of a batch after translation.
struct DialectStatement {
  enum class Kind : unsigned char { Sql, Exec, Restore, CreateDatabase, DropDatabase };
  Kind kind = Kind::Sql;
  std::string sql;                   // Sql: text for the engine, positional markers
  std::vector<std::string> markers;  // Sql: parameter name of marker i+1
  std::string database;              // Exec: qualifying database ("" = current);
                                     // Restore/CreateDatabase/DropDatabase: the database
  std::string procedure;             // Exec: procedure name (without ";1")
  std::vector<ExecArgument> args;    // Exec
  std::string disk;                  // Restore: the file named after FROM DISK=
  std::string password;              // Restore: WITH PASSWORD = 'p' ("" when absent)
};

struct DialectOptions {
  SqlFlavor flavor = SqlFlavor::Sqlite;
  // Given the database of "db.dbo.name", returns the text to write before
  // name ("master." for an attached database, "" to drop the qualifier).
  // May throw DbError for an unknown database. When empty, the qualifier is
  // dropped.
  std::function<std::string(std::string_view database)> qualify;
};

// Translates a batch (statements separated by ';' outside literals).
// Statements holding only blanks and comments are dropped, so the result may
// be empty. Throws only what options.qualify throws.
std::vector<DialectStatement> translateSql(std::string_view tsql, const DialectOptions& options);

// Splits a batch at ';' outside literals, comments and parentheses; pieces
// that hold only blanks and comments are dropped. Views into text.
std::vector<std::string_view> splitSqlStatements(std::string_view text);

// The canonical name of a datepart unit ("yyyy" -> "year", "mm" -> "month",
// "dw" -> "weekday", ...), or "" for an unknown unit.
std::string_view canonicalDatePart(std::string_view unit);

}  // namespace qz::db
