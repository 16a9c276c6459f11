// A fresh application database on either engine and a module instance on
// it, for the posting tests: deltas are built against the fields the
// provider itself reports, applied through the provider, and the database
// is read back to check what was written.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "platform/db/connection.h"
#include "platform/provider/provider.h"
#include "services/hotel_module.h"
#include "tests/server/temp_dir.h"

namespace qz::testing {

enum class Engine { Embedded, PostgreSQL };
std::string engineLabel(const ::testing::TestParamInfo<Engine>& info);
inline void PrintTo(Engine e, std::ostream* os) {
  *os << (e == Engine::Embedded ? "Embedded" : "PostgreSQL");
}

using Values = std::vector<std::pair<std::string, Variant>>;

class PostingTest : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A second connection to the same database, for setting up and checking.
  db::Connection& check() { return *check_; }
  int64_t scalar(const std::string& sql);
  void exec(const std::string& sql) { check().execute(sql); }

  // The provider's delta shape: its packet fields with nested details.
  static provider::Delta emptyDelta(provider::Provider& p);
  // A row of kind with the given new values (insert: every other field
  // null, as a client that left it empty sends it) and old values.
  static provider::DeltaRow row(const std::vector<db::FieldDef>& fields, provider::UpdateKind kind,
                                const Values& newValues, const Values& oldValues = {});
  // The fields of the detail dataset named name inside fields.
  static const std::vector<db::FieldDef>& detailFields(const std::vector<db::FieldDef>& fields,
                                                       const std::string& name);
  // Appends a detail row to master under the detail named name.
  static void addDetail(const std::vector<db::FieldDef>& fields, provider::DeltaRow& master,
                        const std::string& name, provider::DeltaRow detail);

  struct Result {
    int errorCount = 0;
    provider::ErrorPacket errors;
    Variant ownerData;
  };
  Result apply(provider::Provider& p, provider::Delta& d, int maxErrors = -1,
               Variant ownerData = Variant::null());

  std::string connectionText_;
  services::ModuleEnvironment env_;
  std::vector<std::vector<std::string>> activity_;

 private:
  std::unique_ptr<TempDir> dir_;
  std::unique_ptr<db::Connection> check_;
  std::string pgDatabase_;
};

}  // namespace qz::testing
