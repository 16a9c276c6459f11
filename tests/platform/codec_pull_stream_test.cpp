// Decoding an answer that carries a packet while its text arrives in
// pieces: whatever the cut points (inside a multi-byte character, an escape,
// a number or a key), the result equals decoding the whole text, and a
// malformed or cut-off text fails the same way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/packet/json_packet.h"
#include "platform/packet/json_pull_stream.h"

namespace qz::provider {
namespace {

// Hands out a text in pieces of the given sizes, cycling through them.
class Pieces : public TextSource {
 public:
  Pieces(std::string_view text, std::vector<size_t> sizes)
      : text_(text), sizes_(std::move(sizes)) {}
  bool next(const char** begin, const char** end) override {
    if (pos_ == text_.size()) return false;
    size_t n = std::min(sizes_[calls_++ % sizes_.size()], text_.size() - pos_);
    *begin = text_.data() + pos_;
    *end = *begin + n;
    pos_ += n;
    return true;
  }

 private:
  std::string_view text_;
  std::vector<size_t> sizes_;
  size_t pos_ = 0;
  size_t calls_ = 0;
};

// An answer line as the server writes it, with text that needs care: two-,
// three- and four-byte characters written raw and as escapes (a surrogate
// pair among them), escaped quotes and backslashes, numbers of every kind.
const std::string kAnswer =
    R"({"jsonrpc":"2.0","id":7,"result":{"data":{"fields":[)"
    R"({"name":"id","type":"int32","key":true},{"name":"name","type":"string","size":50},)"
    R"({"name":"rate","type":"float"},{"name":"due","type":"datetime"},)"
    R"({"name":"paid","type":"boolean"},{"name":"price","type":"currency"}],"rows":[)"
    R"([1,"caf\u00e9 \"Bar\" \\ é 游客 😀 \ud83d\ude00","-1.25e-3","2024-03-01T12:30:00.000",true,"12.3400"],)"
    R"([-2147483648,"",1.5,null,false,{"$currency":"0.0001"}],)"
    R"([3,"line\nfeed\ttab",1e300,"1999-12-31T23:59:59.999",null,"-7.0000"]]},)"
    R"("recsOut":3,"note":"gr\u00fc\u00DF \/ 游"}})";

struct Decoded {
  bool threw = false;
  std::string error;
  bool found = false;
  rapidjson::Document rest;
  DataPacket packet;
};

Decoded decodeWhole(std::string_view text) {
  Decoded d;
  try {
    d.found = decodeEmbeddedPacket(text, "result", "data", &d.rest, &d.packet);
  } catch (const CodecError& e) {
    d.threw = true;
    d.error = e.what();
  }
  return d;
}

Decoded decodePieces(std::string_view text, std::vector<size_t> sizes, bool* ended = nullptr) {
  Decoded d;
  Pieces source(text, std::move(sizes));
  PullStream in(source);
  try {
    d.found = decodeEmbeddedPacket(in, "result", "data", &d.rest, &d.packet);
  } catch (const CodecError& e) {
    d.threw = true;
    d.error = e.what();
  }
  if (ended) *ended = in.ended();
  return d;
}

void expectSame(const Decoded& want, const Decoded& got, const std::string& how) {
  ASSERT_EQ(want.threw, got.threw) << how << ": " << want.error << " / " << got.error;
  EXPECT_EQ(want.error, got.error) << how;
  ASSERT_EQ(want.found, got.found) << how;
  EXPECT_TRUE(want.rest == got.rest) << how;
  ASSERT_EQ(want.packet.fields.size(), got.packet.fields.size()) << how;
  for (size_t i = 0; i < want.packet.fields.size(); ++i) {
    EXPECT_EQ(want.packet.fields[i].name, got.packet.fields[i].name) << how;
    EXPECT_EQ(want.packet.fields[i].type, got.packet.fields[i].type) << how;
  }
  ASSERT_EQ(want.packet.rows.size(), got.packet.rows.size()) << how;
  for (size_t r = 0; r < want.packet.rows.size(); ++r)
    EXPECT_TRUE(want.packet.rows[r].values == got.packet.rows[r].values) << how << ", row " << r;
}

TEST(PullStreamDecodeTest, WholeTextDecodesAsExpected) {
  // The reference the piecewise decodings are held against.
  Decoded whole = decodeWhole(kAnswer);
  ASSERT_FALSE(whole.threw) << whole.error;
  ASSERT_TRUE(whole.found);
  ASSERT_EQ(3u, whole.packet.rows.size());
  EXPECT_EQ(
      "caf\xC3\xA9 \"Bar\" \\ \xC3\xA9 \xE6\xB8\xB8\xE5\xAE\xA2 \xF0\x9F\x98\x80 \xF0\x9F\x98\x80",
      whole.packet.rows[0].values[1].asString());
  EXPECT_EQ("gr\xC3\xBC\xC3\x9F / \xE6\xB8\xB8",
            std::string(whole.rest["result"]["note"].GetString()));
  EXPECT_TRUE(whole.rest["result"]["data"].IsNull());
}

TEST(PullStreamDecodeTest, AnyCutIntoTwoPiecesGivesTheSameResult) {
  Decoded whole = decodeWhole(kAnswer);
  for (size_t cut = 1; cut < kAnswer.size(); ++cut) {
    bool ended = false;
    Decoded d = decodePieces(kAnswer, {cut, kAnswer.size()}, &ended);
    expectSame(whole, d, "cut at " + std::to_string(cut));
    EXPECT_TRUE(ended) << "cut at " << cut;
  }
}

TEST(PullStreamDecodeTest, SmallAndUnevenPiecesGiveTheSameResult) {
  Decoded whole = decodeWhole(kAnswer);
  for (size_t n = 1; n <= 9; ++n)
    expectSame(whole, decodePieces(kAnswer, {n}), "pieces of " + std::to_string(n));
  expectSame(whole, decodePieces(kAnswer, {1, 2, 3, 5, 8, 13}), "uneven pieces");
}

TEST(PullStreamDecodeTest, CutOffTextFailsLikeTheSameTextWhole) {
  // Every prefix of the answer: a text that ends early must be refused the
  // same way whether it came whole or in pieces (never taken for a packet).
  for (size_t len = 0; len < kAnswer.size(); ++len) {
    std::string_view prefix(kAnswer.data(), len);
    Decoded whole = decodeWhole(prefix);
    EXPECT_FALSE(whole.rest.IsObject()) << len;
    expectSame(whole, decodePieces(prefix, {3, 1, 4}), "prefix of " + std::to_string(len));
  }
}

TEST(PullStreamDecodeTest, MalformedPacketInPiecesNamesTheSameOffsetAndStopsThere) {
  std::string bad = kAnswer;
  bad.replace(bad.find("\"12.3400\""), 9, "\"12.x\"");
  Decoded whole = decodeWhole(bad);
  ASSERT_TRUE(whole.threw);
  EXPECT_NE(std::string::npos, whole.error.find("at offset")) << whole.error;
  bool ended = true;
  Decoded d = decodePieces(bad, {7}, &ended);
  expectSame(whole, d, "pieces of 7");
  EXPECT_FALSE(ended) << "the decoder reads no further than the fault";

  std::string badUtf8 = kAnswer;
  badUtf8[badUtf8.find("é")] = '\xFF';
  expectSame(decodeWhole(badUtf8), decodePieces(badUtf8, {2}), "invalid UTF-8 in pieces");
}

}  // namespace
}  // namespace qz::provider
