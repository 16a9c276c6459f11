// Deltas, error packets, parameters and tagged variants in JSON.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/packet/json_delta.h"
#include "platform/packet/json_packet.h"
#include "platform/packet/json_params.h"

namespace qz::provider {
namespace {

const char* kBillDelta = R"({"fields":[
  {"name":"num","type":"int32","required":true},
  {"name":"cltname","type":"string","size":50},
  {"name":"settle","type":"boolean"},
  {"name":"amount","type":"currency"},
  {"name":"billitems","type":"dataset","fields":[
     {"name":"bnum","type":"int32"},{"name":"inum","type":"int32"}]}],
 "rows":[
  {"kind":"insert","new":{"num":0,"cltname":"张三","settle":null},
   "details":{"BillItems":[{"kind":"insert","new":{"bnum":0,"inum":1}}]}},
  {"kind":"modify","old":{"num":17,"settle":false,"amount":"12.5"},"new":{"SETTLE":true}},
  {"kind":"delete","old":{"num":18}},
  {"kind":"unmodified","old":{"num":19},
   "details":{"billitems":[{"kind":"delete","old":{"bnum":19,"inum":2}}]}}]})";

TEST(CodecDeltaTest, DecodesKindsValuesAndDetailsIgnoringCase) {
  Delta d = decodeDelta(kBillDelta);
  ASSERT_EQ(d.rows.size(), 4u);
  const DeltaRow& ins = d.rows[0];
  EXPECT_EQ(ins.kind, UpdateKind::Insert);
  EXPECT_EQ(ins.newValues[1], Variant("张三"));
  EXPECT_TRUE(ins.newValues[2].isNull());
  EXPECT_TRUE(ins.newValues[3].isUnassigned());
  ASSERT_EQ(ins.details.size(), 1u);
  ASSERT_EQ(ins.details[0].size(), 1u);
  EXPECT_EQ(ins.details[0][0].newValues[1], Variant(int32_t(1)));

  const DeltaRow& mod = d.rows[1];
  EXPECT_EQ(static_cast<int>(mod.kind), 0);
  EXPECT_EQ(mod.oldValues[2], Variant(false));
  EXPECT_EQ(mod.newValues[2], Variant(true));
  EXPECT_TRUE(mod.newValues[0].isUnassigned());
  EXPECT_EQ(mod.oldValues[3], Variant(Currency{125000}));
  EXPECT_EQ(static_cast<int>(d.rows[2].kind), 2);
  EXPECT_EQ(d.rows[3].kind, UpdateKind::Unmodified);
  EXPECT_EQ(d.rows[3].details[0][0].kind, UpdateKind::Delete);

  // Encoding and decoding again gives the same delta.
  std::string again = encodeDelta(d);
  EXPECT_EQ(encodeDelta(decodeDelta(again)), again);
}

TEST(CodecDeltaTest, RecordFindsFieldsWithoutRegardToCaseAndWritesNewValues) {
  Delta d = decodeDelta(kBillDelta);
  DeltaRecord rec("bills", &d.fields, &d.rows[1]);
  EXPECT_EQ(rec.fieldByName("SETTLE").newValue(), Variant(true));
  EXPECT_EQ(rec.fieldByName("Num").oldValue(), Variant(int32_t(17)));
  EXPECT_EQ(rec.fieldByName("num").value(), Variant(int32_t(17)));
  rec.fieldByName("CltName").setNewValue(Variant("李四"));
  EXPECT_EQ(d.rows[1].newValues[1], Variant("李四"));
  try {
    rec.fieldByName("xyz");
    FAIL();
  } catch (const FieldNotFound& e) {
    EXPECT_STREQ(e.what(), "Field 'xyz' not found");
  }
}

TEST(CodecDeltaTest, BadDeltasAreRefusedWithClearMessages) {
  struct Case {
    const char* json;
    const char* expect;
  };
  const char* f =
      R"("fields":[{"name":"a","type":"int32"},{"name":"d","type":"dataset","fields":[]},)"
      R"({"name":"m","type":"currency"}])";
  std::string base = std::string("{") + f + ",\"rows\":[";
  const Case cases[] = {
      {"{\"kind\":\"upsert\",\"new\":{}}", "unknown row kind 'upsert'"},
      {"{\"kind\":\"modify\",\"new\":{\"a\":1}}", "needs \"old\""},
      {"{\"kind\":\"delete\",\"old\":{\"b\":1}}", "Field 'b' not found"},
      {"{\"kind\":\"insert\",\"new\":{\"a\":\"x\"}}", "Field 'a'"},
      {"{\"kind\":\"insert\",\"new\":{\"a\":1},\"details\":{\"zz\":[]}}", "no detail named 'zz'"},
      {"{\"kind\":\"insert\",\"new\":{\"d\":1}}", "use \"details\""},
      {"{\"new\":{}}", "needs a \"kind\""},
      // Money outside the 64-bit range of ten-thousandths would wrap.
      {"{\"kind\":\"insert\",\"new\":{\"m\":922337203685477.5808}}",
       "Field 'm': 922337203685477.6 is out of range"},
      {"{\"kind\":\"insert\",\"new\":{\"m\":922337203685478}}",
       "Field 'm': 922337203685478 is out of range"},
      {"{\"kind\":\"insert\",\"new\":{\"m\":1e15}}", "out of range for currency"},
      {"{\"kind\":\"insert\",\"new\":{\"m\":-1e300}}", "out of range for currency"},
      {"{\"kind\":\"insert\",\"new\":{\"m\":\"1e308\"}}", "Field 'm'"},
      {"{\"kind\":\"insert\",\"new\":{\"m\":{\"$currency\":\"922337203685477.5808\"}}}",
       "Field 'm'"},
  };
  for (const Case& c : cases) {
    std::string json = base + c.json + "]}";
    try {
      decodeDelta(json);
      ADD_FAILURE() << "accepted: " << json;
    } catch (const CodecError& e) {
      EXPECT_NE(std::string(e.what()).find(c.expect), std::string::npos)
          << json << " -> " << e.what();
    }
  }
  EXPECT_THROW(decodeDelta("{\"fields\":[],\"rows\":[}"), CodecError);
}

