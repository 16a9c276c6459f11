// The data-access layer: a connection opened from the connection text the
// system composes ("Provider=SQLOLEDB.1;...Data Source=...;"), transactions,
// statements with :name parameters, stored procedures, row cursors.
//
// Engine choice (see docs/database.md): an empty "Data Source" (or
// "(embedded)") selects the embedded engine over SQLite files in the data
// folder; anything else selects PostgreSQL through libpq.
//
// Statements are written in the T-SQL the system and its clients send; the
// dialect layer rewrites them for the engine at hand before they run.
//
// Thread-safety: a Connection and everything opened on it is used by one
// thread at a time. Nothing is shared between connections.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/core/types.h"

namespace qz::db {

// A database failure. what() is the engine's own message text.
class DbError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  DbError(const std::string& message, std::string engineCode)
      : std::runtime_error(message), engineCode_(std::move(engineCode)) {}
  // The engine's own code for the failure: the SQLSTATE on PostgreSQL, the
  // extended result code on the embedded engine; "" where it gave none.
  const std::string& engineCode() const { return engineCode_; }

 private:
  std::string engineCode_;
};

// A statement refused before any engine runs it: none given, no rows where
// rows are wanted, a marker without a parameter.
class StatementRefusedError : public DbError {
 public:
  using DbError::DbError;
};

enum class EngineKind : uint8_t { Embedded, PostgreSQL };

// Forward-only rows of one statement. Values are typed by the fields.
class Cursor {
 public:
  virtual ~Cursor() = default;
  virtual const std::vector<FieldDef>& fields() const = 0;
  // Advances to the next row. Returns false after the last row.
  // Throws DbError on an engine failure.
  virtual bool next() = 0;
  // The current row, one value per field. REQUIRES: next() returned true.
  virtual const std::vector<Variant>& row() const = 0;
};

// All rows of a statement, read at once (for record counts and details).
struct RowSet {
  std::vector<FieldDef> fields;
  std::vector<std::vector<Variant>> rows;
  static RowSet readAll(Cursor& cursor);
};

class EngineSession;  // platform/db/engine.h

// Process-wide folder of the embedded engine (default "<AppDir>data/").
// REQUIRES: set at start, before any connection opens.
void setEmbeddedDataDir(std::string dir);
const std::string& embeddedDataDir();

struct DialectStatement;

class Connection {
 public:
  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Replacing the text closes an open connection.
  void setConnectionString(std::string text);
  const std::string& connectionString() const { return text_; }
  void setConnectionTimeout(int seconds) { connectTimeout_ = seconds; }
  void setCommandTimeout(int seconds);
  int connectionTimeout() const { return connectTimeout_; }
  int commandTimeout() const { return commandTimeout_; }

  // Opens the connection. Throws DbError with the engine's text on failure.
  void open();
  // Opens when not yet open (connections open when first used).
  void ensureOpen() {
    if (!session_) open();
  }
  // Closes, rolling back an open transaction. Never throws: changes an
  // Access file still holds are written out, a failure only logged (call
  // flush() first to see it).
  void close();
  // Writes out changes the engine holds in memory (an Access file's
  // pages; other engines write at each statement). Throws DbError.
  void flush();
  bool isOpen() const { return session_ != nullptr; }
  EngineKind engine() const;

  // Transactions. BeginTrans while one is open throws DbError, and so do
  // CommitTrans and RollbackTrans without one. A write transaction that
  // waits for another one longer than the command timeout throws DbError
  // ("Lock request time out period exceeded...").
  void beginTrans();
  void commitTrans();
  void rollbackTrans();
  bool inTransaction() const;

  // Runs one T-SQL statement (or a batch separated by ';') without rows.
  // params are matched to ":name" markers by name (without regard to case).
  // Returns the rows that INSERT, UPDATE and DELETE statements changed.
  // Throws DbError: the engine's text; "No value given for one or more
  // required parameters." for a marker without a parameter; "Command text
  // was not set for the command object." for a text without a statement.
  int64_t execute(std::string_view sql, const ParamList& params = {});
  // Runs a statement that returns rows (in a batch, the earlier statements
  // run first and the last one gives the rows; "exec proc ..." gives the
  // procedure's row set). Throws DbError as execute, and "CommandText does
  // not return a result set" when the statement (which has run) gives none.
  // After this connection closes, the cursor may only be destroyed.
  std::unique_ptr<Cursor> query(std::string_view sql, const ParamList& params = {});
  // Calls a stored procedure ("name;1" accepted). params[0] may be
  // @RETURN_VALUE; inputs are passed by position; output, input-output and
  // return values are written back. Returns the procedure's rows, or nullptr.
  std::unique_ptr<Cursor> callProcedure(std::string_view name, ParamList& params);
  // The columns of a table with NOT NULL and key flags (cached per table).
  std::vector<FieldDef> tableFields(std::string_view table);

  // REQUIRES: isOpen().
  EngineSession& session() { return *session_; }

 private:
  using Translation = std::shared_ptr<const std::vector<DialectStatement>>;
  // The engine's statements for sql, translated once per session: the
  // posting of records runs the same few texts for every request.
  Translation translate(std::string_view sql);

  std::string text_;
  int connectTimeout_ = 15;
  int commandTimeout_ = 30;
  std::unique_ptr<EngineSession> session_;
  // Texts translated on session_, at most kMaxTranslations of them.
  static constexpr size_t kMaxTranslations = 256;
  struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };
  std::unordered_map<std::string, Translation, TextHash, std::equal_to<>> translations_;
};

// A query dataset: statement lines with :name parameters. Changing the
// text re-reads the parameters, keeping parameters (type and value) whose
// names stay; new ones start Unassigned (bound as NULL). open() and
// execSql() run with the query's own command timeout.
class Query {
 public:
  explicit Query(Connection* conn) : conn_(conn) {}
  void setSql(std::vector<std::string> lines);
  void setLine(size_t index, std::string text);
  void clear() { setSql({}); }
  void add(std::string line);
  const std::vector<std::string>& sql() const { return lines_; }
  std::string text() const;  // lines joined with "\r\n"
  ParamList& params() { return params_; }
  Parameter* param(std::string_view name) { return findParam(params_, name); }
  void setCommandTimeout(int seconds) { commandTimeout_ = seconds; }
  int commandTimeout() const { return commandTimeout_; }

  std::unique_ptr<Cursor> open();
  int64_t execSql();

 private:
  Connection* conn_;
  std::vector<std::string> lines_;
  ParamList params_;
  int commandTimeout_ = 30;
};

// A stored-procedure dataset ("Bills_insert;1"): parameters addressed by
// position, @RETURN_VALUE first.
class StoredProc {
 public:
  StoredProc(Connection* conn, std::string name, ParamList params)
      : conn_(conn), name_(std::move(name)), params_(std::move(params)) {}
  const std::string& name() const { return name_; }
  ParamList& params() { return params_; }
  Parameter& param(size_t i) { return params_.at(i); }
  // Runs the procedure; return and output values land in params().
  std::unique_ptr<Cursor> exec() { return conn_->callProcedure(name_, params_); }
  void execProc() { exec(); }

 private:
  Connection* conn_;
  std::string name_;
  ParamList params_;
};

// The ":name" markers of a statement, in order of first appearance, outside
// string literals and comments ("::" and ":=" are not markers).
std::vector<std::string> parseParamNames(std::string_view sql);

}  // namespace qz::db
