// Variant conversions, civil date arithmetic and fixed-point money text.
#include "platform/core/variant.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

namespace qz {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int* y, int* m, int* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned dd = doy - (153 * mp + 2) / 5 + 1;
  const unsigned mm = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int>(yy + (mm <= 2));
  *m = static_cast<int>(mm);
  *d = static_cast<int>(dd);
}

constexpr int64_t kMsPerDay = 86400000;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads minDigits..maxDigits decimal digits at s[*pos] into *out and moves
// *pos past them; false when there are fewer, or more than maxDigits.
bool readNumber(std::string_view s, size_t* pos, size_t minDigits, size_t maxDigits, int* out) {
  size_t i = *pos;
  int v = 0;
  while (i < s.size() && i - *pos < maxDigits && isDigit(s[i])) v = v * 10 + (s[i++] - '0');
  if (i - *pos < minDigits || (i < s.size() && isDigit(s[i]))) return false;
  *pos = i;
  *out = v;
  return true;
}

// s[*pos] == c, and then past it.
bool skip(std::string_view s, size_t* pos, char c) {
  if (*pos >= s.size() || s[*pos] != c) return false;
  ++*pos;
  return true;
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Reads text as a number the way the platform converts a string variant.
bool textToDouble(std::string_view text, double* out) {
  std::string_view t = trimmed(text);
  if (t.empty()) return false;
  if (t.front() == '+') t.remove_prefix(1);
  const char* end = t.data() + t.size();
  auto [p, ec] = std::from_chars(t.data(), end, *out);
  return ec == std::errc() && p == end && std::isfinite(*out);
}

[[noreturn]] void conversionError(const Variant& v, const char* target) {
  throw VariantError(std::string("Could not convert variant of type (") + varTypeName(v.type()) +
                     ") into type (" + target + ")");
}

}  // namespace

bool ParseDateText(std::string_view text, DateText* out) {
  const std::string_view s = trimmed(text);
  DateText t;
  size_t pos = 0;
  int y = 0, m = 0, d = 0;
  if (!readNumber(s, &pos, 1, 4, &y)) return false;
  const bool longYear = pos == 4;
  const char sep = pos < s.size() ? s[pos] : '\0';
  if ((sep != '-' && sep != '/') || !skip(s, &pos, sep)) return false;
  const size_t monthAt = pos;
  if (!readNumber(s, &pos, 1, 2, &m) || !skip(s, &pos, sep)) return false;
  const size_t dayAt = pos;
  if (!readNumber(s, &pos, 1, 2, &d)) return false;
  t.canonical = longYear && sep == '-' && dayAt - monthAt == 3 && pos - dayAt == 2;
  // year_month_day knows each month's length and the Gregorian leap years.
  t.day = std::chrono::year(y) / std::chrono::month(static_cast<unsigned>(m)) /
          std::chrono::day(static_cast<unsigned>(d));
  if (!t.day.ok()) return false;
  if (pos < s.size()) {
    if (s[pos] != ' ' && s[pos] != 'T') return false;
    ++pos;
    if (!readNumber(s, &pos, 2, 2, &t.hour) || !skip(s, &pos, ':') ||
        !readNumber(s, &pos, 2, 2, &t.minute))
      return false;
    if (pos < s.size() && (!skip(s, &pos, ':') || !readNumber(s, &pos, 2, 2, &t.second)))
      return false;
    if (pos < s.size()) {
      if (!skip(s, &pos, '.')) return false;
      const size_t fracAt = pos;
      for (; pos < s.size() && isDigit(s[pos]); ++pos)
        if (pos - fracAt < 3) t.msec = t.msec * 10 + (s[pos] - '0');
      if (pos == fracAt || pos != s.size()) return false;
      for (size_t n = pos - fracAt; n < 3; ++n) t.msec *= 10;
    }
    if (t.hour > 23 || t.minute > 59 || t.second > 59) return false;
    t.hasTime = true;
  }
  *out = t;
  return true;
}

double roundHalfEven(double v) {
  double r = std::nearbyint(v);  // default rounding mode: to nearest, ties to even
  return r;
}

// ---- DateTime ---------------------------------------------------------------

DateTime DateTime::fromParts(int year, int month, int day, int hour, int minute, int second,
                             int msec) {
  int64_t days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  return DateTime{days * kMsPerDay + ((hour * 60 + minute) * 60 + second) * 1000LL + msec};
}

DateTime DateTime::now() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tmv;
  localtime_r(&ts.tv_sec, &tmv);
  return fromParts(tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday, tmv.tm_hour, tmv.tm_min,
                   tmv.tm_sec, static_cast<int>(ts.tv_nsec / 1000000));
}

