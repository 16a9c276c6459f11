// Native procedure registry, the built-in system procedures, and the runner
// of stored procedures kept as text; see embedded_procedures.h and
// embedded_engine.h.
#include "platform/db/embedded_procedures.h"

#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/core/ascii.h"
#include "platform/db/connection_string.h"
#include "platform/db/embedded_engine.h"
#include "platform/db/sql_lexer.h"
#include "platform/db/sql_quote.h"
#include "platform/db/sqlite_cursor.h"
#include "platform/db/sqlite_values.h"

namespace qz::db {
namespace {

// ------------------------------------------------------------ registry

struct NoCaseLess {
  bool operator()(const std::string& a, const std::string& b) const {
    return AsciiLower(a) < AsciiLower(b);
  }
};

std::unique_ptr<Cursor> spAddDumpDevice(EmbeddedCall& call);
std::unique_ptr<Cursor> spDropDevice(EmbeddedCall& call);

struct Registry {
  std::mutex mu;
  std::map<std::string, EmbeddedProcFn, NoCaseLess> procs;
  Registry() {
    procs["sp_addumpdevice"] = spAddDumpDevice;
    procs["sp_dropdevice"] = spDropDevice;
  }
};

Registry& registry() {
  static Registry r;  // process-wide by design: filled at start
  return r;
}

// The text of argument i, or "" when absent or null.
std::string argText(const ParamList& args, size_t i) {
  if (i >= args.size() || args[i].value.isEmpty()) return std::string();
  return args[i].value.toText();
}

std::unique_ptr<Cursor> spAddDumpDevice(EmbeddedCall& call) {
  const std::string type = AsciiLower(argText(call.args, 0));
  const std::string name = argText(call.args, 1);
  const std::string path = argText(call.args, 2);
  int cntrltype;
  if (type == "disk")
    cntrltype = 2;
  else if (type == "tape")
    cntrltype = 5;
  else
    throw DbError("Device type '" + type + "' is not valid. Use 'disk' or 'tape'.");
  if (name.empty()) throw DbError("The logical device name must be given.");
  if (path.empty()) throw DbError("The physical device name must be given.");
  const std::string table = QuoteSqlName(call.context.catalogSchema()) + ".sysdevices";
  ParamList p(1);
  p[0].value = Variant(name);
  auto existing = call.context.query("SELECT name FROM " + table + " WHERE name = ?1", p);
  if (existing->next()) throw DbError("Device '" + name + "' already exists.");
  existing.reset();
  ParamList ins(3);
  ins[0].value = Variant(name);
  ins[1].value = Variant(static_cast<int32_t>(cntrltype));
  ins[2].value = Variant(path);
  call.context.execute("INSERT INTO " + table +
                           "(name, size, low, high, status, cntrltype, phyname) "
                           "VALUES (?1, 0, 0, 0, 16, ?2, ?3)",
                       ins);
  return nullptr;
}

std::unique_ptr<Cursor> spDropDevice(EmbeddedCall& call) {
  const std::string name = argText(call.args, 0);
  const std::string table = QuoteSqlName(call.context.catalogSchema()) + ".sysdevices";
  ParamList p(1);
  p[0].value = Variant(name);
  if (call.context.execute("DELETE FROM " + table + " WHERE name = ?1", p) == 0)
    throw DbError("Device '" + name + "' does not exist.");
  return nullptr;
}

// ------------------------------------------------------------ runner

// SQLite stores a text of any length: an argument longer than its declared
// varchar(n) is refused here, as the other engine refuses it where it is
// stored, so both keep the same data.
void checkDeclaredLength(const Parameter& p) {
  if (p.type != FieldType::String || p.size <= 0 || p.value.type() != VarType::String) return;
  size_t chars = 0;
  for (unsigned char b : p.value.asString()) chars += (b & 0xC0) != 0x80;
  if (chars > static_cast<size_t>(p.size))
    throw DbError("Parameter '" + p.name + "': text of " + std::to_string(chars) +
                  " characters is longer than its declared " + std::to_string(p.size));
}

// A procedure's variables: parameters and DECLAREd locals, by name.
class Variables {
 public:
  Parameter* find(std::string_view name) { return findParam(vars_, name); }
  Parameter& add(const std::string& name, const FieldDef& type) {
    if (Parameter* p = find(name)) return *p;
    Parameter p;
    p.name = name;
    p.type = type.type;
    p.size = type.size;
    p.precision = type.precision;
    p.scale = type.scale;
    p.value = Variant::null();
    vars_.push_back(std::move(p));
    return vars_.back();
  }
  const ParamList& all() const { return vars_; }

