// Conversion of JSON number texts; see json_numbers.h.
#include "platform/packet/json_numbers.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

namespace qz::provider {

namespace {

// The decimal exponent of the first non-zero digit of a number text whose
// from_chars conversion left the double range: at or above 0 it overflowed,
// below 0 it underflowed. The exponent part is clamped, as only its sign
// matters this far out.
long magnitudeOf(std::string_view t) {
  size_t i = t[0] == '-' ? 1 : 0;
  long digitsBeforePoint = 0;
  long leadingZerosAfterPoint = 0;
  bool seenNonZero = false;
  for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
    if (t[i] != '0') seenNonZero = true;
    if (seenNonZero) ++digitsBeforePoint;
  }
  if (i < t.size() && t[i] == '.') {
    for (++i; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
      if (t[i] != '0') seenNonZero = true;
      if (!seenNonZero) ++leadingZerosAfterPoint;
    }
  }
  long exp = 0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    bool neg = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) neg = t[i++] == '-';
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i)
      if (exp < 100000000) exp = exp * 10 + (t[i] - '0');
    if (neg) exp = -exp;
  }
  return digitsBeforePoint > 0 ? exp + digitsBeforePoint - 1 : exp - leadingZerosAfterPoint - 1;
}

}  // namespace

bool readJsonNumber(std::string_view t, JsonNumber* out) {
  if (t.empty()) return false;
  const char* first = t.data();
  const char* last = t.data() + t.size();
  if (t.find_first_of(".eE") == std::string_view::npos) {
    if (t[0] == '-') {
      int64_t i;
      if (auto r = std::from_chars(first, last, i); r.ec == std::errc() && r.ptr == last) {
        out->i = i;
        out->kind = i >= std::numeric_limits<int32_t>::min() ? JsonNumber::Kind::kInt
                                                             : JsonNumber::Kind::kInt64;
        return true;
      }
    } else {
      uint64_t u;
      if (auto r = std::from_chars(first, last, u); r.ec == std::errc() && r.ptr == last) {
        out->u = u;
        out->kind = u <= std::numeric_limits<uint32_t>::max() ? JsonNumber::Kind::kUint
                                                              : JsonNumber::Kind::kUint64;
        return true;
      }
    }
    // Beyond 64 bits: read as a double, as RapidJSON does.
  }
  double d = 0;
  auto r = std::from_chars(first, last, d);
  out->kind = JsonNumber::Kind::kDouble;
  if (r.ec == std::errc::result_out_of_range) {
    if (magnitudeOf(t) >= 0) return false;
    out->d = t[0] == '-' ? -0.0 : 0.0;
    return true;
  }
  if (r.ec != std::errc() || r.ptr != last) return false;
  out->d = d;
  return true;
}

}  // namespace qz::provider
