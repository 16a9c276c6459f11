// Registry of declared column spellings; see declared_names.h.
#include "platform/db/declared_names.h"

#include <cctype>

namespace qz::db {
namespace {

std::string lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

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
    ColumnMap& m = r[lowered(t.table)];
    for (const std::string& c : t.columns) m[lowered(c)] = c;
  }
}

const std::string* declaredColumnName(std::string_view table, std::string_view column) {
  const auto& r = registry();
  if (r.empty()) return nullptr;
  auto t = r.find(lowered(table));
  if (t == r.end()) return nullptr;
  auto c = t->second.find(lowered(column));
  return c == t->second.end() ? nullptr : &c->second;
}

}  // namespace qz::db
