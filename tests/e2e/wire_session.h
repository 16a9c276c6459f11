// A client session on the real server for end-to-end tests: JSON-RPC
// requests written as text, answers parsed, with helpers for the calls the
// tests make again and again.
#pragma once

#include <rapidjson/document.h>

#include <string>

#include "tests/e2e/wire_client.h"

namespace qz::testing {

class WireSession {
 public:
  explicit WireSession(int port) : client_(port) {}

  // Sends {"jsonrpc":"2.0","id":N,"method":method,"params":paramsJson} and
  // returns the parsed answer (an object with "result" or "error").
  const rapidjson::Document& call(const std::string& method, const std::string& paramsJson = "{}");
  // The raw text of the last answer.
  const std::string& lastLine() const { return line_; }
  // The "result" of a call that must succeed (fails the test otherwise).
  const rapidjson::Value& ok(const std::string& method, const std::string& paramsJson = "{}");
  // The "error.message" of a call that must fail.
  std::string errorMessage(const std::string& method, const std::string& paramsJson = "{}");

  void create(const std::string& cls);
  // Runs a statement through a provider's AS_Execute.
  void exec(const std::string& provider, const std::string& sql);
  // Reads rows of a statement through a provider: the "data" packet.
  const rapidjson::Value& read(const std::string& provider, const std::string& sql = "",
                               const std::string& paramsJson = "");

  WireClient& raw() { return client_; }

 private:
  WireClient client_;
  int nextId_ = 1;
  std::string line_;
  rapidjson::Document doc_;
};

// JSON text of a string value (quoted and escaped).
std::string jsonString(const std::string& s);
// The index of the field named name in a packet's "fields", or -1.
int fieldIndex(const rapidjson::Value& packet, const char* name);

}  // namespace qz::testing
