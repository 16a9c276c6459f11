// Runs datasets on a connection and reads their rows with nested details,
// either streaming into a JSON writer or into memory. Used by providers.
//
// A detail query runs once per master row with its parameters set from the
// master's fields of the same names (ASCII case ignored); parameters
// without such a field keep their values. Detail statements run while the
// master's cursor is open: both engines allow that on one connection (the
// embedded engine keeps its read lock for the whole packet, so a packet is
// read from one state of the database). Detail metadata comes from a run
// with the link parameters null, so an empty master still describes its
// details.
#pragma once

#include <memory>
#include <string>

#include "platform/db/connection.h"
#include "platform/packet/json_values.h"
#include "platform/packet/packet.h"
#include "platform/provider/dataset.h"

namespace qz::provider {

// Each run uses its dataset's command timeout; the connection gets its own
// back when the reader ends (so a packet with details changes it at most
// twice, not twice per detail query).
class DatasetReader {
 public:
  explicit DatasetReader(db::Connection& conn)
      : conn_(conn), savedTimeout_(conn.commandTimeout()) {}
  ~DatasetReader();
  DatasetReader(const DatasetReader&) = delete;
  DatasetReader& operator=(const DatasetReader&) = delete;

  // Opens ds: a query runs statement (or its own when empty), a table reads
  // table statement (or its own), a procedure is called. params are bound
  // and receive output values. Returns nullptr for a procedure without
  // rows. Throws db::DbError, or std::runtime_error for an empty statement
  // or a bad table name.
  std::unique_ptr<db::Cursor> open(const Dataset& ds, const std::string& statement,
                                   db::ParamList& params);

  // Runs ds without rows: a query its statement (or statement), a
  // procedure its call. Returns rows affected (0 for procedures). Throws as
  // open(), and std::runtime_error for a table.
  int64_t execute(const Dataset& ds, const std::string& statement, db::ParamList& params);

  // The fields of a packet of ds: cursor fields plus one Dataset field per
  // detail (with its children).
  std::vector<FieldDef> packetFields(const Dataset& ds, const std::vector<FieldDef>& base);

  // Writes the rows of cursor (at most limit when limit >= 0), each with the
  // details of ds, as a JSON array. Returns rows written.
  int64_t writeRows(JsonWriter& w, const Dataset& ds, db::Cursor& cursor, int64_t limit);
  // The same into memory.
  std::vector<DataRow> readRows(const Dataset& ds, db::Cursor& cursor, int64_t limit);

  // The detail rows of detail for one master row.
  std::vector<DataRow> readDetail(Dataset& detail, const std::vector<FieldDef>& masterFields,
                                  const std::vector<Variant>& masterValues);

 private:
  std::unique_ptr<db::Cursor> openDetail(Dataset& detail, const std::vector<FieldDef>& masterFields,
                                         const std::vector<Variant>* masterValues);
  void writeDetail(JsonWriter& w, Dataset& detail, const std::vector<FieldDef>& masterFields,
                   const std::vector<Variant>& masterValues);

  void useTimeoutOf(const Dataset& ds);

  db::Connection& conn_;
  const int savedTimeout_;
};

}  // namespace qz::provider
