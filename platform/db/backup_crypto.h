// The cryptographic building blocks of password-protected backup sets:
// SHA-256, HMAC-SHA-256, PBKDF2 with HMAC-SHA-256 and the ChaCha20 stream
// cipher, all computed by OpenSSL's libcrypto.
//
// A protected set is encrypted with ChaCha20 under a key derived from the
// password and authenticated with HMAC-SHA-256 (encrypt-then-MAC); see
// backup_media.h. The media format depends on these exact algorithms and
// parameters (RFC 8439 ChaCha20 with a 32-bit block counter and a 12-byte
// nonce), so stored media keep reading whichever library computes them.
//
// Thread-safety: all functions are reentrant; one Sha256 or HmacSha256
// object is used by one thread at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct evp_md_ctx_st;
struct evp_mac_ctx_st;

namespace qz::db::crypto {

using Digest = std::array<uint8_t, 32>;

// Incremental SHA-256. The constructor throws std::runtime_error when the
// library cannot set up the digest.
class Sha256 {
 public:
  Sha256();
  void update(const void* data, size_t size);
  void update(std::string_view s) { update(s.data(), s.size()); }
  // Returns the digest; the object must not be updated afterwards.
  Digest finish();

 private:
  std::unique_ptr<evp_md_ctx_st, void (*)(evp_md_ctx_st*)> ctx_;
};

Digest sha256(const void* data, size_t size);

// Incremental HMAC-SHA-256. The constructor throws std::runtime_error when
// the library cannot set up the MAC.
class HmacSha256 {
 public:
  HmacSha256(const void* key, size_t keySize);
  void update(const void* data, size_t size);
  // Returns the MAC; the object must not be updated afterwards.
  Digest finish();

 private:
  std::unique_ptr<evp_mac_ctx_st, void (*)(evp_mac_ctx_st*)> ctx_;
};

Digest hmacSha256(const void* key, size_t keySize, const void* data, size_t size);

// PBKDF2-HMAC-SHA-256: `length` bytes from password and salt.
// REQUIRES: iterations >= 1.
std::vector<uint8_t> pbkdf2Sha256(std::string_view password, const void* salt, size_t saltSize,
                                  uint32_t iterations, size_t length);

// XORs data in place with the ChaCha20 key stream (key 32 bytes, nonce 12
// bytes, block counter starting at `counter`). Encryption and decryption
// are the same operation.
void chacha20Xor(const uint8_t key[32], const uint8_t nonce[12], uint32_t counter, uint8_t* data,
                 size_t size);

// Compares two digests in time that does not depend on where they differ.
bool digestsEqual(const Digest& a, const Digest& b);

// Fills buf with bytes from the operating system's random source. Throws
// std::runtime_error when it cannot be read.
void randomBytes(void* buf, size_t size);

// Lower-case hexadecimal text of bytes (for tests and messages).
std::string toHex(const void* data, size_t size);

}  // namespace qz::db::crypto
