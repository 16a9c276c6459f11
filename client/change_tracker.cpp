// ChangeTracker: a tree of rows with their values as read and as edited;
// the delta is computed from the difference when asked for.
#include "client/change_tracker.h"

#include <stdexcept>

#include "platform/packet/json_values.h"

namespace qz::client {

using provider::DeltaRow;
using provider::FieldDef;
using provider::FieldType;
using provider::UpdateKind;

namespace {

size_t datasetOrdinal(const std::vector<FieldDef>& fields, std::string_view detail) {
  int idx = provider::findField(fields, detail);
  if (idx < 0 || fields[static_cast<size_t>(idx)].type != FieldType::Dataset) {
    throw provider::FieldNotFound(detail);
  }
  size_t ordinal = 0;
  for (int i = 0; i < idx; ++i) {
    if (fields[static_cast<size_t>(i)].type == FieldType::Dataset) ++ordinal;
  }
  return ordinal;
}

}  // namespace

ChangeTracker::ChangeTracker(DataPacket packet) : fields_(std::move(packet.fields)) {
  rows_.reserve(packet.rows.size());
  for (const provider::DataRow& r : packet.rows) rows_.push_back(fromRow(r, fields_));
}

ChangeTracker::Node ChangeTracker::fromRow(const provider::DataRow& row,
                                           const std::vector<FieldDef>& fields) {
  Node n;
  n.read = row.values;
  n.read.resize(fields.size(), qz::Variant::null());
  n.current = n.read;
  std::vector<size_t> ds = provider::datasetFieldIndexes(fields);
  n.details.resize(ds.size());
  for (size_t k = 0; k < ds.size(); ++k) {
    if (k >= row.details.size()) continue;
    for (const provider::DataRow& d : row.details[k]) {
      n.details[k].push_back(fromRow(d, fields[ds[k]].children));
    }
  }
  return n;
}

ChangeTracker::Node& ChangeTracker::visible(std::vector<Node>& table, int index) {
  if (index >= 0) {
    int seen = 0;
    for (Node& n : table) {
      if (n.state == State::kDeleted) continue;
      if (seen++ == index) return n;
    }
  }
  throw std::out_of_range("no row " + std::to_string(index));
}

ChangeTracker::Node& ChangeTracker::find(const RowPath& path,
                                         const std::vector<FieldDef>** fields) {
  if (path.empty()) throw std::out_of_range("empty row path");
  if (!path[0].detail.empty()) throw std::out_of_range("a row path starts with a master row");
  const std::vector<FieldDef>* f = &fields_;
  Node* n = &visible(rows_, path[0].index);
  for (size_t s = 1; s < path.size(); ++s) {
    size_t k = datasetOrdinal(*f, path[s].detail);
    const std::vector<FieldDef>* child =
        &(*f)[static_cast<size_t>(provider::findField(*f, path[s].detail))].children;
    n = &visible(n->details[k], path[s].index);
    f = child;
  }
  if (fields) *fields = f;
  return *n;
}

const ChangeTracker::Node& ChangeTracker::find(const RowPath& path,
                                               const std::vector<FieldDef>** fields) const {
  return const_cast<ChangeTracker*>(this)->find(path, fields);
}

std::vector<ChangeTracker::Node>& ChangeTracker::table(const RowPath& parent,
                                                       std::string_view detail,
                                                       const std::vector<FieldDef>** fields) {
  if (parent.empty()) {
    if (!detail.empty()) throw std::out_of_range("a detail table needs its master row");
    *fields = &fields_;
    return rows_;
  }
  const std::vector<FieldDef>* pf = nullptr;
  Node& p = find(parent, &pf);
  size_t k = datasetOrdinal(*pf, detail);
  *fields = &(*pf)[static_cast<size_t>(provider::findField(*pf, detail))].children;
  return p.details[k];
}

size_t ChangeTracker::rowCount(const RowPath& parent, std::string_view detail) const {
  const std::vector<FieldDef>* f = nullptr;
  const std::vector<Node>& t = const_cast<ChangeTracker*>(this)->table(parent, detail, &f);
  size_t n = 0;
  for (const Node& r : t) n += r.state != State::kDeleted;
  return n;
}

const Variant& ChangeTracker::value(const RowPath& row, std::string_view field) const {
  const std::vector<FieldDef>* f = nullptr;
  const Node& n = find(row, &f);
  int i = provider::findField(*f, field);
  if (i < 0) throw provider::FieldNotFound(field);
  return n.current[static_cast<size_t>(i)];
}

void ChangeTracker::setValue(const RowPath& row, std::string_view field, Variant v) {
  const std::vector<FieldDef>* f = nullptr;
  Node& n = find(row, &f);
  int i = provider::findField(*f, field);
  if (i < 0) throw provider::FieldNotFound(field);
  const FieldDef& def = (*f)[static_cast<size_t>(i)];
  if (def.type == FieldType::Dataset) {
    throw std::invalid_argument("Field '" + def.name + "' is a detail table");
  }
  if (def.readOnly) throw std::invalid_argument("Field '" + def.name + "' cannot be modified");
  if (v.isUnassigned()) v = qz::Variant::null();
  n.current[static_cast<size_t>(i)] = provider::coerceToFieldType(v, def.type);
}

RowPath ChangeTracker::appendRow(const RowPath& parent, std::string_view detail) {
  const std::vector<FieldDef>* f = nullptr;
  std::vector<Node>& t = table(parent, detail, &f);
  Node n;
  n.state = State::kInserted;
  n.current.assign(f->size(), qz::Variant::null());
  n.details.resize(provider::datasetFieldIndexes(*f).size());
  int index = 0;
  for (const Node& r : t) index += r.state != State::kDeleted;
  t.push_back(std::move(n));
  RowPath path = parent;
  if (parent.empty()) {
    path.push_back({"", index});
  } else {
    path.push_back({std::string(detail), index});
  }
  return path;
}

void ChangeTracker::deleteRow(const RowPath& row) {
  if (row.empty()) throw std::out_of_range("empty row path");
  RowPath parent(row.begin(), row.end() - 1);
  const std::vector<FieldDef>* f = nullptr;
  std::vector<Node>& t = table(parent, row.back().detail, &f);
  Node& n = visible(t, row.back().index);
  if (n.state == State::kInserted) {
    // Never sent: it simply goes away.
    t.erase(t.begin() + (&n - t.data()));
    return;
  }
  n.state = State::kDeleted;
}

bool ChangeTracker::changed(const Node& n) {
  for (size_t i = 0; i < n.current.size(); ++i) {
    if (!(n.current[i] == n.read[i])) return true;
  }
  return false;
}

bool ChangeTracker::subtreeChanged(const Node& n) {
  if (n.state != State::kRead || changed(n)) return true;
  for (const auto& t : n.details) {
    for (const Node& d : t) {
      if (subtreeChanged(d)) return true;
    }
  }
  return false;
}

void ChangeTracker::deltaRows(const std::vector<Node>& table, const std::vector<FieldDef>& fields,
                              bool forceDelete, std::vector<DeltaRow>* out) {
  std::vector<size_t> ds = provider::datasetFieldIndexes(fields);
  for (const Node& n : table) {
    DeltaRow row;
    bool deleting = forceDelete || n.state == State::kDeleted;
    if (n.state == State::kInserted) {
      if (forceDelete) continue;
      row = provider::makeDeltaRow(fields, UpdateKind::Insert);
      for (size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].type == FieldType::Dataset) continue;
        row.newValues[i] = n.current[i].isUnassigned() ? qz::Variant::null() : n.current[i];
      }
    } else if (deleting) {
      row = provider::makeDeltaRow(fields, UpdateKind::Delete);
      for (size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].type != FieldType::Dataset) row.oldValues[i] = n.read[i];
      }
    } else {
      if (!subtreeChanged(n)) continue;
      bool own = changed(n);
      row = provider::makeDeltaRow(fields, own ? UpdateKind::Modify : UpdateKind::Unmodified);
      for (size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].type == FieldType::Dataset) continue;
        row.oldValues[i] = n.read[i];
        if (own && !(n.current[i] == n.read[i])) row.newValues[i] = n.current[i];
      }
    }
    for (size_t k = 0; k < ds.size() && k < n.details.size(); ++k) {
      deltaRows(n.details[k], fields[ds[k]].children, deleting, &row.details[k]);
    }
    out->push_back(std::move(row));
  }
}

