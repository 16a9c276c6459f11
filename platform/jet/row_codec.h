// Rows of a Jet 4 data page, packed and unpacked.
//
// Layout: u16 column count; the fixed-length columns at their offsets;
// the variable-length values one after another; then (only when the table
// has variable-length columns) u16 end of data, the u16 start offsets of
// the variable values last to first, u16 their count; and a null mask with
// one bit per column number (1 = has a value). Booleans live in the mask
// bit alone and are never null.
//
// Values are qz::Variant: Byte and Integer read as Int16, Long as Int32,
// Single and Double as Double, Currency, DateTime, Text and Memo as
// String, Binary and OLE as Bytes, GUID as its "{...}" text.
//
// Thread-safety: pure functions.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/variant.h"
#include "platform/jet/table_def.h"

namespace qz::jet {

// Day count since 1899-12-30 (fraction = time of day; before that day the
// fraction still counts forward from midnight) and back.
double ToJetDate(DateTime t);
DateTime FromJetDate(double d);

// Converts v to what the column stores: the number, text or date the
// column's type holds, or Null. A Boolean column turns Null into false.
// Throws JetError(BadValue) with the Jet provider's text when the value
// cannot become the column's type or does not fit it.
Variant CoerceToColumn(const ColumnDef& col, const Variant& v);

// Long values too long for the row are stored elsewhere by store, which
// returns the row pointer of the first piece and whether it is a single
// row (true) or a chain.
using LongValueStore =
    std::function<uint32_t(const ColumnDef& column, std::string_view data, bool* singleRow)>;
// The bytes of the data page row a pointer names.
using RowFetch = std::function<std::string_view(uint32_t rowPointer)>;

// Packs values (one per column, in row order, already coerced).
// Throws JetError(Unsupported) for a type the writer does not handle.
std::string EncodeRow(const TableDef& def, const std::vector<Variant>& values,
                      const LongValueStore& store);
// Unpacks a row; values in row order.
// Throws JetError(Corrupt) on a row whose offsets leave its bytes.
std::vector<Variant> DecodeRow(const TableDef& def, std::string_view row, const RowFetch& fetch);

// Memo values up to this many bytes are kept inside the row.
inline constexpr size_t kInlineLongValueMax = 64;

}  // namespace qz::jet
