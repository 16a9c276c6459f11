// OLE DB connection texts as data: "Key=Value;Key2=Value2".
//
// Keys are matched without regard to ASCII case and keep their spelling and
// order; a value may be quoted with ' or " to hold ';' or '='; a doubled
// quote inside a quoted value stands for one quote. Empty segments are
// skipped. The last occurrence of a repeated key wins on lookup.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/core/ascii.h"

namespace qz::db {

class ConnectionString {
 public:
  ConnectionString() = default;
  // Never fails: text that has no '=' in a segment becomes a key with an
  // empty value, as the old data-access layer tolerated.
  static ConnectionString parse(std::string_view text);

  // The value of key (case-insensitive), or nullopt when absent.
  std::optional<std::string> get(std::string_view key) const;
  // The value or "" when absent.
  std::string value(std::string_view key) const;
  bool has(std::string_view key) const { return get(key).has_value(); }

  // Replaces the value of every occurrence of key in place (keeping their
  // positions), or appends the key.
  void set(std::string_view key, std::string_view value);
  // Removes every occurrence of key. Returns whether one was present.
  bool remove(std::string_view key);

  // Composes the text again; values holding ';', '=', quotes or outer blanks
  // are quoted, so parse(toString()) gives back the same pairs.
  std::string toString() const;

  const std::vector<std::pair<std::string, std::string>>& pairs() const { return pairs_; }

 private:
  std::vector<std::pair<std::string, std::string>> pairs_;
};

// True for a database name that can stand in a connection text, a
// statement and a file name as it is: 1 to 128 bytes, no outer blanks, no
// control characters and none of ; = ' " [ ] . / \. Names read from
// settings files are checked with it before they are used, so a value such
// as "qz9;Initial Catalog=master" cannot redirect a connection.
bool IsPlainDatabaseName(std::string_view name);

// v as a value in a composed connection text: quoted when it holds ';' or
// begins with a quote (either would end the value or be read as quoting,
// so a password or a database name could add keys of its own); otherwise
// as it is, so ordinary settings give the very text they always gave.
std::string ConnectionTextValue(std::string_view v);

}  // namespace qz::db
