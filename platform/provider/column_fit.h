// Checks that a value sent for a table column fits it before it is written.
//
// An engine with loose column types (the embedded one) would store a text
// longer than its column or an amount outside the currency range as it is,
// and a later read of the row would fail or differ between engines. The
// resolver checks every value it writes, so both engines keep the same data
// and refuse with the same message. Stateless; safe from any thread.
#pragma once

#include <string>

#include "platform/core/types.h"
#include "platform/core/variant.h"

namespace qz::provider {

// Throws ProviderError naming field ("Field 'x': ...") when v does not fit
// column: a number outside the currency range for a money column, a text
// of more characters than a sized text column holds. Values of other kinds
// and columns of other types pass; the engine decides about them.
void CheckFitsColumn(const db::FieldDef& column, const std::string& field, const Variant& v);

// The number of characters of UTF-8 text (bytes that do not continue a
// character).
size_t Utf8Length(std::string_view text);

}  // namespace qz::provider
