// Parsing of the statement forms a Jet connection runs.
#include "platform/db/jet_statement.h"

#include <cstdlib>

#include "platform/db/connection.h"
#include "platform/db/sql_lexer.h"

namespace qz::db {
namespace {

class Parser {
 public:
  explicit Parser(std::string_view sql) {
    for (const Token& t : lexSql(sql))
      if (!t.trivia()) tokens_.push_back(t);
  }

  JetStatement parse() {
    JetStatement st;
    if (acceptWord("INSERT")) {
      error_ = "Syntax error in INSERT INTO statement.";
      expectWord("INTO");
      st.kind = JetStatement::Kind::Insert;
      st.table = name();
      if (acceptPunct("(")) {
        do st.columns.push_back(name());
        while (acceptPunct(","));
        expectPunct(")");
      }
      expectWord("VALUES");
      expectPunct("(");
      do st.values.push_back(value());
      while (acceptPunct(","));
      expectPunct(")");
    } else if (acceptWord("DELETE")) {
      error_ = "Syntax error in DELETE statement.";
      st.kind = JetStatement::Kind::Delete;
      if (!peekWord("FROM")) name();
      expectWord("FROM");
      st.table = name();
      where(st);
      if (st.whereColumn.empty()) fail();
    } else if (acceptWord("SELECT")) {
      error_ = "Syntax error in FROM clause.";
      st.kind = JetStatement::Kind::Select;
      if (!acceptPunct("*")) {
        do st.columns.push_back(name());
        while (acceptPunct(","));
      }
      expectWord("FROM");
      st.table = name();
      if (peekWord("WHERE")) where(st);
    } else {
      throw DbError(
          "Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or "
          "'UPDATE'.");
    }
    acceptPunct(";");
    if (pos_ != tokens_.size()) throw DbError("Characters found after end of SQL statement.");
    return st;
  }

 private:
  [[noreturn]] void fail() { throw DbError(error_); }
  const Token* peek() const { return pos_ < tokens_.size() ? &tokens_[pos_] : nullptr; }
  bool peekWord(std::string_view w) const { return peek() && peek()->isWord(w); }
  bool acceptWord(std::string_view w) {
    if (!peekWord(w)) return false;
    ++pos_;
    return true;
  }
  void expectWord(std::string_view w) {
    if (!acceptWord(w)) fail();
  }
  bool acceptPunct(std::string_view p) {
    if (!peek() || !peek()->isPunct(p)) return false;
    ++pos_;
    return true;
  }
  void expectPunct(std::string_view p) {
    if (!acceptPunct(p)) fail();
  }
  std::string name() {
    if (!peek() || !peek()->isIdentifier()) fail();
    return identifierName(tokens_[pos_++]);
  }
  void where(JetStatement& st) {
    expectWord("WHERE");
    st.whereColumn = name();
    expectPunct("=");
    st.whereValue = value();
  }
  JetValue value() {
    const Token* t = peek();
    if (!t) fail();
    JetValue v;
    bool negative = false;
    if (t->isPunct("-") || t->isPunct("+")) {
      negative = t->isPunct("-");
      ++pos_;
      t = peek();
      if (!t || t->kind != TokenKind::Number) fail();
    }
    ++pos_;
    switch (t->kind) {
      case TokenKind::Param:
        v.isParam = true;
        v.param = std::string(t->text.substr(1));
        return v;
      case TokenKind::String:
        v.literal = Variant(stringLiteralValue(*t));
        return v;
      case TokenKind::Number: {
        const std::string text = (negative ? "-" : "") + std::string(t->text);
        if (text.find_first_of(".eE") == std::string::npos && text.size() < 19)
          v.literal = Variant(int64_t(std::strtoll(text.c_str(), nullptr, 10)));
        else
          v.literal = Variant(std::strtod(text.c_str(), nullptr));
        return v;
      }
      case TokenKind::Word:
        if (t->isWord("NULL"))
          v.literal = Variant::null();
        else if (t->isWord("TRUE"))
          v.literal = Variant(true);
        else if (t->isWord("FALSE"))
          v.literal = Variant(false);
        else
          fail();
        return v;
      default:
        fail();
    }
  }

  std::vector<Token> tokens_;
  size_t pos_ = 0;
  std::string error_ = "Syntax error.";
};

}  // namespace

JetStatement ParseJetStatement(std::string_view sql) { return Parser(sql).parse(); }

}  // namespace qz::db
