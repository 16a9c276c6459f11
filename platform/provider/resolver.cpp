// Statement composition of the default resolution.
#include "platform/provider/resolver.h"

#include <stdexcept>

#include "platform/provider/column_fit.h"
#include "platform/provider/provider.h"
#include "platform/provider/sql_names.h"

namespace qz::provider {
namespace {

db::Parameter bind(std::string name, const FieldDef& f, const Variant& v) {
  db::Parameter p;
  p.name = std::move(name);
  p.type = f.type;
  p.size = f.size;
  p.precision = f.precision;
  p.scale = f.scale;
  p.value = v.isUnassigned() ? Variant::null() : v;
  return p;
}

[[noreturn]] void missingColumn(const FieldDef& f, const std::string& table) {
  throw ProviderError(ErrorKind::StatementRefused,
                      "Field '" + f.name + "' not found in table '" + table + "'");
}

void appendWhere(ResolverStatement& st, const std::string& table,
                 const std::vector<FieldDef>& columns, const std::vector<FieldDef>& fields,
                 const DeltaRow& row) {
  std::string where;
  for (size_t i = 0; i < fields.size(); ++i) {
    const FieldDef& f = fields[i];
    const Variant& old = row.oldValues[i];
    if (f.type == FieldType::Dataset || f.type == FieldType::Memo || f.type == FieldType::Bytes ||
        old.isUnassigned())
      continue;
    int c = findField(columns, f.name);
    if (c < 0 || columns[c].type == FieldType::Memo || columns[c].type == FieldType::Bytes)
      continue;
    where += where.empty() ? " where " : " and ";
    if (old.isNull()) {
      where += bracketName(columns[c].name) + " is null";
    } else {
      std::string pn = "o" + std::to_string(i);
      const FieldType ct = columns[c].type;
      if (ct == FieldType::DateTime || ct == FieldType::Date || ct == FieldType::Time) {
        // Compared as date-times: the stored text of an engine with loose
        // types may spell the same instant differently ("2026-12-02",
        // "2026-12-02T00:00:00").
        where += "cast(" + bracketName(columns[c].name) + " as datetime) = :" + pn;
      } else {
        where += bracketName(columns[c].name) + " = :" + pn;
      }
      st.params.push_back(bind(pn, f, old));
    }
  }
  if (where.empty())
    throw ProviderError(ErrorKind::BadRequest,
                        "Record of table '" + table + "' has no old values to find it by");
  st.sql += where;
}

}  // namespace

ResolverStatement composeResolverStatement(const std::string& table,
                                           const std::vector<FieldDef>& columns,
                                           const std::vector<FieldDef>& fields,
                                           const DeltaRow& row) {
  ResolverStatement st;
  switch (row.kind) {
    case UpdateKind::Insert: {
      std::string names, values;
      for (size_t i = 0; i < fields.size(); ++i) {
        const FieldDef& f = fields[i];
        const Variant& v = row.newValues[i];
        if (f.type == FieldType::Dataset || v.isUnassigned()) continue;
        int c = findField(columns, f.name);
        if (c < 0) {
          if (v.isNull()) continue;
          missingColumn(f, table);
        }
        if (v.isNull() && (columns[c].readOnly || f.readOnly)) continue;
        CheckFitsColumn(columns[c], f.name, v);
        std::string pn = "n" + std::to_string(i);
        if (!names.empty()) names += ", ", values += ", ";
        names += bracketName(columns[c].name);
        values += ":" + pn;
        st.params.push_back(bind(pn, f, v));
      }
      st.sql = names.empty() ? "insert into " + table + " default values"
                             : "insert into " + table + " (" + names + ") values (" + values + ")";
      return st;
    }
    case UpdateKind::Modify: {
      std::string sets;
      for (size_t i = 0; i < fields.size(); ++i) {
        const FieldDef& f = fields[i];
        const Variant& v = row.newValues[i];
        if (f.type == FieldType::Dataset || v.isUnassigned()) continue;
        int c = findField(columns, f.name);
        if (c < 0) missingColumn(f, table);
        CheckFitsColumn(columns[c], f.name, v);
        std::string pn = "n" + std::to_string(i);
        sets += sets.empty() ? "" : ", ";
        sets += bracketName(columns[c].name) + " = :" + pn;
        st.params.push_back(bind(pn, f, v));
      }
      if (sets.empty()) return st;
      st.sql = "update " + table + " set " + sets;
      appendWhere(st, table, columns, fields, row);
      st.mustTouchRow = true;
      return st;
    }
    case UpdateKind::Delete:
      st.sql = "delete from " + table;
      appendWhere(st, table, columns, fields, row);
      st.mustTouchRow = true;
      return st;
    case UpdateKind::Unmodified:
      break;
  }
  return st;
}

ResolverStatement composeRefreshStatement(const std::string& table,
                                          const std::vector<FieldDef>& columns,
                                          const std::vector<FieldDef>& fields,
                                          const std::vector<Variant>& values,
                                          std::vector<size_t>* selected) {
  selected->clear();
  std::string names;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].type == FieldType::Dataset) continue;
    int c = findField(columns, fields[i].name);
    if (c < 0) continue;
    names += names.empty() ? "" : ", ";
    names += bracketName(columns[c].name);
    selected->push_back(i);
  }
  if (names.empty())
    throw ProviderError(ErrorKind::BadRequest,
                        "Record of table '" + table + "' has no field to read");
  DeltaRow row;
  row.kind = UpdateKind::Delete;
  row.oldValues = values;
  row.oldValues.resize(fields.size());
  // By the table's primary key when the row carries all of it, so that a
  // row another user changed is still found; else by every value.
  bool byKey = false;
  std::vector<bool> isKey(fields.size(), false);
  for (const FieldDef& col : columns) {
    if (!col.key) continue;
    int f = findField(fields, col.name);
    if (f < 0 || row.oldValues[f].isUnassigned() || row.oldValues[f].isNull()) {
      byKey = false;
      break;
    }
    isKey[f] = byKey = true;
  }
  if (byKey)
    for (size_t i = 0; i < fields.size(); ++i)
      if (!isKey[i]) row.oldValues[i] = Variant();
  ResolverStatement st;
  st.sql = "select " + names + " from " + table;
  appendWhere(st, table, columns, fields, row);
  return st;
}

const std::vector<FieldDef>& TableColumns::of(const std::string& table) {
  auto it = known_.find(table);
  if (it == known_.end()) it = known_.emplace(table, conn_.tableFields(table)).first;
  return it->second;
}

void resolveRecord(db::Connection& conn, const std::string& table,
                   const std::vector<FieldDef>& fields, const DeltaRow& row) {
  TableColumns columns(conn);
  resolveRecord(conn, columns, table, fields, row);
}

void resolveRecord(db::Connection& conn, TableColumns& tables, const std::string& table,
                   const std::vector<FieldDef>& fields, const DeltaRow& row) {
  conn.ensureOpen();
  const std::vector<FieldDef>& columns = tables.of(table);
  if (columns.empty())
    throw ProviderError(ErrorKind::StatementRefused, "Table '" + table + "' not found");
  ResolverStatement st = composeResolverStatement(table, columns, fields, row);
  if (st.sql.empty()) return;
  int64_t n = conn.execute(st.sql, st.params);
  if (st.mustTouchRow && n == 0) throw ProviderError(ErrorKind::RecordChanged, kRecordChanged);
}

}  // namespace qz::provider
