// JSON form of parameter lists: [{"name", "type", "direction", "value",
// "size", "precision", "scale", "nullable"}]. A value is typed by its
// parameter's type; a parameter sent without a type carries a tagged
// variant. A request may send only "name" and "value".
#pragma once

#include <string>

#include "platform/core/types.h"
#include "platform/packet/json_values.h"

namespace qz::provider {

void writeParams(JsonWriter& w, const db::ParamList& params);
std::string encodeParams(const db::ParamList& params);

// Reads a parameter list (null reads as empty). A parameter without "type"
// gets type String and a tagged value; hasType, when given, receives one
// flag per parameter. Throws CodecError on malformed lists.
db::ParamList paramsFromValue(const rapidjson::Value& v, std::vector<bool>* hasType = nullptr);

// Copies the client's values into target by name (ASCII case ignored),
// converting each to its target parameter's type where possible; target
// parameters the client does not name keep their values. Throws CodecError
// "Parameter 'x' not found" for a name target does not have.
void assignParams(db::ParamList& target, const db::ParamList& client);

}  // namespace qz::provider
