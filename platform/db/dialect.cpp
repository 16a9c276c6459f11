// T-SQL to engine dialect rewriting on tokens; see dialect.h.
#include "platform/db/dialect.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "platform/core/ascii.h"
#include "platform/db/connection_string.h"
#include "platform/db/sql_lexer.h"
#include "platform/db/sql_quote.h"

namespace qz::db {
namespace {

struct DatePartName {
  std::string_view alias;
  std::string_view canonical;
};
constexpr DatePartName kDateParts[] = {
    {"year", "year"},       {"yy", "year"},
    {"yyyy", "year"},       {"quarter", "quarter"},
    {"qq", "quarter"},      {"q", "quarter"},
    {"month", "month"},     {"mm", "month"},
    {"m", "month"},         {"dayofyear", "dayofyear"},
    {"dy", "dayofyear"},    {"y", "dayofyear"},
    {"day", "day"},         {"dd", "day"},
    {"d", "day"},           {"week", "week"},
    {"wk", "week"},         {"ww", "week"},
    {"weekday", "weekday"}, {"dw", "weekday"},
    {"w", "weekday"},       {"hour", "hour"},
    {"hh", "hour"},         {"minute", "minute"},
    {"mi", "minute"},       {"n", "minute"},
    {"second", "second"},   {"ss", "second"},
    {"s", "second"},        {"millisecond", "millisecond"},
    {"ms", "millisecond"},
};

bool isDateTimeTypeName(const Token& t) {
  return t.isWord("datetime") || t.isWord("smalldatetime") || t.isWord("datetime2");
}

// Translates one statement held in toks (trivia included).
class StatementTranslator {
 public:
  StatementTranslator(const std::vector<Token>& toks, const DialectOptions& opt)
      : t_(toks), opt_(opt), pg_(opt.flavor == SqlFlavor::Postgres) {
    for (size_t i = 0; i < t_.size(); ++i)
      if (!t_[i].trivia()) sig_.push_back(i);
  }

  DialectStatement run() {
    DialectStatement st;
    if (sig_.empty()) return st;
    if (tryExec(&st)) return st;
    if (tryNative(&st)) return st;
    size_t begin = 0;
    std::string prefix;
    if (auto d = tryDeleteFrom(&prefix)) begin = *d;
    out_ = std::move(prefix);
    emit(begin, t_.size());
    flushLimits(0);
    st.sql = std::move(out_);
    st.markers = std::move(markers_);
    return st;
  }

 private:
  // Index into t_ of the next significant token at or after i, or t_.size().
  size_t nextSig(size_t i) const {
    while (i < t_.size() && t_[i].trivia()) ++i;
    return i;
  }
  const Token* at(size_t i) const { return i < t_.size() ? &t_[i] : nullptr; }
  bool wordAt(size_t i, std::string_view w) const { return i < t_.size() && t_[i].isWord(w); }
  bool punctAt(size_t i, std::string_view p) const { return i < t_.size() && t_[i].isPunct(p); }

  // Index of the ')' matching the '(' at open, or t_.size().
  size_t matchingParen(size_t open) const {
    int depth = 0;
    for (size_t i = open; i < t_.size(); ++i) {
      if (t_[i].isPunct("(")) ++depth;
      if (t_[i].isPunct(")") && --depth == 0) return i;
    }
    return t_.size();
  }

  std::string identifier(const Token& t) const {
    if (t.kind == TokenKind::Word) return std::string(t.text);
    const std::string name = identifierName(t);
    return QuoteSqlName(pg_ ? AsciiLower(name) : name);
  }

  std::string marker(const Token& t) {
    const std::string_view name = t.text.substr(1);
    size_t n = 0;
    for (; n < markers_.size(); ++n)
      if (EqualsNoCase(markers_[n], name)) break;
    if (n == markers_.size()) markers_.emplace_back(name);
    return (pg_ ? "$" : "?") + std::to_string(n + 1);
  }

  std::string qualifierFor(const Token& db) const {
    if (!opt_.qualify) return std::string();
    return opt_.qualify(identifierName(db));
  }

