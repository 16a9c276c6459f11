// Failures as the wire reports them; see remote_error_of.h.
#include "platform/module/remote_error_of.h"

#include <cstdint>

#include "platform/packet/error_kinds.h"
#include "platform/provider/error_kind_of.h"

namespace qz::provider {

remote::RemoteError remoteErrorOf(const std::exception& e) {
  if (const auto* r = dynamic_cast<const remote::RemoteError*>(&e)) return *r;
  const ErrorKind kind = errorKindOf(e);
  // A bad request is a JSON-RPC fault and carries no data.
  const uint32_t hresult = kind == ErrorKind::BadRequest ? 0 : errorHresult(kind);
  remote::RemoteError out(e.what(), hresult, {}, {}, errorCode(kind));
  out.engineCode = engineCodeOf(e);
  return out;
}

}  // namespace qz::provider
