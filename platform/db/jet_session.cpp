// The Jet engine session over the Jet file library.
#include "platform/db/jet_session.h"

#include <unistd.h>

#include <string_view>
#include <unordered_map>

#include "platform/db/jet_statement.h"
#include "platform/jet/database.h"
#include "platform/jet/jet_error.h"
#include "platform/jet/row_codec.h"
#include "platform/log/server_log.h"

namespace qz::db {
namespace {

using jet::ColumnType;

FieldDef FieldOf(const jet::ColumnDef& c) {
  FieldDef f;
  f.name = c.name;
  switch (c.type) {
    case ColumnType::Boolean:
      f.type = FieldType::Boolean;
      break;
    case ColumnType::Byte:
    case ColumnType::Integer:
      f.type = FieldType::Int16;
      break;
    case ColumnType::Long:
      f.type = FieldType::Int32;
      break;
    case ColumnType::Currency:
      f.type = FieldType::Currency;
      break;
    case ColumnType::Single:
    case ColumnType::Double:
      f.type = FieldType::Float;
      break;
    case ColumnType::DateTime:
      f.type = FieldType::DateTime;
      break;
    case ColumnType::Text:
      f.type = FieldType::String;
      f.size = c.length / 2;
      break;
    case ColumnType::Memo:
      f.type = FieldType::Memo;
      break;
    default:
      f.type = FieldType::Bytes;
      break;
  }
  return f;
}

class RowsCursor : public Cursor {
 public:
  RowsCursor(std::vector<FieldDef> fields, std::vector<std::vector<Variant>> rows)
      : fields_(std::move(fields)), rows_(std::move(rows)) {}
  const std::vector<FieldDef>& fields() const override { return fields_; }
  bool next() override { return ++at_ < rows_.size(); }
  const std::vector<Variant>& row() const override { return rows_[at_]; }

 private:
  std::vector<FieldDef> fields_;
  std::vector<std::vector<Variant>> rows_;
  size_t at_ = size_t(-1);
};

// A parsed statement with its parameters resolved to slots: the distinct
// names in order of first appearance.
struct Prepared {
  JetStatement st;
  std::vector<std::string> names;
  std::vector<int> valueSlots;  // per st.values: slot, or -1 for a literal
  int whereSlot = -1;
  // Where each name was found in the caller's list last time, tried first.
  mutable std::vector<size_t> hints;
  // The column names resolved against the table definition they were
  // resolved for: per st.values (Insert) the value's column, and the
  // WHERE column.
  mutable const jet::TableDef* resolvedFor = nullptr;
  mutable std::vector<size_t> targets;
  mutable size_t whereAt = 0;
};

Prepared Prepare(std::string_view sql) {
  Prepared p;
  p.st = ParseJetStatement(sql);
  auto slotOf = [&](const JetValue& v) {
    if (!v.isParam) return -1;
    for (size_t i = 0; i < p.names.size(); ++i)
      if (EqualsNoCase(p.names[i], v.param)) return int(i);
    p.names.push_back(v.param);
    return int(p.names.size() - 1);
  };
  for (const JetValue& v : p.st.values) p.valueSlots.push_back(slotOf(v));
  if (!p.st.whereColumn.empty()) p.whereSlot = slotOf(p.st.whereValue);
  p.hints.assign(p.names.size(), 0);
  return p;
}

struct TextHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

class JetSession : public EngineSession {
 public:
  explicit JetSession(std::unique_ptr<jet::Database> db) : db_(std::move(db)) {}
  ~JetSession() override {
    try {
      db_->flush();
    } catch (const jet::JetError& e) {
      log::error(std::string("Access file: changes not written on close: ") + e.what());
    }
  }
  EngineKind kind() const override { return EngineKind::Embedded; }
  SqlFlavor flavor() const override { return SqlFlavor::Sqlite; }
  void begin() override {
    throw DbError("Transactions are not supported on this Access file connection.");
  }
  void commit() override { throw DbError("No transaction is active."); }
  void rollback() override { throw DbError("No transaction is active."); }
  bool inTransaction() const override { return false; }
  void setCommandTimeout(int) override {}
  void flush() override {
    guarded([&] { db_->flush(); });
  }

