// The full-stop rule of the error display, GBK byte lengths, the computer
// list parsers and the auto-lock period.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "admin/auto_lock.h"
#include "admin/computer_list.h"
#include "admin/full_stop.h"
#include "admin/gbk_text.h"

namespace qz::admin {
namespace {

TEST(FullStopTest, AppendsAfterLettersAndWideCharactersOnly) {
  EXPECT_EQ(AppendFullStop("Connection failed"), "Connection failed.");
  EXPECT_EQ(AppendFullStop("编号或口令有误！"), "编号或口令有误！.");  // wide "！" sorts after "."
  EXPECT_EQ(AppendFullStop("Done."), "Done.");
  // Characters that sort before ".": no full stop.
  for (const char* s :
       {"Disk full!", "(see log)", "a,", "trailing ", "dash-", "x+", "q\"", "tab\t"})
    EXPECT_EQ(AppendFullStop(s), s) << s;
  EXPECT_EQ(AppendFullStop("path/"), "path/.");  // "/" sorts after "."
  EXPECT_EQ(AppendFullStop(""), "");
}

TEST(GbkTextTest, CountsBytesOfCodePage936) {
  EXPECT_EQ(GbkByteLength(""), 0u);
  EXPECT_EQ(GbkByteLength("abc123"), 6u);
  EXPECT_EQ(GbkByteLength("口令"), 4u);
  EXPECT_EQ(GbkByteLength("a口b"), 4u);
  EXPECT_EQ(GbkByteLength("€"), 1u);     // not in GBK: written as "?"
  EXPECT_EQ(GbkByteLength("😀"), 1u);     // outside GBK as well
  EXPECT_EQ(GbkByteLength("\xff"), 1u);  // a stray byte
}

TEST(GbkTextTest, TruncatesAtWholeCharacters) {
  EXPECT_EQ(TruncateToGbkBytes("1234567890ab", 10), "1234567890");
  EXPECT_EQ(TruncateToGbkBytes("一二三四五六", 10), "一二三四五");
  // Nine ASCII bytes leave no room for a two-byte character.
  EXPECT_EQ(TruncateToGbkBytes("123456789口", 10), "123456789");
  EXPECT_EQ(TruncateToGbkBytes("短", 10), "短");
}

TEST(ComputerListTest, HostsFileGivesNamesWithoutLocalhostAndDuplicates) {
  const char* hosts =
      "127.0.0.1\tlocalhost\n"
      "127.0.1.1 frontdesk frontdesk.hotel.lan\n"
      "::1 localhost ip6-localhost ip6-loopback\n"
      "# 10.0.0.9 commented\n"
      "\n"
      "10.0.0.5   dbserver   # the database machine\r\n"
      "10.0.0.6 frontdesk\n";
  EXPECT_EQ(ParseHostsFile(hosts),
            (std::vector<std::string>{"frontdesk", "frontdesk.hotel.lan", "dbserver"}));
  EXPECT_TRUE(ParseHostsFile("").empty());
  EXPECT_TRUE(ParseHostsFile("10.0.0.1\n").empty());  // an address without names
}

TEST(ComputerListTest, AvahiResolvedLinesGiveHostNames) {
  const char* out =
      "+;eth0;IPv4;kitchen;_workstation._tcp;local\n"
      "=;eth0;IPv4;kitchen [aa:bb];_workstation._tcp;local;kitchen.local;10.0.0.7;9;\n"
      "=;eth0;IPv6;kitchen [aa:bb];_workstation._tcp;local;kitchen.local;fe80::1;9;\n"
      "=;eth0;IPv4;Printer;_ipp._tcp;local;printer-3.local;10.0.0.8;631;\"txt\"\n"
      "=;broken\n";
  EXPECT_EQ(ParseAvahiBrowse(out), (std::vector<std::string>{"kitchen", "printer-3"}));
}

TEST(ComputerListTest, ListReadsTheHostsFileGiven) {
  const auto path = std::filesystem::temp_directory_path() / "qz_hosts_test";
  std::ofstream(path) << "10.1.1.1 cashier-pc\n";
  const auto names = ListNetworkComputers(path.string());
  EXPECT_NE(std::find(names.begin(), names.end(), "cashier-pc"), names.end());
  std::filesystem::remove(path);
  // A missing file contributes nothing and raises nothing.
  EXPECT_NO_THROW(ListNetworkComputers("/nonexistent/hosts"));
}

class AutoLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("qz_autolock_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::optional<int> interval(const std::string& value) {
    const auto file = dir_ / "sysinfo.ini";
    std::ofstream(file) << "[BackUp]\nOpenTimes=" << value << "\n";
    server::SysInfoIni ini(file.string());
    return AutoLockIntervalMs(ini);
  }
  std::filesystem::path dir_;
};

TEST_F(AutoLockTest, MinutesBecomeMillisecondsAndZeroNeverFires) {
  EXPECT_EQ(interval("1"), 60000);
  EXPECT_EQ(interval("0x2"), 120000);
  EXPECT_EQ(interval("ten"), 180000);  // not an integer: the default 3
  EXPECT_EQ(interval("0"), std::nullopt);
  EXPECT_EQ(interval("-5"), std::nullopt);
  EXPECT_EQ(interval("100000"), INT_MAX);  // beyond the timer's range
  server::SysInfoIni missing((dir_ / "absent.ini").string());
  EXPECT_EQ(AutoLockIntervalMs(missing), 180000);
}

}  // namespace
}  // namespace qz::admin
