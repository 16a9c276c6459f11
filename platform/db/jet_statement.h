// The statements an Access file is sent through a Jet connection, parsed:
//
//   INSERT INTO t [(c1, c2, ...)] VALUES (v1, v2, ...)
//   DELETE [t] FROM t WHERE c = v
//   SELECT * | c1, c2, ... FROM t [WHERE c = v]
//
// A value is a string literal ('it''s'), a number, NULL, TRUE/FALSE or a
// ":name" parameter; one trailing ';' is allowed. Names may be bracketed.
//
// Thread-safety: pure function.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/core/variant.h"

namespace qz::db {

struct JetValue {
  bool isParam = false;
  std::string param;  // the parameter's name without ':'
  Variant literal;
};

struct JetStatement {
  enum class Kind { Insert, Delete, Select } kind = Kind::Insert;
  std::string table;
  std::vector<std::string>
      columns;                   // Insert: the column list (empty: table order); Select: empty = *
  std::vector<JetValue> values;  // Insert
  std::string whereColumn;       // Delete, Select ("" = no WHERE)
  JetValue whereValue;
};

// Throws DbError with the Jet provider's syntax error text.
JetStatement ParseJetStatement(std::string_view sql);

}  // namespace qz::db
