// ASCII case folding: only A-Z and a-z fold; UTF-8 bytes and the rest stay,
// so names compare the same under every locale.
#include <gtest/gtest.h>

#include "platform/core/ascii.h"

namespace qz {
namespace {

TEST(AsciiTest, FoldsOnlyAsciiLetters) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  };
  const Case cases[] = {
      {"QZ_Main", "qz_main", true}, {"Prov1", "PROV1", true}, {"Straße", "STRASSE", false},
      {"Äpfel", "äpfel", false},    {"Äpfel", "Äpfel", true}, {"a", "ab", false},
      {"@Name", "@NAME", true},     {"[x]", "{X}", false},
  };
  for (const Case& c : cases) EXPECT_EQ(EqualsNoCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
  EXPECT_EQ(AsciiLower("ÄBC_Zé9"), "Äbc_zé9");
  EXPECT_EQ(AsciiUpper("äbc_zÉ9"), "äBC_ZÉ9");
}

}  // namespace
}  // namespace qz
