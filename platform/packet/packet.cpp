// Field lookups shared by packets and deltas.
#include "platform/packet/packet.h"

#include "platform/core/ascii.h"

namespace qz::provider {

int findField(const std::vector<FieldDef>& fields, std::string_view name) {
  for (size_t i = 0; i < fields.size(); ++i)
    if (EqualsNoCase(fields[i].name, name)) return static_cast<int>(i);
  return -1;
}

std::vector<size_t> datasetFieldIndexes(const std::vector<FieldDef>& fields) {
  std::vector<size_t> out;
  for (size_t i = 0; i < fields.size(); ++i)
    if (fields[i].type == FieldType::Dataset) out.push_back(i);
  return out;
}

}  // namespace qz::provider
