// Wire binding of the application-server operations.
#include "platform/module/remote_data_module.h"

#include "platform/db/connection_string.h"
#include "platform/db/request_keys.h"
#include "platform/module/remote_error_of.h"
#include "platform/packet/json_delta.h"
#include "platform/packet/json_packet.h"
#include "platform/packet/json_params.h"
#include "platform/provider/error_kind_of.h"
#include "platform/remote/json_rpc.h"

namespace qz::provider {
namespace {

[[noreturn]] void badParam(const std::string& what) {
  throw ProviderError(ErrorKind::BadRequest, "Invalid params: " + what);
}

const rapidjson::Value* member(const rapidjson::Value& params, const char* name) {
  if (!params.IsObject()) return nullptr;
  auto it = params.FindMember(name);
  if (it == params.MemberEnd()) return nullptr;
  return &it->value;
}

std::string stringArg(const rapidjson::Value& params, const char* name, bool required) {
  const rapidjson::Value* v = member(params, name);
  if (!v || v->IsNull()) {
    if (required) badParam(std::string("\"") + name + "\" is required");
    return {};
  }
  if (!v->IsString()) badParam(std::string("\"") + name + "\" must be a string");
  return std::string(v->GetString(), v->GetStringLength());
}

int intArg(const rapidjson::Value& params, const char* name, int dflt) {
  const rapidjson::Value* v = member(params, name);
  if (!v || v->IsNull()) return dflt;
  if (!v->IsInt()) badParam(std::string("\"") + name + "\" must be an integer");
  return v->GetInt();
}

Variant variantArg(const rapidjson::Value& params, const char* name) {
  const rapidjson::Value* v = member(params, name);
  if (!v) return Variant();
  try {
    return readTaggedValue(*v);
  } catch (const CodecError& e) {
    badParam(std::string("\"") + name + "\": " + e.what());
  }
}

db::ParamList paramsArg(const rapidjson::Value& params) {
  const rapidjson::Value* v = member(params, "params");
  if (!v) return {};
  try {
    return paramsFromValue(*v);
  } catch (const CodecError& e) {
    badParam(e.what());
  }
}

void writeOwnerData(remote::JsonWriter& w, const Variant& ownerData) {
  if (ownerData.isUnassigned()) return;
  w.Key("ownerData");
  writeTagged(w, ownerData);
}

}  // namespace

Provider& RemoteDataModule::addProvider(std::unique_ptr<Provider> provider) {
  providers_.push_back(std::move(provider));
  return *providers_.back();
}

std::vector<std::string> RemoteDataModule::providerNames() const {
  std::vector<std::string> out;
  for (const auto& p : providers_) out.push_back(p->name());
  return out;
}

Provider* RemoteDataModule::findProvider(std::string_view name) const {
  for (const auto& p : providers_)
    if (EqualsNoCase(p->name(), name)) return p.get();
  return nullptr;
}

Provider& RemoteDataModule::provider(std::string_view name) const {
  Provider* p = findProvider(name);
  if (!p)
    throw ProviderError(ErrorKind::UnknownName, "Provider not exported: " + std::string(name));
  return *p;
}

void RemoteDataModule::call(std::string_view method, const rapidjson::Value& params,
                            remote::JsonWriter& w) {
  try {
    answer(method, params, w);
  } catch (const remote::RemoteError&) {
    throw;
  } catch (const std::exception& e) {
    if (errorKindOf(e) == ErrorKind::UnexpectedFailure) throw;
    throw remoteErrorOf(e);
  }
}

void RemoteDataModule::answer(std::string_view method, const rapidjson::Value& params,
                              remote::JsonWriter& w) {
  if (!params.IsObject() && !params.IsNull() && method.substr(0, 3) == "AS_")
    badParam("params must be an object");

  if (method == "AS_GetProviderNames") {
    w.StartObject();
    w.Key("names");
    w.StartArray();
    for (const auto& p : providers_) w.String(p->name().c_str());
    w.EndArray();
    w.EndObject();
    return;
  }
  if (method == "AS_GetRecords") {
    Provider& p = provider(stringArg(params, "provider", true));
    ReadRequest req;
    req.count = intArg(params, "count", -1);
    req.options = intArg(params, "options", 0);
    req.commandText = stringArg(params, "commandText", false);
    req.params = paramsArg(params);
    Variant ownerData = variantArg(params, "ownerData");
    w.StartObject();
    w.Key("data");
    int64_t n = p.getRecords(w, req);
    w.Key("recsOut");
    w.Int64(n);
    w.Key("params");
    writeParams(w, p.lastParams());
    writeOwnerData(w, ownerData);
    w.EndObject();
    return;
  }
  if (method == "AS_ApplyUpdates") {
    Provider& p = provider(stringArg(params, "provider", true));
    const rapidjson::Value* dv = member(params, "delta");
    if (!dv || !dv->IsObject()) badParam("\"delta\" must be an object");
    Delta delta = deltaFromValue(*dv);
    int maxErrors = intArg(params, "maxErrors", -1);
    Variant ownerData = variantArg(params, "ownerData");
    const std::string requestKey = stringArg(params, "requestKey", false);
    if (!requestKey.empty() && !db::requestKeyFits(requestKey))
      badParam("\"requestKey\" is longer than " + std::to_string(db::kMaxRequestKeyLength) +
               " characters");
    ErrorPacket errors;
    bool replayed = false;
    int n = p.applyUpdates(delta, maxErrors, ownerData, &errors, requestKey, &replayed);
    w.StartObject();
    w.Key("errorCount");
    w.Int(n);
    w.Key("errors");
    writeErrorPacket(w, errors);
    writeOwnerData(w, ownerData);
    if (replayed) {
      w.Key("replayed");
      w.Bool(true);
    }
    w.EndObject();
    return;
  }
  if (method == "AS_DataRequest") {
    Provider& p = provider(stringArg(params, "provider", true));
    Variant data = variantArg(params, "data");
    Variant result = p.onDataRequest ? p.onDataRequest(p, data) : Variant::null();
    w.StartObject();
    w.Key("result");
    writeTagged(w, result.isUnassigned() ? Variant::null() : result);
    w.EndObject();
    return;
  }
  if (method == "AS_GetParams") {
    Provider& p = provider(stringArg(params, "provider", true));
    Variant ownerData = variantArg(params, "ownerData");
    w.StartObject();
    w.Key("params");
    writeParams(w, p.dataset().params());
    writeOwnerData(w, ownerData);
    w.EndObject();
    return;
  }
  if (method == "AS_RowRequest") {
    Provider& p = provider(stringArg(params, "provider", true));
    const rapidjson::Value* rv = member(params, "row");
    if (!rv || !rv->IsObject()) badParam("\"row\" must be a packet");
    DataPacket row = packetFromValue(*rv);
    int requestType = intArg(params, "requestType", 0);
    Variant ownerData = variantArg(params, "ownerData");
    DataPacket out = p.rowRequest(row, requestType);
    w.StartObject();
    w.Key("data");
    writePacket(w, out);
    writeOwnerData(w, ownerData);
    w.EndObject();
    return;
  }
  if (method == "AS_Execute") {
    Provider& p = provider(stringArg(params, "provider", true));
    std::string commandText = stringArg(params, "commandText", false);
    db::ParamList client = paramsArg(params);
    Variant ownerData = variantArg(params, "ownerData");
    p.execute(commandText, client);
    w.StartObject();
    w.Key("params");
    writeParams(w, p.lastParams());
    writeOwnerData(w, ownerData);
    w.EndObject();
    return;
  }
  if (callCustom(method, params, w)) return;
  throw remote::RemoteError("Method not found: " + std::string(method), 0, {}, {},
                            remote::kMethodNotFound);
}

void RemoteDataModule::release() noexcept {
  for (db::Connection* c : connections_) {
    try {
      if (c->isOpen() && c->inTransaction()) c->rollbackTrans();
    } catch (...) {
    }
    c->close();
  }
}

}  // namespace qz::provider
