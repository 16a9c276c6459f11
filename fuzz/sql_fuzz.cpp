// Fuzz target: SQL text from clients (commandText of AS_GetRecords and
// AS_Execute): the lexer, the statement splitter, the parameter markers and
// the dialect translation for both engines. Tokens must cover the text
// exactly, and quoting must survive the lexer.
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "platform/db/connection.h"
#include "platform/db/dialect.h"
#include "platform/db/sql_lexer.h"
#include "platform/db/sql_quote.h"

using namespace qz;

namespace {

void CheckTokens(std::string_view sql) {
  std::vector<db::Token> tokens = db::lexSql(sql);
  size_t at = 0;
  for (const db::Token& t : tokens) {
    fuzz::Check(t.offset == at && !t.text.empty(), "tokens follow each other without gaps");
    fuzz::Check(t.text.data() == sql.data() + at, "a token views into the text");
    at += t.text.size();
    if (t.isIdentifier()) db::identifierName(t);
    if (t.is(db::TokenKind::String)) db::stringLiteralValue(t);
  }
  fuzz::Check(at == sql.size(), "tokens cover the whole text");
}

void CheckQuoting(std::string_view text) {
  const std::string literal = db::QuoteSqlText(text);
  std::vector<db::Token> tokens = db::lexSql(literal);
  fuzz::Check(tokens.size() == 1 && tokens[0].is(db::TokenKind::String),
              "a quoted literal is one token");
  fuzz::Check(db::stringLiteralValue(tokens[0]) == text, "a quoted literal keeps its value");

  const std::string name = db::QuoteSqlName(text);
  tokens = db::lexSql(name);
  fuzz::Check(tokens.size() == 1 && tokens[0].is(db::TokenKind::Quoted),
              "a quoted name is one token");
  fuzz::Check(db::identifierName(tokens[0]) == text, "a quoted name keeps its spelling");
}

void Translate(std::string_view sql, db::SqlFlavor flavor) {
  db::DialectOptions options;
  options.flavor = flavor;
  options.qualify = [](std::string_view database) -> std::string {
    if (EqualsNoCase(database, "master")) return "master.";
    if (database.size() > 3) throw db::DbError("unknown database");
    return "";
  };
  try {
    for (const db::DialectStatement& s : db::translateSql(sql, options)) {
      if (s.kind != db::DialectStatement::Kind::Sql) continue;
      CheckTokens(s.sql);
      db::parseParamNames(s.sql);
    }
  } catch (const db::DbError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view sql(reinterpret_cast<const char*>(data), size);
  CheckTokens(sql);
  for (std::string_view piece : db::splitSqlStatements(sql)) {
    fuzz::Check(
        piece.data() >= sql.data() && piece.data() + piece.size() <= sql.data() + sql.size(),
        "statements view into the batch");
  }
  db::parseParamNames(sql);
  Translate(sql, db::SqlFlavor::Sqlite);
  Translate(sql, db::SqlFlavor::Postgres);
  if (size < 256) CheckQuoting(sql);
  db::canonicalDatePart(sql);
  return 0;
}
