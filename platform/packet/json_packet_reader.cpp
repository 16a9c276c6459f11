// Streaming (SAX) and tree readers of data packets.
//
// The SAX reader keeps a stack of frames, one per open JSON container, each
// knowing what it builds: the field list, one field, a row list, one row, a
// tagged value, or a value being skipped. Rows are typed by their fields as
// they arrive, so memory holds one top-level row at a time when a sink is
// given.
#include <rapidjson/reader.h>

#include <cstdint>
#include <memory>

#include "platform/packet/json_numbers.h"
#include "platform/packet/json_packet.h"

namespace qz::provider {
namespace {

using db::FieldType;

// The kinds of JSON value a field member may be given.
enum class Scalar { kNull, kBool, kInt, kDouble, kString, kContainer };

// A field definition as it is read, member by member; both readers fill one
// through readFieldMember and close it with fieldFault, so a packet's fields
// read the same whichever reader decodes it.
struct FieldReading {
  FieldDef* field;
  bool hasType = false;
  bool hasFields = false;
};

// Sets the member named key of the field from a JSON value (i for booleans
// and integers, text for strings). Returns "" or the fault; unknown members
// and "fields" (read by the caller) are left alone.
std::string readFieldMember(FieldReading& r, std::string_view key, Scalar s, int64_t i,
                            std::string_view text) {
  FieldDef& fd = *r.field;
  // Compared as a view: a packet has several members for each of its fields.
  const std::string_view k = key;
  if (k == "name" || k == "type" || k == "table") {
    if (s != Scalar::kString) return "field member \"" + std::string(k) + "\" must be a string";
    if (k == "name") {
      fd.name.assign(text);
    } else if (k == "table") {
      fd.table.assign(text);
    } else {
      if (!db::fieldTypeFromName(text, &fd.type))
        return "unknown field type '" + std::string(text) + "'";
      r.hasType = true;
    }
  } else if (k == "size" || k == "precision" || k == "scale") {
    if (s != Scalar::kInt || i < INT32_MIN || i > INT32_MAX)
      return "field member \"" + std::string(k) + "\" must be an integer";
    (k == "size" ? fd.size : k == "precision" ? fd.precision : fd.scale) = static_cast<int>(i);
  } else if (k == "required" || k == "readOnly" || k == "key") {
    if (s != Scalar::kBool) return "field member \"" + std::string(k) + "\" must be a boolean";
    (k == "required" ? fd.required : k == "readOnly" ? fd.readOnly : fd.key) = i != 0;
  } else if (k == "fields") {
    r.hasFields = true;
  }
  return {};
}

// "" when the field read is complete, else the fault.
std::string fieldFault(const FieldReading& r) {
  const FieldDef& fd = *r.field;
  if (fd.name.empty()) return "a field has no name";
  if (!r.hasType) return "field '" + fd.name + "' has no type";
  if (fd.type == FieldType::Dataset && !r.hasFields)
    return "dataset field '" + fd.name + "' has no fields";
  return {};
}

class PacketHandler {
 public:
  explicit PacketHandler(PacketSink* sink) : sink_(sink) {}

  bool Null() { return scalar(Scalar::kNull, 0, 0, {}); }
  bool Bool(bool b) { return scalar(Scalar::kBool, b, 0, {}); }
  bool Int(int i) { return scalar(Scalar::kInt, i, 0, {}); }
  bool Uint(unsigned u) { return scalar(Scalar::kInt, u, 0, {}); }
  bool Int64(int64_t i) { return scalar(Scalar::kInt, i, 0, {}); }
  bool Uint64(uint64_t u) {
    if (u > static_cast<uint64_t>(INT64_MAX)) return scalar(Scalar::kDouble, 0, double(u), {});
    return scalar(Scalar::kInt, static_cast<int64_t>(u), 0, {});
  }
  bool Double(double d) { return scalar(Scalar::kDouble, 0, d, {}); }
  bool RawNumber(const char*, rapidjson::SizeType, bool) { return fail("unexpected raw number"); }
  bool String(const char* s, rapidjson::SizeType n, bool) {
    return scalar(Scalar::kString, 0, 0, std::string_view(s, n));
  }
  bool Key(const char* s, rapidjson::SizeType n, bool) {
    Frame& f = top();
    if (f.kind == Kind::kTagged && !f.key.empty())
      return fail("invalid tagged value: more than one member");
    f.key.assign(s, n);
    return true;
  }
  bool StartObject();
  bool EndObject(rapidjson::SizeType) { return endContainer(true); }
  bool StartArray();
  bool EndArray(rapidjson::SizeType) { return endContainer(false); }

