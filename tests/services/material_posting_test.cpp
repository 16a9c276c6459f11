// Material accounts posted through MAccountP on a real database: numbering,
// the client date, and the price carried over to the material.
#include "services/material_posting.h"

#include "services/posting_values.h"
#include "tests/services/posting_fixture.h"

namespace qz::testing {
namespace {

using provider::UpdateKind;

Variant money(const char* text) {
  Currency c;
  Currency::parse(text, &c);
  return Variant(c);
}

Variant ownerData(const char* kind, int32_t client) {
  return Variant(VariantArray{Variant(kind), Variant(client)});
}

class MaterialPostingTest : public PostingTest {
 protected:
  void SetUp() override {
    PostingTest::SetUp();
    if (IsSkipped()) return;
    exec("insert into CLIENT (id, name) values (17, 'A')");
    exec("insert into material (id, name, price, price1) values ('A001', '大米', 1, 1)");
    exec("insert into material (id, name, price, price1) values ('B''02', '面粉', 1, 1)");
    module_ = std::make_unique<services::Ttop_dm1>(env_);
    MAccountP_ = module_->findProvider("MAccountP");
    delta_ = emptyDelta(*MAccountP_);
  }
  void TearDown() override {
    module_.reset();
    PostingTest::TearDown();
  }
  const std::vector<db::FieldDef>& itemFields() { return detailFields(delta_.fields, "MAccItems"); }
  provider::DeltaRow newAccount() {
    return row(delta_.fields, UpdateKind::Insert,
               {{"num", int32_t{0}}, {"consumption", "x"}, {"cltid", int32_t{17}}});
  }
  provider::DeltaRow newLine(const char* mid, Variant exchange, Variant price, int32_t bnum = 0) {
    return row(itemFields(), UpdateKind::Insert,
               {{"bnum", bnum},
                {"inum", int32_t{1}},
                {"MID", mid},
                {"exchange", exchange},
                {"price", price}});
  }
  std::string materialPrice(const char* column, const char* id = "A001") {
    auto c = check().query(std::string("select ") + column + " from material where id=:id", {[&] {
                             db::Parameter p;
                             p.name = "id";
                             p.value = Variant(id);
                             return p;
                           }()});
    c->next();
    return c->row()[0].toText();
  }
  Result applyAs(const char* kind, int32_t client = -1) {
    return apply(*MAccountP_, delta_, -1, ownerData(kind, client));
  }

