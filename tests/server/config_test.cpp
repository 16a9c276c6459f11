// Line files, connection texts and sysinfo.ini semantics.
#include "settings/config.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/db/connection_string.h"
#include "settings/sysinfo_ini.h"
#include "tests/server/temp_dir.h"

namespace qz::server {
namespace {

using qz::testing::TempDir;

class AppDirTest : public ::testing::Test {
 protected:
  void SetUp() override { setAppDir(dir.path()); }
  void TearDown() override { setAppDir(""); }
  TempDir dir;
};

TEST(ReadFileLineTest, LfAndCrLfFilesReadAlikeAndLoneCrIsDropped) {
  TempDir d;
  d.write("lf.txt", "one\ntwo  \n\nfour");
  d.write("crlf.txt", "one\r\ntwo  \r\n\r\nfour\r\n");
  d.write("cr.txt", "a\rb\r\nc");
  for (const char* f : {"lf.txt", "crlf.txt"}) {
    SCOPED_TRACE(f);
    EXPECT_EQ(ReadFileLine(d.file(f), 1), "one");
    EXPECT_EQ(ReadFileLine(d.file(f), 2), "two  ");  // blanks stay
    EXPECT_EQ(ReadFileLine(d.file(f), 3), "");
    EXPECT_EQ(ReadFileLine(d.file(f), 4), "four");
    EXPECT_EQ(ReadFileLine(d.file(f), 5), "");  // past the end
    EXPECT_EQ(ReadFileLine(d.file(f), 1000), "");
  }
  EXPECT_EQ(ReadFileLine(d.file("cr.txt"), 1), "ab");
  EXPECT_EQ(ReadFileLine(d.file("cr.txt"), 2), "c");
}

TEST(ReadFileLineTest, ZeroNegativeAndMissingFileGiveEmpty) {
  TempDir d;
  d.write("f.txt", "x\n");
  EXPECT_EQ(ReadFileLine(d.file("f.txt"), 0), "");
  EXPECT_EQ(ReadFileLine(d.file("f.txt"), -3), "");
  EXPECT_EQ(ReadFileLine(d.file("absent.txt"), 1), "");
}

TEST(ReadFileLineTest, ReadErrorOfAnExistingFileIsRaised) {
  TempDir d;
  std::filesystem::create_directory(d.file("adir"));
  EXPECT_THROW(ReadFileLine(d.file("adir"), 1), std::runtime_error);
}

TEST(ReadFileLineTest, GbkFileIsReadAsChinese) {
  TempDir d;
  // "数据服务器" in GBK, then a UTF-8 file with the same text.
  d.write("gbk.txt", "\xca\xfd\xbe\xdd\xb7\xfe\xce\xf1\xc6\xf7\r\nsa\r\n");
  d.write("utf8.txt", "数据服务器\nsa\n");
  EXPECT_EQ(ReadFileLine(d.file("gbk.txt"), 1), "数据服务器");
  EXPECT_EQ(ReadFileLine(d.file("gbk.txt"), 2), "sa");
  EXPECT_EQ(ReadFileLine(d.file("utf8.txt"), 1), "数据服务器");
}

TEST_F(AppDirTest, AppDirKeepsOneTrailingSeparator) {
  setAppDir("/opt/qz");
  EXPECT_EQ(appDir(), "/opt/qz/");
  setAppDir("/opt/qz/");
  EXPECT_EQ(appDir(), "/opt/qz/");
}

TEST(InstalledLayoutTest, OnlyAnExecutableInUsrBinUsesThePackageFolders) {
  struct Case {
    const char* exeDir;
    bool installed;
    const char* root;
  };
  for (const Case& c :
       {Case{"/usr/bin/", true, "/"}, Case{"/tmp/pkg.1/usr/bin/", true, "/tmp/pkg.1/"},
        Case{"/usr/local/bin/", false, ""}, Case{"/home/op/qz/build/server/", false, ""},
        Case{"/opt/usr/binx/", false, ""}}) {
    SCOPED_TRACE(c.exeDir);
    const InstalledLayout l = installedLayout(c.exeDir);
    EXPECT_EQ(l.installed, c.installed);
    EXPECT_EQ(l.root, c.root);
  }
}

TEST_F(AppDirTest, SqlTextWithoutSystemIniHasEveryValueEmpty) {
  EXPECT_EQ(BuildSqlConnectionString(),
            "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=;Password=;"
            "Initial Catalog=;Data Source=;Use Procedure for Prepare=1;Auto Translate=True;"
            "Packet Size=4096;Workstation ID=;Initial File Name=;Use Encryption for Data=False");
}

TEST_F(AppDirTest, SqlTextTakesLinesInTheirPlaces) {
  dir.write("system.ini", "srv,1433\r\nsa\r\npw\r\nqz\r\nd:\\qz.mdf\r\nAPP1\r\nSSPI\r\n");
  EXPECT_EQ(BuildSqlConnectionString(),
            "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;"
            "User ID=sa;Password=pw;Initial Catalog=qz;Data Source=srv,1433;"
            "Use Procedure for Prepare=1;Auto Translate=True;Packet Size=4096;"
            "Workstation ID=APP1;Initial File Name=d:\\qz.mdf;Use Encryption for Data=False");
}

TEST_F(AppDirTest, IntegratedSecurityOnlyForExactSspi) {
  for (const char* line7 : {"sspi", "SSPI ", " SSPI", "Sspi"}) {
    dir.write("system.ini", std::string("s\nu\np\nqz\nf\nw\n") + line7 + "\n");
    EXPECT_EQ(BuildSqlConnectionString().find("Integrated Security"), std::string::npos) << line7;
  }
  dir.write("system.ini", "s\nu\np\nqz\nf\nw\n");  // six lines
  EXPECT_EQ(BuildSqlConnectionString().find("Integrated Security"), std::string::npos);
  dir.write("system.ini", "s\nu\np\nqz\nf\nw\nSSPI");
  EXPECT_NE(BuildSqlConnectionString().find("Integrated Security=SSPI;"), std::string::npos);
}

TEST_F(AppDirTest, SqlTextRoundTripsThroughTheParser) {
  dir.write("system.ini", "(local)\nsa\n\nqz\n/srv/qz.db\nAPP1\nSSPI\n");
  auto cs = db::ConnectionString::parse(BuildSqlConnectionString());
  EXPECT_EQ(cs.value("provider"), "SQLOLEDB.1");
  EXPECT_EQ(cs.value("DATA SOURCE"), "(local)");
  EXPECT_EQ(cs.value("Initial Catalog"), "qz");
  EXPECT_EQ(cs.value("Password"), "");
  EXPECT_TRUE(cs.has("Password"));
  EXPECT_EQ(cs.value("Initial File Name"), "/srv/qz.db");
  EXPECT_EQ(cs.value("Integrated Security"), "SSPI");
  EXPECT_EQ(cs.value("Use Encryption for Data"), "False");
  auto again = db::ConnectionString::parse(cs.toString());
  EXPECT_EQ(again.pairs(), cs.pairs());
}

TEST_F(AppDirTest, LinesHoldingSeparatorsOrQuotesStayOneValue) {
  dir.write("system.ini", "\nsa\np;w\nqz9;Initial Catalog=master\n\"x\"y\nAPP1\n");
  auto cs = db::ConnectionString::parse(BuildSqlConnectionString());
  EXPECT_EQ(cs.value("Password"), "p;w");
  EXPECT_EQ(cs.value("Initial Catalog"), "qz9;Initial Catalog=master");
  EXPECT_EQ(cs.value("Initial File Name"), "\"x\"y");
  EXPECT_EQ(cs.pairs().size(), 12u);
}

TEST_F(AppDirTest, ModuleTextSaysWhichSettingsFileIsUnusableAndWhatItHolds) {
  for (bool folder : {false, true}) {
    if (folder) std::filesystem::create_directory(dir.file("system.ini"));
    try {
      ModuleConnectionString();
      ADD_FAILURE() << "no error, folder=" << folder;
    } catch (const std::runtime_error& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find(dir.file("system.ini") + (folder ? " is not a file" : " is missing")),
                std::string::npos)
          << what;
      EXPECT_NE(what.find("4 the database name"), std::string::npos) << what;
    }
  }
  std::filesystem::remove(dir.file("system.ini"));
  dir.write("system.ini", "\nsa\n\nqz\n");
  EXPECT_EQ(ModuleConnectionString(), BuildSqlConnectionString());
}

TEST_F(AppDirTest, AccessText) {
  EXPECT_EQ(BuildAccessConnectionString(),
            "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=;Persist Security Info=False;"
            "Jet OLEDB:Database Password=");
  dir.write("express.ini", "/srv/export.mdb\r\nsecret\r\n");
  EXPECT_EQ(BuildAccessConnectionString(),
            "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/srv/export.mdb;"
            "Persist Security Info=False;Jet OLEDB:Database Password=secret");
}

TEST(ConnectionStringTest, QuotedValuesHoldSeparatorsAndRoundTrip) {
  auto cs = db::ConnectionString::parse(
      "Provider=SQLOLEDB.1; Password='a;b=c' ;User ID=\"it's\";Data Source=x;;Flag");
  EXPECT_EQ(cs.value("password"), "a;b=c");
  EXPECT_EQ(cs.value("user id"), "it's");
  EXPECT_TRUE(cs.has("flag"));
  EXPECT_FALSE(cs.has("Initial Catalog"));
  cs.set("initial catalog", "master");
  cs.set("DATA SOURCE", "y");
  EXPECT_TRUE(cs.remove("flag"));
  auto again = db::ConnectionString::parse(cs.toString());
  EXPECT_EQ(again.pairs(), cs.pairs());
  EXPECT_EQ(again.value("Data Source"), "y");
  EXPECT_EQ(again.pairs().back().first, "initial catalog");
  // A key named twice: the value set is the one every lookup then finds.
  auto twice = db::ConnectionString::parse("Initial Catalog=qz;Data Source=;Initial Catalog=qz9");
  twice.set("Initial Catalog", "master");
  EXPECT_EQ(db::ConnectionString::parse(twice.toString()).value("Initial Catalog"), "master");
}

TEST(SysInfoIniTest, DefaultsForMissingFileSectionOrKey) {
  TempDir d;
  SysInfoIni ini(d.file("sysinfo.ini"));
  EXPECT_EQ(ini.readInteger(ini::kBackUp, ini::kBeforeDays, ini::kBeforeDaysDefault), 60);
  EXPECT_EQ(ini.readInteger(ini::kBackUp, ini::kOpenTimes, ini::kOpenTimesDefault), 3);
  EXPECT_EQ(ini.readString(ini::kConsts, ini::kSystemName, ini::kSystemNameDefault), "岚舟软件");
  d.write("sysinfo.ini", "[Other]\nBeforeDays=5\n[BackUp]\nDatabase=qz9\n");
  EXPECT_EQ(ini.readInteger("BackUp", "BeforeDays", 60), 60);
  EXPECT_EQ(ini.readString("backup", "DATABASE", "qz1"), "qz9");
}

TEST(SysInfoIniTest, IntegersInDecimalAndHexElseDefault) {
  TempDir d;
  SysInfoIni ini(d.file("sysinfo.ini"));
  const std::pair<const char*, int> cases[] = {
      {"0x10", 16}, {"0X1f", 31}, {"$20", 32},   {"42", 42}, {"-7", -7},         {" 12 ", 12},
      {"word", 60}, {"", 60},     {"12abc", 60}, {"0x", 60}, {"99999999999", 60}};
  for (auto [text, expected] : cases) {
    d.write("sysinfo.ini", std::string("[BackUp]\r\nBeforeDays=") + text + "\r\n");
    EXPECT_EQ(ini.readInteger("BackUp", "BeforeDays", 60), expected) << text;
  }
}

TEST(SysInfoIniTest, ValuesAreTrimmedUnquotedAndCut) {
  TempDir d;
  SysInfoIni ini(d.file("sysinfo.ini"));
  d.write("sysinfo.ini",
          "[Consts]\r\n  SystemName =  岚舟大酒店  \r\nGatheringObj=\"系统管理\"\r\n"
          "long=" +
              std::string(3000, 'x') + "\r\n");
  EXPECT_EQ(ini.readString("consts", "systemname", ""), "岚舟大酒店");
  EXPECT_EQ(ini.readString("Consts", "GatheringObj", ""), "系统管理");
  EXPECT_EQ(ini.readString("Consts", "long", "").size(), 2047u);
}

TEST(SysInfoIniTest, ReadsThroughEveryEditOfTheFile) {
  TempDir d;
  SysInfoIni ini(d.file("sysinfo.ini"));
  d.write("sysinfo.ini", "[BackUp]\nOpenTimes=5\n");
  EXPECT_EQ(ini.readInteger("BackUp", "OpenTimes", 3), 5);
  d.write("sysinfo.ini", "[BackUp]\nOpenTimes=7\n");
  EXPECT_EQ(ini.readInteger("BackUp", "OpenTimes", 3), 7);
}

TEST(SysInfoIniTest, GbkFileIsReadAndWrittenBackAsUtf8) {
  TempDir d;
  SysInfoIni ini(d.file("sysinfo.ini"));
  d.write("sysinfo.ini", "[Consts]\r\nsystemname=\xe1\xb0\xd6\xdb\r\n");  // "岚舟" in GBK
  EXPECT_EQ(ini.readString("Consts", "systemname", ""), "岚舟");
  ini.writeString("Login", "user0", "张三");
  EXPECT_EQ(d.read("sysinfo.ini"), "[Consts]\r\nsystemname=岚舟\r\n\r\n[Login]\r\nuser0=张三\r\n");
}

TEST(SysInfoIniTest, WriteKeepsEverythingElseAndTheLineEnds) {
  TempDir d;
  SysInfoIni ini(d.file("sysinfo.ini"));
  const std::string before =
      "; settings of the hotel\n[Login]\nUser0=old\nuser1=b\n\n[Consts]\nsystemname=X\n";
  d.write("sysinfo.ini", before);
  ini.writeString("login", "user0", "new");
  ini.writeString("Login", "user2", "c");
  EXPECT_EQ(d.read("sysinfo.ini"),
            "; settings of the hotel\n[Login]\nUser0=new\nuser1=b\nuser2=c\n\n[Consts]\n"
            "systemname=X\n");
}

TEST(SysInfoIniTest, FailedWriteRaisesAndLeavesTheOldFileWhole) {
  TempDir d;
  const std::string path = d.file("sysinfo.ini");
  const std::string before = "[Login]\r\nuser0=" + std::string(4000, 'a') + "\r\n";
  d.write("sysinfo.ini", before);
  SysInfoIni ini(path);
  // A file size limit below the new content makes the write of the
  // temporary file fail half way, as a full disk would.
  struct rlimit old;
  getrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 1024;
  setrlimit(RLIMIT_FSIZE, &small);
  try {
    ini.writeString("Login", "user1", "b");
    ADD_FAILURE() << "the write should have failed";
  } catch (const IniWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
  }
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(d.read("sysinfo.ini"), before);
  // No temporary file is left behind.
  size_t files = 0;
  for (auto& e : std::filesystem::directory_iterator(d.path())) (void)e, ++files;
  EXPECT_EQ(files, 1u);
}

TEST(SysInfoIniTest, WriteIntoMissingFolderRaises) {
  SysInfoIni ini("/nonexistent-folder-qz/sysinfo.ini");
  EXPECT_THROW(ini.writeString("Login", "user0", "x"), IniWriteError);
}

}  // namespace
}  // namespace qz::server