  DataPacket& packet() { return packet_; }
  const std::string& error() const { return error_; }
  bool sawRows() const { return sawRows_; }

 private:
  enum class Kind { kRoot, kTop, kFieldList, kField, kRowList, kRow, kTagged, kSkip };

  struct Frame {
    explicit Frame(Kind k) : kind(k) {}
    Kind kind;
    std::vector<FieldDef>* fieldsOut = nullptr;     // kFieldList
    FieldReading field{nullptr};                    // kField
    const std::vector<FieldDef>* fields = nullptr;  // kRowList, kRow
    std::vector<DataRow>* rows = nullptr;           // kRowList
    bool topLevel = false;                          // kRowList of the packet
    int detailCount = -1;                           // kRowList: Dataset fields, once counted
    DataRow* row = nullptr;                         // kRow
    size_t col = 0;                                 // kRow
    size_t detail = 0;                              // kRow: next Dataset field
    Variant* target = nullptr;                      // kTagged
    const FieldDef* targetField = nullptr;          // kTagged
    std::string key;
    std::string tagText;
    bool tagBool = false;
    int depth = 0;  // kSkip
  };

  Frame& top() { return stack_.back(); }
  bool fail(std::string msg) {
    if (error_.empty()) error_ = std::move(msg);
    return false;
  }
  bool scalar(Scalar s, int64_t i, double d, std::string_view text);
  bool endContainer(bool object);
  bool rowValue(Frame& f, Scalar s, int64_t i, double d, std::string_view text);
  bool fieldMember(Frame& f, Scalar s, int64_t i, std::string_view text);
  void pushSkip(int depth) {
    Frame sk{Kind::kSkip};
    sk.depth = depth;
    stack_.push_back(std::move(sk));
  }

