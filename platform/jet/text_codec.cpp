// UTF-8 / UTF-16LE conversion, the compressed text form and index sort codes.
#include "platform/jet/text_codec.h"

#include <vector>

namespace qz::jet {
namespace {

// Decodes one UTF-8 code point at s[i], advancing i; U+FFFD on bad input.
char32_t NextCodePoint(std::string_view s, size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i++]);
  if (b0 < 0x80) return b0;
  int extra = 0;
  char32_t cp = 0;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3;
    cp = b0 & 0x07;
  } else
    return 0xFFFD;
  for (int k = 0; k < extra; ++k) {
    if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0xFFFD;
    cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
  }
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFD;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(char(cp));
  } else if (cp < 0x800) {
    out.push_back(char(0xC0 | (cp >> 6)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(char(0xE0 | (cp >> 12)));
    out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(char(0xF0 | (cp >> 18)));
    out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  }
}

void AppendUnit(std::string& out, char16_t u) {
  out.push_back(char(u & 0xFF));
  out.push_back(char(u >> 8));
}

std::u16string ToUnits(std::string_view utf8) {
  std::u16string units;
  units.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp = NextCodePoint(utf8, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      units.push_back(char16_t(0xD800 + (cp >> 10)));
      units.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
    } else {
      units.push_back(char16_t(cp));
    }
  }
  return units;
}

}  // namespace

std::string Utf8ToUtf16Le(std::string_view utf8) {
  std::string out;
  for (char16_t u : ToUnits(utf8)) AppendUnit(out, u);
  return out;
}

size_t Utf16Length(std::string_view utf8) { return ToUnits(utf8).size(); }

std::string Utf16LeToUtf8(std::string_view b) {
  std::string out;
  out.reserve(b.size());
  const size_t n = b.size() / 2;
  auto unit = [&](size_t k) {
    return char16_t(static_cast<unsigned char>(b[2 * k]) |
                    (static_cast<unsigned char>(b[2 * k + 1]) << 8));
  };
  for (size_t k = 0; k < n; ++k) {
    const char16_t u = unit(k);
    if (u >= 0xD800 && u <= 0xDBFF && k + 1 < n && unit(k + 1) >= 0xDC00 && unit(k + 1) <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (unit(k + 1) - 0xDC00));
      ++k;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

std::string EncodeTextField(std::string_view utf8, bool mayCompress) {
  const std::u16string units = ToUnits(utf8);
  bool compressible = mayCompress && !units.empty();
  for (char16_t u : units)
    if (u == 0 || u > 0xFF) compressible = false;
  std::string out;
  if (compressible) {
    // One run of one-byte characters: half the space of the plain form.
    out.reserve(units.size() + 2);
    out.push_back(char(0xFF));
    out.push_back(char(0xFE));
    for (char16_t u : units) out.push_back(char(u));
    return out;
  }
  out.reserve(units.size() * 2);
  for (char16_t u : units) AppendUnit(out, u);
  return out;
}

std::string DecodeTextField(std::string_view s) {
  if (s.size() < 2 || static_cast<unsigned char>(s[0]) != 0xFF ||
      static_cast<unsigned char>(s[1]) != 0xFE)
    return Utf16LeToUtf8(s);
  // Compressed: starts in one-byte mode; a 00 byte toggles the mode.
  std::string units;
  bool oneByte = true;
  for (size_t i = 2; i < s.size();) {
    if (s[i] == 0) {
      oneByte = !oneByte;
      ++i;
    } else if (oneByte) {
      units.push_back(s[i++]);
      units.push_back(0);
    } else {
      if (i + 1 >= s.size()) break;
      units.push_back(s[i]);
      units.push_back(s[i + 1]);
      i += 2;
    }
  }
  return Utf16LeToUtf8(units);
}

std::optional<std::string> GeneralSortKey(std::string_view utf8) {
  // Codes read from the catalog indexes of Jet- and Access-made files
  // (upper and lower case share a code). Letters k, w, x, z and the other
  // digits never appear there, so their codes are not guessed.
  static constexpr unsigned char kLetters[26] = {
      0x4a, 0x4c, 0x4d, 0x4f, 0x51, 0x53, 0x55, 0x57, 0x59, 0x5b, 0, 0x5e, 0x60,
      0x62, 0x64, 0x66, 0x68, 0x69, 0x6b, 0x6d, 0x6f, 0x71, 0,    0, 0x76, 0};
  static constexpr unsigned char kDigits[10] = {0, 0x38, 0x3a, 0x3c, 0x3e, 0, 0, 0, 0, 0};
  std::string_view text = utf8;
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  std::string key;
  for (char c : text) {
    unsigned char code = 0;
    if (c >= 'a' && c <= 'z')
      code = kLetters[c - 'a'];
    else if (c >= 'A' && c <= 'Z')
      code = kLetters[c - 'A'];
    else if (c >= '0' && c <= '9')
      code = kDigits[c - '0'];
    if (!code) return std::nullopt;
    key.push_back(char(code));
  }
  key.push_back(char(0x01));
  key.push_back(char(0x00));
  return key;
}

}  // namespace qz::jet
