// GBK byte counting through glibc's iconv, one character at a time.
#include "admin/gbk_text.h"

#include <iconv.h>

namespace qz::admin {
namespace {

// Length in bytes of the UTF-8 sequence starting at s[i]; 1 for a stray byte.
size_t SequenceLength(std::string_view s, size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
  if (i + n > s.size()) return 1;
  for (size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 1;
  return n;
}

// Bytes that one UTF-8 character takes in GBK (1 when unmappable).
size_t GbkBytesOfChar(std::string_view ch) {
  if (ch.size() == 1) return 1;
  iconv_t cd = iconv_open("GBK", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1))
    return 2;  // no converter: assume a double-byte character
  char out[8];
  char* in = const_cast<char*>(ch.data());
  size_t inLeft = ch.size();
  char* o = out;
  size_t outLeft = sizeof out;
  const size_t rc = iconv(cd, &in, &inLeft, &o, &outLeft);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1) || inLeft != 0) return 1;
  return sizeof out - outLeft;
}

}  // namespace

size_t GbkByteLength(std::string_view utf8) {
  size_t total = 0;
  for (size_t i = 0; i < utf8.size();) {
    const size_t n = SequenceLength(utf8, i);
    total += GbkBytesOfChar(utf8.substr(i, n));
    i += n;
  }
  return total;
}

std::string TruncateToGbkBytes(std::string_view utf8, size_t maxBytes) {
  size_t total = 0;
  size_t i = 0;
  while (i < utf8.size()) {
    const size_t n = SequenceLength(utf8, i);
    const size_t b = GbkBytesOfChar(utf8.substr(i, n));
    if (total + b > maxBytes) break;
    total += b;
    i += n;
  }
  return std::string(utf8.substr(0, i));
}

}  // namespace qz::admin
