// JSON form of deltas and error packets.
//
// Delta: {"fields": [...], "rows": [{"kind": "insert"|"modify"|"delete"|
// "unmodified", "old": {name: value}, "new": {name: value}, "details":
// {detailName: [rows]}}]}. Values are typed by their field; a field absent
// from "old" or "new" is Unassigned. Field and detail names are matched
// without regard to ASCII case.
//
// Error packet: {"errors": [{"row": [i] or [i, "detail", j, ...], "kind":
// "insert", "message": "...", "code": 0}]}.
#pragma once

#include <string>

#include "platform/packet/delta.h"
#include "platform/packet/error_packet.h"
#include "platform/packet/json_values.h"

namespace qz::provider {

// Reads a delta. Throws CodecError on a malformed delta: unknown kinds,
// field or detail names the fields do not have, values that do not fit,
// a modify/delete/unmodified row without "old".
Delta deltaFromValue(const rapidjson::Value& v);
Delta decodeDelta(std::string_view json);

void writeDelta(JsonWriter& w, const Delta& d);
std::string encodeDelta(const Delta& d);

void writeErrorPacket(JsonWriter& w, const ErrorPacket& e);
// Throws CodecError on a malformed error packet.
ErrorPacket errorPacketFromValue(const rapidjson::Value& v);

// Parses text into doc; throws CodecError with the offset on malformed JSON.
void parseJson(std::string_view json, rapidjson::Document* doc);

}  // namespace qz::provider
