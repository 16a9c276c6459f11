// Parameter list reader, writer and by-name assignment.
#include "platform/packet/json_params.h"

namespace qz::provider {

void writeParams(JsonWriter& w, const db::ParamList& params) {
  w.StartArray();
  for (const db::Parameter& p : params) {
    w.StartObject();
    w.Key("name");
    w.String(p.name.data(), static_cast<rapidjson::SizeType>(p.name.size()));
    w.Key("type");
    w.String(db::fieldTypeName(p.type));
    w.Key("direction");
    w.String(db::paramDirectionName(p.direction));
    if (!p.value.isUnassigned()) {
      w.Key("value");
      writeTyped(w, p.value, p.type);
    }
    w.Key("size");
    w.Int(p.size);
    w.Key("precision");
    w.Int(p.precision);
    if (p.scale) {
      w.Key("scale");
      w.Int(p.scale);
    }
    w.Key("nullable");
    w.Bool(p.nullable);
    w.EndObject();
  }
  w.EndArray();
}

std::string encodeParams(const db::ParamList& params) {
  rapidjson::StringBuffer sb;
  JsonWriter w(sb);
  writeParams(w, params);
  return std::string(sb.GetString(), sb.GetSize());
}

db::ParamList paramsFromValue(const rapidjson::Value& v, std::vector<bool>* hasType) {
  db::ParamList out;
  if (v.IsNull()) return out;
  if (!v.IsArray()) throw CodecError("Invalid parameters: must be an array");
  for (const auto& e : v.GetArray()) {
    if (!e.IsObject()) throw CodecError("Invalid parameters: a parameter must be an object");
    db::Parameter p;
    auto n = e.FindMember("name");
    if (n == e.MemberEnd() || !n->value.IsString() || n->value.GetStringLength() == 0)
      throw CodecError("Invalid parameters: a parameter needs a \"name\"");
    p.name.assign(n->value.GetString(), n->value.GetStringLength());
    bool typed = false;
    auto t = e.FindMember("type");
    if (t != e.MemberEnd()) {
      if (!t->value.IsString() || !db::fieldTypeFromName(t->value.GetString(), &p.type) ||
          p.type == db::FieldType::Dataset)
        throw CodecError("Invalid parameters: parameter '" + p.name + "' has an unknown type");
      typed = true;
    }
    auto d = e.FindMember("direction");
    if (d != e.MemberEnd() &&
        (!d->value.IsString() || !db::paramDirectionFromName(d->value.GetString(), &p.direction)))
      throw CodecError("Invalid parameters: parameter '" + p.name + "' has an unknown direction");
    auto num = [&](const char* k, int* o) {
      auto it = e.FindMember(k);
      if (it == e.MemberEnd()) return;
      if (!it->value.IsInt())
        throw CodecError("Invalid parameters: \"" + std::string(k) + "\" of '" + p.name +
                         "' must be an integer");
      *o = it->value.GetInt();
    };
    num("size", &p.size);
    num("precision", &p.precision);
    num("scale", &p.scale);
    auto nl = e.FindMember("nullable");
    if (nl != e.MemberEnd()) {
      if (!nl->value.IsBool())
        throw CodecError("Invalid parameters: \"nullable\" of '" + p.name + "' must be a boolean");
      p.nullable = nl->value.GetBool();
    }
    auto val = e.FindMember("value");
    if (val != e.MemberEnd()) {
      if (typed) {
        db::FieldDef f;
        f.name = p.name;
        f.type = p.type;
        p.value = readTypedValue(val->value, f);
      } else {
        try {
          p.value = readTaggedValue(val->value);
        } catch (const CodecError& ex) {
          throw CodecError("Invalid parameters: parameter '" + p.name + "': " + ex.what());
        }
      }
    }
    out.push_back(std::move(p));
    if (hasType) hasType->push_back(typed);
  }
  return out;
}

void assignParams(db::ParamList& target, const db::ParamList& client) {
  for (const db::Parameter& c : client) {
    db::Parameter* t = db::findParam(target, c.name);
    if (!t) throw CodecError("Parameter '" + c.name + "' not found");
    t->value = coerceToFieldType(c.value, t->type);
  }
}

}  // namespace qz::provider
