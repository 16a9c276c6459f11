// Typed and tagged JSON values, base64 and decimal text.
#include "platform/packet/json_values.h"

#include <charconv>
#include <cstdio>
#include <limits>

namespace qz::provider {
namespace {

using db::FieldType;

constexpr char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int b64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

const char* jsonKind(const rapidjson::Value& v) {
  switch (v.GetType()) {
    case rapidjson::kNullType:
      return "null";
    case rapidjson::kFalseType:
    case rapidjson::kTrueType:
      return "a boolean";
    case rapidjson::kObjectType:
      return "an object";
    case rapidjson::kArrayType:
      return "an array";
    case rapidjson::kStringType:
      return "a string";
    default:
      return "a number";
  }
}

[[noreturn]] void fieldError(const db::FieldDef& f, const std::string& what) {
  throw CodecError("Field '" + f.name + "': " + what);
}

// The shortest decimal that reads back as d, in plain notation: the number
// as it was written (19.99, 1e-11 as 0.00000000001), without binary noise.
std::string doubleText(double d) {
  char buf[400];  // the longest fixed form of a double has about 330 characters
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed);
  std::string out;
  if (ec != std::errc() ||
      !normalizeDecimal(std::string_view(buf, static_cast<size_t>(end - buf)), &out))
    throw CodecError("Invalid decimal value");
  return out;
}

// A JSON number as the client wrote it, near enough for an error message.
std::string numberText(const rapidjson::Value& v) {
  if (v.IsInt64()) return std::to_string(v.GetInt64());
  if (v.IsUint64()) return std::to_string(v.GetUint64());
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v.GetDouble());
  return std::string(buf, end);
}

bool isIntKind(VarType t) { return t >= VarType::Boolean && t <= VarType::Int64; }

Variant intOfType(int64_t i, FieldType t, bool* ok) {
  *ok = true;
  if (t == FieldType::Int16) {
    if (i < std::numeric_limits<int16_t>::min() || i > std::numeric_limits<int16_t>::max())
      *ok = false;
    return Variant(static_cast<int16_t>(i));
  }
  if (t == FieldType::Int32) {
    if (i < std::numeric_limits<int32_t>::min() || i > std::numeric_limits<int32_t>::max())
      *ok = false;
    return Variant(static_cast<int32_t>(i));
  }
  return Variant(i);
}

}  // namespace

std::string base64Encode(std::string_view data) {
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    uint32_t n = (uint8_t(data[i]) << 16) | (uint8_t(data[i + 1]) << 8) | uint8_t(data[i + 2]);
    out += kB64[n >> 18];
    out += kB64[(n >> 12) & 63];
    out += kB64[(n >> 6) & 63];
    out += kB64[n & 63];
  }
  if (i + 1 == data.size()) {
    uint32_t n = uint8_t(data[i]) << 16;
    out += kB64[n >> 18];
    out += kB64[(n >> 12) & 63];
    out += "==";
  } else if (i + 2 == data.size()) {
    uint32_t n = (uint8_t(data[i]) << 16) | (uint8_t(data[i + 1]) << 8);
    out += kB64[n >> 18];
    out += kB64[(n >> 12) & 63];
    out += kB64[(n >> 6) & 63];
    out += '=';
  }
  return out;
}

std::string base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) throw CodecError("Invalid base64 text: length is not a multiple of 4");
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      char c = text[i + k];
      if (c == '=' && i + 4 == text.size() && k >= 2) {
        v[k] = 0;
        ++pad;
        continue;
      }
      if (pad) throw CodecError("Invalid base64 text: data after padding");
      v[k] = b64Value(c);
      if (v[k] < 0) throw CodecError("Invalid base64 text: unexpected character");
    }
    uint32_t n = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
    out += char(n >> 16);
    if (pad < 2) out += char((n >> 8) & 0xFF);
    if (pad < 1) out += char(n & 0xFF);
  }
  return out;
}

bool normalizeDecimal(std::string_view s, std::string* out) {
  size_t i = 0;
  bool neg = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
  size_t intStart = i;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
  std::string_view ip = s.substr(intStart, i - intStart);
  std::string_view fp;
  if (i < s.size() && s[i] == '.') {
    size_t f = ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    fp = s.substr(f, i - f);
  }
  if (i != s.size() || (ip.empty() && fp.empty())) return false;
  while (ip.size() > 1 && ip.front() == '0') ip.remove_prefix(1);
  while (!fp.empty() && fp.back() == '0') fp.remove_suffix(1);
  std::string r = ip.empty() ? "0" : std::string(ip);
  if (!fp.empty()) r += "." + std::string(fp);
  if (neg && r != "0") r.insert(r.begin(), '-');
  *out = std::move(r);
  return true;
}