  // Appends the translation of t_[b, e).
  void emit(size_t b, size_t e) {
    for (size_t i = b; i < e;) i = emitOne(i, e);
  }

  // Translates the construct starting at t_[i]; returns the index after it.
  size_t emitOne(size_t i, size_t e) {
    const Token& tok = t_[i];
    switch (tok.kind) {
      case TokenKind::Param:
        out_ += marker(tok);
        return i + 1;
      case TokenKind::Punct:
        if (tok.text == "(") {
          ++depth_;
        } else if (tok.text == ")") {
          flushLimits(depth_);
          if (depth_ > 0) --depth_;
        }
        out_ += tok.text;
        return i + 1;
      case TokenKind::Quoted:
        out_ += pg_ ? identifier(tok) : std::string(tok.text);
        return i + 1;
      case TokenKind::Bracketed:
      case TokenKind::Word:
        return emitWordLike(i, e);
      default:
        out_ += tok.text;
        return i + 1;
    }
  }

  size_t emitWordLike(size_t i, size_t e) {
    const Token& tok = t_[i];
    // Qualified names: db.dbo.name, db..name, dbo.name (dots adjacent).
    const bool afterDot = i > 0 && t_[i - 1].isPunct(".");
    if (!afterDot && i + 2 < e && t_[i + 1].isPunct(".")) {
      const Token& second = t_[i + 2];
      if (second.isPunct(".") && i + 3 < e && t_[i + 3].isIdentifier()) {
        out_ += qualifierFor(tok);
        out_ += identifier(t_[i + 3]);
        return i + 4;
      }
      if (second.isIdentifier() && EqualsNoCase(identifierName(second), "dbo")) {
        if (i + 4 < e && t_[i + 3].isPunct(".") && t_[i + 4].isIdentifier()) {
          out_ += qualifierFor(tok);
          out_ += identifier(t_[i + 4]);
          return i + 5;
        }
      }
      if (EqualsNoCase(identifierName(tok), "dbo") && second.isIdentifier()) {
        out_ += identifier(second);
        return i + 3;
      }
    }
    if (tok.kind == TokenKind::Bracketed) {
      out_ += identifier(tok);
      return i + 1;
    }
    // N'text': the national-character prefix is dropped.
    if ((tok.text == "N" || tok.text == "n") && i + 1 < e && t_[i + 1].is(TokenKind::String)) {
      return i + 1;
    }
    if (afterDot) {
      out_ += tok.text;
      return i + 1;
    }
    if (tok.isWord("select")) return emitSelect(i, e);
    // The old server's LIKE ignores case, as SQLite's does for ASCII.
    if (pg_ && tok.isWord("like")) {
      out_ += "ILIKE";
      return i + 1;
    }
    if (tok.isWord("getdate")) {
      const size_t open = nextSig(i + 1);
      if (punctAt(open, "(") && punctAt(nextSig(open + 1), ")") && nextSig(open + 1) < e) {
        out_ += pg_ ? "LOCALTIMESTAMP(3)" : "getdate()";
        return nextSig(open + 1) + 1;
      }
    }
    // isnull(a, b): coalesce on every engine.
    if (tok.isWord("isnull") && punctAt(nextSig(i + 1), "(")) {
      out_ += "coalesce";
      return i + 1;
    }
    if (tok.isWord("datepart")) {
      if (auto next = emitDatePart(i, e)) return *next;
    }
    if (tok.isWord("cast")) {
      if (auto next = emitCast(i, e)) return *next;
    }
    out_ += tok.text;
    return i + 1;
  }

