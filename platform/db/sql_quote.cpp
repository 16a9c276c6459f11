// Quoting of SQL text and names; see sql_quote.h.
#include "platform/db/sql_quote.h"

namespace qz::db {
namespace {

// open + text + close, with each close inside text doubled.
std::string Enclose(std::string_view text, char open, char close) {
  std::string out;
  out.reserve(text.size() + 2);
  out += open;
  for (char c : text) {
    if (c == close) out += close;
    out += c;
  }
  out += close;
  return out;
}

bool PlainNameChar(char c, bool first) {
  if (static_cast<unsigned char>(c) >= 0x80) return true;  // letters of other scripts
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '#' || c == '@')
    return true;
  return !first && ((c >= '0' && c <= '9') || c == '$');
}

}  // namespace

std::string QuoteSqlText(std::string_view text) { return Enclose(text, '\'', '\''); }

std::string QuoteSqlName(std::string_view name) { return Enclose(name, '"', '"'); }

std::string QuoteBracketName(std::string_view name) {
  bool plain = !name.empty();
  for (size_t i = 0; plain && i < name.size(); ++i) plain = PlainNameChar(name[i], i == 0);
  return plain ? std::string(name) : Enclose(name, '[', ']');
}

}  // namespace qz::db
