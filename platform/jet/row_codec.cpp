// Row packing, unpacking and value conversion to column types.
#include "platform/jet/row_codec.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/jet/bytes.h"
#include "platform/jet/jet_error.h"
#include "platform/jet/text_codec.h"

namespace qz::jet {
namespace {

constexpr int64_t kMsPerDay = 86400000;
constexpr int64_t kEpochDay = 25569;  // 1970-01-01 as a Jet day number

constexpr const char* kMismatch = "Data type mismatch in criteria expression.";
constexpr const char* kTooSmall =
    "The field is too small to accept the amount of data you attempted to add. "
    "Try inserting or pasting less data.";
constexpr const char* kOverflow = "Overflow";

[[noreturn]] void Mismatch() { throw JetError(JetErrorCode::BadValue, kMismatch); }

double NumberOf(const Variant& v) {
  try {
    if (v.type() == VarType::String) {
      std::string t = v.asString();
      while (!t.empty() && t.back() == ' ') t.pop_back();
      if (t.empty()) Mismatch();
      return Variant(t).toDouble();
    }
    if (v.type() == VarType::DateTime) return ToJetDate(v.asDateTime());
    return v.toDouble();
  } catch (const VariantError&) {
    Mismatch();
  }
}

int64_t IntegerOf(const Variant& v, int64_t lo, int64_t hi) {
  int64_t n = 0;
  if (v.type() == VarType::Boolean)
    n = v.asBool() ? -1 : 0;
  else if (v.type() == VarType::Int16 || v.type() == VarType::Int32 || v.type() == VarType::Int64)
    n = v.asInt();
  else {
    const double d = roundHalfEven(NumberOf(v));
    if (!(d >= double(lo) && d <= double(hi))) throw JetError(JetErrorCode::BadValue, kOverflow);
    n = int64_t(d);
  }
  if (n < lo || n > hi) throw JetError(JetErrorCode::BadValue, kOverflow);
  return n;
}

std::string GuidText(const uint8_t* p) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", Get32(p),
                Get16(p + 4), Get16(p + 6), p[8], p[9], p[10], p[11], p[12], p[13], p[14], p[15]);
  return buf;
}

}  // namespace

double ToJetDate(DateTime t) {
  const int64_t days =
      (t.msecs >= 0 ? t.msecs / kMsPerDay : -((-t.msecs + kMsPerDay - 1) / kMsPerDay));
  const int64_t ms = t.msecs - days * kMsPerDay;  // 0 .. one day
  const int64_t day = days + kEpochDay;
  const double frac = double(ms) / double(kMsPerDay);
  return day >= 0 ? double(day) + frac : double(day) - frac;
}

DateTime FromJetDate(double d) {
  // Far past the years Jet stores (100 to 9999), and within what the
  // millisecond count can hold.
  if (!(std::fabs(d) < 1e9)) throw JetError(JetErrorCode::Corrupt, "A date value is out of range.");
  const double whole = std::trunc(d);
  const double frac = std::fabs(d - whole);
  const int64_t ms = std::llround(frac * double(kMsPerDay));
  return DateTime{(int64_t(whole) - kEpochDay) * kMsPerDay + ms};
}

Variant CoerceToColumn(const ColumnDef& col, const Variant& v) {
  if (v.isEmpty()) return col.type == ColumnType::Boolean ? Variant(false) : Variant::null();
  switch (col.type) {
    case ColumnType::Boolean:
      if (v.type() == VarType::Boolean) return v;
      if (v.type() == VarType::String) {
        if (v.asString() == "True" || v.asString() == "true") return Variant(true);
        if (v.asString() == "False" || v.asString() == "false") return Variant(false);
      }
      return Variant(NumberOf(v) != 0);
    case ColumnType::Byte:
      return Variant(int16_t(IntegerOf(v, 0, 255)));
    case ColumnType::Integer:
      return Variant(int16_t(IntegerOf(v, -32768, 32767)));
    case ColumnType::Long:
      return Variant(int32_t(IntegerOf(v, INT32_MIN, INT32_MAX)));
    case ColumnType::Currency: {
      if (v.type() == VarType::Currency) return v;
      Currency c;
      if (v.type() == VarType::String || v.type() == VarType::Decimal) {
        std::string t = v.asString();
        while (!t.empty() && t.back() == ' ') t.pop_back();
        if (!Currency::parse(t, &c)) Mismatch();
        return Variant(c);
      }
      if (v.type() == VarType::Int16 || v.type() == VarType::Int32 || v.type() == VarType::Int64) {
        if (v.asInt() > INT64_MAX / 10000 || v.asInt() < INT64_MIN / 10000)
          throw JetError(JetErrorCode::BadValue, kOverflow);
        return Variant(Currency{v.asInt() * 10000});
      }
      const double d = NumberOf(v);
      if (!(std::fabs(d) < 9.2e14)) throw JetError(JetErrorCode::BadValue, kOverflow);
      return Variant(Currency::fromDouble(d));
    }
    case ColumnType::Single: {
      const double d = NumberOf(v);
      if (std::fabs(d) > std::numeric_limits<float>::max())
        throw JetError(JetErrorCode::BadValue, kOverflow);
      return Variant(double(float(d)));
    }
    case ColumnType::Double:
      return Variant(NumberOf(v));
    case ColumnType::DateTime: {
      if (v.type() == VarType::DateTime) return v;
      if (v.type() == VarType::String) {
        DateTime t;
        if (!DateTime::parse(v.asString(), &t)) Mismatch();
        return Variant(t);
      }
      return Variant(FromJetDate(NumberOf(v)));
    }
    case ColumnType::Text:
    case ColumnType::Memo: {
      std::string text;
      try {
        text = v.type() == VarType::String ? v.asString() : v.toText();
      } catch (const VariantError&) {
        Mismatch();
      }
      if (col.type == ColumnType::Text && Utf16Length(text) > col.length / 2u)
        throw JetError(JetErrorCode::BadValue, kTooSmall);
      return Variant(std::move(text));
    }
    case ColumnType::Binary:
    case ColumnType::Ole:
      if (v.type() != VarType::Bytes && v.type() != VarType::String) Mismatch();
      if (col.type == ColumnType::Binary && v.asString().size() > col.length)
        throw JetError(JetErrorCode::BadValue, kTooSmall);
      return Variant::bytes(v.asString());
    default:
      throw JetError(JetErrorCode::Unsupported,
                     "Columns of this type are not written by this library.");
  }
}

