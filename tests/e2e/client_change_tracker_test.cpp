// The client's change tracker: edits of a packet with nested details become
// the delta a client dataset would send, and nothing else.
#include <gtest/gtest.h>

#include "client/change_tracker.h"
#include "platform/packet/json_delta.h"

namespace qz::client {
namespace {

using provider::DataRow;
using provider::DeltaRow;
using provider::FieldDef;
using provider::FieldType;
using provider::UpdateKind;

FieldDef field(const char* name, FieldType t, bool readOnly = false) {
  FieldDef f;
  f.name = name;
  f.type = t;
  f.readOnly = readOnly;
  return f;
}

// bills(num, cltname, settle, billitems(bnum, inum, price))
DataPacket billPacket() {
  DataPacket p;
  FieldDef items = field("billitems", FieldType::Dataset);
  items.children = {field("bnum", FieldType::Int32), field("inum", FieldType::Int32),
                    field("price", FieldType::Currency)};
  p.fields = {field("num", FieldType::Int32, true), field("cltname", FieldType::String),
              field("settle", FieldType::Boolean), items};
  for (int num : {17, 18}) {
    DataRow r;
    r.values = {Variant(int32_t(num)), Variant(num == 17 ? "张三" : "李四"), Variant(false),
                Variant::null()};
    r.details.resize(1);
    for (int inum : {1, 2}) {
      DataRow d;
      d.values = {Variant(int32_t(num)), Variant(int32_t(inum)), Variant(Currency{inum * 100000})};
      r.details[0].push_back(d);
    }
    p.rows.push_back(r);
  }
  return p;
}

RowPath master(int i) { return {{"", i}}; }

std::string pathText(const RowPath& p) {
  std::string s;
  for (const auto& step : p) s += "/" + step.detail + ":" + std::to_string(step.index);
  return s;
}
RowPath item(int i, int j) { return {{"", i}, {"billitems", j}}; }

TEST(ChangeTrackerTest, NoEditsNoDelta) {
  ChangeTracker t(billPacket());
  EXPECT_FALSE(t.hasChanges());
  EXPECT_TRUE(t.delta().rows.empty());
  EXPECT_EQ(2u, t.rowCount());
  EXPECT_EQ(2u, t.rowCount(master(1), "billitems"));
}

TEST(ChangeTrackerTest, ModifyCarriesAllOldValuesAndOnlyChangedNewValues) {
  ChangeTracker t(billPacket());
  t.setValue(master(0), "SETTLE", Variant(true));  // field names ignore case
  Delta d = t.delta();
  ASSERT_EQ(1u, d.rows.size());
  const DeltaRow& r = d.rows[0];
  EXPECT_EQ(UpdateKind::Modify, r.kind);
  EXPECT_EQ(Variant(int32_t(17)), r.oldValues[0]);
  EXPECT_EQ(Variant("张三"), r.oldValues[1]);
  EXPECT_EQ(Variant(false), r.oldValues[2]);
  EXPECT_TRUE(r.newValues[0].isUnassigned());
  EXPECT_TRUE(r.newValues[1].isUnassigned());
  EXPECT_EQ(Variant(true), r.newValues[2]);
  EXPECT_TRUE(r.details[0].empty());
}

TEST(ChangeTrackerTest, EditBackToTheReadValueIsNoChange) {
  ChangeTracker t(billPacket());
  t.setValue(master(0), "cltname", Variant("王五"));
  t.setValue(master(0), "cltname", Variant("张三"));
  EXPECT_FALSE(t.hasChanges());
  EXPECT_TRUE(t.delta().rows.empty());
}

TEST(ChangeTrackerTest, SettingNullIsAChangeFromAValue) {
  ChangeTracker t(billPacket());
  t.setValue(master(1), "cltname", Variant::null());
  Delta d = t.delta();
  ASSERT_EQ(1u, d.rows.size());
  EXPECT_TRUE(d.rows[0].newValues[1].isNull());
  // On the wire the null is written, not left out.
  EXPECT_NE(std::string::npos, provider::encodeDelta(d).find("\"new\":{\"cltname\":null}"));
}

TEST(ChangeTrackerTest, DetailChangeMakesAnUnmodifiedMasterCarrier) {
  ChangeTracker t(billPacket());
  t.setValue(item(1, 1), "price", Variant("12.5"));  // text converts to currency
  Delta d = t.delta();
  ASSERT_EQ(1u, d.rows.size());
  const DeltaRow& m = d.rows[0];
  EXPECT_EQ(UpdateKind::Unmodified, m.kind);
  EXPECT_EQ(Variant(int32_t(18)), m.oldValues[0]);
  for (const Variant& v : m.newValues) EXPECT_TRUE(v.isUnassigned());
  ASSERT_EQ(1u, m.details[0].size());
  const DeltaRow& i = m.details[0][0];
  EXPECT_EQ(UpdateKind::Modify, i.kind);
  EXPECT_EQ(Variant(int32_t(2)), i.oldValues[1]);
  EXPECT_EQ(Variant(Currency{125000}), i.newValues[2]);
  EXPECT_TRUE(i.newValues[0].isUnassigned());
}

TEST(ChangeTrackerTest, InsertCarriesEveryFieldWithNullsForEmptyOnes) {
  ChangeTracker t(billPacket());
  RowPath bill = t.appendRow();
  EXPECT_EQ(pathText(master(2)), pathText(bill));
  t.setValue(bill, "cltname", Variant("赵六"));
  RowPath line = t.appendRow(bill, "billitems");
  t.setValue(line, "inum", Variant(int32_t(1)));
  t.setValue(line, "bnum", Variant(int32_t(0)));
  Delta d = t.delta();
  ASSERT_EQ(1u, d.rows.size());
  const DeltaRow& r = d.rows[0];
  EXPECT_EQ(UpdateKind::Insert, r.kind);
  EXPECT_TRUE(r.newValues[0].isNull());  // read-only, left empty: null
  EXPECT_EQ(Variant("赵六"), r.newValues[1]);
  EXPECT_TRUE(r.newValues[2].isNull());
  EXPECT_TRUE(r.newValues[3].isUnassigned());  // the dataset field itself
  for (const Variant& v : r.oldValues) EXPECT_TRUE(v.isUnassigned());
  ASSERT_EQ(1u, r.details[0].size());
  EXPECT_EQ(UpdateKind::Insert, r.details[0][0].kind);
  EXPECT_EQ(Variant(int32_t(0)), r.details[0][0].newValues[0]);
  EXPECT_TRUE(r.details[0][0].newValues[2].isNull());
}

TEST(ChangeTrackerTest, DeleteCarriesOldValuesAndCascadesToDetails) {
  ChangeTracker t(billPacket());
  t.setValue(item(0, 0), "price", Variant(int32_t(1)));  // edited, then deleted with its master
  t.deleteRow(master(0));
  EXPECT_EQ(1u, t.rowCount());
  EXPECT_EQ(Variant(int32_t(18)), t.value(master(0), "num"));  // the view shifted
  Delta d = t.delta();
  ASSERT_EQ(1u, d.rows.size());
  const DeltaRow& r = d.rows[0];
  EXPECT_EQ(UpdateKind::Delete, r.kind);
  EXPECT_EQ(Variant(int32_t(17)), r.oldValues[0]);
  ASSERT_EQ(2u, r.details[0].size());
  for (const DeltaRow& i : r.details[0]) {
    EXPECT_EQ(UpdateKind::Delete, i.kind);
    EXPECT_EQ(Variant(int32_t(17)), i.oldValues[0]);
  }
  // The old value is what was read, not the edit.
  EXPECT_EQ(Variant(Currency{100000}), r.details[0][0].oldValues[2]);
}

TEST(ChangeTrackerTest, InsertedThenDeletedLeavesNoTrace) {
  ChangeTracker t(billPacket());
  RowPath bill = t.appendRow();
  t.appendRow(bill, "billitems");
  RowPath extra = t.appendRow(master(1), "billitems");
  EXPECT_EQ(pathText(item(1, 2)), pathText(extra));
  t.deleteRow(extra);
  t.deleteRow(bill);
  EXPECT_FALSE(t.hasChanges());
  EXPECT_TRUE(t.delta().rows.empty());
  EXPECT_EQ(2u, t.rowCount(master(1), "billitems"));
}

TEST(ChangeTrackerTest, DeletingADetailRowOfAnUnchangedMaster) {
  ChangeTracker t(billPacket());
  t.deleteRow(item(0, 0));
  EXPECT_EQ(Variant(int32_t(2)), t.value(item(0, 0), "inum"));
  Delta d = t.delta();
  ASSERT_EQ(1u, d.rows.size());
  EXPECT_EQ(UpdateKind::Unmodified, d.rows[0].kind);
  ASSERT_EQ(1u, d.rows[0].details[0].size());
  EXPECT_EQ(UpdateKind::Delete, d.rows[0].details[0][0].kind);
  EXPECT_EQ(Variant(int32_t(1)), d.rows[0].details[0][0].oldValues[1]);
}

TEST(ChangeTrackerTest, RefusesReadOnlyDatasetAndUnknownFieldsAndBadPaths) {
  ChangeTracker t(billPacket());
  EXPECT_THROW(t.setValue(master(0), "num", Variant(int32_t(5))), std::invalid_argument);
  EXPECT_THROW(t.setValue(master(0), "billitems", Variant(int32_t(5))), std::invalid_argument);
  EXPECT_THROW(t.setValue(master(0), "nosuch", Variant(int32_t(5))), provider::FieldNotFound);
  EXPECT_THROW(t.value(master(2), "num"), std::out_of_range);
  EXPECT_THROW(t.value(master(-1), "num"), std::out_of_range);
  EXPECT_THROW(t.value(item(0, 2), "inum"), std::out_of_range);
  EXPECT_THROW(t.appendRow(master(0), "nosuch"), provider::FieldNotFound);
  EXPECT_THROW(t.appendRow(master(0), "cltname"), provider::FieldNotFound);
  EXPECT_THROW(t.deleteRow({}), std::out_of_range);
  EXPECT_FALSE(t.hasChanges());
}

TEST(ChangeTrackerTest, CurrentShowsEditsAndAcceptChangesStartsAfresh) {
  ChangeTracker t(billPacket());
  t.setValue(master(1), "cltname", Variant("钱七"));
  t.deleteRow(master(0));
  RowPath added = t.appendRow();
  t.setValue(added, "cltname", Variant("孙八"));
  DataPacket now = t.current();
  ASSERT_EQ(2u, now.rows.size());
  EXPECT_EQ(Variant("钱七"), now.rows[0].values[1]);
  EXPECT_EQ(2u, now.rows[0].details[0].size());
  EXPECT_EQ(Variant("孙八"), now.rows[1].values[1]);
  EXPECT_TRUE(now.rows[1].details[0].empty());

  t.acceptChanges();
  EXPECT_FALSE(t.hasChanges());
  t.setValue(master(1), "settle", Variant(true));
  Delta d = t.delta();
  ASSERT_EQ(1u, d.rows.size());
  EXPECT_EQ(UpdateKind::Modify, d.rows[0].kind);  // the accepted insert is now a read row
  EXPECT_EQ(Variant("孙八"), d.rows[0].oldValues[1]);
}

TEST(ChangeTrackerTest, DeltaSurvivesTheWireCodec) {
  ChangeTracker t(billPacket());
  t.setValue(master(0), "cltname", Variant("王五"));
  RowPath line = t.appendRow(master(1), "billitems");
  t.setValue(line, "inum", Variant(int32_t(3)));
  t.deleteRow(item(1, 0));
  Delta d = t.delta();
  Delta back = provider::decodeDelta(provider::encodeDelta(d));
  ASSERT_EQ(2u, back.rows.size());
  EXPECT_EQ(UpdateKind::Modify, back.rows[0].kind);
  EXPECT_EQ(UpdateKind::Unmodified, back.rows[1].kind);
  ASSERT_EQ(2u, back.rows[1].details[0].size());
  EXPECT_EQ(UpdateKind::Delete, back.rows[1].details[0][0].kind);
  EXPECT_EQ(UpdateKind::Insert, back.rows[1].details[0][1].kind);
  EXPECT_EQ(Variant(int32_t(3)), back.rows[1].details[0][1].newValues[1]);
  EXPECT_TRUE(back.rows[1].details[0][1].newValues[2].isNull());
}

}  // namespace
}  // namespace qz::client