 private:
  ParamList vars_;
};

// A prepared statement of one run: back into the cache when the run
// succeeded (keep() was called), finalized otherwise.
class StatementGuard {
 public:
  StatementGuard(sqlite3_stmt* s, SqliteStatementCache* cache, std::string sql)
      : s_(s), cache_(cache), sql_(std::move(sql)) {}
  StatementGuard(StatementGuard&& o) noexcept
      : s_(std::exchange(o.s_, nullptr)),
        cache_(o.cache_),
        sql_(std::move(o.sql_)),
        kept_(o.kept_) {}
  ~StatementGuard() {
    if (!s_) return;
    if (kept_ && cache_)
      cache_->give(sql_, s_);
    else
      sqlite3_finalize(s_);
  }
  StatementGuard(const StatementGuard&) = delete;
  StatementGuard& operator=(const StatementGuard&) = delete;
  sqlite3_stmt* get() const { return s_; }
  void keep() { kept_ = true; }

 private:
  sqlite3_stmt* s_;
  SqliteStatementCache* cache_;
  std::string sql_;
  bool kept_ = false;
};

// What one statement of a body does, worked out once per procedure text.
struct PlanStep {
  enum class Kind { Declare, Set, Return, Exec, Sql, Fail };
  Kind kind = Kind::Sql;
  std::string text;  // Exec, Sql: the statement; Fail: the error it raises
  std::string var;   // Declare, Set: the variable
  FieldDef type;     // Declare
  bool hasExpr = false;
  std::string expr;  // Declare, Set, Return: the value's expression
};

// Classifies one statement of a body; nullopt for an empty one.
std::optional<PlanStep> planStatement(std::string_view text) {
  const std::vector<Token> toks = lexSql(text);
  std::vector<const Token*> sig;
  for (const Token& t : toks)
    if (!t.trivia()) sig.push_back(&t);
  if (sig.empty()) return std::nullopt;
  auto rest = [&](size_t from) {
    return from < sig.size() ? std::string(text.substr(sig[from]->offset)) : std::string();
  };
  PlanStep step;
  if (sig[0]->isWord("declare") && sig.size() >= 3 && sig[1]->is(TokenKind::Variable)) {
    // DECLARE @name type [= expr]
    size_t eq = 2;
    while (eq < sig.size() && !sig[eq]->isPunct("=")) ++eq;
    const size_t typeBegin = sig[2]->offset;
    const size_t typeEnd = eq < sig.size() ? sig[eq]->offset : text.size();
    const std::string_view typeText = text.substr(typeBegin, typeEnd - typeBegin);
    if (!parseDeclaredType(typeText, &step.type)) {
      step.kind = PlanStep::Kind::Fail;
      step.text = "Column, parameter, or variable " + std::string(sig[1]->text) +
                  ": Cannot find data type " + std::string(typeText) + ".";
      return step;
    }
    step.kind = PlanStep::Kind::Declare;
    step.var = std::string(sig[1]->text);
    step.hasExpr = eq < sig.size();
    if (step.hasExpr) step.expr = rest(eq + 1);
    return step;
  }
  if (sig[0]->isWord("set") && sig.size() >= 4 && sig[1]->is(TokenKind::Variable) &&
      sig[2]->isPunct("=")) {
    step.kind = PlanStep::Kind::Set;
    step.var = std::string(sig[1]->text);
    step.hasExpr = true;
    step.expr = rest(3);
    return step;
  }
  if (sig[0]->isWord("return")) {
    step.kind = PlanStep::Kind::Return;
    step.hasExpr = sig.size() > 1;
    if (step.hasExpr) step.expr = rest(1);
    return step;
  }
  step.kind = sig[0]->isWord("exec") || sig[0]->isWord("execute") ? PlanStep::Kind::Exec
                                                                  : PlanStep::Kind::Sql;
  step.text = std::string(text);
  return step;
}

}  // namespace

struct ProcedurePlan {
  std::vector<ProcParam> params;
  std::vector<PlanStep> steps;
};

ProcedurePlans::ProcedurePlans() = default;
ProcedurePlans::~ProcedurePlans() = default;

std::shared_ptr<const ProcedurePlan> ProcedurePlans::planOf(const StoredProcedureText& proc) {
  std::string key = proc.params;
  key += '\0';
  key += proc.body;
  if (auto it = plans_.find(key); it != plans_.end()) return it->second;
  auto plan = std::make_shared<ProcedurePlan>();
  plan->params = parseProcedureParams(proc.params);
  for (std::string_view stmt : splitSqlStatements(proc.body))
    if (std::optional<PlanStep> step = planStatement(stmt)) plan->steps.push_back(std::move(*step));
  // A changed procedure comes back under a new text: past the bound, start afresh.
  if (plans_.size() >= kMaxPlans) plans_.clear();
  plans_.emplace(std::move(key), plan);
  return plan;
}

namespace {

class Runner {
 public:
  Runner(sqlite3* db, SqliteStatementCache* statements, const StoredProcedureText& proc,
         const ProcedurePlan& plan, const NestedExec& nested)
      : db_(db), statements_(statements), proc_(proc), plan_(plan), nested_(nested) {}

