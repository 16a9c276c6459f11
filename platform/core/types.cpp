// Names of field types and parameter directions as the wire writes them.
#include "platform/core/types.h"

#include "platform/core/ascii.h"

namespace qz::db {
namespace {
constexpr const char* kTypeNames[] = {"boolean",  "int16",   "int32",    "int64",  "float",
                                      "currency", "decimal", "datetime", "date",   "time",
                                      "string",   "memo",    "bytes",    "dataset"};
constexpr const char* kDirNames[] = {"input", "output", "inputOutput", "returnValue"};
}  // namespace

const char* fieldTypeName(FieldType t) { return kTypeNames[static_cast<int>(t)]; }

bool fieldTypeFromName(std::string_view name, FieldType* out) {
  for (size_t i = 0; i < std::size(kTypeNames); ++i)
    if (name == kTypeNames[i]) {
      *out = static_cast<FieldType>(i);
      return true;
    }
  return false;
}

const char* paramDirectionName(ParamDirection d) { return kDirNames[static_cast<int>(d)]; }

bool paramDirectionFromName(std::string_view name, ParamDirection* out) {
  for (size_t i = 0; i < std::size(kDirNames); ++i)
    if (EqualsNoCase(name, kDirNames[i])) {
      *out = static_cast<ParamDirection>(i);
      return true;
    }
  return false;
}

Parameter* findParam(ParamList& params, std::string_view name) {
  for (auto& p : params)
    if (EqualsNoCase(p.name, name)) return &p;
  return nullptr;
}

const Parameter* findParam(const ParamList& params, std::string_view name) {
  for (const auto& p : params)
    if (EqualsNoCase(p.name, name)) return &p;
  return nullptr;
}

}  // namespace qz::db
