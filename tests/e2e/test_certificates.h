// Certificates made for one test with OpenSSL's library: authorities, a
// server certificate for 127.0.0.1 and client certificates, valid or
// expired, written as PEM files into a folder.
#pragma once

#include <string>

namespace qz::testing {

// A key and its certificate as PEM files.
struct CertFiles {
  std::string cert;
  std::string key;
};

class TestCertificates {
 public:
  // Writes into dir (with its trailing '/'): two authorities ("ca", the
  // one the server trusts, and "other"), the server's certificate for
  // 127.0.0.1 and localhost signed by ca, and the client certificates
  // "desk" (ca), "stranger" (other) and "expired" (ca, ended yesterday).
  explicit TestCertificates(const std::string& dir);

  CertFiles ca, other, server, desk, stranger, expired;
};

}  // namespace qz::testing