DateTime DateTime::today() {
  DateTime n = now();
  int64_t days = n.msecs >= 0 ? n.msecs / kMsPerDay : (n.msecs - kMsPerDay + 1) / kMsPerDay;
  return DateTime{days * kMsPerDay};
}

namespace {

// Two digits at p, or -1.
inline int twoDigits(const char* p) {
  if (!isDigit(p[0]) || !isDigit(p[1])) return -1;
  return (p[0] - '0') * 10 + (p[1] - '0');
}

// The layouts the databases store and the wire sends, "YYYY-MM-DD" with
// optionally " HH:MM:SS" (or 'T') and ".mmm", read without the general
// scanning: every date of every row read passes here. Returns false when
// s has some other layout (the general rules then decide) or is no date.
bool parseFixedLayout(std::string_view s, DateTime* out) {
  const size_t n = s.size();
  if (n != 10 && n != 19 && n != 23) return false;
  const char* p = s.data();
  const int y1 = twoDigits(p), y2 = twoDigits(p + 2);
  const int m = twoDigits(p + 5), d = twoDigits(p + 8);
  if (y1 < 0 || y2 < 0 || p[4] != '-' || p[7] != '-' || m < 1 || m > 12 || d < 1) return false;
  const int y = y1 * 100 + y2;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
  if (d > kDays[m - 1] + (m == 2 && leap)) return false;
  int h = 0, mi = 0, sec = 0, ms = 0;
  if (n > 10) {
    h = twoDigits(p + 11), mi = twoDigits(p + 14), sec = twoDigits(p + 17);
    if ((p[10] != ' ' && p[10] != 'T') || p[13] != ':' || p[16] != ':' || h < 0 || h > 23 ||
        mi < 0 || mi > 59 || sec < 0 || sec > 59)
      return false;
    if (n == 23) {
      if (p[19] != '.' || !isDigit(p[20]) || !isDigit(p[21]) || !isDigit(p[22])) return false;
      ms = (p[20] - '0') * 100 + (p[21] - '0') * 10 + (p[22] - '0');
    }
  }
  *out = DateTime::fromParts(y, m, d, h, mi, sec, ms);
  return true;
}

}  // namespace

bool DateTime::parse(std::string_view s, DateTime* out) {
  if (parseFixedLayout(s, out)) return true;
  DateText t;
  if (!ParseDateText(s, &t) || !t.canonical) return false;
  *out = fromParts(static_cast<int>(t.day.year()), static_cast<int>(unsigned{t.day.month()}),
                   static_cast<int>(unsigned{t.day.day()}), t.hour, t.minute, t.second, t.msec);
  return true;
}

void DateTime::toParts(int* year, int* month, int* day, int* hour, int* minute, int* second,
                       int* msec) const {
  int64_t days = msecs >= 0 ? msecs / kMsPerDay : (msecs - kMsPerDay + 1) / kMsPerDay;
  int64_t rest = msecs - days * kMsPerDay;
  civilFromDays(days, year, month, day);
  *hour = static_cast<int>(rest / 3600000);
  *minute = static_cast<int>(rest / 60000 % 60);
  *second = static_cast<int>(rest / 1000 % 60);
  *msec = static_cast<int>(rest % 1000);
}

