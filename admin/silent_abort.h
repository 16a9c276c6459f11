// SilentAbort: raised by an administrator function that has already shown
// its own message and only wants its handler to end. The standard error
// display shows nothing for it.
#pragma once

#include <exception>

namespace qz::admin {

class SilentAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

}  // namespace qz::admin