  // SELECT [DISTINCT|ALL] TOP n | TOP (n): the TOP clause is dropped and a
  // LIMIT is written where this SELECT ends.
  size_t emitSelect(size_t i, size_t e) {
    out_ += t_[i].text;
    size_t j = nextSig(i + 1);
    if (wordAt(j, "distinct") || wordAt(j, "all")) j = nextSig(j + 1);
    if (!wordAt(j, "top") || j >= e) return i + 1;
    size_t k = nextSig(j + 1);
    size_t countTok, after;
    if (punctAt(k, "(")) {
      countTok = nextSig(k + 1);
      const size_t close = nextSig(countTok + 1);
      if (!punctAt(close, ")")) return i + 1;
      after = close + 1;
    } else {
      countTok = k;
      after = k + 1;
    }
    const Token* count = at(countTok);
    if (!count || !(count->is(TokenKind::Number) || count->is(TokenKind::Param))) return i + 1;
    if (wordAt(nextSig(after), "percent") || wordAt(nextSig(after), "with")) return i + 1;
    if (after > e) return i + 1;
    // Keep the blanks between SELECT [DISTINCT] and what follows TOP n.
    for (size_t m = i + 1; m < j; ++m) emitOne(m, e);
    const std::string limit =
        count->is(TokenKind::Param) ? marker(*count) : std::string(count->text);
    limits_.push_back(PendingLimit{depth_, limit});
    // One blank separates what came before TOP from what follows it.
    if (after < e && t_[after].is(TokenKind::Space) && !out_.empty() &&
        std::isspace(static_cast<unsigned char>(out_.back())))
      ++after;
    return after;
  }

  void flushLimits(int depth) {
    while (!limits_.empty() && limits_.back().depth == depth) {
      // Trailing blanks stay after the LIMIT clause.
      size_t keep = out_.size();
      while (keep > 0 && (out_[keep - 1] == ' ' || out_[keep - 1] == '\t' ||
                          out_[keep - 1] == '\r' || out_[keep - 1] == '\n'))
        --keep;
      const std::string tail = out_.substr(keep);
      out_.resize(keep);
      out_ += " LIMIT " + limits_.back().count + tail;
      limits_.pop_back();
    }
  }

  // datepart(unit, x)
  std::optional<size_t> emitDatePart(size_t i, size_t e) {
    const size_t open = nextSig(i + 1);
    if (!punctAt(open, "(")) return std::nullopt;
    const size_t unitTok = nextSig(open + 1);
    const size_t comma = nextSig(unitTok + 1);
    const size_t close = matchingParen(open);
    if (!punctAt(comma, ",") || close >= e) return std::nullopt;
    const Token& u = t_[unitTok];
    std::string unitName;
    if (u.is(TokenKind::Word) || u.is(TokenKind::Bracketed))
      unitName = identifierName(u);
    else if (u.is(TokenKind::String))
      unitName = stringLiteralValue(u);
    else
      return std::nullopt;
    const std::string_view canon = canonicalDatePart(unitName);
    if (canon.empty()) return std::nullopt;
    // The argument, translated on its own.
    std::string saved = std::move(out_);
    out_.clear();
    emit(comma + 1, close);
    std::string arg = std::move(out_);
    out_ = std::move(saved);
    if (!pg_) {
      out_ += "datepart('" + std::string(canon) + "'," + arg + ")";
      return close + 1;
    }
    const std::string x = "(" + arg + ")";
    if (canon == "weekday") {
      out_ += "(CAST(EXTRACT(DOW FROM " + x + ") AS integer) + 1)";
    } else if (canon == "dayofyear") {
      out_ += "CAST(EXTRACT(DOY FROM " + x + ") AS integer)";
    } else if (canon == "week") {
      // Week 1 holds January 1; weeks start on Sunday.
      out_ += "(CAST(floor((EXTRACT(DOY FROM " + x + ") + EXTRACT(DOW FROM date_trunc('year', " +
              x + ")) - 1) / 7) AS integer) + 1)";
    } else if (canon == "millisecond") {
      out_ += "(CAST(EXTRACT(MILLISECONDS FROM " + x + ") AS integer) % 1000)";
    } else if (canon == "second") {
      out_ += "CAST(floor(EXTRACT(SECOND FROM " + x + ")) AS integer)";
    } else {
      const std::string field = AsciiUpper(canon);
      out_ += "CAST(EXTRACT(" + field + " FROM " + x + ") AS integer)";
    }
    return close + 1;
  }

