// Tokenizer for T-SQL and SQLite statement texts; see sql_lexer.h.
#include "platform/db/sql_lexer.h"

#include "platform/db/connection_string.h"

namespace qz::db {
namespace {

// ASCII classes, whatever the locale (bytes of UTF-8 sequences are >= 0x80).
bool isSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool isAlpha(unsigned char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
bool isWordStart(unsigned char c) { return isAlpha(c) || c == '_' || c == '#' || c >= 0x80; }
bool isWordChar(unsigned char c) {
  return isAlpha(c) || isDigit(c) || c == '_' || c == '#' || c == '$' || c >= 0x80;
}

// End of a literal delimited by q where a doubled q stands for one q.
size_t quotedEnd(std::string_view s, size_t i, char q) {
  ++i;  // opening delimiter
  while (i < s.size()) {
    if (s[i] == q) {
      if (i + 1 < s.size() && s[i + 1] == q) {
        i += 2;
        continue;
      }
      return i + 1;
    }
    ++i;
  }
  return s.size();
}

}  // namespace

bool Token::isWord(std::string_view word) const {
  return kind == TokenKind::Word && EqualsNoCase(text, word);
}

namespace {

// The token that starts at start (< s.size()).
Token lexOne(std::string_view s, size_t start) {
  size_t i = start;
  const unsigned char c = static_cast<unsigned char>(s[i]);
  TokenKind kind;
  if (isSpace(c)) {
    while (i < s.size() && isSpace(static_cast<unsigned char>(s[i]))) ++i;
    kind = TokenKind::Space;
  } else if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
    while (i < s.size() && s[i] != '\n') ++i;
    kind = TokenKind::Comment;
  } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
    const size_t e = s.find("*/", i + 2);
    i = e == std::string_view::npos ? s.size() : e + 2;
    kind = TokenKind::Comment;
  } else if (c == '\'') {
    i = quotedEnd(s, i, '\'');
    kind = TokenKind::String;
  } else if (c == '"') {
    i = quotedEnd(s, i, '"');
    kind = TokenKind::Quoted;
  } else if (c == '[') {
    i = quotedEnd(s, i, ']');
    kind = TokenKind::Bracketed;
  } else if (isDigit(c) ||
             (c == '.' && i + 1 < s.size() && isDigit(static_cast<unsigned char>(s[i + 1])))) {
    while (i < s.size() && isDigit(static_cast<unsigned char>(s[i]))) ++i;
    if (i < s.size() && s[i] == '.') {
      ++i;
      while (i < s.size() && isDigit(static_cast<unsigned char>(s[i]))) ++i;
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
      size_t j = i + 1;
      if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
      if (j < s.size() && isDigit(static_cast<unsigned char>(s[j]))) {
        i = j;
        while (i < s.size() && isDigit(static_cast<unsigned char>(s[i]))) ++i;
      }
    }
    kind = TokenKind::Number;
  } else if (isWordStart(c)) {
    while (i < s.size() && isWordChar(static_cast<unsigned char>(s[i]))) ++i;
    kind = TokenKind::Word;
  } else if (c == ':' && i + 1 < s.size() && isWordStart(static_cast<unsigned char>(s[i + 1])) &&
             (start == 0 || s[start - 1] != ':')) {
    i += 1;
    while (i < s.size() && isWordChar(static_cast<unsigned char>(s[i]))) ++i;
    kind = TokenKind::Param;
  } else if (c == '@') {
    i += 1;
    if (i < s.size() && s[i] == '@') ++i;
    while (i < s.size() && isWordChar(static_cast<unsigned char>(s[i]))) ++i;
    kind = TokenKind::Variable;
  } else {
    static constexpr std::string_view kTwo[] = {
        "::", ":=", "<=", ">=", "<>", "!=", "||", "==", "!<", "!>", "<<", ">>"};
    i += 1;
    for (std::string_view two : kTwo)
      if (s.substr(start, 2) == two) {
        i = start + 2;
        break;
      }
    kind = TokenKind::Punct;
  }
  return Token{kind, s.substr(start, i - start), start};
}

}  // namespace

std::vector<Token> lexSql(std::string_view s) {
  std::vector<Token> out;
  out.reserve(s.size() / 3 + 4);
  for (size_t i = 0; i < s.size(); i += out.back().text.size()) out.push_back(lexOne(s, i));
  return out;
}

std::optional<Token> firstSignificantToken(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    Token t = lexOne(s, i);
    if (!t.trivia()) return t;
    i += t.text.size();
  }
  return std::nullopt;
}

std::string identifierName(const Token& t) {
  if (t.kind != TokenKind::Bracketed && t.kind != TokenKind::Quoted) return std::string(t.text);
  const char close = t.kind == TokenKind::Bracketed ? ']' : '"';
  std::string out;
  std::string_view body = t.text.substr(1);
  if (!body.empty() && body.back() == close) body.remove_suffix(1);
  for (size_t i = 0; i < body.size(); ++i) {
    out += body[i];
    if (body[i] == close && i + 1 < body.size() && body[i + 1] == close) ++i;
  }
  return out;
}

std::string stringLiteralValue(const Token& t) {
  std::string out;
  std::string_view body = t.text.substr(1);
  if (!body.empty() && body.back() == '\'') body.remove_suffix(1);
  for (size_t i = 0; i < body.size(); ++i) {
    out += body[i];
    if (body[i] == '\'' && i + 1 < body.size() && body[i + 1] == '\'') ++i;
  }
  return out;
}

}  // namespace qz::db
