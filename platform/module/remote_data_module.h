// The application-server operations of a remote data module, answered over
// the wire for the providers the module publishes: AS_GetProviderNames,
// AS_GetRecords, AS_ApplyUpdates, AS_DataRequest, AS_GetParams,
// AS_RowRequest and AS_Execute. Modules derive from RemoteDataModule,
// register their connection(s) and providers, and answer their own methods
// (login) in callCustom.
//
// A request naming a provider the module does not publish is refused with
// "Provider not exported: <name>". Parameters and results have the shapes
// of docs/protocol.md; OwnerData travels as a tagged variant and comes back
// (absent when unassigned).
//
// Thread-safety: like every RemoteObject, called on its module thread only.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/connection.h"
#include "platform/provider/provider.h"
#include "platform/remote/remote_object.h"

namespace qz::provider {

class RemoteDataModule : public remote::RemoteObject {
 public:
  RemoteDataModule() = default;
  RemoteDataModule(const RemoteDataModule&) = delete;
  RemoteDataModule& operator=(const RemoteDataModule&) = delete;
  ~RemoteDataModule() override = default;

  // Answers the operations above, else callCustom, else throws RemoteError
  // -32601. Failures throw RemoteError with their message and the code of
  // their kind (error_kind_of.h): missing or mistyped arguments -32602, an
  // unknown provider 2, refused requests and database errors theirs; other
  // exceptions pass as they are (an unexpected failure).
  void call(std::string_view method, const rapidjson::Value& params,
            remote::JsonWriter& w) override;
  // Rolls back an open transaction and closes every registered connection.
  void release() noexcept override;

  // The published names, in registration order.
  std::vector<std::string> providerNames() const;
  // The provider named name (ASCII case ignored), or nullptr.
  Provider* findProvider(std::string_view name) const;
  // The provider named name. Throws ProviderError of kind UnknownName
  // ("Provider not exported: name").
  Provider& provider(std::string_view name) const;

 protected:
  // Publishes a provider; the module owns it. Returns it.
  Provider& addProvider(std::unique_ptr<Provider> provider);
  // Registers a connection for release(). Borrowed; must outlive the module's
  // release.
  void addConnection(db::Connection& conn) { connections_.push_back(&conn); }

  // Answers a method of the module's own (e.g. "login"). Returns false when
  // the module has no such method.
  virtual bool callCustom(std::string_view method, const rapidjson::Value& params,
                          remote::JsonWriter& w) {
    return false;
  }

 private:
  void answer(std::string_view method, const rapidjson::Value& params, remote::JsonWriter& w);

  std::vector<std::unique_ptr<Provider>> providers_;
  std::vector<db::Connection*> connections_;
};

}  // namespace qz::provider
