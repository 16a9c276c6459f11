// The sign-in name history in a real sysinfo.ini.
#include "admin/login_history.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace qz::admin {
namespace {

class LoginHistoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("qz_history_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    ini_ = std::make_unique<server::SysInfoIni>((dir_ / "sysinfo.ini").string());
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  void seed(const std::vector<std::string>& names) {
    std::ofstream out(dir_ / "sysinfo.ini");
    out << "[Consts]\nsystemname=测试酒店\n[Login]\n";
    for (size_t i = 0; i < names.size(); ++i) out << "user" << i << "=" << names[i] << "\n";
  }
  // Signs in as name the way the dialog does: load, then remember.
  void signIn(const std::string& name) {
    const auto loaded = LoadLoginHistory(*ini_);
    RememberLoginName(*ini_, loaded, name);
  }
  std::vector<std::string> history() { return LoadLoginHistory(*ini_); }
  static std::vector<std::string> padded(std::vector<std::string> v) {
    v.resize(10);
    return v;
  }
  std::filesystem::path dir_;
  std::unique_ptr<server::SysInfoIni> ini_;
};

TEST_F(LoginHistoryTest, MissingFileGivesTenEmptyNames) {
  EXPECT_EQ(history(), std::vector<std::string>(10));
}

TEST_F(LoginHistoryTest, KnownNameMovesToTopAndEarlierOnesMoveDown) {
  seed({"a", "b", "c"});
  signIn("c");
  EXPECT_EQ(history(), padded({"c", "a", "b"}));
}

TEST_F(LoginHistoryTest, NameAlreadyFirstRewritesOnlyUser0) {
  seed({"a", "b", "c"});
  // Only user0 is written: a later slot edited by hand in between survives.
  const auto loaded = LoadLoginHistory(*ini_);
  ini_->writeString("Login", "user2", "edited");
  RememberLoginName(*ini_, loaded, "a");
  EXPECT_EQ(history(), padded({"a", "b", "edited"}));
}

TEST_F(LoginHistoryTest, NewNamePushesAllDown) {
  seed({"a", "b", "c"});
  signIn("d");
  EXPECT_EQ(history(), padded({"d", "a", "b", "c"}));
}

TEST_F(LoginHistoryTest, FullHistoryDropsTheTenth) {
  seed({"n0", "n1", "n2", "n3", "n4", "n5", "n6", "n7", "n8", "n9"});
  signIn("new");
  EXPECT_EQ(history(), (std::vector<std::string>{"new", "n0", "n1", "n2", "n3", "n4", "n5", "n6",
                                                 "n7", "n8"}));
  // A name in the middle keeps the slots after it.
  signIn("n4");
  EXPECT_EQ(history(), (std::vector<std::string>{"n4", "new", "n0", "n1", "n2", "n3", "n5", "n6",
                                                 "n7", "n8"}));
}

TEST_F(LoginHistoryTest, ComparisonIsCaseSensitiveAndOtherSectionsStay) {
  seed({"Admin", "b"});
  signIn("admin");
  EXPECT_EQ(history(), padded({"admin", "Admin", "b"}));
  EXPECT_EQ(ini_->readString("Consts", "systemname", ""), "测试酒店");
}

}  // namespace
}  // namespace qz::admin
