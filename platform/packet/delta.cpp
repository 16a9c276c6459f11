// Update kinds, delta row shapes and field lookup of delta records.
#include "platform/packet/delta.h"

namespace qz::provider {
namespace {
constexpr const char* kKindNames[] = {"modify", "insert", "delete", "unmodified"};
}

const char* updateKindName(UpdateKind k) { return kKindNames[static_cast<int>(k)]; }

bool updateKindFromName(std::string_view name, UpdateKind* out) {
  for (int i = 0; i < 4; ++i)
    if (name == kKindNames[i]) {
      *out = static_cast<UpdateKind>(i);
      return true;
    }
  return false;
}

DeltaRow makeDeltaRow(const std::vector<FieldDef>& fields, UpdateKind kind) {
  DeltaRow r;
  r.kind = kind;
  r.oldValues.resize(fields.size());
  r.newValues.resize(fields.size());
  r.details.resize(datasetFieldIndexes(fields).size());
  return r;
}

const Variant& DeltaField::value() const {
  const Variant& n = newValue();
  return n.isUnassigned() ? oldValue() : n;
}

DeltaField DeltaRecord::fieldByName(std::string_view name) {
  int i = findField(*fields_, name);
  if (i < 0) throw FieldNotFound(name);
  return DeltaField(&(*fields_)[i], row_, static_cast<size_t>(i));
}

}  // namespace qz::provider
