// Data packets in JSON: every value type round-trips through the writer and
// both readers, nested details keep their shape, bad input is refused with
// a message that says what is wrong, and large packets stream.
#include <gtest/gtest.h>

#include <string>

#include "platform/packet/json_packet.h"

namespace qz::provider {
namespace {

FieldDef field(std::string name, FieldType t) {
  FieldDef f;
  f.name = std::move(name);
  f.type = t;
  return f;
}

DataPacket allTypesPacket() {
  DataPacket p;
  p.fields = {field("b", FieldType::Boolean),   field("i16", FieldType::Int16),
              field("i32", FieldType::Int32),   field("i64", FieldType::Int64),
              field("f", FieldType::Float),     field("cur", FieldType::Currency),
              field("dec", FieldType::Decimal), field("dt", FieldType::DateTime),
              field("s", FieldType::String),    field("m", FieldType::Memo),
              field("bin", FieldType::Bytes)};
  p.fields[2].required = true;
  p.fields[2].key = true;
  p.fields[6].precision = 19;
  p.fields[6].scale = 4;
  p.fields[8].size = 50;
  p.fields[10].readOnly = true;
  DataRow r;
  r.values = {Variant(true),
              Variant(int16_t(-7)),
              Variant(int32_t(17)),
              Variant(int64_t(9007199254740993LL)),
              Variant(2.0),
              Variant(Currency{123400}),
              Variant::decimal("-123.45"),
              Variant(DateTime::fromParts(2026, 12, 9, 10, 15, 30, 7)),
              Variant("张三 \"quoted\"\n"),
              Variant(std::string(100, 'x')),
              Variant::bytes(std::string("\0\x01\xff\x80z", 5))};
  p.rows.push_back(r);
  DataRow nulls;
  nulls.values.assign(p.fields.size(), Variant::null());
  p.rows.push_back(nulls);
  return p;
}

TEST(CodecPacketTest, EveryValueTypeRoundTripsThroughBothReaders) {
  DataPacket p = allTypesPacket();
  std::string json = encodePacket(p);
  EXPECT_NE(json.find("\"12.3400\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"2026-12-09T10:15:30.007\""), std::string::npos) << json;
  EXPECT_NE(json.find("2.0"), std::string::npos) << json;

  DataPacket sax = decodePacket(json);
  rapidjson::Document doc;
  doc.Parse(json.c_str());
  DataPacket tree = packetFromValue(doc);
  for (const DataPacket* back : {&sax, &tree}) {
    ASSERT_EQ(back->fields.size(), p.fields.size());
    for (size_t i = 0; i < p.fields.size(); ++i) {
      EXPECT_EQ(back->fields[i].name, p.fields[i].name);
      EXPECT_EQ(back->fields[i].type, p.fields[i].type) << p.fields[i].name;
    }
    EXPECT_TRUE(back->fields[2].required && back->fields[2].key);
    EXPECT_EQ(back->fields[6].precision, 19);
    EXPECT_EQ(back->fields[6].scale, 4);
    EXPECT_EQ(back->fields[8].size, 50);
    EXPECT_TRUE(back->fields[10].readOnly);
    ASSERT_EQ(back->rows.size(), 2u);
    for (size_t i = 0; i < p.fields.size(); ++i) {
      EXPECT_EQ(back->rows[0].values[i], p.rows[0].values[i])
          << p.fields[i].name << ": " << back->rows[0].values[i].debugString();
      EXPECT_TRUE(back->rows[1].values[i].isNull()) << p.fields[i].name;
    }
  }
}

TEST(CodecPacketTest, WriterTextIsRapidjsonsByteForByte) {
  const std::string texts[] = {"",
                               "plain",
                               "张三",
                               "a\"b",
                               "back\\slash",
                               "\x1f end",
                               std::string("\0z", 2),
                               "\x7f\x20",
                               std::string(40, 'q'),
                               "tab\there"};
  for (const std::string& t : texts) {
    rapidjson::StringBuffer ours, theirs;
    JsonWriter w(ours);
    rapidjson::Writer<rapidjson::StringBuffer> r(theirs);
    w.StartArray();
    w.String(t.data(), static_cast<rapidjson::SizeType>(t.size()));
    w.String(t.data(), static_cast<rapidjson::SizeType>(t.size()));
    w.EndArray();
    r.StartArray();
    r.String(t.data(), static_cast<rapidjson::SizeType>(t.size()));
    r.String(t.data(), static_cast<rapidjson::SizeType>(t.size()));
    r.EndArray();
    EXPECT_STREQ(ours.GetString(), theirs.GetString());
  }
}

TEST(CodecPacketTest, NestedDetailsKeepTheirRowsPerMaster) {
  DataPacket p;
  FieldDef items = field("billitems", FieldType::Dataset);
  items.children = {field("bnum", FieldType::Int32), field("name", FieldType::String)};
  FieldDef pay = field("gathering", FieldType::Dataset);
  pay.children = {field("amount", FieldType::Currency)};
  p.fields = {field("num", FieldType::Int32), items, pay};
  for (int m = 0; m < 3; ++m) {
    DataRow r;
    r.values = {Variant(int32_t(m)), Variant::null(), Variant::null()};
    r.details.resize(2);
    for (int j = 0; j < m; ++j)
      r.details[0].push_back(
          DataRow{{Variant(int32_t(m)), Variant("item" + std::to_string(j))}, {}});
    r.details[1].push_back(DataRow{{Variant(Currency{m * 10000})}, {}});
    p.rows.push_back(r);
  }
  std::string json = encodePacket(p);
  DataPacket back = decodePacket(json);
  ASSERT_EQ(back.rows.size(), 3u);
  ASSERT_EQ(back.fields[1].children.size(), 2u);
  for (int m = 0; m < 3; ++m) {
    ASSERT_EQ(back.rows[m].details.size(), 2u);
    ASSERT_EQ(back.rows[m].details[0].size(), size_t(m));
    for (int j = 0; j < m; ++j)
      EXPECT_EQ(back.rows[m].details[0][j].values[1], Variant("item" + std::to_string(j)));
    EXPECT_EQ(back.rows[m].details[1][0].values[0], Variant(Currency{m * 10000}));
  }
  EXPECT_EQ(encodePacket(back), json);
}

TEST(CodecPacketTest, MistypedValuesAreWrittenTaggedAndReadBack) {
  // An engine with loose column types can hand text to an integer column.
  DataPacket p;
  p.fields = {field("n", FieldType::Int32), field("d", FieldType::DateTime)};
  p.rows.push_back(DataRow{{Variant("abc"), Variant(Currency{5})}, {}});
  p.rows.push_back(DataRow{{Variant("17"), Variant::null()}, {}});
  std::string json = encodePacket(p);
  EXPECT_NE(json.find("{\"$currency\":\"0.0005\"}"), std::string::npos) << json;
  DataPacket back = decodePacket(json);
  EXPECT_EQ(back.rows[0].values[0], Variant("abc"));
  EXPECT_EQ(back.rows[0].values[1], Variant(Currency{5}));
  EXPECT_EQ(back.rows[1].values[0], Variant(int32_t(17)));

  // Bits kept as integers are written and read as booleans.
  DataPacket bits;
  bits.fields = {field("settle", FieldType::Boolean)};
  bits.rows.push_back(DataRow{{Variant(int32_t(1))}, {}});
  bits.rows.push_back(DataRow{{Variant(int64_t(0))}, {}});
  EXPECT_EQ(encodePacket(bits).find("[[true],[false]]") != std::string::npos, true)
      << encodePacket(bits);
  DataPacket read = decodePacket(R"({"fields":[{"name":"b","type":"boolean"}],"rows":[[1],[0]]})");
  EXPECT_EQ(read.rows[0].values[0], Variant(true));
  EXPECT_EQ(read.rows[1].values[0], Variant(false));
  EXPECT_THROW(decodePacket(R"({"fields":[{"name":"b","type":"boolean"}],"rows":[[2]]})"),
               CodecError);
}

TEST(CodecPacketTest, MalformedPacketsNameTheFault) {
  struct Case {
    const char* json;
    const char* expect;
    bool fieldFault = false;  // the tree reader refuses it alike
  };
  const Case cases[] = {
      {"[1,2]", "must be a JSON object"},
      {R"({"rows":[]})", "before \"fields\""},
      {R"({"fields":[{"name":"a","type":"int32"}],"rows":[[1,2]]})", "more values"},
      {R"({"fields":[{"name":"a","type":"int32"}],"rows":[[]]})", "0 values, expected 1"},
      {R"({"fields":[{"name":"a","type":"int32"}],"rows":[[true]]})", "Field 'a'"},
      {R"({"fields":[{"name":"a","type":"int16"}],"rows":[[70000]]})", "out of range"},
      {R"({"fields":[{"name":"a","type":"whatever"}],"rows":[]})", "unknown field type", true},
      {R"({"fields":[{"name":"a"}]})", "field 'a' has no type", true},
      {R"({"fields":[{"name":"d","type":"dataset"}]})", "field 'd' has no fields", true},
      {R"({"fields":[{"name":"a","type":"string","size":4294967296}]})", "must be an integer",
       true},
      {R"({"fields":[{"name":"a","type":"string","size":{}}]})", "must be an integer", true},
      {R"({"fields":[{"name":"a","type":"datetime"}],"rows":[["2026-13-45"]]})",
       "not a valid date"},
      {R"({"fields":[{"name":"a","type":"currency"}],"rows":[[{"$money":"1"}]]})", "unknown tag"},
      {R"({"fields":[{"name":"a","type":"bytes"}],"rows":[["a*=="]]})", "base64"},
      {R"({"fields":[{"name":"a","type":"int32"}],"rows":[[1]])", "offset"},
      {R"({"fields":[{"type":"int32"}]})", "no name", true},
  };
  for (const Case& c : cases) {
    try {
      decodePacket(c.json);
      ADD_FAILURE() << "accepted: " << c.json;
    } catch (const CodecError& e) {
      EXPECT_NE(std::string(e.what()).find(c.expect), std::string::npos)
          << c.json << " -> " << e.what();
    }
    if (!c.fieldFault) continue;
    rapidjson::Document doc;
    doc.Parse(c.json);
    try {
      packetFromValue(doc);
      ADD_FAILURE() << "the tree reader accepted: " << c.json;
    } catch (const CodecError& e) {
      EXPECT_NE(std::string(e.what()).find(c.expect), std::string::npos)
          << c.json << " -> " << e.what();
    }
  }
}

TEST(CodecPacketTest, DeeplyNestedUnknownMembersDoNotExhaustTheStack) {
  std::string deep = R"({"x":)" + std::string(200000, '[') + std::string(200000, ']') +
                     R"(,"fields":[{"name":"a","type":"int32"}],"rows":[[1]]})";
  EXPECT_EQ(decodePacket(deep).rows.size(), 1u);
  std::string open = R"({"fields":[],"x":)" + std::string(200000, '[');
  EXPECT_THROW(decodePacket(open), CodecError);
}

TEST(CodecPacketTest, UnknownMembersAreSkippedAndNullDetailsAreEmpty) {
  const char* json =
      R"({"version":{"a":[1,{"b":2}]},"fields":[{"name":"n","type":"int32","x":[1]},)"
      R"({"name":"d","type":"dataset","fields":[{"name":"v","type":"string"}]}],)"
      R"("rows":[[1,null],[2,[["a"],["b"]]]],"extra":true})";
  DataPacket p = decodePacket(json);
  ASSERT_EQ(p.rows.size(), 2u);
  EXPECT_TRUE(p.rows[0].details[0].empty());
  ASSERT_EQ(p.rows[1].details[0].size(), 2u);
  EXPECT_EQ(p.rows[1].details[0][1].values[0], Variant("b"));
}

class CountingSink : public PacketSink {
 public:
  void onFields(const std::vector<FieldDef>& f) override { fields = f.size(); }
  void onRow(DataRow&& r) override {
    ++rows;
    sum += r.values[0].asInt();
  }
  size_t fields = 0;
  size_t rows = 0;
  int64_t sum = 0;
};

// An output stream that only counts bytes: proves that the writer needs no
// buffer of the whole packet.
struct CountingStream {
  using Ch = char;
  void Put(char) { ++bytes; }
  void Flush() {}
  size_t bytes = 0;
};

TEST(CodecPacketTest, HundredThousandRowsStreamBothWays) {
  DataPacket p;
  p.fields = {field("num", FieldType::Int32), field("name", FieldType::String),
              field("amount", FieldType::Currency)};
  const int n = 100000;
  p.rows.reserve(n);
  for (int i = 0; i < n; ++i)
    p.rows.push_back(DataRow{{Variant(int32_t(i)), Variant("row"), Variant(Currency{i})}, {}});
  CountingStream cs;
  rapidjson::Writer<CountingStream> w(cs);
  writePacket(w, p);
  std::string json = encodePacket(p);
  EXPECT_EQ(cs.bytes, json.size());

  CountingSink sink;
  decodePacket(json, sink);
  EXPECT_EQ(sink.fields, 3u);
  EXPECT_EQ(sink.rows, size_t(n));
  EXPECT_EQ(sink.sum, int64_t(n) * (n - 1) / 2);
}

TEST(CodecPacketTest, SinkGetsFieldsOfAPacketWithoutRows) {
  CountingSink sink;
  decodePacket(R"({"fields":[{"name":"a","type":"int32"},{"name":"b","type":"string"}]})", sink);
  EXPECT_EQ(sink.fields, 2u);
  EXPECT_EQ(sink.rows, 0u);
}

TEST(CodecPacketTest, PacketInsideAnAnswerIsStreamedAndTheRestKept) {
  DataPacket p = allTypesPacket();
  const std::string packet = encodePacket(p);
  // The packet stands after other members, and members after it (including
  // one also named "data" at another depth) stay in the document.
  const std::string answer = R"({"jsonrpc":"2.0","id":7,"result":{"params":[{"data":1}],"data":)" +
                             packet + R"(,"recsOut":2,"ownerData":"x\"y"}})";
  rapidjson::Document rest;
  DataPacket back;
  ASSERT_TRUE(decodeEmbeddedPacket(answer, "result", "data", &rest, &back));
  ASSERT_EQ(back.rows.size(), 2u);
  for (size_t i = 0; i < p.fields.size(); ++i)
    EXPECT_EQ(back.rows[0].values[i], p.rows[0].values[i]) << p.fields[i].name;
  EXPECT_EQ(encodePacket(back), packet);
  ASSERT_TRUE(rest.IsObject());
  EXPECT_EQ(rest["id"].GetInt(), 7);
  const rapidjson::Value& result = rest["result"];
  EXPECT_TRUE(result["data"].IsNull());
  EXPECT_EQ(result["recsOut"].GetInt(), 2);
  EXPECT_EQ(std::string(result["ownerData"].GetString()), "x\"y");
  EXPECT_EQ(result["params"][0]["data"].GetInt(), 1);
}

