// Posting steps shared by the modules.
#include "services/posting_support.h"

#include <stdexcept>
#include <string>

#include "platform/provider/provider.h"
#include "services/posting_values.h"

namespace qz::services {

bool isSource(const provider::Dataset& ds, std::string_view upperName) {
  const std::string& n = ds.name();
  if (n.size() != upperName.size()) return false;
  for (size_t i = 0; i < n.size(); ++i) {
    char c = n[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != upperName[i]) return false;
  }
  return true;
}

int32_t insertThroughProcedure(db::StoredProc& proc, provider::DeltaRecord& rec) {
  db::ParamList& params = proc.params();
  for (size_t i = 1; i < params.size(); ++i) {
    std::string_view field = params[i].name;
    if (!field.empty() && field.front() == '@') field.remove_prefix(1);
    const Variant& v = rec.fieldByName(field).newValue();
    params[i].value = v.isUnassigned() ? Variant::null() : v;
  }
  params[0].value = Variant();
  proc.execProc();
  return params[0].value.toInt32();
}

namespace {

template <class Convert>
auto convertNamed(std::string_view field, const Variant& v, Convert convert) {
  try {
    return convert(v);
  } catch (const VariantError& e) {
    throw VariantError("Field '" + std::string(field) + "': " + e.what());
  }
}

}  // namespace

int32_t fieldInt32(std::string_view field, const Variant& v) {
  return convertNamed(field, v, [](const Variant& x) { return x.toInt32(); });
}

std::string fieldText(std::string_view field, const Variant& v) {
  return convertNamed(field, v, [](const Variant& x) { return x.toText(); });
}

int32_t clientIdOf(provider::DeltaRecord& rec) {
  provider::DeltaField f = rec.fieldByName("cltid");
  if (!f.newValue().isUnassigned()) return fieldInt32("cltid", f.newValue());
  if (!f.oldValue().isNull() && !f.oldValue().isUnassigned())
    return fieldInt32("cltid", f.oldValue());
  return -1;
}

void UpdateClientNearDate(db::Query& serverQuery, int32_t id) {
  serverQuery.clear();
  // Both values are bound, so the statement is the same text every time
  // and the engines prepare it once per connection.
  serverQuery.add("update CLIENT set neardate=:neardate where id=:id");
  serverQuery.param("neardate")->value = Variant(todayText());
  serverQuery.param("id")->value = Variant(id);
  serverQuery.execSql();
}

int32_t numberForNewDetail(bool masterInsertedThisRequest, int32_t number, std::string_view field,
                           std::string_view dataset) {
  if (!masterInsertedThisRequest)
    throw provider::ProviderError(ErrorKind::PostingRefused,
                                  "A new " + std::string(dataset) + " row with " +
                                      std::string(field) +
                                      " 0 needs its master inserted in the same request");
  return number;
}

}  // namespace qz::services
