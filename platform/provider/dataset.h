// Datasets behind providers: a query (statement lines with :name
// parameters), a table, or a stored procedure ("name;1" with @parameters,
// @RETURN_VALUE first). A dataset may own detail query datasets linked to
// it: for each of its rows, a detail's parameters take the values of the
// master's fields of the same names.
//
// Invariants: the kind never changes; details are queries and are owned by
// their master; a parameter list keeps its order.
//
// Thread-safety: belongs to one module instance; one thread at a time.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/types.h"

namespace qz::provider {

enum class DatasetKind : uint8_t { Query, Table, StoredProc };

class Dataset {
 public:
  Dataset(const Dataset&) = delete;
  Dataset& operator=(const Dataset&) = delete;

  // name is the component name ("bills", "billitems").
  static std::unique_ptr<Dataset> makeQuery(std::string name, std::vector<std::string> lines = {},
                                            db::ParamList params = {});
  static std::unique_ptr<Dataset> makeTable(std::string name, std::string table);
  // procedure as designed, e.g. "DayRpt;1".
  static std::unique_ptr<Dataset> makeStoredProc(std::string name, std::string procedure,
                                                 db::ParamList params);

  const std::string& name() const { return name_; }
  DatasetKind kind() const { return kind_; }

  // Query: the statement lines, joined with line breaks when sent.
  const std::vector<std::string>& sql() const { return lines_; }
  void setSql(std::vector<std::string> lines) { lines_ = std::move(lines); }
  std::string sqlText() const;
  // Table: the table name. StoredProc: the procedure name.
  const std::string& tableName() const { return object_; }
  const std::string& procedureName() const { return object_; }

  // Parameters with their design values (values set by clients stay).
  db::ParamList& params() { return params_; }
  const db::ParamList& params() const { return params_; }

  int commandTimeout() const { return commandTimeout_; }
  void setCommandTimeout(int seconds) { commandTimeout_ = seconds; }

  // Links a detail query. Returns it. REQUIRES: detail is a Query.
  Dataset& addDetail(std::unique_ptr<Dataset> detail);
  const std::vector<std::unique_ptr<Dataset>>& details() const { return details_; }
  // The detail named name (ASCII case ignored), or nullptr.
  Dataset* findDetail(std::string_view name) const;
  Dataset* master() const { return master_; }

 private:
  Dataset(std::string name, DatasetKind kind) : name_(std::move(name)), kind_(kind) {}

  std::string name_;
  DatasetKind kind_;
  std::vector<std::string> lines_;
  std::string object_;
  db::ParamList params_;
  int commandTimeout_ = 30;
  Dataset* master_ = nullptr;
  std::vector<std::unique_ptr<Dataset>> details_;
};

}  // namespace qz::provider
