// Reading and changing usage maps.
#include "platform/jet/usage_map.h"

#include <cstring>
#include <string>

#include "platform/jet/bytes.h"
#include "platform/jet/data_page.h"
#include "platform/jet/jet_error.h"

namespace qz::jet {
namespace {

// The row of a map as a writable span on its page.
uint8_t* MapRow(PageFile& file, uint32_t ptr, size_t* len) {
  const uint8_t* page = file.page(PointerPage(ptr));
  std::string_view row = DataPageRow(page, PointerRow(ptr));
  *len = row.size();
  uint8_t* w = file.mutablePage(PointerPage(ptr));
  return w + (row.data() - reinterpret_cast<const char*>(page));
}

void BitmapPages(const uint8_t* bits, size_t bytes, uint32_t first, std::vector<uint32_t>& out) {
  for (size_t i = 0; i < bytes; ++i) {
    if (!bits[i]) continue;
    for (int b = 0; b < 8; ++b)
      if (bits[i] & (1 << b)) out.push_back(first + uint32_t(i * 8 + b));
  }
}

void SetBit(uint8_t* bits, size_t index, bool on) {
  if (on)
    bits[index / 8] = uint8_t(bits[index / 8] | (1 << (index % 8)));
  else
    bits[index / 8] = uint8_t(bits[index / 8] & ~(1 << (index % 8)));
}

}  // namespace

std::string EmptyInlineMap(uint32_t firstPage) {
  std::string row(kInlineMapRowSize, '\0');
  Put32(reinterpret_cast<uint8_t*>(row.data()) + 1, firstPage);
  return row;
}

std::vector<uint32_t> UsageMapPages(const PageFile& file, uint32_t ptr) {
  std::string_view row = DataPageRow(file.page(PointerPage(ptr)), PointerRow(ptr));
  const auto* r = reinterpret_cast<const uint8_t*>(row.data());
  std::vector<uint32_t> out;
  if (row.empty()) return out;
  if (r[0] == 0) {
    if (row.size() < 5) throw JetError(JetErrorCode::Corrupt, "A usage map is cut short.");
    BitmapPages(r + 5, row.size() - 5, Get32(r + 1), out);
  } else if (r[0] == 1) {
    for (size_t k = 0; 1 + 4 * k + 4 <= row.size(); ++k) {
      const uint32_t mp = Get32(r + 1 + 4 * k);
      if (!mp) continue;
      BitmapPages(file.page(mp) + 4, kPageSize - 4, uint32_t(k) * kPagesPerMapPage, out);
    }
  } else {
    throw JetError(JetErrorCode::Corrupt, "A usage map has an unknown type.");
  }
  return out;
}

bool UsageMapHas(const PageFile& file, uint32_t ptr, uint32_t page) {
  std::string_view row = DataPageRow(file.page(PointerPage(ptr)), PointerRow(ptr));
  const auto* r = reinterpret_cast<const uint8_t*>(row.data());
  if (row.size() < 5) return false;
  auto bit = [](const uint8_t* bits, size_t i) { return (bits[i / 8] >> (i % 8)) & 1; };
  if (r[0] == 0) {
    const uint32_t first = Get32(r + 1);
    return page >= first && page - first < (row.size() - 5) * 8 && bit(r + 5, page - first);
  }
  if (r[0] != 1) return false;
  const size_t slot = page / kPagesPerMapPage;
  if (1 + 4 * slot + 4 > row.size()) return false;
  const uint32_t mp = Get32(r + 1 + 4 * slot);
  return mp && bit(file.page(mp) + 4, page % kPagesPerMapPage);
}

void UsageMapSet(PageFile& file, uint32_t ptr, uint32_t page, bool on,
                 const std::function<uint32_t()>& allocate) {
  size_t len = 0;
  uint8_t* r = MapRow(file, ptr, &len);
  if (len < 5) throw JetError(JetErrorCode::Corrupt, "A usage map is cut short.");
  if (r[0] == 0) {
    const uint32_t first = Get32(r + 1);
    const size_t span = (len - 5) * 8;
    if (page >= first && page - first < span) {
      SetBit(r + 5, page - first, on);
      return;
    }
    if (!on) return;
    // Outside the window: rewrite the map as a reference map that keeps
    // the pages marked so far.
    std::vector<uint32_t> marked;
    BitmapPages(r + 5, len - 5, first, marked);
    std::memset(r, 0, len);
    r[0] = 1;
    for (uint32_t p : marked) UsageMapSet(file, ptr, p, true, allocate);
    UsageMapSet(file, ptr, page, true, allocate);
    return;
  }
  if (r[0] != 1) throw JetError(JetErrorCode::Corrupt, "A usage map has an unknown type.");
  const size_t slot = page / kPagesPerMapPage;
  if (1 + 4 * slot + 4 > len)
    throw JetError(JetErrorCode::Unsupported,
                   "The table has grown past what its usage map can hold.");
  uint32_t mp = Get32(r + 1 + 4 * slot);
  if (!mp) {
    if (!on) return;
    mp = allocate();
    uint8_t* m = file.mutablePage(mp);
    std::memset(m, 0, kPageSize);
    m[0] = 0x05;
    m[1] = 0x01;
    r = MapRow(file, ptr, &len);  // allocate() may have moved nothing, but re-fetch for safety
    Put32(r + 1 + 4 * slot, mp);
  }
  SetBit(file.mutablePage(mp) + 4, page % kPagesPerMapPage, on);
}

}  // namespace qz::jet