namespace qz::server {
namespace {

TEST(WriteSystemIniTest, SevenCrLfLinesOwnerOnlyAndReadBackTheSame) {
  qz::testing::TempDir d;
  setAppDir(d.path());
  // Mode of the old file (0 = none) -> mode of the new one: never readable
  // by others; a group that could write keeps its access.
  for (auto [before, after] :
       {std::pair{0, 0600}, {0644, 0600}, {0640, 0600}, {0660, 0660}, {0666, 0660}}) {
    SCOPED_TRACE(before);
    ::unlink(d.file("system.ini").c_str());
    if (before) {
      d.write("system.ini", "old\n");
      ASSERT_EQ(::chmod(d.file("system.ini").c_str(), before), 0);
    }
    WriteSystemIni({"服务器,1433", "sa", "p;w", "qz", "/srv/qz.mdf", "APP1", ""});
    struct stat st;
    ASSERT_EQ(::stat(d.file("system.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, static_cast<mode_t>(after));
  }
  EXPECT_EQ(d.read("system.ini"), "服务器,1433\r\nsa\r\np;w\r\nqz\r\n/srv/qz.mdf\r\nAPP1\r\n\r\n");
  EXPECT_EQ(ReadSystemIniLine(1), "服务器,1433");
  EXPECT_EQ(ReadSystemIniLine(3), "p;w");
  EXPECT_EQ(ReadSystemIniLine(7), "");
  setAppDir("");
}

}  // namespace
}  // namespace qz::server
