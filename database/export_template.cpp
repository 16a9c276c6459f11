// The export template's tables and its writing.
#include "database/export_template.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "database/schema.h"
#include "platform/core/ascii.h"
#include "platform/jet/jet_error.h"

namespace qz::database {
namespace {

using jet::ColumnType;

// The source column (table, column) of each template column, in the
// template's order; the names are spelled as the export writes them.
struct Source {
  const char* name;
  const char* column;  // source column name (any case)
};

jet::ColumnSpec SpecFor(const char* table, const Source& s, bool textKey) {
  const TableDef* t = findTable(table);
  if (!t) throw std::logic_error(std::string("no source table ") + table);
  for (const ColumnDef& c : t->columns) {
    if (!EqualsNoCase(c.name, s.column)) continue;
    // A key written as quoted text (an empty text for none) needs a Text
    // column even where the source numbers its rows.
    if (textKey && c.type != ColType::Str) return {s.name, ColumnType::Text, 11};
    switch (c.type) {
      case ColType::Str:
        return {s.name, ColumnType::Text, std::min(c.size, 255)};
      case ColType::Text:
        return {s.name, ColumnType::Memo};
      case ColType::Int:
      case ColType::Serial:
        return {s.name, ColumnType::Long};
      case ColType::SmallInt:
        return {s.name, ColumnType::Integer};
      case ColType::Bit:
        return {s.name, ColumnType::Boolean};
      case ColType::Float:
        return {s.name, ColumnType::Double};
      case ColType::Money:
        return {s.name, ColumnType::Currency};
      case ColType::DateTime:
        return {s.name, ColumnType::DateTime};
    }
  }
  throw std::logic_error(std::string("no source column ") + table + "." + s.column);
}

ExportTable Build(const char* name, const char* source, std::vector<Source> cols,
                  const char* textKey = "") {
  ExportTable t{name, {}};
  for (const Source& s : cols)
    t.columns.push_back(SpecFor(source, s, std::string_view(s.name) == textKey));
  return t;
}

// Columns taken in source order (the tables the export fills by position).
ExportTable ByPosition(const char* name, const char* source, size_t count) {
  const TableDef* t = findTable(source);
  if (!t || t->columns.size() < count)
    throw std::logic_error(std::string("bad source table ") + source);
  std::vector<Source> cols;
  for (size_t i = 0; i < count; ++i) cols.push_back({t->columns[i].name, t->columns[i].name});
  return Build(name, source, cols);
}

}  // namespace

const std::vector<ExportTable>& exportTemplateTables() {
  static const std::vector<ExportTable> tables = {
      Build("material", "material",
            {{"id", "id"},
             {"name", "name"},
             {"dw", "dw"},
             {"dw1", "dw1"},
             {"exchange", "exchange"},
             {"addi", "addi"},
             {"PRICE", "price"},
             {"price0", "price0"},
             {"price1", "price1"},
             {"INFO", "info"},
             {"cost", "cost"},
             {"pym", "pym"},
             {"slye", "slye"},
             {"ye", "ye"},
             {"TcType", "TcType"},
             {"TcCoefficient", "TcCoefficient"},
             {"rebate", "rebate"},
             {"sMax", "sMax"},
             {"sMin", "sMin"},
             {"mType", "mType"}},
            "id"),
      Build("client", "client",
            {{"type", "type"},
             {"id", "id"},
             {"name", "name"},
             {"addi", "addi"},
             {"mailno", "mailno"},
             {"email", "email"},
             {"tel", "tel"},
             {"m_tel", "m_tel"},
             {"fax", "fax"},
             {"bank", "bank"},
             {"bankID", "bankID"},
             {"taxid", "taxid"},
             {"pym", "pym"}},
            "id"),
      ByPosition("MAccount", "Maccount", 14),
      ByPosition("maccitems", "MAccItems", 23),
      ByPosition("Mgathering", "gathering", 8),
  };
  return tables;
}

void writeExportTemplate(const std::string& path) {
  const std::string part = path + ".part";
  try {
    auto db = jet::Database::Create(part, kExportPassword);
    // A fixed creation time keeps the file the same on every build.
    const DateTime created = DateTime::fromParts(2002, 12, 21);
    for (const ExportTable& t : exportTemplateTables()) db->createTable(t.name, t.columns, created);
  } catch (...) {
    std::remove(part.c_str());
    throw;
  }
  if (std::rename(part.c_str(), path.c_str()) != 0) {
    std::remove(part.c_str());
    throw jet::JetError(jet::JetErrorCode::Io, "Cannot write '" + path + "'.");
  }
}

}  // namespace qz::database
