// Bills and group orders posted through billP and GOrdersP on a real
// database, checked by reading the database back.
#include "services/document_posting.h"

#include "services/posting_values.h"
#include "tests/services/posting_fixture.h"

namespace qz::testing {
namespace {

using provider::UpdateKind;

class DocumentPostingTest : public PostingTest {
 protected:
  void SetUp() override {
    PostingTest::SetUp();
    if (IsSkipped()) return;
    exec("insert into CLIENT (id, name) values (17, 'A'), (25, 'B')");
    module_ = std::make_unique<services::Ttop_dm2>(env_);
    billP_ = module_->findProvider("billP");
    delta_ = emptyDelta(*billP_);
  }
  void TearDown() override {
    module_.reset();
    PostingTest::TearDown();
  }

  provider::DeltaRow newBill(int32_t cltid, const char* room = "101") {
    return row(delta_.fields, UpdateKind::Insert,
               {{"num", int32_t{0}},
                {"roomid", room},
                {"cltid", cltid},
                {"cltname", "张三"},
                {"rebate", 0.1},
                {"settle", false}});
  }
  void addItem(provider::DeltaRow& bill, int32_t bnum, int32_t inum) {
    const auto& f = detailFields(delta_.fields, "billitems");
    addDetail(delta_.fields, bill, "billitems",
              row(f, UpdateKind::Insert, {{"bnum", bnum}, {"inum", inum}, {"name", "客房"}}));
  }
  std::string neardate(int id) {
    auto c = check().query("select neardate from CLIENT where id=" + std::to_string(id));
    c->next();
    return c->row()[0].isNull() ? "" : c->row()[0].asDateTime().dateText();
  }

