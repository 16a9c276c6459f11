// Short constructors that let the catalogue files read like the tables
// clients know: one line per parameter, one declaration per provider.
#pragma once

#include "services/catalog.h"

namespace qz::services::decl {

using db::FieldType;
using db::ParamDirection;

inline ParamSpec text(std::string name, int size, Variant design = {}, bool nullable = false) {
  return {std::move(name),       FieldType::String, size,  0,
          ParamDirection::Input, nullable,          false, std::move(design)};
}
// 32-bit integer, signed, precision 10, size 4.
inline ParamSpec int32(std::string name, bool nullable = false, Variant design = {}) {
  return {std::move(name),       FieldType::Int32, 4,    10,
          ParamDirection::Input, nullable,         true, std::move(design)};
}
inline ParamSpec returnValue(Variant design = {}) {
  return {"@RETURN_VALUE",  FieldType::Int32, 4, 10, ParamDirection::ReturnValue, false, true,
          std::move(design)};
}
// A nullable input of a stored procedure.
inline ParamSpec in(std::string name, FieldType type, int size = 0, int precision = 0) {
  return {std::move(name), type, size, precision, ParamDirection::Input, true, false, {}};
}
inline ParamSpec inOut(std::string name, FieldType type, int precision = 0) {
  return {std::move(name), type, 0, precision, ParamDirection::InputOutput, true, false, {}};
}

inline DatasetSpec query(std::string name, std::vector<std::string> lines = {},
                         std::vector<ParamSpec> params = {}) {
  DatasetSpec d;
  d.name = std::move(name);
  d.kind = DatasetKind::Query;
  d.lines = std::move(lines);
  d.params = std::move(params);
  return d;
}
inline DatasetSpec table(std::string name, std::string tableName) {
  DatasetSpec d;
  d.name = std::move(name);
  d.kind = DatasetKind::Table;
  d.object = std::move(tableName);
  return d;
}
inline DatasetSpec storedProc(std::string name, std::string procedure,
                              std::vector<ParamSpec> params) {
  DatasetSpec d;
  d.name = std::move(name);
  d.kind = DatasetKind::StoredProc;
  d.object = std::move(procedure);
  d.params = std::move(params);
  return d;
}
inline DatasetSpec withDetails(DatasetSpec master, std::vector<DetailSpec> details) {
  master.details = std::move(details);
  return master;
}
inline DatasetSpec withTimeout(DatasetSpec d, int seconds) {
  d.commandTimeout = seconds;
  return d;
}

constexpr bool kClientSql = true;     // the provider takes client statements
constexpr bool kNoClientSql = false;  // "CommandText changes are not allowed"

}  // namespace qz::services::decl
