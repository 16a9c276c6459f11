// Making keys and X.509 certificates with libcrypto (EC P-256 keys, SHA-256
// signatures), so the tests need no openssl command.
#include "tests/e2e/test_certificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <stdexcept>

namespace qz::testing {

namespace {

struct Issued {
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
};

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test certificates: ") + what);
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  check(ext != nullptr, "extension");
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

// A certificate for cn signed by issuer (self-signed when issuer is null),
// valid from fromDays to toDays around now.
Issued issue(const char* cn, const Issued* issuer, bool isCa, const char* altNames, long fromDays,
             long toDays, long serial) {
  Issued out;
  out.key = EVP_EC_gen("P-256");
  check(out.key != nullptr, "key");
  out.cert = X509_new();
  X509_set_version(out.cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(out.cert), serial);
  X509_gmtime_adj(X509_getm_notBefore(out.cert), fromDays * 86400);
  X509_gmtime_adj(X509_getm_notAfter(out.cert), toDays * 86400);
  X509_set_pubkey(out.cert, out.key);
  X509_NAME* name = X509_get_subject_name(out.cert);
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("Test Hotel"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn),
                             -1, -1, 0);
  X509* issuerCert = issuer ? issuer->cert : out.cert;
  X509_set_issuer_name(out.cert, X509_get_subject_name(issuerCert));
  addExtension(out.cert, issuerCert, NID_basic_constraints, isCa ? "critical,CA:TRUE" : "CA:FALSE");
  addExtension(out.cert, issuerCert, NID_subject_key_identifier, "hash");
  if (isCa) addExtension(out.cert, issuerCert, NID_key_usage, "critical,keyCertSign,cRLSign");
  if (altNames) addExtension(out.cert, issuerCert, NID_subject_alt_name, altNames);
  check(X509_sign(out.cert, issuer ? issuer->key : out.key, EVP_sha256()) > 0, "signature");
  return out;
}

CertFiles save(const Issued& i, const std::string& dir, const std::string& name) {
  CertFiles f{dir + name + ".crt", dir + name + ".key"};
  FILE* c = std::fopen(f.cert.c_str(), "w");
  FILE* k = std::fopen(f.key.c_str(), "w");
  check(c && k, "cannot write files");
  PEM_write_X509(c, i.cert);
  PEM_write_PrivateKey(k, i.key, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(c);
  std::fclose(k);
  return f;
}

void release(Issued& i) {
  X509_free(i.cert);
  EVP_PKEY_free(i.key);
}

}  // namespace

TestCertificates::TestCertificates(const std::string& dir) {
  Issued caIssued = issue("Test Hotel CA", nullptr, true, nullptr, -1, 365, 1);
  Issued otherIssued = issue("Other CA", nullptr, true, nullptr, -1, 365, 2);
  Issued serverIssued =
      issue("qzserver", &caIssued, false, "IP:127.0.0.1,DNS:localhost", -1, 365, 3);
  Issued deskIssued = issue("desk-1", &caIssued, false, nullptr, -1, 365, 4);
  Issued strangerIssued = issue("stranger", &otherIssued, false, nullptr, -1, 365, 5);
  Issued expiredIssued = issue("old-desk", &caIssued, false, nullptr, -30, -1, 6);
  ca = save(caIssued, dir, "ca");
  other = save(otherIssued, dir, "other");
  server = save(serverIssued, dir, "server");
  desk = save(deskIssued, dir, "desk");
  stranger = save(strangerIssued, dir, "stranger");
  expired = save(expiredIssued, dir, "expired");
  for (Issued* i :
       {&caIssued, &otherIssued, &serverIssued, &deskIssued, &strangerIssued, &expiredIssued})
    release(*i);
}

}  // namespace qz::testing
