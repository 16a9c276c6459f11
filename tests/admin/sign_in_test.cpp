// The administrator sign-in and the password change against a real
// embedded demo database (users: admin/admin with popedom 1..., cashier
// with popedom 0..., front with another mark).
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "admin/sign_in.h"
#include "database/create_database.h"
#include "platform/db/connection.h"

namespace qz::admin {
namespace {

const char* const kMark = "系统管理";

class SignInTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new std::filesystem::path(std::filesystem::temp_directory_path() /
                                     ("qz_signin_" + std::to_string(::getpid())));
    std::filesystem::create_directories(*dir_ / "data");
    db::setEmbeddedDataDir((*dir_ / "data").string() + "/");
    database::createDatabase(ConnText(), {.demo = true, .demoRows = 20});
  }
  static void TearDownTestSuite() {
    std::filesystem::remove_all(*dir_);
    delete dir_;
  }
  static std::string ConnText() {
    return "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=;Password=;"
           "Initial Catalog=qzsignin;Data Source=;Use Procedure for Prepare=1;"
           "Auto Translate=True;Packet Size=4096;Workstation ID=;Initial File Name=;"
           "Use Encryption for Data=False";
  }
  void SetUp() override {
    conn_ = std::make_unique<db::Connection>();
    conn_->setConnectionString(ConnText());
    query_ = std::make_unique<db::Query>(conn_.get());
  }
  bool signIn(const std::string& name, const std::string& psw, const std::string& mark = kMark) {
    return CheckAdminSignIn(*conn_, *query_, name, psw, mark);
  }
  static std::filesystem::path* dir_;
  std::unique_ptr<db::Connection> conn_;
  std::unique_ptr<db::Query> query_;
};
std::filesystem::path* SignInTest::dir_ = nullptr;

TEST_F(SignInTest, RightPasswordWithAdministratorRightsSucceeds) {
  EXPECT_FALSE(conn_->isOpen());
  EXPECT_TRUE(signIn("admin", "admin"));
  EXPECT_TRUE(conn_->isOpen());  // opened when first used, stays open
}

TEST_F(SignInTest, WrongNamePasswordOrMarkFails) {
  EXPECT_FALSE(signIn("admin", "wrong"));
  EXPECT_FALSE(signIn("nobody", "admin"));
  EXPECT_FALSE(signIn("admin", "admin", "前台收银"));
  EXPECT_FALSE(signIn("", ""));
}

TEST_F(SignInTest, PopedomBeginningWithZeroOrEmptyOrNullFails) {
  EXPECT_FALSE(signIn("cashier", "123"));  // popedom "0100000000"
  conn_->ensureOpen();
  conn_->execute("insert into users (id, psw, mark, popedom) values ('emptyp', 'x', '系统管理', '')");
  conn_->execute("insert into users (id, psw, mark, popedom) values ('nullp', 'x', '系统管理', NULL)");
  EXPECT_FALSE(signIn("emptyp", "x"));
  EXPECT_FALSE(signIn("nullp", "x"));
  // The front desk user has rights but belongs to another application.
  EXPECT_FALSE(signIn("front", "123"));
  EXPECT_TRUE(signIn("front", "123", "前台收银"));
}

TEST_F(SignInTest, QuotesInTypedTextCannotChangeTheStatement) {
  EXPECT_FALSE(signIn("admin", "' or '1'='1"));
  EXPECT_FALSE(signIn("admin' --", "x"));
  conn_->ensureOpen();
  conn_->execute("insert into users (id, psw, mark, popedom) values ('o''neil', 'it''s', '系统管理', '1')");
  EXPECT_TRUE(signIn("o'neil", "it's"));
}

TEST_F(SignInTest, PasswordChangeTakesEffectAndBindsTheTexts) {
  conn_->ensureOpen();
  conn_->execute("insert into users (id, psw, mark, popedom) values ('chg', 'old', '系统管理', '1')");
  ChangeAdminPassword(*conn_, *query_, "新口令'1", "chg", kMark);
  EXPECT_FALSE(signIn("chg", "old"));
  EXPECT_TRUE(signIn("chg", "新口令'1"));
  // Two empty edits set the empty password.
  ChangeAdminPassword(*conn_, *query_, "", "chg", kMark);
  EXPECT_TRUE(signIn("chg", ""));
  // Only the row of the given mark changes.
  conn_->execute("insert into users (id, psw, mark, popedom) values ('chg', 'other', '前台收银', '1')");
  ChangeAdminPassword(*conn_, *query_, "p2", "chg", kMark);
  EXPECT_TRUE(signIn("chg", "other", "前台收银"));
}

TEST_F(SignInTest, DatabaseErrorsAreRaised) {
  // A database that does not exist on the engine.
  db::Connection bad;
  bad.setConnectionString("Provider=SQLOLEDB.1;Initial Catalog=no_such_db;Data Source=;");
  db::Query q(&bad);
  EXPECT_THROW(CheckAdminSignIn(bad, q, "admin", "admin", kMark), std::exception);
  // A users table without the popedom column: the missing field is an
  // error, not a refused sign-in.
  const std::string text = "Provider=SQLOLEDB.1;Initial Catalog=qzsignin_nopopedom;Data Source=;";
  database::createDatabase(text, {});
  db::Connection old;
  old.setConnectionString(text);
  old.open();
  old.execute("drop table users");
  old.execute("create table users (id varchar(10), psw varchar(20), mark varchar(20))");
  old.execute("insert into users (id, psw, mark) values ('admin', 'admin', '系统管理')");
  db::Query oq(&old);
  EXPECT_THROW(CheckAdminSignIn(old, oq, "admin", "admin", kMark), db::DbError);
}

}  // namespace
}  // namespace qz::admin