  PacketSink* sink_;
  DataPacket packet_;
  std::vector<Frame> stack_{Frame{Kind::kRoot}};
  std::string error_;
  bool sawFields_ = false;
  bool sawRows_ = false;
};

bool PacketHandler::scalar(Scalar s, int64_t i, double d, std::string_view text) {
  Frame& f = top();
  switch (f.kind) {
    case Kind::kRoot:
      return fail("a packet must be a JSON object");
    case Kind::kTop:
      if (f.key == "fields" || f.key == "rows") {
        if (s == Scalar::kNull && f.key == "rows") return true;
        return fail("\"" + f.key + "\" must be an array");
      }
      return true;  // unknown member: ignored
    case Kind::kFieldList:
      return fail("a field must be an object");
    case Kind::kField:
      return fieldMember(f, s, i, text);
    case Kind::kRowList:
      return fail("a row must be an array");
    case Kind::kRow:
      return rowValue(f, s, i, d, text);
    case Kind::kTagged:
      if (s == Scalar::kString)
        f.tagText.assign(text);
      else if (s == Scalar::kBool)
        f.tagBool = i != 0;
      else
        return fail("invalid tagged value");
      return true;
    case Kind::kSkip:
      if (f.depth == 0) stack_.pop_back();
      return true;
  }
  return true;
}

bool PacketHandler::fieldMember(Frame& f, Scalar s, int64_t i, std::string_view text) {
  std::string fault = readFieldMember(f.field, f.key, s, i, text);
  return fault.empty() || fail(std::move(fault));
}

bool PacketHandler::rowValue(Frame& f, Scalar s, int64_t i, double d, std::string_view text) {
  if (f.col >= f.fields->size())
    return fail("a row has more values than the " + std::to_string(f.fields->size()) + " fields");
  const FieldDef& fd = (*f.fields)[f.col];
  Variant& out = f.row->values[f.col];
  ++f.col;
  if (fd.type == FieldType::Dataset) {
    if (s != Scalar::kNull)
      return fail("Field '" + fd.name + "': expected an array of detail rows");
    ++f.detail;  // null: an empty detail table
    out = Variant::null();
    return true;
  }
  try {
    switch (s) {
      case Scalar::kNull:
        out = Variant::null();
        return true;
      case Scalar::kBool:
        if (fd.type != FieldType::Boolean)
          return fail("Field '" + fd.name + "': expected a " + db::fieldTypeName(fd.type) +
                      " value, got a boolean");
        out = Variant(i != 0);
        return true;
      case Scalar::kString:
        out = variantFromTypedText(text, fd, true);
        return true;
      case Scalar::kInt: {
        rapidjson::Value v(static_cast<int64_t>(i));
        out = readTypedValue(v, fd);
        return true;
      }
      case Scalar::kDouble: {
        rapidjson::Value v(d);
        out = readTypedValue(v, fd);
        return true;
      }
    }
  } catch (const std::exception& e) {
    return fail(e.what());
  }
  return true;
}

bool PacketHandler::StartObject() {
  Frame& f = top();
  switch (f.kind) {
    case Kind::kRoot:
      stack_.push_back(Frame{Kind::kTop});
      return true;
    case Kind::kTop:
      if (f.key == "fields" || f.key == "rows") return fail("\"" + f.key + "\" must be an array");
      pushSkip(1);
      return true;
    case Kind::kFieldList: {
      f.fieldsOut->emplace_back();
      Frame nf{Kind::kField};
      nf.field.field = &f.fieldsOut->back();
      stack_.push_back(std::move(nf));
      return true;
    }
    case Kind::kField:
      if (f.key == "fields") return fail("field member \"fields\" must be an array");
      if (!fieldMember(f, Scalar::kContainer, 0, {})) return false;
      pushSkip(1);
      return true;
    case Kind::kRowList:
      return fail("a row must be an array");
    case Kind::kRow: {
      if (f.col >= f.fields->size())
        return fail("a row has more values than the " + std::to_string(f.fields->size()) +
                    " fields");
      const FieldDef& fd = (*f.fields)[f.col];
      if (fd.type == FieldType::Dataset)
        return fail("Field '" + fd.name + "': expected an array of detail rows");
      Frame nf{Kind::kTagged};
      nf.target = &f.row->values[f.col];
      nf.targetField = &fd;
      ++f.col;
      stack_.push_back(std::move(nf));
      return true;
    }
    case Kind::kTagged:
      return fail("invalid tagged value");
    case Kind::kSkip:
      ++f.depth;
      return true;
  }
  return true;
}

bool PacketHandler::StartArray() {
  Frame& f = top();
  switch (f.kind) {
    case Kind::kRoot:
      return fail("a packet must be a JSON object");
    case Kind::kTop: {
      if (f.key == "fields") {
        if (sawFields_) return fail("\"fields\" given twice");
        sawFields_ = true;
        Frame nf{Kind::kFieldList};
        nf.fieldsOut = &packet_.fields;
        stack_.push_back(std::move(nf));
        return true;
      }
      if (f.key == "rows") {
        if (!sawFields_) return fail("\"rows\" before \"fields\"");
        if (sawRows_) return fail("\"rows\" given twice");
        sawRows_ = true;
        if (sink_) sink_->onFields(packet_.fields);
        Frame nf{Kind::kRowList};
        nf.fields = &packet_.fields;
        nf.rows = &packet_.rows;
        nf.topLevel = true;
        stack_.push_back(std::move(nf));
        return true;
      }
      pushSkip(1);
      return true;
    }
    case Kind::kFieldList:
      return fail("a field must be an object");
    case Kind::kField: {
      if (!fieldMember(f, Scalar::kContainer, 0, {})) return false;
      if (f.key != "fields") {
        pushSkip(1);
        return true;
      }
      Frame nf{Kind::kFieldList};
      nf.fieldsOut = &f.field.field->children;
      stack_.push_back(std::move(nf));
      return true;
    }
    case Kind::kRowList: {
      if (f.detailCount < 0)
        f.detailCount = static_cast<int>(datasetFieldIndexes(*f.fields).size());
      // Every row passes here: the row and its frame are built in place.
      DataRow& r = f.rows->emplace_back();
      r.values.resize(f.fields->size());
      r.details.resize(static_cast<size_t>(f.detailCount));
      const std::vector<FieldDef>* fields = f.fields;
      Frame& nf = stack_.emplace_back(Kind::kRow);  // f is not used after this
      nf.fields = fields;
      nf.row = &r;
      return true;
    }
    case Kind::kRow: {
      if (f.col >= f.fields->size())
        return fail("a row has more values than the " + std::to_string(f.fields->size()) +
                    " fields");
      const FieldDef& fd = (*f.fields)[f.col];
      if (fd.type != FieldType::Dataset)
        return fail("Field '" + fd.name + "': expected a " + db::fieldTypeName(fd.type) +
                    " value, got an array");
      f.row->values[f.col] = Variant::null();
      ++f.col;
      Frame nf{Kind::kRowList};
      nf.fields = &fd.children;
      nf.rows = &f.row->details[f.detail++];
      stack_.push_back(std::move(nf));
      return true;
    }
    case Kind::kTagged:
      return fail("invalid tagged value");
    case Kind::kSkip:
      ++f.depth;
      return true;
  }
  return true;
}

bool PacketHandler::endContainer(bool object) {
  Frame& f = top();
  switch (f.kind) {
    case Kind::kSkip:
      if (--f.depth == 0) stack_.pop_back();
      return true;
    case Kind::kField: {
      std::string fault = fieldFault(f.field);
      if (!fault.empty()) return fail(std::move(fault));
      break;
    }
    case Kind::kRow:
      if (f.col != f.fields->size())
        return fail("a row has " + std::to_string(f.col) + " values, expected " +
                    std::to_string(f.fields->size()));
      break;
    case Kind::kTagged: {
      rapidjson::Document d;
      d.SetObject();
      rapidjson::Value k(f.key.c_str(), d.GetAllocator());
      rapidjson::Value v;
      if (f.key == "$unassigned")
        v.SetBool(f.tagBool);
      else
        v.SetString(f.tagText.c_str(), static_cast<rapidjson::SizeType>(f.tagText.size()),
                    d.GetAllocator());
      d.AddMember(k, v, d.GetAllocator());
      try {
        *f.target = readTaggedValue(d);
      } catch (const std::exception& e) {
        return fail("Field '" + f.targetField->name + "': " + e.what());
      }
      break;
    }
    case Kind::kTop:
      if (!sawFields_) return fail("a packet needs \"fields\"");
      break;
    default:
      break;
  }
  const Kind done = f.kind;
  stack_.pop_back();
  if (done == Kind::kRow && sink_) {
    Frame& parent = top();
    if (parent.topLevel) {
      sink_->onRow(std::move(parent.rows->back()));
      parent.rows->pop_back();
    }
  }
  return true;
}

void parseInto(std::string_view json, PacketHandler& h) {
  rapidjson::Reader reader;
  rapidjson::MemoryStream ms(json.data(), json.size());
  ExactNumbers<PacketHandler> exact(h);
  rapidjson::ParseResult r = reader.Parse<kExactNumberParseFlags>(ms, exact);
  if (!r) {
    std::string why = !h.error().empty()     ? h.error()
                      : exact.numberTooBig() ? "number too big to be stored in a double"
                                             : "malformed JSON";
    throw CodecError("Invalid packet at offset " + std::to_string(r.Offset()) + ": " + why);
  }
}

// Routes the SAX events of a whole document: those of the packet member to
// a PacketHandler, all others to a rapidjson document (which is itself a SAX
// handler), with a null in the packet's place.
class EmbeddedPacketHandler {
 public:
  EmbeddedPacketHandler(rapidjson::Document& doc, PacketHandler& packet, const char* outerKey,
                        const char* packetKey)
      : doc_(doc), packet_(packet), outerKey_(outerKey), packetKey_(packetKey) {}

