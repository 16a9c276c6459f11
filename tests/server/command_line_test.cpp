// Registration switches and host options.
#include "server/command_line.h"

#include <gtest/gtest.h>

namespace qz::server {
namespace {

TEST(CommandLineTest, SwitchesInEverySpelling) {
  const std::pair<const char*, StartSwitch> cases[] = {
      {"/REGSERVER", StartSwitch::RegServer},     {"-regserver", StartSwitch::RegServer},
      {"/RegServer", StartSwitch::RegServer},     {"-UnRegServer", StartSwitch::UnregServer},
      {"/unregserver", StartSwitch::UnregServer}, {"-Automation", StartSwitch::Automation},
      {"/EMBEDDING", StartSwitch::Embedding},     {"-embedding", StartSwitch::Embedding},
  };
  for (auto [arg, sw] : cases) EXPECT_EQ(parseCommandLine({arg}).startSwitch, sw) << arg;
  EXPECT_FALSE(parseStartSwitch("regserver"));
  EXPECT_FALSE(parseStartSwitch("--regserver"));
  EXPECT_FALSE(parseStartSwitch("-regserve"));
  EXPECT_EQ(parseCommandLine({}).startSwitch, StartSwitch::None);
}

TEST(CommandLineTest, RegisteringWinsOverOtherSwitches) {
  EXPECT_EQ(parseCommandLine({"-Embedding", "/regserver"}).startSwitch, StartSwitch::RegServer);
  EXPECT_EQ(parseCommandLine({"-unregserver", "-automation"}).startSwitch,
            StartSwitch::UnregServer);
}

TEST(CommandLineTest, OptionsAndDefaults) {
  CommandLine cl = parseCommandLine({});
  EXPECT_EQ(cl.listen, std::vector<std::string>{"127.0.0.1:5211"});
  EXPECT_EQ(cl.maxMessage, 64u << 20);
  EXPECT_FALSE(cl.headless);
  cl = parseCommandLine({"--headless", "--app-dir", "/srv/qz", "--listen", "0.0.0.0:6000",
                         "--listen", "[::1]:6001", "--max-message", "4096", "--create-database",
                         "--demo-rows", "500", "--force"});
  EXPECT_TRUE(cl.headless);
  EXPECT_EQ(cl.appDir, "/srv/qz");
  EXPECT_EQ(cl.listen, (std::vector<std::string>{"0.0.0.0:6000", "[::1]:6001"}));
  EXPECT_EQ(cl.maxMessage, 4096u);
  EXPECT_TRUE(cl.createDatabase);
  EXPECT_TRUE(cl.demo);
  EXPECT_EQ(cl.demoRows, 500);
  EXPECT_TRUE(cl.force);
}

TEST(CommandLineTest, BadOptionsAreUsageErrors) {
  EXPECT_THROW(parseCommandLine({"--bogus"}), UsageError);
  EXPECT_THROW(parseCommandLine({"--app-dir"}), UsageError);
  EXPECT_THROW(parseCommandLine({"--listen", "5211"}), UsageError);
  EXPECT_THROW(parseCommandLine({"--max-message", "12x"}), UsageError);
  EXPECT_THROW(parseCommandLine({"--demo-rows", "-1"}), UsageError);
}

}  // namespace
}  // namespace qz::server
