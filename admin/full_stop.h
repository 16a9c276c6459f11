// The message rule of the standard error display: a full stop is appended
// to an error's text unless the text is empty or its last character is "."
// or a character that sorts before "." (a blank, "!", ")", ",", ...).
#pragma once

#include <string>
#include <string_view>

namespace qz::admin {

// Returns message with the full stop appended where the rule asks for one.
// Characters are compared by their code (UTF-8 lead bytes of non-ASCII
// characters sort after ".", so "有误！" gains a full stop).
std::string AppendFullStop(std::string_view message);

}  // namespace qz::admin
