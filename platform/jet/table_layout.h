// Turns a column list into a table definition: column numbers in list
// order, fixed-length values packed one after another in that order,
// Booleans in the null mask only, variable-length values numbered in order.
//
// Thread-safety: pure function.
#pragma once

#include <vector>

#include "platform/jet/database.h"
#include "platform/jet/table_def.h"

namespace qz::jet {

// system: the flags and column order of Jet's system tables (columns
// stored sorted by name); otherwise those Access gives user tables.
// Throws JetError(BadValue) for a bad name, length or duplicate column.
TableDef MakeTableDef(const std::vector<ColumnSpec>& columns, bool system);

}  // namespace qz::jet