namespace {

// Writes n decimal digits of v at p (zero-padded). Hot: every date of every
// packet row passes here, so no printf.
inline char* putDigits(char* p, int v, int n) {
  for (int i = n - 1; i >= 0; --i) {
    p[i] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
  return p + n;
}

// "YYYY-MM-DD", then optionally sep + "HH:MM:SS" and ".mmm", written to buf
// (DateTime::kIsoMax characters); returns the length.
size_t formatDateTime(const DateTime& t, char sep, bool time, bool millis, char* buf) {
  int y, mo, d, h, mi, s, ms;
  t.toParts(&y, &mo, &d, &h, &mi, &s, &ms);
  char* p = buf;
  if (y < 0 || y > 9999) {
    p += std::snprintf(buf, 16, "%04d", y);
  } else {
    p = putDigits(p, y, 4);
  }
  *p++ = '-';
  p = putDigits(p, mo, 2);
  *p++ = '-';
  p = putDigits(p, d, 2);
  if (time) {
    *p++ = sep;
    p = putDigits(p, h, 2);
    *p++ = ':';
    p = putDigits(p, mi, 2);
    *p++ = ':';
    p = putDigits(p, s, 2);
    if (millis) {
      *p++ = '.';
      p = putDigits(p, ms, 3);
    }
  }
  return static_cast<size_t>(p - buf);
}

std::string formatDateTime(const DateTime& t, char sep, bool time, bool millis) {
  char buf[DateTime::kIsoMax];
  return std::string(buf, formatDateTime(t, sep, time, millis, buf));
}

}  // namespace

std::string DateTime::toIso() const { return formatDateTime(*this, 'T', true, true); }

size_t DateTime::writeIso(char* out) const { return formatDateTime(*this, 'T', true, true, out); }

std::string DateTime::toSql() const { return formatDateTime(*this, ' ', true, msecs % 1000 != 0); }

std::string DateTime::dateText() const { return formatDateTime(*this, ' ', false, false); }

// ---- Currency ---------------------------------------------------------------

bool Currency::parse(std::string_view text, Currency* out) {
  std::string_view t = trimmed(text);
  bool neg = false;
  if (!t.empty() && (t.front() == '-' || t.front() == '+')) {
    neg = t.front() == '-';
    t.remove_prefix(1);
  }
  if (t.empty()) return false;
  __int128 whole = 0;
  size_t i = 0;
  bool any = false;
  for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
    whole = whole * 10 + (t[i] - '0');
    any = true;
    if (whole > (static_cast<__int128>(1) << 100)) return false;
  }
  int64_t frac = 0;
  int nfrac = 0;
  int roundDigit = -1;
  bool sticky = false;
  if (i < t.size() && t[i] == '.') {
    ++i;
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
      any = true;
      if (nfrac < 4) {
        frac = frac * 10 + (t[i] - '0');
        ++nfrac;
      } else if (roundDigit < 0) {
        roundDigit = t[i] - '0';
      } else if (t[i] != '0') {
        sticky = true;
      }
    }
  }
  if (!any || i != t.size()) return false;
  for (int k = nfrac; k < 4; ++k) frac *= 10;
  __int128 v = whole * 10000 + frac;
  if (roundDigit > 5 || (roundDigit == 5 && (sticky || (v & 1)))) ++v;
  // The range is the scaled integer's: one more on the negative side.
  const __int128 limit = static_cast<__int128>(std::numeric_limits<int64_t>::max()) + (neg ? 1 : 0);
  if (v > limit) return false;
  out->scaled = static_cast<int64_t>(neg ? -v : v);
  return true;
}

bool Currency::fromDouble(double v, Currency* out) {
  const double scaled = v * 10000.0;
  const double r = roundHalfEven(scaled);
  // 2^63 is exactly representable; every double below it converts without
  // overflow. NaN fails both comparisons.
  if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0)) return false;
  // A product within its rounding error of a half: the double stands for a
  // decimal such as 0.00015 (stored as 0.000149999...), and that decimal
  // decides, so a number rounds as its written form does.
  if (std::fabs(std::fabs(scaled - r) - 0.5) <= std::fabs(scaled) * 1e-15) {
    char buf[400];  // the longest fixed form of a double has about 330 characters
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    Currency c;
    if (ec == std::errc() && parse(std::string_view(buf, static_cast<size_t>(end - buf)), &c)) {
      *out = c;
      return true;
    }
  }
  out->scaled = static_cast<int64_t>(r);
  return true;
}

Currency Currency::fromDouble(double v) {
  Currency c;
  fromDouble(v, &c);
  return c;
}

bool Currency::fromUnits(int64_t units, Currency* out) {
  int64_t scaled;
  if (__builtin_mul_overflow(units, int64_t{10000}, &scaled)) return false;
  out->scaled = scaled;
  return true;
}

std::string Currency::toFixed4() const {
  uint64_t a = scaled < 0 ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  // Written backwards from the end, without printf: every money value of
  // every packet passes here.
  char buf[32];
  char* const end = buf + sizeof buf;
  char* p = end;
  uint64_t frac = a % 10000, whole = a / 10000;
  for (int i = 0; i < 4; ++i, frac /= 10) *--p = static_cast<char>('0' + frac % 10);
  *--p = '.';
  do *--p = static_cast<char>('0' + whole % 10);
  while (whole /= 10);
  if (scaled < 0) *--p = '-';
  return std::string(p, end);
}

std::string Currency::toPlain() const {
  std::string s = toFixed4();
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  if (s == "-0") s = "0";
  return s;
}

// ---- Variant ----------------------------------------------------------------

Variant::Variant(VariantArray a)
    : type_(VarType::Array), a_(std::make_shared<const VariantArray>(std::move(a))) {}

Variant Variant::decimal(std::string text) {
  Variant v;
  v.type_ = VarType::Decimal;
  v.s_ = std::move(text);
  return v;
}

Variant Variant::bytes(std::string data) {
  Variant v;
  v.type_ = VarType::Bytes;
  v.s_ = std::move(data);
  return v;
}

const VariantArray& Variant::asArray() const {
  static const VariantArray kEmpty;
  return a_ ? *a_ : kEmpty;
}

bool Variant::isNumeric() const {
  switch (type_) {
    case VarType::Int16:
    case VarType::Int32:
    case VarType::Int64:
    case VarType::Double:
    case VarType::Currency:
    case VarType::Decimal:
      return true;
    default:
      return false;
  }
}

