// Exact reading of JSON numbers for the packet and delta readers.
//
// RapidJSON's own number conversion misreads some valid numbers: with its
// full-precision flag a zero significand and a large exponent ("0e55",
// "0.0e30") reads as about 1.3e36, and without the flag doubles may be off
// in their last bits. The readers therefore ask RapidJSON for numbers as
// text (kParseNumbersAsStringsFlag) and convert them here: integers exactly
// as RapidJSON would type them (Int, Uint, Int64, Uint64), everything else
// with std::from_chars, which rounds correctly.
#pragma once

#include <rapidjson/reader.h>

#include <cstdint>
#include <string_view>

namespace qz::provider {

struct JsonNumber {
  enum class Kind { kInt, kUint, kInt64, kUint64, kDouble };
  Kind kind = Kind::kInt;
  int64_t i = 0;   // kInt, kInt64
  uint64_t u = 0;  // kUint, kUint64
  double d = 0;    // kDouble
};

// Converts the text of a JSON number (as RapidJSON validated it). Returns
// false when its magnitude is beyond the largest double; a magnitude below
// the smallest one reads as zero of its sign.
bool readJsonNumber(std::string_view text, JsonNumber* out);

// The parse flags that go with ExactNumbers.
constexpr unsigned kExactNumberParseFlags =
    rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseIterativeFlag;

// A SAX handler that forwards every event to `inner`, turning the raw
// numbers of kParseNumbersAsStringsFlag into typed number events.
// Not thread-safe; lives for one parse.
template <class Handler>
class ExactNumbers {
 public:
  explicit ExactNumbers(Handler& inner) : inner_(inner) {}

  // True when the parse stopped at a number too large for a double.
  bool numberTooBig() const { return tooBig_; }

  bool Null() { return inner_.Null(); }
  bool Bool(bool b) { return inner_.Bool(b); }
  bool Int(int i) { return inner_.Int(i); }
  bool Uint(unsigned u) { return inner_.Uint(u); }
  bool Int64(int64_t i) { return inner_.Int64(i); }
  bool Uint64(uint64_t u) { return inner_.Uint64(u); }
  bool Double(double d) { return inner_.Double(d); }
  bool RawNumber(const char* s, rapidjson::SizeType n, bool) {
    JsonNumber v;
    if (!readJsonNumber(std::string_view(s, n), &v)) {
      tooBig_ = true;
      return false;
    }
    switch (v.kind) {
      case JsonNumber::Kind::kInt:
        return inner_.Int(static_cast<int>(v.i));
      case JsonNumber::Kind::kUint:
        return inner_.Uint(static_cast<unsigned>(v.u));
      case JsonNumber::Kind::kInt64:
        return inner_.Int64(v.i);
      case JsonNumber::Kind::kUint64:
        return inner_.Uint64(v.u);
      case JsonNumber::Kind::kDouble:
        break;
    }
    return inner_.Double(v.d);
  }
  bool String(const char* s, rapidjson::SizeType n, bool copy) { return inner_.String(s, n, copy); }
  bool StartObject() { return inner_.StartObject(); }
  bool Key(const char* s, rapidjson::SizeType n, bool copy) { return inner_.Key(s, n, copy); }
  bool EndObject(rapidjson::SizeType n) { return inner_.EndObject(n); }
  bool StartArray() { return inner_.StartArray(); }
  bool EndArray(rapidjson::SizeType n) { return inner_.EndArray(n); }

 private:
  Handler& inner_;
  bool tooBig_ = false;
};

}  // namespace qz::provider
