// Data page rows: placement, flags and lookup.
#include "platform/jet/data_page.h"

#include <cstring>

#include "platform/jet/bytes.h"
#include "platform/jet/jet_error.h"

namespace qz::jet {

void InitDataPage(uint8_t* page, uint32_t owner) {
  std::memset(page, 0, kPageSize);
  page[0] = 0x01;
  page[1] = 0x01;
  Put16(page + 2, uint16_t(kPageSize - kDataPageHeader));
  Put32(page + 4, owner);
}

uint32_t DataPageOwner(const uint8_t* page) { return Get32(page + 4); }
int DataPageRowCount(const uint8_t* page) { return Get16(page + 12); }
int DataPageFreeSpace(const uint8_t* page) { return Get16(page + 2); }

uint16_t DataPageRowFlags(const uint8_t* page, int row) {
  if (row < 0 || kDataPageHeader + 2 * size_t(row) + 2 > kPageSize)
    throw JetError(JetErrorCode::Corrupt, "A row number points past the rows of its page.");
  return Get16(page + kDataPageHeader + 2 * row) & kRowFlagMask;
}

std::string_view DataPageRow(const uint8_t* page, int row) {
  const int n = DataPageRowCount(page);
  if (row < 0 || row >= n || kDataPageHeader + 2 * size_t(n) > kPageSize)
    throw JetError(JetErrorCode::Corrupt, "A row number points past the rows of its page.");
  const size_t start = Get16(page + kDataPageHeader + 2 * row) & 0x1FFF;
  const size_t end = row == 0 ? kPageSize : Get16(page + kDataPageHeader + 2 * (row - 1)) & 0x1FFF;
  // The offsets have 13 bits, the page 12: a damaged offset can point past it.
  if (start < kDataPageHeader + 2 * size_t(n) || start > end || end > kPageSize)
    throw JetError(JetErrorCode::Corrupt, "A row of a data page lies outside its page.");
  return {reinterpret_cast<const char*>(page) + start, end - start};
}

bool DataPageRowLive(const uint8_t* page, int row) {
  return (DataPageRowFlags(page, row) & 0x4000) == 0;
}

int DataPageAddRow(uint8_t* page, std::string_view row) {
  const int n = DataPageRowCount(page);
  if (n >= kMaxRowsPerPage || size_t(DataPageFreeSpace(page)) < row.size() + 2) return -1;
  const size_t top = n == 0 ? kPageSize : Get16(page + kDataPageHeader + 2 * (n - 1)) & 0x1FFF;
  const size_t start = top - row.size();
  std::memcpy(page + start, row.data(), row.size());
  Put16(page + kDataPageHeader + 2 * n, uint16_t(start));
  Put16(page + 12, uint16_t(n + 1));
  Put16(page + 2, uint16_t(DataPageFreeSpace(page) - row.size() - 2));
  return n;
}

void DataPageDeleteRow(uint8_t* page, int row) {
  uint8_t* at = page + kDataPageHeader + 2 * row;
  Put16(at, uint16_t((Get16(at) & 0x1FFF) | kRowDeleted));
}

void DataPageRewriteRow(uint8_t* page, int row, std::string_view bytes) {
  std::string_view old = DataPageRow(page, row);
  std::memcpy(page + (old.data() - reinterpret_cast<const char*>(page)), bytes.data(),
              bytes.size());
}

}  // namespace qz::jet