TEST(CodecDeltaTest, ErrorPacketRoundTripsRowPaths) {
  ErrorPacket e;
  e.errors.push_back(UpdateError{{{"", 2}}, UpdateKind::Insert, "boom", 0});
  e.errors.push_back(UpdateError{{{"", 0}, {"billitems", 3}},
                                 UpdateKind::Delete,
                                 "Record not found or changed by another user",
                                 0});
  rapidjson::StringBuffer sb;
  JsonWriter w(sb);
  writeErrorPacket(w, e);
  std::string json = sb.GetString();
  EXPECT_NE(json.find(R"("row":[0,"billitems",3])"), std::string::npos) << json;
  EXPECT_NE(json.find(R"("row":[2],"kind":"insert")"), std::string::npos) << json;
  rapidjson::Document doc;
  parseJson(json, &doc);
  ErrorPacket back = errorPacketFromValue(doc);
  ASSERT_EQ(back.errors.size(), 2u);
  EXPECT_EQ(back.errors[1].path[1].detail, "billitems");
  EXPECT_EQ(back.errors[1].path[1].index, 3);
  EXPECT_EQ(back.errors[1].kind, UpdateKind::Delete);
  EXPECT_EQ(back.errors[1].message, "Record not found or changed by another user");
}

Variant taggedRoundTrip(const Variant& v) {
  rapidjson::StringBuffer sb;
  JsonWriter w(sb);
  w.StartArray();
  writeTagged(w, v);
  w.EndArray();
  rapidjson::Document doc;
  parseJson(sb.GetString(), &doc);
  return readTaggedValue(doc[0]);
}

TEST(CodecDeltaTest, TaggedVariantsKeepTheirKind) {
  const Variant values[] = {
      Variant::null(),
      Variant(true),
      Variant(int32_t(-5)),
      Variant(int64_t(1) << 40),
      Variant(2.0),
      Variant(1e300),
      Variant(Currency{-12345}),
      Variant::decimal("123.45"),
      Variant(DateTime::fromParts(2001, 7, 1, 23, 59, 59, 999)),
      Variant("text"),
      Variant::bytes(std::string("\0\1", 2)),
      Variant(VariantArray{Variant("购进"), Variant(int32_t(-1)), Variant()})};
  for (const Variant& v : values) EXPECT_EQ(taggedRoundTrip(v), v) << v.debugString();
  rapidjson::Document doc;
  parseJson(R"([2.5, {"$unassigned": true}, {"$currency": "12.3400"}])", &doc);
  EXPECT_EQ(readTaggedValue(doc[0]).type(), VarType::Double);
  EXPECT_TRUE(readTaggedValue(doc[1]).isUnassigned());
  EXPECT_EQ(readTaggedValue(doc[2]), Variant(Currency{123400}));
  parseJson(R"([{"$currency": "abc"}, {"$a": 1, "$b": 2}, {"$unassigned": false}])", &doc);
  for (auto& v : doc.GetArray()) EXPECT_THROW(readTaggedValue(v), CodecError);
  // Nesting is bounded: 64 levels read, a deeper OwnerData is refused.
  parseJson(std::string(64, '[') + std::string(64, ']'), &doc);
  EXPECT_NO_THROW(readTaggedValue(doc));
  parseJson(std::string(100000, '[') + std::string(100000, ']'), &doc);
  EXPECT_THROW(readTaggedValue(doc), CodecError);
}

