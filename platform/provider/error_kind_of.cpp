// Error kinds of exceptions; see error_kind_of.h.
#include "platform/provider/error_kind_of.h"

#include <stdexcept>

#include "platform/core/variant.h"
#include "platform/db/connection.h"
#include "platform/packet/delta.h"
#include "platform/packet/json_values.h"
#include "platform/provider/provider.h"

namespace qz::provider {

ErrorKind errorKindOf(const std::exception& e) {
  if (const auto* p = dynamic_cast<const ProviderError*>(&e)) return p->kind();
  if (dynamic_cast<const db::StatementRefusedError*>(&e)) return ErrorKind::StatementRefused;
  if (dynamic_cast<const db::DbError*>(&e)) return ErrorKind::DatabaseError;
  // Values the client sent that do not read, convert or fit, and fields its
  // delta lacks.
  if (dynamic_cast<const CodecError*>(&e) || dynamic_cast<const VariantError*>(&e) ||
      dynamic_cast<const FieldNotFound*>(&e) || dynamic_cast<const std::range_error*>(&e))
    return ErrorKind::BadRequest;
  // A rule's arithmetic on the client's values that has no result.
  if (dynamic_cast<const std::domain_error*>(&e)) return ErrorKind::PostingRefused;
  return ErrorKind::UnexpectedFailure;
}

std::string engineCodeOf(const std::exception& e) {
  if (const auto* d = dynamic_cast<const db::DbError*>(&e)) return d->engineCode();
  return {};
}

}  // namespace qz::provider
