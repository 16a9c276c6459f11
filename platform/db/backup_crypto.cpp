// SHA-256, HMAC-SHA-256, PBKDF2 and ChaCha20 through libcrypto; see backup_crypto.h.
#include "platform/db/backup_crypto.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>

namespace qz::db::crypto {
namespace {

// The library's failures are set-up failures (an algorithm not available),
// never a matter of the data: they surface as exceptions with its reason.
[[noreturn]] void libraryError(const char* what) {
  char reason[256] = "unknown reason";
  if (const unsigned long e = ERR_get_error()) ERR_error_string_n(e, reason, sizeof reason);
  ERR_clear_error();
  throw std::runtime_error(std::string("libcrypto: ") + what + " failed: " + reason);
}

void check(int ok, const char* what) {
  if (ok != 1) libraryError(what);
}

// The HMAC algorithm, fetched once: fetching is costly and the object is
// shared read-only between threads.
EVP_MAC* hmacAlgorithm() {
  static EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  if (!mac) libraryError("fetching HMAC");
  return mac;
}

}  // namespace

Sha256::Sha256() : ctx_(EVP_MD_CTX_new(), EVP_MD_CTX_free) {
  if (!ctx_) libraryError("creating a digest");
  check(EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr), "SHA-256 set-up");
}

void Sha256::update(const void* data, size_t size) {
  check(EVP_DigestUpdate(ctx_.get(), data, size), "SHA-256");
}

Digest Sha256::finish() {
  Digest out;
  check(EVP_DigestFinal_ex(ctx_.get(), out.data(), nullptr), "SHA-256");
  return out;
}

Digest sha256(const void* data, size_t size) {
  Sha256 s;
  s.update(data, size);
  return s.finish();
}

HmacSha256::HmacSha256(const void* key, size_t keySize)
    : ctx_(EVP_MAC_CTX_new(hmacAlgorithm()), EVP_MAC_CTX_free) {
  if (!ctx_) libraryError("creating a MAC");
  char digest[] = "SHA256";
  const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                               OSSL_PARAM_construct_end()};
  // An empty key still needs a valid pointer.
  static const uint8_t kNoKey = 0;
  check(EVP_MAC_init(ctx_.get(), keySize ? static_cast<const uint8_t*>(key) : &kNoKey, keySize,
                     params),
        "HMAC-SHA-256 set-up");
}

void HmacSha256::update(const void* data, size_t size) {
  check(EVP_MAC_update(ctx_.get(), static_cast<const uint8_t*>(data), size), "HMAC-SHA-256");
}

Digest HmacSha256::finish() {
  Digest out;
  size_t n = 0;
  check(EVP_MAC_final(ctx_.get(), out.data(), &n, out.size()), "HMAC-SHA-256");
  if (n != out.size()) libraryError("HMAC-SHA-256 length");
  return out;
}

Digest hmacSha256(const void* key, size_t keySize, const void* data, size_t size) {
  HmacSha256 h(key, keySize);
  h.update(data, size);
  return h.finish();
}

std::vector<uint8_t> pbkdf2Sha256(std::string_view password, const void* salt, size_t saltSize,
                                  uint32_t iterations, size_t length) {
  if (password.size() > INT_MAX || saltSize > INT_MAX || length > INT_MAX || iterations > INT_MAX)
    throw std::invalid_argument("PBKDF2: argument too large");
  std::vector<uint8_t> out(length);
  check(PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                          static_cast<const unsigned char*>(salt), static_cast<int>(saltSize),
                          static_cast<int>(iterations), EVP_sha256(), static_cast<int>(length),
                          out.data()),
        "PBKDF2-HMAC-SHA-256");
  return out;
}

void chacha20Xor(const uint8_t key[32], const uint8_t nonce[12], uint32_t counter, uint8_t* data,
                 size_t size) {
  // libcrypto takes the 32-bit block counter (little-endian) and the nonce
  // as one 16-byte IV.
  uint8_t iv[16] = {uint8_t(counter), uint8_t(counter >> 8), uint8_t(counter >> 16),
                    uint8_t(counter >> 24)};
  std::memcpy(iv + 4, nonce, 12);
  std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> ctx(EVP_CIPHER_CTX_new(),
                                                                 EVP_CIPHER_CTX_free);
  if (!ctx) libraryError("creating a cipher");
  check(EVP_EncryptInit_ex(ctx.get(), EVP_chacha20(), nullptr, key, iv), "ChaCha20 set-up");
  // In pieces that fit the library's int lengths; the stream runs on.
  while (size) {
    const int n = static_cast<int>(std::min<size_t>(size, 1 << 30));
    int written = 0;
    check(EVP_EncryptUpdate(ctx.get(), data, &written, data, n), "ChaCha20");
    data += n;
    size -= static_cast<size_t>(n);
  }
}

bool digestsEqual(const Digest& a, const Digest& b) {
  return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

void randomBytes(void* buf, size_t size) {
  auto* p = static_cast<uint8_t*>(buf);
  while (size) {
    const ssize_t n = getrandom(p, size, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(std::string("cannot read random bytes: ") + std::strerror(errno));
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
}

std::string toHex(const void* data, size_t size) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

}  // namespace qz::db::crypto
