// Conversions between SQLite values and Variants; see sqlite_values.h.
#include "platform/db/sqlite_values.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/core/ascii.h"
#include "platform/db/connection_string.h"
#include "platform/db/sql_lexer.h"

namespace qz::db {
namespace {

struct TypeName {
  std::string_view name;
  FieldType type;
};
constexpr TypeName kTypes[] = {
    {"varchar", FieldType::String},     {"nvarchar", FieldType::String},
    {"char", FieldType::String},        {"nchar", FieldType::String},
    {"character", FieldType::String},   {"varchar2", FieldType::String},
    {"text", FieldType::Memo},          {"ntext", FieldType::Memo},
    {"clob", FieldType::Memo},          {"int", FieldType::Int32},
    {"integer", FieldType::Int32},      {"mediumint", FieldType::Int32},
    {"smallint", FieldType::Int16},     {"tinyint", FieldType::Int16},
    {"bigint", FieldType::Int64},       {"bit", FieldType::Boolean},
    {"boolean", FieldType::Boolean},    {"bool", FieldType::Boolean},
    {"float", FieldType::Float},        {"real", FieldType::Float},
    {"double", FieldType::Float},       {"double precision", FieldType::Float},
    {"money", FieldType::Currency},     {"smallmoney", FieldType::Currency},
    {"decimal", FieldType::Decimal},    {"numeric", FieldType::Decimal},
    {"datetime", FieldType::DateTime},  {"smalldatetime", FieldType::DateTime},
    {"datetime2", FieldType::DateTime}, {"timestamp", FieldType::DateTime},
    {"date", FieldType::Date},          {"time", FieldType::Time},
    {"blob", FieldType::Bytes},         {"image", FieldType::Bytes},
    {"varbinary", FieldType::Bytes},    {"binary", FieldType::Bytes},
};

bool parseInt64(std::string_view s, int64_t* out) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  if (s.empty()) return false;
  std::string buf(s);
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(buf.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *out = v;
  return true;
}

bool parseDouble(std::string_view s, double* out) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  if (s.empty()) return false;
  std::string buf(s);
  char* end = nullptr;
  const double v = std::strtod(buf.c_str(), &end);
  if (*end != '\0' || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

// Whether text is a plain decimal number ("-12.50").
bool isDecimalText(std::string_view s) {
  size_t i = 0;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
  bool digits = false, dot = false;
  for (; i < s.size(); ++i) {
    if (std::isdigit(static_cast<unsigned char>(s[i])))
      digits = true;
    else if (s[i] == '.' && !dot)
      dot = true;
    else
      return false;
  }
  return digits;
}

std::string canonicalDecimal(std::string s) {
  if (!s.empty() && s[0] == '+') s.erase(0, 1);
  if (s.find('.') != std::string::npos) {
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
  }
  bool neg = !s.empty() && s[0] == '-';
  size_t first = neg ? 1 : 0;
  while (first + 1 < s.size() && s[first] == '0' && s[first + 1] != '.') s.erase(first, 1);
  if (first < s.size() && s[first] == '.') s.insert(first, "0");
  if (s == "-0" || s.empty()) s = "0";
  return s;
}

std::string valueText(sqlite3_value* v) {
  const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
  return std::string(p ? p : "", static_cast<size_t>(sqlite3_value_bytes(v)));
}

}  // namespace

std::string decimalText(double v, int scale) {
  char buf[512];
  if (scale >= 0) {
    std::snprintf(buf, sizeof buf, "%.*f", scale, v);
    std::string s = buf;
    if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
    return s;
  }
  // Shortest text that reads back as v, written without exponent.
  std::snprintf(buf, sizeof buf, "%.17g", v);
  for (int prec = 1; prec <= 17; ++prec) {
    char tmp[64];
    std::snprintf(tmp, sizeof tmp, "%.*g", prec, v);
    if (std::strtod(tmp, nullptr) == v) {
      std::snprintf(buf, sizeof buf, "%.*g", prec, v);
      break;
    }
  }
  if (std::string_view(buf).find_first_of("eE") != std::string_view::npos)
    std::snprintf(buf, sizeof buf, "%.10f", v);
  return canonicalDecimal(buf);
}

// Decimal text with exactly `scale` decimals (padding with zeros), or the
// canonical form when scale is 0 or unknown.
std::string withScale(std::string s, int scale) {
  s = canonicalDecimal(std::move(s));
  if (scale <= 0) return s;
  size_t dot = s.find('.');
  if (dot == std::string::npos) {
    s += '.';
    dot = s.size() - 1;
  }
  const size_t decimals = s.size() - dot - 1;
  if (decimals < static_cast<size_t>(scale)) s.append(static_cast<size_t>(scale) - decimals, '0');
  return s;
}

bool parseDeclaredType(std::string_view decl, FieldDef* field) {
  std::string d = AsciiLower(decl);
  while (!d.empty() && std::isspace(static_cast<unsigned char>(d.back()))) d.pop_back();
  if (d.empty()) return false;
  const size_t open = d.find('(');
  std::string base = d.substr(0, open);
  while (!base.empty() && std::isspace(static_cast<unsigned char>(base.back()))) base.pop_back();
  int args[2] = {-1, -1};
  bool maxSize = false;
  if (open != std::string::npos) {
    const size_t close = d.find(')', open);
    std::string inner =
        d.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
    const size_t comma = inner.find(',');
    auto num = [](std::string s) {
      int64_t v = -1;
      parseInt64(s, &v);
      return static_cast<int>(v);
    };
    std::string first = inner.substr(0, comma);
    if (first.find("max") != std::string::npos) maxSize = true;
    args[0] = num(first);
    if (comma != std::string::npos) args[1] = num(inner.substr(comma + 1));
  }
  // "unsigned big int", "varying character" and the like: match the first word too.
  const TypeName* found = nullptr;
  for (const auto& t : kTypes)
    if (base == t.name) found = &t;
  if (!found) {
    const std::string firstWord = base.substr(0, base.find(' '));
    for (const auto& t : kTypes)
      if (firstWord == t.name) found = &t;
  }
  if (!found) return false;
  field->type = found->type;
  field->size = 0;
  field->precision = 0;
  field->scale = 0;
  switch (found->type) {
    case FieldType::String:
      if (maxSize)
        field->type = FieldType::Memo;
      else
        field->size = args[0] > 0 ? args[0] : 1;
      break;
    case FieldType::Decimal:
      field->precision = args[0] > 0 ? args[0] : 18;
      field->scale = args[1] >= 0 ? args[1] : 0;
      break;
    case FieldType::Currency:
      field->precision = 19;
      field->scale = 4;
      break;
    case FieldType::Float:
      field->precision = 15;
      break;
    default:
      break;
  }
  return true;
}

void typeFromValue(sqlite3_stmt* stmt, int column, FieldDef* field) {
  field->size = 0;
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER: {
      const int64_t v = sqlite3_column_int64(stmt, column);
      field->type = (v >= INT32_MIN && v <= INT32_MAX) ? FieldType::Int32 : FieldType::Int64;
      break;
    }
    case SQLITE_FLOAT:
      field->type = FieldType::Float;
      field->precision = 15;
      break;
    case SQLITE_BLOB:
      field->type = FieldType::Bytes;
      break;
    default: {
      const int len = sqlite3_column_bytes(stmt, column);
      field->type = FieldType::String;
      field->size = len > 255 ? len : 255;
      break;
    }
  }
}

// Reads through the column's sqlite3_value: each sqlite3_column_* call
// locates the column and checks for an allocation failure again, and a row
// is read a few calls per column. (Connections are opened without SQLite's
// mutexes and used by one thread at a time, so the unprotected value may
// be read directly.)
namespace {

// A String or Memo column: any stored value reads as its text, only NULL
// gives none. One call fewer per column than asking for the storage class
// first; the text goes into the string *out already holds.
void readTextInto(sqlite3_value* val, Variant* out) {
  const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(val));
  if (p)
    out->assignString({p, static_cast<size_t>(sqlite3_value_bytes(val))});
  else
    *out = Variant::null();
}

}  // namespace

