// Posting material accounts of top_dm1.
#include "services/material_posting.h"

#include <stdexcept>

#include "services/posting_support.h"
#include "services/posting_values.h"

namespace qz::services {

using provider::UpdateKind;

namespace {
constexpr const char* kPurchase = "购进";
constexpr const char* kSale = "销售";
constexpr const char* kNoMaterial = "---";
}  // namespace

void MaterialPosting::wireMAccountP(provider::Provider& p) {
  // A request is one unit: the provider holds its transaction, undoes it
  // all at the first failure and commits after the number is known.
  p.applyTransaction = provider::ApplyTransaction::AtomicRequest;
  p.beforeApplyUpdates = [this](auto& s, Variant& od) { MAccountPBeforeApplyUpdates(s, od); };
  p.beforeUpdateRecord = [this](auto& s, const auto& src, auto& d, UpdateKind k, bool& a) {
    MAccountPBeforeUpdateRecord(s, src, d, k, a);
  };
  p.onUpdateError = [this](auto& s, auto& d, const std::exception& e, UpdateKind k, auto& r) {
    MAccountPUpdateError(s, d, e, k, r);
  };
  p.afterApplyUpdates = [this](auto& s, Variant& od) { MAccountPAfterApplyUpdates(s, od); };
}

void MaterialPosting::MAccountPBeforeApplyUpdates(provider::Provider&, Variant& ownerData) {
  // A failure here fails the request; the provider rolls back what it began.
  if (ownerData.type() != VarType::Array || ownerData.asArray().size() < 2)
    throw VariantError("OwnerData must be an array of the account kind and the client id");
  std::string kind = ownerData.asArray()[0].toText();
  const int32_t clientId = ownerData.asArray()[1].toInt32();
  AccountKind = std::move(kind);
  AccountClientId = clientId;
  masterInsertedThisRequest_ = false;
}

void MaterialPosting::MAccountPUpdateError(provider::Provider&, provider::DeltaRecord&,
                                           const std::exception&, UpdateKind,
                                           provider::ResolverResponse& response) {
  NewAccountNumber = 0;
  // The provider rolls the request back; nothing more of it is written.
  response = provider::ResolverResponse::Abort;
}

void MaterialPosting::MAccountPAfterApplyUpdates(provider::Provider&, Variant& ownerData) {
  // Still inside the transaction: the provider commits afterwards.
  ownerData = Variant(NewAccountNumber);
}

void MaterialPosting::MAccountPBeforeUpdateRecord(provider::Provider&,
                                                  const provider::Dataset& source,
                                                  provider::DeltaRecord& delta, UpdateKind kind,
                                                  bool& applied) {
  const bool master = isSource(source, "MACCOUNT");
  const bool line = isSource(source, "MACCITEMS");
  // Step 1: numbering.
  if (master && kind == UpdateKind::Insert) {
    NewAccountNumber = insertThroughProcedure(MAccInsert_, delta);
    masterInsertedThisRequest_ = true;
    applied = true;
  } else if (line && kind == UpdateKind::Insert) {
    provider::DeltaField f = delta.fieldByName("Bnum");
    if (f.newValue().equalsNumber(0))
      f.setNewValue(Variant(
          numberForNewDetail(masterInsertedThisRequest_, NewAccountNumber, "Bnum", source.name())));
  }
  // Step 2: the client's most recent date.
  if (master && (kind == UpdateKind::Insert || kind == UpdateKind::Modify) && AccountClientId != -1)
    UpdateClientNearDate(ServerQuery_, AccountClientId);
  // Step 3: the price of purchases and sales.
  if (line && (kind == UpdateKind::Insert || kind == UpdateKind::Modify) &&
      (AccountKind == kPurchase || AccountKind == kSale))
    carryPriceOver(delta);
}

void MaterialPosting::carryPriceOver(provider::DeltaRecord& delta) {
  provider::DeltaField mid = delta.fieldByName("mid");
  std::string materialId;
  if (!mid.newValue().isUnassigned())
    materialId = fieldText("mid", mid.newValue());  // a null new value fails the record
  else if (!mid.oldValue().isNull() && !mid.oldValue().isUnassigned())
    materialId = fieldText("mid", mid.oldValue());
  else
    materialId = kNoMaterial;
  if (materialId == kNoMaterial) return;

  provider::DeltaField exchange = delta.fieldByName("exchange");
  const Variant& factorValue =
      !exchange.newValue().isEmpty() ? exchange.newValue() : exchange.oldValue();
  const int32_t factor = fieldInt32("exchange", factorValue);  // rounds half to even; null fails

  const Variant& price = delta.fieldByName("price").newValue();
  if (price.isEmpty() || !(price.toDouble() > 0)) return;

  std::string basePrice;
  try {
    basePrice = formatBasePrice(price, factor);
  } catch (const std::range_error& e) {
    throw std::range_error("Field 'price': " + std::string(e.what()));
  }
  const char* column = AccountKind == kPurchase ? "price" : "price1";
  ServerQuery_.clear();
  // The base price is our own number text; the material id is bound.
  ServerQuery_.add(std::string("update material set ") + column + "=" + basePrice +
                   " where id=:id");
  ServerQuery_.param("id")->value = Variant(materialId);
  ServerQuery_.execSql();
}

}  // namespace qz::services
