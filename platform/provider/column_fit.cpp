// Column fit checks of the values the resolver writes.
#include "platform/provider/column_fit.h"

#include "platform/packet/json_values.h"
#include "platform/provider/provider.h"

namespace qz::provider {
namespace {

[[noreturn]] void refuse(const std::string& field, const std::string& what) {
  throw ProviderError(ErrorKind::BadRequest, "Field '" + field + "': " + what);
}

// True when v is a number (or number text) that has no currency value.
bool outsideCurrency(const Variant& v) {
  Currency c;
  switch (v.type()) {
    case VarType::Int16:
    case VarType::Int32:
    case VarType::Int64:
      return !Currency::fromUnits(v.asInt(), &c);
    case VarType::Double:
      return !Currency::fromDouble(v.asDouble(), &c);
    case VarType::Decimal:
    case VarType::String: {
      if (Currency::parse(v.asString(), &c)) return false;
      try {
        return !Currency::fromDouble(v.toDouble(), &c);
      } catch (const VariantError&) {
        return false;  // not a number at all: the engine's own conversion error
      }
    }
    default:
      return false;
  }
}

}  // namespace

size_t Utf8Length(std::string_view text) {
  size_t n = 0;
  for (unsigned char b : text) n += (b & 0xC0) != 0x80;
  return n;
}

void CheckFitsColumn(const db::FieldDef& column, const std::string& field, const Variant& v) {
  switch (column.type) {
    case db::FieldType::Currency:
      if (outsideCurrency(v)) refuse(field, "'" + v.toText() + "' is out of range for currency");
      return;
    case db::FieldType::String:
      if (column.size > 0 && (v.type() == VarType::String || v.type() == VarType::Bytes)) {
        const size_t n = Utf8Length(v.asString());
        if (n > static_cast<size_t>(column.size))
          refuse(field, "text of " + std::to_string(n) +
                            " characters is longer than the column's " +
                            std::to_string(column.size));
      }
      return;
    default:
      return;
  }
}

}  // namespace qz::provider
