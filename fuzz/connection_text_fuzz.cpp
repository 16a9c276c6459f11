// Fuzz target: connection texts ("Key=Value;..."), as they come from the
// settings dialog and settings files, and their translation into the
// PostgreSQL client's keywords. Composing a parsed text and parsing it
// again must give the same pairs.
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "platform/db/connection.h"
#include "platform/db/connection_string.h"
#include "platform/db/pg_conninfo.h"

using namespace qz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  db::ConnectionString cs = db::ConnectionString::parse(text);

  const std::string composed = cs.toString();
  db::ConnectionString again = db::ConnectionString::parse(composed);
  if (again.pairs() != cs.pairs()) {
    std::fprintf(stderr, "composed: %s\n", composed.c_str());
    fuzz::Check(false, "a composed connection text parses back to the same pairs");
  }

  // Each key is set and removed on a copy, a parse of the whole text each:
  // the first few keys show it, and a text of thousands of keys would
  // otherwise make every run quadratic.
  size_t tried = 0;
  for (const auto& [key, value] : cs.pairs()) {
    if (++tried > 8) break;
    fuzz::Check(cs.has(key), "every key is found");
    db::ConnectionString changed = cs;
    changed.set(key, "x;y='z\"");
    fuzz::Check(db::ConnectionString::parse(changed.toString()).value(key) == "x;y='z\"",
                "a value set with quotes and separators reads back");
    fuzz::Check(changed.remove(key) && !changed.has(key), "a removed key is gone");
  }

  try {
    db::PgConnInfo info = db::pgConnInfo(cs, 5);
    for (const auto& [keyword, value] : info.params)
      fuzz::Check(!keyword.empty(), "libpq keywords are named");
  } catch (const db::DbError&) {
    // A text the PostgreSQL side refuses with its own message ("host:port").
  }
  db::pgDatabaseName(cs.value("Initial Catalog"));
  return 0;
}