  bool Null() { return inPacket() ? packet_.Null() : doc_.Null(); }
  bool Bool(bool b) { return inPacket() ? packet_.Bool(b) : doc_.Bool(b); }
  bool Int(int i) { return inPacket() ? packet_.Int(i) : doc_.Int(i); }
  bool Uint(unsigned u) { return inPacket() ? packet_.Uint(u) : doc_.Uint(u); }
  bool Int64(int64_t i) { return inPacket() ? packet_.Int64(i) : doc_.Int64(i); }
  bool Uint64(uint64_t u) { return inPacket() ? packet_.Uint64(u) : doc_.Uint64(u); }
  bool Double(double d) { return inPacket() ? packet_.Double(d) : doc_.Double(d); }
  bool RawNumber(const char* s, rapidjson::SizeType n, bool copy) {
    return inPacket() ? packet_.RawNumber(s, n, copy) : doc_.RawNumber(s, n, true);
  }
  bool String(const char* s, rapidjson::SizeType n, bool copy) {
    return inPacket() ? packet_.String(s, n, copy) : doc_.String(s, n, true);
  }
  bool Key(const char* s, rapidjson::SizeType n, bool copy) {
    if (inPacket()) return packet_.Key(s, n, copy);
    if (levels_.size() == 1)
      levels_.back().match = std::string_view(s, n) == outerKey_;
    else if (levels_.size() == 2)
      levels_.back().match = std::string_view(s, n) == packetKey_;
    return doc_.Key(s, n, true);
  }
  bool StartObject() {
    if (inPacket()) {
      ++packetDepth_;
      return packet_.StartObject();
    }
    if (atPacket()) {
      packetDepth_ = 1;
      found_ = true;
      return packet_.StartObject();
    }
    levels_.push_back({true, false});
    return doc_.StartObject();
  }
  bool EndObject(rapidjson::SizeType n) {
    if (inPacket()) return endPacketContainer(packet_.EndObject(n));
    levels_.pop_back();
    return doc_.EndObject(n);
  }
  bool StartArray() {
    if (inPacket()) {
      ++packetDepth_;
      return packet_.StartArray();
    }
    levels_.push_back({false, false});
    return doc_.StartArray();
  }
  bool EndArray(rapidjson::SizeType n) {
    if (inPacket()) return endPacketContainer(packet_.EndArray(n));
    levels_.pop_back();
    return doc_.EndArray(n);
  }

