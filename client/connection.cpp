// Connection: request writing, answer matching and the decoding of each
// operation's result into the platform's types.
#include "client/connection.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "platform/packet/json_delta.h"
#include "platform/packet/json_packet.h"
#include "platform/packet/json_params.h"
#include "platform/packet/json_pull_stream.h"
#include "platform/packet/json_values.h"

namespace qz::client {

namespace {

using Writer = provider::JsonWriter;

void key(Writer& w, const char* k) { w.Key(k); }
void str(Writer& w, std::string_view s) {
  w.String(s.data(), static_cast<rapidjson::SizeType>(s.size()));
}

// Writes "ownerData" unless it is Unassigned (absent means unassigned).
void ownerData(Writer& w, const Variant& v) {
  if (v.isUnassigned()) return;
  key(w, "ownerData");
  provider::writeTagged(w, v);
}

std::string done(rapidjson::StringBuffer& buf) { return {buf.GetString(), buf.GetSize()}; }

Variant readOwnerData(const rapidjson::Value& result) {
  auto it = result.FindMember("ownerData");
  if (it == result.MemberEnd()) return Variant();
  return provider::readTaggedValue(it->value);
}

const rapidjson::Value& member(const rapidjson::Value& v, const char* name) {
  if (!v.IsObject()) throw TransportError("the server's answer is not an object");
  auto it = v.FindMember(name);
  if (it == v.MemberEnd()) {
    throw TransportError(std::string("the server's answer lacks \"") + name + "\"");
  }
  return it->value;
}

db::ParamList readParams(const rapidjson::Value& result) {
  auto it = result.FindMember("params");
  if (it == result.MemberEnd()) return {};
  return provider::paramsFromValue(it->value);
}

uint32_t parseHresult(const rapidjson::Value& data) {
  auto it = data.FindMember("hresult");
  if (it == data.MemberEnd()) return 0;
  if (it->value.IsUint()) return it->value.GetUint();
  if (!it->value.IsString()) return 0;
  try {
    return static_cast<uint32_t>(std::stoul(it->value.GetString(), nullptr, 16));
  } catch (const std::exception&) {
    return 0;
  }
}

std::string stringMember(const rapidjson::Value& v, const char* name) {
  if (!v.IsObject()) return {};
  auto it = v.FindMember(name);
  if (it == v.MemberEnd() || !it->value.IsString()) return {};
  return {it->value.GetString(), it->value.GetStringLength()};
}

}  // namespace

std::unique_ptr<Connection> Connection::open(std::string_view hostPort,
                                             std::chrono::milliseconds timeout,
                                             const ClientTlsOptions& tls) {
  std::unique_ptr<Connection> c(new Connection());
  try {
    c->socket_.connect(hostPort, timeout, tls);
  } catch (const std::runtime_error& e) {
    throw TransportError(e.what());
  }
  return c;
}

Connection::~Connection() = default;

void Connection::sendRequest(std::string_view method, std::string_view paramsJson, int64_t* idOut) {
  if (!socket_.isOpen()) throw TransportError("the connection is closed");
  const int64_t id = nextId_++;
  *idOut = id;
  std::string request = "{\"jsonrpc\":\"2.0\",\"id\":" + std::to_string(id) + ",\"method\":";
  {
    rapidjson::StringBuffer m;
    Writer w(m);
    str(w, method);
    request.append(m.GetString(), m.GetSize());
  }
  if (!paramsJson.empty()) request.append(",\"params\":").append(paramsJson);
  request.append("}\n");
  try {
    socket_.send(request);
  } catch (const std::runtime_error& e) {
    socket_.close();
    throw TransportError(e.what());
  }
}

const std::string& Connection::exchange(std::string_view method, std::string_view paramsJson,
                                        int64_t* id) {
  sendRequest(method, paramsJson, id);
  bool got = false;
  try {
    got = socket_.readLineInto(&answer_, callTimeout_);
  } catch (const std::runtime_error& e) {
    socket_.close();
    throw TransportError(e.what());
  }
  if (!got) {
    socket_.close();
    throw TransportError("the server closed the connection");
  }
  return answer_;
}

rapidjson::Document Connection::call(std::string_view method, std::string_view paramsJson) {
  int64_t id = 0;
  const std::string& line = exchange(method, paramsJson, &id);
  rapidjson::Document answer;
  answer.Parse<rapidjson::kParseIterativeFlag>(line.data(), line.size());
  if (answer.HasParseError()) answer.SetNull();
  return resultOf(std::move(answer), id);
}

namespace {

// The pieces of one answer line as they arrive.
class AnswerPieces : public provider::TextSource {
 public:
  AnswerPieces(LineSocket& socket, std::chrono::milliseconds timeout)
      : socket_(socket), timeout_(timeout) {}
  bool next(const char** begin, const char** end) override {
    return socket_.nextLinePiece(begin, end, timeout_);
  }

