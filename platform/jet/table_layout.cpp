// Column layout of new tables.
#include "platform/jet/table_layout.h"

#include <algorithm>
#include <set>

#include "platform/core/ascii.h"
#include "platform/jet/jet_error.h"
#include "platform/jet/text_codec.h"

namespace qz::jet {
namespace {

int FixedSize(ColumnType t) {
  switch (t) {
    case ColumnType::Boolean:
      return 1;
    case ColumnType::Byte:
      return 1;
    case ColumnType::Integer:
      return 2;
    case ColumnType::Long:
      return 4;
    case ColumnType::Single:
      return 4;
    case ColumnType::Currency:
    case ColumnType::Double:
    case ColumnType::DateTime:
      return 8;
    case ColumnType::Guid:
      return 16;
    default:
      return 0;  // variable length
  }
}

}  // namespace

TableDef MakeTableDef(const std::vector<ColumnSpec>& specs, bool system) {
  if (specs.empty() || specs.size() > 255)
    throw JetError(JetErrorCode::BadValue, "A table needs between 1 and 255 columns.");
  TableDef def;
  def.tableType = system ? 0x53 : 0x4E;
  def.maxColumns = uint16_t(specs.size());
  std::set<std::string> seen;
  uint16_t fixedAt = 0, varIndex = 0;
  for (size_t i = 0; i < specs.size(); ++i) {
    const ColumnSpec& s = specs[i];
    if (s.name.empty() || Utf16Length(s.name) > 64 || !seen.insert(AsciiLower(s.name)).second)
      throw JetError(JetErrorCode::BadValue,
                     "Column name '" + s.name + "' is empty, too long or repeated.");
    ColumnDef c;
    c.name = s.name;
    c.type = s.type;
    c.number = uint16_t(i);
    c.number2 = system ? 0 : uint16_t(i);
    const int size = FixedSize(s.type);
    if (size > 0) {
      c.flags = kColumnFixed | kColumnNullable | (system ? 0x10 : 0);
      c.length = uint16_t(size);
      c.varIndex = varIndex;
      if (s.type != ColumnType::Boolean) {
        c.fixedOffset = fixedAt;
        fixedAt = uint16_t(fixedAt + size);
      }
    } else {
      switch (s.type) {
        case ColumnType::Text:
          if (s.length < 1 || s.length > 255)
            throw JetError(JetErrorCode::BadValue,
                           "Text column '" + s.name + "' needs a length of 1 to 255.");
          c.length = uint16_t(2 * s.length);
          if (!system) c.miscFlags = kColumnCompressedText;
          break;
        case ColumnType::Binary:
          c.length = 510;
          break;
        case ColumnType::Memo:
          if (!system) c.miscFlags = kColumnCompressedText;
          c.length = 0;
          break;
        case ColumnType::Ole:
          c.length = 0;
          break;
        default:
          throw JetError(JetErrorCode::BadValue, "Column '" + s.name + "' has an unknown type.");
      }
      c.flags = kColumnNullable | (system ? 0x10 : 0);
      c.varIndex = varIndex++;
    }
    def.columns.push_back(c);
  }
  if (system)
    std::stable_sort(def.columns.begin(), def.columns.end(),
                     [](const ColumnDef& a, const ColumnDef& b) {
                       return AsciiLower(a.name) < AsciiLower(b.name);
                     });
  return def;
}

}  // namespace qz::jet
