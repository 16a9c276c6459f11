// qzclient's text output: display widths of Chinese text, aligned tables,
// CSV quoting, and the cells of packets.
#include <gtest/gtest.h>

#include "client/qzclient_cli.h"
#include "client/text_table.h"

namespace qz::client {
namespace {

TEST(TextTableTest, WideCharactersTakeTwoColumns) {
  EXPECT_EQ(0u, displayWidth(""));
  EXPECT_EQ(5u, displayWidth("abcde"));
  EXPECT_EQ(4u, displayWidth("张三"));
  EXPECT_EQ(6u, displayWidth("A张三B"));
  EXPECT_EQ(4u, displayWidth("ＡＢ"));       // full-width Latin
  EXPECT_EQ(2u, displayWidth("，"));         // full-width comma
  EXPECT_EQ(1u, displayWidth("e\xCC\x81"));  // e + combining acute
  EXPECT_EQ(3u, displayWidth("\xFF\xFEx"));  // invalid bytes count one each
  EXPECT_EQ(1u, displayWidth("é"));          // precomposed
}

TEST(TextTableTest, ColumnsAlignUnderChineseText) {
  std::string t = formatTable({"name", "n"}, {{"上海岚舟", "1"}, {"ab", "100"}}, {false, true});
  EXPECT_EQ(
      "name        n\n"
      "--------  ---\n"
      "上海岚舟    1\n"
      "ab        100\n",
      t);
}

TEST(TextTableTest, RaggedRowsAndTrailingSpaces) {
  std::string t = formatTable({"a", "b"}, {{"x"}, {"yy", "z", "extra"}});
  EXPECT_EQ(
      "a   b\n"
      "--  -  -----\n"
      "x\n"
      "yy  z  extra\n",
      t);
}

TEST(TextTableTest, CsvQuotesOnlyWhereNeeded) {
  EXPECT_EQ("plain", csvField("plain"));
  EXPECT_EQ("张三", csvField("张三"));
  EXPECT_EQ("\"a,b\"", csvField("a,b"));
  EXPECT_EQ("\"say \"\"hi\"\"\"", csvField("say \"hi\""));
  EXPECT_EQ("\"two\nlines\"", csvField("two\nlines"));
  EXPECT_EQ("\" padded\"", csvField(" padded"));
  EXPECT_EQ("a,,\"b,c\"\r\n", csvLine({"a", "", "b,c"}));
}

TEST(CellTextTest, NullsDetailsAndBytes) {
  std::vector<provider::FieldDef> fields(4);
  fields[0].name = "a";
  fields[0].type = provider::FieldType::Int32;
  fields[1].name = "d";
  fields[1].type = provider::FieldType::Dataset;
  fields[2].name = "b";
  fields[2].type = provider::FieldType::Bytes;
  fields[3].name = "m";
  fields[3].type = provider::FieldType::Currency;
  provider::DataRow row;
  row.values = {Variant::null(), Variant::null(), Variant::bytes("abc"), Variant(Currency{125000})};
  row.details.resize(1);
  row.details[0].resize(3);
  EXPECT_EQ("", cellText(row, fields, 0));
  EXPECT_EQ("[3 rows]", cellText(row, fields, 1));
  EXPECT_EQ("(3 bytes)", cellText(row, fields, 2));
  EXPECT_EQ("12.5", cellText(row, fields, 3));
}

TEST(QzClientCliTest, UsageErrorsExitWithTwoBeforeConnecting) {
  for (std::vector<std::string> args : {std::vector<std::string>{},
                                        {"frobnicate"},
                                        {"read"},
                                        {"exec", "SqlProvider"},
                                        {"read", "billP", "--format", "xml"},
                                        {"read", "billP", "--count", "many"},
                                        {"read", "billP", "--param", "=1"},
                                        {"login", "a", "b"},
                                        {"providers", "--bogus"}}) {
    std::ostringstream out, err;
    EXPECT_EQ(2, runQzClient(args, out, err)) << ::testing::PrintToString(args);
    EXPECT_NE(std::string::npos, err.str().find("usage: qzclient")) << err.str();
    EXPECT_TRUE(out.str().empty());
  }
}

TEST(QzClientCliTest, HelpPrintsTheUsageOnStandardOutputAndSucceeds) {
  for (const char* help : {"--help", "-h"}) {
    std::ostringstream out, err;
    EXPECT_EQ(0, runQzClient({"read", help}, out, err)) << help;
    EXPECT_NE(std::string::npos, out.str().find("usage: qzclient")) << out.str();
    EXPECT_TRUE(err.str().empty()) << err.str();
  }
}

TEST(QzClientCliTest, UnreachableServerExitsWithThree) {
  std::ostringstream out, err;
  // Port 1 on the loopback: nothing listens there.
  EXPECT_EQ(3, runQzClient({"--server", "127.0.0.1:1", "providers"}, out, err));
  EXPECT_NE(std::string::npos, err.str().find("127.0.0.1:1")) << err.str();
}

}  // namespace
}  // namespace qz::client
