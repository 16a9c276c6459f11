// Page 0: encoding and decoding of the database header.
#include "platform/jet/header_page.h"

#include <cmath>
#include <cstring>

#include "platform/jet/jet_error.h"
#include "platform/jet/text_codec.h"

namespace qz::jet {
namespace {

constexpr uint8_t kHeaderKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr size_t kEncodedStart = 0x18;
constexpr size_t kEncodedLen = 128;
constexpr size_t kPasswordAt = 0x42;
constexpr size_t kPasswordLen = 40;
constexpr char kSignature[] = "Standard Jet DB";

void MaskPassword(uint8_t* field, double creationDate) {
  // The mask is the date's day number; a date no day number can hold is a
  // damaged header.
  const double day = std::floor(creationDate);
  if (!(day >= -2147483648.0 && day <= 2147483647.0))
    throw JetError(JetErrorCode::Corrupt, "The database header holds no valid creation date.");
  uint8_t mask[4];
  Put32(mask, static_cast<uint32_t>(static_cast<int32_t>(day)));
  for (size_t i = 0; i < kPasswordLen; ++i) field[i] ^= mask[i % 4];
}

}  // namespace

void Rc4(const uint8_t* key, size_t keyLen, uint8_t* data, size_t len) {
  uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = uint8_t(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + key[i % keyLen]) & 0xFF;
    std::swap(s[i], s[j]);
  }
  for (size_t k = 0, i = 0, j = 0; k < len; ++k) {
    i = (i + 1) & 0xFF;
    j = (j + s[i]) & 0xFF;
    std::swap(s[i], s[j]);
    data[k] ^= s[(s[i] + s[j]) & 0xFF];
  }
}

std::string MakeHeaderPage(std::string_view password, double creationDate) {
  const std::string pw = Utf8ToUtf16Le(password);
  if (pw.size() > kPasswordLen) throw JetError(JetErrorCode::BadValue, "The password is too long.");
  std::string out(kPageSize, '\0');
  auto* p = reinterpret_cast<uint8_t*>(out.data());
  p[1] = 0x01;
  std::memcpy(p + 4, kSignature, sizeof kSignature);
  p[0x14] = 0x01;  // Jet 4
  // Decoded header bytes as the Jet engine writes them (see NOTICE).
  static constexpr uint8_t kFixed18[24] = {0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00,
                                           0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,
                                           0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
  std::memcpy(p + 0x18, kFixed18, sizeof kFixed18);
  Put16(p + 0x3C, 1252);
  Put32(p + 0x3E, 0);
  std::memcpy(p + kPasswordAt, pw.data(), pw.size());
  MaskPassword(p + kPasswordAt, creationDate);
  p[0x6A] = 0x1C;
  p[0x6B] = 0x26;
  Put16(p + 0x6E, 0x0409);
  PutDouble(p + 0x72, creationDate);
  Rc4(kHeaderKey, sizeof kHeaderKey, p + kEncodedStart, kEncodedLen);
  Put32(p + 0x98, 0x0654);
  std::memcpy(p + 0x9C, "4.0", 4);
  p[0xE00] = 0x01;
  p[0xE01] = 0x01;
  for (size_t i = 0xE02; i < kPageSize; i += 2) p[i + 1] = 0x01;
  return out;
}

HeaderInfo ReadHeaderPage(const uint8_t* page) {
  if (page[0] != 0 || page[1] != 1 || std::memcmp(page + 4, kSignature, sizeof kSignature) != 0)
    throw JetError(JetErrorCode::NotJet4, "The file is not a Jet database.");
  if (page[0x14] != 0x01)
    throw JetError(JetErrorCode::NotJet4,
                   "The file is a Jet database of another version than Jet 4 (Access 2000-2003).");
  uint8_t dec[kEncodedLen];
  std::memcpy(dec, page + kEncodedStart, kEncodedLen);
  Rc4(kHeaderKey, sizeof kHeaderKey, dec, kEncodedLen);
  auto at = [&](size_t off) { return dec + (off - kEncodedStart); };
  HeaderInfo h;
  h.codePage = Get16(at(0x3C));
  h.databaseKey = Get32(at(0x3E));
  h.creationDate = GetDouble(at(0x72));
  if (h.databaseKey != 0)
    throw JetError(JetErrorCode::Unsupported, "The database pages are encrypted.");
  uint8_t pw[kPasswordLen];
  std::memcpy(pw, at(kPasswordAt), kPasswordLen);
  MaskPassword(pw, h.creationDate);
  size_t len = 0;
  while (len + 1 < kPasswordLen && (pw[len] || pw[len + 1])) len += 2;
  h.password = Utf16LeToUtf8(std::string_view(reinterpret_cast<const char*>(pw), len));
  return h;
}

}  // namespace qz::jet
