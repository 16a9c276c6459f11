// PostgreSQL text format <-> Variant (see pg_values.h for the type rule).
#include "platform/db/pg_values.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "platform/db/connection.h"

namespace qz::db {
namespace {

// Type OIDs of the built-in types (pg_type.dat); stable across versions.
constexpr uint32_t kBool = 16, kBytea = 17, kChar = 18, kName = 19, kInt8 = 20, kInt2 = 21,
                   kInt4 = 23, kText = 25, kOid = 26, kFloat4 = 700, kFloat8 = 701, kBpchar = 1042,
                   kVarchar = 1043, kDate = 1082, kTime = 1083, kTimestamp = 1114,
                   kTimestamptz = 1184, kNumeric = 1700, kVoid = 2278;

constexpr int64_t kMsPerDay = 86400000;

[[noreturn]] void badValue(const char* what, std::string_view text) {
  throw DbError("cannot read " + std::string(what) + " value '" + std::string(text) + "'");
}

template <typename T>
T parseInt(std::string_view t, const char* what) {
  T v{};
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec != std::errc() || p != t.data() + t.size()) badValue(what, t);
  return v;
}

int digits(const char* p, int n) {
  int v = 0;
  for (int i = 0; i < n; ++i) v = v * 10 + (p[i] - '0');
  return v;
}

bool allDigits(std::string_view t, size_t pos, size_t n) {
  if (pos + n > t.size()) return false;
  for (size_t i = pos; i < pos + n; ++i)
    if (t[i] < '0' || t[i] > '9') return false;
  return true;
}

// "HH:MM:SS[.ffffff]" at t[pos..] -> milliseconds of the day; false if malformed.
bool parseClock(std::string_view t, size_t pos, int64_t* ms, size_t* end) {
  if (!allDigits(t, pos, 2) || !allDigits(t, pos + 3, 2) || !allDigits(t, pos + 6, 2) ||
      t[pos + 2] != ':' || t[pos + 5] != ':')
    return false;
  const char* p = t.data() + pos;
  int64_t v = ((digits(p, 2) * 60LL + digits(p + 3, 2)) * 60 + digits(p + 6, 2)) * 1000;
  size_t i = pos + 8;
  if (i < t.size() && t[i] == '.') {
    ++i;
    int frac = 0, n = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
      if (n < 3) {
        frac = frac * 10 + (t[i] - '0');
        ++n;
      }
      ++i;
    }
    while (n < 3) {
      frac *= 10;
      ++n;
    }
    v += frac;
  }
  *ms = v;
  *end = i;
  return true;
}

