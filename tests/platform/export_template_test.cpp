// The export template: the same bytes on every run, password 6391, the
// five tables with the column orders the export addresses, and columns
// wide enough for their source columns.
#include "database/export_template.h"

#include <gtest/gtest.h>
#include <strings.h>

#include <fstream>
#include <iterator>

#include "database/schema.h"
#include "platform/jet/checker.h"
#include "platform/jet/database.h"
#include "tests/platform/jet_test_support.h"

namespace qz::database {
namespace {

namespace t = qz::testing;

std::string ReadAll(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(ExportTemplateTest, IsTheSameFileEveryTimeWithTheFiveTables) {
  const std::string dir = t::MakeTempDir();
  writeExportTemplate(dir + "/a.dat");
  writeExportTemplate(dir + "/b.dat");
  EXPECT_EQ(ReadAll(dir + "/a.dat"), ReadAll(dir + "/b.dat"));
  EXPECT_TRUE(jet::CheckDatabaseFile(dir + "/a.dat", "6391").empty());

  auto db = jet::Database::Open(dir + "/a.dat", "6391", false);
  std::vector<std::string> names;
  for (const jet::CatalogEntry& e : db->tables()) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{"material", "client", "MAccount", "maccitems",
                                             "Mgathering"}));
  const std::vector<std::pair<std::string, std::string>> firstAndLast = {
      {"material", "id mType"},
      {"client", "type pym"},
      {"MAccount", "num cltname"},
      {"maccitems", "bnum exchange"},
      {"Mgathering", "inum worker"}};
  const std::vector<size_t> widths = {20, 13, 14, 23, 8};
  for (size_t i = 0; i < names.size(); ++i) {
    const auto cols = db->table(names[i]).columnsInRowOrder();
    ASSERT_EQ(cols.size(), widths[i]) << names[i];
    EXPECT_EQ(cols.front()->name + " " + cols.back()->name, firstAndLast[i].second);
  }
  EXPECT_EQ(db->table("maccitems").columnsInRowOrder()[17]->name, "iinum");

  if (t::HaveMdbTools()) {
    EXPECT_EQ(t::RunCommand("mdb-tables -1 " + t::ShellQuote(dir + "/a.dat")).out,
              "material\nclient\nMAccount\nmaccitems\nMgathering\n");
  }
  if (t::HaveMdbReader()) {
    EXPECT_STREQ(t::MdbReaderRead(dir + "/a.dat", "6391")["password"].GetString(), "6391");
  }
  t::RemoveTree(dir);
}

TEST(ExportTemplateTest, TextColumnsHoldTheirSourceColumns) {
  const struct {
    const char* table;
    const char* source;
  } pairs[] = {{"material", "material"},
               {"client", "client"},
               {"MAccount", "Maccount"},
               {"maccitems", "MAccItems"},
               {"Mgathering", "gathering"}};
  for (const auto& p : pairs) {
    const TableDef* src = findTable(p.source);
    ASSERT_NE(src, nullptr);
    for (const ExportTable& t : exportTemplateTables()) {
      if (t.name != p.table) continue;
      for (const jet::ColumnSpec& c : t.columns)
        for (const ColumnDef& s : src->columns)
          if (strcasecmp(s.name, c.name.c_str()) == 0 && s.type == ColType::Str) {
            EXPECT_GE(c.length, s.size) << p.table << "." << c.name;
          }
    }
  }
}

}  // namespace
}  // namespace qz::database
