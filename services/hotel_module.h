// HotelModule: what the three remote data modules have in common -- the
// connection ADOC whose text is composed at creation, the providers built
// from the module's catalogue (in declaration order), the unpublished
// datasets its rules use, and the login call that leaves a row in the
// activity log.
//
// Thread-safety: one instance per client; all calls on its module thread.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/connection.h"
#include "platform/module/remote_data_module.h"
#include "platform/provider/provider.h"
#include "services/catalog.h"
#include "services/module_environment.h"

namespace qz::services {

class DocumentPosting;
class MaterialPosting;

// Who a module is towards its clients: the class's ProgID and interface id,
// which a failed login reports as the error's source and interface.
struct ModuleIdentity {
  std::string progId;
  std::string interfaceId;
};

class HotelModule : public provider::RemoteDataModule {
 public:
  HotelModule(const ModuleCatalog& catalog, const ModuleEnvironment& env, ModuleIdentity identity);
  ~HotelModule() override;

  // login: appends (operator, station, work) to the activity log and waits
  // for it. Throws what the log throws.
  void login(const std::string& operatorName, const std::string& station, const std::string& work);

  // Rolls back an open transaction and closes the connection. Never throws.
  void releaseConnection() noexcept;

  db::Connection ADOC;

 protected:
  // login over the wire: {"operator","station","work"} (absent = empty);
  // answers {"hresult": 0}. A failure of the activity log answers
  // E_UNEXPECTED with its message, the class's ProgID and interface id.
  bool callCustom(std::string_view method, const rapidjson::Value& params,
                  remote::JsonWriter& w) override;

  // The unpublished stored procedure or query of the catalogue named name.
  // REQUIRES: the catalogue declares it.
  db::StoredProc& storedProc(std::string_view name);
  db::Query& query(std::string_view name);

 private:
  const ModuleEnvironment env_;
  const ModuleIdentity identity_;
  std::map<std::string, std::unique_ptr<db::StoredProc>, std::less<>> procs_;
  std::map<std::string, std::unique_ptr<db::Query>, std::less<>> queries_;
};

// Builds a provider dataset (with its details) from its declaration.
std::unique_ptr<provider::Dataset> buildDataset(const DatasetSpec& decl);
db::ParamList buildParams(const std::vector<ParamSpec>& specs);

// The three modules.
class Ttop_dm1 : public HotelModule {
 public:
  Ttop_dm1(const ModuleEnvironment& env, ModuleIdentity identity = {});
  ~Ttop_dm1() override;
  MaterialPosting& posting() { return *posting_; }

 private:
  void RemoteDataModuleCreate(const ModuleEnvironment& env);
  std::unique_ptr<MaterialPosting> posting_;
};

class Ttop_dm2 : public HotelModule {
 public:
  Ttop_dm2(const ModuleEnvironment& env, ModuleIdentity identity = {});
  ~Ttop_dm2() override;
  DocumentPosting& posting() { return *posting_; }

 private:
  void RemoteDataModuleCreate(const ModuleEnvironment& env);
  std::unique_ptr<DocumentPosting> posting_;
};

class TGzModule : public HotelModule {
 public:
  TGzModule(const ModuleEnvironment& env, ModuleIdentity identity = {});

 private:
  void RemoteDataModuleCreate(const ModuleEnvironment& env);
};

}  // namespace qz::services
