// Catalog index leaf pages.
#include "platform/jet/index_leaf.h"

#include <algorithm>

#include "platform/jet/bytes.h"
#include "platform/jet/jet_error.h"

namespace qz::jet {

std::string LongIndexKey(int32_t v) {
  const uint32_t u = uint32_t(v) ^ 0x80000000u;
  std::string k(1, char(0x7F));
  for (int i = 3; i >= 0; --i) k.push_back(char(u >> (8 * i)));
  return k;
}

std::string IndexEntry(const std::string& key, uint32_t page, uint8_t row) {
  std::string e = key;
  e.push_back(char(page >> 16));
  e.push_back(char(page >> 8));
  e.push_back(char(page));
  e.push_back(char(row));
  return e;
}

std::string BuildLeafPage(uint32_t tdefPage, std::vector<std::string> entries) {
  std::sort(entries.begin(), entries.end());
  std::string page(kPageSize, '\0');
  auto* p = reinterpret_cast<uint8_t*>(page.data());
  p[0] = 0x04;
  p[1] = 0x01;
  Put32(p + 4, tdefPage);
  size_t at = kLeafEntriesAt;
  for (const std::string& e : entries) {
    if (at + e.size() > kPageSize)
      throw JetError(JetErrorCode::Unsupported, "A catalog index has grown past one index page.");
    std::copy(e.begin(), e.end(), page.begin() + long(at));
    at += e.size();
    const size_t bit = at - kLeafEntriesAt;
    p[kLeafMaskAt + bit / 8] = uint8_t(p[kLeafMaskAt + bit / 8] | (1 << (bit % 8)));
  }
  Put16(p + 2, uint16_t(kPageSize - at));
  return page;
}

std::vector<std::string> LeafEntries(const uint8_t* p) {
  const size_t free = Get16(p + 2);
  const size_t used = kPageSize - std::min(free, kPageSize);
  const size_t prefixLen = Get16(p + 0x14);
  std::vector<std::string> out;
  // A free count past the page size would make the entries run off it.
  if (free > kPageSize || used < kLeafEntriesAt)
    throw JetError(JetErrorCode::Corrupt, "An index page has a bad free-space count.");
  size_t start = kLeafEntriesAt;
  std::string prefix;
  for (size_t at = kLeafEntriesAt + 1; at <= used; ++at) {
    const size_t bit = at - kLeafEntriesAt;
    if (!(p[kLeafMaskAt + bit / 8] & (1 << (bit % 8)))) continue;
    std::string e(reinterpret_cast<const char*>(p) + start, at - start);
    if (out.empty())
      prefix = e.substr(0, std::min(prefixLen, e.size()));
    else
      e = prefix + e;
    out.push_back(std::move(e));
    start = at;
  }
  return out;
}

}  // namespace qz::jet
