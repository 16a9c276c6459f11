// Fuzz target: the client's reader of answers that carry a data packet
// ({"result": {"data": packet, ...}}), fed in pieces as the socket hands
// them over, and the same text decoded whole. Both readings must agree, and
// a packet they accept must write and read back the same.
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/packet/json_delta.h"
#include "platform/packet/json_packet.h"
#include "platform/packet/json_params.h"

using namespace qz;

namespace {

class Pieces : public provider::TextSource {
 public:
  explicit Pieces(std::vector<std::string_view> pieces) : pieces_(std::move(pieces)) {}
  bool next(const char** begin, const char** end) override {
    if (next_ == pieces_.size()) return false;
    *begin = pieces_[next_].data();
    *end = *begin + pieces_[next_].size();
    ++next_;
    return true;
  }

 private:
  std::vector<std::string_view> pieces_;
  size_t next_ = 0;
};

// The answer as decoded, written back as text ("!" + message on failure).
std::string Outcome(bool found, const rapidjson::Document& rest,
                    const provider::DataPacket& packet) {
  rapidjson::StringBuffer buf;
  rapidjson::Writer<rapidjson::StringBuffer> w(buf);
  rest.Accept(w);
  return std::string(found ? "packet " : "none ") +
         (found ? provider::encodePacket(packet) : std::string()) + " rest " + buf.GetString();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);

  std::string whole;
  try {
    rapidjson::Document rest;
    provider::DataPacket packet;
    bool found = provider::decodeEmbeddedPacket(text, "result", "data", &rest, &packet);
    whole = Outcome(found, rest, packet);
  } catch (const provider::CodecError& e) {
    whole = "!";
  }

  std::string streamed;
  Pieces source(fuzz::CutPieces(text, fuzz::SeedOf(text)));
  provider::PullStream in(source);
  try {
    rapidjson::Document rest;
    provider::DataPacket packet;
    bool found = provider::decodeEmbeddedPacket(in, "result", "data", &rest, &packet);
    streamed = Outcome(found, rest, packet);
  } catch (const provider::CodecError& e) {
    streamed = "!";
  }
  if (whole != streamed) {
    std::fprintf(stderr, "whole:    %s\nstreamed: %s\n", whole.c_str(), streamed.c_str());
    fuzz::Check(false, "an answer decodes the same whole and in pieces");
  }

  // The plain packet reader, and what else the client reads from answers.
  try {
    std::string first = provider::encodePacket(provider::decodePacket(text));
    std::string second;
    try {
      second = provider::encodePacket(provider::decodePacket(first));
    } catch (const provider::CodecError& e) {
      std::fprintf(stderr, "written packet refused: %s\n%s\n", e.what(), first.c_str());
      fuzz::Check(false, "the reader takes back what the writer wrote");
    }
    fuzz::Check(second == first, "a written packet reads back the same");
  } catch (const provider::CodecError&) {
  }
  try {
    rapidjson::Document doc;
    provider::parseJson(text, &doc);
    provider::encodeParams(provider::paramsFromValue(doc));
    provider::packetFromValue(doc);
  } catch (const provider::CodecError&) {
  }
  return 0;
}
