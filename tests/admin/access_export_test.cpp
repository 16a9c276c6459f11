// The export to an Access file on both engines: a demo database with a few
// rows at the edges written into a copy of the template, checked by our
// reader and checker, mdbtools and mdb-reader; the period's whole last
// day; a fresh template for an earlier export's path; an interruption
// keeping the rows written before it; the band's texts and positions.
#include "admin/access_export.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "database/demo_data.h"
#include "database/export_template.h"
#include "database/schema.h"
#include "platform/jet/checker.h"
#include "platform/jet/database.h"
#include "tests/platform/jet_test_support.h"
#include "tests/platform/test_databases.h"

namespace qz::admin {
namespace {

namespace t = qz::testing;

class ExportUi : public MaintenanceUi {
 public:
  bool askBackup(BackupChoices&) override { return false; }
  bool askRestore(std::string&) override { return false; }
  bool selectDateRange(Day&, Day&) override { return false; }
  bool confirm(const std::string&, const std::string&) override { return false; }
  void message(const std::string& caption, const std::string& text) override {
    messages += caption + "|" + text + ";";
  }
  void showWait(const std::string&) override {}
  void closeWait() override {}
  bool askExport(ExportChoices& c) override {
    c = choices;
    return true;
  }
  void progress(const std::string& text, int position, int maximum) override {
    if (maximum >= 0) maximum_ = maximum;
    if (bands.empty() || bands.back().first != text) bands.push_back({text, ""});
    bands.back().second = std::to_string(position) + "/" + std::to_string(maximum_);
    if (stopAfter && --stopAfter == 0) throw std::runtime_error("stopped by the operator");
  }
  void hideProgress() override { hidden = true; }

