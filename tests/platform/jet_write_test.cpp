// Files written by the Jet file library: the layout of a new database
// against the Jet-made one, rows of every column type read back by our
// reader, mdbtools and mdb-reader, growth past one inline usage map,
// deletes, the database password, and values refused by their column.
// Every written file also passes the structural checker.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/jet/checker.h"
#include "platform/jet/data_page.h"
#include "platform/jet/database.h"
#include "platform/jet/jet_error.h"
#include "platform/jet/row_codec.h"
#include "platform/jet/table_def.h"
#include "platform/jet/usage_map.h"
#include "tests/platform/jet_test_support.h"

namespace qz::jet {
namespace {

namespace t = qz::testing;
using CT = ColumnType;

class JetWriteTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = t::MakeTempDir(); }
  void TearDown() override { t::RemoveTree(dir_); }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  static void ExpectSound(const std::string& file, const std::string& password) {
    const std::vector<std::string> problems = CheckDatabaseFile(file, password);
    for (const std::string& p : problems) ADD_FAILURE() << file << ": " << p;
  }
  static std::string ReadAll(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  std::string dir_;
};

const DateTime kCreated = DateTime::fromParts(2024, 3, 1, 8, 30);

const std::vector<ColumnSpec> kAllTypes = {
    {"l", CT::Long},        {"i", CT::Integer},  {"b", CT::Byte},     {"d", CT::Double},
    {"s", CT::Single},      {"c", CT::Currency}, {"t", CT::DateTime}, {"yes", CT::Boolean},
    {"name", CT::Text, 20}, {"note", CT::Memo}};

TEST_F(JetWriteTest, NewDatabaseHasTheLayoutOfTheJetMadeFile) {
  if (t::JetSamplesDir().empty())
    GTEST_SKIP() << "JET SAMPLE FILES NOT FOUND (../shared/jet-samples): skipped";
  Database::Create(path("new.mdb"), "");
  const std::string ours = ReadAll(path("new.mdb"));
  const std::string jet = ReadAll(t::JetSamplesDir() + "/adox_jet4.mdb");
  ASSERT_EQ(ours.size(), jet.size());
  // Pages 2-4 differ only in bytes Jet leaves uninitialised and in the
  // index row count of MSysACEs, which Jet leaves stale; compare them decoded.
  for (uint32_t p : {0u, 1u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 15u})
    EXPECT_EQ(ours.substr(p * kPageSize, kPageSize), jet.substr(p * kPageSize, kPageSize))
        << "page " << p;
  auto a = Database::Open(path("new.mdb"), "", false);
  auto b = Database::Open(t::JetSamplesDir() + "/adox_jet4.mdb", "", false);
  for (const CatalogEntry& e : b->tables(true)) {
    const TableDef& x = a->table(e.name);
    const TableDef& y = b->table(e.name);
    ASSERT_EQ(x.columns.size(), y.columns.size()) << e.name;
    for (size_t i = 0; i < x.columns.size(); ++i) {
      const ColumnDef &p = x.columns[i], &q = y.columns[i];
      EXPECT_TRUE(p.name == q.name && p.type == q.type && p.number == q.number &&
                  p.varIndex == q.varIndex && p.flags == q.flags && p.length == q.length &&
                  (!p.fixed() || p.fixedOffset == q.fixedOffset))
          << e.name << "." << q.name;
    }
    ASSERT_EQ(x.realIndexes.size(), y.realIndexes.size());
    for (size_t i = 0; i < x.realIndexes.size(); ++i) {
      EXPECT_EQ(x.realIndexes[i].keyCount(), y.realIndexes[i].keyCount());
      EXPECT_EQ(x.realIndexes[i].firstPage, y.realIndexes[i].firstPage);
      EXPECT_EQ(x.realIndexes[i].usageMap, y.realIndexes[i].usageMap);
      EXPECT_EQ(x.realIndexes[i].flags, y.realIndexes[i].flags);
    }
    ASSERT_EQ(x.indexes.size(), y.indexes.size());
    for (size_t i = 0; i < x.indexes.size(); ++i)
      EXPECT_TRUE(x.indexes[i].name == y.indexes[i].name &&
                  x.indexes[i].realIndex == y.indexes[i].realIndex &&
                  x.indexes[i].indexType == y.indexes[i].indexType);
    EXPECT_EQ(x.usedMap, y.usedMap);
    EXPECT_EQ(x.freeMap, y.freeMap);
    EXPECT_EQ(x.longValueMaps.size(), y.longValueMaps.size());
  }
  ExpectSound(path("new.mdb"), "");
}

TEST_F(JetWriteTest, RowsOfEveryTypeReadBackInAllReaders) {
  const std::string file = path("types.mdb");
  {
    auto db = Database::Create(file, "6391");
    db->createTable("Types", kAllTypes, kCreated);
    const std::string longMemo(5000, 'm');  // stored on a long-value page chain
    const std::vector<std::vector<Variant>> rows = {
        {int32_t(-2147483647), int16_t(-32768), int16_t(255), 1.5e300, 0.25, Currency{-123456789},
         DateTime::fromParts(2002, 12, 21, 23, 59, 59), true, "客户'名称", "备注 with ascii"},
        {Variant::null(), Variant::null(), Variant::null(), Variant::null(), Variant::null(),
         Variant::null(), Variant::null(), false, Variant::null(), Variant::null()},
        {"42", "7", 3.0, "2.5", int32_t(1), "12.3456", "1899-12-30", int32_t(1),
         std::string(20, 'A'), longMemo},
        {int32_t(0), int16_t(0), int16_t(0), 0.0, 0.0, Currency{0}, DateTime::fromParts(1970, 1, 1),
         false, "", std::string(3000, 'x') + "中"},
    };
    for (const auto& r : rows) db->insert("Types", r);
  }
  ExpectSound(file, "6391");

  std::vector<std::vector<Variant>> ours;
  Database::Open(file, "6391", false)->scan("Types", [&](const std::vector<Variant>& r) {
    ours.push_back(r);
  });
  ASSERT_EQ(ours.size(), 4u);
  EXPECT_EQ(ours[0][0], Variant(int32_t(-2147483647)));
  EXPECT_EQ(ours[0][5], Variant(Currency{-123456789}));
  EXPECT_EQ(ours[0][6], Variant(DateTime::fromParts(2002, 12, 21, 23, 59, 59)));
  EXPECT_EQ(ours[0][8], Variant("客户'名称"));
  EXPECT_TRUE(ours[1][0].isNull() && ours[1][8].isNull() && ours[1][9].isNull());
  EXPECT_EQ(ours[1][7], Variant(false));
  EXPECT_EQ(ours[2][0], Variant(int32_t(42)));
  EXPECT_EQ(ours[2][3], Variant(2.5));
  EXPECT_EQ(ours[2][9], Variant(std::string(5000, 'm')));
  EXPECT_EQ(ours[3][9], Variant(std::string(3000, 'x') + "中"));

  if (t::HaveMdbTools()) {
    EXPECT_EQ(t::RunCommand("mdb-ver " + t::ShellQuote(file)).out, "JET4\n");
    EXPECT_EQ(t::RunCommand("mdb-tables -1 " + t::ShellQuote(file)).out, "Types\n");
    const std::string schema = t::RunCommand("mdb-schema " + t::ShellQuote(file) + " access").out;
    for (const char* decl :
         {"[l]\t\t\tLong Integer", "[i]\t\t\tInteger", "[b]\t\t\tByte", "[d]\t\t\tDouble",
          "[s]\t\t\tSingle", "[c]\t\t\tCurrency", "[t]\t\t\tDateTime", "[yes]\t\t\tBoolean",
          "[name]\t\t\tText (20)", "[note]\t\t\tMemo/Hyperlink"})
      EXPECT_NE(schema.find(decl), std::string::npos) << decl << "\n" << schema;
    const auto theirs = t::MdbJsonRows(file, "Types");
    ASSERT_EQ(theirs.size(), ours.size());
    for (size_t r = 0; r < ours.size(); ++r)
      for (size_t c = 0; c < kAllTypes.size(); ++c) {
        const auto it = theirs[r].find(kAllTypes[c].name);
        const auto mine = t::RenderLikeMdbJson(ours[r][c]);
        if (it == theirs[r].end()) {
          EXPECT_FALSE(mine) << kAllTypes[c].name << " row " << r;
        } else {
          EXPECT_EQ(mine.value_or("<null>"), it->second) << kAllTypes[c].name << " row " << r;
        }
      }
  } else {
    std::printf("MDBTOOLS NOT INSTALLED: mdbtools checks skipped\n");
  }
  if (t::HaveMdbReader()) {
    const rapidjson::Document d = t::MdbReaderRead(file, "6391");
    EXPECT_STREQ(d["password"].GetString(), "6391");
    const auto& kinds = d["tables"]["Types"];
    EXPECT_EQ(kinds["rowCount"].GetInt(), 4);
    const auto& r0 = kinds["rows"][0];
    EXPECT_EQ(r0[0].GetInt(), -2147483647);
    EXPECT_STREQ(r0[5].GetString(), "-12345.6789");
    EXPECT_STREQ(r0[8].GetString(), "客户'名称");
    EXPECT_TRUE(r0[7].GetBool());
    EXPECT_TRUE(kinds["rows"][1][0].IsNull());
    EXPECT_EQ(kinds["rows"][2][9].GetStringLength(), 5000u);
    EXPECT_STREQ(kinds["rows"][3][8].GetString(), "") << "an empty text is not a null";
  } else {
    std::printf("MDB-READER NOT INSTALLED (tests/jet_readers): mdb-reader checks skipped\n");
  }
}

TEST_F(JetWriteTest, TableGrownPast512PagesReadsBackWhole) {
  const std::string file = path("big.mdb");
  constexpr int kRows = 12000;  // 18 rows a page: some 670 data pages
  {
    auto db = Database::Create(file, "");
    db->createTable("big", {{"n", CT::Long}, {"pad", CT::Text, 200}}, kCreated);
    for (int i = 0; i < kRows; ++i)
      db->insert("big", {int32_t(i), std::string(200, char('a' + i % 26))});
    const TableDef& def = db->table("big");
    EXPECT_GT(db->ownedPages(def).size(), 512u);
    EXPECT_EQ(DataPageRow(db->file().page(PointerPage(def.usedMap)), PointerRow(def.usedMap))[0], 1)
        << "the owned-pages map should have become a reference map";
  }
  ExpectSound(file, "");
  int64_t sum = 0, count = 0;
  Database::Open(file, "", false)->scan("big", [&](const std::vector<Variant>& r) {
    sum += r[0].asInt();
    ++count;
  });
  EXPECT_EQ(count, kRows);
  EXPECT_EQ(sum, int64_t(kRows) * (kRows - 1) / 2);
  if (t::HaveMdbTools()) {
    EXPECT_EQ(t::RunCommand("mdb-count " + t::ShellQuote(file) + " big").out,
              std::to_string(kRows) + "\n");
    EXPECT_EQ(t::MdbJsonRows(file, "big").size(), size_t(kRows));
  }
  if (t::HaveMdbReader()) {
    const rapidjson::Document d = t::MdbReaderRead(file, "");
    EXPECT_EQ(d["tables"]["big"]["rowCount"].GetInt(), kRows);
    EXPECT_EQ(d["tables"]["big"]["rows"].Size(), rapidjson::SizeType(kRows));
  }
}

TEST_F(JetWriteTest, DeletedRowsLeaveCountsAndMapsConsistent) {
  const std::string file = path("del.mdb");
  {
    auto db = Database::Create(file, "");
    db->createTable("items", {{"iinum", CT::Long}, {"what", CT::Text, 10}}, kCreated);
    for (int i = 0; i < 300; ++i) db->insert("items", {int32_t(i % 100), "x" + std::to_string(i)});
    EXPECT_EQ(db->deleteWhere("items", 0, int32_t(7)), 3);
    EXPECT_EQ(db->deleteWhere("items", 0, "8"), 3);  // the value is converted to the column's type
    EXPECT_EQ(db->deleteWhere("items", 0, int32_t(1000)), 0);
    EXPECT_EQ(db->deleteWhere("items", 0, Variant::null()), 0);
    EXPECT_EQ(db->table("items").rowCount, 294u);
  }
  ExpectSound(file, "");
  if (t::HaveMdbTools()) {
    EXPECT_EQ(t::RunCommand("mdb-count " + t::ShellQuote(file) + " items").out, "294\n");
    EXPECT_EQ(t::MdbJsonRows(file, "items").size(), 294u);
  }
  if (t::HaveMdbReader()) {
    EXPECT_EQ(t::MdbReaderRead(file, "")["tables"]["items"]["rows"].Size(), 294u);
  }
}

TEST(JetDataPageTest, OffsetsThatLeaveThePageAreDamageNotReadsPastIt) {
  // A page buffer of exactly one page, so a read past it is caught by the
  // sanitizers.
  std::vector<uint8_t> page(4096);
  InitDataPage(page.data(), 2);
  ASSERT_EQ(DataPageAddRow(page.data(), "first"), 0);
  ASSERT_EQ(DataPageAddRow(page.data(), "second"), 1);
  EXPECT_EQ(DataPageRow(page.data(), 1), "second");
  // Offsets have 13 bits: row 0 said to start at 6000 makes row 1 end there.
  page[14] = 6000 & 0xFF;
  page[15] = 6000 >> 8;
  EXPECT_THROW(DataPageRow(page.data(), 1), JetError);
  EXPECT_THROW(DataPageRow(page.data(), 0), JetError);
  // A row count far beyond the page's offset table.
  page[12] = 0xFF;
  page[13] = 0x7F;
  EXPECT_THROW(DataPageRowLive(page.data(), 3000), JetError);
}

TEST_F(JetWriteTest, PasswordIsMaskedInTheHeaderAndChecked) {
  const std::string file = path("pw.mdb");
  Database::Create(file, "6391");
  EXPECT_EQ(ReadAll(file).find(std::string("6\0003\0009\0001\0", 8)), std::string::npos)
      << "password in clear";
  EXPECT_EQ(Database::Open(file, "6391", false)->header().password, "6391");
  EXPECT_EQ(Database::Open(file, "6391", false)->header().databaseKey, 0u);
  for (const char* wrong : {"", "639", "63910"}) {
    try {
      Database::Open(file, wrong, false);
      ADD_FAILURE() << "opened with '" << wrong << "'";
    } catch (const JetError& e) {
      EXPECT_STREQ(e.what(), "Not a valid password.");
    }
  }
  if (t::HaveMdbReader()) {
    const rapidjson::Document d = t::MdbReaderRead(file, "6391");
    EXPECT_STREQ(d["password"].GetString(), "6391");
    EXPECT_STREQ(d["creationDate"].GetString(), "2015-11-21T22:40:30.980Z");
  }
}

TEST_F(JetWriteTest, ValuesThatDoNotFitTheirColumnAreRefusedWithJetTexts) {
  const std::string file = path("bad.mdb");
  auto db = Database::Create(file, "");
  db->createTable("T", {{"code", CT::Text, 3}, {"small", CT::Integer}, {"n", CT::Long}}, kCreated);
  const struct {
    std::vector<Variant> row;
    const char* text;
  } cases[] = {
      {{"abcd", Variant::null(), Variant::null()},
       "The field is too small to accept the amount of data you attempted to add. Try inserting or "
       "pasting less data."},
      {{"中文字", int32_t(70000), Variant::null()}, "Overflow"},
      {{Variant::null(), Variant::null(), "abc"}, "Data type mismatch in criteria expression."},
      {{Variant::null(), Variant::null()},
       "Number of query values and destination fields are not the same."},
  };
  for (const auto& c : cases) {
    try {
      db->insert("T", c.row);
      ADD_FAILURE() << "inserted: " << c.text;
    } catch (const JetError& e) {
      EXPECT_STREQ(e.what(), c.text);
    }
  }
  db->insert("T", {"中文字", int16_t(1), int32_t(2)});
  EXPECT_EQ(db->table("T").rowCount, 1u);
  db.reset();
  ExpectSound(file, "");
}

TEST_F(JetWriteTest, CreateWhereTheFileCannotBeWrittenLeavesNothing) {
  EXPECT_THROW(Database::Create(path("no/such/folder/x.mdb"), ""), JetError);
  try {
    Database::Create(path("long.mdb"), std::string(21, 'p'));
    ADD_FAILURE() << "a 21-character password was accepted";
  } catch (const JetError& e) {
    EXPECT_EQ(e.code(), JetErrorCode::BadValue);
  }
  EXPECT_NE(::access(path("long.mdb").c_str(), F_OK), 0) << "a half-created file stayed";
}

}  // namespace
}  // namespace qz::jet
