// The failure of a read that got no bytes within its time limit.
#pragma once

#include <stdexcept>

namespace qz::client {

// Thrown by LineSocket and TlsChannel reads when nothing arrived in time. The
// connection is left as it was: a caller may read again (a test waiting for
// an answer that must not come relies on that).
class ReadTimeout : public std::runtime_error {
 public:
  ReadTimeout() : std::runtime_error("no answer from the server in time") {}
};

}  // namespace qz::client