  // cast(x as datetime)
  std::optional<size_t> emitCast(size_t i, size_t e) {
    const size_t open = nextSig(i + 1);
    if (!punctAt(open, "(")) return std::nullopt;
    const size_t close = matchingParen(open);
    if (close >= e) return std::nullopt;
    // The last AS at the top level of the parentheses.
    size_t as = t_.size();
    int depth = 0;
    for (size_t k = open + 1; k < close; ++k) {
      if (t_[k].isPunct("("))
        ++depth;
      else if (t_[k].isPunct(")"))
        --depth;
      else if (depth == 0 && t_[k].isWord("as"))
        as = k;
    }
    if (as == t_.size()) return std::nullopt;
    const size_t type = nextSig(as + 1);
    if (type >= close || !isDateTimeTypeName(t_[type]) || nextSig(type + 1) != close)
      return std::nullopt;
    std::string saved = std::move(out_);
    out_.clear();
    emit(open + 1, as);
    std::string arg = std::move(out_);
    out_ = std::move(saved);
    if (pg_)
      out_ += "CAST(" + arg + "AS timestamp(3))";
    else
      out_ += "qz_datetime(" + arg + ")";
    return close + 1;
  }

  // DELETE x FROM t [[AS] a] WHERE ... and DELETE t WHERE ...: returns the
  // index where translation goes on, with the rewritten head in *prefix.
  std::optional<size_t> tryDeleteFrom(std::string* prefix) {
    if (!t_[sig_[0]].isWord("delete") || sig_.size() < 2) return std::nullopt;
    const Token& target = t_[sig_[1]];
    if (!target.isIdentifier() || target.isWord("from") || target.isWord("top"))
      return std::nullopt;
    // Only plain names (no qualified names) are rewritten.
    if (sig_.size() > 2 && t_[sig_[2]].isPunct(".")) return std::nullopt;
    const std::string head = std::string(t_[sig_[0]].text) + " FROM ";
    if (sig_.size() == 2 || t_[sig_[2]].isWord("where")) {
      *prefix = head;
      return sig_[1];
    }
    if (!t_[sig_[2]].isWord("from") || sig_.size() < 4 || !t_[sig_[3]].isIdentifier())
      return std::nullopt;
    const Token& table = t_[sig_[3]];
    size_t k = 4;
    const Token* aliasTok = nullptr;
    if (k < sig_.size() && t_[sig_[k]].isWord("as")) ++k;
    if (k < sig_.size() && t_[sig_[k]].isIdentifier() && !t_[sig_[k]].isWord("where")) {
      aliasTok = &t_[sig_[k]];
      ++k;
    } else if (k != 4) {
      return std::nullopt;  // AS without an alias
    }
    if (k < sig_.size() && !t_[sig_[k]].isWord("where")) return std::nullopt;
    const std::string x = identifierName(target);
    if (!EqualsNoCase(x, identifierName(table)) &&
        !(aliasTok && EqualsNoCase(x, identifierName(*aliasTok))))
      return std::nullopt;
    // Both engines want AS before the alias of DELETE's table.
    *prefix = head + identifier(table);
    if (aliasTok) *prefix += " AS " + identifier(*aliasTok);
    return sig_[k - 1] + 1;
  }

