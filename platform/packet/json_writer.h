// The JSON writer of every answer: rapidjson's own writer with a quicker
// String() for text that needs no escaping, which is nearly all of the text
// in rows (codes, names, dates). rapidjson copies such text one character
// at a time below 16 characters; here a run without '"', '\\' or control
// characters is checked and copied whole. Anything else goes through
// rapidjson's escaping unchanged, so the output is byte for byte the same.
#pragma once

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstring>

namespace qz::provider {

// Not thread-safe, like the writer it extends.
class JsonWriter : public rapidjson::Writer<rapidjson::StringBuffer> {
 public:
  using Base = rapidjson::Writer<rapidjson::StringBuffer>;
  using Base::Base;
  using Base::String;

  bool String(const char* s, rapidjson::SizeType n, bool copy = false) {
    if (!plainText(s, n)) return Base::String(s, n, copy);
    Prefix(rapidjson::kStringType);
    char* p = os_->Push(n + 2);
    p[0] = '"';
    if (n) std::memcpy(p + 1, s, n);  // an empty string's pointer may be null
    p[n + 1] = '"';
    return EndValue(true);
  }

 private:
  // Whether s holds nothing JSON escapes (bytes from 0x80 are UTF-8 and
  // pass as they are).
  static bool plainText(const char* s, rapidjson::SizeType n) {
    for (rapidjson::SizeType i = 0; i < n; ++i) {
      const unsigned char c = static_cast<unsigned char>(s[i]);
      if (c < 0x20 || c == '"' || c == '\\') return false;
    }
    return true;
  }
};

}  // namespace qz::provider
