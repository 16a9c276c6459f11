// Deltas: the changes a client sends back for one provider's packet, and the
// delta record through which posting rules see one changed row.
//
// Invariants: a DeltaRow has one old and one new value per field of its
// delta (Unassigned where the client sent none) and one detail list per
// Dataset field, in field order, holding the detail rows of that field's
// children. The numbering of UpdateKind is the system's: modify 0,
// insert 1, delete 2; Unmodified marks a master row that only carries
// changes of its details and is never written itself.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/packet/packet.h"

namespace qz::provider {

enum class UpdateKind : uint8_t { Modify = 0, Insert = 1, Delete = 2, Unmodified = 3 };

// Wire names "modify", "insert", "delete", "unmodified"; updateKindFromName
// returns false for anything else.
const char* updateKindName(UpdateKind k);
bool updateKindFromName(std::string_view name, UpdateKind* out);

struct DeltaRow {
  UpdateKind kind = UpdateKind::Modify;
  std::vector<Variant> oldValues;              // one per field
  std::vector<Variant> newValues;              // one per field
  std::vector<std::vector<DeltaRow>> details;  // one list per Dataset field
};

struct Delta {
  std::vector<FieldDef> fields;
  std::vector<DeltaRow> rows;
};

// Makes a row of the right shape for fields: all values Unassigned, one
// empty detail list per Dataset field.
DeltaRow makeDeltaRow(const std::vector<FieldDef>& fields, UpdateKind kind);

// The platform's error for a field name that a record does not have:
// "Field 'xyz' not found".
class FieldNotFound : public std::runtime_error {
 public:
  explicit FieldNotFound(std::string_view name)
      : std::runtime_error("Field '" + std::string(name) + "' not found") {}
};

// One field of a delta record: a handle into the row, valid while the row is.
class DeltaField {
 public:
  DeltaField(const FieldDef* def, DeltaRow* row, size_t index)
      : def_(def), row_(row), index_(index) {}
  const FieldDef& def() const { return *def_; }
  const std::string& name() const { return def_->name; }
  const Variant& oldValue() const { return row_->oldValues[index_]; }
  const Variant& newValue() const { return row_->newValues[index_]; }
  // The value a reader of the record sees: the new value when assigned,
  // else the old one.
  const Variant& value() const;
  // The default resolution writes the row with the value set here.
  void setNewValue(Variant v) { row_->newValues[index_] = std::move(v); }

 private:
  const FieldDef* def_;
  DeltaRow* row_;
  size_t index_;
};

// What a posting rule sees of one changed row. Borrows the row and its
// fields; valid while the delta is.
class DeltaRecord {
 public:
  DeltaRecord(std::string datasetName, const std::vector<FieldDef>* fields, DeltaRow* row)
      : datasetName_(std::move(datasetName)), fields_(fields), row_(row) {}

  // The component name of the source dataset ("bills", "billitems").
  const std::string& datasetName() const { return datasetName_; }
  UpdateKind updateKind() const { return row_->kind; }
  const std::vector<FieldDef>& fields() const { return *fields_; }
  DeltaRow& row() { return *row_; }

  // The field named name, ASCII case ignored. Throws FieldNotFound.
  DeltaField fieldByName(std::string_view name);
  // True when the record has the field.
  bool hasField(std::string_view name) const { return findField(*fields_, name) >= 0; }

  // Set by a rule that wrote the row itself; the default resolution then
  // writes nothing for it.
  bool applied = false;

 private:
  std::string datasetName_;
  const std::vector<FieldDef>* fields_;
  DeltaRow* row_;
};

}  // namespace qz::provider