  ExportChoices choices;
  std::vector<std::pair<std::string, std::string>> bands;  // text, last position/maximum
  std::string messages;
  bool hidden = false;
  int stopAfter = 0;
  int maximum_ = 100;
};

// Gives a table of the file an index (in its definition only), as a
// template made with Access may carry.
void AddIndex(const std::string& file, const std::string& table, const std::string& index) {
  jet::TableDef def = jet::Database::Open(file, "6391", false)->table(table);
  jet::RealIndexDef real;
  real.keys[0] = {0, 1};
  def.realIndexes.push_back(real);
  def.indexes.push_back(jet::LogicalIndexDef{index});
  ASSERT_EQ(jet::TableDefPageCount(def), 1u);
  const std::string page = jet::EncodeTableDef(def, {def.page})[0];
  const int fd = ::open(file.c_str(), O_WRONLY);
  ASSERT_EQ(::pwrite(fd, page.data(), page.size(), off_t(def.page) * off_t(page.size())),
            ssize_t(page.size()));
  ::close(fd);
}

std::string FileText(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

Day D(int y, unsigned m, unsigned d) {
  return Day{std::chrono::year{y}, std::chrono::month{m}, std::chrono::day{d}};
}

class AccessExportTest : public ::testing::TestWithParam<t::TestEngine> {
 protected:
  void SetUp() override {
    source_ = t::TestDatabase::create(GetParam());
    if (!source_)
      GTEST_SKIP() << "POSTGRESQL TESTS SKIPPED: QZ_TEST_PG_HOST/QZ_TEST_PG_PORT not set";
    dir_ = t::MakeTempDir() + "/";
    database::writeExportTemplate(dir_ + "qz.dat");
    db::Connection c;
    c.setConnectionString(source_->connectionString());
    database::installSchema(c);
    database::addDemoData(c, {});
    c.execute(
        "INSERT INTO material (id, name, exchange, price, info) VALUES ('Q01', 'O''Neil 牌', NULL, "
        "12.5, NULL)");
    const struct {
      const char* when;
      bool marck;
      const char* name;
    } edges[] = {{"2031-05-31 23:59:59", true, "最后一天"},
                 {"2031-06-01 00:00:00", false, "第二天"},
                 {"2031-05-30 00:00:00", false, "第一天"}};
    for (const auto& e : edges) {
      db::ParamList p(3);
      p[0].name = "when";
      DateTime when;
      DateTime::parse(e.when, &when);
      p[0].value = when;
      p[1].name = "marck";
      p[1].value = e.marck;
      p[2].name = "name";
      p[2].value = e.name;
      c.execute(
          "INSERT INTO Maccount (consumption, fdate, ndate, marck, cltname) VALUES "
          "('EDGE', :when, :when, :marck, :name)",
          p);
    }
    ADOC1_.setConnectionString(source_->connectionString());
    ADOQuery1_.setCommandTimeout(3000);
  }
  void TearDown() override {
    ADOC2_.close();
    ADOC1_.close();
    if (!dir_.empty()) t::RemoveTree(dir_);
  }
  int64_t sourceCount(const std::string& sql) {
    return db::RowSet::readAll(*ADOC1_.query(sql)).rows[0][0].toInt64();
  }
  std::vector<std::vector<Variant>> fileRows(const std::string& file, const std::string& table) {
    std::vector<std::vector<Variant>> rows;
    jet::Database::Open(file, "6391", false)->scan(table, [&](const std::vector<Variant>& r) {
      rows.push_back(r);
    });
    return rows;
  }

  std::unique_ptr<t::TestDatabase> source_;
  std::string dir_;
  db::Connection ADOC1_, ADOC2_;
  db::Query ADOQuery1_{&ADOC1_};
  ExportUi ui_;
};

TEST_P(AccessExportTest, WritesTheFiveTablesReadableByEveryReader) {
  const std::string file = dir_ + "out.mdb";
  ui_.choices.file = file;
  ui_.choices.from = D(2031, 5, 31);
  ui_.choices.to = D(2031, 5, 31);
  AccessExport e(ADOC1_, ADOQuery1_, ADOC2_, dir_, ui_);
  EXPECT_EQ(e.ExportToAccess().status, Outcome::Done);
  EXPECT_TRUE(ui_.messages.empty()) << ui_.messages;
  EXPECT_TRUE(ui_.hidden);
  EXPECT_TRUE(ADOC2_.isOpen());
  ADOC2_.close();
  for (const std::string& p : jet::CheckDatabaseFile(file, "6391")) ADD_FAILURE() << p;

  const int64_t items = sourceCount("select count(*) from maccitems");
  const int64_t payments = sourceCount("select count(*) from mgathering");
  const std::vector<std::pair<std::string, std::string>> bands = {
      {"正在导出物资编号数据", "2/100"},
      {"正在导出客户资料", "20/100"},
      {"正在导出主表数据", "11/11"},
      {"正在导出物资进/出数据", std::to_string(items + 10) + "/" + std::to_string(items + 10)},
      {"正在导出收/付款数据", std::to_string(payments + 10) + "/" + std::to_string(payments + 10)},
      {"正在...", "0/" + std::to_string(payments + 10)}};
  EXPECT_EQ(ui_.bands, bands);

  EXPECT_EQ(int64_t(fileRows(file, "material").size()),
            sourceCount("select count(*) from material"));
  EXPECT_EQ(int64_t(fileRows(file, "client").size()), sourceCount("select count(*) from client"));
  EXPECT_EQ(int64_t(fileRows(file, "maccitems").size()), items);
  EXPECT_EQ(int64_t(fileRows(file, "Mgathering").size()), payments);
  const auto headers = fileRows(file, "MAccount");
  ASSERT_EQ(headers.size(), 1u) << "only the last day of the period, at 23:59:59";
  EXPECT_EQ(headers[0][13], Variant("最后一天"));
  EXPECT_EQ(headers[0][12], Variant(true));
  EXPECT_EQ(headers[0][5], Variant(DateTime::fromParts(2031, 5, 31, 23, 59, 59)));
  bool quoted = false;
  for (const auto& m : fileRows(file, "material"))
    if (m[0] == Variant("Q01")) {
      quoted = true;
      EXPECT_EQ(m[1], Variant("O'Neil 牌"));
      EXPECT_EQ(m[4], Variant(int32_t(1))) << "a null exchange is written as 1";
      EXPECT_EQ(m[6], Variant(Currency{125000}));
      EXPECT_TRUE(m[9].isNull());
    }
  EXPECT_TRUE(quoted);

  if (t::HaveMdbTools()) {
    EXPECT_EQ(t::RunCommand("mdb-ver " + t::ShellQuote(file)).out, "JET4\n");
    EXPECT_EQ(t::RunCommand("mdb-tables -1 " + t::ShellQuote(file)).out,
              "material\nclient\nMAccount\nmaccitems\nMgathering\n");
    for (const char* table : {"material", "client", "MAccount", "maccitems", "Mgathering"})
      EXPECT_EQ(t::RunCommand("mdb-count " + t::ShellQuote(file) + " " + table).out,
                std::to_string(t::MdbJsonRows(file, table).size()) + "\n")
          << table;
  }
  if (t::HaveMdbReader()) {
    const rapidjson::Document d = t::MdbReaderRead(file, "6391");
    EXPECT_STREQ(d["password"].GetString(), "6391");
    EXPECT_EQ(d["tables"]["maccitems"]["rowCount"].GetInt64(), items);
    EXPECT_EQ(d["tables"]["MAccount"]["rows"][0][13], "最后一天");
  }
}

TEST_P(AccessExportTest, AnEarlierExportIsReplacedAndAnInterruptionKeepsTheRowsWritten) {
  const std::string file = dir_ + "again.mdb";
  ui_.choices.file = file;
  ui_.choices.all = true;
  AccessExport e(ADOC1_, ADOQuery1_, ADOC2_, dir_, ui_);
  ASSERT_EQ(e.ExportToAccess().status, Outcome::Done);
  const int64_t headers = sourceCount("select count(*) from maccount");
  EXPECT_EQ(int64_t(fileRows(file, "MAccount").size()), headers);
  // The same path again: a fresh template, stopped during the items.
  ui_.stopAfter = 2 + 2 + int(headers) + 2 + 5;
  EXPECT_THROW(e.ExportToAccess(), std::runtime_error);
  // Read while the export's connection is still open: the rows are in the
  // file once the error is reported.
  for (const std::string& p : jet::CheckDatabaseFile(file, "6391")) ADD_FAILURE() << p;
  EXPECT_EQ(int64_t(fileRows(file, "MAccount").size()), headers)
      << "not doubled by the earlier export";
  // The fifth item's progress stopped the export after that item was written.
  EXPECT_EQ(fileRows(file, "maccitems").size(), 5u)
      << "the rows written before the interruption stay";
  EXPECT_EQ(fileRows(file, "Mgathering").size(), 0u);
  ADOC2_.close();
}

TEST_P(AccessExportTest, FilesThatCannotBeUsedAreReported) {
  AccessExport e(ADOC1_, ADOQuery1_, ADOC2_, dir_, ui_);
  // A file of another password: the provider's text, then nothing more.
  jet::Database::Create(dir_ + "other.mdb", "secret");
  EXPECT_FALSE(e.ConnectExportFile(dir_ + "other.mdb"));
  EXPECT_EQ(ui_.messages, "|Not a valid password.;");
  // A template table with an index: refused before the target is touched.
  AddIndex(dir_ + "qz.dat", "maccitems", "ByLine");
  ui_.choices.file = dir_ + "kept.mdb";
  std::ofstream(ui_.choices.file) << "earlier";
  try {
    e.ExportToAccess();
    ADD_FAILURE() << "exported with an indexed template";
  } catch (const std::runtime_error& x) {
    EXPECT_NE(std::string(x.what()).find("maccitems carries the index ByLine"), std::string::npos)
        << x.what();
  }
  EXPECT_EQ(FileText(ui_.choices.file), "earlier");
  // No template: the file error; the target stays empty.
  ::unlink((dir_ + "qz.dat").c_str());
  ui_.choices.file = dir_ + "empty.mdb";
  EXPECT_THROW(e.ExportToAccess(), std::runtime_error);
  EXPECT_TRUE(ui_.bands.empty()) << "the band is not shown yet";
}

TEST_P(AccessExportTest, ANullIdIsWrittenAsAnEmptyText) {
  // The store's keys are never null; a source whose material id is nullable
  // stands in for an older database.
  db::Connection c;
  c.setConnectionString(source_->connectionString());
  c.execute("DROP TABLE material");
  std::string columns;
  for (const char* n : {"id",     "name",          "dw",     "dw1",  "exchange", "addi", "price",
                        "price0", "price1",        "info",   "cost", "pym",      "slye", "ye",
                        "tctype", "TcCoefficient", "rebate", "sMax", "sMin",     "mType"})
    columns += std::string(columns.empty() ? "" : ", ") + n + " varchar(20)";
  c.execute("CREATE TABLE material (" + columns + ")");
  c.execute("INSERT INTO material (id, name) VALUES (NULL, '无编号')");
  ui_.choices.file = dir_ + "nullid.mdb";
  ui_.choices.all = true;
  AccessExport e(ADOC1_, ADOQuery1_, ADOC2_, dir_, ui_);
  ASSERT_EQ(e.ExportToAccess().status, Outcome::Done);
  const auto rows = fileRows(ui_.choices.file, "material");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], Variant(""));
  EXPECT_EQ(rows[0][1], Variant("无编号"));
}

INSTANTIATE_TEST_SUITE_P(Engines, AccessExportTest,
                         ::testing::Values(t::TestEngine::Embedded, t::TestEngine::PostgreSQL),
                         [](const auto& info) {
                           return std::string(t::testEngineName(info.param));
                         });

}  // namespace
}  // namespace qz::admin
