// Index leaf pages (type 04) of the catalog indexes, written whole.
//
// Layout: 04 01, free space u16, owning TDEF page u32, previous, next and
// tail leaf u32 (0 here), prefix length u16 at 0x14; from 0x1B a bitmap
// with one bit per byte of the entry area marking where each entry ends;
// entries from 0x1E0. An entry is the key (per column 7F then the value:
// a Long as big-endian with the sign bit flipped, text as its sort codes)
// followed by the row's page (3 bytes, big-endian) and row number.
//
// The library keeps each catalog index in one leaf page and rebuilds it
// from the table's rows when rows are added, which is enough for a
// catalog of some hundred objects.
//
// Thread-safety: pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qz::jet {

inline constexpr size_t kLeafEntriesAt = 0x1E0;
inline constexpr size_t kLeafMaskAt = 0x1B;

std::string LongIndexKey(int32_t v);
// An entry: key, then the row pointer in big-endian order.
std::string IndexEntry(const std::string& key, uint32_t page, uint8_t row);
// A leaf page holding entries in ascending byte order (sorted here).
// Throws JetError(Unsupported) when they do not fit in one page.
std::string BuildLeafPage(uint32_t tdefPage, std::vector<std::string> entries);
// The entries of a leaf page, in page order, prefix compression undone.
std::vector<std::string> LeafEntries(const uint8_t* page);

}  // namespace qz::jet