  // EXEC[UTE] [db.[dbo].]proc [arg[, arg...]]
  bool tryExec(DialectStatement* st) {
    const Token& head = t_[sig_[0]];
    if (!head.isWord("exec") && !head.isWord("execute")) return false;
    size_t k = 1;
    auto sig = [&](size_t n) -> const Token* { return n < sig_.size() ? &t_[sig_[n]] : nullptr; };
    // Name parts separated by dots.
    std::vector<std::string> parts;
    const Token* p = sig(k);
    if (!p || !p->isIdentifier()) return false;
    parts.push_back(identifierName(*p));
    ++k;
    while (sig(k) && sig(k)->isPunct(".")) {
      ++k;
      if (sig(k) && sig(k)->isPunct(".")) {  // db..name
        parts.push_back("dbo");
        continue;
      }
      if (!sig(k) || !sig(k)->isIdentifier()) return false;
      parts.push_back(identifierName(*sig(k)));
      ++k;
    }
    if (parts.size() > 3) return false;
    std::string database;
    if (parts.size() == 3) database = parts[0];
    if (parts.size() >= 2 && !EqualsNoCase(parts[parts.size() - 2], "dbo")) return false;
    // Arguments.
    std::vector<ExecArgument> args;
    std::vector<std::string> pgArgs;
    while (sig(k)) {
      ExecArgument a;
      std::string pgArg;
      if (sig(k)->is(TokenKind::Variable) && sig(k + 1) && sig(k + 1)->isPunct("=")) {
        a.name = std::string(sig(k)->text);
        pgArg = AsciiLower(a.name.substr(1)) + " => ";
        k += 2;
      }
      const Token* v = sig(k);
      if (!v) return false;
      if (v->is(TokenKind::Word) && (v->text == "N" || v->text == "n") && sig(k + 1) &&
          sig(k + 1)->is(TokenKind::String) && sig(k + 1)->offset == v->offset + 1) {
        ++k;
        v = sig(k);
      }
      if (v->is(TokenKind::String)) {
        a.value = Variant(stringLiteralValue(*v));
        pgArg += std::string(v->text);
        ++k;
      } else if (v->is(TokenKind::Variable) && !pg_) {
        a.param = std::string(v->text);
        ++k;
      } else if (v->is(TokenKind::Param)) {
        a.param = std::string(v->text.substr(1));
        pgArg += marker(*v);
        ++k;
      } else if (v->isWord("null")) {
        a.value = Variant::null();
        pgArg += "NULL";
        ++k;
      } else if (v->is(TokenKind::Number) || ((v->isPunct("-") || v->isPunct("+")) && sig(k + 1) &&
                                              sig(k + 1)->is(TokenKind::Number))) {
        std::string text;
        if (!v->is(TokenKind::Number)) {
          text = std::string(v->text);
          ++k;
        }
        text += std::string(sig(k)->text);
        ++k;
        if (text.find_first_of(".eE") == std::string::npos) {
          char* end = nullptr;
          const long long n = std::strtoll(text.c_str(), &end, 10);
          if (n >= INT32_MIN && n <= INT32_MAX)
            a.value = Variant(static_cast<int32_t>(n));
          else
            a.value = Variant(static_cast<int64_t>(n));
        } else if (text.find_first_of("eE") == std::string::npos) {
          a.value = Variant::decimal(text[0] == '+' ? text.substr(1) : text);
        } else {
          a.value = Variant(std::strtod(text.c_str(), nullptr));
        }
        pgArg += text;
      } else {
        return false;
      }
      if (sig(k) && (sig(k)->isWord("output") || sig(k)->isWord("out"))) {
        a.output = true;
        ++k;
      }
      args.push_back(std::move(a));
      pgArgs.push_back(std::move(pgArg));
      if (!sig(k)) break;
      if (!sig(k)->isPunct(",")) return false;
      ++k;
      if (!sig(k)) return false;
    }
    if (pg_) {
      std::string sql = "SELECT * FROM " + QuoteSqlName(AsciiLower(parts.back())) + "(";
      for (size_t n = 0; n < pgArgs.size(); ++n) {
        if (n) sql += ", ";
        sql += pgArgs[n];
      }
      sql += ")";
      st->kind = DialectStatement::Kind::Sql;
      st->sql = std::move(sql);
      st->markers = std::move(markers_);
      return true;
    }
    st->kind = DialectStatement::Kind::Exec;
    st->database = std::move(database);
    st->procedure = parts.back();
    st->args = std::move(args);
    return true;
  }

