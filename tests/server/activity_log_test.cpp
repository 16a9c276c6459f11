// The activity log keeps 127 rows at most, oldest out first.
#include "server/activity_log.h"

#include <gtest/gtest.h>

namespace qz::server {
namespace {

TEST(ActivityLogTest, TheAppendThatWouldMakeRow128DropsTheOldest) {
  ActivityLog log;
  int removals = 0;
  log.addListener([&](bool removed, const ActivityEntry&) { removals += removed; });
  for (int i = 1; i <= 127; ++i) log.append("op" + std::to_string(i), "st", "w");
  EXPECT_EQ(log.size(), 127u);
  EXPECT_EQ(removals, 0);
  log.append("op128", "st", "w");
  EXPECT_EQ(log.size(), 127u);
  EXPECT_EQ(removals, 1);
  EXPECT_EQ(log.rows().front().operatorName, "op2");
  EXPECT_EQ(log.rows().back().operatorName, "op128");
}

TEST(ActivityLogTest, EmptyTextsGiveEmptyCellsAndALocalTime) {
  ActivityLog log;
  log.append("", "", "");
  ASSERT_EQ(log.size(), 1u);
  const ActivityEntry& e = log.rows().front();
  EXPECT_EQ(e.operatorName, "");
  EXPECT_EQ(e.station, "");
  EXPECT_EQ(e.work, "");
  ASSERT_EQ(e.time.size(), 19u);  // "YYYY-MM-DD HH:MM:SS"
  EXPECT_EQ(e.time[10], ' ');
}

TEST(ActivityLogTest, HeadlessLineEscapesControlCharactersSoEachLoginIsOneLine) {
  struct Case {
    const char* op;
    const char* line;
  };
  const Case cases[] = {
      {"张三", "T\t张三\tst\tw\n"},
      {"a\nT\tforged\tst\tw", "T\ta\\nT\\tforged\\tst\\tw\tst\tw\n"},
      {"a\r\x1b[2Jb\x7f", "T\ta\\r\\x1b[2Jb\\x7f\tst\tw\n"},
      {"back\\slash", "T\tback\\\\slash\tst\tw\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ActivityLine(ActivityEntry{"T", c.op, "st", "w"}), c.line) << c.op;
}

}  // namespace
}  // namespace qz::server
