// The spelling of table columns as the application declares them.
//
// PostgreSQL folds unquoted names to lower case, so its result columns read
// "pamount" where the application's schema (and the embedded engine) says
// "PAmount". The application registers its declared names once at start;
// the PostgreSQL session then names every result column that is an
// unrenamed column of a registered table as declared, so that clients see
// the same field names on both engines.
//
// Thread-safety: set once at start, before any connection opens; read-only
// afterwards and then safe to read from any thread.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qz::db {

struct DeclaredTable {
  std::string table;                 // as declared ("CLIENT"); matched without regard to case
  std::vector<std::string> columns;  // as declared ("bankID", "PAmount")
};

// Replaces the registered names. REQUIRES: no connection is open.
void setDeclaredNames(const std::vector<DeclaredTable>& tables);

// The declared spelling of column of table (both matched without regard to
// case), or nullptr when the table or the column is not registered.
const std::string* declaredColumnName(std::string_view table, std::string_view column);

}  // namespace qz::db
