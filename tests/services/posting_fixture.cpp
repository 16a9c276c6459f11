// Databases and deltas for the posting tests.
#include "tests/services/posting_fixture.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>

#include "database/create_database.h"
#include "platform/packet/packet.h"

namespace qz::testing {

std::string engineLabel(const ::testing::TestParamInfo<Engine>& info) {
  return info.param == Engine::Embedded ? "Embedded" : "PostgreSQL";
}

void PostingTest::SetUp() {
  static std::atomic<int> serial{0};
  const std::string name = "qz_post_" + std::to_string(getpid()) + "_" + std::to_string(serial++);
  if (GetParam() == Engine::Embedded) {
    dir_ = std::make_unique<TempDir>();
    db::setEmbeddedDataDir(dir_->path() + "data/");
    connectionText_ =
        "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=;Password=;"
        "Initial Catalog=" +
        name + ";Data Source=;Initial File Name=;";
  } else {
    const char* host = std::getenv("QZ_TEST_PG_HOST");
    const char* port = std::getenv("QZ_TEST_PG_PORT");
    const char* user = std::getenv("QZ_TEST_PG_USER");
    if (!host || !port) GTEST_SKIP() << "POSTGRESQL TESTS SKIPPED: no test server (QZ_TEST_PG_*)";
    pgDatabase_ = name;
    connectionText_ = std::string("Provider=SQLOLEDB.1;User ID=") + (user ? user : "postgres") +
                      ";Password=;Initial Catalog=" + name + ";Data Source=" + host + "," + port +
                      ";";
  }
  database::createDatabase(connectionText_, {});
  check_ = std::make_unique<db::Connection>();
  check_->setConnectionString(connectionText_);
  check_->open();
  env_.connectionString = [t = connectionText_] { return t; };
  env_.addActivityEntry = [this](const std::string& o, const std::string& s, const std::string& w) {
    activity_.push_back({o, s, w});
  };
}

void PostingTest::TearDown() {
  check_.reset();
  if (!pgDatabase_.empty()) {
    db::Connection admin;
    std::string text = connectionText_;
    admin.setConnectionString(text.replace(text.find(pgDatabase_), pgDatabase_.size(), "master"));
    try {
      admin.open();
      admin.execute("DROP DATABASE IF EXISTS " + pgDatabase_ + " WITH (FORCE)");
    } catch (...) {
    }
  }
}

int64_t PostingTest::scalar(const std::string& sql) {
  auto c = check().query(sql);
  if (!c->next()) return -1;
  const Variant& v = c->row()[0];
  return v.isNull() ? -1 : v.toInt64();
}

provider::Delta PostingTest::emptyDelta(provider::Provider& p) {
  provider::ReadRequest req;
  req.count = 0;
  provider::Delta d;
  d.fields = p.getRecordsPacket(req).fields;
  return d;
}

provider::DeltaRow PostingTest::row(const std::vector<db::FieldDef>& fields,
                                    provider::UpdateKind kind, const Values& newValues,
                                    const Values& oldValues) {
  provider::DeltaRow r = provider::makeDeltaRow(fields, kind);
  if (kind == provider::UpdateKind::Insert)
    for (size_t i = 0; i < fields.size(); ++i)
      if (fields[i].type != db::FieldType::Dataset) r.newValues[i] = Variant::null();
  for (const auto& [name, v] : newValues) {
    int i = provider::findField(fields, name);
    EXPECT_GE(i, 0) << name;
    if (i >= 0) r.newValues[static_cast<size_t>(i)] = v;
  }
  if (kind != provider::UpdateKind::Insert)
    for (size_t i = 0; i < fields.size(); ++i)
      if (fields[i].type != db::FieldType::Dataset) r.oldValues[i] = Variant::null();
  for (const auto& [name, v] : oldValues) {
    int i = provider::findField(fields, name);
    EXPECT_GE(i, 0) << name;
    if (i >= 0) r.oldValues[static_cast<size_t>(i)] = v;
  }
  return r;
}

const std::vector<db::FieldDef>& PostingTest::detailFields(const std::vector<db::FieldDef>& fields,
                                                           const std::string& name) {
  int i = provider::findField(fields, name);
  EXPECT_GE(i, 0) << name;
  return fields.at(static_cast<size_t>(i)).children;
}

void PostingTest::addDetail(const std::vector<db::FieldDef>& fields, provider::DeltaRow& master,
                            const std::string& name, provider::DeltaRow detail) {
  auto idx = provider::datasetFieldIndexes(fields);
  int f = provider::findField(fields, name);
  for (size_t k = 0; k < idx.size(); ++k)
    if (static_cast<int>(idx[k]) == f) {
      master.details[k].push_back(std::move(detail));
      return;
    }
  ADD_FAILURE() << "no detail " << name;
}

PostingTest::Result PostingTest::apply(provider::Provider& p, provider::Delta& d, int maxErrors,
                                       Variant ownerData) {
  Result r;
  r.ownerData = std::move(ownerData);
  r.errorCount = p.applyUpdates(d, maxErrors, r.ownerData, &r.errors);
  return r;
}

}  // namespace qz::testing
