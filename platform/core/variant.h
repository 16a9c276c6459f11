// Variant: the typed value that travels through the whole server -- database
// rows, data packets, deltas, parameters and OwnerData.
//
// Invariants: a Variant is exactly one of the kinds of VarType. Unassigned
// ("no value at all", an absent delta field) and Null (the database's NULL)
// are different kinds and never compare equal. Currency holds a fixed-point
// number with four decimals as a scaled 64-bit integer; Decimal holds its
// canonical decimal text; DateTime holds local civil time with milliseconds,
// no zone. Arrays are immutable once built and shared between copies.
//
// Thread-safety: a Variant is a value; distinct objects may be used from
// different threads, one object from one thread at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qz {

enum class VarType : uint8_t {
  Unassigned,
  Null,
  Boolean,
  Int16,
  Int32,
  Int64,
  Double,
  Currency,
  Decimal,
  DateTime,
  String,
  Bytes,
  Array,
};

// The platform's conversion error ("Invalid variant type conversion" and the
// like). Raised by the conversions below; carries an English message.
class VariantError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A calendar day, and optionally a time of day, read from text: the one
// reader of date texts, for the wire, the databases and operators alike.
// Spaces and tabs around the text are ignored. Accepted:
//   day   YYYY-MM-DD or YYYY/MM/DD: a year of up to four digits, a month and a
//         day of one or two digits, the same separator twice;
//   time  optionally, after ' ' or 'T': HH:MM, HH:MM:SS or HH:MM:SS.f (one or
//         more fraction digits, cut to milliseconds).
// A day no calendar has (2026-02-30, 2026-13-01) or a time past 23:59:59 is
// refused like any other text.
struct DateText {
  std::chrono::year_month_day day{};
  int hour = 0, minute = 0, second = 0, msec = 0;
  bool hasTime = false;
  // The form the wire and the databases write: a four-digit year, two-digit
  // month and day, '-' between them.
  bool canonical = false;
};

// Returns false, leaving *out unchanged, for text that is no such date.
// Allocates nothing (every date field of a packet may pass here).
bool ParseDateText(std::string_view text, DateText* out);

// Local civil date and time with milliseconds; no time zone.
struct DateTime {
  int64_t msecs = 0;  // milliseconds since 1970-01-01T00:00:00.000 (civil)

  static DateTime fromParts(int year, int month, int day, int hour = 0, int minute = 0,
                            int second = 0, int msec = 0);
  // Today's local date at midnight, and the current local date and time.
  static DateTime today();
  static DateTime now();
  // Parses the canonical texts of ParseDateText: "YYYY-MM-DD",
  // "YYYY-MM-DD HH:MM[:SS[.mmm]]" and the same with 'T'.
  // Returns false on anything else (out = unchanged).
  static bool parse(std::string_view text, DateTime* out);

  void toParts(int* year, int* month, int* day, int* hour, int* minute, int* second,
               int* msec) const;
  // "YYYY-MM-DDTHH:MM:SS.mmm", the wire form.
  std::string toIso() const;
  // The same written to out without allocating; returns its length.
  // REQUIRES: out has room for kIsoMax characters.
  static constexpr size_t kIsoMax = 40;
  size_t writeIso(char* out) const;
  // "YYYY-MM-DD HH:MM:SS" (".mmm" only when non-zero), the form sent to databases.
  std::string toSql() const;
  // "YYYY-MM-DD", the date alone.
  std::string dateText() const;

  friend bool operator==(DateTime a, DateTime b) { return a.msecs == b.msecs; }
  friend auto operator<=>(DateTime a, DateTime b) { return a.msecs <=> b.msecs; }
};

// Fixed-point money with four decimals. The range is that of a 64-bit count
// of ten-thousandths: -922337203685477.5808 to 922337203685477.5807. Every
// conversion into Currency checks it, because a wrapped value would be
// stored as a different amount.
struct Currency {
  int64_t scaled = 0;  // value * 10000