bool typedText(const Variant& v, FieldType t, std::string* out) {
  switch (t) {
    case FieldType::Currency: {
      Currency c;
      if (v.type() == VarType::Currency)
        c = v.asCurrency();
      else if (isIntKind(v.type()) && v.type() != VarType::Boolean) {
        if (!Currency::fromUnits(v.asInt(), &c)) return false;
      } else if (v.type() == VarType::Double) {
        if (!Currency::fromDouble(v.asDouble(), &c)) return false;
      } else if (v.type() == VarType::Decimal || v.type() == VarType::String) {
        if (!Currency::parse(v.asString(), &c)) return false;
      } else
        return false;
      *out = c.toFixed4();
      return true;
    }
    case FieldType::Decimal:
      switch (v.type()) {
        case VarType::Decimal:
          *out = v.asString();
          return true;
        case VarType::Int16:
        case VarType::Int32:
        case VarType::Int64:
          *out = std::to_string(v.asInt());
          return true;
        case VarType::Double:
          if (!std::isfinite(v.asDouble())) return false;
          *out = doubleText(v.asDouble());
          return true;
        case VarType::Currency:
          *out = v.asCurrency().toPlain();
          return true;
        case VarType::String:
          return normalizeDecimal(v.asString(), out);
        default:
          return false;
      }
    case FieldType::DateTime:
    case FieldType::Date:
    case FieldType::Time: {
      DateTime d;
      if (v.type() == VarType::DateTime)
        d = v.asDateTime();
      else if (v.type() != VarType::String || !DateTime::parse(v.asString(), &d))
        return false;
      *out = d.toIso();
      return true;
    }
    case FieldType::String:
    case FieldType::Memo:
      if (v.type() == VarType::Array || v.isEmpty()) return false;
      *out = v.type() == VarType::Bytes ? v.asString() : v.toText();
      return true;
    case FieldType::Bytes:
      if (v.type() != VarType::Bytes && v.type() != VarType::String) return false;
      *out = base64Encode(v.asString());
      return true;
    default:
      return false;
  }
}

Variant variantFromTypedText(std::string_view text, const db::FieldDef& f, bool lenient) {
  if (lenient &&
      (f.type == FieldType::Boolean || f.type == FieldType::Int16 || f.type == FieldType::Int32 ||
       f.type == FieldType::Int64 || f.type == FieldType::Float))
    return coerceToFieldType(Variant(text), f.type);
  switch (f.type) {
    case FieldType::Currency: {
      Currency c;
      if (!Currency::parse(text, &c))
        fieldError(f,
                   "'" + std::string(text) + "' is not a valid currency value or is out of range");
      return Variant(c);
    }
    case FieldType::Decimal: {
      std::string d;
      if (!normalizeDecimal(text, &d))
        fieldError(f, "'" + std::string(text) + "' is not a valid decimal value");
      return Variant::decimal(std::move(d));
    }
    case FieldType::DateTime:
    case FieldType::Date:
    case FieldType::Time: {
      DateTime d;
      if (!DateTime::parse(text, &d))
        fieldError(f, "'" + std::string(text) + "' is not a valid date-time");
      return Variant(d);
    }
    case FieldType::String:
    case FieldType::Memo:
      return Variant(text);
    case FieldType::Bytes:
      try {
        return Variant::bytes(base64Decode(text));
      } catch (const CodecError& e) {
        fieldError(f, e.what());
      }
    default:
      fieldError(f,
                 std::string("expected a ") + db::fieldTypeName(f.type) + " value, got a string");
  }
}

namespace {
// Arrays of variants nest at most this deep; deeper input is refused
// rather than read by unbounded recursion.
constexpr int kMaxVariantDepth = 64;

Variant readTaggedAt(const rapidjson::Value& v, int depth);
}  // namespace

Variant readTaggedValue(const rapidjson::Value& v) { return readTaggedAt(v, 0); }

namespace {
Variant readTaggedAt(const rapidjson::Value& v, int depth) {
  switch (v.GetType()) {
    case rapidjson::kNullType:
      return Variant::null();
    case rapidjson::kFalseType:
      return Variant(false);
    case rapidjson::kTrueType:
      return Variant(true);
    case rapidjson::kStringType:
      return Variant(std::string_view(v.GetString(), v.GetStringLength()));
    case rapidjson::kNumberType:
      if (v.IsInt()) return Variant(static_cast<int32_t>(v.GetInt()));
      if (v.IsInt64()) return Variant(static_cast<int64_t>(v.GetInt64()));
      return Variant(v.GetDouble());
    case rapidjson::kArrayType: {
      if (depth >= kMaxVariantDepth)
        throw CodecError("Invalid tagged value: arrays nested too deeply");
      VariantArray a;
      a.reserve(v.Size());
      for (const auto& e : v.GetArray()) a.push_back(readTaggedAt(e, depth + 1));
      return Variant(std::move(a));
    }
    case rapidjson::kObjectType:
      break;
  }
  if (v.MemberCount() != 1) throw CodecError("Invalid tagged value: expected one member");
  const auto& m = *v.MemberBegin();
  std::string_view tag(m.name.GetString(), m.name.GetStringLength());
  if (tag == "$unassigned") {
    if (!m.value.IsBool() || !m.value.GetBool())
      throw CodecError("Invalid tagged value: $unassigned must be true");
    return Variant();
  }
  if (!m.value.IsString())
    throw CodecError("Invalid tagged value: " + std::string(tag) + " needs a string");
  std::string_view text(m.value.GetString(), m.value.GetStringLength());
  db::FieldDef f;
  if (tag == "$currency")
    f.type = FieldType::Currency;
  else if (tag == "$decimal")
    f.type = FieldType::Decimal;
  else if (tag == "$datetime")
    f.type = FieldType::DateTime;
  else if (tag == "$bytes")
    f.type = FieldType::Bytes;
  else
    throw CodecError("Invalid tagged value: unknown tag '" + std::string(tag) + "'");
  f.name = std::string(tag);
  try {
    return variantFromTypedText(text, f);
  } catch (const CodecError&) {
    throw CodecError("Invalid tagged value: '" + std::string(text) + "' is not a valid " +
                     std::string(tag.substr(1)));
  }
}

}  // namespace