std::string Variant::toText() const {
  switch (type_) {
    case VarType::Boolean:
      return u_.i ? "True" : "False";
    case VarType::Int16:
    case VarType::Int32:
    case VarType::Int64:
      return std::to_string(u_.i);
    case VarType::Double: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.15g", u_.d);
      return buf;
    }
    case VarType::Currency:
      return Currency{u_.i}.toPlain();
    case VarType::Decimal:
    case VarType::String:
    case VarType::Bytes:
      return s_;
    case VarType::DateTime: {
      DateTime t{u_.i};
      return t.msecs % kMsPerDay == 0 ? t.dateText() : t.toSql();
    }
    default:
      conversionError(*this, "String");
  }
}

double Variant::toDouble() const {
  switch (type_) {
    case VarType::Boolean:
      return u_.i ? -1.0 : 0.0;
    case VarType::Int16:
    case VarType::Int32:
    case VarType::Int64:
      return static_cast<double>(u_.i);
    case VarType::Double:
      return u_.d;
    case VarType::Currency:
      return Currency{u_.i}.toDouble();
    case VarType::Decimal:
    case VarType::String: {
      double d;
      if (textToDouble(s_, &d)) return d;
      throw VariantError("Could not convert variant of type (" + std::string(varTypeName(type_)) +
                         ") into type (Double): '" + s_ + "' is not a valid number");
    }
    default:
      conversionError(*this, "Double");
  }
}

int64_t Variant::toInt64() const {
  switch (type_) {
    case VarType::Boolean:
      return u_.i ? -1 : 0;
    case VarType::Int16:
    case VarType::Int32:
    case VarType::Int64:
      return u_.i;
    case VarType::Currency: {
      int64_t q = u_.i / 10000, r = u_.i % 10000;
      if (r > 5000 || (r == 5000 && (q & 1))) ++q;
      if (r < -5000 || (r == -5000 && (q & 1))) --q;
      return q;
    }
    case VarType::String:
    case VarType::Decimal: {
      std::string_view t = trimmed(s_);
      int64_t v;
      auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
      if (ec == std::errc() && p == t.data() + t.size() && !t.empty()) return v;
      [[fallthrough]];
    }
    case VarType::Double: {
      double d = toDouble();
      double r = roundHalfEven(d);
      if (!(r >= -9.2233720368547758e18 && r < 9.2233720368547758e18))
        throw VariantError("Overflow while converting variant of type (" +
                           std::string(varTypeName(type_)) + ") into type (Int64)");
      return static_cast<int64_t>(r);
    }
    default:
      conversionError(*this, "Int64");
  }
}

int32_t Variant::toInt32() const {
  int64_t v = toInt64();
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    throw VariantError("Overflow while converting variant of type (" +
                       std::string(varTypeName(type_)) + ") into type (Integer)");
  return static_cast<int32_t>(v);
}

bool Variant::equalsNumber(double n) const {
  switch (type_) {
    case VarType::Unassigned:
    case VarType::Null:
    case VarType::Array:
    case VarType::Bytes:
      return false;
    case VarType::String:
    case VarType::Decimal: {
      double d;
      return textToDouble(s_, &d) && d == n;
    }
    case VarType::DateTime:
      return false;
    default:
      return toDouble() == n;
  }
}

bool operator==(const Variant& a, const Variant& b) {
  if (a.type_ != b.type_) return false;
  switch (a.type_) {
    case VarType::Unassigned:
    case VarType::Null:
      return true;
    case VarType::Double:
      return a.u_.d == b.u_.d;
    case VarType::Decimal:
    case VarType::String:
    case VarType::Bytes:
      return a.s_ == b.s_;
    case VarType::Array:
      return a.asArray() == b.asArray();
    default:
      return a.u_.i == b.u_.i;
  }
}

std::string Variant::debugString() const {
  if (isEmpty() || type_ == VarType::Array) return varTypeName(type_);
  return std::string(varTypeName(type_)) + " " + toText();
}

const char* varTypeName(VarType t) {
  switch (t) {
    case VarType::Unassigned:
      return "Unassigned";
    case VarType::Null:
      return "Null";
    case VarType::Boolean:
      return "Boolean";
    case VarType::Int16:
      return "Smallint";
    case VarType::Int32:
      return "Integer";
    case VarType::Int64:
      return "Int64";
    case VarType::Double:
      return "Double";
    case VarType::Currency:
      return "Currency";
    case VarType::Decimal:
      return "FMTBcdVariantType";
    case VarType::DateTime:
      return "Date";
    case VarType::String:
      return "String";
    case VarType::Bytes:
      return "Array Byte";
    case VarType::Array:
      return "Array Variant";
  }
  return "Unknown";
}

}  // namespace qz
