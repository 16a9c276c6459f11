// Text of files written by the old system: UTF-8 when it is valid UTF-8,
// otherwise GBK (the code page the old system wrote), converted with iconv.
#include <iconv.h>

#include <cerrno>
#include <string>

#include "settings/config.h"

namespace qz::server {
namespace {

bool isValidUtf8(const std::string& s) {
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t len;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0 && c >= 0xC2) {
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
    } else if ((c & 0xF8) == 0xF0 && c <= 0xF4) {
      len = 4;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

}  // namespace

std::string toUtf8FromLegacy(const std::string& bytes) {
  if (isValidUtf8(bytes)) return bytes;
  // GB18030 is a superset of GBK, so every GBK file decodes.
  iconv_t cd = iconv_open("UTF-8", "GB18030");
  if (cd == reinterpret_cast<iconv_t>(-1)) return bytes;
  std::string out;
  out.resize(bytes.size() * 2 + 16);
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char* o = out.data();
  size_t outLeft = out.size();
  while (inLeft > 0) {
    size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      size_t used = static_cast<size_t>(o - out.data());
      out.resize(out.size() * 2);
      o = out.data() + used;
      outLeft = out.size() - used;
    } else {
      // An invalid byte: keep a replacement character and go on.
      if (outLeft < 3) {
        size_t used = static_cast<size_t>(o - out.data());
        out.resize(out.size() * 2);
        o = out.data() + used;
        outLeft = out.size() - used;
      }
      *o++ = '\xEF';
      *o++ = '\xBF';
      *o++ = '\xBD';
      outLeft -= 3;
      ++in;
      --inLeft;
    }
  }
  iconv_close(cd);
  out.resize(static_cast<size_t>(o - out.data()));
  return out;
}

}  // namespace qz::server
