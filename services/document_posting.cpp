// Posting bills and group orders of top_dm2.
#include "services/document_posting.h"

#include "services/posting_support.h"

namespace qz::services {

using provider::UpdateKind;

void DocumentPosting::wireBillP(provider::Provider& p) {
  // A request is one unit: the provider holds its transaction, undoes it
  // all at the first failure and commits after the number is known.
  p.applyTransaction = provider::ApplyTransaction::AtomicRequest;
  p.beforeApplyUpdates = [this](auto& s, Variant& od) { billPBeforeApplyUpdates(s, od); };
  p.beforeUpdateRecord = [this](auto& s, const auto& src, auto& d, UpdateKind k, bool& a) {
    billPBeforeUpdateRecord(s, src, d, k, a);
  };
  p.onUpdateError = [this](auto& s, auto& d, const std::exception& e, UpdateKind k, auto& r) {
    billPUpdateError(s, d, e, k, r);
  };
  p.afterApplyUpdates = [this](auto& s, Variant& od) { billPAfterApplyUpdates(s, od); };
}

void DocumentPosting::wireGOrdersP(provider::Provider& p) {
  p.applyTransaction = provider::ApplyTransaction::AtomicRequest;
  p.beforeApplyUpdates = [this](auto& s, Variant& od) { GOrdersPBeforeApplyUpdates(s, od); };
  p.beforeUpdateRecord = [this](auto& s, const auto& src, auto& d, UpdateKind k, bool& a) {
    GOrdersPBeforeUpdateRecord(s, src, d, k, a);
  };
  // GOrdersP shares the error and after-apply handlers of billP.
  p.onUpdateError = [this](auto& s, auto& d, const std::exception& e, UpdateKind k, auto& r) {
    billPUpdateError(s, d, e, k, r);
  };
  p.afterApplyUpdates = [this](auto& s, Variant& od) { billPAfterApplyUpdates(s, od); };
}

void DocumentPosting::billPBeforeApplyUpdates(provider::Provider&, Variant&) {
  masterInsertedThisRequest_ = false;
}

void DocumentPosting::GOrdersPBeforeApplyUpdates(provider::Provider&, Variant&) {
  masterInsertedThisRequest_ = false;
}

void DocumentPosting::billPUpdateError(provider::Provider&, provider::DeltaRecord&,
                                       const std::exception&, UpdateKind,
                                       provider::ResolverResponse& response) {
  // The request's rows are committed together or not at all: the provider
  // rolls it back, and nothing more of it is written.
  response = provider::ResolverResponse::Abort;
}

void DocumentPosting::billPAfterApplyUpdates(provider::Provider&, Variant& ownerData) {
  // Still inside the transaction: the provider commits (and records a
  // request key with this answer) afterwards.
  ownerData = Variant(NewDocNumber);
}

void DocumentPosting::billPBeforeUpdateRecord(provider::Provider&, const provider::Dataset& source,
                                              provider::DeltaRecord& delta, UpdateKind kind,
                                              bool& applied) {
  postRecord(BillInsert_, "BILLS", "BILLITEMS", "Bnum", source, delta, kind, applied);
}

void DocumentPosting::GOrdersPBeforeUpdateRecord(provider::Provider&,
                                                 const provider::Dataset& source,
                                                 provider::DeltaRecord& delta, UpdateKind kind,
                                                 bool& applied) {
  postRecord(Ginsert_, "GORDERS", "GITEMS", "gnum", source, delta, kind, applied);
}

void DocumentPosting::postRecord(db::StoredProc& proc, std::string_view masterName,
                                 std::string_view detailName, std::string_view numberField,
                                 const provider::Dataset& source, provider::DeltaRecord& delta,
                                 UpdateKind kind, bool& applied) {
  // 1. A new master is inserted by its procedure, which numbers it.
  if (isSource(source, masterName) && kind == UpdateKind::Insert) {
    NewDocNumber = insertThroughProcedure(proc, delta);
    masterInsertedThisRequest_ = true;
    applied = true;
  } else if (isSource(source, detailName) && kind == UpdateKind::Insert) {
    // 2. A new detail row with number 0 takes its master's number.
    provider::DeltaField f = delta.fieldByName(numberField);
    if (f.newValue().equalsNumber(0))
      f.setNewValue(Variant(numberForNewDetail(masterInsertedThisRequest_, NewDocNumber,
                                               numberField, source.name())));
  }
  // 3. An inserted or modified master stamps its client with today.
  if (isSource(source, masterName) && (kind == UpdateKind::Insert || kind == UpdateKind::Modify)) {
    const int32_t id = clientIdOf(delta);
    if (id != -1) UpdateClientNearDate(ServerQuery_, id);
  }
}

}  // namespace qz::services
