// Dataset runs and row reading with nested details.
#include "platform/provider/dataset_reader.h"

#include <stdexcept>

#include "platform/packet/partial_output.h"
#include "platform/provider/provider.h"
#include "platform/provider/sql_names.h"

namespace qz::provider {
namespace {

// The statement a query dataset runs: the client's when it sent one, else
// its own. Throws when there is none.
std::string queryText(const Dataset& ds, const std::string& statement) {
  std::string text = statement.empty() ? ds.sqlText() : statement;
  if (text.find_first_not_of(" \t\r\n") == std::string::npos)
    throw ProviderError(ErrorKind::StatementRefused,
                        "No SQL statement given for dataset '" + ds.name() + "'");
  return text;
}

}  // namespace

int64_t DatasetReader::execute(const Dataset& ds, const std::string& statement,
                               db::ParamList& params) {
  conn_.ensureOpen();
  useTimeoutOf(ds);
  switch (ds.kind()) {
    case DatasetKind::Query: {
      const std::string text = queryText(ds, statement);
      return conn_.execute(text, params);
    }
    case DatasetKind::StoredProc:
      conn_.callProcedure(statement.empty() ? ds.procedureName() : statement, params);
      return 0;
    case DatasetKind::Table:
      break;
  }
  throw ProviderError(ErrorKind::StatementRefused,
                      "Dataset '" + ds.name() + "' has no statement to execute");
}

DatasetReader::~DatasetReader() {
  if (conn_.commandTimeout() != savedTimeout_) {
    try {
      conn_.setCommandTimeout(savedTimeout_);
    } catch (...) {
    }
  }
}

void DatasetReader::useTimeoutOf(const Dataset& ds) {
  if (conn_.commandTimeout() != ds.commandTimeout()) conn_.setCommandTimeout(ds.commandTimeout());
}

std::unique_ptr<db::Cursor> DatasetReader::open(const Dataset& ds, const std::string& statement,
                                                db::ParamList& params) {
  conn_.ensureOpen();
  useTimeoutOf(ds);
  switch (ds.kind()) {
    case DatasetKind::Query: {
      const std::string text = queryText(ds, statement);
      return conn_.query(text, params);
    }
    case DatasetKind::Table: {
      const std::string& table = statement.empty() ? ds.tableName() : statement;
      if (!isTableName(table))
        throw ProviderError(ErrorKind::StatementRefused, "Invalid table name: '" + table + "'");
      return conn_.query("select * from " + table);
    }
    case DatasetKind::StoredProc:
      return conn_.callProcedure(statement.empty() ? ds.procedureName() : statement, params);
  }
  return nullptr;
}

std::unique_ptr<db::Cursor> DatasetReader::openDetail(Dataset& detail,
                                                      const std::vector<FieldDef>& masterFields,
                                                      const std::vector<Variant>* masterValues) {
  db::ParamList& params = detail.params();
  for (db::Parameter& p : params) {
    int i = findField(masterFields, p.name);
    if (i < 0) continue;
    p.value = masterValues ? coerceToFieldType((*masterValues)[i], p.type) : Variant::null();
  }
  return open(detail, {}, params);
}

std::vector<FieldDef> DatasetReader::packetFields(const Dataset& ds,
                                                  const std::vector<FieldDef>& base) {
  std::vector<FieldDef> fields = base;
  for (const auto& d : ds.details()) {
    FieldDef f;
    f.name = d->name();
    f.type = FieldType::Dataset;
    auto c = openDetail(*d, base, nullptr);
    if (c) f.children = packetFields(*d, c->fields());
    fields.push_back(std::move(f));
  }
  return fields;
}

void DatasetReader::writeDetail(JsonWriter& w, Dataset& detail,
                                const std::vector<FieldDef>& masterFields,
                                const std::vector<Variant>& masterValues) {
  auto c = openDetail(detail, masterFields, &masterValues);
  if (!c) {
    w.StartArray();
    w.EndArray();
    return;
  }
  writeRows(w, detail, *c, -1);
}

int64_t DatasetReader::writeRows(JsonWriter& w, const Dataset& ds, db::Cursor& cursor,
                                 int64_t limit) {
  const std::vector<FieldDef> fields = cursor.fields();
  int64_t n = 0;
  w.StartArray();
  while ((limit < 0 || n < limit) && cursor.next()) {
    const std::vector<Variant>& row = cursor.row();
    w.StartArray();
    for (size_t i = 0; i < fields.size(); ++i) writeTyped(w, row[i], fields[i].type);
    for (const auto& d : ds.details()) writeDetail(w, *d, fields, row);
    w.EndArray();
    ++n;
    offerPartialOutput(w);  // a long answer starts leaving while the rest is read
  }
  w.EndArray();
  return n;
}

std::vector<DataRow> DatasetReader::readRows(const Dataset& ds, db::Cursor& cursor, int64_t limit) {
  const std::vector<FieldDef> fields = cursor.fields();
  std::vector<DataRow> rows;
  while ((limit < 0 || static_cast<int64_t>(rows.size()) < limit) && cursor.next()) {
    DataRow r;
    r.values = cursor.row();
    r.values.resize(fields.size() + ds.details().size(), Variant::null());
    rows.push_back(std::move(r));
  }
  for (DataRow& r : rows)
    for (const auto& d : ds.details()) r.details.push_back(readDetail(*d, fields, r.values));
  return rows;
}

std::vector<DataRow> DatasetReader::readDetail(Dataset& detail,
                                               const std::vector<FieldDef>& masterFields,
                                               const std::vector<Variant>& masterValues) {
  auto c = openDetail(detail, masterFields, &masterValues);
  if (!c) return {};
  return readRows(detail, *c, -1);
}

}  // namespace qz::provider
