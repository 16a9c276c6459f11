// Base price arithmetic and number text.
#include "services/posting_values.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace qz::services {

std::string plainDouble(double v) {
  if (v == 0 || !std::isfinite(v)) return v == 0 ? "0" : std::to_string(v);
  // 15 significant digits: "d.dddddddddddddde+XX".
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", v);
  std::string s(buf);
  const bool neg = s[0] == '-';
  if (neg) s.erase(0, 1);
  const size_t e = s.find('e');
  const int exp = std::atoi(s.c_str() + e + 1);
  std::string digits = s.substr(0, 1) + s.substr(2, e - 2);  // 15 digits, point removed
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string out;
  if (exp < 0) {
    out = "0." + std::string(static_cast<size_t>(-exp - 1), '0') + digits;
  } else if (static_cast<size_t>(exp) + 1 >= digits.size()) {
    out = digits + std::string(static_cast<size_t>(exp) + 1 - digits.size(), '0');
  } else {
    out = digits.substr(0, static_cast<size_t>(exp) + 1) + "." +
          digits.substr(static_cast<size_t>(exp) + 1);
  }
  return neg ? "-" + out : out;
}

std::string formatBasePrice(const Variant& price, int32_t factor) {
  if (factor == 0) throw std::domain_error("Division by zero");
  if (price.type() == VarType::Currency) {
    // Exact fixed-point division, rounded half to even at four decimals.
    const int64_t num = price.asCurrency().scaled;
    // The one quotient beyond the range (and a trap in the division below).
    if (num == INT64_MIN && factor == -1)
      throw std::range_error("'922337203685477.5808' is out of range for currency");
    int64_t q = num / factor;
    int64_t r = num % factor;
    const int64_t twice = 2 * (r < 0 ? -r : r);
    const int64_t den = factor < 0 ? -static_cast<int64_t>(factor) : factor;
    const bool negative = (num < 0) != (factor < 0);
    if (twice > den || (twice == den && (q & 1))) q += negative ? -1 : 1;
    return Currency{q}.toPlain();
  }
  // The base price goes into a money column: a value outside the currency
  // range would be stored wrapped or make the row unreadable.
  const double base = price.toDouble() / factor;
  Currency check;
  if (!Currency::fromDouble(base, &check))
    throw std::range_error("'" + plainDouble(price.toDouble()) + "' is out of range for currency");
  return plainDouble(base);
}

std::string todayText() { return DateTime::today().dateText(); }

}  // namespace qz::services
