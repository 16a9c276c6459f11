// Usage maps: which pages belong to a table, an index or a long-value
// column, kept in a row of a data page.
//
// Type 0 (inline): 00, u32 first page, then a bitmap over the pages from
// the first page on (64 bytes: 512 pages in the rows this library writes).
// Type 1 (reference): 01, then u32 numbers of map pages (0 = none); map
// page k (05 01 00 00 + bitmap) covers pages k*32736 to (k+1)*32736-1.
// An inline map turns into a reference map in place when a page falls
// outside its window, so a table can grow past 512 pages.
//
// Thread-safety: one thread at a time (works on a PageFile).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/jet/page_file.h"

namespace qz::jet {

inline constexpr size_t kInlineMapBytes = 64;
inline constexpr size_t kInlineMapRowSize = 5 + kInlineMapBytes;
inline constexpr uint32_t kPagesPerMapPage = (kPageSize - 4) * 8;

// The pages marked in the map at rowPointer, ascending.
// Throws JetError(Corrupt) for an unknown map type.
std::vector<uint32_t> UsageMapPages(const PageFile& file, uint32_t rowPointer);

// Whether page is marked in the map at rowPointer.
bool UsageMapHas(const PageFile& file, uint32_t rowPointer, uint32_t page);

// Marks or clears page in the map. allocate() adds a page to the file
// and returns its number (used when a reference map needs a map page).
void UsageMapSet(PageFile& file, uint32_t rowPointer, uint32_t page, bool on,
                 const std::function<uint32_t()>& allocate);

// The bytes of an empty inline map row starting at firstPage.
std::string EmptyInlineMap(uint32_t firstPage);

}  // namespace qz::jet
