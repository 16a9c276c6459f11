// Lengths of text in code page 936 (GBK), for edits whose limit the old
// system counted in bytes of that code page.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qz::admin {

// Bytes that utf8 takes in GBK: 1 for ASCII, 2 for a GBK character, and 1
// for a character GBK cannot hold (it would be written as "?").
// Invalid UTF-8 bytes count one each.
size_t GbkByteLength(std::string_view utf8);

// The longest prefix of utf8 (whole characters) that fits in maxBytes of GBK.
std::string TruncateToGbkBytes(std::string_view utf8, size_t maxBytes);

}  // namespace qz::admin
