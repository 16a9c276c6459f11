// The statements and texts of backup, restore and clean-up: quoting of what
// the operator types, the replacement rule that always ends, the master
// connection text, and the default clean-up range.
#include "admin/maintenance_statements.h"

#include <gtest/gtest.h>

#include "platform/db/connection_string.h"
#include "platform/db/sql_quote.h"

namespace qz::admin {
namespace {

TEST(MaintenanceStatementTest, BackupStatementQuotesTextsAndLeavesTheTwoIndexesBare) {
  BackupChoices c{"qz_backup", "/srv/qz/qz_backup.dat", "", 0, 1};
  EXPECT_EQ(backupStatement(c, "qz"),
            "exec QZ_backup 'disk','qz_backup','/srv/qz/qz_backup.dat','qz',0,1,''");
  c = {"o'dev", "/srv/it's here.dat", "p'w''", 1, 0};
  EXPECT_EQ(backupStatement(c, "q'z"),
            "exec QZ_backup 'disk','o''dev','/srv/it''s here.dat','q''z',1,0,'p''w'''''");
}

TEST(MaintenanceStatementTest, RestoreAndCleanUpStatementsQuoteNamesAndValues) {
  EXPECT_EQ(restoreStatement("qz", "/srv/qz_backup.dat"),
            "RESTORE DATABASE qz from disk='/srv/qz_backup.dat'");
  EXPECT_EQ(restoreStatement("酒店 qz", "a'b"), "RESTORE DATABASE [酒店 qz] from disk='a''b'");
  EXPECT_EQ(restoreStatement("x]y", "f"), "RESTORE DATABASE [x]]y] from disk='f'");
  EXPECT_EQ(roomCleanStatement("qz", "qz1", "2026-01-01", "2026-02-28", "qz1"),
            "exec qz.dbo.hpt_backup 'qz','qz1','2026-01-01','2026-02-28','qz1'");
  EXPECT_EQ(salesCleanStatement("qz", "o'arch", "2026-01-01", "2026-02-28"),
            "exec qz.dbo.material_backup 'qz','o''arch','2026-01-01','2026-02-28'");
  EXPECT_EQ(db::QuoteBracketName("1qz"), "[1qz]");
  EXPECT_EQ(db::QuoteBracketName("qz_2026"), "qz_2026");
  EXPECT_EQ(db::QuoteBracketName(""), "[]");
}

TEST(ReplaceAllTextTest, ReplacesEveryOccurrenceAndEndsWhenTheNewTextHoldsTheOld) {
  EXPECT_EQ(ReplaceAllText("Initial Catalog=qz;Data Source=qzhost", "qz", "master"),
            "Initial Catalog=master;Data Source=masterhost");
  EXPECT_EQ(ReplaceAllText("aaa", "a", "b"), "bbb");
  EXPECT_EQ(ReplaceAllText("x", "", "y"), "x");
  EXPECT_EQ(ReplaceAllText("", "a", "b"), "");
  // These would never end when searching again from the beginning.
  EXPECT_EQ(ReplaceAllText("Initial Catalog=master;", "master", "master"),
            "Initial Catalog=master;");
  EXPECT_EQ(ReplaceAllText("Initial Catalog=ma;Password=ma", "ma", "master"),
            "Initial Catalog=master;Password=master");
  // Removal (the initial file name) next to itself.
  EXPECT_EQ(ReplaceAllText("ababab", "ab", ""), "");
}

TEST(MasterConnectionTextTest, ChangesOnlyTheCatalogAndTheFileName) {
  const std::string text =
      "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=qz;Password=qzqz;"
      "Initial Catalog=qz;Data Source=qzserver;Workstation ID=QZ01;"
      "Initial File Name=/data/qz.db;Use Encryption for Data=False";
  const auto cs = db::ConnectionString::parse(masterConnectionText(text));
  EXPECT_EQ(cs.value("Initial Catalog"), "master");
  EXPECT_EQ(cs.value("Initial File Name"), "");
  EXPECT_EQ(cs.value("User ID"), "qz");
  EXPECT_EQ(cs.value("Password"), "qzqz");
  EXPECT_EQ(cs.value("Data Source"), "qzserver");
  EXPECT_EQ(cs.value("Workstation ID"), "QZ01");
  EXPECT_EQ(cs.pairs().size(), 9u);
}

TEST(CleanUpDayTest, DatesRoundTripAndTheQuestionsCarryTheRange) {
  Day d{};
  ASSERT_TRUE(parseDayText("2026-02-28", &d));
  EXPECT_EQ(dayText(addDays(d, 1)), "2026-03-01");
  EXPECT_EQ(dayText(addDays(d, -360)), "2025-03-05");
  ASSERT_TRUE(parseDayText("2024/2/29", &d));
  EXPECT_EQ(dayText(d), "2024-02-29");
  EXPECT_FALSE(parseDayText("2026-02-29", &d));
  EXPECT_FALSE(parseDayText("2026-01-01x", &d));
  EXPECT_FALSE(parseDayText("yesterday", &d));
  EXPECT_FALSE(parseDayText("2026-01/01", &d));
  Day from{}, to{};
  parseDayText("2025-01-01", &from);
  parseDayText("2025-03-02", &to);
  EXPECT_EQ(roomCleanQuestion(from, to), "是否确定删除2025-01-01至2025-03-02的客房结算数据吗？");
  EXPECT_EQ(salesCleanQuestion(from, to),
            "是否确定删除2025-01-01至2025-03-02的商品销售结算数据吗？");
}

}  // namespace
}  // namespace qz::admin