  std::unique_ptr<Cursor> run(ParamList& args, int32_t* ret) {
    const std::vector<ProcParam>& decl = plan_.params;
    for (const ProcParam& d : decl) vars_.add(d.name, d.type);
    // Arguments: named ones by name, the others by position.
    size_t pos = 0;
    for (const Parameter& a : args) {
      Parameter* target = nullptr;
      if (!a.name.empty()) {
        target = vars_.find(a.name);
        if (!target)
          throw DbError(a.name + " is not a parameter for procedure " + proc_.name + ".");
      } else {
        if (pos >= decl.size())
          throw DbError("Procedure or function " + proc_.name +
                        " has too many arguments specified.");
        target = vars_.find(decl[pos++].name);
      }
      target->value = a.value.isUnassigned() ? Variant::null() : a.value;
      checkDeclaredLength(*target);
    }
    for (const PlanStep& step : plan_.steps)
      if (!runStep(step)) break;
    // Output parameters go back to the caller's arguments.
    pos = 0;
    for (Parameter& a : args) {
      const ProcParam* d = nullptr;
      if (!a.name.empty()) {
        for (const ProcParam& p : decl)
          if (EqualsNoCase(p.name, a.name)) d = &p;
      } else if (pos < decl.size()) {
        d = &decl[pos++];
      }
      if (d && d->output) a.value = vars_.find(d->name)->value;
    }
    *ret = ret_;
    if (!rows_) return nullptr;
    return std::make_unique<RowSetCursor>(std::move(*rows_));
  }

 private:
  // Runs one statement; returns false after RETURN.
  bool runStep(const PlanStep& step) {
    switch (step.kind) {
      case PlanStep::Kind::Fail:
        throw DbError(step.text);
      case PlanStep::Kind::Declare: {
        Parameter& v = vars_.add(step.var, step.type);
        if (step.hasExpr) v.value = evaluate(step.expr, v);
        return true;
      }
      case PlanStep::Kind::Set: {
        Parameter* v = vars_.find(step.var);
        if (!v) throw DbError("Must declare the scalar variable \"" + step.var + "\".");
        v->value = evaluate(step.expr, *v);
        return true;
      }
      case PlanStep::Kind::Return:
        if (step.hasExpr) {
          Parameter r;
          r.type = FieldType::Int32;
          const Variant v = evaluate(step.expr, r);
          ret_ = v.isEmpty() ? 0 : v.toInt32();
        }
        return false;
      case PlanStep::Kind::Exec:
        runExec(step.text);
        return true;
      case PlanStep::Kind::Sql:
        runSql(step.text);
        return true;
    }
    return true;
  }

