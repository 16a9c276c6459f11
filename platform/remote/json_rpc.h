// The JSON-RPC 2.0 envelope of the wire: checking a parsed request and
// writing responses. Knows nothing of sockets or instances.
//
// Responses are complete lines: one JSON document followed by '\n'. Error
// objects carry {"code","message"} and, where the failure defines them,
// "data": {"hresult":"0x80040154","source":...,"interface":...}.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/packet/error_kinds.h"

namespace qz::remote {

inline constexpr int kParseError = -32700;
inline constexpr int kInvalidRequest = -32600;
inline constexpr int kMethodNotFound = -32601;
// Shared with the error kinds (error_kinds.h), which lie below this layer.
using qz::kCallFailed;
using qz::kClassNotRegistered;
using qz::kInvalidParams;
using qz::kRefusedFailure;
using qz::kServerBusy;
using qz::kUnexpectedFailure;

// The id as JSON text, exactly as the request gave it ("null" for null).
std::string jsonText(const rapidjson::Value& v);

// "0x80040154": eight upper-case hex digits.
std::string hresultText(uint32_t hresult);

// A full error response line. idJson is JSON text ("null", "7", "\"a\"").
// A failed call (a positive code, error_kinds.h) always has "data" with
// "hresult" (where hresult is 0: 0x8000FFFF for code kCallFailed, else
// 0x80004005), plus "source", "interface" and "engineCode" where set. The
// JSON-RPC faults (negative codes) have "data" only where hresult, source or
// iid are set.
std::string errorResponse(std::string_view idJson, int code, std::string_view message,
                          uint32_t hresult = 0, std::string_view source = {},
                          std::string_view iid = {}, std::string_view engineCode = {});

// What the host needs of a request that passed checkRequest().
struct RequestHead {
  std::string idJson;
  std::string method;
  const rapidjson::Value* params = nullptr;  // an object, or nullptr when absent
};

// Checks the envelope of a parsed message. On success fills head and
// returns true; otherwise returns false with *errorLine set to the error
// response to send (-32600 for a bad envelope, a notification or a batch;
// -32602 when "params" is neither an object nor absent). The id of the
// error is the request's id when it was a valid id, else null.
bool checkRequest(const rapidjson::Document& doc, RequestHead* head, std::string* errorLine);

// Parses one message, without recursion (nesting depth costs no stack).
// Returns false with *errorLine set to a -32700 response (id null) when the
// text is not valid JSON or not valid UTF-8 (a NUL byte counts as text).
bool parseMessage(const std::string& text, rapidjson::Document* doc, std::string* errorLine);

}  // namespace qz::remote
