// The server log's level filter and the level names it accepts.
#include "platform/log/server_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qz::log {
namespace {

TEST(ServerLogTest, DropsLinesBelowTheLevelSet) {
  std::vector<std::string> lines;
  setSink([&](Level l, std::string_view m) {
    lines.push_back(levelName(l) + std::string(" ") + std::string(m));
  });
  setLevel(Level::kWarning);
  info("listening");
  warning("refused");
  error("failed");
  debug("detail");
  setLevel(Level::kInfo);
  setSink({});
  EXPECT_EQ((std::vector<std::string>{"warning refused", "error failed"}), lines);
}

TEST(ServerLogTest, ParsesLevelNamesWithoutRegardToCase) {
  EXPECT_EQ(Level::kError, parseLevel("ERROR"));
  EXPECT_EQ(Level::kWarning, parseLevel("warn"));
  EXPECT_EQ(Level::kWarning, parseLevel("Warning"));
  EXPECT_EQ(Level::kDebug, parseLevel("debug"));
  EXPECT_EQ(std::nullopt, parseLevel("verbose"));
  EXPECT_EQ(std::nullopt, parseLevel(""));
}

}  // namespace
}  // namespace qz::log