void readColumnInto(sqlite3_stmt* stmt, int i, FieldType t, int scale, Variant* out) {
  if (t == FieldType::String || t == FieldType::Memo)
    readTextInto(sqlite3_column_value(stmt, i), out);
  else
    *out = readColumn(stmt, i, t, scale);
}

Variant readColumn(sqlite3_stmt* stmt, int i, FieldType t, int scale) {
  sqlite3_value* val = sqlite3_column_value(stmt, i);
  if (t == FieldType::String || t == FieldType::Memo) {
    Variant v;
    readTextInto(val, &v);
    return v;
  }
  const int storage = sqlite3_value_type(val);
  if (storage == SQLITE_NULL) return Variant::null();
  switch (t) {
    case FieldType::String:
    case FieldType::Memo:
      break;  // read above
    case FieldType::Int32:
      if (storage == SQLITE_INTEGER) {
        const int64_t v = sqlite3_value_int64(val);
        if (v >= INT32_MIN && v <= INT32_MAX) return Variant(static_cast<int32_t>(v));
        return Variant(v);
      }
      break;
    case FieldType::Int16:
      if (storage == SQLITE_INTEGER) {
        const int64_t v = sqlite3_value_int64(val);
        if (v >= INT16_MIN && v <= INT16_MAX) return Variant(static_cast<int16_t>(v));
        return Variant(static_cast<int32_t>(v));
      }
      break;
    case FieldType::Int64:
      if (storage == SQLITE_INTEGER) return Variant(static_cast<int64_t>(sqlite3_value_int64(val)));
      break;
    case FieldType::Boolean:
      if (storage == SQLITE_INTEGER || storage == SQLITE_FLOAT)
        return Variant(sqlite3_value_double(val) != 0);
      {
        const std::string s = AsciiLower(valueText(val));
        if (s == "true" || s == "1") return Variant(true);
        if (s == "false" || s == "0") return Variant(false);
      }
      break;
    case FieldType::Float:
      if (storage == SQLITE_INTEGER || storage == SQLITE_FLOAT)
        return Variant(sqlite3_value_double(val));
      break;
    case FieldType::Currency:
      // A stored number outside the currency range (written by an older
      // version) reads as decimal text, so the row can still be read.
      if (storage == SQLITE_INTEGER) {
        const int64_t units = sqlite3_value_int64(val);
        Currency c;
        if (Currency::fromUnits(units, &c)) return Variant(c);
        return Variant::decimal(std::to_string(units));
      }
      if (storage == SQLITE_FLOAT) {
        const double d = sqlite3_value_double(val);
        Currency c;
        if (Currency::fromDouble(d, &c)) return Variant(c);
        if (std::isfinite(d)) return Variant::decimal(decimalText(d, -1));
        break;
      }
      {
        Currency c;
        if (Currency::parse(valueText(val), &c)) return Variant(c);
      }
      break;
    case FieldType::Decimal:
      if (storage == SQLITE_INTEGER)
        return Variant::decimal(withScale(std::to_string(sqlite3_value_int64(val)), scale));
      if (storage == SQLITE_FLOAT)
        return Variant::decimal(decimalText(sqlite3_value_double(val), scale > 0 ? scale : -1));
      {
        std::string s = valueText(val);
        if (isDecimalText(s)) return Variant::decimal(withScale(std::move(s), scale));
      }
      break;
    case FieldType::DateTime:
    case FieldType::Date:
    case FieldType::Time:
      if (storage == SQLITE_TEXT) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(val));
        std::string_view s(p, static_cast<size_t>(sqlite3_value_bytes(val)));
        DateTime dt;
        if (DateTime::parse(s, &dt)) return Variant(dt);
        if (t == FieldType::Time && DateTime::parse("1899-12-30 " + std::string(s), &dt))
          return Variant(dt);
      }
      break;
    case FieldType::Bytes:
      if (storage == SQLITE_BLOB) {
        const auto* p = static_cast<const char*>(sqlite3_value_blob(val));
        return Variant::bytes(
            std::string(p ? p : "", static_cast<size_t>(sqlite3_value_bytes(val))));
      }
      break;
    case FieldType::Dataset:
      break;
  }
  // The stored value does not read as the column's type: give it back as it is.
  switch (storage) {
    case SQLITE_INTEGER: {
      const int64_t v = sqlite3_value_int64(val);
      if (v >= INT32_MIN && v <= INT32_MAX) return Variant(static_cast<int32_t>(v));
      return Variant(v);
    }
    case SQLITE_FLOAT:
      return Variant(sqlite3_value_double(val));
    case SQLITE_BLOB: {
      const auto* p = static_cast<const char*>(sqlite3_value_blob(val));
      return Variant::bytes(std::string(p ? p : "", static_cast<size_t>(sqlite3_value_bytes(val))));
    }
    default:
      return Variant(valueText(val));
  }
}

