// ChangeTracker: edits of a data packet, kept the way a client dataset keeps
// them, turned into the delta that AS_ApplyUpdates takes.
//
// Rows are addressed by paths like those of error packets: {{"", i}} is
// master row i, {{"", i}, {"billitems", j}} detail row j of that master.
// Indexes count the rows visible now (deleted rows are gone from view,
// appended rows are at the end).
//
// The delta follows the wire rules: a modified row carries every field as
// read in "old" and only the changed fields in "new"; an inserted row
// carries every field in "new" (null where left empty); a deleted row
// carries every field as read; a master whose own fields are unchanged but
// whose details changed is an "unmodified" carrier. Deleting a master also
// deletes its details (they appear as delete rows under it). A row
// inserted and deleted again, or edited back to what was read, leaves no
// trace.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/packet/delta.h"
#include "platform/packet/error_packet.h"
#include "platform/packet/packet.h"

namespace qz::client {

using provider::DataPacket;
using provider::Delta;
using qz::Variant;
using RowPath = std::vector<provider::RowStep>;

// Not thread-safe.
class ChangeTracker {
 public:
  // REQUIRES: packet has the shape packet.h describes.
  explicit ChangeTracker(DataPacket packet);

  const std::vector<provider::FieldDef>& fields() const { return fields_; }

  // Visible rows of the master table (parent empty) or of detail table
  // `detail` of row parent. Throws std::out_of_range for a bad path and
  // provider::FieldNotFound for an unknown detail name.
  size_t rowCount(const RowPath& parent = {}, std::string_view detail = {}) const;

  // The current value of a field of a row. Throws std::out_of_range,
  // provider::FieldNotFound.
  const Variant& value(const RowPath& row, std::string_view field) const;

  // Sets a field, converted to the field's type where that is lossless
  // (text "17" into an int32 field). Throws std::out_of_range,
  // provider::FieldNotFound, std::invalid_argument for read-only and
  // dataset fields.
  void setValue(const RowPath& row, std::string_view field, Variant v);

  // Appends an empty row (every field null) to the master table or to a
  // detail table of parent; returns its path.
  RowPath appendRow(const RowPath& parent = {}, std::string_view detail = {});

  // Deletes a row (with its details).
  void deleteRow(const RowPath& row);

  // The packet as edited.
  DataPacket current() const;
  // The changes since construction (or the last acceptChanges()).
  Delta delta() const;
  bool hasChanges() const;
  // Takes the current state as the new "as read" state (after a successful
  // apply).
  void acceptChanges();

 private:
  enum class State { kRead, kInserted, kDeleted };
  struct Node {
    State state = State::kRead;
    std::vector<Variant> read;               // values as read (empty for inserted rows)
    std::vector<Variant> current;            // one per field
    std::vector<std::vector<Node>> details;  // one table per Dataset field
  };

  static Node fromRow(const provider::DataRow& row, const std::vector<provider::FieldDef>& fields);
  // The visible-th node of table that is not deleted.
  static Node& visible(std::vector<Node>& table, int index);
  const Node& find(const RowPath& path, const std::vector<provider::FieldDef>** fields) const;
  Node& find(const RowPath& path, const std::vector<provider::FieldDef>** fields);
  std::vector<Node>& table(const RowPath& parent, std::string_view detail,
                           const std::vector<provider::FieldDef>** fields);
  static bool changed(const Node& n);
  static bool subtreeChanged(const Node& n);
  static void deltaRows(const std::vector<Node>& table,
                        const std::vector<provider::FieldDef>& fields, bool forceDelete,
                        std::vector<provider::DeltaRow>* out);
  static void currentRows(const std::vector<Node>& table,
                          const std::vector<provider::FieldDef>& fields,
                          std::vector<provider::DataRow>* out);
  static void accept(std::vector<Node>& table);

  std::vector<provider::FieldDef> fields_;
  std::vector<Node> rows_;
};

}  // namespace qz::client
