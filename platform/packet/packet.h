// Data packets: a table of rows with its column metadata, the form in which
// a provider hands data to a client. Columns of type Dataset hold nested
// detail tables whose columns are FieldDef::children.
//
// Invariants: every DataRow of a packet has exactly one value per field (the
// value of a Dataset field is Null and carries no meaning) and exactly one
// detail table per Dataset field, in field order. Detail rows obey the same
// rules with the children of their Dataset field.
#pragma once

#include <string_view>
#include <vector>

#include "platform/core/types.h"
#include "platform/core/variant.h"

namespace qz::provider {

using db::FieldDef;
using db::FieldType;

struct DataRow {
  std::vector<Variant> values;                // one per field
  std::vector<std::vector<DataRow>> details;  // one table per Dataset field
};

struct DataPacket {
  std::vector<FieldDef> fields;
  std::vector<DataRow> rows;
};

// Index of the field named name (ASCII case ignored), or -1.
int findField(const std::vector<FieldDef>& fields, std::string_view name);

// The positions of the Dataset fields, in field order: details[k] of a row
// belongs to fields[datasetFieldIndexes(fields)[k]].
std::vector<size_t> datasetFieldIndexes(const std::vector<FieldDef>& fields);

}  // namespace qz::provider
