// Building a module's providers and datasets from its catalogue; login.
#include "services/hotel_module.h"

#include <stdexcept>

#include "platform/module/remote_error_of.h"
#include "platform/provider/error_kind_of.h"
#include "services/document_posting.h"
#include "services/material_posting.h"

namespace qz::services {

db::ParamList buildParams(const std::vector<ParamSpec>& specs) {
  db::ParamList out;
  for (const ParamSpec& s : specs) {
    db::Parameter p;
    p.name = s.name;
    p.type = s.type;
    p.direction = s.direction;
    p.size = s.size;
    p.precision = s.precision;
    p.nullable = s.nullable;
    p.isSigned = s.isSigned;
    p.value = s.designValue;
    out.push_back(std::move(p));
  }
  return out;
}

std::unique_ptr<provider::Dataset> buildDataset(const DatasetSpec& decl) {
  std::unique_ptr<provider::Dataset> ds;
  switch (decl.kind) {
    case DatasetKind::Query:
      ds = provider::Dataset::makeQuery(decl.name, decl.lines, buildParams(decl.params));
      break;
    case DatasetKind::Table:
      ds = provider::Dataset::makeTable(decl.name, decl.object);
      break;
    case DatasetKind::StoredProc:
      ds = provider::Dataset::makeStoredProc(decl.name, decl.object, buildParams(decl.params));
      break;
  }
  ds->setCommandTimeout(decl.commandTimeout);
  for (const DetailSpec& d : decl.details)
    ds->addDetail(provider::Dataset::makeQuery(d.dataset, d.lines, buildParams({d.param})));
  return ds;
}

HotelModule::HotelModule(const ModuleCatalog& catalog, const ModuleEnvironment& env,
                         ModuleIdentity identity)
    : env_(env), identity_(std::move(identity)) {
  addConnection(ADOC);
  ADOC.setCommandTimeout(catalog.connectionCommandTimeout);
  ADOC.setConnectionTimeout(catalog.connectionTimeout);
  for (const ProviderSpec& p : catalog.providers) {
    auto prov = std::make_unique<provider::Provider>(p.name, ADOC, buildDataset(p.dataset));
    prov->allowCommandText = p.allowCommandText;
    addProvider(std::move(prov));
  }
  for (const DatasetSpec& d : catalog.unpublished) {
    if (d.kind == DatasetKind::StoredProc)
      procs_.emplace(d.name,
                     std::make_unique<db::StoredProc>(&ADOC, d.object, buildParams(d.params)));
    else
      queries_.emplace(d.name, std::make_unique<db::Query>(&ADOC));
  }
}

HotelModule::~HotelModule() { releaseConnection(); }

void HotelModule::login(const std::string& operatorName, const std::string& station,
                        const std::string& work) {
  env_.addActivityEntry(operatorName, station, work);
}

bool HotelModule::callCustom(std::string_view method, const rapidjson::Value& params,
                             remote::JsonWriter& w) {
  if (method != "login") return false;
  auto text = [&](const char* key) -> std::string {
    if (!params.IsObject()) return {};
    auto it = params.FindMember(key);
    if (it == params.MemberEnd() || it->value.IsNull()) return {};
    if (!it->value.IsString())
      throw provider::ProviderError(ErrorKind::BadRequest,
                                    std::string("login: ") + key + " must be a string");
    return std::string(it->value.GetString(), it->value.GetStringLength());
  };
  const std::string op = text("operator"), station = text("station"), work = text("work");
  try {
    login(op, station, work);
  } catch (const std::exception& e) {
    remote::RemoteError failure = provider::remoteErrorOf(e);
    failure.source = identity_.progId;
    failure.iid = identity_.interfaceId;
    throw failure;
  }
  w.StartObject();
  w.Key("hresult");
  w.Int(0);
  w.EndObject();
  return true;
}

void HotelModule::releaseConnection() noexcept {
  try {
    if (ADOC.isOpen() && ADOC.inTransaction()) ADOC.rollbackTrans();
  } catch (...) {
  }
  ADOC.close();
}

db::StoredProc& HotelModule::storedProc(std::string_view name) {
  auto it = procs_.find(name);
  if (it == procs_.end()) throw std::logic_error("no dataset " + std::string(name));
  return *it->second;
}

db::Query& HotelModule::query(std::string_view name) {
  auto it = queries_.find(name);
  if (it == queries_.end()) throw std::logic_error("no dataset " + std::string(name));
  return *it->second;
}

// ---- top_dm1 ----------------------------------------------------------------

Ttop_dm1::Ttop_dm1(const ModuleEnvironment& env, ModuleIdentity identity)
    : HotelModule(top_dm1Catalog(), env, std::move(identity)) {
  posting_ =
      std::make_unique<MaterialPosting>(ADOC, storedProc("MAccInsert"), query("ServerQuery"));
  posting_->wireMAccountP(*findProvider("MAccountP"));
  RemoteDataModuleCreate(env);
}

Ttop_dm1::~Ttop_dm1() = default;

void Ttop_dm1::RemoteDataModuleCreate(const ModuleEnvironment& env) {
  ADOC.setConnectionString(env.connectionString());
  findProvider("SQLProvider")->dataset().setCommandTimeout(3000);
}

// ---- top_dm2 ----------------------------------------------------------------

Ttop_dm2::Ttop_dm2(const ModuleEnvironment& env, ModuleIdentity identity)
    : HotelModule(top_dm2Catalog(), env, std::move(identity)) {
  posting_ = std::make_unique<DocumentPosting>(ADOC, storedProc("BillInsert"),
                                               storedProc("Ginsert"), query("ServerQuery"));
  posting_->wireBillP(*findProvider("billP"));
  posting_->wireGOrdersP(*findProvider("GOrdersP"));
  // UPDPVAfterUpdateRecord: wired, and does nothing.
  findProvider("UPDPV")->afterUpdateRecord = [](auto&, const auto&, auto&, auto) {};
  RemoteDataModuleCreate(env);
}

Ttop_dm2::~Ttop_dm2() = default;

void Ttop_dm2::RemoteDataModuleCreate(const ModuleEnvironment& env) {
  ADOC.setConnectionString(env.connectionString());
}

// ---- GzModule ---------------------------------------------------------------

TGzModule::TGzModule(const ModuleEnvironment& env, ModuleIdentity identity)
    : HotelModule(gzModuleCatalog(), env, std::move(identity)) {
  RemoteDataModuleCreate(env);
}

void TGzModule::RemoteDataModuleCreate(const ModuleEnvironment& env) {
  ADOC.setConnectionString(env.connectionString());
}

}  // namespace qz::services
