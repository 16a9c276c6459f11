// Lookup in the class table.
#include "server/class_table.h"

#include "platform/db/connection_string.h"

namespace qz::server {

const ClassInfo* findClass(std::string_view key) {
  std::string_view bare = key;
  if (bare.size() >= 2 && bare.front() == '{' && bare.back() == '}')
    bare = bare.substr(1, bare.size() - 2);
  for (const ClassInfo& c : kClasses) {
    std::string_view id = c.clsid.substr(1, c.clsid.size() - 2);
    if (db::equalsNoCase(key, c.name) || db::equalsNoCase(key, c.progId) ||
        db::equalsNoCase(bare, id))
      return &c;
  }
  return nullptr;
}

}  // namespace qz::server
