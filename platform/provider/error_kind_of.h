// What a client is told of a failure: its error kind (and code) by the type
// of the exception the provider layer, the codecs, the data-access layer or
// a module's rule threw.
//
// Thread-safety: pure functions.
#pragma once

#include <exception>
#include <string>

#include "platform/packet/error_kinds.h"

namespace qz::provider {

// The kind of e: a refusal of the provider or a rule (ProviderError) its
// own; a client's delta, packet, parameter or value that does not read or
// convert: bad request; a statement refused before the engine: statement
// refused; any other database failure: database error; anything else: an
// unexpected failure.
ErrorKind errorKindOf(const std::exception& e);

// The engine's own code when e is a database error, else "".
std::string engineCodeOf(const std::exception& e);

}  // namespace qz::provider
