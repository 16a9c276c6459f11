// Jet 4 text: UCS-2 little-endian on disk, UTF-8 everywhere else in the
// system; the "compressed" form that Access writes for text made of
// characters below U+0100; and the sort codes of text index keys.
//
// Thread-safety: pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qz::jet {

// UTF-8 to UTF-16LE bytes. Invalid UTF-8 sequences become U+FFFD.
std::string Utf8ToUtf16Le(std::string_view utf8);
// UTF-16LE bytes (an odd last byte is ignored) to UTF-8; unpaired
// surrogates become U+FFFD.
std::string Utf16LeToUtf8(std::string_view utf16);
// The number of UTF-16 code units of a UTF-8 text (a Text(n) column holds n).
size_t Utf16Length(std::string_view utf8);

// A Text field as stored: the compressed form (FF FE, then runs of one-byte
// characters, a 00 byte switching between one- and two-byte runs) when every
// character is below U+0100 and none is U+0000, else plain UTF-16LE.
std::string EncodeTextField(std::string_view utf8, bool mayCompress = true);
// Reads either stored form back to UTF-8.
std::string DecodeTextField(std::string_view stored);

// The key bytes of a text column in an index of the "General" (legacy)
// sort order: one code per character, letters without regard to case,
// trailing spaces ignored, ended by 01 00. Returns nullopt when a
// character has no code this library knows (only letters and the digits
// 1-4 seen in Jet-made files are known).
std::optional<std::string> GeneralSortKey(std::string_view utf8);

}  // namespace qz::jet
