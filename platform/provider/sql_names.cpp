// A small scanner over T-SQL text: skips literals, quoted names and
// comments, finds the FROM keyword and reads the name after it.

#include "platform/provider/sql_names.h"

#include <cctype>

#include "platform/core/ascii.h"

namespace qz::provider {
namespace {

bool isNameStart(unsigned char c) {
  return std::isalpha(c) || c == '_' || c == '#' || c == '@' || c >= 0x80;
}
bool isNameChar(unsigned char c) { return isNameStart(c) || std::isdigit(c) || c == '$'; }

// Reads one name part at pos; returns its length, 0 when none.
size_t namePart(std::string_view s, size_t pos) {
  if (pos >= s.size()) return 0;
  unsigned char c = s[pos];
  if (c == '[') {
    size_t end = s.find(']', pos + 1);
    return end == std::string_view::npos || end == pos + 1 ? 0 : end - pos + 1;
  }
  if (c == '"') {
    size_t end = s.find('"', pos + 1);
    return end == std::string_view::npos || end == pos + 1 ? 0 : end - pos + 1;
  }
  if (!isNameStart(c)) return 0;
  size_t i = pos + 1;
  while (i < s.size() && isNameChar(s[i])) ++i;
  return i - pos;
}

// Reads a dotted chain of name parts at pos; returns its length.
size_t nameChain(std::string_view s, size_t pos) {
  size_t i = pos;
  for (;;) {
    size_t n = namePart(s, i);
    if (!n) return 0;
    i += n;
    if (i < s.size() && s[i] == '.') {
      ++i;
      if (i < s.size() && s[i] == '.') ++i;  // db..name
      continue;
    }
    return i - pos;
  }
}

}  // namespace

std::string tableAfterFrom(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (c == '\'') {
      size_t end = i + 1;
      for (;;) {
        end = s.find('\'', end);
        if (end == std::string_view::npos) return {};
        if (end + 1 < s.size() && s[end + 1] == '\'') {
          end += 2;
          continue;
        }
        break;
      }
      i = end + 1;
    } else if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
      size_t end = s.find('\n', i);
      i = end == std::string_view::npos ? s.size() : end + 1;
    } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
      size_t end = s.find("*/", i + 2);
      i = end == std::string_view::npos ? s.size() : end + 2;
    } else if (c == '[' || c == '"') {
      size_t n = namePart(s, i);
      i += n ? n : 1;
    } else if (isNameStart(static_cast<unsigned char>(c))) {
      size_t n = i + 1;
      while (n < s.size() && isNameChar(s[n])) ++n;
      std::string_view word = s.substr(i, n - i);
      i = n;
      if (EqualsNoCase(word, "from")) {
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
        size_t len = nameChain(s, i);
        return std::string(s.substr(i, len));
      }
    } else {
      ++i;
    }
  }
  return {};
}

bool isTableName(std::string_view text) {
  return !text.empty() && nameChain(text, 0) == text.size();
}

std::string bracketName(std::string_view name) {
  std::string out = "[";
  for (char c : name) {
    out += c;
    if (c == ']') out += ']';
  }
  out += ']';
  return out;
}

}  // namespace qz::provider
