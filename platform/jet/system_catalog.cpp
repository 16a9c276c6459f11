// System tables of a new database and catalog rows of new tables.
#include "platform/jet/system_catalog.h"

#include <unistd.h>

#include <bit>
#include <cstring>

#include "platform/core/ascii.h"
#include "platform/jet/bytes.h"
#include "platform/jet/data_page.h"
#include "platform/jet/database.h"
#include "platform/jet/header_page.h"
#include "platform/jet/index_leaf.h"
#include "platform/jet/jet_error.h"
#include "platform/jet/row_codec.h"
#include "platform/jet/table_layout.h"
#include "platform/jet/usage_map.h"

namespace qz::jet {

using T = ColumnType;

// Object ids of the catalog containers and of the database object.
constexpr int32_t kTablesContainer = 0x0F000001;
constexpr int32_t kRootContainer = 0x0F000000;
constexpr int32_t kDatabasesContainer = 0x0F000002;
constexpr int32_t kRelationshipsContainer = 0x0F000003;
constexpr int32_t kMSysDbId = 0x10000000;
constexpr int32_t kSystemObjectFlags = int32_t(0x80000000u);
constexpr int32_t kFullAccess = 0xFFFFF;

// User ids as they appear in the Jet-made file (see NOTICE).
const std::string kOwnerAdmin("\x65\x89", 2);  // owner of containers and system tables
const std::string kOwnerDb("\x64\x8B", 2);     // owner of MSysDb, and of new tables
const std::string kSidCreator("\x65\x8E", 2);
const std::string kSidAdmins("\x64\x8B", 2);
const std::string kSidUsers("\x65\x8B", 2);

// The catalog's creation and update time in that file.
const double kCatalogDate = std::bit_cast<double>(0x40E4AB3E3BD3FB4Eull);

struct SystemTable {
  const char* name;
  uint32_t page;
  std::vector<ColumnSpec> columns;
  std::vector<uint16_t> ownerIdColumns;  // Binary columns holding user ids
  struct Index {
    const char* name;
    std::vector<uint16_t> keys;
    uint32_t leafPage;
    uint8_t flags;
    uint8_t type;
  };
  std::vector<Index> indexes;  // in real-index order
};

const std::vector<SystemTable>& SystemTables() {
  static const std::vector<SystemTable> tables = {
      {"MSysObjects",
       2,
       {{"Id", T::Long},
        {"ParentId", T::Long},
        {"Name", T::Text, 255},
        {"Type", T::Integer},
        {"DateCreate", T::DateTime},
        {"DateUpdate", T::DateTime},
        {"Owner", T::Binary},
        {"Flags", T::Long},
        {"Database", T::Memo},
        {"Connect", T::Memo},
        {"ForeignName", T::Text, 255},
        {"RmtInfoShort", T::Binary},
        {"RmtInfoLong", T::Ole},
        {"Lv", T::Ole},
        {"LvProp", T::Ole},
        {"LvModule", T::Ole},
        {"LvExtra", T::Ole}},
       {6},
       {{"ParentIdName", {1, 2}, 7, 0x81, 0}, {"Id", {0}, 8, 0x81, 1}}},
      {"MSysACEs",
       3,
       {{"ObjectId", T::Long}, {"SID", T::Binary}, {"ACM", T::Long}, {"FInheritable", T::Boolean}},
       {1},
       {{"ObjectId", {0}, 9, 0x88, 0}}},
      {"MSysQueries",
       4,
       {{"ObjectId", T::Long},
        {"Attribute", T::Byte},
        {"Order", T::Binary},
        {"Name1", T::Text, 255},
        {"Name2", T::Text, 255},
        {"Expression", T::Memo},
        {"Flag", T::Integer},
        {"LvExtra", T::Long}},
       {},
       {{"ObjectIdAttribute", {0, 1, 2}, 10, 0x81, 1}}},
      {"MSysRelationships",
       5,
       {{"szRelationship", T::Text, 255},
        {"grbit", T::Long},
        {"ccolumn", T::Long},
        {"icolumn", T::Long},
        {"szObject", T::Text, 255},
        {"szColumn", T::Text, 255},
        {"szReferencedObject", T::Text, 255},
        {"szReferencedColumn", T::Text, 255}},
       {},
       {{"szRelationship", {0}, 11, 0x82, 0},
        {"szObject", {4}, 12, 0x82, 0},
        {"szReferencedObject", {6}, 13, 0x82, 0}}},
  };
  return tables;
}

class DatabaseBuilder {
 public:
  static void Write(Database& db, const std::string& password) {
    PageFile& f = *db.file_;
    for (int i = 0; i < 14; ++i) f.appendPage();
    const std::string header = MakeHeaderPage(password, kTemplateCreationDate);
    std::memcpy(f.mutablePage(0), header.data(), kPageSize);
    db.header_ = ReadHeaderPage(f.page(0));

    // Page 1: the global usage map (row 0, a set bit = free page) and an
    // empty second row, as the engine writes them.
    uint8_t* g = f.mutablePage(1);
    InitDataPage(g, 1);
    std::string global = EmptyInlineMap(0);
    for (size_t i = 5; i < global.size(); ++i) global[i] = char(0xFF);
    DataPageAddRow(g, global);
    DataPageAddRow(g, std::string(kInlineMapRowSize, '\0'));
    for (uint32_t p = 0; p < 14; ++p) UsageMapSet(f, RowPointer(1, 0), p, false, [] { return 0u; });

    // Page 6: the usage maps of the system tables, their long-value
    // columns and their indexes, in the engine's order.
    InitDataPage(f.mutablePage(6), 0);
    auto mapRow = [&](std::initializer_list<uint32_t> pages) {
      std::string row = EmptyInlineMap(0);
      for (uint32_t p : pages) row[5 + p / 8] = char(row[5 + p / 8] | (1 << (p % 8)));
      return RowPointer(6, uint8_t(DataPageAddRow(f.mutablePage(6), row)));
    };
    for (const SystemTable& st : SystemTables()) {
      TableDef def = MakeTableDef(st.columns, true);
      def.page = st.page;
      for (ColumnDef& c : def.columns)
        for (uint16_t oc : st.ownerIdColumns)
          if (c.number == oc) c.flags |= 0x20;
      def.usedMap = mapRow({});
      def.freeMap = mapRow({});
      for (const ColumnDef* c : def.columnsInRowOrder())
        if (c->longValue()) {
          const uint32_t used = mapRow({});
          def.longValueMaps.push_back(LongValueMaps{c->number, used, mapRow({})});
        }
      // The tail lists the long-value columns in the stored column order.
      std::vector<LongValueMaps> ordered;
      for (const ColumnDef& c : def.columns)
        for (const LongValueMaps& m : def.longValueMaps)
          if (m.column == c.number) ordered.push_back(m);
      def.longValueMaps = ordered;
      for (size_t i = 0; i < st.indexes.size(); ++i) {
        const auto& x = st.indexes[i];
        RealIndexDef r;
        for (size_t k = 0; k < x.keys.size(); ++k) r.keys[k] = {x.keys[k], 0x01};
        r.usageMap = mapRow({x.leafPage});
        r.firstPage = x.leafPage;
        r.flags = x.flags;
        def.realIndexes.push_back(r);
        LogicalIndexDef l;
        l.name = x.name;
        l.number = uint32_t(i);
        l.realIndex = uint32_t(i);
        l.indexType = x.type;
        def.indexes.push_back(l);
      }
      std::stable_sort(
          def.indexes.begin(), def.indexes.end(),
          [](const LogicalIndexDef& a, const LogicalIndexDef& b) { return a.name < b.name; });
      db.writeDef(def, {st.page});
      db.defs_.emplace(AsciiLower(st.name), def);
      for (const auto& x : st.indexes) {
        const std::string leaf = BuildLeafPage(st.page, {});
        std::memcpy(f.mutablePage(x.leafPage), leaf.data(), kPageSize);
      }
    }

    const Variant date(FromJetDate(kCatalogDate));
    auto object = [&](int32_t id, int32_t parent, const char* name, int16_t type,
                      const std::string& owner) {
      std::vector<Variant> row(17, Variant::null());
      row[0] = id;
      row[1] = parent;
      row[2] = name;
      row[3] = type;
      row[4] = date;
      row[5] = date;
      row[6] = Variant::bytes(owner);
      row[7] = kSystemObjectFlags;
      db.insert("MSysObjects", row);
    };
    object(kTablesContainer, kRootContainer, "Tables", 3, kOwnerAdmin);
    object(kDatabasesContainer, kRootContainer, "Databases", 3, kOwnerAdmin);
    object(kRelationshipsContainer, kRootContainer, "Relationships", 3, kOwnerAdmin);
    object(kMSysDbId, kDatabasesContainer, "MSysDb", 2, kOwnerDb);
    for (const SystemTable& st : SystemTables())
      object(int32_t(st.page), kTablesContainer, st.name, 1, kOwnerAdmin);

    struct Ace {
      int32_t object;
      const std::string& sid;
      int32_t acm;
      bool inheritable;
    };
    const Ace aces[] = {
        {2, kSidAdmins, 393216, false},
        {3, kSidAdmins, 393216, false},
        {4, kSidAdmins, 393216, false},
        {5, kSidAdmins, 917504, false},
        {kTablesContainer, kSidCreator, 983294, true},
        {kTablesContainer, kSidAdmins, 393217, false},
        {kRelationshipsContainer, kSidCreator, 983294, true},
        {kRelationshipsContainer, kSidAdmins, 393217, false},
        {kDatabasesContainer, kSidAdmins, 393216, false},
        {kMSysDbId, kSidAdmins, 393230, false},
        {kMSysDbId, kSidUsers, 14, false},
        {4, kSidUsers, 20, false},
        {5, kSidUsers, 20, false},
        {2, kSidUsers, 20, false},
        {kTablesContainer, kSidUsers, 1048319, true},
        {kRelationshipsContainer, kSidUsers, 1048575, true},
    };
    for (const Ace& a : aces)
      db.insert("MSysACEs",
                {Variant(a.object), Variant::bytes(a.sid), Variant(a.acm), Variant(a.inheritable)});
    db.loadCatalog();
  }

