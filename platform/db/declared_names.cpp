// Registry of declared column spellings; see declared_names.h.
#include "platform/db/declared_names.h"

#include <cctype>

#include "platform/core/ascii.h"

namespace qz::db {
namespace {

using ColumnMap = std::unordered_map<std::string, std::string>;  // lower -> declared

std::unordered_map<std::string, ColumnMap>& registry() {
  static std::unordered_map<std::string, ColumnMap> tables;
  return tables;
}

}  // namespace

void setDeclaredNames(const std::vector<DeclaredTable>& tables) {
  auto& r = registry();
  r.clear();
  for (const DeclaredTable& t : tables) {
    ColumnMap& m = r[AsciiLower(t.table)];
    for (const std::string& c : t.columns) m[AsciiLower(c)] = c;
  }
}

const std::string* declaredColumnName(std::string_view table, std::string_view column) {
  const auto& r = registry();
  if (r.empty()) return nullptr;
  auto t = r.find(AsciiLower(table));
  if (t == r.end()) return nullptr;
  auto c = t->second.find(AsciiLower(column));
  return c == t->second.end() ? nullptr : &c->second;
}

}  // namespace qz::db
