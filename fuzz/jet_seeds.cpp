// Writes the seed files of the jet_file fuzz target with the project's own
// Jet file library: an empty database with a password, and one table of
// every column type the library writes holding a few rows (compressed and
// plain text, a long memo, nulls, a deleted row). The files are kept in
// fuzz/corpus/jet_file/; run this again when the writer changes.
//
// Usage: jet_fuzz_seeds DIR
#include <cstdio>
#include <string>

#include "platform/jet/database.h"

using namespace qz;
using CT = jet::ColumnType;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  const DateTime created = DateTime::fromParts(2026, 1, 2, 3, 4, 5);
  jet::Database::Create(dir + "empty_password.mdb", "6391");

  auto db = jet::Database::Create(dir + "types.mdb", "");
  db->createTable("T",
                  {{"id", CT::Long},
                   {"small", CT::Integer},
                   {"b", CT::Byte},
                   {"d", CT::Double},
                   {"s", CT::Single},
                   {"money", CT::Currency},
                   {"at", CT::DateTime},
                   {"yes", CT::Boolean},
                   {"name", CT::Text, 20},
                   {"note", CT::Memo}},
                  created);
  db->insert("T", {int32_t(1), int16_t(-2), int32_t(3), 4.5, 0.25, Currency{123456}, created, true,
                   "plain", std::string(5000, 'm')});
  db->insert("T", {int32_t(2), Variant::null(), Variant::null(), Variant::null(), Variant::null(),
                   Variant::null(), Variant::null(), false, "中文 text", "short memo"});
  db->insert("T", {int32_t(3), int16_t(7), int32_t(8), -1.0, 2.0f, Currency{-1}, created, true,
                   "gone", Variant::null()});
  db->deleteWhere("T", 0, int32_t(3));
  db->flush();
  return 0;
}