  std::unique_ptr<services::Ttop_dm2> module_;
  provider::Provider* billP_ = nullptr;
  provider::Delta delta_;
};

TEST_P(DocumentPostingTest, NewBillWithThreeItemsGetsOneNumberEverywhere) {
  auto bill = newBill(17);
  for (int i = 1; i <= 3; ++i) addItem(bill, 0, i);
  delta_.rows.push_back(std::move(bill));
  Result r = apply(*billP_, delta_);
  ASSERT_EQ(r.errorCount, 0) << (r.errors.errors.empty() ? "" : r.errors.errors[0].message);
  ASSERT_EQ(r.ownerData.type(), VarType::Int32);
  const int64_t num = r.ownerData.asInt();
  EXPECT_GT(num, 0);
  EXPECT_EQ(scalar("select count(*) from bills"), 1);  // inserted once, by the procedure
  EXPECT_EQ(scalar("select num from bills"), num);
  EXPECT_EQ(scalar("select count(*) from billitems where bnum=" + std::to_string(num)), 3);
  EXPECT_EQ(neardate(17), services::todayText());
  EXPECT_EQ(neardate(25), "");
  EXPECT_FALSE(module_->ADOC.inTransaction());
}

TEST_P(DocumentPostingTest, TwoNewBillsKeepTheirOwnItemsAndTheLastNumberComesBack) {
  auto a = newBill(17, "101");
  addItem(a, 0, 1);
  addItem(a, 0, 2);
  auto b = newBill(25, "102");
  addItem(b, 0, 1);
  delta_.rows.push_back(std::move(a));
  delta_.rows.push_back(std::move(b));
  Result r = apply(*billP_, delta_);
  ASSERT_EQ(r.errorCount, 0);
  const int64_t first = scalar("select num from bills where roomid='101'");
  const int64_t second = scalar("select num from bills where roomid='102'");
  EXPECT_NE(first, second);
  EXPECT_EQ(r.ownerData.asInt(), second);
  EXPECT_EQ(scalar("select count(*) from billitems where bnum=" + std::to_string(first)), 2);
  EXPECT_EQ(scalar("select count(*) from billitems where bnum=" + std::to_string(second)), 1);
}

TEST_P(DocumentPostingTest, PaymentsAndNonZeroItemNumbersAreKeptAsSent) {
  exec("insert into bills (num, roomid, cltid) values (500, '201', 17)");
  auto bill = newBill(17);
  addItem(bill, 500, 9);  // an item for the existing bill 500
  const auto& gf = detailFields(delta_.fields, "gathering");
  addDetail(delta_.fields, bill, "gathering",
            row(gf, UpdateKind::Insert, {{"bnum", int32_t{500}}, {"type", "现金"}}));
  delta_.rows.push_back(std::move(bill));
  Result r = apply(*billP_, delta_);
  ASSERT_EQ(r.errorCount, 0);
  EXPECT_EQ(scalar("select count(*) from billitems where bnum=500 and inum=9"), 1);
  EXPECT_EQ(scalar("select count(*) from gathering where bnum=500"), 1);
}

TEST_P(DocumentPostingTest, ModifiedBillStampsItsClientByTheNewOrOldId) {
  exec("insert into bills (num, roomid, cltid, settle) values (600, '301', 17, " +
       std::string(GetParam() == Engine::Embedded ? "0" : "false") + ")");
  // settle only: the old cltid 17 is stamped.
  delta_.rows.push_back(
      row(delta_.fields, UpdateKind::Modify, {{"settle", true}},
          {{"num", int32_t{600}}, {"roomid", "301"}, {"cltid", int32_t{17}}, {"settle", false}}));
  ASSERT_EQ(apply(*billP_, delta_).errorCount, 0);
  EXPECT_EQ(neardate(17), services::todayText());
  EXPECT_EQ(neardate(25), "");
  EXPECT_EQ(scalar("select count(*) from bills where num=600 and settle=" +
                   std::string(GetParam() == Engine::Embedded ? "1" : "true")),
            1);

  // cltid 17 -> 25: only 25 is stamped.
  exec("update CLIENT set neardate=null");
  delta_.rows.clear();
  delta_.rows.push_back(
      row(delta_.fields, UpdateKind::Modify, {{"cltid", int32_t{25}}},
          {{"num", int32_t{600}}, {"roomid", "301"}, {"cltid", int32_t{17}}, {"settle", true}}));
  ASSERT_EQ(apply(*billP_, delta_).errorCount, 0);
  EXPECT_EQ(neardate(25), services::todayText());
  EXPECT_EQ(neardate(17), "");
}

TEST_P(DocumentPostingTest, NullOrMinusOneClientSendsNoClientStatement) {
  exec("insert into bills (num, roomid) values (700, '401')");
  exec("insert into bills (num, roomid, cltid) values (701, '402', -1)");
  exec("insert into CLIENT (id, name) values (-1, 'none')");
  delta_.rows.push_back(row(delta_.fields, UpdateKind::Modify, {{"roomid", "409"}},
                            {{"num", int32_t{700}}, {"roomid", "401"}}));
  delta_.rows.push_back(row(delta_.fields, UpdateKind::Modify, {{"roomid", "410"}},
                            {{"num", int32_t{701}}, {"roomid", "402"}, {"cltid", int32_t{-1}}}));
  ASSERT_EQ(apply(*billP_, delta_).errorCount, 0);
  EXPECT_EQ(scalar("select count(*) from CLIENT where neardate is not null"), 0);
  EXPECT_EQ(scalar("select count(*) from bills where roomid in ('409','410')"), 2);
}

TEST_P(DocumentPostingTest, FailingLastRowRollsBackEarlierProcedureInserts) {
  Result first = [&] {
    auto ok = newBill(17);
    delta_.rows.push_back(std::move(ok));
    return apply(*billP_, delta_);
  }();
  ASSERT_EQ(first.errorCount, 0);
  const int64_t before = scalar("select count(*) from bills");
  delta_.rows.clear();
  auto a = newBill(17, "501");
  addItem(a, 0, 1);
  delta_.rows.push_back(std::move(a));
  delta_.rows.push_back(newBill(17, "502"));
  delta_.rows.back().newValues[provider::findField(delta_.fields, "cltid")] = Variant::null();
  Result r = apply(*billP_, delta_);
  EXPECT_EQ(r.errorCount, 1);
  ASSERT_EQ(r.errors.errors.size(), 1u);
  EXPECT_EQ(r.errors.errors[0].path[0].index, 1);
  EXPECT_EQ(scalar("select count(*) from bills"), before);
  EXPECT_EQ(scalar("select count(*) from billitems"), 0);
  EXPECT_FALSE(module_->ADOC.inTransaction());
  // NewDocNumber keeps the number of the rolled-back insert.
  EXPECT_GT(r.ownerData.asInt(), first.ownerData.asInt());
}

TEST_P(DocumentPostingTest, FailureStopsTheRequestWhateverMaxErrorsAllows) {
  for (int maxErrors : {0, -1, 5}) {
    SCOPED_TRACE(maxErrors);
    delta_.rows.clear();
    delta_.rows.push_back(newBill(17, "601"));
    delta_.rows.back().newValues[provider::findField(delta_.fields, "cltid")] = Variant("x");
    delta_.rows.push_back(newBill(17, "602"));
    Result r = apply(*billP_, delta_, maxErrors);
    EXPECT_EQ(r.errorCount, 1);
    EXPECT_EQ(scalar("select count(*) from bills"), 0);
  }
}

TEST_P(DocumentPostingTest, EmptyDeltaReturnsTheNumberAnEarlierRequestLeft) {
  Result r0 = apply(*billP_, delta_);
  EXPECT_EQ(r0.ownerData, Variant(int32_t{0}));
  delta_.rows.push_back(newBill(17));
  Result r1 = apply(*billP_, delta_);
  delta_.rows.clear();
  Result r2 = apply(*billP_, delta_);
  EXPECT_EQ(r2.errorCount, 0);
  EXPECT_EQ(r2.ownerData, r1.ownerData);
}

TEST_P(DocumentPostingTest, NewItemWithZeroNumberAndNoBillInTheRequestIsRefused) {
  delta_.rows.push_back(newBill(17));
  Result r1 = apply(*billP_, delta_);
  ASSERT_EQ(r1.errorCount, 0);
  // An unmodified carrier with a new item whose bnum is 0.
  delta_.rows.clear();
  auto carrier = row(delta_.fields, UpdateKind::Unmodified, {},
                     {{"num", Variant(static_cast<int32_t>(r1.ownerData.asInt()))}});
  addItem(carrier, 0, 5);
  delta_.rows.push_back(std::move(carrier));
  Result r2 = apply(*billP_, delta_);
  EXPECT_EQ(r2.errorCount, 1);
  EXPECT_EQ(scalar("select count(*) from billitems"), 0);
  EXPECT_EQ(r2.ownerData, r1.ownerData);
}

TEST_P(DocumentPostingTest, GroupOrderNumbersItsNewMemberBills) {
  provider::Provider* GOrdersP = module_->findProvider("GOrdersP");
  provider::Delta d = emptyDelta(*GOrdersP);
  auto order = row(d.fields, UpdateKind::Insert,
                   {{"go_num", int32_t{0}}, {"cltname", "旅行团"}, {"cltid", int32_t{25}}});
  const auto& bf = detailFields(d.fields, "GItems");
  addDetail(d.fields, order, "GItems",
            row(bf, UpdateKind::Insert, {{"gnum", int32_t{0}}, {"roomid", "701"}}));
  addDetail(d.fields, order, "GItems",
            row(bf, UpdateKind::Insert, {{"gnum", int32_t{0}}, {"roomid", "702"}}));
  addDetail(d.fields, order, "GItems",
            row(bf, UpdateKind::Insert, {{"gnum", int32_t{9999}}, {"roomid", "703"}}));
  d.rows.push_back(std::move(order));
  Result r = apply(*GOrdersP, d);
  ASSERT_EQ(r.errorCount, 0) << (r.errors.errors.empty() ? "" : r.errors.errors[0].message);
  const int64_t goNum = scalar("select go_num from gorders");
  EXPECT_EQ(r.ownerData.asInt(), goNum);
  EXPECT_EQ(scalar("select count(*) from gorders"), 1);
  EXPECT_EQ(scalar("select count(*) from bills where gnum=" + std::to_string(goNum)), 2);
  EXPECT_EQ(scalar("select count(*) from bills where gnum=9999"), 1);
  EXPECT_EQ(neardate(25), services::todayText());
  // A later bill request shares NewDocNumber; a GOrdersP request without a
  // group order returns what the bill left.
  delta_.rows.push_back(newBill(17));
  Result bill = apply(*billP_, delta_);
  d.rows.clear();
  EXPECT_EQ(apply(*GOrdersP, d).ownerData, bill.ownerData);
}

INSTANTIATE_TEST_SUITE_P(Engines, DocumentPostingTest,
                         ::testing::Values(Engine::Embedded, Engine::PostgreSQL), engineLabel);

}  // namespace
}  // namespace qz::testing
