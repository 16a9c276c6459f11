// Fuzz target: the delta reader (the changes a client sends with
// AS_ApplyUpdates) and the error-packet reader. Whatever the reader
// accepts, the writer must write, and reading that again must give the same
// delta (encode . decode is stable after one round).
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "platform/packet/json_delta.h"

using namespace qz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string first;
  try {
    first = provider::encodeDelta(provider::decodeDelta(text));
  } catch (const provider::CodecError&) {
    first.clear();
  }
  if (!first.empty()) {
    std::string second;
    try {
      second = provider::encodeDelta(provider::decodeDelta(first));
    } catch (const provider::CodecError& e) {
      std::fprintf(stderr, "written delta refused: %s\n%s\n", e.what(), first.c_str());
      fuzz::Check(false, "the reader takes back what the writer wrote");
    }
    fuzz::Check(second == first, "a written delta reads back the same");
  }

  try {
    rapidjson::Document doc;
    provider::parseJson(text, &doc);
    provider::ErrorPacket errors = provider::errorPacketFromValue(doc);
    rapidjson::StringBuffer buf;
    provider::JsonWriter w(buf);
    provider::writeErrorPacket(w, errors);
  } catch (const provider::CodecError&) {
  }
  return 0;
}
