// Structural checks of a database file.
#include "platform/jet/checker.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "platform/jet/bytes.h"
#include "platform/jet/data_page.h"
#include "platform/jet/database.h"
#include "platform/jet/index_leaf.h"
#include "platform/jet/jet_error.h"
#include "platform/jet/usage_map.h"

namespace qz::jet {

std::vector<std::string> CheckDatabaseFile(const std::string& path, const std::string& password) {
  std::vector<std::string> problems;
  std::unique_ptr<Database> db;
  try {
    db = Database::Open(path, password, false);
  } catch (const std::exception& e) {
    return {e.what()};
  }
  const PageFile& f = db->file();
  const uint32_t pages = uint32_t(f.pageCount());
  try {
    // Global map: every page of the file in use, every page past it free.
    std::set<uint32_t> freePages;
    for (uint32_t p : UsageMapPages(f, RowPointer(1, 0))) freePages.insert(p);
    for (uint32_t p = 0; p < std::min<uint32_t>(pages, kInlineMapBytes * 8); ++p)
      if (freePages.count(p))
        problems.push_back("page " + std::to_string(p) + " is in use but marked free");
    for (uint32_t p = pages; p < kInlineMapBytes * 8; ++p)
      if (!freePages.count(p))
        problems.push_back("page " + std::to_string(p) + " is past the end but not marked free");

    // Data pages: free-space counts.
    std::map<uint32_t, std::set<uint32_t>> pagesByOwner;
    for (uint32_t p = 1; p < pages; ++p) {
      const uint8_t* pg = f.page(p);
      if (!IsDataPage(pg)) continue;
      const int n = DataPageRowCount(pg);
      size_t used = 0;
      for (int r = 0; r < n; ++r) used += DataPageRow(pg, r).size();
      const size_t expect = kPageSize - kDataPageHeader - 2 * size_t(n) - used;
      if (size_t(DataPageFreeSpace(pg)) != expect)
        problems.push_back("data page " + std::to_string(p) + " counts " +
                           std::to_string(DataPageFreeSpace(pg)) + " free bytes, has " +
                           std::to_string(expect));
      if (std::memcmp(pg + 4, "LVAL", 4) != 0) pagesByOwner[DataPageOwner(pg)].insert(p);
    }

    for (const CatalogEntry& e : db->tables(true)) {
      const TableDef& def = db->table(e.name);
      const std::vector<uint32_t> owned = db->ownedPages(def);
      const std::set<uint32_t> ownedSet(owned.begin(), owned.end());
      if (ownedSet != pagesByOwner[def.page])
        problems.push_back(e.name + ": its usage map and the pages it owns differ");
      for (uint32_t p : UsageMapPages(f, def.freeMap))
        if (!ownedSet.count(p))
          problems.push_back(e.name + ": page " + std::to_string(p) +
                             " has free space but is not the table's");
      for (const LongValueMaps& m : def.longValueMaps)
        for (uint32_t p : UsageMapPages(f, m.usedMap))
          if (p >= pages || std::memcmp(f.page(p) + 4, "LVAL", 4) != 0)
            problems.push_back(e.name + ": long-value page " + std::to_string(p) +
                               " is no LVAL page");
      uint32_t live = 0;
      db->scan(e.name, [&](const std::vector<Variant>&) { ++live; });
      if (live != def.rowCount)
        problems.push_back(e.name + ": row count " + std::to_string(def.rowCount) + ", live rows " +
                           std::to_string(live));
      if (def.tableType != 0x53) continue;
      for (size_t i = 0; i < def.realIndexes.size(); ++i) {
        std::vector<std::string> have = LeafEntries(f.page(def.realIndexes[i].firstPage));
        if (!std::is_sorted(have.begin(), have.end()))
          problems.push_back(e.name + ": index " + std::to_string(i) + " is out of order");
        std::sort(have.begin(), have.end());
        if (have != db->indexEntriesFromRows(def, i))
          problems.push_back(e.name + ": index " + std::to_string(i) + " does not match the rows");
        if (!UsageMapPages(f, def.realIndexes[i].usageMap).empty() &&
            UsageMapPages(f, def.realIndexes[i].usageMap) !=
                std::vector<uint32_t>{def.realIndexes[i].firstPage})
          problems.push_back(e.name + ": index " + std::to_string(i) +
                             " usage map names other pages");
      }
    }
  } catch (const std::exception& e) {
    problems.push_back(e.what());
  }
  return problems;
}

}  // namespace qz::jet
