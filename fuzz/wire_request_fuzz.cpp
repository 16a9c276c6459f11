// Fuzz target: the bytes a client sends on the socket transport, read the
// way a session reads them: cut into lines by the framer (fed in pieces),
// each line parsed and its JSON-RPC envelope checked, and the arguments of
// the application-server operations decoded (parameters, tagged variants,
// deltas, row packets). Every error line the server would send must itself
// be one valid JSON document on one line.
#include <rapidjson/document.h>

#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/packet/json_delta.h"
#include "platform/packet/json_packet.h"
#include "platform/packet/json_params.h"
#include "platform/remote/json_rpc.h"
#include "platform/remote/line_framer.h"

namespace {

using namespace qz;

void CheckAnswerLine(const std::string& line) {
  fuzz::Check(!line.empty() && line.back() == '\n', "an answer ends with a line feed");
  fuzz::Check(line.find('\n') == line.size() - 1, "an answer is one line");
  rapidjson::Document d;
  d.Parse<rapidjson::kParseValidateEncodingFlag>(line.data(), line.size() - 1);
  fuzz::Check(!d.HasParseError() && d.IsObject(), "an answer is a valid JSON object");
}

const rapidjson::Value* Member(const rapidjson::Value* params, const char* name) {
  if (!params || !params->IsObject()) return nullptr;
  auto it = params->FindMember(name);
  return it == params->MemberEnd() ? nullptr : &it->value;
}

// Decodes the arguments the operations take, as the module does, and
// writes what it read back out (the writers must take whatever the readers
// accept).
void DecodeArguments(const remote::RequestHead& head) {
  try {
    if (const rapidjson::Value* v = Member(head.params, "params")) {
      db::ParamList params = provider::paramsFromValue(*v);
      provider::encodeParams(params);
    }
  } catch (const provider::CodecError&) {
  }
  for (const char* name : {"ownerData", "data"}) {
    try {
      if (const rapidjson::Value* v = Member(head.params, name)) {
        Variant value = provider::readTaggedValue(*v);
        rapidjson::StringBuffer buf;
        provider::JsonWriter w(buf);
        provider::writeTagged(w, value);
      }
    } catch (const provider::CodecError&) {
    }
  }
  try {
    if (const rapidjson::Value* v = Member(head.params, "delta"); v && v->IsObject())
      provider::encodeDelta(provider::deltaFromValue(*v));
  } catch (const provider::CodecError&) {
  }
  try {
    if (const rapidjson::Value* v = Member(head.params, "row"); v && v->IsObject())
      provider::encodePacket(provider::packetFromValue(*v));
  } catch (const provider::CodecError&) {
  }
}

void TakeMessage(const std::string& text) {
  rapidjson::Document doc;
  remote::RequestHead head;
  std::string errorLine;
  if (!remote::parseMessage(text, &doc, &errorLine) ||
      !remote::checkRequest(doc, &head, &errorLine)) {
    CheckAnswerLine(errorLine);
    return;
  }
  // The id goes back into every answer as it came.
  CheckAnswerLine(remote::errorResponse(head.idJson, remote::kCallFailed, head.method,
                                        remote::kUnexpectedFailure, head.method, head.method));
  DecodeArguments(head);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // A small limit so that overflows are reached too.
  remote::LineFramer framer(4096);
  std::vector<std::string> lines;
  for (std::string_view piece : fuzz::CutPieces(bytes, fuzz::SeedOf(bytes))) {
    if (!framer.feed(piece, lines)) break;
    fuzz::Check(framer.pending() <= framer.limit() + 1, "the framer holds at most the limit");
  }
  for (const std::string& line : lines) {
    fuzz::Check(!line.empty() && line.find('\n') == std::string::npos, "a message is one line");
    TakeMessage(line);
  }
  return 0;
}
