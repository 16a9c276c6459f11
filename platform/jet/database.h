// A Jet 4 database file (.mdb): create one, open one with its database
// password, create tables, add, delete and read rows.
//
// Every change takes effect at once for this object (there are no
// transactions): an insert that fails leaves the rows before it in place.
// Changed pages are kept in memory and written out together (write-behind):
// when a call leaves more than kWriteBehindPages changed pages or the last
// write-out is kWriteBehindDelay old, at flush(), and when the object is
// destroyed. So a file read by another object or program lags this one by
// at most that much until flush() or the end of this object. Pages are only
// ever added at the end of the file; deleted rows keep their bytes until
// the file is compacted by Access.
//
// What is written follows the layout of files made by the Jet engine
// itself: the four system tables with their catalog rows, access-control
// rows and catalog indexes, user tables without indexes, Text, Memo and
// fixed-size columns. User tables that carry indexes can be read but not
// written (the library does not maintain their B-trees).
//
// Thread-safety: one thread at a time per object; two objects must not
// write the same file.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/core/variant.h"
#include "platform/jet/header_page.h"
#include "platform/jet/page_file.h"
#include "platform/jet/table_def.h"

namespace qz::jet {

struct ColumnSpec {
  std::string name;
  ColumnType type = ColumnType::Long;
  int length = 0;  // Text: characters (1-255); ignored otherwise
};

// One table as the catalog names it.
struct CatalogEntry {
  std::string name;
  uint32_t id = 0;  // the first TDEF page
  int32_t type = 0;
  uint32_t flags = 0;
  bool system() const { return (flags & 0x80000002u) != 0; }
};

class Database {
 public:
  static constexpr size_t kWriteBehindPages = 256;
  static constexpr std::chrono::milliseconds kWriteBehindDelay{1000};

  // Writes out what is still pending, ignoring a failure (call flush()
  // first to see it).
  ~Database();

  // Creates (or truncates) path as an empty database holding the four
  // system tables. Throws JetError(Io) when the file cannot be written;
  // the half-written file is then removed.
  static std::unique_ptr<Database> Create(const std::string& path, const std::string& password);
  // Opens path. A database with a password needs that password exactly;
  // anything else throws JetError(BadPassword, "Not a valid password.").
  // Throws JetError(NotJet4) for a file that is no Jet 4 database.
  static std::unique_ptr<Database> Open(const std::string& path, const std::string& password,
                                        bool writable);

  const HeaderInfo& header() const { return header_; }
  const PageFile& file() const { return *file_; }

  // The catalog's tables (user tables unless withSystem).
  std::vector<CatalogEntry> tables(bool withSystem = false) const;
  // The definition of a table (name without regard to ASCII case).
  // Throws JetError(NoSuchTable) with the Jet text.
  const TableDef& table(const std::string& name) const;
  // The index of a column in row order; throws JetError(NoSuchColumn).
  size_t columnIndex(const TableDef& def, const std::string& column) const;

  // Adds a user table. created is its creation time in the catalog.
  // Throws JetError(TableExists), JetError(BadValue) for a bad column list
  // or a name the catalog index cannot sort.
  void createTable(const std::string& name, const std::vector<ColumnSpec>& columns,
                   DateTime created);
  // Adds one row; values in row order, converted to the column types
  // (CoerceToColumn). Throws JetError(BadValue, RowTooLarge, Unsupported).
  void insert(const std::string& table, const std::vector<Variant>& values);
  // Deletes the rows where the column equals value (Null matches
  // nothing). Returns the number deleted.
  int64_t deleteWhere(const std::string& table, size_t column, const Variant& value);
  // Calls visit for every live row, values in row order.
  void scan(const std::string& table,
            const std::function<void(const std::vector<Variant>&)>& visit) const;

  // Writes every changed page to the file. Throws JetError(Io); the
  // changes then stay pending.
  void flush();

  // The data pages a table owns according to its usage map.
  std::vector<uint32_t> ownedPages(const TableDef& def) const;
  // The entries a catalog index must hold for the table's live rows,
  // sorted. Throws JetError(Unsupported) for a key type it cannot build.
  std::vector<std::string> indexEntriesFromRows(const TableDef& def, size_t realIndex) const;

 private:
  Database() = default;
  void loadCatalog();
  TableDef readDef(uint32_t page) const;
  TableDef& mutableDef(const std::string& name);
  uint32_t allocatePage();
  uint32_t addMapRow(const std::string& row);
  // Adds a row to a table's pages; returns its row pointer.
  uint32_t placeRow(TableDef& def, const std::string& row);
  uint32_t storeLongValue(TableDef& def, const ColumnDef& column, std::string_view data,
                          bool* single);
  void setRowCount(TableDef& def, uint32_t count);
  // A page with room listed in a free-space map, or 0 for none.
  uint32_t openPage(uint32_t freeMap);
  // The end of a changing call: writes out when enough is pending.
  void writeBehind();
  void rebuildIndex(const TableDef& def, size_t realIndex);
  void writeDef(const TableDef& def, const std::vector<uint32_t>& pages);
  std::vector<uint32_t> defPages(uint32_t first) const;
  std::string fetchRow(uint32_t ptr) const;

  // Row pointers by value of one column, built on the first delete by that
  // column and kept up to date by inserts and deletes, so that a delete
  // before every insert does not read the whole table each time.
  // Keyed by a hash of the value: a row found is checked against the value.
  using Lookup = std::unordered_multimap<uint64_t, uint32_t>;
  Lookup& lookup(const TableDef& def, size_t column);
  static uint64_t LookupKey(const Variant& v) { return std::hash<std::string>{}(v.debugString()); }

  std::unique_ptr<PageFile> file_;
  HeaderInfo header_;
  std::map<std::pair<uint32_t, size_t>, Lookup> lookups_;  // (TDEF page, column)
  std::map<std::string, TableDef> defs_;                   // by lower-case name
  // The page each free-space map gave last, checked against the map before
  // use, so an insert does not scan the whole map.
  std::unordered_map<uint32_t, uint32_t> openPages_;
  std::chrono::steady_clock::time_point lastWrite_ = std::chrono::steady_clock::now();
  std::vector<CatalogEntry> catalog_;
  friend class DatabaseBuilder;
};

}  // namespace qz::jet
