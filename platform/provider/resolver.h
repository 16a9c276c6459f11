// The default resolution of one delta row: an insert of the fields given,
// an update of the changed fields, a delete; updates and deletes find their
// row by every old value the client read (null compared as IS NULL,
// date-time columns compared as date-times whatever their stored spelling).
//
// Every value is bound as a parameter; column names are taken from the
// table's own column list (a delta field the table lacks is never written
// into a statement), the table name is the one the dataset reads.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/db/connection.h"
#include "platform/packet/delta.h"

namespace qz::provider {

struct ResolverStatement {
  std::string sql;            // empty: nothing to write (a modify without changes)
  db::ParamList params;       // bound by name (":n0", ":o0", ...)
  bool mustTouchRow = false;  // update/delete: no row touched is a failure
};

// Composes the statement for row against table whose columns are columns.
// Skipped: Dataset fields; Unassigned values; on insert, read-only or
// generated columns whose new value is null, and fields the table lacks
// whose new value is null. Old values of Memo and Bytes fields, and of
// fields the table lacks, do not take part in finding the row.
// Throws std::runtime_error for a changed field the table lacks ("Field
// 'x' not found in table 't'") and for an update or delete with no old
// value to find the row by (it would touch every row); throws
// ProviderError for a new value that does not fit its column
// (CheckFitsColumn).
ResolverStatement composeResolverStatement(const std::string& table,
                                           const std::vector<FieldDef>& columns,
                                           const std::vector<FieldDef>& fields,
                                           const DeltaRow& row);

// The statement that reads a row afresh from table: every field of fields
// the table has (Dataset fields aside), in fields' order; selected receives
// the index into fields of each column of the result. The row is found by
// the table's primary key when values hold all of it (a row another user
// changed is still found), else by every value, as an update finds its
// row. Throws std::runtime_error when no value can find the row.
ResolverStatement composeRefreshStatement(const std::string& table,
                                          const std::vector<FieldDef>& columns,
                                          const std::vector<FieldDef>& fields,
                                          const std::vector<Variant>& values,
                                          std::vector<size_t>* selected);

// The columns of the tables that one request writes, each looked up once
// (the item rows of a bill all go to one table). Single-threaded; lives for
// one request, so a table changed between requests is seen afresh.
class TableColumns {
 public:
  explicit TableColumns(db::Connection& conn) : conn_(conn) {}
  TableColumns(const TableColumns&) = delete;
  TableColumns& operator=(const TableColumns&) = delete;

  // The columns of table, looked up on first use. Throws what the
  // connection throws; a failed lookup is not kept.
  const std::vector<FieldDef>& of(const std::string& table);

 private:
  db::Connection& conn_;
  std::map<std::string, std::vector<FieldDef>> known_;
};

// Composes and runs the statement on conn. Throws ProviderError
// ("Record not found or changed by another user") when an update or delete
// touches no row, and what composing or the database throws.
// REQUIRES: row.kind is Insert, Modify or Delete.
void resolveRecord(db::Connection& conn, const std::string& table,
                   const std::vector<FieldDef>& fields, const DeltaRow& row);
// The same with the table's columns from columns (of the same connection).
void resolveRecord(db::Connection& conn, TableColumns& columns, const std::string& table,
                   const std::vector<FieldDef>& fields, const DeltaRow& row);

}  // namespace qz::provider
