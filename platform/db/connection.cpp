// Connection, Query and RowSet: engine choice from the connection text (an
// Access file for the Jet provider, whose statements go to it as written),
// translation of T-SQL through the dialect layer, ":name" parameters matched
// to positional markers, and the embedded engine's data folder.
#include "platform/db/connection.h"

#include "platform/db/dialect.h"
#include "platform/db/engine.h"
#include "platform/db/jet_session.h"
#include "platform/db/pg_restore.h"
#include "platform/db/sql_lexer.h"

namespace qz::db {
namespace {

std::string& dataDirSlot() {
  static std::string dir = "data/";
  return dir;
}

bool isEmbeddedSource(std::string_view source) {
  return source.empty() || EqualsNoCase(source, "(embedded)");
}

constexpr const char* kNoValue = "No value given for one or more required parameters.";
constexpr const char* kNoResultSet = "CommandText does not return a result set";
constexpr const char* kNoCommand = "Command text was not set for the command object.";

// The parameters that a translated statement's markers stand for, in order.
std::vector<Parameter> bindsFor(const DialectStatement& st, const ParamList& params) {
  std::vector<Parameter> binds;
  binds.reserve(st.markers.size());
  for (const std::string& name : st.markers) {
    const Parameter* p = findParam(params, name);
    if (!p) throw StatementRefusedError(kNoValue);
    binds.push_back(*p);
  }
  return binds;
}

// The arguments of an EXEC statement with the values of their markers.
ParamList execArgs(const DialectStatement& st, const ParamList& params) {
  ParamList args;
  for (const ExecArgument& a : st.args) {
    Parameter p;
    p.name = a.name;
    p.direction = a.output ? ParamDirection::InputOutput : ParamDirection::Input;
    if (!a.param.empty()) {
      const Parameter* src = findParam(params, a.param);
      if (!src) throw StatementRefusedError(kNoValue);
      p.type = src->type;
      p.size = src->size;
      p.value = src->value;
    } else {
      p.value = a.value;
    }
    args.push_back(std::move(p));
  }
  return args;
}

// Sets a session's command timeout for one call and puts the old one back.
class ScopedTimeout {
 public:
  ScopedTimeout(EngineSession* s, int from, int to) : s_(from != to ? s : nullptr), from_(from) {
    if (s_) s_->setCommandTimeout(to);
  }
  ~ScopedTimeout() {
    if (s_) s_->setCommandTimeout(from_);
  }
  ScopedTimeout(const ScopedTimeout&) = delete;
  ScopedTimeout& operator=(const ScopedTimeout&) = delete;

