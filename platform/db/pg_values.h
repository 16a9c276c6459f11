// Values between PostgreSQL's text format and Variants: the field type of a
// column from its type OID and modifier, the decoding of one result value,
// and the text of a parameter value.
//
// Type rule: numeric(19,4) is the database's money type and reads as
// Currency; every other numeric reads as Decimal. text (and varchar without
// a length) reads as Memo, varchar(n)/char(n) as String of size n, timestamp
// as DateTime, date as Date (a DateTime at midnight), time as Time (a
// DateTime on 1899-12-30, the platform's day zero). Types the layer does not
// know read as Memo text.
//
// All functions are pure and thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/core/types.h"

namespace qz::db {

// How a column's text is decoded; chosen once per column, used per value.
enum class PgDecode : uint8_t {
  Bool,
  Int16,
  Int32,
  Int64,
  Float,
  Currency,
  Decimal,
  Timestamp,
  Date,
  Time,
  Text,
  Bytea,
  Void,
};

struct PgColumnType {
  FieldType type = FieldType::Memo;
  int size = 0;
  int precision = 0;
  int scale = 0;
  PgDecode decode = PgDecode::Text;
};

// The field type of a column of type `oid` with modifier `typmod` (-1 when
// unknown, as for expressions and function results).
PgColumnType pgColumnType(uint32_t oid, int typmod);

// Decodes one non-null value. Throws DbError when the text does not read as
// the type (for example a timestamp 'infinity', which no Variant holds).
Variant pgDecodeValue(PgDecode decode, std::string_view text);

// The text PostgreSQL reads for a parameter value. REQUIRES: !v.isEmpty().
// Bytes are returned raw (they are sent in binary format, see *binary).
// Throws DbError for arrays, which no statement parameter can hold.
std::string pgParamText(const Variant& v, bool* binary);

}  // namespace qz::db
