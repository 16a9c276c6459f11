// Releasing an instance on disconnect rolls back the transaction it left
// open, on a real SQLite file: what was committed stays, what was not is
// gone, and the database is not left locked.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>

#include "platform/remote/host.h"
#include "tests/platform/remote_test_support.h"

namespace qz::remote {
namespace {

using testing::LineClient;
using testing::waitFor;

// "insert" {name} (opens a transaction when none is open), "commit".
class SqliteObject : public RemoteObject {
 public:
  explicit SqliteObject(const std::string& path, std::atomic<int>& rollbacks)
      : rollbacks_(rollbacks) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("cannot open");
    sqlite3_busy_timeout(db_, 2000);
  }
  ~SqliteObject() override { sqlite3_close(db_); }

  void call(std::string_view method, const rapidjson::Value& params, JsonWriter& w) override {
    if (method == "insert") {
      if (!inTransaction_) exec("BEGIN IMMEDIATE");
      inTransaction_ = true;
      std::string sql = "INSERT INTO t(name) VALUES ('" + std::string(params["name"].GetString()) +
                        "')";  // test data only
      exec(sql.c_str());
    } else if (method == "commit") {
      exec("COMMIT");
      inTransaction_ = false;
    } else {
      throw RemoteError("Method not found", 0, {}, {}, -32601);
    }
    w.StartObject();
    w.EndObject();
  }

  void release() noexcept override {
    if (inTransaction_) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      ++rollbacks_;
    }
    inTransaction_ = false;
  }

 private:
  void exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
      std::string message = err ? err : "sqlite error";
      sqlite3_free(err);
      throw std::runtime_error(message);
    }
  }

  sqlite3* db_ = nullptr;
  bool inTransaction_ = false;
  std::atomic<int>& rollbacks_;
};

int countNamed(const std::string& path, const char* name) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT count(*) FROM t WHERE name = ?", -1, &st, nullptr);
  sqlite3_bind_text(st, 1, name, -1, SQLITE_TRANSIENT);
  int n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : -1;
  sqlite3_finalize(st);
  sqlite3_close(db);
  return n;
}

TEST(HostRollbackTest, DisconnectRollsBackTheOpenTransactionOfARealDatabase) {
  std::string path = (std::filesystem::temp_directory_path() /
                      ("qz-remote-rollback-" + std::to_string(getpid()) + ".db"))
                         .string();
  std::filesystem::remove(path);
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "CREATE TABLE t(name TEXT)", nullptr, nullptr, nullptr));
    sqlite3_close(db);
  }
  std::atomic<int> rollbacks{0};
  testing::LoopThread window;
  HostOptions options;
  HostedClass c;
  c.name = "db_dm";
  c.progId = "TestServer.db_dm";
  c.clsid = "{22222222-2222-3333-4444-555555555555}";
  c.factory = [&]() -> std::unique_ptr<RemoteObject> {
    return std::make_unique<SqliteObject>(path, rollbacks);
  };
  options.classes.push_back(c);
  options.listen.push_back("127.0.0.1:0");
  Host host(std::move(options), window.loop);
  host.start();
  uint16_t port = host.ports().at(0);

  {
    LineClient a(port);
    ASSERT_TRUE(a.call("create", R"({"class":"db_dm"})").HasMember("result"));
    ASSERT_TRUE(a.call("insert", R"({"name":"kept"})").HasMember("result"));
    ASSERT_TRUE(a.call("commit").HasMember("result"));
    ASSERT_TRUE(a.call("insert", R"({"name":"lost"})").HasMember("result"));
    ASSERT_TRUE(a.call("insert", R"({"name":"lost"})").HasMember("result"));
    // The connection drops with the transaction open.
  }
  ASSERT_TRUE(waitFor([&] { return rollbacks == 1 && host.instanceCount() == 0; }));
  EXPECT_EQ(1, countNamed(path, "kept"));
  EXPECT_EQ(0, countNamed(path, "lost"));

  // The write lock went with the rollback: another instance can write.
  LineClient b(port);
  ASSERT_TRUE(b.call("create", R"({"class":"db_dm"})").HasMember("result"));
  auto inserted = b.call("insert", R"({"name":"later"})");
  EXPECT_TRUE(inserted.HasMember("result")) << testing::errorMessage(inserted);
  EXPECT_TRUE(b.call("commit").HasMember("result"));
  EXPECT_EQ(1, countNamed(path, "later"));
  host.stop();
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace qz::remote
