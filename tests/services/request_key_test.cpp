// Keyed apply-updates requests on a real database of either engine: a
// request sent again is posted once and answered alike, a rolled-back one
// records nothing, a reused key is refused, old keys are removed.
#include <fstream>
#include <thread>

#include "admin/request_key_sweeper.h"
#include "platform/db/request_keys.h"
#include "tests/services/posting_fixture.h"

namespace qz::testing {
namespace {

using provider::UpdateKind;

class RequestKeyTest : public PostingTest {
 protected:
  void SetUp() override {
    PostingTest::SetUp();
    if (IsSkipped()) return;
    exec("insert into CLIENT (id, name) values (17, 'A')");
    module_ = std::make_unique<services::Ttop_dm2>(env_);
  }
  void TearDown() override {
    module_.reset();
    PostingTest::TearDown();
  }

  provider::Delta billDelta(services::Ttop_dm2& m, const char* room, int32_t itemBnum = 0) {
    provider::Provider& p = *m.findProvider("billP");
    provider::Delta d = emptyDelta(p);
    auto bill = row(d.fields, UpdateKind::Insert,
                    {{"num", int32_t{0}}, {"roomid", room}, {"cltid", int32_t{17}}});
    addDetail(d.fields, bill, "billitems",
              row(detailFields(d.fields, "billitems"), UpdateKind::Insert,
                  {{"bnum", itemBnum}, {"inum", int32_t{1}}, {"name", "客房"}}));
    d.rows.push_back(std::move(bill));
    return d;
  }

  struct Keyed : Result {
    bool replayed = false;
  };
  Keyed send(provider::Provider& p, provider::Delta d, const std::string& key,
             Variant ownerData = Variant::null()) {
    Keyed r;
    r.ownerData = std::move(ownerData);
    r.errorCount = p.applyUpdates(d, -1, r.ownerData, &r.errors, key, &r.replayed);
    return r;
  }

