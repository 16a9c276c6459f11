// The columns a request's records are resolved against: looked up once per
// table and request, a failed lookup is not kept, and the next request sees
// a changed table. Both engines; PostgreSQL cases skip loudly when no test
// server is configured.
#include <gtest/gtest.h>

#include "platform/db/connection.h"
#include "platform/provider/resolver.h"
#include "tests/platform/test_databases.h"

namespace qz::provider {
namespace {

using testing::TestDatabase;
using testing::TestEngine;

class TableColumnsTest : public ::testing::TestWithParam<TestEngine> {
 protected:
  void SetUp() override {
    db_ = TestDatabase::create(GetParam());
    if (!db_) GTEST_SKIP() << "PostgreSQL test server not configured";
    conn_.setConnectionString(db_->connectionString());
  }
  void TearDown() override { conn_.close(); }

  static std::string names(const std::vector<FieldDef>& fields) {
    std::string out;
    for (const auto& f : fields) out += f.name + ";";
    return out;
  }

  std::unique_ptr<TestDatabase> db_;
  db::Connection conn_;
};

TEST_P(TableColumnsTest, LookedUpOncePerRequestAndAfreshInTheNext) {
  TableColumns request(conn_);
  // A table that does not exist yet: the failure is not remembered.
  EXPECT_THROW(request.of("items"), std::exception);
  conn_.execute("create table items (bnum int not null, inum int not null, name varchar(10))");
  EXPECT_EQ(names(request.of("items")), "bnum;inum;name;");

  conn_.execute("alter table items add memo varchar(20)");
  EXPECT_EQ(names(request.of("items")), "bnum;inum;name;");  // same request
  TableColumns next(conn_);
  EXPECT_EQ(names(next.of("items")), "bnum;inum;name;memo;");
}

TEST_P(TableColumnsTest, RecordsOfOneRequestShareTheLookup) {
  conn_.execute("create table items (bnum int not null, inum int not null, name varchar(10))");
  std::vector<FieldDef> fields(3);
  fields[0].name = "bnum";
  fields[0].type = FieldType::Int32;
  fields[1].name = "inum";
  fields[1].type = FieldType::Int32;
  fields[2].name = "name";
  fields[2].type = FieldType::String;
  TableColumns request(conn_);
  for (int i = 1; i <= 3; ++i) {
    DeltaRow row = makeDeltaRow(fields, UpdateKind::Insert);
    row.newValues = {Variant(int32_t(7)), Variant(int32_t(i)), Variant("item" + std::to_string(i))};
    resolveRecord(conn_, request, "items", fields, row);
  }
  // A change the request's lookup does not know is refused like any field
  // the table lacks, not written somewhere else.
  conn_.execute("alter table items add memo varchar(20)");
  std::vector<FieldDef> withMemo = fields;
  withMemo.push_back(fields[2]);
  withMemo[3].name = "memo";
  DeltaRow row = makeDeltaRow(withMemo, UpdateKind::Insert);
  row.newValues = {Variant(int32_t(7)), Variant(int32_t(4)), Variant("x"), Variant("m")};
  EXPECT_THROW(resolveRecord(conn_, request, "items", withMemo, row), std::runtime_error);
  // The next request knows the new column.
  TableColumns next(conn_);
  resolveRecord(conn_, next, "items", withMemo, row);
  auto c = conn_.query("select count(*), max(memo) from items where bnum = 7");
  ASSERT_TRUE(c->next());
  EXPECT_EQ(c->row()[0].toInt32(), 4);
  EXPECT_EQ(c->row()[1].toText(), "m");
}

INSTANTIATE_TEST_SUITE_P(Engines, TableColumnsTest,
                         ::testing::Values(TestEngine::Embedded, TestEngine::PostgreSQL),
                         [](const auto& info) {
                           return std::string(testing::testEngineName(info.param));
                         });

}  // namespace
}  // namespace qz::provider