  int64_t execute(const std::string& sql, const std::vector<Parameter>& binds) override {
    return guarded([&] {
      const Prepared& p = prepare(sql);
      return run(p, positional(p, binds), nullptr);
    });
  }
  std::unique_ptr<Cursor> query(const std::string& sql,
                                const std::vector<Parameter>& binds) override {
    return guarded([&] {
      const Prepared& p = prepare(sql);
      std::unique_ptr<Cursor> out;
      run(p, positional(p, binds), &out);
      return out;
    });
  }
  int64_t executeNamed(std::string_view sql, const ParamList& params) {
    return guarded([&] {
      const Prepared& p = prepare(sql);
      return run(p, named(p, params), nullptr);
    });
  }
  std::unique_ptr<Cursor> queryNamed(std::string_view sql, const ParamList& params) {
    return guarded([&] {
      const Prepared& p = prepare(sql);
      std::unique_ptr<Cursor> out;
      run(p, named(p, params), &out);
      return out;
    });
  }
  std::unique_ptr<Cursor> callProcedure(const std::string& name, ParamList&) override {
    throw DbError("The Microsoft Jet database engine cannot find the input table or query '" +
                  name + "'.");
  }
  std::vector<FieldDef> tableFields(const std::string& table) override {
    return guarded([&] {
      std::vector<FieldDef> out;
      for (const jet::ColumnDef* c : db_->table(table).columnsInRowOrder())
        out.push_back(FieldOf(*c));
      return out;
    });
  }

 private:
  // Statements with parameters are kept parsed: the export runs each of
  // them once per row. Literal statements are rarely sent twice.
  static constexpr size_t kMaxPrepared = 64;
  static constexpr const char* kNoValue = "No value given for one or more required parameters.";

  template <class F>
  auto guarded(F&& f) -> decltype(f()) {
    try {
      return f();
    } catch (const jet::JetError& e) {
      throw DbError(e.what());
    }
  }

  const Prepared& prepare(std::string_view sql) {
    if (auto it = prepared_.find(sql); it != prepared_.end()) return it->second;
    Prepared p = Prepare(sql);
    if (p.names.empty()) {
      oneOff_ = std::move(p);
      return oneOff_;
    }
    if (prepared_.size() >= kMaxPrepared) prepared_.clear();
    return prepared_.emplace(std::string(sql), std::move(p)).first->second;
  }

  // Slot values from binds in order of first appearance.
  static std::vector<const Variant*> positional(const Prepared& p,
                                                const std::vector<Parameter>& binds) {
    if (binds.size() < p.names.size()) throw StatementRefusedError(kNoValue);
    std::vector<const Variant*> slots;
    for (size_t i = 0; i < p.names.size(); ++i) slots.push_back(&binds[i].value);
    return slots;
  }

  // Slot values from the caller's parameters by name (ASCII case ignored).
  static std::vector<const Variant*> named(const Prepared& p, const ParamList& params) {
    std::vector<const Variant*> slots;
    for (size_t i = 0; i < p.names.size(); ++i) {
      size_t& hint = p.hints[i];
      // The caller's names are usually spelled as in the text: compared
      // exactly first.
      if (hint >= params.size() ||
          (params[hint].name != p.names[i] && !EqualsNoCase(params[hint].name, p.names[i]))) {
        hint = 0;
        while (hint < params.size() && !EqualsNoCase(params[hint].name, p.names[i])) ++hint;
        if (hint == params.size()) throw StatementRefusedError(kNoValue);
      }
      slots.push_back(&params[hint].value);
    }
    return slots;
  }

  static const Variant& valueOf(const JetValue& v, int slot,
                                const std::vector<const Variant*>& slots) {
    return slot < 0 ? v.literal : *slots[size_t(slot)];
  }

