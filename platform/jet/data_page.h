// Data pages: 01 01, free space u16, owning TDEF page u32, u32 0, row
// count u16 at 12, then one u16 offset per row from 14. Rows are placed
// from the end of the page downwards, each ending where the row before it
// starts. The two top bits of an offset are flags: 0xC000 marks a deleted
// row; 0x4000 alone an overflow pointer, 0x8000 alone its target (never
// written here).
//
// Thread-safety: pure functions on page buffers.
#pragma once

#include <cstdint>
#include <string_view>

namespace qz::jet {

inline constexpr size_t kDataPageHeader = 14;
inline constexpr uint16_t kRowDeleted = 0xC000;
inline constexpr uint16_t kRowFlagMask = 0xE000;
inline constexpr int kMaxRowsPerPage = 255;
// Bytes a data page offers to rows (header and one offset subtracted).
inline constexpr size_t kMaxRowSize = 4096 - kDataPageHeader - 2;

void InitDataPage(uint8_t* page, uint32_t owner);
inline bool IsDataPage(const uint8_t* page) { return page[0] == 0x01 && page[1] == 0x01; }
uint32_t DataPageOwner(const uint8_t* page);
int DataPageRowCount(const uint8_t* page);
int DataPageFreeSpace(const uint8_t* page);
uint16_t DataPageRowFlags(const uint8_t* page, int row);
// The bytes of a row (deleted rows too). Throws JetError(Corrupt) when the
// offsets leave the page.
std::string_view DataPageRow(const uint8_t* page, int row);
// A live row: not deleted and not an overflow pointer.
bool DataPageRowLive(const uint8_t* page, int row);
// Adds a row; returns its number, or -1 when it does not fit.
int DataPageAddRow(uint8_t* page, std::string_view row);
// Marks a row deleted; its bytes stay until the file is compacted.
void DataPageDeleteRow(uint8_t* page, int row);
// Overwrites a row with bytes of the same length. REQUIRES: same length.
void DataPageRewriteRow(uint8_t* page, int row, std::string_view bytes);

}  // namespace qz::jet