  // Parses "[-]digits[.digits]"; more than four decimals round half to even.
  // Returns false for other text and for values outside the range.
  static bool parse(std::string_view text, Currency* out);
  // Rounds half to even at four decimals; a half is judged on the shortest
  // decimal that reads back as v (0.00015 gives 0.0002 like its text does).
  // Returns false (out untouched) for NaN, infinities and values outside the
  // range.
  static bool fromDouble(double v, Currency* out);
  // REQUIRES: v within the range (use the checked form otherwise).
  static Currency fromDouble(double v);
  // Whole units. Returns false when units * 10000 leaves the range.
  static bool fromUnits(int64_t units, Currency* out);
  // Plain decimal text with exactly four decimals ("12.3400"), the wire form.
  std::string toFixed4() const;
  // Plain decimal text without trailing zeros ("12.34", "2.5", "3").
  std::string toPlain() const;
  double toDouble() const { return static_cast<double>(scaled) / 10000.0; }
  friend bool operator==(Currency a, Currency b) { return a.scaled == b.scaled; }
};

class Variant;
using VariantArray = std::vector<Variant>;

class Variant {
 public:
  Variant() = default;  // Unassigned
  static Variant null() {
    Variant v;
    v.type_ = VarType::Null;
    return v;
  }
  static Variant unassigned() { return Variant(); }

  Variant(bool b) : type_(VarType::Boolean) { u_.i = b ? 1 : 0; }
  Variant(int16_t i) : type_(VarType::Int16) { u_.i = i; }
  Variant(int32_t i) : type_(VarType::Int32) { u_.i = i; }
  Variant(int64_t i) : type_(VarType::Int64) { u_.i = i; }
  Variant(double d) : type_(VarType::Double) { u_.d = d; }
  Variant(Currency c) : type_(VarType::Currency) { u_.i = c.scaled; }
  Variant(DateTime t) : type_(VarType::DateTime) { u_.i = t.msecs; }
  Variant(std::string s) : type_(VarType::String), s_(std::move(s)) {}
  Variant(std::string_view s) : type_(VarType::String), s_(s) {}
  Variant(const char* s) : type_(VarType::String), s_(s) {}
  Variant(VariantArray a);
  static Variant decimal(std::string text);  // REQUIRES: canonical decimal text
  static Variant bytes(std::string data);
  // Makes this a String holding s, reusing the memory of the text it held:
  // a row buffer read again and again allocates nothing for short changes.
  void assignString(std::string_view s) {
    type_ = VarType::String;
    s_.assign(s.data(), s.size());
    a_.reset();
  }

  VarType type() const { return type_; }
  bool isUnassigned() const { return type_ == VarType::Unassigned; }
  bool isNull() const { return type_ == VarType::Null; }
  // Null or Unassigned.
  bool isEmpty() const { return type_ <= VarType::Null; }
  bool isNumeric() const;

  // Raw access. REQUIRES: the matching type (not checked in release builds).
  bool asBool() const { return u_.i != 0; }
  int64_t asInt() const { return u_.i; }  // Boolean, Int16/32/64
  double asDouble() const { return u_.d; }
  Currency asCurrency() const { return Currency{u_.i}; }
  DateTime asDateTime() const { return DateTime{u_.i}; }
  const std::string& asString() const { return s_; }  // String, Decimal, Bytes
  const VariantArray& asArray() const;

  // Conversions with the platform's semantics. Each throws VariantError on
  // Null, Unassigned, arrays, and text that is not a number (for numbers).
  std::string toText() const;
  int32_t toInt32() const;  // floats and currency round half to even; range-checked
  int64_t toInt64() const;
  double toDouble() const;

  // Numeric comparison as the platform does it ("Bnum = 0"): false for Null
  // and Unassigned; text is converted when it reads as a number, else false.
  bool equalsNumber(double n) const;

  // Exact equality of kind and value (used by tests and the resolver).
  friend bool operator==(const Variant& a, const Variant& b);

  // A short description for diagnostics ("Null", "Int32 17", ...).
  std::string debugString() const;

 private:
  VarType type_ = VarType::Unassigned;
  union {
    int64_t i;
    double d;
  } u_{0};
  std::string s_;
  std::shared_ptr<const VariantArray> a_;
};

const char* varTypeName(VarType t);

// Rounds to the nearest integer with halves to even (banker's rounding).
double roundHalfEven(double v);

}  // namespace qz
