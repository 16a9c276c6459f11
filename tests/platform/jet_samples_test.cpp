// The Jet file reader on files made by Jet and Access themselves: every
// value compared with what mdbtools prints, database passwords decoded and
// checked, files that are no Jet 4 database refused.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/jet/database.h"
#include "platform/jet/jet_error.h"
#include "platform/jet/row_codec.h"
#include "tests/platform/jet_test_support.h"

namespace qz::jet {
namespace {

using qz::testing::JetSamplesDir;

std::string Sample(const std::string& name) {
  const std::string dir = JetSamplesDir();
  return dir.empty() ? "" : dir + "/" + name;
}

#define REQUIRE_SAMPLES()      \
  if (JetSamplesDir().empty()) \
  GTEST_SKIP() << "JET SAMPLE FILES NOT FOUND (../shared/jet-samples): skipped"

TEST(JetSamplesTest, EveryValueMatchesMdbTools) {
  REQUIRE_SAMPLES();
  if (!qz::testing::HaveMdbTools()) GTEST_SKIP() << "MDBTOOLS NOT INSTALLED: skipped";
  const struct {
    const char* file;
    const char* password;
  } files[] = {{"testV2000.mdb", ""},
               {"testUnicodeCompV2003.mdb", ""},
               {"delTestV2000.mdb", ""},
               {"V2000_no-password.mdb", ""},
               {"V2000_with-password.mdb", "password"},
               {"V2003_with-password.mdb", "password"}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.file);
    auto db = Database::Open(Sample(f.file), f.password, false);
    for (const CatalogEntry& t : db->tables()) {
      SCOPED_TRACE(t.name);
      const TableDef& def = db->table(t.name);
      std::vector<std::vector<Variant>> ours;
      db->scan(t.name, [&](const std::vector<Variant>& row) { ours.push_back(row); });
      const auto theirs = qz::testing::MdbJsonRows(Sample(f.file), t.name);
      ASSERT_EQ(ours.size(), theirs.size());
      const auto cols = def.columnsInRowOrder();
      for (size_t r = 0; r < ours.size(); ++r)
        for (size_t c = 0; c < cols.size(); ++c) {
          const auto it = theirs[r].find(cols[c]->name);
          const auto mine = qz::testing::RenderLikeMdbJson(ours[r][c]);
          if (it == theirs[r].end()) {
            EXPECT_FALSE(mine) << cols[c]->name << " row " << r;
          } else {
            EXPECT_EQ(mine.value_or("<null>"), it->second) << cols[c]->name << " row " << r;
          }
        }
    }
  }
}

TEST(JetSamplesTest, PasswordsAreDecodedAndOnlyTheRightOneOpens) {
  REQUIRE_SAMPLES();
  const struct {
    const char* file;
    const char* stored;
  } cases[] = {{"V2000_with-password.mdb", "password"},
               {"V2003_with-password.mdb", "password"},
               {"V2000_no-password.mdb", ""},
               {"adox_jet4.mdb", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(Database::Open(Sample(c.file), c.stored, false)->header().password, c.stored);
    if (!*c.stored) continue;
    for (const char* wrong : {"", "Password", "wrong"}) {
      try {
        Database::Open(Sample(c.file), wrong, false);
        ADD_FAILURE() << "opened with '" << wrong << "'";
      } catch (const JetError& e) {
        EXPECT_EQ(e.code(), JetErrorCode::BadPassword);
        EXPECT_STREQ(e.what(), "Not a valid password.");
      }
    }
  }
}

TEST(JetSamplesTest, CreationDateIsReadFromTheHeader) {
  REQUIRE_SAMPLES();
  auto db = Database::Open(Sample("V2000_creation-date.mdb"), "", false);
  EXPECT_EQ(FromJetDate(db->header().creationDate).toIso(), "2022-01-07T16:20:28.023");
  EXPECT_EQ(db->header().codePage, 1252);
}

TEST(JetSamplesTest, FilesThatAreNoJet4DatabaseAreRefused) {
  const std::string dir = qz::testing::MakeTempDir();
  const std::string text = dir + "/text.mdb", shortFile = dir + "/short.mdb";
  std::ofstream(text) << std::string(8192, 'x');
  std::ofstream(shortFile) << "Standard Jet DB";
  for (const std::string& f : {text, shortFile}) {
    try {
      Database::Open(f, "", false);
      ADD_FAILURE() << f << " opened";
    } catch (const JetError& e) {
      EXPECT_EQ(e.code(), JetErrorCode::NotJet4) << e.what();
    }
  }
  try {
    Database::Open(dir + "/missing.mdb", "", false);
    ADD_FAILURE() << "a missing file opened";
  } catch (const JetError& e) {
    EXPECT_EQ(e.code(), JetErrorCode::Io);
  }
  qz::testing::RemoveTree(dir);
}

}  // namespace
}  // namespace qz::jet