Variant readTypedValue(const rapidjson::Value& v, const db::FieldDef& f) {
  switch (v.GetType()) {
    case rapidjson::kNullType:
      return Variant::null();
    case rapidjson::kObjectType:
      try {
        return readTaggedValue(v);
      } catch (const CodecError& e) {
        fieldError(f, e.what());
      }
    case rapidjson::kStringType:
      return variantFromTypedText(std::string_view(v.GetString(), v.GetStringLength()), f);
    case rapidjson::kFalseType:
    case rapidjson::kTrueType:
      if (f.type == FieldType::Boolean) return Variant(v.GetBool());
      break;
    case rapidjson::kNumberType:
      switch (f.type) {
        case FieldType::Int16:
        case FieldType::Int32:
        case FieldType::Int64: {
          if (!v.IsInt64())
            fieldError(f, std::string("expected an integer for ") + db::fieldTypeName(f.type));
          bool ok;
          Variant r = intOfType(v.GetInt64(), f.type, &ok);
          if (!ok)
            fieldError(f, std::to_string(v.GetInt64()) + " is out of range for " +
                              db::fieldTypeName(f.type));
          return r;
        }
        case FieldType::Float:
          return Variant(v.GetDouble());
        case FieldType::Currency: {
          Currency c;
          if (v.IsInt64() ? Currency::fromUnits(v.GetInt64(), &c)
                          : Currency::fromDouble(v.GetDouble(), &c))
            return Variant(c);
          fieldError(f, numberText(v) + " is out of range for currency");
        }
        case FieldType::Decimal:
          if (v.IsInt64()) return Variant::decimal(std::to_string(v.GetInt64()));
          return Variant::decimal(doubleText(v.GetDouble()));
        case FieldType::Boolean:
          if (v.IsInt64() && (v.GetInt64() == 0 || v.GetInt64() == 1))
            return Variant(v.GetInt64() == 1);
          break;
        default:
          break;
      }
      break;
    case rapidjson::kArrayType:
      break;
  }
  fieldError(f,
             std::string("expected a ") + db::fieldTypeName(f.type) + " value, got " + jsonKind(v));
}

db::FieldType fieldTypeOf(VarType t) {
  switch (t) {
    case VarType::Boolean:
      return FieldType::Boolean;
    case VarType::Int16:
      return FieldType::Int16;
    case VarType::Int32:
      return FieldType::Int32;
    case VarType::Int64:
      return FieldType::Int64;
    case VarType::Double:
      return FieldType::Float;
    case VarType::Currency:
      return FieldType::Currency;
    case VarType::Decimal:
      return FieldType::Decimal;
    case VarType::DateTime:
      return FieldType::DateTime;
    case VarType::Bytes:
      return FieldType::Bytes;
    default:
      return FieldType::String;
  }
}

Variant coerceToFieldType(const Variant& v, FieldType t) {
  if (v.isEmpty() || v.type() == VarType::Array) return v;
  try {
    switch (t) {
      case FieldType::Boolean:
        if (isIntKind(v.type())) return Variant(v.asInt() != 0);
        return v;
      case FieldType::Int16:
      case FieldType::Int32:
      case FieldType::Int64: {
        int64_t i;
        if (isIntKind(v.type()))
          i = v.asInt();
        else if (v.type() == VarType::String || v.type() == VarType::Decimal ||
                 v.type() == VarType::Double || v.type() == VarType::Currency) {
          double d = v.toDouble();
          if (d != std::floor(d)) return v;
          i = v.toInt64();
        } else
          return v;
        bool ok;
        Variant r = intOfType(i, t, &ok);
        return ok ? r : v;
      }
      case FieldType::Float:
        if (v.isNumeric() || v.type() == VarType::String) return Variant(v.toDouble());
        return v;
      case FieldType::Currency:
      case FieldType::Decimal:
      case FieldType::DateTime:
      case FieldType::Date:
      case FieldType::Time: {
        if (v.type() == VarType::Boolean) return v;
        std::string text;
        if (!typedText(v, t, &text)) return v;
        db::FieldDef f;
        f.type = t;
        return variantFromTypedText(text, f);
      }
      default:
        return v;
    }
  } catch (const std::exception&) {
    return v;
  }
}

}  // namespace qz::provider
