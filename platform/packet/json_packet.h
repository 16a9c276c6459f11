// JSON form of data packets: {"fields": [...], "rows": [[...], ...]}, with
// nested detail tables as arrays of rows in the place of their Dataset
// field. Writing is streaming (templates over rapidjson writers); reading is
// streaming too (SAX), so a large packet never becomes a JSON tree.
//
// The reader requires "fields" before "rows" (the writer always puts them
// in that order) and skips members it does not know.
#pragma once

#include <functional>
#include <string_view>
#include <vector>

#include "platform/packet/json_pull_stream.h"
#include "platform/packet/json_values.h"
#include "platform/packet/packet.h"

namespace qz::provider {

template <class W>
void writeFields(W& w, const std::vector<FieldDef>& fields) {
  w.StartArray();
  for (const FieldDef& f : fields) {
    w.StartObject();
    w.Key("name");
    w.String(f.name.data(), static_cast<rapidjson::SizeType>(f.name.size()));
    w.Key("type");
    w.String(db::fieldTypeName(f.type));
    if (f.size > 0) {
      w.Key("size");
      w.Int(f.size);
    }
    if (f.type == FieldType::Decimal) {
      if (f.precision > 0) {
        w.Key("precision");
        w.Int(f.precision);
      }
      w.Key("scale");
      w.Int(f.scale);
    }
    if (f.required) {
      w.Key("required");
      w.Bool(true);
    }
    if (f.readOnly) {
      w.Key("readOnly");
      w.Bool(true);
    }
    if (f.key) {
      w.Key("key");
      w.Bool(true);
    }
    if (f.type == FieldType::Dataset) {
      w.Key("fields");
      writeFields(w, f.children);
    }
    w.EndObject();
  }
  w.EndArray();
}

template <class W>
void writeRows(W& w, const std::vector<FieldDef>& fields, const std::vector<DataRow>& rows);

// REQUIRES: row has the shape of fields (see packet.h).
template <class W>
void writeRow(W& w, const std::vector<FieldDef>& fields, const DataRow& row) {
  w.StartArray();
  size_t detail = 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].type == FieldType::Dataset) {
      if (detail < row.details.size())
        writeRows(w, fields[i].children, row.details[detail]);
      else {
        w.StartArray();
        w.EndArray();
      }
      ++detail;
    } else {
      writeTyped(w, i < row.values.size() ? row.values[i] : Variant::null(), fields[i].type);
    }
  }
  w.EndArray();
}

template <class W>
void writeRows(W& w, const std::vector<FieldDef>& fields, const std::vector<DataRow>& rows) {
  w.StartArray();
  for (const DataRow& r : rows) writeRow(w, fields, r);
  w.EndArray();
}

template <class W>
void writePacket(W& w, const DataPacket& p) {
  w.StartObject();
  w.Key("fields");
  writeFields(w, p.fields);
  w.Key("rows");
  writeRows(w, p.fields, p.rows);
  w.EndObject();
}

// Receives a packet as it is read: the fields once, then each top-level row
// (with its nested details complete) in order.
class PacketSink {
 public:
  virtual ~PacketSink() = default;
  virtual void onFields(const std::vector<FieldDef>& fields) = 0;
  virtual void onRow(DataRow&& row) = 0;
};

// Reads a packet. Throws CodecError on malformed JSON (with the offset) and
// on values that do not fit their fields.
DataPacket decodePacket(std::string_view json);
void decodePacket(std::string_view json, PacketSink& sink);

// Reads a JSON document that carries a packet as member packetKey of its
// top-level member outerKey (an answer {"result": {"data": packet, ...}}).
// The packet goes through the streaming reader into *packet and never
// becomes a tree; the rest of the document is built into *rest with null in
// the packet's place. Returns true when that member held an object and was
// read as the packet; false when there is none (rest then holds the whole
// document, whatever stood there). Throws CodecError on a malformed packet.
// Text that is not JSON leaves *rest null (not an object).
bool decodeEmbeddedPacket(std::string_view json, const char* outerKey, const char* packetKey,
                          rapidjson::Document* rest, DataPacket* packet);
// The same over text that arrives in pieces, decoded as it comes. Reads
// until the document is complete or found malformed: the text may go on
// after that point (in.ended() tells). Exceptions of the stream's source
// pass through.
bool decodeEmbeddedPacket(PullStream& in, const char* outerKey, const char* packetKey,
                          rapidjson::Document* rest, DataPacket* packet);

// Reads a packet from an already parsed value (requests are parsed whole).
DataPacket packetFromValue(const rapidjson::Value& v);
// Reads the "fields" array of a packet or delta. Throws CodecError.
std::vector<FieldDef> fieldsFromValue(const rapidjson::Value& v);

std::string encodePacket(const DataPacket& p);

}  // namespace qz::provider
