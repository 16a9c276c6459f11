// Value rules of the posting: the base price of a material line and the
// date text of the client date statement.
#pragma once

#include <cstdint>
#include <string>

#include "platform/core/variant.h"

namespace qz::services {

// price / factor keeping the numeric kind of price, in plain decimal
// notation with "." and no trailing zeros: a currency value stays currency,
// rounded half to even at four decimals ("2.5", "0.3333"); any other number
// gives a double written with at most 15 significant digits and never an
// exponent ("0.333333333333333", "0.0000001").
// Throws VariantError for a non-numeric price, std::domain_error for a
// factor of 0 ("Division by zero") and std::range_error for a base price or
// a currency quotient outside the currency range.
std::string formatBasePrice(const Variant& price, int32_t factor);

// Today's local date as the database reads it: "YYYY-MM-DD".
std::string todayText();

// A double in plain notation with at most 15 significant digits.
std::string plainDouble(double v);

}  // namespace qz::services
