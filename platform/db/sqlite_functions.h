// SQL functions the embedded engine adds to SQLite so that the rewritten
// T-SQL runs: getdate(), datepart(unit, x) and qz_datetime(x).
#pragma once

#include <sqlite3.h>

#include <string_view>

#include "platform/core/variant.h"

namespace qz::db {

// Registers the functions on db. Returns an SQLite result code.
int registerSqlFunctions(sqlite3* db);

// The value of datepart(unit, t) as the old database server computes it:
// weekday 1 = Sunday; week 1 holds January 1 and weeks start on Sunday.
// REQUIRES: unit is a canonical unit (canonicalDatePart).
int datePartOf(std::string_view unit, DateTime t);

}  // namespace qz::db
