// Opening a database, its catalog, and adding, deleting and reading rows.
#include "platform/jet/database.h"

#include <algorithm>
#include <cstring>

#include "platform/core/ascii.h"
#include "platform/jet/bytes.h"
#include "platform/jet/data_page.h"
#include "platform/jet/index_leaf.h"
#include "platform/jet/jet_error.h"
#include "platform/jet/row_codec.h"
#include "platform/jet/system_catalog.h"
#include "platform/jet/table_layout.h"
#include "platform/jet/text_codec.h"
#include "platform/jet/usage_map.h"

namespace qz::jet {
namespace {

// Global usage map: row 0 of page 1; a set bit marks a free page.
constexpr uint32_t kGlobalMap = (1u << 8) | 0;

}  // namespace

Database::~Database() {
  if (!file_ || !file_->writable()) return;
  try {
    file_->flush();
  } catch (const JetError&) {
    // Nowhere to report it from a destructor; callers that care flush().
  }
}

void Database::flush() {
  file_->flush();
  lastWrite_ = std::chrono::steady_clock::now();
}

void Database::writeBehind() {
  if (file_->dirtyCount() == 0) return;
  if (file_->dirtyCount() >= kWriteBehindPages ||
      std::chrono::steady_clock::now() - lastWrite_ >= kWriteBehindDelay)
    flush();
}

uint32_t Database::openPage(uint32_t freeMap) {
  auto it = openPages_.find(freeMap);
  if (it != openPages_.end() && UsageMapHas(*file_, freeMap, it->second)) return it->second;
  const std::vector<uint32_t> open = UsageMapPages(*file_, freeMap);
  const uint32_t p = open.empty() ? 0 : open.back();
  openPages_[freeMap] = p;
  return p;
}

std::unique_ptr<Database> Database::Open(const std::string& path, const std::string& password,
                                         bool writable) {
  std::unique_ptr<Database> db(new Database);
  db->file_ = PageFile::Open(path, writable);
  db->header_ = ReadHeaderPage(db->file_->page(0));
  if (!db->header_.password.empty() && db->header_.password != password)
    throw JetError(JetErrorCode::BadPassword, kNotAValidPassword);
  db->loadCatalog();
  return db;
}

std::vector<uint32_t> Database::defPages(uint32_t first) const {
  std::vector<uint32_t> pages;
  for (uint32_t p = first; p; p = Get32(file_->page(p) + 4)) {
    if (pages.size() > 64 || file_->page(p)[0] != 0x02)
      throw JetError(JetErrorCode::Corrupt, "A table definition chain is broken.");
    pages.push_back(p);
  }
  return pages;
}

TableDef Database::readDef(uint32_t page) const {
  std::vector<const uint8_t*> bytes;
  for (uint32_t p : defPages(page)) bytes.push_back(file_->page(p));
  return DecodeTableDef(page, bytes);
}

void Database::loadCatalog() {
  defs_.clear();
  catalog_.clear();
  TableDef objects = readDef(kMSysObjectsPage);
  const size_t idCol = columnIndex(objects, "Id"), nameCol = columnIndex(objects, "Name"),
               typeCol = columnIndex(objects, "Type"), flagsCol = columnIndex(objects, "Flags");
  defs_.emplace(AsciiLower("MSysObjects"), std::move(objects));
  scan("MSysObjects", [&](const std::vector<Variant>& row) {
    if (row[typeCol].isNull() || row[typeCol].asInt() != 1 || row[idCol].isNull()) return;
    CatalogEntry e;
    e.name = row[nameCol].isNull() ? "" : row[nameCol].asString();
    e.id = uint32_t(row[idCol].asInt()) & 0x00FFFFFFu;
    e.type = int32_t(row[typeCol].asInt());
    e.flags = row[flagsCol].isNull() ? 0 : uint32_t(row[flagsCol].asInt());
    catalog_.push_back(e);
  });
  for (const CatalogEntry& e : catalog_)
    if (e.id != kMSysObjectsPage) defs_.emplace(AsciiLower(e.name), readDef(e.id));
}

std::vector<CatalogEntry> Database::tables(bool withSystem) const {
  std::vector<CatalogEntry> out;
  for (const CatalogEntry& e : catalog_)
    if (withSystem || !e.system()) out.push_back(e);
  return out;
}

const TableDef& Database::table(const std::string& name) const {
  auto it = defs_.find(AsciiLower(name));
  if (it == defs_.end())
    throw JetError(JetErrorCode::NoSuchTable,
                   "The Microsoft Jet database engine cannot find the input table or query '" +
                       name + "'.  Make sure it exists and that its name is spelled correctly.");
  return it->second;
}

TableDef& Database::mutableDef(const std::string& name) {
  return const_cast<TableDef&>(table(name));
}

size_t Database::columnIndex(const TableDef& def, const std::string& column) const {
  const auto cols = def.columnsInRowOrder();
  for (size_t i = 0; i < cols.size(); ++i)
    if (AsciiLower(cols[i]->name) == AsciiLower(column)) return i;
  throw JetError(JetErrorCode::NoSuchColumn, "Unknown field name: '" + column + "'.");
}

std::vector<uint32_t> Database::ownedPages(const TableDef& def) const {
  return UsageMapPages(*file_, def.usedMap);
}

uint32_t Database::allocatePage() {
  const uint32_t n = file_->appendPage();
  // Pages past the global map's window are in use by definition.
  UsageMapSet(*file_, kGlobalMap, n, false, [] { return 0u; });
  return n;
}

uint32_t Database::addMapRow(const std::string& row) {
  // Usage-map rows live on data pages owned by no table.
  for (uint32_t p = 1; p < file_->pageCount(); ++p) {
    const uint8_t* pg = file_->page(p);
    if (!IsDataPage(pg) || DataPageOwner(pg) != 0) continue;
    if (size_t(DataPageFreeSpace(pg)) < row.size() + 2) continue;
    const int r = DataPageAddRow(file_->mutablePage(p), row);
    if (r >= 0) return RowPointer(p, uint8_t(r));
  }
  const uint32_t p = allocatePage();
  InitDataPage(file_->mutablePage(p), 0);
  return RowPointer(p, uint8_t(DataPageAddRow(file_->mutablePage(p), row)));
}

uint32_t Database::placeRow(TableDef& def, const std::string& row) {
  if (row.size() > kMaxRowSize) throw JetError(JetErrorCode::RowTooLarge, "Record is too large.");
  auto alloc = [this] { return allocatePage(); };
  if (const uint32_t p = openPage(def.freeMap)) {
    const int r = DataPageAddRow(file_->mutablePage(p), row);
    if (r >= 0) return RowPointer(p, uint8_t(r));
    // Full for this row: later rows go to a fresh page.
    UsageMapSet(*file_, def.freeMap, p, false, alloc);
  }
  const uint32_t p = allocatePage();
  InitDataPage(file_->mutablePage(p), def.page);
  UsageMapSet(*file_, def.usedMap, p, true, alloc);
  UsageMapSet(*file_, def.freeMap, p, true, alloc);
  return RowPointer(p, uint8_t(DataPageAddRow(file_->mutablePage(p), row)));
}

uint32_t Database::storeLongValue(TableDef& def, const ColumnDef& column, std::string_view data,
                                  bool* single) {
  // Long values go to pages marked "LVAL" in place of an owner, listed in
  // the column's own usage maps: one row when the value fits a page, else
  // a chain of rows each starting with the pointer to the next piece.
  const LongValueMaps* maps = nullptr;
  for (const LongValueMaps& m : def.longValueMaps)
    if (m.column == column.number) maps = &m;
  if (!maps)
    throw JetError(JetErrorCode::Unsupported,
                   "Column '" + column.name + "' has no long-value usage map.");
  auto alloc = [this] { return allocatePage(); };
  auto put = [&](std::string_view bytes) {
    if (const uint32_t open = openPage(maps->freeMap)) {
      const int r = DataPageAddRow(file_->mutablePage(open), bytes);
      if (r >= 0) return RowPointer(open, uint8_t(r));
      UsageMapSet(*file_, maps->freeMap, open, false, alloc);
    }
    const uint32_t p = allocatePage();
    InitDataPage(file_->mutablePage(p), 0);
    std::memcpy(file_->mutablePage(p) + 4, "LVAL", 4);
    UsageMapSet(*file_, maps->usedMap, p, true, alloc);
    UsageMapSet(*file_, maps->freeMap, p, true, alloc);
    return RowPointer(p, uint8_t(DataPageAddRow(file_->mutablePage(p), bytes)));
  };
  if (data.size() <= kMaxRowSize) {
    *single = true;
    return put(data);
  }
  *single = false;
  constexpr size_t kPiece = kMaxRowSize - 4;
  std::vector<size_t> starts;
  for (size_t s = 0; s < data.size(); s += kPiece) starts.push_back(s);
  // Written last piece first so each piece can point at the one after it.
  uint32_t next = 0;
  size_t end = data.size();
  for (auto it = starts.rbegin(); it != starts.rend(); ++it) {
    std::string piece(4, '\0');
    Put32(reinterpret_cast<uint8_t*>(piece.data()), next);
    piece.append(data.substr(*it, end - *it));
    end = *it;
    next = put(piece);
  }
  return next;
}

void Database::setRowCount(TableDef& def, uint32_t count) {
  def.rowCount = count;
  uint8_t* p = file_->mutablePage(def.page);
  Put32(p + kTdefRowCountAt, count);
  for (size_t i = 0; i < def.realIndexes.size(); ++i) {
    def.realIndexes[i].rowCount = count;
    Put32(p + RealIndexRowCountAt(i), count);
  }
}

void Database::insert(const std::string& name, const std::vector<Variant>& values) {
  TableDef& def = mutableDef(name);
  const bool system = def.tableType == 0x53;
  if (!system && !def.realIndexes.empty())
    throw JetError(JetErrorCode::Unsupported,
                   "Table '" + name + "' carries index '" +
                       (def.indexes.empty() ? std::string("?") : def.indexes.front().name) +
                       "', which this library does not maintain.");
  const auto cols = def.columnsInRowOrder();
  if (values.size() != cols.size())
    throw JetError(JetErrorCode::BadValue,
                   "Number of query values and destination fields are not the same.");
  std::vector<Variant> coerced;
  coerced.reserve(values.size());
  for (size_t i = 0; i < cols.size(); ++i) coerced.push_back(CoerceToColumn(*cols[i], values[i]));
  const std::string row =
      EncodeRow(def, coerced, [&](const ColumnDef& c, std::string_view d, bool* single) {
        return storeLongValue(def, c, d, single);
      });
  const uint32_t ptr = placeRow(def, row);
  for (auto& [key, map] : lookups_)
    if (key.first == def.page && !coerced[key.second].isNull())
      map.emplace(LookupKey(coerced[key.second]), ptr);
  setRowCount(def, def.rowCount + 1);
  if (system)
    for (size_t i = 0; i < def.realIndexes.size(); ++i) rebuildIndex(def, i);
  writeBehind();
}

int64_t Database::deleteWhere(const std::string& name, size_t column, const Variant& value) {
  TableDef& def = mutableDef(name);
  if (value.isEmpty()) return 0;
  if (def.tableType == 0x53 || !def.realIndexes.empty())
    throw JetError(JetErrorCode::Unsupported,
                   "Rows of table '" + name + "' cannot be deleted by this library.");
  const auto cols = def.columnsInRowOrder();
  if (column >= cols.size()) throw JetError(JetErrorCode::NoSuchColumn, "Unknown field name.");
  const Variant want = CoerceToColumn(*cols[column], value);
  if (want.isNull()) return 0;
  Lookup& rows = lookup(def, column);
  const std::string wanted = want.debugString();
  auto fetch = [this](uint32_t ptr) {
    return DataPageRow(file_->page(PointerPage(ptr)), PointerRow(ptr));
  };
  auto [it, to] = rows.equal_range(LookupKey(want));
  int64_t deleted = 0;
  while (it != to) {
    const uint32_t page = PointerPage(it->second);
    const uint8_t row = PointerRow(it->second);
    // A row deleted through another column's lookup may still be listed.
    if (!DataPageRowLive(file_->page(page), row)) {
      it = rows.erase(it);
      continue;
    }
    // Another value with the same hash stays.
    if (DecodeRow(def, DataPageRow(file_->page(page), row), fetch).at(column).debugString() !=
        wanted) {
      ++it;
      continue;
    }
    DataPageDeleteRow(file_->mutablePage(page), row);
    ++deleted;
    it = rows.erase(it);
  }
  if (deleted) {
    setRowCount(def, def.rowCount - uint32_t(std::min<int64_t>(deleted, def.rowCount)));
    writeBehind();
  }
  return deleted;
}

Database::Lookup& Database::lookup(const TableDef& def, size_t column) {
  auto [it, added] = lookups_.try_emplace({def.page, column});
  if (!added) return it->second;
  auto fetch = [this](uint32_t ptr) {
    return DataPageRow(file_->page(PointerPage(ptr)), PointerRow(ptr));
  };
  for (uint32_t p : ownedPages(def)) {
    const uint8_t* pg = file_->page(p);
    if (!IsDataPage(pg) || DataPageOwner(pg) != def.page) continue;
    for (int r = 0; r < DataPageRowCount(pg); ++r) {
      if (!DataPageRowLive(pg, r)) continue;
      const Variant v = DecodeRow(def, DataPageRow(pg, r), fetch).at(column);
      if (!v.isNull()) it->second.emplace(LookupKey(v), RowPointer(p, uint8_t(r)));
    }
  }
  return it->second;
}

void Database::scan(const std::string& name,
                    const std::function<void(const std::vector<Variant>&)>& visit) const {
  const TableDef& def = table(name);
  auto fetch = [this](uint32_t ptr) {
    return DataPageRow(file_->page(PointerPage(ptr)), PointerRow(ptr));
  };
  for (uint32_t p : ownedPages(def)) {
    const uint8_t* pg = file_->page(p);
    if (!IsDataPage(pg) || DataPageOwner(pg) != def.page) continue;
    for (int r = 0; r < DataPageRowCount(pg); ++r)
      if (DataPageRowLive(pg, r)) visit(DecodeRow(def, DataPageRow(pg, r), fetch));
  }
}

std::vector<std::string> Database::indexEntriesFromRows(const TableDef& def,
                                                        size_t realIndex) const {
  const RealIndexDef& x = def.realIndexes.at(realIndex);
  const auto cols = def.columnsInRowOrder();
  std::vector<std::string> entries;
  auto fetch = [this](uint32_t ptr) {
    return DataPageRow(file_->page(PointerPage(ptr)), PointerRow(ptr));
  };
  for (uint32_t p : ownedPages(def)) {
    const uint8_t* pg = file_->page(p);
    for (int r = 0; r < DataPageRowCount(pg); ++r) {
      if (!DataPageRowLive(pg, r)) continue;
      const std::vector<Variant> row = DecodeRow(def, DataPageRow(pg, r), fetch);
      std::string key;
      for (const auto& k : x.keys) {
        if (k.column == 0xFFFF) continue;
        const Variant& v = row.at(k.column);
        const ColumnDef& c = *cols.at(k.column);
        if (v.isNull()) {
          key.push_back(0);
        } else if (c.type == ColumnType::Long) {
          key += LongIndexKey(int32_t(v.asInt()));
        } else if (c.type == ColumnType::Text) {
          auto codes = GeneralSortKey(v.asString());
          if (!codes)
            throw JetError(
                JetErrorCode::BadValue,
                "The name '" + v.asString() + "' holds a character the catalog index cannot sort.");
          key.push_back(char(0x7F));
          key += *codes;
        } else {
          throw JetError(JetErrorCode::Unsupported,
                         "An index on a column of this type is not maintained.");
        }
      }
      entries.push_back(IndexEntry(key, p, uint8_t(r)));
    }
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

void Database::rebuildIndex(const TableDef& def, size_t realIndex) {
  const std::string page = BuildLeafPage(def.page, indexEntriesFromRows(def, realIndex));
  std::memcpy(file_->mutablePage(def.realIndexes.at(realIndex).firstPage), page.data(), kPageSize);
}

void Database::writeDef(const TableDef& def, const std::vector<uint32_t>& pages) {
  const std::vector<std::string> bytes = EncodeTableDef(def, pages);
  for (size_t k = 0; k < bytes.size(); ++k)
    std::memcpy(file_->mutablePage(pages[k]), bytes[k].data(), kPageSize);
}

void Database::createTable(const std::string& name, const std::vector<ColumnSpec>& columns,
                           DateTime created) {
  if (defs_.count(AsciiLower(name)))
    throw JetError(JetErrorCode::TableExists, "Table '" + name + "' already exists.");
  if (name.empty() || Utf16Length(name) > 64 || !GeneralSortKey(name))
    throw JetError(JetErrorCode::BadValue,
                   "The table name '" + name + "' is not one this library can write.");
  TableDef def = MakeTableDef(columns, false);
  for (const ColumnDef* c : def.columnsInRowOrder())
    if (c->longValue()) def.longValueMaps.push_back(LongValueMaps{c->number, 0, 0});
  const size_t n = TableDefPageCount(def);
  std::vector<uint32_t> pages;
  for (size_t k = 0; k < n; ++k) pages.push_back(allocatePage());
  def.page = pages[0];
  def.usedMap = addMapRow(EmptyInlineMap(def.page));
  def.freeMap = addMapRow(EmptyInlineMap(def.page));
  for (LongValueMaps& m : def.longValueMaps) {
    m.usedMap = addMapRow(EmptyInlineMap(def.page));
    m.freeMap = addMapRow(EmptyInlineMap(def.page));
  }
  writeDef(def, pages);
  defs_.emplace(AsciiLower(name), def);
  AddCatalogRows(*this, name, def.page, created);
  catalog_.push_back(CatalogEntry{name, def.page, 1, 0});
  writeBehind();
}

}  // namespace qz::jet