// Numbers are read exactly: a zero with a large exponent is zero (RapidJSON
// alone reads "0e55" as about 1.3e36), integers keep their width, doubles
// round correctly and only a magnitude beyond a double is refused.
TEST(CodecDeltaTest, NumbersReadExactly) {
  rapidjson::Document doc;
  parseJson(
      "[0e55, -0.0e300, 0e00055, 1e-400, 0.1, 4294967295, 4294967296, -2147483649,"
      " 18446744073709551616, 2.2250738585072011e-308]",
      &doc);
  EXPECT_EQ(doc[0].GetDouble(), 0.0);
  EXPECT_TRUE(std::signbit(doc[1].GetDouble()));
  EXPECT_EQ(doc[2].GetDouble(), 0.0);
  EXPECT_EQ(doc[3].GetDouble(), 0.0);
  EXPECT_EQ(doc[4].GetDouble(), 0.1);
  EXPECT_TRUE(doc[5].IsUint());
  EXPECT_TRUE(doc[6].IsUint64() && !doc[6].IsUint());
  EXPECT_EQ(doc[7].GetInt64(), -2147483649);
  EXPECT_EQ(doc[8].GetDouble(), 18446744073709551616.0);
  EXPECT_EQ(doc[9].GetDouble(), 2.2250738585072011e-308);
  try {
    parseJson("[1, 1e400]", &doc);
    FAIL() << "1e400 was read";
  } catch (const CodecError& e) {
    EXPECT_STREQ(e.what(), "Invalid JSON at offset 4: Number too big to be stored in double.");
  }
}

TEST(CodecDeltaTest, ParamsRoundTripAndAssignByNameWithConversion) {
  db::ParamList design(3);
  design[0].name = "@RETURN_VALUE";
  design[0].type = db::FieldType::Int32;
  design[0].direction = db::ParamDirection::ReturnValue;
  design[0].precision = 10;
  design[1].name = "@fdate";
  design[1].type = db::FieldType::DateTime;
  design[1].direction = db::ParamDirection::InputOutput;
  design[1].value = Variant(DateTime::fromParts(2026, 1, 1));
  design[2].name = "@subscription";
  design[2].type = db::FieldType::Decimal;
  design[2].precision = 19;
  design[2].value = Variant::decimal("10.5");
  std::string json = encodeParams(design);
  rapidjson::Document doc;
  parseJson(json, &doc);
  db::ParamList back = paramsFromValue(doc);
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(back[0].direction, db::ParamDirection::ReturnValue);
  EXPECT_TRUE(back[0].value.isUnassigned());
  EXPECT_EQ(back[1].value, design[1].value);
  EXPECT_EQ(back[2].value, design[2].value);
  EXPECT_EQ(back[2].precision, 19);
  EXPECT_EQ(encodeParams(back), json);

  // A request may send only names and tagged values, in any case.
  parseJson(R"([{"name":"@FDATE","value":"2026-12-09"},{"name":"@Subscription","value":7}])", &doc);
  std::vector<bool> typed;
  db::ParamList client = paramsFromValue(doc, &typed);
  EXPECT_EQ(typed, (std::vector<bool>{false, false}));
  assignParams(design, client);
  EXPECT_EQ(design[1].value, Variant(DateTime::fromParts(2026, 12, 9)));
  EXPECT_EQ(design[2].value, Variant::decimal("7"));

  parseJson(R"([{"name":"nope","value":1}])", &doc);
  try {
    assignParams(design, paramsFromValue(doc));
    FAIL();
  } catch (const CodecError& e) {
    EXPECT_STREQ(e.what(), "Parameter 'nope' not found");
  }
  parseJson(R"([{"value":1}])", &doc);
  EXPECT_THROW(paramsFromValue(doc), CodecError);
  parseJson(R"([{"name":"a","type":"int32","value":"x"}])", &doc);
  EXPECT_THROW(paramsFromValue(doc), CodecError);
  parseJson(R"([{"name":"a","direction":"sideways"}])", &doc);
  EXPECT_THROW(paramsFromValue(doc), CodecError);
}

TEST(CodecDeltaTest, Base64AndDecimalTextEdgeCases) {
  for (std::string s : {std::string(), std::string("a"), std::string("ab"), std::string("abc"),
                        std::string("\xff\x00\x10\x80", 4)})
    EXPECT_EQ(base64Decode(base64Encode(s)), s);
  EXPECT_EQ(base64Encode("abcd"), "YWJjZA==");
  EXPECT_THROW(base64Decode("YWJjZA="), CodecError);
  EXPECT_THROW(base64Decode("YW=jZA=="), CodecError);
  std::string out;
  EXPECT_TRUE(normalizeDecimal("+007.2500", &out));
  EXPECT_EQ(out, "7.25");
  EXPECT_TRUE(normalizeDecimal("-0.000", &out));
  EXPECT_EQ(out, "0");
  EXPECT_TRUE(normalizeDecimal(".5", &out));
  EXPECT_EQ(out, "0.5");
  EXPECT_FALSE(normalizeDecimal("1e5", &out));
  EXPECT_FALSE(normalizeDecimal("-", &out));
  EXPECT_FALSE(normalizeDecimal("1.2.3", &out));
}

}  // namespace
}  // namespace qz::provider