TEST(CodecPacketTest, AnswerWithoutPacketOrWithABadOneIsTold) {
  rapidjson::Document rest;
  DataPacket back;
  // An error answer has no packet: the document is whole.
  EXPECT_FALSE(decodeEmbeddedPacket(R"({"id":1,"error":{"code":5,"data":{"x":1}}})", "result",
                                    "data", &rest, &back));
  ASSERT_TRUE(rest.IsObject());
  EXPECT_EQ(rest["error"]["code"].GetInt(), 5);
  // A packet member that is no object is left for the caller to refuse.
  EXPECT_FALSE(
      decodeEmbeddedPacket(R"({"result":{"data":[1,2]}})", "result", "data", &rest, &back));
  EXPECT_TRUE(rest["result"]["data"].IsArray());
  // "data" one level too deep is not the packet.
  EXPECT_FALSE(decodeEmbeddedPacket(R"({"result":{"x":{"data":{"fields":[]}}}})", "result", "data",
                                    &rest, &back));
  // Not JSON at all: no object.
  EXPECT_FALSE(decodeEmbeddedPacket(R"({"result":{"data":)", "result", "data", &rest, &back));
  EXPECT_FALSE(rest.IsObject());
  // A packet that breaks its own rules names the fault.
  try {
    decodeEmbeddedPacket(
        R"({"result":{"data":{"fields":[{"name":"n","type":"int32"}],"rows":[[1,2]]}}})", "result",
        "data", &rest, &back);
    FAIL() << "a row with too many values was accepted";
  } catch (const CodecError& e) {
    EXPECT_NE(std::string(e.what()).find("more values than the 1 fields"), std::string::npos)
        << e.what();
  }
}

}  // namespace
}  // namespace qz::provider
