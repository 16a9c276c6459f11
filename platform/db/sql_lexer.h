// A tokenizer for the SQL texts the system sends (T-SQL) and for the SQLite
// statements of stored procedure bodies.
//
// Invariants: tokens cover the whole input without gaps and in order, so
// concatenating every token's text gives the input back exactly. A string
// literal, quoted identifier, bracketed name or comment is always one token,
// so nothing that works on tokens can ever look inside one. An unterminated
// literal or comment runs to the end of the input (the engine reports it).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz::db {

enum class TokenKind : unsigned char {
  Space,      // blanks and line ends
  Comment,    // -- to end of line, or /* ... */
  Word,       // identifier or keyword: letters, digits, _, #, $, non-ASCII
  Bracketed,  // [name] with ]] standing for ]
  Quoted,     // "name" with "" standing for "
  String,     // 'text' with '' standing for '
  Number,     // 12, 1.5, .5, 1e3
  Param,      // :name (a query parameter marker)
  Variable,   // @name or @@name
  Punct,      // one operator or punctuation: ( ) , ; . = < > <= >= <> != :: := || + - * / % etc.
};

struct Token {
  TokenKind kind;
  std::string_view text;  // view into the lexed input
  size_t offset;          // position in the input

  bool is(TokenKind k) const { return kind == k; }
  // True for Space and Comment.
  bool trivia() const { return kind == TokenKind::Space || kind == TokenKind::Comment; }
  // Word equal to word without regard to ASCII case.
  bool isWord(std::string_view word) const;
  bool isPunct(std::string_view p) const { return kind == TokenKind::Punct && text == p; }
  // An identifier: Word, Bracketed or Quoted.
  bool isIdentifier() const {
    return kind == TokenKind::Word || kind == TokenKind::Bracketed || kind == TokenKind::Quoted;
  }
};

// Splits sql into tokens. Never fails. The tokens view into sql, which must
// outlive them.
std::vector<Token> lexSql(std::string_view sql);

// The first token of sql that is not trivia, as lexSql would give it,
// found without lexing the rest; nullopt when there is none.
std::optional<Token> firstSignificantToken(std::string_view sql);

// The name an identifier token stands for: [a]]b] -> a]b, "x""y" -> x"y,
// Word -> itself.
std::string identifierName(const Token& t);

// The value of a String token ('it''s' -> it's).
std::string stringLiteralValue(const Token& t);

}  // namespace qz::db
