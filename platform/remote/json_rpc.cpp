// JSON-RPC envelope checks and error responses; see json_rpc.h.
#include "platform/remote/json_rpc.h"

#include <rapidjson/error/en.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace qz::remote {

std::string jsonText(const rapidjson::Value& v) {
  rapidjson::StringBuffer buf;
  rapidjson::Writer<rapidjson::StringBuffer> w(buf);
  v.Accept(w);
  return std::string(buf.GetString(), buf.GetSize());
}

std::string hresultText(uint32_t hresult) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", hresult);
  return text;
}

std::string errorResponse(std::string_view idJson, int code, std::string_view message,
                          uint32_t hresult, std::string_view source, std::string_view iid,
                          std::string_view engineCode) {
  rapidjson::StringBuffer buf;
  rapidjson::Writer<rapidjson::StringBuffer> w(buf);
  w.StartObject();
  w.Key("jsonrpc");
  w.String("2.0");
  w.Key("id");
  w.RawValue(idJson.data(), idJson.size(), rapidjson::kObjectType);
  w.Key("error");
  w.StartObject();
  w.Key("code");
  w.Int(code);
  w.Key("message");
  w.String(message.data(), static_cast<rapidjson::SizeType>(message.size()));
  // Every failed call carries a result code, so that clients find one
  // shape of "data" whatever failed.
  if (code > 0 && hresult == 0)
    hresult = code == kCallFailed ? kUnexpectedFailure : kRefusedFailure;
  if (hresult != 0 || !source.empty() || !iid.empty() || !engineCode.empty()) {
    w.Key("data");
    w.StartObject();
    if (hresult != 0) {
      std::string h = hresultText(hresult);
      w.Key("hresult");
      w.String(h.c_str(), static_cast<rapidjson::SizeType>(h.size()));
    }
    if (!source.empty()) {
      w.Key("source");
      w.String(source.data(), static_cast<rapidjson::SizeType>(source.size()));
    }
    if (!iid.empty()) {
      w.Key("interface");
      w.String(iid.data(), static_cast<rapidjson::SizeType>(iid.size()));
    }
    if (!engineCode.empty()) {
      w.Key("engineCode");
      w.String(engineCode.data(), static_cast<rapidjson::SizeType>(engineCode.size()));
    }
    w.EndObject();
  }
  w.EndObject();
  w.EndObject();
  std::string line(buf.GetString(), buf.GetSize());
  line.push_back('\n');
  return line;
}

namespace {

// Whether s is well formed UTF-8 (no overlong forms, surrogates or code
// points past U+10FFFF: what RapidJSON's check refuses) without NUL bytes.
bool isPlainUtf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const auto* end = p + s.size();
  while (p < end) {
    // Eight ASCII bytes at a time, none of them NUL.
    if (end - p >= 8) {
      uint64_t w;
      std::memcpy(&w, p, 8);
      const uint64_t zero = (w - 0x0101010101010101ull) & ~w & 0x8080808080808080ull;
      if (((w & 0x8080808080808080ull) | zero) == 0) {
        p += 8;
        continue;
      }
    }
    const unsigned char c = *p;
    if (c == 0) return false;
    if (c < 0x80) {
      ++p;
      continue;
    }
    size_t n;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      n = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (static_cast<size_t>(end - p) <= n) return false;
    if (p[1] < lo || p[1] > hi) return false;
    for (size_t k = 2; k <= n; ++k)
      if (p[k] < 0x80 || p[k] > 0xBF) return false;
    p += n + 1;
  }
  return true;
}

}  // namespace

bool parseMessage(const std::string& text, rapidjson::Document* doc, std::string* errorLine) {
  // Two documents on one line fail too: the parser wants nothing but white
  // space after the root value. The iterative parser keeps a client's deep
  // nesting off the stack of the transport thread.
  // RapidJSON checks the encoding of strings one character at a time and
  // then copies them without its vector path. Most lines are well formed
  // UTF-8 without NUL bytes: checked here in one pass, they are parsed as
  // the null-terminated text they are, with the fast copy. Any other line
  // is parsed with RapidJSON's own check, so its error stays the same (a
  // valid line passes that check anyway).
  if (isPlainUtf8(text))
    doc->Parse<rapidjson::kParseIterativeFlag>(text.data());
  else
    doc->Parse<rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag>(text.data(),
                                                                                       text.size());
  if (!doc->HasParseError()) return true;
  std::string why = std::string(rapidjson::GetParseError_En(doc->GetParseError())) + " at offset " +
                    std::to_string(doc->GetErrorOffset());
  *errorLine = errorResponse("null", kParseError, "Parse error: " + why);
  return false;
}

bool checkRequest(const rapidjson::Document& doc, RequestHead* head, std::string* errorLine) {
  auto fail = [&](std::string_view idJson, int code, const std::string& message) {
    *errorLine = errorResponse(idJson, code, message);
    return false;
  };
  if (doc.IsArray())
    return fail("null", kInvalidRequest, "Invalid request: batches are not supported");
  if (!doc.IsObject())
    return fail("null", kInvalidRequest, "Invalid request: not a request object");
  auto idIt = doc.FindMember("id");
  if (idIt == doc.MemberEnd()) {
    return fail("null", kInvalidRequest,
                "Invalid request: notifications are not used, a request needs an id");
  }
  const rapidjson::Value& id = idIt->value;
  if (!id.IsString() && !id.IsNumber() && !id.IsNull()) {
    return fail("null", kInvalidRequest, "Invalid request: id must be a string, a number or null");
  }
  std::string idJson = jsonText(id);
  auto ver = doc.FindMember("jsonrpc");
  if (ver == doc.MemberEnd() || !ver->value.IsString() ||
      std::string_view(ver->value.GetString(), ver->value.GetStringLength()) != "2.0") {
    return fail(idJson, kInvalidRequest, "Invalid request: jsonrpc must be \"2.0\"");
  }
  auto method = doc.FindMember("method");
  if (method == doc.MemberEnd() || !method->value.IsString()) {
    return fail(idJson, kInvalidRequest, "Invalid request: method must be a string");
  }
  const rapidjson::Value* params = nullptr;
  auto p = doc.FindMember("params");
  if (p != doc.MemberEnd()) {
    if (p->value.IsObject()) {
      params = &p->value;
    } else if (!p->value.IsNull()) {
      return fail(idJson, kInvalidParams, "Invalid params: params must be an object");
    }
  }
  head->idJson = std::move(idJson);
  head->method.assign(method->value.GetString(), method->value.GetStringLength());
  head->params = params;
  return true;
}

}  // namespace qz::remote