  // EXEC inside a body: @name arguments take the variables' values.
  void runExec(std::string_view text) {
    DialectOptions opt;
    std::vector<DialectStatement> st = translateSql(text, opt);
    if (st.size() != 1 || st[0].kind != DialectStatement::Kind::Exec) {
      runSql(std::string(text));  // SQLite reports the syntax error
      return;
    }
    ParamList args;
    for (const ExecArgument& a : st[0].args) {
      Parameter p;
      p.name = a.name;
      p.direction = a.output ? ParamDirection::InputOutput : ParamDirection::Input;
      if (!a.param.empty()) {
        Parameter* v = vars_.find(a.param[0] == '@' ? a.param : "@" + a.param);
        if (!v) throw DbError("Must declare the scalar variable \"" + a.param + "\".");
        p.value = v->value;
      } else {
        p.value = a.value;
      }
      args.push_back(std::move(p));
    }
    std::unique_ptr<Cursor> rows = nested_(st[0], args);
    for (size_t i = 0; i < args.size(); ++i) {
      const ExecArgument& a = st[0].args[i];
      if (a.output && !a.param.empty()) {
        if (Parameter* v = vars_.find(a.param[0] == '@' ? a.param : "@" + a.param))
          v->value = args[i].value;
      }
    }
    if (rows && !rows->fields().empty()) rows_ = RowSet::readAll(*rows);
  }

  // A statement of sql with the variables it names bound; its guard
  // returns it to the cache once keep() marks the run successful.
  StatementGuard prepare(std::string sql) {
    sqlite3_stmt* st = statements_ ? statements_->take(sql) : nullptr;
    if (!st) {
      const int rc =
          sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr);
      if (rc != SQLITE_OK) throwSqlite(db_, rc);
    }
    StatementGuard guard(st, statements_, std::move(sql));
    if (!st) return guard;
    const int n = sqlite3_bind_parameter_count(st);
    for (int i = 1; i <= n; ++i) {
      const char* name = sqlite3_bind_parameter_name(st, i);
      const Parameter* p = nullptr;
      if (name) {
        p = vars_.find(name);
        if (!p && name[0] != '@') p = vars_.find("@" + std::string(name + 1));
      }
      if (p) bindParameter(db_, st, i, *p);
    }
    return guard;
  }

  // SELECT expr: the first column of the first row, typed as target.
  Variant evaluate(const std::string& expr, const Parameter& target) {
    StatementGuard st = prepare("SELECT " + expr);
    const int rc = sqlite3_step(st.get());
    if (rc == SQLITE_DONE) {
      st.keep();
      return Variant::null();
    }
    if (rc != SQLITE_ROW) throwSqlite(db_, rc);
    Variant v = readColumn(st.get(), 0, target.type, target.scale);
    st.keep();
    return v;
  }

  void runSql(const std::string& sql) {
    StatementGuard st = prepare(sql);
    if (!st.get()) return;
    if (sqlite3_column_count(st.get()) == 0) {
      int rc;
      while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
      }
      if (rc != SQLITE_DONE) throwSqlite(db_, rc);
      st.keep();
      return;
    }
    RowSet rs;
    int rc = sqlite3_step(st.get());
    const int n = sqlite3_column_count(st.get());
    for (int i = 0; i < n; ++i)
      rs.fields.push_back(describeColumn(db_, st.get(), i, rc == SQLITE_ROW));
    while (rc == SQLITE_ROW) {
      std::vector<Variant> row(n);
      for (int i = 0; i < n; ++i)
        row[i] = readColumn(st.get(), i, rs.fields[i].type, rs.fields[i].scale);
      rs.rows.push_back(std::move(row));
      rc = sqlite3_step(st.get());
    }
    if (rc != SQLITE_DONE) throwSqlite(db_, rc);
    st.keep();
    rows_ = std::move(rs);
  }

  sqlite3* db_;
  SqliteStatementCache* statements_;
  const StoredProcedureText& proc_;
  const ProcedurePlan& plan_;
  const NestedExec& nested_;
  Variables vars_;
  std::optional<RowSet> rows_;
  int32_t ret_ = 0;
};

// Savepoint names must differ when procedures nest.
int& nestingDepth() {
  thread_local int depth = 0;
  return depth;
}

