// The shape of a client's request key, which both the client tool and the
// server check before a key is sent or recorded.
//
// Thread-safety: constants and a pure function.
#pragma once

#include <cstddef>
#include <string_view>

namespace qz::db {

// Longest request key accepted, in characters.
inline constexpr size_t kMaxRequestKeyLength = 64;

// Whether key fits the table: 1 to kMaxRequestKeyLength characters of
// UTF-8 text.
inline bool requestKeyFits(std::string_view key) {
  size_t chars = 0;
  for (unsigned char c : key)
    if ((c & 0xC0) != 0x80) ++chars;  // continuation bytes belong to the character before
  return chars >= 1 && chars <= kMaxRequestKeyLength;
}

}  // namespace qz::db
