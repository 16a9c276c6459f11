// The full-stop rule of the standard error display.
#include "admin/full_stop.h"

namespace qz::admin {

std::string AppendFullStop(std::string_view message) {
  std::string out(message);
  if (!out.empty() && static_cast<unsigned char>(out.back()) > static_cast<unsigned char>('.'))
    out += '.';
  return out;
}

}  // namespace qz::admin
