// The administrator sign-in and the password change against a real
// embedded demo database (users: admin/admin with popedom 1..., cashier
// with popedom 0..., front with another mark).
#include "admin/sign_in.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>

#include "database/create_database.h"
#include "platform/db/connection.h"

namespace qz::admin {
namespace {

const char* const kMark = "系统管理";

// One database per engine for the whole suite: the embedded engine always,
// PostgreSQL when the test script has started a server.
struct Site {
  std::string connText;
  std::string dropText;  // a connection to the maintenance database (PostgreSQL)
  std::string dropName;
};

std::string Compose(const std::string& server, const std::string& user, const std::string& db) {
  return "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=" + user +
         ";Password=;Initial Catalog=" + db + ";Data Source=" + server +
         ";Use Procedure for Prepare=1;Auto Translate=True;Packet Size=4096;Workstation ID=;"
         "Initial File Name=;Use Encryption for Data=False";
}

class SignInTest : public ::testing::TestWithParam<const char*> {
 protected:
  static void SetUpTestSuite() {
    dir_ = new std::filesystem::path(std::filesystem::temp_directory_path() /
                                     ("qz_signin_" + std::to_string(::getpid())));
    std::filesystem::create_directories(*dir_ / "data");
    db::setEmbeddedDataDir((*dir_ / "data").string() + "/");
  }
  static void TearDownTestSuite() {
    for (auto& [engine, site] : sites_) {
      if (site.dropText.empty()) continue;
      try {
        db::Connection c;
        c.setConnectionString(site.dropText);
        c.open();
        c.execute("DROP DATABASE IF EXISTS " + site.dropName + " WITH (FORCE)");
      } catch (const std::exception&) {
      }
    }
    sites_.clear();
    std::filesystem::remove_all(*dir_);
    delete dir_;
  }
  // The database of the engine under test, created with the demo data on
  // first use. Returns false (and skips) when the engine is not available.
  static const Site* SiteFor(const std::string& engine) {
    if (auto it = sites_.find(engine); it != sites_.end()) return &it->second;
    Site site;
    if (engine == "embedded") {
      site.connText = Compose("", "", "qzsignin");
    } else {
      const char* host = std::getenv("QZ_TEST_PG_HOST");
      const char* port = std::getenv("QZ_TEST_PG_PORT");
      const char* user = std::getenv("QZ_TEST_PG_USER");
      if (host == nullptr || port == nullptr) return nullptr;
      const std::string server = std::string(host) + "," + port;
      const std::string u = user ? user : "postgres";
      site.dropName = "qz_signin_" + std::to_string(::getpid());
      site.connText = Compose(server, u, site.dropName);
      site.dropText = Compose(server, u, "master");
    }
    database::createDatabase(site.connText, {.demo = true, .demoRows = 20, .force = true});
    return &(sites_[engine] = site);
  }
  void SetUp() override {
    site_ = SiteFor(GetParam());
    if (site_ == nullptr)
      GTEST_SKIP() << "POSTGRESQL TESTS SKIPPED: QZ_TEST_PG_HOST/QZ_TEST_PG_PORT not set";
    conn_ = std::make_unique<db::Connection>();
    conn_->setConnectionString(site_->connText);
    query_ = std::make_unique<db::Query>(conn_.get());
  }
  bool signIn(const std::string& name, const std::string& psw, const std::string& mark = kMark) {
    return CheckAdminSignIn(*conn_, *query_, name, psw, mark);
  }
  // Runs a statement on a connection of its own.
  void exec(const std::string& sql) {
    db::Connection c;
    c.setConnectionString(site_->connText);
    c.open();
    c.execute(sql);
  }
  static std::filesystem::path* dir_;
  static std::map<std::string, Site> sites_;
  const Site* site_ = nullptr;
  std::unique_ptr<db::Connection> conn_;
  std::unique_ptr<db::Query> query_;
};
std::filesystem::path* SignInTest::dir_ = nullptr;
std::map<std::string, Site> SignInTest::sites_;

TEST_P(SignInTest, RightPasswordWithAdministratorRightsSucceeds) {
  EXPECT_FALSE(conn_->isOpen());
  EXPECT_TRUE(signIn("admin", "admin"));
  EXPECT_TRUE(conn_->isOpen());  // opened when first used, stays open
}

TEST_P(SignInTest, WrongNamePasswordOrMarkFails) {
  EXPECT_FALSE(signIn("admin", "wrong"));
  EXPECT_FALSE(signIn("nobody", "admin"));
  EXPECT_FALSE(signIn("admin", "admin", "前台收银"));
  EXPECT_FALSE(signIn("", ""));
}

TEST_P(SignInTest, PopedomBeginningWithZeroOrEmptyOrNullFails) {
  EXPECT_FALSE(signIn("cashier", "123"));  // popedom "0100000000"
  exec("insert into users (id, psw, mark, popedom) values ('emptyp', 'x', '系统管理', '')");
  exec("insert into users (id, psw, mark, popedom) values ('nullp', 'x', '系统管理', NULL)");
  EXPECT_FALSE(signIn("emptyp", "x"));
  EXPECT_FALSE(signIn("nullp", "x"));
  // The front desk user has rights but belongs to another application.
  EXPECT_FALSE(signIn("front", "123"));
  EXPECT_TRUE(signIn("front", "123", "前台收银"));
}

TEST_P(SignInTest, QuotesInTypedTextCannotChangeTheStatement) {
  EXPECT_FALSE(signIn("admin", "' or '1'='1"));
  EXPECT_FALSE(signIn("admin' --", "x"));
  exec("insert into users (id, psw, mark, popedom) values ('o''neil', 'it''s', '系统管理', '1')");
  EXPECT_TRUE(signIn("o'neil", "it's"));
}

TEST_P(SignInTest, PasswordChangeTakesEffectAndBindsTheTexts) {
  exec("insert into users (id, psw, mark, popedom) values ('chg', 'old', '系统管理', '1')");
  ChangeAdminPassword(*conn_, *query_, "新口令'1", "chg", kMark);
  EXPECT_FALSE(signIn("chg", "old"));
  EXPECT_TRUE(signIn("chg", "新口令'1"));
  // Two empty edits set the empty password.
  ChangeAdminPassword(*conn_, *query_, "", "chg", kMark);
  EXPECT_TRUE(signIn("chg", ""));
  // Only the row of the given mark changes.
  exec("insert into users (id, psw, mark, popedom) values ('chg', 'other', '前台收银', '1')");
  ChangeAdminPassword(*conn_, *query_, "p2", "chg", kMark);
  EXPECT_TRUE(signIn("chg", "other", "前台收银"));
}

TEST_P(SignInTest, DatabaseErrorsAreRaised) {
  // A database that does not exist on the engine.
  std::string text = site_->connText;
  const std::string from = "Initial Catalog=", to = "Initial Catalog=no_such_db_x";
  const size_t at = text.find(from);
  text.replace(at, text.find(';', at) - at, to);
  db::Connection bad;
  bad.setConnectionString(text);
  db::Query q(&bad);
  EXPECT_THROW(CheckAdminSignIn(bad, q, "admin", "admin", kMark), std::exception);
}

TEST(SignInEmbeddedTest, TableWithoutPopedomIsAnError) {
  // A users table without the popedom column: the missing field is an
  // error, not a refused sign-in.
  const auto dir =
      std::filesystem::temp_directory_path() / ("qz_nopop_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir / "data");
  db::setEmbeddedDataDir((dir / "data").string() + "/");
  const std::string text = Compose("", "", "qzsignin_nopopedom");
  database::createDatabase(text, {});
  db::Connection old;
  old.setConnectionString(text);
  old.open();
  old.execute("drop table users");
  old.execute("create table users (id varchar(10), psw varchar(20), mark varchar(20))");
  old.execute("insert into users (id, psw, mark) values ('admin', 'admin', '系统管理')");
  db::Query oq(&old);
  EXPECT_THROW(CheckAdminSignIn(old, oq, "admin", "admin", kMark), db::DbError);
  old.close();
  std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Engines, SignInTest, ::testing::Values("embedded", "postgresql"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace qz::admin
