// JSON-RPC calls of the end-to-end tests.
#include "tests/e2e/wire_session.h"

#include <gtest/gtest.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace qz::testing {

std::string jsonString(const std::string& s) {
  rapidjson::StringBuffer b;
  rapidjson::Writer<rapidjson::StringBuffer> w(b);
  w.String(s.c_str(), static_cast<rapidjson::SizeType>(s.size()));
  return b.GetString();
}

int fieldIndex(const rapidjson::Value& packet, const char* name) {
  const auto& fields = packet["fields"];
  for (rapidjson::SizeType i = 0; i < fields.Size(); ++i)
    if (strcasecmp(fields[i]["name"].GetString(), name) == 0) return static_cast<int>(i);
  return -1;
}

const rapidjson::Document& WireSession::call(const std::string& method,
                                             const std::string& paramsJson) {
  const int id = nextId_++;
  line_ = client_.call("{\"jsonrpc\":\"2.0\",\"id\":" + std::to_string(id) +
                       ",\"method\":" + jsonString(method) + ",\"params\":" + paramsJson + "}");
  doc_.Parse(line_.c_str());
  if (doc_.HasParseError() || !doc_.IsObject()) {
    ADD_FAILURE() << "not a JSON answer: " << line_;
    doc_.SetObject();
  } else if (!doc_.HasMember("id") || !doc_["id"].IsInt() || doc_["id"].GetInt() != id) {
    ADD_FAILURE() << "answer to the wrong request: " << line_;
  }
  return doc_;
}

const rapidjson::Value& WireSession::ok(const std::string& method, const std::string& paramsJson) {
  const auto& d = call(method, paramsJson);
  if (!d.HasMember("result")) {
    ADD_FAILURE() << method << " failed: " << line_;
    static rapidjson::Value empty(rapidjson::kObjectType);
    return empty;
  }
  return d["result"];
}

std::string WireSession::errorMessage(const std::string& method, const std::string& paramsJson) {
  const auto& d = call(method, paramsJson);
  if (!d.HasMember("error")) {
    ADD_FAILURE() << method << " should have failed: " << line_;
    return "";
  }
  return d["error"]["message"].GetString();
}

void WireSession::create(const std::string& cls) {
  ok("create", "{\"class\":" + jsonString(cls) + "}");
}

void WireSession::exec(const std::string& provider, const std::string& sql) {
  ok("AS_Execute",
     "{\"provider\":" + jsonString(provider) + ",\"commandText\":" + jsonString(sql) + "}");
}

const rapidjson::Value& WireSession::read(const std::string& provider, const std::string& sql,
                                          const std::string& paramsJson) {
  std::string p = "{\"provider\":" + jsonString(provider) + ",\"count\":-1";
  if (!sql.empty()) p += ",\"commandText\":" + jsonString(sql);
  if (!paramsJson.empty()) p += ",\"params\":" + paramsJson;
  p += "}";
  const auto& r = ok("AS_GetRecords", p);
  if (!r.IsObject() || !r.HasMember("data")) {
    static rapidjson::Value empty(rapidjson::kObjectType);
    return empty;
  }
  return r["data"];
}

}  // namespace qz::testing
