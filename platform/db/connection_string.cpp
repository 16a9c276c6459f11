// Parsing and composing OLE DB connection texts.
#include "platform/db/connection_string.h"

#include <cctype>

namespace qz::db {
namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool needsQuotes(std::string_view v) {
  if (v.empty()) return false;
  if (std::isspace(static_cast<unsigned char>(v.front())) ||
      std::isspace(static_cast<unsigned char>(v.back())))
    return true;
  return v.find_first_of(";='\"") != std::string_view::npos;
}

}  // namespace

ConnectionString ConnectionString::parse(std::string_view text) {
  ConnectionString cs;
  size_t i = 0;
  while (i < text.size()) {
    // Key: up to '=' or ';'.
    size_t k = i;
    while (k < text.size() && text[k] != '=' && text[k] != ';') ++k;
    std::string key(trim(text.substr(i, k - i)));
    std::string value;
    i = k;
    if (i < text.size() && text[i] == '=') {
      ++i;
      while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
      if (i < text.size() && (text[i] == '"' || text[i] == '\'')) {
        const char q = text[i++];
        while (i < text.size()) {
          if (text[i] == q) {
            if (i + 1 < text.size() && text[i + 1] == q) {
              value += q;
              i += 2;
              continue;
            }
            ++i;
            break;
          }
          value += text[i++];
        }
        while (i < text.size() && text[i] != ';') ++i;  // ignore trailing junk
      } else {
        size_t e = i;
        while (e < text.size() && text[e] != ';') ++e;
        value = std::string(trim(text.substr(i, e - i)));
        i = e;
      }
    }
    if (i < text.size() && text[i] == ';') ++i;
    if (!key.empty()) cs.pairs_.emplace_back(std::move(key), std::move(value));
  }
  return cs;
}

std::optional<std::string> ConnectionString::get(std::string_view key) const {
  for (auto it = pairs_.rbegin(); it != pairs_.rend(); ++it)
    if (EqualsNoCase(it->first, key)) return it->second;
  return std::nullopt;
}

std::string ConnectionString::value(std::string_view key) const {
  return get(key).value_or(std::string());
}

void ConnectionString::set(std::string_view key, std::string_view value) {
  // Every occurrence changes: lookups take the last one, and a text that
  // names a key twice must not keep reaching the old value.
  bool found = false;
  for (auto& p : pairs_)
    if (EqualsNoCase(p.first, key)) {
      p.second = std::string(value);
      found = true;
    }
  if (!found) pairs_.emplace_back(std::string(key), std::string(value));
}

bool ConnectionString::remove(std::string_view key) {
  size_t before = pairs_.size();
  std::erase_if(pairs_, [&](const auto& p) { return EqualsNoCase(p.first, key); });
  return pairs_.size() != before;
}

std::string ConnectionTextValue(std::string_view v) {
  const size_t first = v.find_first_not_of(" \t");
  const bool quoteFirst = first != std::string_view::npos && (v[first] == '"' || v[first] == '\'');
  if (v.find(';') == std::string_view::npos && !quoteFirst) return std::string(v);
  const char q = v.find('"') == std::string_view::npos ? '"' : '\'';
  std::string out(1, q);
  for (const char c : v) {
    if (c == q) out += q;
    out += c;
  }
  out += q;
  return out;
}

bool IsPlainDatabaseName(std::string_view name) {
  if (name.empty() || name.size() > 128 || name.front() == ' ' || name.back() == ' ') return false;
  for (const char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7f) return false;
    if (std::string_view(";='\"[]./\\").find(ch) != std::string_view::npos) return false;
  }
  return true;
}

std::string ConnectionString::toString() const {
  std::string out;
  for (const auto& [k, v] : pairs_) {
    if (!out.empty()) out += ';';
    out += k;
    out += '=';
    if (needsQuotes(v)) {
      const char q = v.find('"') == std::string::npos ? '"' : '\'';
      out += q;
      for (char c : v) {
        if (c == q) out += q;
        out += c;
      }
      out += q;
    } else {
      out += v;
    }
  }
  return out;
}

}  // namespace qz::db
