// Quoting of text and names spliced into SQL statements: the one place that
// does it, so every statement built from a caller's text quotes it alike.
//
// Both engines read 'it''s' as a string literal and "a""b" as a quoted name
// (PostgreSQL keeps the case of a quoted name). Statements in the system's own
// dialect may also name objects as [a]]b], which the dialect translates.
// All functions are pure and thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace qz::db {

// 'text' with each ' doubled: a string literal with exactly the value text.
std::string QuoteSqlText(std::string_view text);

// "name" with each " doubled: a quoted identifier spelled exactly name.
std::string QuoteSqlName(std::string_view name);

// name unchanged when it is a plain identifier of the system's dialect (a
// letter of any script, _, # or @ first, then also digits and $), otherwise
// [name] with each ] doubled. Keeps the statements an operator sees readable.
std::string QuoteBracketName(std::string_view name);

}  // namespace qz::db
