// Fresh test databases on both engines; see test_databases.h.
#include "tests/platform/test_databases.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "platform/db/connection.h"

namespace qz::testing {
namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string composeText(const std::string& user, const std::string& catalog,
                        const std::string& source, const std::string& fileName) {
  return "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=" + user +
         ";Password=;Initial Catalog=" + catalog + ";Data Source=" + source +
         ";Use Procedure for Prepare=1;Auto Translate=True;Packet Size=4096;"
         "Workstation ID=test;Initial File Name=" +
         fileName + ";Use Encryption for Data=False";
}

// Runs one statement on the server's maintenance database.
void pgAdmin(const std::string& sql) {
  const std::string conninfo =
      "host=" + env("QZ_TEST_PG_HOST") + " port=" + env("QZ_TEST_PG_PORT") +
      " user=" + env("QZ_TEST_PG_USER") + " dbname=postgres connect_timeout=10";
  PGconn* c = PQconnectdb(conninfo.c_str());
  if (PQstatus(c) != CONNECTION_OK) {
    std::string msg = PQerrorMessage(c);
    PQfinish(c);
    throw std::runtime_error("PostgreSQL test server: " + msg);
  }
  PGresult* r = PQexec(c, sql.c_str());
  const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
  std::string msg = PQerrorMessage(c);
  PQclear(r);
  PQfinish(c);
  if (!ok) throw std::runtime_error("PostgreSQL test server: " + msg);
}

std::atomic<int> counter{0};

}  // namespace

const char* testEngineName(TestEngine engine) {
  return engine == TestEngine::Embedded ? "Embedded" : "PostgreSQL";
}

bool postgresAvailable() {
  const bool ok = !env("QZ_TEST_PG_HOST").empty() && !env("QZ_TEST_PG_PORT").empty();
  static std::atomic<bool> warned{false};
  if (!ok && !warned.exchange(true)) {
    std::fprintf(stderr,
                 "\n*************************************************************\n"
                 "POSTGRESQL TESTS SKIPPED: QZ_TEST_PG_HOST/QZ_TEST_PG_PORT unset\n"
                 "*************************************************************\n\n");
  }
  return ok;
}

std::unique_ptr<TestDatabase> TestDatabase::create(TestEngine engine) {
  std::unique_ptr<TestDatabase> db(new TestDatabase);
  db->engine_ = engine;
  const int n = counter++;
  db->name_ = "qztest_" + std::to_string(getpid()) + "_" + std::to_string(n);
  if (engine == TestEngine::Embedded) {
    std::string templ = (std::filesystem::temp_directory_path() / "qz-db-XXXXXX").string();
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    db->dataDir_ = templ + "/";
    db->previousDataDir_ = db::embeddedDataDir();
    db::setEmbeddedDataDir(db->dataDir_);
    db->source_ = "";
    db->user_ = "sa";
    db::Connection master;
    master.setConnectionString(db->connectionStringFor("master"));
    master.execute("CREATE DATABASE " + db->name_);
  } else {
    if (!postgresAvailable()) {
      db->name_.clear();  // nothing to drop
      return nullptr;
    }
    db->source_ = env("QZ_TEST_PG_HOST") + "," + env("QZ_TEST_PG_PORT");
    db->user_ = env("QZ_TEST_PG_USER").empty() ? "postgres" : env("QZ_TEST_PG_USER");
    pgAdmin("CREATE DATABASE " + db->name_);
  }
  db->text_ = db->connectionStringFor(db->name_);
  return db;
}

std::string TestDatabase::connectionStringFor(const std::string& catalog,
                                              const std::string& initialFileName) const {
  return composeText(user_, catalog, source_, initialFileName);
}

TestDatabase::~TestDatabase() {
  if (name_.empty()) return;
  try {
    if (engine_ == TestEngine::Embedded) {
      db::setEmbeddedDataDir(previousDataDir_);
      std::error_code ec;
      std::filesystem::remove_all(dataDir_, ec);
    } else {
      pgAdmin("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "test database %s not removed: %s\n", name_.c_str(), e.what());
  }
}

}  // namespace qz::testing
