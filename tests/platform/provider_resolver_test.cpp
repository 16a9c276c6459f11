// Statements of the default resolution and the names read from statements:
// values are always bound, never spliced; nulls are found with IS NULL;
// only the table's own columns reach a statement.
#include <gtest/gtest.h>

#include "platform/provider/resolver.h"
#include "platform/provider/sql_names.h"

namespace qz::provider {
namespace {

FieldDef col(std::string name, FieldType t, bool readOnly = false) {
  FieldDef f;
  f.name = std::move(name);
  f.type = t;
  f.readOnly = readOnly;
  return f;
}

const std::vector<FieldDef> kColumns = {
    col("id", FieldType::Int32, true), col("cltname", FieldType::String),
    col("remark", FieldType::Memo), col("amount", FieldType::Currency)};

TEST(ResolverTest, UpdateFindsRowByAllOldValuesIncludingNull) {
  // The client's field names differ in case; "calc" is not a column.
  std::vector<FieldDef> fields = {col("ID", FieldType::Int32), col("CltName", FieldType::String),
                                  col("remark", FieldType::Memo),
                                  col("amount", FieldType::Currency),
                                  col("calc", FieldType::Int32)};
  DeltaRow r = makeDeltaRow(fields, UpdateKind::Modify);
  r.oldValues = {Variant(int32_t(5)), Variant::null(), Variant("long text"),
                 Variant(Currency{10000}), Variant(int32_t(1))};
  r.newValues[1] = Variant("x'); delete from bills; --");
  ResolverStatement st = composeResolverStatement("bills", kColumns, fields, r);
  EXPECT_EQ(
      st.sql,
      "update bills set [cltname] = :n1 where [id] = :o0 and [cltname] is null and [amount] = :o3");
  ASSERT_EQ(st.params.size(), 3u);
  EXPECT_EQ(st.params[0].value, Variant("x'); delete from bills; --"));
  EXPECT_EQ(st.params[1].value, Variant(int32_t(5)));
  EXPECT_TRUE(st.mustTouchRow);
}

TEST(ResolverTest, InsertWritesGivenFieldsAndSkipsNullGeneratedKeys) {
  std::vector<FieldDef> fields = {col("id", FieldType::Int32), col("cltname", FieldType::String),
                                  col("amount", FieldType::Currency),
                                  col("calc", FieldType::Int32)};
  DeltaRow r = makeDeltaRow(fields, UpdateKind::Insert);
  r.newValues = {Variant::null(), Variant("a"), Variant(), Variant::null()};
  ResolverStatement st = composeResolverStatement("dbo.bills", kColumns, fields, r);
  EXPECT_EQ(st.sql, "insert into dbo.bills ([cltname]) values (:n1)");
  EXPECT_FALSE(st.mustTouchRow);
  // A generated key given a value is written; an unknown field with a value is refused.
  r.newValues[0] = Variant(int32_t(9));
  EXPECT_EQ(composeResolverStatement("t", kColumns, fields, r).sql,
            "insert into t ([id], [cltname]) values (:n0, :n1)");
  r.newValues[3] = Variant(int32_t(1));
  try {
    composeResolverStatement("t", kColumns, fields, r);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Field 'calc' not found in table 't'");
  }
}

TEST(ResolverTest, DeleteWithoutOldValuesIsRefusedAndUnchangedModifyWritesNothing) {
  std::vector<FieldDef> fields = {col("id", FieldType::Int32), col("remark", FieldType::Memo)};
  DeltaRow del = makeDeltaRow(fields, UpdateKind::Delete);
  del.oldValues[1] = Variant("only a memo");  // memo values cannot find a row
  EXPECT_THROW(composeResolverStatement("t", kColumns, fields, del), std::runtime_error);
  DeltaRow mod = makeDeltaRow(fields, UpdateKind::Modify);
  mod.oldValues[0] = Variant(int32_t(1));
  EXPECT_TRUE(composeResolverStatement("t", kColumns, fields, mod).sql.empty());
  del.oldValues[0] = Variant(int32_t(1));
  EXPECT_EQ(composeResolverStatement("t", kColumns, fields, del).sql,
            "delete from t where [id] = :o0");
}

TEST(ResolverTest, RefreshReadsTheTablesFieldsByKeyOrElseByEveryValue) {
  std::vector<FieldDef> fields = {col("id", FieldType::Int32), col("cltname", FieldType::String),
                                  col("remark", FieldType::Memo), col("calc", FieldType::Int32)};
  const std::vector<Variant> values = {Variant(int32_t(5)), Variant::null(), Variant("text"),
                                       Variant(int32_t(1))};
  std::vector<size_t> selected;
  ResolverStatement all = composeRefreshStatement("bills", kColumns, fields, values, &selected);
  EXPECT_EQ(all.sql,
            "select [id], [cltname], [remark] from bills where [id] = :o0 and [cltname] is null");
  EXPECT_EQ(selected, (std::vector<size_t>{0, 1, 2}));

  std::vector<FieldDef> keyed = kColumns;
  keyed[0].key = true;
  ResolverStatement byKey = composeRefreshStatement("bills", keyed, fields, values, &selected);
  EXPECT_EQ(byKey.sql, "select [id], [cltname], [remark] from bills where [id] = :o0");
  ASSERT_EQ(byKey.params.size(), 1u);
  EXPECT_EQ(byKey.params[0].value, Variant(int32_t(5)));

  // A null key cannot find the row: every value is used instead.
  const std::vector<Variant> nullKey = {Variant::null(), Variant("a"), Variant(), Variant()};
  EXPECT_EQ(composeRefreshStatement("bills", keyed, fields, nullKey, &selected).sql,
            "select [id], [cltname], [remark] from bills where [id] is null and [cltname] = :o1");
  EXPECT_THROW(composeRefreshStatement("bills", kColumns, {col("calc", FieldType::Int32)},
                                       {Variant(int32_t(1))}, &selected),
               std::runtime_error);
}

TEST(SqlNamesTest, TableAfterFromSkipsLiteralsCommentsAndKeepsQualification) {
  EXPECT_EQ(tableAfterFrom("select * from Maccount where num=:num"), "Maccount");
  EXPECT_EQ(tableAfterFrom("SELECT * \r\nFROM billitems \r\nwhere bnum=:num"), "billitems");
  EXPECT_EQ(tableAfterFrom("select 'from x' as a, [from] from dbo.bills"), "dbo.bills");
  EXPECT_EQ(tableAfterFrom("select 1 -- from x\n from qz..gathering g"), "qz..gathering");
  EXPECT_EQ(tableAfterFrom("select /* from y */ * FROM [my table] t"), "[my table]");
  EXPECT_EQ(tableAfterFrom("SELECT gathering.*\nFROM gathering INNER JOIN bills ON 1=1"),
            "gathering");
  EXPECT_EQ(tableAfterFrom("select * from (select 1) x"), "");
  EXPECT_EQ(tableAfterFrom("select 1"), "");
  EXPECT_EQ(tableAfterFrom("select fromage from cheese"), "cheese");
  EXPECT_TRUE(isTableName("dbo.bills"));
  EXPECT_TRUE(isTableName("[my table]"));
  EXPECT_FALSE(isTableName("bills; drop table x"));
  EXPECT_FALSE(isTableName("bills where 1=1"));
  EXPECT_FALSE(isTableName(""));
  EXPECT_EQ(bracketName("a]b"), "[a]]b]");
}

}  // namespace
}  // namespace qz::provider