// "YYYY-MM-DD" at the start of t -> days since 1970-01-01.
bool parseDay(std::string_view t, int64_t* ms) {
  if (!allDigits(t, 0, 4) || t.size() < 10 || t[4] != '-' || !allDigits(t, 5, 2) || t[7] != '-' ||
      !allDigits(t, 8, 2))
    return false;
  // A year of more than four digits or a BC date has other characters here.
  if (t.size() > 10 && t[10] != ' ') return false;
  const char* p = t.data();
  *ms = DateTime::fromParts(digits(p, 4), digits(p + 5, 2), digits(p + 8, 2)).msecs;
  return true;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

PgColumnType pgColumnType(uint32_t oid, int typmod) {
  PgColumnType c;
  switch (oid) {
    case kBool:
      c.type = FieldType::Boolean;
      c.decode = PgDecode::Bool;
      break;
    case kInt2:
      c.type = FieldType::Int16;
      c.decode = PgDecode::Int16;
      break;
    case kInt4:
    case kOid:
      c.type = FieldType::Int32;
      c.decode = PgDecode::Int32;
      break;
    case kInt8:
      c.type = FieldType::Int64;
      c.decode = PgDecode::Int64;
      break;
    case kFloat4:
    case kFloat8:
      c.type = FieldType::Float;
      c.decode = PgDecode::Float;
      break;
    case kNumeric:
      if (typmod >= 4) {
        c.precision = ((typmod - 4) >> 16) & 0xffff;
        c.scale = (typmod - 4) & 0xffff;
      }
      if (c.precision == 19 && c.scale == 4) {
        c.type = FieldType::Currency;
        c.decode = PgDecode::Currency;
        c.precision = c.scale = 0;
      } else {
        c.type = FieldType::Decimal;
        c.decode = PgDecode::Decimal;
      }
      break;
    case kTimestamp:
    case kTimestamptz:
      c.type = FieldType::DateTime;
      c.decode = PgDecode::Timestamp;
      break;
    case kDate:
      c.type = FieldType::Date;
      c.decode = PgDecode::Date;
      break;
    case kTime:
      c.type = FieldType::Time;
      c.decode = PgDecode::Time;
      break;
    case kVarchar:
    case kBpchar:
      if (typmod >= 4) {
        c.type = FieldType::String;
        c.size = typmod - 4;
      } else {
        c.type = oid == kBpchar ? FieldType::String : FieldType::Memo;
        c.size = oid == kBpchar ? 1 : 0;
      }
      break;
    case kChar:
      c.type = FieldType::String;
      c.size = 1;
      break;
    case kName:
      c.type = FieldType::String;
      c.size = 63;
      break;
    case kBytea:
      c.type = FieldType::Bytes;
      c.decode = PgDecode::Bytea;
      break;
    case kVoid:
      c.decode = PgDecode::Void;
      break;
    case kText:
    default:
      break;
  }
  return c;
}

Variant pgDecodeValue(PgDecode decode, std::string_view t) {
  switch (decode) {
    case PgDecode::Bool:
      return Variant(!t.empty() && t[0] == 't');
    case PgDecode::Int16:
      return Variant(parseInt<int16_t>(t, "smallint"));
    case PgDecode::Int32:
      return Variant(parseInt<int32_t>(t, "integer"));
    case PgDecode::Int64:
      return Variant(parseInt<int64_t>(t, "bigint"));
    case PgDecode::Float: {
      double d = 0;
      auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), d);
      if (ec == std::errc() && p == t.data() + t.size()) return Variant(d);
      if (t == "NaN") return Variant(std::nan(""));
      if (t == "Infinity") return Variant(HUGE_VAL);
      if (t == "-Infinity") return Variant(-HUGE_VAL);
      badValue("floating-point", t);
    }
    case PgDecode::Currency: {
      Currency c;
      if (Currency::parse(t, &c)) return Variant(c);
      // numeric(19,4) holds values beyond the currency range (written by an
      // older version): they read as decimal so the row can still be read.
      if (t == "NaN") badValue("money", t);
      return Variant::decimal(std::string(t));
    }
    case PgDecode::Decimal:
      if (t == "NaN") badValue("numeric", t);
      return Variant::decimal(std::string(t));
    case PgDecode::Timestamp: {
      int64_t day = 0, clock = 0;
      size_t end = 0;
      if (!parseDay(t, &day) || t.size() < 19 || !parseClock(t, 11, &clock, &end))
        badValue("timestamp", t);
      // A zone suffix (timestamptz) is dropped: the value is read as the
      // session's local time, which is how the server printed it.
      return Variant(DateTime{day + clock});
    }
    case PgDecode::Date: {
      int64_t day = 0;
      if (t.size() != 10 || !parseDay(t, &day)) badValue("date", t);
      return Variant(DateTime{day});
    }
    case PgDecode::Time: {
      int64_t clock = 0;
      size_t end = 0;
      if (!parseClock(t, 0, &clock, &end) || clock >= kMsPerDay + 1000) badValue("time", t);
      // A time of day alone sits on the platform's day zero, 1899-12-30.
      static const int64_t kDayZero = DateTime::fromParts(1899, 12, 30).msecs;
      return Variant(DateTime{kDayZero + clock});
    }
    case PgDecode::Bytea: {
      if (t.size() < 2 || t[0] != '\\' || t[1] != 'x' || t.size() % 2 != 0) badValue("bytea", t);
      std::string out;
      out.resize((t.size() - 2) / 2);
      for (size_t i = 2, o = 0; i < t.size(); i += 2, ++o) {
        int hi = hexValue(t[i]), lo = hexValue(t[i + 1]);
        if (hi < 0 || lo < 0) badValue("bytea", t);
        out[o] = static_cast<char>(hi * 16 + lo);
      }
      return Variant::bytes(std::move(out));
    }
    case PgDecode::Void:
      return Variant::null();
    case PgDecode::Text:
      break;
  }
  return Variant(t);
}

std::string pgParamText(const Variant& v, bool* binary) {
  *binary = false;
  char buf[64];
  switch (v.type()) {
    case VarType::Boolean:
      return v.asBool() ? "true" : "false";
    case VarType::Int16:
    case VarType::Int32:
    case VarType::Int64: {
      auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v.asInt());
      return std::string(buf, p);
    }
    case VarType::Double: {
      double d = v.asDouble();
      if (std::isnan(d)) return "NaN";
      if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
      auto [p, ec] = std::to_chars(buf, buf + sizeof buf, d);
      return std::string(buf, p);
    }
    case VarType::Currency:
      return v.asCurrency().toPlain();
    case VarType::DateTime:
      return v.asDateTime().toSql();
    case VarType::Decimal:
    case VarType::String:
      return v.asString();
    case VarType::Bytes:
      *binary = true;
      return v.asString();
    case VarType::Array:
      throw DbError("an array cannot be a statement parameter");
    case VarType::Unassigned:
    case VarType::Null:
      break;
  }
  throw DbError("a null value has no parameter text");
}

}  // namespace qz::db
