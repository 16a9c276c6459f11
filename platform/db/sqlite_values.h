// Values between SQLite and the data-access layer: declared column types to
// field descriptions, column values to typed Variants, Variants to bound
// parameters, and SQLite failures to DbError.
//
// Storage rules of the embedded engine: date-times are ISO text
// "YYYY-MM-DD HH:MM:SS[.mmm]", money is REAL read back as Currency (four
// decimals, half to even), bit is 0/1, decimal is stored with NUMERIC
// affinity and read back as decimal text with the column's scale.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

#include "platform/core/types.h"
#include "platform/db/connection.h"

namespace qz::db {

// Fills type, size, precision and scale of *field from a declared column
// type ("varchar(10)", "money", "decimal(19,4)", "datetime"...). Returns false
// (field unchanged) for an empty or unknown type.
bool parseDeclaredType(std::string_view decl, FieldDef* field);

// The field type for a value of SQLite storage class storageClass seen in a
// column without a declared type (SQLITE_INTEGER -> Int32 or Int64 by value).
void typeFromValue(sqlite3_stmt* stmt, int column, FieldDef* field);

// Column i of stmt's current row as a value of field type t. NULL gives
// Variant::null(). Text that does not read as the field's type (a date-time
// column holding other text) is returned as a String, so nothing is lost.
Variant readColumn(sqlite3_stmt* stmt, int i, FieldType t, int scale);
// The same into *out; text goes into the string *out already holds, so a
// row buffer read row after row allocates nothing for short text.
void readColumnInto(sqlite3_stmt* stmt, int i, FieldType t, int scale, Variant* out);

// Binds p's value to marker index (1-based). Text values are converted to
// the parameter's declared type when they read as one (a text "12" for an
// Int32 parameter binds 12); other values bind natively. Empty values bind
// NULL. Throws DbError on an engine failure.
void bindParameter(sqlite3* db, sqlite3_stmt* stmt, int index, const Parameter& p);

// Binds v natively (no declared type). Throws DbError on failure.
void bindVariant(sqlite3* db, sqlite3_stmt* stmt, int index, const Variant& v);

// The message for a failed call: SQLite's own text, except that a lock wait
// that ran out of time says so.
std::string sqliteErrorText(sqlite3* db, int rc);
// The engine's own code of that failure: its extended result code, as text.
std::string sqliteEngineCode(sqlite3* db, int rc);
[[noreturn]] void throwSqlite(sqlite3* db, int rc);

// Decimal text of a double: exactly `scale` decimals when scale >= 0 (as
// the database server writes a decimal(p,s) value), else the shortest text
// that reads back as v, without exponent or trailing zeros.
std::string decimalText(double v, int scale);

}  // namespace qz::db
