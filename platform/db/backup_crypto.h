// Small, well-known cryptographic building blocks for password-protected
// backup sets: SHA-256 (FIPS 180-4), HMAC-SHA-256 (RFC 2104), PBKDF2 with
// HMAC-SHA-256 (RFC 8018) and the ChaCha20 stream cipher (RFC 8439).
//
// A protected set is encrypted with ChaCha20 under a key derived from the
// password and authenticated with HMAC-SHA-256 (encrypt-then-MAC); see
// backup_media.h. These functions are plain, portable implementations
// checked against the published test vectors; they make no attempt at
// constant-time behaviour beyond the MAC comparison.
//
// Thread-safety: all functions are reentrant.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qz::db::crypto {

using Digest = std::array<uint8_t, 32>;

// Incremental SHA-256.
class Sha256 {
 public:
  Sha256();
  void update(const void* data, size_t size);
  void update(std::string_view s) { update(s.data(), s.size()); }
  // Returns the digest; the object must not be updated afterwards.
  Digest finish();

 private:
  void block(const uint8_t* p);

  uint32_t h_[8];
  uint8_t buf_[64];
  size_t bufLen_ = 0;
  uint64_t total_ = 0;
};

Digest sha256(const void* data, size_t size);

// Incremental HMAC-SHA-256.
class HmacSha256 {
 public:
  HmacSha256(const void* key, size_t keySize);
  void update(const void* data, size_t size) { inner_.update(data, size); }
  Digest finish();

 private:
  Sha256 inner_;
  uint8_t opad_[64];
};

Digest hmacSha256(const void* key, size_t keySize, const void* data, size_t size);

// PBKDF2-HMAC-SHA-256: `length` bytes from password and salt.
std::vector<uint8_t> pbkdf2Sha256(std::string_view password, const void* salt, size_t saltSize,
                                  uint32_t iterations, size_t length);

// XORs data in place with the ChaCha20 key stream (key 32 bytes, nonce 12
// bytes, block counter starting at `counter`). Encryption and decryption
// are the same operation.
void chacha20Xor(const uint8_t key[32], const uint8_t nonce[12], uint32_t counter, uint8_t* data,
                 size_t size);

// Compares two digests without an early exit.
bool digestsEqual(const Digest& a, const Digest& b);

// Fills buf with bytes from the operating system's random source. Throws
// std::runtime_error when it cannot be read.
void randomBytes(void* buf, size_t size);

// Lower-case hexadecimal text of bytes (for tests and messages).
std::string toHex(const void* data, size_t size);

}  // namespace qz::db::crypto