void bindVariant(sqlite3* db, sqlite3_stmt* stmt, int index, const Variant& v) {
  int rc = SQLITE_OK;
  switch (v.type()) {
    case VarType::Unassigned:
    case VarType::Null:
      rc = sqlite3_bind_null(stmt, index);
      break;
    case VarType::Boolean:
    case VarType::Int16:
    case VarType::Int32:
    case VarType::Int64:
      rc = sqlite3_bind_int64(stmt, index, v.asInt());
      break;
    case VarType::Double:
      rc = sqlite3_bind_double(stmt, index, v.asDouble());
      break;
    case VarType::Currency:
      rc = sqlite3_bind_double(stmt, index, v.asCurrency().toDouble());
      break;
    case VarType::Decimal:
    case VarType::String:
      rc = sqlite3_bind_text(stmt, index, v.asString().data(),
                             static_cast<int>(v.asString().size()), SQLITE_TRANSIENT);
      break;
    case VarType::DateTime: {
      const std::string s = v.asDateTime().toSql();
      rc = sqlite3_bind_text(stmt, index, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
      break;
    }
    case VarType::Bytes:
      rc = sqlite3_bind_blob(stmt, index, v.asString().data(),
                             static_cast<int>(v.asString().size()), SQLITE_TRANSIENT);
      break;
    case VarType::Array:
      throw DbError("Arrays cannot be bound as statement parameters");
  }
  if (rc != SQLITE_OK) throwSqlite(db, rc);
}

namespace {

// SQLite would store a value of any kind in any column: a parameter whose
// value does not read as its declared type is refused here, as the other
// engine refuses it, so both keep the same data.
[[noreturn]] void refuseParameter(const Parameter& p, const std::string& what) {
  throw DbError("Parameter '" + p.name + "': " + what + " is not a valid " + fieldTypeName(p.type) +
                " value");
}

bool fitsIntType(int64_t n, FieldType t) {
  if (t == FieldType::Int16) return n >= INT16_MIN && n <= INT16_MAX;
  if (t == FieldType::Int32) return n >= INT32_MIN && n <= INT32_MAX;
  return true;
}

}  // namespace

void bindParameter(sqlite3* db, sqlite3_stmt* stmt, int index, const Parameter& p) {
  const Variant& v = p.value;
  const bool intType =
      p.type == FieldType::Int16 || p.type == FieldType::Int32 || p.type == FieldType::Int64;
  if (intType && v.type() >= VarType::Int16 && v.type() <= VarType::Int64 &&
      !fitsIntType(v.asInt(), p.type))
    refuseParameter(p, std::to_string(v.asInt()));
  if (v.type() == VarType::String) {
    const std::string& s = v.asString();
    switch (p.type) {
      case FieldType::Int16:
      case FieldType::Int32:
      case FieldType::Int64: {
        int64_t n;
        if (parseInt64(s, &n) && fitsIntType(n, p.type))
          return bindVariant(db, stmt, index, Variant(n));
        refuseParameter(p, "'" + s + "'");
      }
      case FieldType::Float: {
        double d;
        if (parseDouble(s, &d)) return bindVariant(db, stmt, index, Variant(d));
        refuseParameter(p, "'" + s + "'");
      }
      case FieldType::Currency: {
        Currency c;
        if (Currency::parse(s, &c)) return bindVariant(db, stmt, index, Variant(c));
        refuseParameter(p, "'" + s + "'");
      }
      case FieldType::Boolean: {
        const std::string l = AsciiLower(s);
        if (l == "true" || l == "1") return bindVariant(db, stmt, index, Variant(true));
        if (l == "false" || l == "0") return bindVariant(db, stmt, index, Variant(false));
        break;
      }
      case FieldType::DateTime:
      case FieldType::Date: {
        DateTime dt;
        if (DateTime::parse(s, &dt)) return bindVariant(db, stmt, index, Variant(dt));
        refuseParameter(p, "'" + s + "'");
      }
      default:
        break;
    }
  } else if ((p.type == FieldType::String || p.type == FieldType::Memo) && !v.isEmpty() &&
             v.type() != VarType::Bytes && v.type() != VarType::Array &&
             v.type() != VarType::DateTime) {
    return bindVariant(db, stmt, index, Variant(v.toText()));
  }
  bindVariant(db, stmt, index, v);
}

std::string sqliteErrorText(sqlite3* db, int rc) {
  if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED)
    return "Lock request time out period exceeded: the database is locked by another "
           "connection's write transaction (" +
           std::string(sqlite3_errmsg(db)) + ")";
  if (rc == SQLITE_INTERRUPT) return "Query timeout expired";
  return sqlite3_errmsg(db);
}

std::string sqliteEngineCode(sqlite3* db, int rc) {
  return std::to_string(db ? sqlite3_extended_errcode(db) : rc);
}

void throwSqlite(sqlite3* db, int rc) {
  throw DbError(sqliteErrorText(db, rc), sqliteEngineCode(db, rc));
}

}  // namespace qz::db