  static void AddRows(Database& db, const std::string& name, uint32_t tdefPage, DateTime created) {
    // The new table's owner is the database object's owner, and it gets
    // full access for every user id that holds rights on the Tables
    // container.
    std::string owner = kOwnerDb;
    std::vector<std::string> sids;
    db.scan("MSysObjects", [&](const std::vector<Variant>& row) {
      if (!row[0].isNull() && row[0].asInt() == kMSysDbId && !row[6].isNull())
        owner = row[6].asString();
    });
    db.scan("MSysACEs", [&](const std::vector<Variant>& row) {
      if (row[0].isNull() || row[0].asInt() != kTablesContainer || row[1].isNull()) return;
      for (const std::string& s : sids)
        if (s == row[1].asString()) return;
      sids.push_back(row[1].asString());
    });
    std::vector<Variant> row(17, Variant::null());
    row[0] = int32_t(tdefPage);
    row[1] = kTablesContainer;
    row[2] = name;
    row[3] = int16_t(1);
    row[4] = created;
    row[5] = created;
    row[6] = Variant::bytes(owner);
    row[7] = int32_t(0);
    db.insert("MSysObjects", row);
    for (const std::string& sid : sids)
      db.insert("MSysACEs", {Variant(int32_t(tdefPage)), Variant::bytes(sid), Variant(kFullAccess),
                             Variant(false)});
  }
};

void WriteSystemTables(Database& db, const std::string& password) {
  DatabaseBuilder::Write(db, password);
}

void AddCatalogRows(Database& db, const std::string& name, uint32_t tdefPage, DateTime created) {
  DatabaseBuilder::AddRows(db, name, tdefPage, created);
}

std::unique_ptr<Database> Database::Create(const std::string& path, const std::string& password) {
  std::unique_ptr<Database> db(new Database);
  db->file_ = PageFile::Create(path);
  try {
    WriteSystemTables(*db, password);
    db->file_->flush();
  } catch (...) {
    db->file_.reset();
    ::unlink(path.c_str());
    throw;
  }
  return db;
}

}  // namespace qz::jet