std::string EncodeRow(const TableDef& def, const std::vector<Variant>& values,
                      const LongValueStore& store) {
  const std::vector<const ColumnDef*> cols = def.columnsInRowOrder();
  size_t fixedLen = 0;
  for (const ColumnDef* c : cols)
    if (c->fixed() && c->type != ColumnType::Boolean)
      fixedLen = std::max<size_t>(fixedLen, size_t(c->fixedOffset) + c->length);
  uint16_t maxNumber = 0;
  for (const ColumnDef* c : cols) maxNumber = std::max<uint16_t>(maxNumber, c->number + 1);
  std::string row(2 + fixedLen, '\0');
  auto* p = reinterpret_cast<uint8_t*>(row.data());
  Put16(p, maxNumber);
  std::string mask((maxNumber + 7) / 8, '\0');
  auto setBit = [&](uint16_t n) { mask[n / 8] = char(mask[n / 8] | (1 << (n % 8))); };

  const int nvar = def.varColumnCount();
  std::vector<std::string> var(nvar);
  for (size_t i = 0; i < cols.size(); ++i) {
    const ColumnDef& c = *cols[i];
    const Variant& v = values.at(i);
    if (c.type == ColumnType::Boolean) {
      if (!v.isEmpty() && v.asBool()) setBit(c.number);
      continue;
    }
    if (v.isEmpty()) continue;
    setBit(c.number);
    uint8_t* f = reinterpret_cast<uint8_t*>(row.data()) + 2 + c.fixedOffset;
    switch (c.type) {
      case ColumnType::Byte:
        f[0] = uint8_t(v.asInt());
        break;
      case ColumnType::Integer:
        Put16(f, uint16_t(v.asInt()));
        break;
      case ColumnType::Long:
        Put32(f, uint32_t(v.asInt()));
        break;
      case ColumnType::Currency: {
        const uint64_t s = uint64_t(v.asCurrency().scaled);
        Put32(f, uint32_t(s));
        Put32(f + 4, uint32_t(s >> 32));
        break;
      }
      case ColumnType::Single: {
        const float fl = float(v.asDouble());
        std::memcpy(f, &fl, 4);
        break;
      }
      case ColumnType::Double:
        PutDouble(f, v.asDouble());
        break;
      case ColumnType::DateTime:
        PutDouble(f, ToJetDate(v.asDateTime()));
        break;
      case ColumnType::Text:
        var.at(c.varIndex) = EncodeTextField(v.asString(), c.miscFlags & kColumnCompressedText);
        break;
      case ColumnType::Binary:
        var.at(c.varIndex) = v.asString();
        break;
      case ColumnType::Memo:
      case ColumnType::Ole: {
        const std::string data =
            c.type == ColumnType::Memo
                ? EncodeTextField(v.asString(), c.miscFlags & kColumnCompressedText)
                : v.asString();
        if (data.size() > 0xFFFFFF) throw JetError(JetErrorCode::BadValue, kTooSmall);
        std::string field(12, '\0');
        auto* h = reinterpret_cast<uint8_t*>(field.data());
        if (data.size() <= kInlineLongValueMax) {
          Put32(h, uint32_t(data.size()) | 0x80000000u);
          field += data;
        } else {
          bool single = false;
          const uint32_t ptr = store(c, data, &single);
          Put32(h, uint32_t(data.size()) | (single ? 0x40000000u : 0));
          Put32(h + 4, ptr);
        }
        var.at(c.varIndex) = std::move(field);
        break;
      }
      default:
        throw JetError(JetErrorCode::Unsupported,
                       "Columns of this type are not written by this library.");
    }
  }
  if (nvar > 0) {
    std::vector<uint16_t> offsets(nvar);
    for (int k = 0; k < nvar; ++k) {
      offsets[k] = uint16_t(row.size());
      row += var[k];
    }
    Append16(row, uint16_t(row.size()));
    for (int k = nvar - 1; k >= 0; --k) Append16(row, offsets[k]);
    Append16(row, uint16_t(nvar));
  }
  row += mask;
  return row;
}

