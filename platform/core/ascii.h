// ASCII case folding for names, keys and keywords: only A-Z and a-z change,
// every other byte (UTF-8 included) stays as it is, whatever the locale.
//
// Thread-safety: pure functions.
#pragma once

#include <string>
#include <string_view>

namespace qz {

inline char AsciiLowerChar(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }
inline char AsciiUpperChar(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

// s with A-Z as a-z.
std::string AsciiLower(std::string_view s);
// s with a-z as A-Z.
std::string AsciiUpper(std::string_view s);
// Whether a and b are equal when ASCII letters are compared without case.
// Inline: name lookups call it in their inner loops.
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && AsciiLowerChar(a[i]) != AsciiLowerChar(b[i])) return false;
  return true;
}

}  // namespace qz
