// The activity log keeps 127 rows at most, oldest out first.
#include <gtest/gtest.h>

#include "server/activity_log.h"

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

}  // namespace
}  // namespace qz::server
