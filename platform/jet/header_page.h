// Page 0 of a Jet 4 database: the format signature, and 128 bytes from
// offset 0x18 encoded with RC4 under a fixed key. Inside them: the code
// page (0x3C), the page-encryption key (0x3E, 0 = pages in clear), the
// database password (0x42, 40 bytes of UCS-2, XOR-masked with the integer
// part of the creation date repeated as a 32-bit little-endian number),
// the sort order (0x6E) and the creation date (0x72, a day count since
// 1899-12-30). Bytes whose meaning is not publicly documented are copied
// from a Jet-made file (see NOTICE).
//
// Thread-safety: pure functions.
#pragma once

#include <bit>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/jet/bytes.h"

namespace qz::jet {

struct HeaderInfo {
  uint16_t codePage = 0;
  uint32_t databaseKey = 0;
  std::string password;  // UTF-8, "" when none
  double creationDate = 0;
};

// The creation date of the Jet-made file whose user ids the library
// writes (2015-11-21 22:40:31): the ids are only valid together with it.
inline const double kTemplateCreationDate = std::bit_cast<double>(0x40E4AB3E3BD3853Eull);

// Page 0 of a new database with code page 1252, pages in clear.
// Throws JetError(BadValue) for a password longer than 20 characters.
std::string MakeHeaderPage(std::string_view password, double creationDate);

// Decodes page 0. Throws JetError(NotJet4) when the page is no Jet 4
// header, JetError(Unsupported) when the pages are encrypted.
HeaderInfo ReadHeaderPage(const uint8_t* page);

// RC4 in place (the header's cipher). Exposed for tests.
void Rc4(const uint8_t* key, size_t keyLen, uint8_t* data, size_t len);

}  // namespace qz::jet
