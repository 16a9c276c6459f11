// JSON forms of single values: values typed by their field (inside packets
// and deltas) and tagged variants (where no field type is known: untyped
// parameters, OwnerData, data requests).
//
// Typed forms: numbers as JSON numbers, currency as "12.3400", decimal as
// its decimal text, date-times as "YYYY-MM-DDTHH:MM:SS.mmm", bytes as
// base64 text, null as null. A value that does not fit its field's type
// (an engine with loose column types) is written as a tagged variant,
// which every reader accepts in place of a typed value.
//
// Tagged forms: null, booleans, integers as numbers without fraction,
// doubles always with a fraction or exponent, {"$currency": "..."},
// {"$decimal": "..."}, {"$datetime": "..."}, {"$bytes": "..."},
// {"$unassigned": true}, strings, arrays of variants.
//
// The writers are templates over rapidjson writers so that the same code
// streams into a string buffer or any other output stream.
#pragma once

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/core/types.h"
#include "platform/core/variant.h"
#include "platform/packet/json_writer.h"

namespace qz::provider {

// Malformed or mistyped JSON: the message says what and where.
class CodecError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string base64Encode(std::string_view data);
// Throws CodecError on characters outside the alphabet or a bad length.
std::string base64Decode(std::string_view text);

// Canonical decimal text ("-12.5", "0", "3") of "[+-]digits[.digits]";
// returns false for anything else.
bool normalizeDecimal(std::string_view text, std::string* out);

// Converts v to the variant kind of a field type where that is lossless in
// meaning (text "17" to Int32 for an int32 field, text to DateTime, ...).
// Returns v unchanged when it is empty, already of that kind, or does not
// convert. Dataset, Memo and String keep text as it is.
Variant coerceToFieldType(const Variant& v, db::FieldType t);

// The field type that holds a variant of kind t without loss (String for
// text, empty values and arrays).
db::FieldType fieldTypeOf(VarType t);

// Reads a typed value of field f (also accepts a tagged variant).
// Throws CodecError naming the field when the JSON does not fit.
Variant readTypedValue(const rapidjson::Value& v, const db::FieldDef& f);
// Reads a tagged variant. Throws CodecError on unknown tags.
Variant readTaggedValue(const rapidjson::Value& v);

// The typed text forms shared by the writers and the streaming reader.
// Each returns false when the variant cannot be written in the typed form.
bool typedText(const Variant& v, db::FieldType t, std::string* out);
// Builds a variant of field type t from a JSON string. Throws CodecError.
// lenient (used when reading packets that a server wrote from an engine
// with loose column types): text in a number or boolean field reads as a
// number when it is one, else stays text, instead of being refused.
Variant variantFromTypedText(std::string_view text, const db::FieldDef& f, bool lenient = false);

template <class W>
void writeTagged(W& w, const Variant& v) {
  switch (v.type()) {
    case VarType::Unassigned:
      w.StartObject();
      w.Key("$unassigned");
      w.Bool(true);
      w.EndObject();
      return;
    case VarType::Null:
      w.Null();
      return;
    case VarType::Boolean:
      w.Bool(v.asBool());
      return;
    case VarType::Int16:
    case VarType::Int32:
    case VarType::Int64:
      w.Int64(v.asInt());
      return;
    case VarType::Double:
      if (std::isfinite(v.asDouble()))
        w.Double(v.asDouble());
      else
        w.Null();
      return;
    case VarType::String: {
      const std::string& s = v.asString();
      w.String(s.data(), static_cast<rapidjson::SizeType>(s.size()));
      return;
    }
    case VarType::Array:
      w.StartArray();
      for (const Variant& e : v.asArray()) writeTagged(w, e);
      w.EndArray();
      return;
    default:
      break;
  }
  const char* tag = "$currency";
  std::string text;
  switch (v.type()) {
    case VarType::Currency:
      text = v.asCurrency().toFixed4();
      break;
    case VarType::Decimal:
      tag = "$decimal";
      text = v.asString();
      break;
    case VarType::DateTime:
      tag = "$datetime";
      text = v.asDateTime().toIso();
      break;
    default:
      tag = "$bytes";
      text = base64Encode(v.asString());
      break;
  }
  w.StartObject();
  w.Key(tag);
  w.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
  w.EndObject();
}

// Writes v in the typed form of field type t (Unassigned as null).
template <class W>
void writeTyped(W& w, const Variant& v, db::FieldType t) {
  using db::FieldType;
  if (v.isEmpty()) {
    w.Null();
    return;
  }
  switch (t) {
    case FieldType::Boolean:
      if (v.type() >= VarType::Boolean && v.type() <= VarType::Int64) {
        w.Bool(v.asInt() != 0);  // an engine may keep bits as integers
        return;
      }
      break;
    case FieldType::Int16:
    case FieldType::Int32:
    case FieldType::Int64:
      if (v.type() >= VarType::Boolean && v.type() <= VarType::Int64) {
        w.Int64(v.asInt());
        return;
      }
      break;
    case FieldType::Float:
      if (v.type() == VarType::Double && std::isfinite(v.asDouble())) {
        w.Double(v.asDouble());
        return;
      }
      if (v.isNumeric() && v.type() != VarType::Decimal) {
        w.Double(v.toDouble());
        return;
      }
      break;
    // The common kinds are written without building a std::string.
    case FieldType::String:
    case FieldType::Memo:
      if (v.type() == VarType::String || v.type() == VarType::Bytes) {
        w.String(v.asString().data(), static_cast<rapidjson::SizeType>(v.asString().size()));
        return;
      }
      break;
    case FieldType::DateTime:
    case FieldType::Date:
    case FieldType::Time:
      if (v.type() == VarType::DateTime) {
        char buf[DateTime::kIsoMax];
        w.String(buf, static_cast<rapidjson::SizeType>(v.asDateTime().writeIso(buf)));
        return;
      }
      break;
    case FieldType::Decimal:
      if (v.type() == VarType::Decimal) {
        w.String(v.asString().data(), static_cast<rapidjson::SizeType>(v.asString().size()));
        return;
      }
      break;
    default:
      break;
  }
  std::string text;
  if (t != FieldType::Boolean && t != FieldType::Int16 && t != FieldType::Int32 &&
      t != FieldType::Int64 && t != FieldType::Float && typedText(v, t, &text)) {
    w.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
    return;
  }
  writeTagged(w, v);
}

template <class W>
void writeKey(W& w, std::string_view k) {
  w.Key(k.data(), static_cast<rapidjson::SizeType>(k.size()));
}

}  // namespace qz::provider
