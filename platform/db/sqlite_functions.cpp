// getdate(), datepart() and qz_datetime() for SQLite; see sqlite_functions.h.
#include "platform/db/sqlite_functions.h"

#include <string>

#include "platform/db/dialect.h"

namespace qz::db {
namespace {

constexpr int64_t kDayMs = 86400000;

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Sunday = 0.
int dayOfWeek(DateTime t) {
  const int64_t days = floorDiv(t.msecs, kDayMs);
  return static_cast<int>(((days + 4) % 7 + 7) % 7);  // 1970-01-01 was a Thursday
}

int dayOfYear(DateTime t) {
  int y, mo, d, h, mi, s, ms;
  t.toParts(&y, &mo, &d, &h, &mi, &s, &ms);
  const DateTime jan1 = DateTime::fromParts(y, 1, 1);
  return static_cast<int>(floorDiv(t.msecs, kDayMs) - floorDiv(jan1.msecs, kDayMs)) + 1;
}

// The argument as a date-time, or false when it is not one.
bool argDateTime(sqlite3_value* v, DateTime* out) {
  if (sqlite3_value_type(v) != SQLITE_TEXT) return false;
  const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
  return DateTime::parse(std::string_view(p, static_cast<size_t>(sqlite3_value_bytes(v))), out);
}

void getdateFn(sqlite3_context* ctx, int, sqlite3_value**) {
  const std::string s = DateTime::now().toSql();
  sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

void datepartFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const auto* u = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  const std::string_view unit = canonicalDatePart(u ? u : "");
  if (unit.empty()) {
    const std::string msg =
        "'" + std::string(u ? u : "") + "' is not a recognized datepart option.";
    sqlite3_result_error(ctx, msg.c_str(), -1);
    return;
  }
  if (sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  DateTime t;
  if (!argDateTime(argv[1], &t)) {
    sqlite3_result_error(
        ctx, "Conversion failed when converting date and/or time from character string.", -1);
    return;
  }
  sqlite3_result_int(ctx, datePartOf(unit, t));
}

void datetimeFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  DateTime t;
  if (!argDateTime(argv[0], &t)) {
    sqlite3_result_error(
        ctx, "Conversion failed when converting date and/or time from character string.", -1);
    return;
  }
  const std::string s = t.toSql();
  sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

}  // namespace

int datePartOf(std::string_view unit, DateTime t) {
  int y, mo, d, h, mi, s, ms;
  t.toParts(&y, &mo, &d, &h, &mi, &s, &ms);
  if (unit == "year") return y;
  if (unit == "quarter") return (mo - 1) / 3 + 1;
  if (unit == "month") return mo;
  if (unit == "dayofyear") return dayOfYear(t);
  if (unit == "day") return d;
  if (unit == "week") return (dayOfYear(t) + dayOfWeek(DateTime::fromParts(y, 1, 1)) - 1) / 7 + 1;
  if (unit == "weekday") return dayOfWeek(t) + 1;
  if (unit == "hour") return h;
  if (unit == "minute") return mi;
  if (unit == "second") return s;
  return ms;  // millisecond
}

int registerSqlFunctions(sqlite3* db) {
  const int flags = SQLITE_UTF8;
  int rc = sqlite3_create_function(db, "getdate", 0, flags, nullptr, getdateFn, nullptr, nullptr);
  if (rc == SQLITE_OK)
    rc = sqlite3_create_function(db, "datepart", 2, flags | SQLITE_DETERMINISTIC, nullptr,
                                 datepartFn, nullptr, nullptr);
  if (rc == SQLITE_OK)
    rc = sqlite3_create_function(db, "qz_datetime", 1, flags | SQLITE_DETERMINISTIC, nullptr,
                                 datetimeFn, nullptr, nullptr);
  return rc;
}

}  // namespace qz::db
