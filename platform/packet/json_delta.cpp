// Delta and error-packet readers and writers.
#include "platform/packet/json_delta.h"

#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include "platform/packet/json_numbers.h"
#include "platform/packet/json_packet.h"

namespace qz::provider {
namespace {

using db::FieldType;

void readValues(const rapidjson::Value& obj, const std::vector<FieldDef>& fields,
                std::vector<Variant>* out, const char* which) {
  if (!obj.IsObject())
    throw CodecError(std::string("Invalid delta: \"") + which + "\" must be an object");
  for (const auto& m : obj.GetObject()) {
    std::string_view name(m.name.GetString(), m.name.GetStringLength());
    int i = findField(fields, name);
    if (i < 0) throw CodecError("Invalid delta: Field '" + std::string(name) + "' not found");
    if (fields[i].type == FieldType::Dataset)
      throw CodecError("Invalid delta: Field '" + std::string(name) +
                       "' is a detail; use \"details\"");
    (*out)[i] = readTypedValue(m.value, fields[i]);
  }
}

std::vector<DeltaRow> rowsFromValue(const rapidjson::Value& v,
                                    const std::vector<FieldDef>& fields) {
  if (!v.IsArray()) throw CodecError("Invalid delta: rows must be an array");
  std::vector<size_t> dsIdx = datasetFieldIndexes(fields);
  std::vector<DeltaRow> rows;
  rows.reserve(v.Size());
  for (const auto& r : v.GetArray()) {
    if (!r.IsObject()) throw CodecError("Invalid delta: a row must be an object");
    auto k = r.FindMember("kind");
    if (k == r.MemberEnd() || !k->value.IsString())
      throw CodecError("Invalid delta: a row needs a \"kind\"");
    UpdateKind kind;
    std::string_view kn(k->value.GetString(), k->value.GetStringLength());
    if (!updateKindFromName(kn, &kind))
      throw CodecError("Invalid delta: unknown row kind '" + std::string(kn) + "'");
    DeltaRow row = makeDeltaRow(fields, kind);
    auto o = r.FindMember("old");
    if (o != r.MemberEnd())
      readValues(o->value, fields, &row.oldValues, "old");
    else if (kind != UpdateKind::Insert)
      throw CodecError(std::string("Invalid delta: a ") + updateKindName(kind) +
                       " row needs \"old\"");
    auto n = r.FindMember("new");
    if (n != r.MemberEnd()) readValues(n->value, fields, &row.newValues, "new");
    auto d = r.FindMember("details");
    if (d != r.MemberEnd()) {
      if (!d->value.IsObject()) throw CodecError("Invalid delta: \"details\" must be an object");
      for (const auto& m : d->value.GetObject()) {
        std::string_view name(m.name.GetString(), m.name.GetStringLength());
        int i = findField(fields, name);
        if (i < 0 || fields[i].type != FieldType::Dataset)
          throw CodecError("Invalid delta: no detail named '" + std::string(name) + "'");
        size_t slot = 0;
        while (dsIdx[slot] != static_cast<size_t>(i)) ++slot;
        row.details[slot] = rowsFromValue(m.value, fields[i].children);
      }
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

void writeValues(JsonWriter& w, const std::vector<FieldDef>& fields,
                 const std::vector<Variant>& vals) {
  w.StartObject();
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].type == FieldType::Dataset || vals[i].isUnassigned()) continue;
    writeKey(w, fields[i].name);
    writeTyped(w, vals[i], fields[i].type);
  }
  w.EndObject();
}

void writeDeltaRows(JsonWriter& w, const std::vector<FieldDef>& fields,
                    const std::vector<DeltaRow>& rows) {
  std::vector<size_t> dsIdx = datasetFieldIndexes(fields);
  w.StartArray();
  for (const DeltaRow& r : rows) {
    w.StartObject();
    w.Key("kind");
    w.String(updateKindName(r.kind));
    if (r.kind != UpdateKind::Insert) {
      w.Key("old");
      writeValues(w, fields, r.oldValues);
    }
    if (r.kind == UpdateKind::Insert || r.kind == UpdateKind::Modify) {
      w.Key("new");
      writeValues(w, fields, r.newValues);
    }
    bool any = false;
    for (const auto& d : r.details) any = any || !d.empty();
    if (any) {
      w.Key("details");
      w.StartObject();
      for (size_t k = 0; k < r.details.size(); ++k) {
        if (r.details[k].empty()) continue;
        const FieldDef& df = fields[dsIdx[k]];
        writeKey(w, df.name);
        writeDeltaRows(w, df.children, r.details[k]);
      }
      w.EndObject();
    }
    w.EndObject();
  }
  w.EndArray();
}

}  // namespace

void parseJson(std::string_view json, rapidjson::Document* doc) {
  rapidjson::ParseResult r;
  bool tooBig = false;
  auto generate = [&](rapidjson::Document& d) {
    ExactNumbers<rapidjson::Document> h(d);
    rapidjson::Reader reader;
    rapidjson::MemoryStream ms(json.data(), json.size());
    r = reader.Parse<kExactNumberParseFlags>(ms, h);
    tooBig = h.numberTooBig();
    return static_cast<bool>(r);
  };
  doc->Populate(generate);
  if (!r) {
    doc->SetNull();
    throw CodecError("Invalid JSON at offset " + std::to_string(r.Offset()) + ": " +
                     (tooBig ? "Number too big to be stored in double."
                             : rapidjson::GetParseError_En(r.Code())));
  }
}

Delta deltaFromValue(const rapidjson::Value& v) {
  if (!v.IsObject()) throw CodecError("Invalid delta: a delta must be a JSON object");
  auto f = v.FindMember("fields");
  if (f == v.MemberEnd()) throw CodecError("Invalid delta: a delta needs \"fields\"");
  Delta d;
  d.fields = fieldsFromValue(f->value);
  auto r = v.FindMember("rows");
  if (r != v.MemberEnd()) d.rows = rowsFromValue(r->value, d.fields);
  return d;
}

Delta decodeDelta(std::string_view json) {
  rapidjson::Document doc;
  parseJson(json, &doc);
  return deltaFromValue(doc);
}

void writeDelta(JsonWriter& w, const Delta& d) {
  w.StartObject();
  w.Key("fields");
  writeFields(w, d.fields);
  w.Key("rows");
  writeDeltaRows(w, d.fields, d.rows);
  w.EndObject();
}

std::string encodeDelta(const Delta& d) {
  rapidjson::StringBuffer sb;
  JsonWriter w(sb);
  writeDelta(w, d);
  return std::string(sb.GetString(), sb.GetSize());
}

void writeErrorPacket(JsonWriter& w, const ErrorPacket& e) {
  w.StartObject();
  w.Key("errors");
  w.StartArray();
  for (const UpdateError& u : e.errors) {
    w.StartObject();
    w.Key("row");
    w.StartArray();
    for (const RowStep& s : u.path) {
      if (!s.detail.empty())
        w.String(s.detail.data(), static_cast<rapidjson::SizeType>(s.detail.size()));
      w.Int(s.index);
    }
    w.EndArray();
    w.Key("kind");
    w.String(updateKindName(u.kind));
    w.Key("message");
    w.String(u.message.data(), static_cast<rapidjson::SizeType>(u.message.size()));
    w.Key("code");
    w.Int(u.code);
    if (!u.engineCode.empty()) {
      w.Key("engineCode");
      w.String(u.engineCode.data(), static_cast<rapidjson::SizeType>(u.engineCode.size()));
    }
    w.EndObject();
  }
  w.EndArray();
  w.EndObject();
}

ErrorPacket errorPacketFromValue(const rapidjson::Value& v) {
  if (!v.IsObject()) throw CodecError("Invalid error packet: must be a JSON object");
  ErrorPacket out;
  auto es = v.FindMember("errors");
  if (es == v.MemberEnd()) return out;
  if (!es->value.IsArray()) throw CodecError("Invalid error packet: \"errors\" must be an array");
  for (const auto& e : es->value.GetArray()) {
    if (!e.IsObject()) throw CodecError("Invalid error packet: an error must be an object");
    UpdateError u;
    auto row = e.FindMember("row");
    if (row == e.MemberEnd() || !row->value.IsArray() || row->value.Empty())
      throw CodecError("Invalid error packet: an error needs a \"row\" path");
    const auto& p = row->value;
    for (rapidjson::SizeType i = 0; i < p.Size(); ++i) {
      RowStep s;
      if (i > 0) {
        if (!p[i].IsString()) throw CodecError("Invalid error packet: bad row path");
        s.detail = p[i].GetString();
        ++i;
        if (i >= p.Size()) throw CodecError("Invalid error packet: bad row path");
      }
      if (!p[i].IsInt()) throw CodecError("Invalid error packet: bad row path");
      s.index = p[i].GetInt();
      u.path.push_back(std::move(s));
    }
    auto k = e.FindMember("kind");
    if (k != e.MemberEnd() &&
        (!k->value.IsString() || !updateKindFromName(k->value.GetString(), &u.kind)))
      throw CodecError("Invalid error packet: bad kind");
    auto m = e.FindMember("message");
    if (m != e.MemberEnd() && m->value.IsString()) u.message = m->value.GetString();
    auto c = e.FindMember("code");
    if (c != e.MemberEnd() && c->value.IsInt()) u.code = c->value.GetInt();
    auto ec = e.FindMember("engineCode");
    if (ec != e.MemberEnd() && ec->value.IsString()) u.engineCode = ec->value.GetString();
    out.errors.push_back(std::move(u));
  }
  return out;
}

}  // namespace qz::provider