  bool found() const { return found_; }
  bool packetFailed() const { return !packet_.error().empty(); }

 private:
  struct Level {
    bool object;
    bool match;  // the current key is the path's key at this level
  };
  bool inPacket() const { return packetDepth_ > 0; }
  // Whether the next value stands at outerKey.packetKey.
  bool atPacket() const {
    return !found_ && levels_.size() == 2 && levels_[0].object && levels_[0].match &&
           levels_[1].object && levels_[1].match;
  }
  bool endPacketContainer(bool ok) {
    if (!ok) return false;
    if (--packetDepth_ == 0) return doc_.Null();
    return true;
  }

  rapidjson::Document& doc_;
  PacketHandler& packet_;
  std::string_view outerKey_;
  std::string_view packetKey_;
  std::vector<Level> levels_;
  int packetDepth_ = 0;
  bool found_ = false;
};

std::vector<DataRow> rowsFromValue(const rapidjson::Value& v, const std::vector<FieldDef>& fields) {
  if (!v.IsArray()) throw CodecError("Invalid packet: rows must be an array");
  std::vector<DataRow> rows;
  rows.reserve(v.Size());
  for (const auto& r : v.GetArray()) {
    if (!r.IsArray()) throw CodecError("Invalid packet: a row must be an array");
    if (r.Size() != fields.size())
      throw CodecError("Invalid packet: a row has " + std::to_string(r.Size()) +
                       " values, expected " + std::to_string(fields.size()));
    DataRow row;
    row.values.resize(fields.size());
    for (size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].type == FieldType::Dataset) {
        row.values[i] = Variant::null();
        if (r[i].IsNull())
          row.details.emplace_back();
        else
          row.details.push_back(rowsFromValue(r[i], fields[i].children));
      } else {
        row.values[i] = readTypedValue(r[i], fields[i]);
      }
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace

DataPacket decodePacket(std::string_view json) {
  PacketHandler h(nullptr);
  parseInto(json, h);
  return std::move(h.packet());
}

void decodePacket(std::string_view json, PacketSink& sink) {
  PacketHandler h(&sink);
  parseInto(json, h);
  if (!h.sawRows()) sink.onFields(h.packet().fields);
}

namespace {

template <class Stream>
bool decodeEmbedded(Stream& in, const char* outerKey, const char* packetKey,
                    rapidjson::Document* rest, DataPacket* packet) {
  PacketHandler ph(nullptr);
  bool found = false;
  std::string packetError;
  size_t offset = 0;
  auto generate = [&](rapidjson::Document& d) {
    EmbeddedPacketHandler h(d, ph, outerKey, packetKey);
    ExactNumbers<EmbeddedPacketHandler> exact(h);
    rapidjson::Reader reader;
    rapidjson::ParseResult r = reader.Parse<kExactNumberParseFlags>(in, exact);
    found = h.found();
    if (!r && h.packetFailed()) {
      packetError = ph.error();
      offset = r.Offset();
    }
    return static_cast<bool>(r);
  };
  rest->SetNull();
  rest->Populate(generate);
  if (!packetError.empty())
    throw CodecError("Invalid packet at offset " + std::to_string(offset) + ": " + packetError);
  if (!found || !rest->IsObject()) return false;
  *packet = std::move(ph.packet());
  return true;
}

}  // namespace

bool decodeEmbeddedPacket(std::string_view json, const char* outerKey, const char* packetKey,
                          rapidjson::Document* rest, DataPacket* packet) {
  rapidjson::MemoryStream ms(json.data(), json.size());
  return decodeEmbedded(ms, outerKey, packetKey, rest, packet);
}

bool decodeEmbeddedPacket(PullStream& in, const char* outerKey, const char* packetKey,
                          rapidjson::Document* rest, DataPacket* packet) {
  return decodeEmbedded(in, outerKey, packetKey, rest, packet);
}

std::vector<FieldDef> fieldsFromValue(const rapidjson::Value& v) {
  if (!v.IsArray()) throw CodecError("Invalid packet: fields must be an array");
  std::vector<FieldDef> out;
  for (const auto& f : v.GetArray()) {
    if (!f.IsObject()) throw CodecError("Invalid packet: a field must be an object");
    FieldDef d;
    FieldReading r{&d};
    for (const auto& m : f.GetObject()) {
      const std::string_view key(m.name.GetString(), m.name.GetStringLength());
      const rapidjson::Value& x = m.value;
      const Scalar s = x.IsString()   ? Scalar::kString
                       : x.IsBool()   ? Scalar::kBool
                       : x.IsInt64()  ? Scalar::kInt
                       : x.IsNull()   ? Scalar::kNull
                       : x.IsNumber() ? Scalar::kDouble
                                      : Scalar::kContainer;
      const int64_t i = x.IsBool() ? x.GetBool() : x.IsInt64() ? x.GetInt64() : 0;
      const std::string_view text =
          x.IsString() ? std::string_view(x.GetString(), x.GetStringLength()) : std::string_view();
      std::string fault = readFieldMember(r, key, s, i, text);
      if (!fault.empty()) throw CodecError("Invalid packet: " + fault);
    }
    std::string fault = fieldFault(r);
    if (!fault.empty()) throw CodecError("Invalid packet: " + fault);
    if (d.type == FieldType::Dataset) d.children = fieldsFromValue(f["fields"]);
    out.push_back(std::move(d));
  }
  return out;
}

DataPacket packetFromValue(const rapidjson::Value& v) {
  if (!v.IsObject()) throw CodecError("Invalid packet: a packet must be a JSON object");
  auto f = v.FindMember("fields");
  if (f == v.MemberEnd()) throw CodecError("Invalid packet: a packet needs \"fields\"");
  DataPacket p;
  p.fields = fieldsFromValue(f->value);
  auto r = v.FindMember("rows");
  if (r != v.MemberEnd() && !r->value.IsNull()) p.rows = rowsFromValue(r->value, p.fields);
  return p;
}

std::string encodePacket(const DataPacket& p) {
  rapidjson::StringBuffer sb;
  JsonWriter w(sb);
  writePacket(w, p);
  return std::string(sb.GetString(), sb.GetSize());
}

}  // namespace qz::provider