  // RESTORE DATABASE d FROM DISK = 'f'; CREATE DATABASE d; DROP DATABASE d.
  bool tryNative(DialectStatement* st) {
    auto sig = [&](size_t n) -> const Token* { return n < sig_.size() ? &t_[sig_[n]] : nullptr; };
    if (sig_.size() == 3 && sig(1)->isWord("database") && sig(2)->isIdentifier() &&
        (sig(0)->isWord("create") || sig(0)->isWord("drop"))) {
      if (pg_) return false;  // the server does these itself
      st->kind = sig(0)->isWord("create") ? DialectStatement::Kind::CreateDatabase
                                          : DialectStatement::Kind::DropDatabase;
      st->database = identifierName(*sig(2));
      return true;
    }
    // Optionally followed by WITH PASSWORD = 'p' (the backup set's password).
    const bool withPassword = sig_.size() == 11 && sig(7)->isWord("with") &&
                              sig(8)->isWord("password") && sig(9)->isPunct("=") &&
                              sig(10)->is(TokenKind::String);
    if ((sig_.size() == 7 || withPassword) && sig(0)->isWord("restore") &&
        sig(1)->isWord("database") && sig(2)->isIdentifier() && sig(3)->isWord("from") &&
        sig(4)->isWord("disk") && sig(5)->isPunct("=") && sig(6)->is(TokenKind::String)) {
      st->kind = DialectStatement::Kind::Restore;
      st->database = identifierName(*sig(2));
      st->disk = stringLiteralValue(*sig(6));
      if (withPassword) st->password = stringLiteralValue(*sig(10));
      return true;
    }
    return false;
  }

  struct PendingLimit {
    int depth;
    std::string count;
  };

  const std::vector<Token>& t_;
  const DialectOptions& opt_;
  const bool pg_;
  std::vector<size_t> sig_;  // indexes of significant tokens
  std::string out_;
  std::vector<std::string> markers_;
  std::vector<PendingLimit> limits_;
  int depth_ = 0;
};

// Splits tokens at top-level ';' into statements (each a token vector). A
// CREATE TRIGGER body (BEGIN ... END) and CASE ... END stay whole.
std::vector<std::vector<Token>> splitTokens(const std::vector<Token>& toks) {
  std::vector<std::vector<Token>> out(1);
  int depth = 0;
  int blocks = 0;
  auto isTriggerStatement = [](const std::vector<Token>& stmt) {
    int n = 0;
    bool create = false;
    for (const Token& t : stmt) {
      if (t.trivia()) continue;
      if (n == 0)
        create = t.isWord("create");
      else if (create && t.isWord("trigger"))
        return true;
      if (++n > 3) break;
    }
    return false;
  };
  for (const Token& t : toks) {
    if (t.isPunct("(")) ++depth;
    if (t.isPunct(")") && depth > 0) --depth;
    if (t.isWord("case") || (t.isWord("begin") && isTriggerStatement(out.back()))) ++blocks;
    if (t.isWord("end") && blocks > 0) --blocks;
    if (depth == 0 && blocks == 0 && t.isPunct(";")) {
      out.emplace_back();
      continue;
    }
    out.back().push_back(t);
  }
  std::erase_if(out, [](const std::vector<Token>& v) {
    for (const Token& t : v)
      if (!t.trivia()) return false;
    return true;
  });
  return out;
}

}  // namespace

std::string_view canonicalDatePart(std::string_view unit) {
  for (const auto& d : kDateParts)
    if (EqualsNoCase(unit, d.alias)) return d.canonical;
  return {};
}

std::vector<DialectStatement> translateSql(std::string_view tsql, const DialectOptions& options) {
  const std::vector<Token> toks = lexSql(tsql);
  std::vector<DialectStatement> out;
  for (const auto& stmt : splitTokens(toks)) {
    StatementTranslator tr(stmt, options);
    out.push_back(tr.run());
  }
  return out;
}

std::vector<std::string_view> splitSqlStatements(std::string_view text) {
  const std::vector<Token> toks = lexSql(text);
  std::vector<std::string_view> out;
  for (const auto& stmt : splitTokens(toks)) {
    const size_t b = stmt.front().offset;
    const size_t e = stmt.back().offset + stmt.back().text.size();
    out.push_back(text.substr(b, e - b));
  }
  return out;
}

}  // namespace qz::db
