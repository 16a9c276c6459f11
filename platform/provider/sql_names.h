// Names inside statements: the table a query reads (the name after its
// first "from"), table names that clients send, and column names written
// into statements the server composes.
#pragma once

#include <string>
#include <string_view>

namespace qz::provider {

// The table named after the first FROM keyword outside string literals,
// quoted names and comments, as written (a qualified name keeps its
// qualification: "dbo.bills", "[my table]"). Empty when the statement has
// no FROM or FROM is followed by something else than a name.
std::string tableAfterFrom(std::string_view sql);

// True when text is one name or a dotted chain of names, each plain
// (letters, digits, '_', '#', '@', '$', bytes >= 0x80; not starting with a
// digit) or bracketed ("[...]" without ']' inside) or double-quoted.
bool isTableName(std::string_view text);

// A column name as a bracketed name ("[cltid]", "]" doubled), which the
// dialect layer turns into the engine's quoted identifier.
std::string bracketName(std::string_view name);

}  // namespace qz::provider