 private:
  EngineSession* s_;
  int from_;
};

}  // namespace

std::unique_ptr<Cursor> EngineSession::runNative(const DialectStatement& statement, ParamList&) {
  switch (statement.kind) {
    case DialectStatement::Kind::Restore:
      if (kind() == EngineKind::PostgreSQL)
        return restorePostgresDatabase(*this, statement.database, statement.disk);
      throw DbError("RESTORE DATABASE is not supported by this database engine");
    case DialectStatement::Kind::CreateDatabase:
    case DialectStatement::Kind::DropDatabase:
      throw DbError("CREATE/DROP DATABASE is not supported by this database engine");
    default:
      throw DbError("EXECUTE is not supported by this database engine");
  }
}

RowSet RowSet::readAll(Cursor& cursor) {
  RowSet rs;
  rs.fields = cursor.fields();
  while (cursor.next()) rs.rows.push_back(cursor.row());
  return rs;
}

void setEmbeddedDataDir(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  dataDirSlot() = std::move(dir);
}

const std::string& embeddedDataDir() { return dataDirSlot(); }

Connection::Connection() = default;
Connection::~Connection() { close(); }

void Connection::setConnectionString(std::string text) {
  close();
  text_ = std::move(text);
}

void Connection::setCommandTimeout(int seconds) {
  commandTimeout_ = seconds;
  if (session_) session_->setCommandTimeout(seconds);
}

void Connection::open() {
  close();
  const ConnectionString cs = ConnectionString::parse(text_);
  if (IsJetProvider(cs))
    session_ = openJet(cs);
  else if (isEmbeddedSource(cs.value("Data Source")))
    session_ = openEmbedded(cs, connectTimeout_, commandTimeout_);
  else
    session_ = openPostgres(cs, connectTimeout_, commandTimeout_);
}

void Connection::close() {
  translations_.clear();
  if (!session_) return;
  try {
    if (session_->inTransaction()) session_->rollback();
  } catch (...) {
    // Closing the session ends the transaction anyway.
  }
  session_.reset();
}

void Connection::flush() {
  if (session_) session_->flush();
}

EngineKind Connection::engine() const {
  if (session_) return session_->kind();
  return isEmbeddedSource(ConnectionString::parse(text_).value("Data Source"))
             ? EngineKind::Embedded
             : EngineKind::PostgreSQL;
}

void Connection::beginTrans() {
  ensureOpen();
  session_->begin();
}

void Connection::commitTrans() {
  ensureOpen();
  session_->commit();
}

void Connection::rollbackTrans() {
  ensureOpen();
  session_->rollback();
}

bool Connection::inTransaction() const { return session_ && session_->inTransaction(); }

Connection::Translation Connection::translate(std::string_view sql) {
  if (auto it = translations_.find(sql); it != translations_.end()) return it->second;
  // A statement that names another database is translated every time: the
  // session may attach that database while qualifying the name.
  bool qualified = false;
  DialectOptions opt;
  opt.flavor = session_->flavor();
  opt.qualify = [this, &qualified](std::string_view db) {
    qualified = true;
    return session_->qualifierFor(db);
  };
  auto done = std::make_shared<const std::vector<DialectStatement>>(translateSql(sql, opt));
  if (!qualified) {
    if (translations_.size() >= kMaxTranslations) translations_.clear();
    translations_.emplace(std::string(sql), done);
  }
  return done;
}

namespace {

// Runs one translated statement; returns its rows when wantRows (may be
// nullptr for a statement without rows), else adds to *affected.
std::unique_ptr<Cursor> runStatement(EngineSession& s, const DialectStatement& st,
                                     const ParamList& params, bool wantRows, int64_t* affected) {
  if (st.kind == DialectStatement::Kind::Sql) {
    std::vector<Parameter> binds = bindsFor(st, params);
    if (wantRows) return s.query(st.sql, binds);
    *affected += s.execute(st.sql, binds);
    return nullptr;
  }
  ParamList args = execArgs(st, params);
  return s.runNative(st, args);
}

}  // namespace

int64_t Connection::execute(std::string_view sql, const ParamList& params) {
  ensureOpen();
  if (IsJetSession(*session_)) return JetExecute(*session_, sql, params);
  const Translation translation = translate(sql);
  const std::vector<DialectStatement>& stmts = *translation;
  if (stmts.empty()) throw StatementRefusedError(kNoCommand);
  int64_t affected = 0;
  for (const DialectStatement& st : stmts) runStatement(*session_, st, params, false, &affected);
  return affected;
}

std::unique_ptr<Cursor> Connection::query(std::string_view sql, const ParamList& params) {
  ensureOpen();
  if (IsJetSession(*session_)) {
    std::unique_ptr<Cursor> rows = JetQuery(*session_, sql, params);
    if (!rows || rows->fields().empty()) throw StatementRefusedError(kNoResultSet);
    return rows;
  }
  const Translation translation = translate(sql);
  const std::vector<DialectStatement>& stmts = *translation;
  if (stmts.empty()) throw StatementRefusedError(kNoCommand);
  int64_t affected = 0;
  for (size_t i = 0; i + 1 < stmts.size(); ++i)
    runStatement(*session_, stmts[i], params, false, &affected);
  std::unique_ptr<Cursor> rows = runStatement(*session_, stmts.back(), params, true, &affected);
  if (!rows || rows->fields().empty()) throw StatementRefusedError(kNoResultSet);
  return rows;
}

std::unique_ptr<Cursor> Connection::callProcedure(std::string_view name, ParamList& params) {
  ensureOpen();
  std::string proc(name);
  if (const size_t semi = proc.find(';'); semi != std::string::npos) proc.resize(semi);
  return session_->callProcedure(proc, params);
}

std::vector<FieldDef> Connection::tableFields(std::string_view table) {
  ensureOpen();
  return session_->tableFields(std::string(table));
}

// ---------------------------------------------------------------- Query

void Query::setSql(std::vector<std::string> lines) {
  lines_ = std::move(lines);
  ParamList fresh;
  for (std::string& name : parseParamNames(text())) {
    if (const Parameter* old = findParam(params_, name)) {
      Parameter p = *old;
      p.name = std::move(name);
      fresh.push_back(std::move(p));
    } else {
      Parameter p;
      p.name = std::move(name);
      fresh.push_back(std::move(p));
    }
  }
  params_ = std::move(fresh);
}

void Query::setLine(size_t index, std::string text) {
  std::vector<std::string> lines = lines_;
  if (index >= lines.size()) lines.resize(index + 1);
  lines[index] = std::move(text);
  setSql(std::move(lines));
}

void Query::add(std::string line) {
  std::vector<std::string> lines = lines_;
  lines.push_back(std::move(line));
  setSql(std::move(lines));
}

std::string Query::text() const {
  std::string out;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (i) out += "\r\n";
    out += lines_[i];
  }
  return out;
}

std::unique_ptr<Cursor> Query::open() {
  conn_->ensureOpen();
  ScopedTimeout scope(&conn_->session(), conn_->commandTimeout(), commandTimeout_);
  return conn_->query(text(), params_);
}

int64_t Query::execSql() {
  conn_->ensureOpen();
  ScopedTimeout scope(&conn_->session(), conn_->commandTimeout(), commandTimeout_);
  return conn_->execute(text(), params_);
}

std::vector<std::string> parseParamNames(std::string_view sql) {
  std::vector<std::string> names;
  for (const Token& t : lexSql(sql)) {
    if (t.kind != TokenKind::Param) continue;
    const std::string_view name = t.text.substr(1);
    bool seen = false;
    for (const std::string& n : names)
      if (EqualsNoCase(n, name)) seen = true;
    if (!seen) names.emplace_back(name);
  }
  return names;
}

}  // namespace qz::db