 private:
  LineSocket& socket_;
  std::chrono::milliseconds timeout_;
};

}  // namespace

rapidjson::Document Connection::callForPacket(std::string_view method, std::string_view paramsJson,
                                              const char* packetKey, bool* found,
                                              DataPacket* packet) {
  int64_t id = 0;
  sendRequest(method, paramsJson, &id);
  // The packet is decoded while the answer arrives. Whatever the decoder
  // leaves of the line (it stops at a malformed packet) is read past, so
  // the next answer starts where it should.
  AnswerPieces pieces(socket_, callTimeout_);
  provider::PullStream in(pieces);
  rapidjson::Document answer;
  auto readPastLine = [&] {
    const char* b;
    const char* e;
    if (!in.ended())
      while (socket_.nextLinePiece(&b, &e, callTimeout_)) {
      }
  };
  try {
    try {
      *found = provider::decodeEmbeddedPacket(in, "result", packetKey, &answer, packet);
    } catch (const provider::CodecError&) {
      readPastLine();
      throw;
    }
    readPastLine();
  } catch (const provider::CodecError&) {
    throw;
  } catch (const std::runtime_error& e) {
    socket_.close();
    throw TransportError(e.what());
  }
  return resultOf(std::move(answer), id);
}

rapidjson::Document Connection::resultOf(rapidjson::Document answer, int64_t id) {
  if (!answer.IsObject()) {
    socket_.close();
    throw TransportError("the server's answer is not a JSON object");
  }
  auto err = answer.FindMember("error");
  if (err != answer.MemberEnd()) {
    const rapidjson::Value& e = err->value;
    int code = e.IsObject() && e.HasMember("code") && e["code"].IsInt() ? e["code"].GetInt() : 1;
    std::string message = stringMember(e, "message");
    uint32_t hresult = 0;
    std::string source, iid;
    if (e.IsObject() && e.HasMember("data") && e["data"].IsObject()) {
      hresult = parseHresult(e["data"]);
      source = stringMember(e["data"], "source");
      iid = stringMember(e["data"], "interface");
    }
    // An error with id null answers a request the server could not read;
    // the connection may be closed after it (oversized message).
    throw CallError(code, message, hresult, std::move(source), std::move(iid));
  }
  auto idIt = answer.FindMember("id");
  if (idIt == answer.MemberEnd() || !idIt->value.IsInt64() || idIt->value.GetInt64() != id) {
    socket_.close();
    throw TransportError("the server's answer does not match the request");
  }
  auto res = answer.FindMember("result");
  if (res == answer.MemberEnd()) {
    socket_.close();
    throw TransportError("the server's answer has neither result nor error");
  }
  // The result becomes the document's root without a copy; its memory stays
  // in the document's allocator.
  rapidjson::Value result;
  result.Swap(res->value);
  static_cast<rapidjson::Value&>(answer).Swap(result);
  return answer;
}

ClassInfo Connection::create(std::string_view cls) {
  rapidjson::StringBuffer buf;
  Writer w(buf);
  w.StartObject();
  key(w, "class");
  str(w, cls);
  w.EndObject();
  rapidjson::Document r = call("create", done(buf));
  ClassInfo info;
  info.name = stringMember(r, "class");
  info.progId = stringMember(r, "progid");
  info.clsid = stringMember(r, "clsid");
  info.interfaceName = stringMember(r, "interface");
  info.iid = stringMember(r, "iid");
  return info;
}

void Connection::login(std::string_view op, std::string_view station, std::string_view work) {
  rapidjson::StringBuffer buf;
  Writer w(buf);
  w.StartObject();
  key(w, "operator");
  str(w, op);
  key(w, "station");
  str(w, station);
  key(w, "work");
  str(w, work);
  w.EndObject();
  call("login", done(buf));
}

std::vector<std::string> Connection::getProviderNames() {
  rapidjson::Document r = call("AS_GetProviderNames");
  const rapidjson::Value& names = member(r, "names");
  if (!names.IsArray()) throw TransportError("\"names\" is not an array");
  std::vector<std::string> out;
  for (const auto& n : names.GetArray()) {
    if (n.IsString()) out.emplace_back(n.GetString(), n.GetStringLength());
  }
  return out;
}

RecordsResult Connection::getRecords(std::string_view provider, int count,
                                     std::string_view commandText, const db::ParamList& params,
                                     const Variant& owner, int options) {
  rapidjson::StringBuffer buf;
  Writer w(buf);
  w.StartObject();
  key(w, "provider");
  str(w, provider);
  key(w, "count");
  w.Int(count);
  key(w, "options");
  w.Int(options);
  key(w, "commandText");
  str(w, commandText);
  if (!params.empty()) {
    key(w, "params");
    provider::writeParams(w, params);
  }
  ownerData(w, owner);
  w.EndObject();
  RecordsResult out;
  bool streamed = false;
  rapidjson::Document r;
  try {
    r = callForPacket("AS_GetRecords", done(buf), "data", &streamed, &out.data);
  } catch (const provider::CodecError& e) {
    throw TransportError(std::string("the server sent a malformed packet: ") + e.what());
  }
  try {
    if (!streamed) out.data = provider::packetFromValue(member(r, "data"));
    out.params = readParams(r);
    out.ownerData = readOwnerData(r);
  } catch (const provider::CodecError& e) {
    throw TransportError(std::string("the server sent a malformed packet: ") + e.what());
  }
  auto recs = r.FindMember("recsOut");
  out.recsOut = recs != r.MemberEnd() && recs->value.IsInt()
                    ? recs->value.GetInt()
                    : static_cast<int>(out.data.rows.size());
  return out;
}

ApplyResult Connection::applyUpdates(std::string_view provider, const Delta& delta, int maxErrors,
                                     const Variant& owner, std::string_view requestKey) {
  rapidjson::StringBuffer buf;
  Writer w(buf);
  w.StartObject();
  key(w, "provider");
  str(w, provider);
  key(w, "delta");
  provider::writeDelta(w, delta);
  key(w, "maxErrors");
  w.Int(maxErrors);
  ownerData(w, owner);
  if (!requestKey.empty()) {
    key(w, "requestKey");
    str(w, requestKey);
  }
  w.EndObject();
  rapidjson::Document r = call("AS_ApplyUpdates", done(buf));
  ApplyResult out;
  out.requestKey = std::string(requestKey);
  auto replayed = r.FindMember("replayed");
  out.replayed = replayed != r.MemberEnd() && replayed->value.IsBool() && replayed->value.GetBool();
  const rapidjson::Value& count = member(r, "errorCount");
  if (!count.IsInt()) throw TransportError("\"errorCount\" is not an integer");
  out.errorCount = count.GetInt();
  try {
    auto errs = r.FindMember("errors");
    if (errs != r.MemberEnd() && !errs->value.IsNull()) {
      out.errors = provider::errorPacketFromValue(errs->value);
    }
    out.ownerData = readOwnerData(r);
  } catch (const provider::CodecError& e) {
    throw TransportError(std::string("the server sent a malformed error packet: ") + e.what());
  }
  return out;
}

// The parameters and OwnerData of an AS_Execute or AS_GetParams answer.
static ParamsResult paramsResult(const rapidjson::Document& r) {
  ParamsResult out;
  try {
    out.params = readParams(r);
    out.ownerData = readOwnerData(r);
  } catch (const provider::CodecError& e) {
    throw TransportError(std::string("the server sent malformed parameters: ") + e.what());
  }
  return out;
}

ParamsResult Connection::execute(std::string_view provider, std::string_view commandText,
                                 const db::ParamList& params, const Variant& owner) {
  rapidjson::StringBuffer buf;
  Writer w(buf);
  w.StartObject();
  key(w, "provider");
  str(w, provider);
  key(w, "commandText");
  str(w, commandText);
  if (!params.empty()) {
    key(w, "params");
    provider::writeParams(w, params);
  }
  ownerData(w, owner);
  w.EndObject();
  rapidjson::Document r = call("AS_Execute", done(buf));
  return paramsResult(r);
}

ParamsResult Connection::getParams(std::string_view provider, const Variant& owner) {
  rapidjson::StringBuffer buf;
  Writer w(buf);
  w.StartObject();
  key(w, "provider");
  str(w, provider);
  ownerData(w, owner);
  w.EndObject();
  rapidjson::Document r = call("AS_GetParams", done(buf));
  return paramsResult(r);
}

RowResult Connection::rowRequest(std::string_view provider, const DataPacket& row, int requestType,
                                 const Variant& owner) {
  rapidjson::StringBuffer buf;
  Writer w(buf);
  w.StartObject();
  key(w, "provider");
  str(w, provider);
  key(w, "row");
  provider::writePacket(w, row);
  key(w, "requestType");
  w.Int(requestType);
  ownerData(w, owner);
  w.EndObject();
  rapidjson::Document r = call("AS_RowRequest", done(buf));
  RowResult out;
  try {
    auto data = r.FindMember("data");
    if (data != r.MemberEnd() && !data->value.IsNull()) {
      out.data = provider::packetFromValue(data->value);
    }
    out.ownerData = readOwnerData(r);
  } catch (const provider::CodecError& e) {
    throw TransportError(std::string("the server sent a malformed packet: ") + e.what());
  }
  return out;
}

Variant Connection::dataRequest(std::string_view provider, const Variant& data) {
  rapidjson::StringBuffer buf;
  Writer w(buf);
  w.StartObject();
  key(w, "provider");
  str(w, provider);
  key(w, "data");
  provider::writeTagged(w, data);
  w.EndObject();
  rapidjson::Document r = call("AS_DataRequest", done(buf));
  auto it = r.FindMember("result");
  if (it == r.MemberEnd()) return Variant();
  try {
    return provider::readTaggedValue(it->value);
  } catch (const provider::CodecError& e) {
    throw TransportError(std::string("the server sent a malformed value: ") + e.what());
  }
}

void Connection::release() { call("release"); }

}  // namespace qz::client
