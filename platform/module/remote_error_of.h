// A failure of a provider, a codec or a module's rule as the wire reports it:
// a RemoteError carrying the code, result code and engine code of its kind.
//
// Thread-safety: pure functions.
#pragma once

#include <exception>

#include "platform/remote/remote_object.h"

namespace qz::provider {

// e as the wire reports a failed call of its kind (error_kind_of.h); a
// RemoteError as it is.
remote::RemoteError remoteErrorOf(const std::exception& e);

}  // namespace qz::provider