// Runs a transaction statement: a kept one where the handle has a cache,
// since a savepoint is taken and released for every procedure call.
void execOrThrow(sqlite3* db, SqliteStatementCache* statements, const std::string& sql) {
  if (statements) {
    statements->run(db, sql);
    return;
  }
  char* err = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
  if (rc != SQLITE_OK) {
    std::string msg = ((rc & 0xff) == SQLITE_BUSY || !err) ? sqliteErrorText(db, rc) : err;
    sqlite3_free(err);
    throw DbError(msg);
  }
}

}  // namespace

void registerEmbeddedProcedure(std::string name, EmbeddedProcFn fn) {
  Registry& r = registry();
  std::lock_guard lock(r.mu);
  r.procs[std::move(name)] = std::move(fn);
}

const EmbeddedProcFn* findEmbeddedProcedure(std::string_view name) {
  Registry& r = registry();
  std::lock_guard lock(r.mu);
  auto it = r.procs.find(std::string(name));
  return it == r.procs.end() ? nullptr : &it->second;
}

std::vector<ProcParam> parseProcedureParams(std::string_view text) {
  std::vector<ProcParam> out;
  const std::vector<Token> toks = lexSql(text);
  // Split at commas outside parentheses.
  std::vector<std::vector<const Token*>> decls(1);
  int depth = 0;
  for (const Token& t : toks) {
    if (t.trivia()) continue;
    if (t.isPunct("(")) ++depth;
    if (t.isPunct(")")) --depth;
    if (depth == 0 && t.isPunct(",")) {
      decls.emplace_back();
      continue;
    }
    decls.back().push_back(&t);
  }
  for (const auto& d : decls) {
    if (d.empty()) {
      if (decls.size() == 1) break;  // no parameters at all
      throw DbError("Procedure parameters: empty declaration in \"" + std::string(text) + "\"");
    }
    if (!d[0]->is(TokenKind::Variable) || d.size() < 2)
      throw DbError("Procedure parameters: expected \"@name type\" in \"" + std::string(text) +
                    "\"");
    ProcParam p;
    p.name = std::string(d[0]->text);
    size_t end = d.size();
    if (d.back()->isWord("output") || d.back()->isWord("out")) {
      p.output = true;
      --end;
    }
    const size_t b = d[1]->offset;
    const size_t e = d[end - 1]->offset + d[end - 1]->text.size();
    const std::string_view type = text.substr(b, e - b);
    if (!parseDeclaredType(type, &p.type))
      throw DbError("Procedure parameters: unknown type \"" + std::string(type) + "\" of " +
                    p.name);
    out.push_back(std::move(p));
  }
  return out;
}

std::unique_ptr<Cursor> runStoredProcedure(sqlite3* db, SqliteStatementCache* statements,
                                           ProcedurePlans* plans, const StoredProcedureText& proc,
                                           ParamList& args, int32_t* returnValue,
                                           const NestedExec& nested) {
  const bool own = sqlite3_get_autocommit(db) != 0;
  const std::string savepoint = "qz_proc_" + std::to_string(nestingDepth());
  execOrThrow(db, statements, own ? std::string("BEGIN IMMEDIATE") : "SAVEPOINT " + savepoint);
  std::unique_ptr<Cursor> rows;
  try {
    ++nestingDepth();
    struct Unnest {
      ~Unnest() { --nestingDepth(); }
    } unnest;
    ProcedurePlans oneOff;
    const std::shared_ptr<const ProcedurePlan> plan = (plans ? plans : &oneOff)->planOf(proc);
    Runner runner(db, statements, proc, *plan, nested);
    rows = runner.run(args, returnValue);
  } catch (...) {
    if (own) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    } else if (!sqlite3_get_autocommit(db)) {
      sqlite3_exec(db, ("ROLLBACK TO " + savepoint).c_str(), nullptr, nullptr, nullptr);
      sqlite3_exec(db, ("RELEASE " + savepoint).c_str(), nullptr, nullptr, nullptr);
    }
    throw;
  }
  try {
    execOrThrow(db, statements, own ? std::string("COMMIT") : "RELEASE " + savepoint);
  } catch (...) {
    if (own) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  return rows;
}

}  // namespace qz::db
