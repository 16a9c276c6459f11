// The application's stored procedures for each engine (see
// docs/database.md for what each one does and returns).
//
// PostgreSQL: PL/pgSQL functions whose IN parameters take the procedure's
// inputs by position (all DEFAULT NULL, so shorter calls work) and whose OUT
// columns are the input-output parameters plus return_value, or a row set.
// Embedded engine: rows of sys_procedures (name, T-SQL style parameter
// declarations, SQLite statements with @name references).
#pragma once

#include <string>
#include <vector>

#include "platform/db/engine.h"

namespace qz::database {

struct EmbeddedProcedure {
  const char* name;
  const char* params;  // "@consumption varchar(10), ..., @billcont int OUTPUT"
  const char* body;    // statements separated by ';'
};

// The procedures of the embedded engine as sys_procedures rows.
const std::vector<EmbeddedProcedure>& embeddedProcedures();

// The statements that create the procedures (and, on PostgreSQL, the
// catalogue objects that system statements address) for `flavor`.
std::vector<std::string> procedureStatements(db::SqlFlavor flavor);

// Names of the application procedures, the same on both engines.
std::vector<std::string> procedureNames();

}  // namespace qz::database
