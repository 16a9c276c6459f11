// ASCII case folding (see ascii.h).
#include "platform/core/ascii.h"

namespace qz {

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLowerChar(c);
  return out;
}

std::string AsciiUpper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiUpperChar(c);
  return out;
}

}  // namespace qz
