// The server settings: loading from a real system.ini with the
// missing-database-file rule, the composed connection text, and the exact
// bytes and mode of a saved system.ini.
#include "admin/server_settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "settings/config.h"

namespace qz::admin {
namespace {

std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class ServerSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("qz_settings_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    server::setAppDir(dir_.string());
  }
  void TearDown() override {
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all);
    std::filesystem::remove_all(dir_);
  }
  void writeSystemIni(const std::string& bytes) {
    std::ofstream(dir_ / "system.ini", std::ios::binary) << bytes;
  }
  std::string dbFile() {
    const auto p = dir_ / "qz.mdf";
    std::ofstream(p) << "x";
    return p.string();
  }
  std::filesystem::path dir_;
};

TEST(DefaultDatabaseFileTest, DropsSevenCharactersOfTheFolder) {
  EXPECT_EQ(DefaultDatabaseFile("/app/server/"), "/app/qz.mdf");
  EXPECT_EQ(DefaultDatabaseFile("/opt/qz/bin/"), "/opt/qz.mdf");  // "bin/" and 3 more
  EXPECT_EQ(DefaultDatabaseFile("/a/bcd/"), "qz.mdf");            // exactly 7
  EXPECT_EQ(DefaultDatabaseFile("/x/"), "qz.mdf");
  EXPECT_EQ(DefaultDatabaseFile("/酒店/服务器程序甲/"), "/酒店/qz.mdf");  // characters, not bytes
}

TEST_F(ServerSettingsTest, NoFileGivesEmptyFieldsAndTheDefaultDatabaseFile) {
  const ServerSettings s = LoadServerSettings(server::appDir());
  EXPECT_EQ(s.server, "");
  EXPECT_EQ(s.user, "");
  EXPECT_EQ(s.password, "");
  EXPECT_EQ(s.database, "");
  EXPECT_EQ(s.workstation, "");
  EXPECT_FALSE(s.windowsAuthOnly);
  EXPECT_EQ(s.databaseFile, DefaultDatabaseFile(server::appDir()));
}

TEST_F(ServerSettingsTest, SspiChecksTheBoxOnlyWithAnExistingDatabaseFile) {
  const std::string file = dbFile();
  writeSystemIni("srv\r\nsa\r\npw\r\nqz\r\n" + file + "\r\nfront\r\nSSPI\r\n");
  ServerSettings s = LoadServerSettings(server::appDir());
  EXPECT_TRUE(s.windowsAuthOnly);
  EXPECT_EQ(s.databaseFile, file);
  EXPECT_EQ(s.server, "srv");
  EXPECT_EQ(s.workstation, "front");

  writeSystemIni("srv\nsa\npw\nqz\n" + file + "\nfront\nsspi\n");
  EXPECT_FALSE(LoadServerSettings(server::appDir()).windowsAuthOnly);
  writeSystemIni("srv\nsa\npw\nqz\n" + file + "\nfront\nSSPI \n");
  EXPECT_FALSE(LoadServerSettings(server::appDir()).windowsAuthOnly);

  // The file named on line 5 is not on this computer: default name, box off.
  writeSystemIni("srv\nsa\npw\nqz\nD:\\data\\qz.mdf\nfront\nSSPI\n");
  s = LoadServerSettings(server::appDir());
  EXPECT_FALSE(s.windowsAuthOnly);
  EXPECT_EQ(s.databaseFile, DefaultDatabaseFile(server::appDir()));
  EXPECT_EQ(s.user, "sa");
}

TEST(ComposeSqlConnectionStringTest, FollowsTheFileOrderWithValuesAsTheyAre) {
  ServerSettings s{"db1", "sa", "p w", "qz", "/d/qz.mdf", "front", false};
  EXPECT_EQ(ComposeSqlConnectionString(s),
            "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;Password=p w;"
            "Initial Catalog=qz;Data Source=db1;Use Procedure for Prepare=1;Auto Translate=True;"
            "Packet Size=4096;Workstation ID=front;Initial File Name=/d/qz.mdf;"
            "Use Encryption for Data=False");
  s.windowsAuthOnly = true;
  const std::string t = ComposeSqlConnectionString(s);
  EXPECT_EQ(t.rfind("Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;"
                    "User ID=sa;Password=p w;",
                    0),
            0u);
}

TEST_F(ServerSettingsTest, ComposedTextMatchesTheOneBuiltFromTheSavedFile) {
  ServerSettings s{"host,5432", "用户", "口令", "qz", "/d/qz.mdf", "前台", true};
  SaveServerSettings(s);
  EXPECT_EQ(server::BuildSqlConnectionString(), ComposeSqlConnectionString(s));
}

TEST_F(ServerSettingsTest, SaveWritesSevenCrLfLinesWithOwnerOnlyMode) {
  writeSystemIni("old\nlines\n");
  ServerSettings s{"db1", "sa", "秘密", "qz", "/d/qz.mdf", "前台", false};
  SaveServerSettings(s);
  const auto path = dir_ / "system.ini";
  EXPECT_EQ(ReadAll(path), "db1\r\nsa\r\n秘密\r\nqz\r\n/d/qz.mdf\r\n前台\r\n\r\n");
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  s.windowsAuthOnly = true;
  s.password.clear();
  SaveServerSettings(s);
  EXPECT_EQ(ReadAll(path), "db1\r\nsa\r\n\r\nqz\r\n/d/qz.mdf\r\n前台\r\nSSPI\r\n");
  // Read back through the line reader: the same values.
  EXPECT_EQ(server::ReadSystemIniLine(6), "前台");
  EXPECT_EQ(server::ReadSystemIniLine(7), "SSPI");
  // No temporary files are left behind.
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir_)) files += e.is_regular_file();
  EXPECT_EQ(files, 1);
}

TEST_F(ServerSettingsTest, ReadOnlyFileIsNotReplaced) {
  writeSystemIni("keep\r\n");
  std::filesystem::permissions(dir_ / "system.ini", std::filesystem::perms::owner_read);
  ServerSettings s{"db1", "", "", "", "", "", false};
  EXPECT_THROW(SaveServerSettings(s), std::runtime_error);
  EXPECT_EQ(ReadAll(dir_ / "system.ini"), "keep\r\n");
}

TEST_F(ServerSettingsTest, UnwritableFolderFailsAndKeepsTheOldFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes through read-only modes";
  writeSystemIni("keep\r\n");
  std::filesystem::permissions(
      dir_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  ServerSettings s{"db1", "", "", "", "", "", false};
  try {
    SaveServerSettings(s);
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("Unable to write to"), std::string::npos);
  }
  std::filesystem::permissions(dir_, std::filesystem::perms::owner_all);
  EXPECT_EQ(ReadAll(dir_ / "system.ini"), "keep\r\n");
}

}  // namespace
}  // namespace qz::admin
