// MaterialPosting: the apply-updates frame and posting rule of top_dm1's
// MAccountP (material account documents: a Maccount row with its MAccItems
// lines).
//
// OwnerData comes in as [kind, client id] and is read before any record,
// so a bad OwnerData fails the request with nothing written. Each request
// runs in one transaction on the module's connection, held by the provider
// as ApplyTransaction::AtomicRequest: rolled back at the first record that fails
// (NewAccountNumber then becomes 0 and nothing more of the request is
// written), committed at the end; OwnerData goes back as NewAccountNumber.
//
// For purchases ("购进") and sales ("销售") a new or changed line carries
// its price over to the material: price / exchange into material.price
// (purchase) or material.price1 (sale).
//
// Thread-safety: belongs to one module instance; one thread at a time.
#pragma once

#include <cstdint>
#include <string>

#include "platform/db/connection.h"
#include "platform/provider/provider.h"

namespace qz::services {

class MaterialPosting {
 public:
  // Borrows the module's connection and components, which outlive this.
  MaterialPosting(db::Connection& ADOC, db::StoredProc& MAccInsert, db::Query& ServerQuery)
      : ADOC_(ADOC), MAccInsert_(MAccInsert), ServerQuery_(ServerQuery) {}
  MaterialPosting(const MaterialPosting&) = delete;
  MaterialPosting& operator=(const MaterialPosting&) = delete;

  void wireMAccountP(provider::Provider& MAccountP);

  // The posting state of the instance.
  int32_t NewAccountNumber = 0;
  std::string AccountKind;
  int32_t AccountClientId = -1;

 private:
  void MAccountPBeforeApplyUpdates(provider::Provider&, Variant& ownerData);
  void MAccountPBeforeUpdateRecord(provider::Provider&, const provider::Dataset& source,
                                   provider::DeltaRecord& delta, provider::UpdateKind kind,
                                   bool& applied);
  void MAccountPUpdateError(provider::Provider&, provider::DeltaRecord&, const std::exception&,
                            provider::UpdateKind, provider::ResolverResponse& response);
  void MAccountPAfterApplyUpdates(provider::Provider&, Variant& ownerData);
  // Step 3 of the rule: the price carry-over of one line.
  void carryPriceOver(provider::DeltaRecord& delta);

  db::Connection& ADOC_;
  db::StoredProc& MAccInsert_;
  db::Query& ServerQuery_;
  bool masterInsertedThisRequest_ = false;
};

}  // namespace qz::services
