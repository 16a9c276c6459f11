// Fresh databases for tests, on both engines: an embedded database in a
// temporary data folder, or a uniquely named database on the PostgreSQL test
// server named by QZ_TEST_PG_HOST / QZ_TEST_PG_PORT / QZ_TEST_PG_USER.
//
// Each TestDatabase owns its database and removes it when destroyed. The
// embedded one points the process-wide data folder at its temporary folder
// for its lifetime (tests run one at a time in a process).
#pragma once

#include <memory>
#include <ostream>
#include <string>

namespace qz::testing {

enum class TestEngine { Embedded, PostgreSQL };

const char* testEngineName(TestEngine engine);
inline std::ostream& operator<<(std::ostream& os, TestEngine e) { return os << testEngineName(e); }

class TestDatabase {
 public:
  // A fresh, empty database, or nullptr when the engine is not available
  // (PostgreSQL without the environment; a loud "POSTGRESQL TESTS SKIPPED"
  // line is printed once). Throws std::runtime_error when creation fails.
  static std::unique_ptr<TestDatabase> create(TestEngine engine);
  ~TestDatabase();
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  TestEngine engine() const { return engine_; }
  // The connection text as the system composes it, opening this database.
  const std::string& connectionString() const { return text_; }
  // The database's name (Initial Catalog).
  const std::string& name() const { return name_; }
  // The embedded data folder (empty for PostgreSQL).
  const std::string& dataDir() const { return dataDir_; }
  // The connection text for another catalog on the same server/folder.
  std::string connectionStringFor(const std::string& catalog,
                                  const std::string& initialFileName = "") const;

 private:
  TestDatabase() = default;

  TestEngine engine_ = TestEngine::Embedded;
  std::string text_;
  std::string name_;
  std::string dataDir_;
  std::string previousDataDir_;
  std::string source_;  // Data Source
  std::string user_;
};

// Whether the PostgreSQL test server is configured.
bool postgresAvailable();

}  // namespace qz::testing