  std::unique_ptr<services::Ttop_dm2> module_;
};

TEST_P(RequestKeyTest, SameRequestTwicePostsOnceOnAnyConnection) {
  // A posting rule (billP) and a provider without one (SqlProvider over room).
  services::Ttop_dm2 other(env_);  // a second module: its own connection
  Keyed first = send(*module_->findProvider("billP"), billDelta(*module_, "101"), "k-bill");
  Keyed again = send(*other.findProvider("billP"), billDelta(other, "101"), "k-bill");
  ASSERT_EQ(first.errorCount, 0);
  EXPECT_FALSE(first.replayed);
  EXPECT_TRUE(again.replayed);
  EXPECT_EQ(again.ownerData, first.ownerData);
  EXPECT_EQ(scalar("select count(*) from bills"), 1);
  EXPECT_EQ(scalar("select count(*) from billitems"), 1);

  auto roomInsert = [&](services::Ttop_dm2& m) {
    provider::Provider& p = *m.findProvider("SqlProvider");
    provider::ReadRequest rq;
    rq.count = 0;
    rq.commandText = "select * from room where 1=0";
    provider::Delta d;
    d.fields = p.getRecordsPacket(rq).fields;
    d.rows.push_back(row(d.fields, UpdateKind::Insert, {{"id", "R1"}, {"floor", int32_t{2}}}));
    return send(p, std::move(d), "k-room", Variant("od"));
  };
  Keyed r1 = roomInsert(*module_);
  Keyed r2 = roomInsert(other);  // posted again it would collide on the key: 1 error
  EXPECT_EQ(r1.errorCount, 0);
  EXPECT_EQ(r2.errorCount, 0);
  EXPECT_TRUE(r2.replayed);
  EXPECT_EQ(r2.ownerData, Variant("od"));
  EXPECT_EQ(scalar("select count(*) from room"), 1);
  // The same key on another provider is another request.
  EXPECT_EQ(scalar("select count(*) from qz_request_keys"), 2);
}

TEST_P(RequestKeyTest, RolledBackRequestRecordsNothingAndPostsWhenResent) {
  exec("insert into billitems (bnum, inum, name) values (9001, 1, 'x')");
  provider::Provider& billP = *module_->findProvider("billP");
  Keyed failed = send(billP, billDelta(*module_, "201", 9001), "k-rb");
  EXPECT_EQ(failed.errorCount, 1);
  EXPECT_EQ(scalar("select count(*) from bills"), 0);
  EXPECT_EQ(scalar("select count(*) from qz_request_keys"), 0);
  exec("delete from billitems");
  Keyed posted = send(billP, billDelta(*module_, "201", 9001), "k-rb");
  Keyed replayed = send(billP, billDelta(*module_, "201", 9001), "k-rb");
  EXPECT_EQ(posted.errorCount, 0);
  EXPECT_FALSE(posted.replayed);
  EXPECT_TRUE(replayed.replayed);
  EXPECT_EQ(scalar("select count(*) from bills"), 1);
  EXPECT_FALSE(module_->ADOC.inTransaction());
}

TEST_P(RequestKeyTest, ReusedKeyWithAnotherRequestIsRefusedAndPostsNothing) {
  provider::Provider& billP = *module_->findProvider("billP");
  ASSERT_EQ(send(billP, billDelta(*module_, "301"), "k-reuse").errorCount, 0);
  struct Case {
    const char* what;
    const char* room;
    Variant ownerData;
  } cases[] = {{"another delta", "302", Variant::null()},
               {"another OwnerData", "301", Variant(int32_t{5})}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      send(billP, billDelta(*module_, c.room), "k-reuse", c.ownerData);
      ADD_FAILURE() << "not refused";
    } catch (const provider::ProviderError& e) {
      EXPECT_EQ(std::string(e.what()), std::string(provider::kRequestKeyReused) + "k-reuse");
    }
  }
  EXPECT_EQ(scalar("select count(*) from bills"), 1);
  EXPECT_THROW(send(billP, billDelta(*module_, "303"), std::string(65, 'k')),
               provider::ProviderError);
}

TEST_P(RequestKeyTest, KeysPastTheirAgeAreRemovedAndOldDatabasesGetTheTable) {
  // A database made before the table existed.
  exec("drop table qz_request_keys");
  provider::Provider& billP = *module_->findProvider("billP");
  ASSERT_EQ(send(billP, billDelta(*module_, "401"), "k-old").errorCount, 0);
  ASSERT_EQ(send(billP, billDelta(*module_, "402"), "k-new").errorCount, 0);
  exec("update qz_request_keys set recorded = '2020-01-01 00:00:00' where request_key = 'k-old'");

  TempDir dir;
  std::ofstream(dir.path() + "sysinfo.ini") << "[Server]\nRequestKeyDays=3\n";
  server::SysInfoIni ini(dir.path() + "sysinfo.ini");
  EXPECT_EQ(server::requestKeyDays(ini), 3);
  EXPECT_EQ(server::requestKeyDays(server::SysInfoIni(dir.path() + "none.ini")), 7);
  server::RequestKeySweeper sweeper([&] { return connectionText_; },
                                    [&] { return server::requestKeyDays(ini); });
  EXPECT_EQ(sweeper.sweepOnce(), 1);
  EXPECT_EQ(scalar("select count(*) from qz_request_keys where request_key = 'k-new'"), 1);
  // The removed key is a new request again.
  Keyed r = send(billP, billDelta(*module_, "401"), "k-old");
  EXPECT_FALSE(r.replayed);
  EXPECT_EQ(scalar("select count(*) from bills"), 3);
}

TEST_P(RequestKeyTest, SameKeySentAtOnceOnTwoConnectionsPostsOnce) {
  services::Ttop_dm2 other(env_);
  module_->ADOC.ensureOpen();
  other.ADOC.ensureOpen();
  Keyed a, b;
  std::thread t(
      [&] { a = send(*module_->findProvider("billP"), billDelta(*module_, "501"), "k-2"); });
  b = send(*other.findProvider("billP"), billDelta(other, "501"), "k-2");
  t.join();
  EXPECT_EQ(a.errorCount + b.errorCount, 0);
  EXPECT_EQ(a.ownerData, b.ownerData);
  EXPECT_EQ(scalar("select count(*) from bills"), 1);
}

INSTANTIATE_TEST_SUITE_P(Engines, RequestKeyTest,
                         ::testing::Values(Engine::Embedded, Engine::PostgreSQL), engineLabel);

}  // namespace
}  // namespace qz::testing
