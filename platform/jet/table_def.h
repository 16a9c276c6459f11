// A table definition (TDEF) page chain of a Jet 4 file, as data.
//
// Layout (little-endian): 02 01, free space u16, next TDEF page u32, then
// from 0x08: definition length u32, 0x659 u32, row count u32 (what readers
// report as the table's row count), autonumber u32, 0x28 table type
// (0x4E user, 0x53 system), column counts, index counts, the row pointers
// of the table's two usage maps (owned pages, pages with free space) at
// 0x37/0x3B; then 12 bytes per real index, 25 bytes per column, the column
// names (u16 byte length + UCS-2), 52 bytes per real index, 28 bytes per
// logical index, the index names, and for each Memo/OLE column its number
// and its two usage maps, ended by FFFF. A definition longer than a page
// continues on the next TDEF page after that page's 8-byte header.
//
// Thread-safety: values; functions are pure.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace qz::jet {

enum class ColumnType : uint8_t {
  Boolean = 0x01,
  Byte = 0x02,
  Integer = 0x03,
  Long = 0x04,
  Currency = 0x05,
  Single = 0x06,
  Double = 0x07,
  DateTime = 0x08,
  Binary = 0x09,
  Text = 0x0A,
  Ole = 0x0B,
  Memo = 0x0C,
  Guid = 0x0F,
  Numeric = 0x10,
};

// Column flag bits.
inline constexpr uint8_t kColumnFixed = 0x01;
inline constexpr uint8_t kColumnNullable = 0x02;
inline constexpr uint8_t kColumnAutoNumber = 0x04;
inline constexpr uint8_t kColumnCompressedText = 0x01;  // miscFlags

struct ColumnDef {
  std::string name;
  ColumnType type = ColumnType::Long;
  uint16_t number = 0;    // position in a row's value order
  uint16_t varIndex = 0;  // slot in the variable-length part
  uint16_t number2 = 0;
  uint16_t misc = 0x0409;  // text sort order (General), also on other types
  uint16_t miscExt = 0;
  uint8_t flags = 0;
  uint8_t miscFlags = 0;
  uint16_t fixedOffset = 0;
  uint16_t length = 0;  // bytes (Text: two per character)

  bool fixed() const { return flags & kColumnFixed; }
  bool longValue() const { return type == ColumnType::Memo || type == ColumnType::Ole; }
};

struct RealIndexDef {
  uint32_t head0 = 0;     // first word of the 12-byte block
  uint32_t rowCount = 0;  // second word of the 12-byte block
  struct KeyColumn {
    uint16_t column = 0xFFFF;  // FFFF: unused slot
    uint8_t order = 0;         // 01 ascending
  };
  std::array<KeyColumn, 10> keys{};
  uint32_t usageMap = 0;   // row pointer
  uint32_t firstPage = 0;  // the first (leaf) page
  uint32_t unknown = 0;
  uint8_t flags = 0;  // 01 unique, 02 ignore nulls, 08 required, 80 set by Jet 4
  int keyCount() const;
};

struct LogicalIndexDef {
  std::string name;
  uint32_t number = 0;
  uint32_t realIndex = 0;
  uint8_t relTableType = 0;
  int32_t relIndex = -1;
  uint32_t relTablePage = 0;
  uint8_t cascadeUps = 4;
  uint8_t cascadeDels = 4;
  uint8_t indexType = 0;  // 01 primary key
};

struct LongValueMaps {
  uint16_t column = 0;
  uint32_t usedMap = 0;  // row pointers
  uint32_t freeMap = 0;
};

struct TableDef {
  uint32_t page = 0;  // first TDEF page
  uint32_t rowCount = 0;
  uint32_t autonumber = 0;
  uint8_t tableType = 0x4E;
  uint16_t maxColumns = 0;
  uint32_t usedMap = 0;  // row pointers of the two usage maps
  uint32_t freeMap = 0;
  std::vector<ColumnDef> columns;  // in stored order
  std::vector<RealIndexDef> realIndexes;
  std::vector<LogicalIndexDef> indexes;  // in stored order
  std::vector<LongValueMaps> longValueMaps;

  // Columns ordered by number: the order of a row's values.
  std::vector<const ColumnDef*> columnsInRowOrder() const;
  int varColumnCount() const;
};

// The pages of a definition, first page first. Each string is kPageSize
// bytes; next-page links are filled from pages (same length as the result,
// extra pages supplied by the caller; pages[0] == def.page).
// Returns how many pages the definition needs when pages is too short.
size_t TableDefPageCount(const TableDef& def);
std::vector<std::string> EncodeTableDef(const TableDef& def, const std::vector<uint32_t>& pages);

// Decodes a definition from its pages' bytes, in chain order.
// Throws JetError(Corrupt) on a definition that runs past its bytes.
TableDef DecodeTableDef(uint32_t firstPage, const std::vector<const uint8_t*>& pages);

// The byte offset of the row count inside the first TDEF page, and the
// offset of real index i's row count.
inline constexpr size_t kTdefRowCountAt = 0x10;
inline size_t RealIndexRowCountAt(size_t i) { return 0x3F + 12 * i + 4; }

}  // namespace qz::jet