std::vector<Variant> DecodeRow(const TableDef& def, std::string_view row, const RowFetch& fetch) {
  const std::vector<const ColumnDef*> cols = def.columnsInRowOrder();
  const auto* r = reinterpret_cast<const uint8_t*>(row.data());
  auto corrupt = [] { return JetError(JetErrorCode::Corrupt, "A row of the table is damaged."); };
  if (row.size() < 3) throw corrupt();
  const uint16_t rowCols = Get16(r);
  const size_t maskLen = (rowCols + 7) / 8;
  if (row.size() < 2 + maskLen) throw corrupt();
  const size_t maskAt = row.size() - maskLen;
  auto bit = [&](uint16_t n) { return n < rowCols && (r[maskAt + n / 8] >> (n % 8)) & 1; };

  size_t varCount = 0;
  std::vector<uint16_t> offsets;
  if (def.varColumnCount() > 0) {
    if (maskAt < 4) throw corrupt();
    varCount = Get16(r + maskAt - 2);
    if (maskAt < 2 + 2 * (varCount + 1)) throw corrupt();
    for (size_t k = 0; k <= varCount; ++k) offsets.push_back(Get16(r + maskAt - 4 - 2 * k));
  }
  std::vector<Variant> out;
  out.reserve(cols.size());
  for (const ColumnDef* cp : cols) {
    const ColumnDef& c = *cp;
    if (c.type == ColumnType::Boolean) {
      out.emplace_back(bool(bit(c.number)));
      continue;
    }
    if (!bit(c.number)) {
      out.push_back(Variant::null());
      continue;
    }
    std::string_view data;
    if (c.fixed()) {
      if (size_t(2) + c.fixedOffset + c.length > maskAt) throw corrupt();
      data = row.substr(2 + c.fixedOffset, c.length);
    } else {
      if (c.varIndex >= varCount) {
        out.push_back(Variant::null());
        continue;
      }
      const uint16_t a = offsets[c.varIndex], b = offsets[c.varIndex + 1];
      if (a > b || b > maskAt) throw corrupt();
      data = row.substr(a, b - a);
    }
    const auto* d = reinterpret_cast<const uint8_t*>(data.data());
    switch (c.type) {
      case ColumnType::Byte:
        out.emplace_back(int16_t(d[0]));
        break;
      case ColumnType::Integer:
        out.emplace_back(int16_t(Get16(d)));
        break;
      case ColumnType::Long:
        out.emplace_back(int32_t(Get32(d)));
        break;
      case ColumnType::Currency:
        out.emplace_back(Currency{int64_t(uint64_t(Get32(d)) | (uint64_t(Get32(d + 4)) << 32))});
        break;
      case ColumnType::Single: {
        float f;
        std::memcpy(&f, d, 4);
        out.emplace_back(double(f));
        break;
      }
      case ColumnType::Double:
        out.emplace_back(GetDouble(d));
        break;
      case ColumnType::DateTime:
        out.emplace_back(FromJetDate(GetDouble(d)));
        break;
      case ColumnType::Text:
        out.emplace_back(DecodeTextField(data));
        break;
      case ColumnType::Binary:
        out.push_back(Variant::bytes(std::string(data)));
        break;
      case ColumnType::Guid:
        if (data.size() < 16) throw corrupt();
        out.emplace_back(GuidText(d));
        break;
      case ColumnType::Memo:
      case ColumnType::Ole: {
        if (data.size() < 12) throw corrupt();
        const uint32_t head = Get32(d);
        const size_t len = head & 0x3FFFFFFF;
        std::string value;
        if (head & 0x80000000u) {
          value.assign(data.substr(12, std::min(len, data.size() - 12)));
        } else if (head & 0x40000000u) {
          value.assign(fetch(Get32(d + 4)).substr(0, len));
        } else {
          // A chain: each piece starts with the pointer to the next one.
          uint32_t ptr = Get32(d + 4);
          for (int guard = 0; ptr && value.size() < len && guard < 100000; ++guard) {
            std::string_view piece = fetch(ptr);
            if (piece.size() < 4) throw corrupt();
            ptr = Get32(reinterpret_cast<const uint8_t*>(piece.data()));
            value.append(piece.substr(4));
          }
          value.resize(std::min(value.size(), len));
        }
        if (c.type == ColumnType::Memo)
          out.emplace_back(DecodeTextField(value));
        else
          out.push_back(Variant::bytes(std::move(value)));
        break;
      }
      default:
        throw JetError(JetErrorCode::Unsupported,
                       "Column " + c.name + " has a type this library does not read.");
    }
  }
  return out;
}

}  // namespace qz::jet