Delta ChangeTracker::delta() const {
  Delta d;
  d.fields = fields_;
  deltaRows(rows_, fields_, false, &d.rows);
  return d;
}

bool ChangeTracker::hasChanges() const {
  for (const Node& n : rows_) {
    if (subtreeChanged(n)) return true;
  }
  return false;
}

void ChangeTracker::currentRows(const std::vector<Node>& table, const std::vector<FieldDef>& fields,
                                std::vector<provider::DataRow>* out) {
  std::vector<size_t> ds = provider::datasetFieldIndexes(fields);
  for (const Node& n : table) {
    if (n.state == State::kDeleted) continue;
    provider::DataRow r;
    r.values = n.current;
    r.details.resize(ds.size());
    for (size_t k = 0; k < ds.size() && k < n.details.size(); ++k) {
      currentRows(n.details[k], fields[ds[k]].children, &r.details[k]);
    }
    out->push_back(std::move(r));
  }
}

DataPacket ChangeTracker::current() const {
  DataPacket p;
  p.fields = fields_;
  currentRows(rows_, fields_, &p.rows);
  return p;
}

void ChangeTracker::accept(std::vector<Node>& table) {
  std::erase_if(table, [](const Node& n) { return n.state == State::kDeleted; });
  for (Node& n : table) {
    n.state = State::kRead;
    n.read = n.current;
    for (auto& t : n.details) accept(t);
  }
}

void ChangeTracker::acceptChanges() { accept(rows_); }

}  // namespace qz::client
