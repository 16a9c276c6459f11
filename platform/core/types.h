// Field and parameter descriptions shared by the data-access layer, the
// providers and the wire: what a column or a parameter is, independent of
// the engine that produced it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/core/variant.h"

namespace qz::db {

// Column and parameter types. Dataset is used only by packets (nested details).
enum class FieldType : uint8_t {
  Boolean,
  Int16,
  Int32,
  Int64,
  Float,
  Currency,
  Decimal,
  DateTime,
  Date,
  Time,
  String,
  Memo,
  Bytes,
  Dataset,
};

// Wire names: "boolean", "int16", ... "dataset". fieldTypeFromName returns
// false for an unknown name.
const char* fieldTypeName(FieldType t);
bool fieldTypeFromName(std::string_view name, FieldType* out);

struct FieldDef {
  std::string name;
  FieldType type = FieldType::String;
  int size = 0;           // characters for String, 0 otherwise
  int precision = 0;      // Decimal
  int scale = 0;          // Decimal
  bool required = false;  // NOT NULL in the database
  bool key = false;       // part of the primary key
  bool readOnly = false;  // computed or generated: clients cannot change it
  std::string table;      // base table when known (empty for expressions)
  // Dataset fields of packets: the columns of the nested detail table.
  std::vector<FieldDef> children;
};

enum class ParamDirection : uint8_t { Input, Output, InputOutput, ReturnValue };
const char* paramDirectionName(ParamDirection d);
bool paramDirectionFromName(std::string_view name, ParamDirection* out);

struct Parameter {
  std::string name;  // without ':' for queries; with '@' for procedures
  FieldType type = FieldType::String;
  ParamDirection direction = ParamDirection::Input;
  int size = 0;
  int precision = 0;
  int scale = 0;
  bool nullable = true;
  bool isSigned = true;
  Variant value;  // Unassigned until set; bound as NULL when empty
};

using ParamList = std::vector<Parameter>;

// Finds a parameter by name without regard to ASCII case; nullptr when absent.
Parameter* findParam(ParamList& params, std::string_view name);
const Parameter* findParam(const ParamList& params, std::string_view name);

}  // namespace qz::db
