// DocumentPosting: the apply-updates frame and posting rules of top_dm2's
// billP (bills) and GOrdersP (group orders).
//
// Each request runs in one transaction on the module's connection, held by
// the provider as ApplyTransaction::AtomicRequest: rolled back at the first record
// that fails (and then nothing more of the request is resolved), committed
// after the AfterApplyUpdates handler, which returns NewDocNumber -- the
// number of the last bill or group order inserted -- in OwnerData.
//
// The posting state belongs to one module instance, so two clients never
// see each other's numbers.
//
// Thread-safety: belongs to one module instance; one thread at a time.
#pragma once

#include <cstdint>

#include "platform/db/connection.h"
#include "platform/provider/provider.h"

namespace qz::services {

class DocumentPosting {
 public:
  // Borrows the module's connection and its components BillInsert,
  // Ginsert and ServerQuery, which outlive this object.
  DocumentPosting(db::Connection& ADOC, db::StoredProc& BillInsert, db::StoredProc& Ginsert,
                  db::Query& ServerQuery)
      : ADOC_(ADOC), BillInsert_(BillInsert), Ginsert_(Ginsert), ServerQuery_(ServerQuery) {}
  DocumentPosting(const DocumentPosting&) = delete;
  DocumentPosting& operator=(const DocumentPosting&) = delete;

  // Sets the handlers of billP and GOrdersP.
  void wireBillP(provider::Provider& billP);
  void wireGOrdersP(provider::Provider& GOrdersP);

  int32_t NewDocNumber = 0;

 private:
  void billPBeforeApplyUpdates(provider::Provider&, Variant& ownerData);
  void GOrdersPBeforeApplyUpdates(provider::Provider&, Variant& ownerData);
  void billPBeforeUpdateRecord(provider::Provider&, const provider::Dataset& source,
                               provider::DeltaRecord& delta, provider::UpdateKind kind,
                               bool& applied);
  void GOrdersPBeforeUpdateRecord(provider::Provider&, const provider::Dataset& source,
                                  provider::DeltaRecord& delta, provider::UpdateKind kind,
                                  bool& applied);
  void billPUpdateError(provider::Provider&, provider::DeltaRecord&, const std::exception&,
                        provider::UpdateKind, provider::ResolverResponse& response);
  void billPAfterApplyUpdates(provider::Provider&, Variant& ownerData);
  // The shared rule: insert of a master through proc, number fill of new
  // detail rows, client date of inserted and modified masters.
  void postRecord(db::StoredProc& proc, std::string_view masterName, std::string_view detailName,
                  std::string_view numberField, const provider::Dataset& source,
                  provider::DeltaRecord& delta, provider::UpdateKind kind, bool& applied);

  db::Connection& ADOC_;
  db::StoredProc& BillInsert_;
  db::StoredProc& Ginsert_;
  db::Query& ServerQuery_;
  bool masterInsertedThisRequest_ = false;
};

}  // namespace qz::services