  // Resolves the statement's column names against def, once per definition.
  void resolve(const Prepared& p, const jet::TableDef& def) {
    if (p.resolvedFor == &def) return;
    const JetStatement& st = p.st;
    const size_t width = def.columnsInRowOrder().size();
    std::vector<size_t> targets;
    if (st.kind == JetStatement::Kind::Insert) {
      if (st.columns.empty()) {
        if (st.values.size() != width)
          throw DbError("Number of query values and destination fields are not the same.");
        for (size_t i = 0; i < width; ++i) targets.push_back(i);
      } else {
        if (st.values.size() != st.columns.size())
          throw DbError("Number of query values and destination fields are not the same.");
        for (const std::string& c : st.columns) {
          try {
            targets.push_back(db_->columnIndex(def, c));
          } catch (const jet::JetError&) {
            throw DbError(
                "The INSERT INTO statement contains the following unknown field name: '" + c +
                "'.  Make sure you have typed the name correctly, and try the operation again.");
          }
        }
      }
    }
    p.whereAt = st.whereColumn.empty() ? 0 : db_->columnIndex(def, st.whereColumn);
    p.targets = std::move(targets);
    p.resolvedFor = &def;
  }

  int64_t run(const Prepared& p, const std::vector<const Variant*>& slots,
              std::unique_ptr<Cursor>* rows) {
    const JetStatement& st = p.st;
    const jet::TableDef& def = db_->table(st.table);
    resolve(p, def);
    switch (st.kind) {
      case JetStatement::Kind::Insert: {
        std::vector<Variant> values(def.columns.size(), Variant::null());
        for (size_t i = 0; i < st.values.size(); ++i)
          values[p.targets[i]] = valueOf(st.values[i], p.valueSlots[i], slots);
        db_->insert(st.table, values);
        return 1;
      }
      case JetStatement::Kind::Delete:
        return db_->deleteWhere(st.table, p.whereAt, valueOf(st.whereValue, p.whereSlot, slots));
      case JetStatement::Kind::Select: {
        const auto cols = def.columnsInRowOrder();
        std::vector<size_t> pick;
        if (st.columns.empty())
          for (size_t i = 0; i < cols.size(); ++i) pick.push_back(i);
        for (const std::string& c : st.columns) pick.push_back(db_->columnIndex(def, c));
        std::vector<FieldDef> fields;
        for (size_t i : pick) fields.push_back(FieldOf(*cols[i]));
        const size_t whereAt = p.whereAt;
        Variant want;
        if (!st.whereColumn.empty())
          want = jet::CoerceToColumn(*cols[whereAt], valueOf(st.whereValue, p.whereSlot, slots));
        std::vector<std::vector<Variant>> out;
        db_->scan(st.table, [&](const std::vector<Variant>& row) {
          if (!st.whereColumn.empty() && (row[whereAt].isNull() || !(row[whereAt] == want))) return;
          std::vector<Variant> r;
          for (size_t i : pick) r.push_back(row[i]);
          out.push_back(std::move(r));
        });
        if (!rows) return 0;
        *rows = std::make_unique<RowsCursor>(std::move(fields), std::move(out));
        return 0;
      }
    }
    return 0;
  }

  std::unique_ptr<jet::Database> db_;
  std::unordered_map<std::string, Prepared, TextHash, std::equal_to<>> prepared_;
  Prepared oneOff_;
};

}  // namespace

bool IsJetSession(const EngineSession& session) {
  return dynamic_cast<const JetSession*>(&session) != nullptr;
}

int64_t JetExecute(EngineSession& session, std::string_view sql, const ParamList& params) {
  return static_cast<JetSession&>(session).executeNamed(sql, params);
}

std::unique_ptr<Cursor> JetQuery(EngineSession& session, std::string_view sql,
                                 const ParamList& params) {
  return static_cast<JetSession&>(session).queryNamed(sql, params);
}

bool IsJetProvider(const ConnectionString& cs) {
  const std::string p = cs.value("Provider");
  return p.size() >= 19 && EqualsNoCase(std::string_view(p).substr(0, 19), "Microsoft.Jet.OLEDB");
}

std::unique_ptr<EngineSession> openJet(const ConnectionString& cs) {
  const std::string path = cs.value("Data Source");
  const std::string password = cs.value("Jet OLEDB:Database Password");
  if (path.empty() || ::access(path.c_str(), F_OK) != 0)
    throw DbError("Could not find file '" + path + "'.");
  try {
    const bool writable = ::access(path.c_str(), W_OK) == 0;
    return std::make_unique<JetSession>(jet::Database::Open(path, password, writable));
  } catch (const jet::JetError& e) {
    if (e.code() == jet::JetErrorCode::NotJet4)
      throw DbError("Unrecognized database format '" + path + "'.");
    throw DbError(e.what());
  }
}

}  // namespace qz::db