  std::unique_ptr<services::Ttop_dm1> module_;
  provider::Provider* MAccountP_ = nullptr;
  provider::Delta delta_;
};

TEST_P(MaterialPostingTest, NewDocumentWithThreeLinesIsNumberedOnce) {
  auto acc = newAccount();
  for (int i = 0; i < 3; ++i)
    addDetail(delta_.fields, acc, "MAccItems", newLine("A001", int32_t{1}, Variant::null()));
  delta_.rows.push_back(std::move(acc));
  Result r = applyAs("其他", 17);
  ASSERT_EQ(r.errorCount, 0) << (r.errors.errors.empty() ? "" : r.errors.errors[0].message);
  const int64_t num = scalar("select num from Maccount");
  EXPECT_EQ(scalar("select count(*) from Maccount"), 1);
  EXPECT_EQ(r.ownerData, Variant(static_cast<int32_t>(num)));
  EXPECT_EQ(scalar("select count(*) from MAccItems where bnum=" + std::to_string(num)), 3);
  EXPECT_EQ(scalar("select count(*) from CLIENT where neardate is not null"), 1);
}

TEST_P(MaterialPostingTest, PurchaseAndSaleCarryTheBasePriceOver) {
  auto acc = newAccount();
  addDetail(delta_.fields, acc, "MAccItems", newLine("A001", int32_t{12}, money("30")));
  delta_.rows.push_back(std::move(acc));
  ASSERT_EQ(applyAs("购进").errorCount, 0);
  EXPECT_EQ(materialPrice("price"), "2.5");
  EXPECT_EQ(materialPrice("price1"), "1");

  delta_.rows.clear();
  acc = newAccount();
  addDetail(delta_.fields, acc, "MAccItems", newLine("A001", int32_t{12}, money("42")));
  delta_.rows.push_back(std::move(acc));
  ASSERT_EQ(applyAs("销售").errorCount, 0);
  EXPECT_EQ(materialPrice("price"), "2.5");
  EXPECT_EQ(materialPrice("price1"), "3.5");
}

TEST_P(MaterialPostingTest, NoPriceStatementForOtherKindsNoNewPriceOrNonPositivePrice) {
  auto acc = newAccount();
  addDetail(delta_.fields, acc, "MAccItems", newLine("A001", int32_t{12}, money("30")));
  delta_.rows.push_back(std::move(acc));
  ASSERT_EQ(applyAs("调拨").errorCount, 0);
  EXPECT_EQ(materialPrice("price"), "1");

  for (Variant price : {money("0"), money("-3"), Variant::null()}) {
    delta_.rows.clear();
    acc = newAccount();
    addDetail(delta_.fields, acc, "MAccItems", newLine("A001", int32_t{12}, price));
    delta_.rows.push_back(std::move(acc));
    ASSERT_EQ(applyAs("购进").errorCount, 0);
    EXPECT_EQ(materialPrice("price"), "1");
  }
}

TEST_P(MaterialPostingTest, LineModificationUsesOldValuesAndNeedsANewPrice) {
  exec("insert into Maccount (num, consumption) values (900, 'x')");
  exec("insert into MAccItems (bnum, inum, MID, exchange, price) values (900, 1, 'A001', 4, 8)");
  // Old values are every field as read, the generated line key included.
  const auto iinum = static_cast<int32_t>(scalar("select iinum from MAccItems where bnum=900"));
  const Values old{{"bnum", int32_t{900}},   {"inum", int32_t{1}},  {"MID", "A001"},
                   {"exchange", int32_t{4}}, {"price", money("8")}, {"iinum", iinum}};
  auto carrier = row(delta_.fields, UpdateKind::Unmodified, {}, {{"num", int32_t{900}}});
  // Only exchange changes: no price statement.
  addDetail(delta_.fields, carrier, "MAccItems",
            row(itemFields(), UpdateKind::Modify, {{"exchange", int32_t{2}}}, old));
  delta_.rows.push_back(std::move(carrier));
  Result r = applyAs("购进");
  ASSERT_EQ(r.errorCount, 0) << (r.errors.errors.empty() ? "" : r.errors.errors[0].message);
  EXPECT_EQ(materialPrice("price"), "1");
  // A new price with mid and exchange unchanged takes the old ones: 10 / 2.
  Values old2 = old;
  old2[3].second = int32_t{2};
  delta_.rows.clear();
  carrier = row(delta_.fields, UpdateKind::Unmodified, {}, {{"num", int32_t{900}}});
  addDetail(delta_.fields, carrier, "MAccItems",
            row(itemFields(), UpdateKind::Modify, {{"price", money("10")}}, old2));
  delta_.rows.push_back(std::move(carrier));
  r = applyAs("购进");
  ASSERT_EQ(r.errorCount, 0) << (r.errors.errors.empty() ? "" : r.errors.errors[0].message);
  EXPECT_EQ(materialPrice("price"), "5");
}

TEST_P(MaterialPostingTest, AQuoteInTheMaterialIdIsData) {
  auto acc = newAccount();
  addDetail(delta_.fields, acc, "MAccItems", newLine("B'02", int32_t{4}, money("10")));
  delta_.rows.push_back(std::move(acc));
  Result r = applyAs("购进");
  ASSERT_EQ(r.errorCount, 0) << (r.errors.errors.empty() ? "" : r.errors.errors[0].message);
  EXPECT_EQ(materialPrice("price", "B'02"), "2.5");
  EXPECT_EQ(materialPrice("price"), "1");
}

TEST_P(MaterialPostingTest, ZeroFactorFailsRollsBackAndReturnsZero) {
  auto acc = newAccount();
  addDetail(delta_.fields, acc, "MAccItems", newLine("A001", int32_t{0}, money("30")));
  delta_.rows.push_back(std::move(acc));
  Result r = applyAs("购进", 17);
  EXPECT_EQ(r.errorCount, 1);
  EXPECT_EQ(r.ownerData, Variant(int32_t{0}));
  EXPECT_EQ(scalar("select count(*) from Maccount"), 0);
  EXPECT_EQ(scalar("select count(*) from MAccItems"), 0);
  EXPECT_EQ(scalar("select count(*) from CLIENT where neardate is not null"), 0);
  EXPECT_FALSE(module_->ADOC.inTransaction());
}

TEST_P(MaterialPostingTest, BadOwnerDataFailsTheRequestWithNothingBegun) {
  delta_.rows.push_back(newAccount());
  for (Variant od : {Variant::null(), Variant("购进"), Variant(VariantArray{Variant("购进")}),
                     Variant(VariantArray{Variant("购进"), Variant::null()})}) {
    SCOPED_TRACE(od.debugString());
    Variant owner = od;
    EXPECT_ANY_THROW(MAccountP_->applyUpdates(delta_, -1, owner, nullptr));
    if (module_->ADOC.isOpen()) EXPECT_FALSE(module_->ADOC.inTransaction());
  }
  EXPECT_EQ(scalar("select count(*) from Maccount"), 0);
}

TEST_P(MaterialPostingTest, MasterModificationStampsTheOwnerDataClientOnly) {
  exec("insert into Maccount (num, consumption) values (901, 'x')");
  delta_.rows.push_back(row(delta_.fields, UpdateKind::Modify, {{"consumption", "y"}},
                            {{"num", int32_t{901}}, {"consumption", "x"}}));
  ASSERT_EQ(applyAs("其他", -1).errorCount, 0);
  EXPECT_EQ(scalar("select count(*) from CLIENT where neardate is not null"), 0);
  delta_.rows[0] = row(delta_.fields, UpdateKind::Modify, {{"consumption", "z"}},
                       {{"num", int32_t{901}}, {"consumption", "y"}});
  ASSERT_EQ(applyAs("其他", 17).errorCount, 0);
  EXPECT_EQ(scalar("select count(*) from CLIENT where neardate is not null"), 1);
  EXPECT_EQ(scalar("select count(*) from Maccount where consumption='z'"), 1);
}

INSTANTIATE_TEST_SUITE_P(Engines, MaterialPostingTest,
                         ::testing::Values(Engine::Embedded, Engine::PostgreSQL), engineLabel);

}  // namespace
}  // namespace qz::testing
