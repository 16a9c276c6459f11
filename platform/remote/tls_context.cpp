// Building the server's TLS context and describing peers and failures.
#include "platform/remote/tls_context.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <stdexcept>

namespace qz::remote {

namespace {

std::string lastOpenSslError() {
  unsigned long e = ERR_get_error();
  ERR_clear_error();
  if (e == 0) return "unknown error";
  char buf[256];
  ERR_error_string_n(e, buf, sizeof buf);
  return buf;
}

}  // namespace

std::unique_ptr<asio::ssl::context> MakeServerTlsContext(const TlsServerSettings& s) {
  auto ctx = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
  SSL_CTX* native = ctx->native_handle();
  SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION);
  ctx->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_compression |
                   asio::ssl::context::single_dh_use);
  ERR_clear_error();
  if (SSL_CTX_use_certificate_chain_file(native, s.certFile.c_str()) != 1)
    throw std::runtime_error("cannot use TLS certificate " + s.certFile + ": " +
                             lastOpenSslError());
  if (SSL_CTX_use_PrivateKey_file(native, s.keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
    throw std::runtime_error("cannot use TLS key " + s.keyFile + ": " + lastOpenSslError());
  if (SSL_CTX_check_private_key(native) != 1)
    throw std::runtime_error("TLS key " + s.keyFile + " does not match certificate " + s.certFile);
  if (!s.clientCaFile.empty()) {
    if (SSL_CTX_load_verify_locations(native, s.clientCaFile.c_str(), nullptr) != 1)
      throw std::runtime_error("cannot use TLS client authority " + s.clientCaFile + ": " +
                               lastOpenSslError());
    // The authority's name is offered to clients so that one holding
    // several certificates picks the right one.
    if (STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(s.clientCaFile.c_str()))
      SSL_CTX_set_client_CA_list(native, names);
    SSL_CTX_set_verify(native, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
  }
  // Sessions are not resumed: every connection shows its certificate, so
  // the log names every client.
  SSL_CTX_set_session_cache_mode(native, SSL_SESS_CACHE_OFF);
  SSL_CTX_set_num_tickets(native, 0);
  return ctx;
}

std::string PeerCertificateSubject(SSL* ssl) {
  X509* cert = SSL_get1_peer_certificate(ssl);
  if (!cert) return {};
  std::string out;
  if (BIO* bio = BIO_new(BIO_s_mem())) {
    X509_NAME_print_ex(bio, X509_get_subject_name(cert), 0,
                       XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    long len = BIO_get_mem_data(bio, &data);
    if (len > 0) out.assign(data, static_cast<size_t>(len));
    BIO_free(bio);
  }
  X509_free(cert);
  return out;
}

std::string HandshakeFailureText(const asio::error_code& ec, SSL* ssl) {
  std::string text = ec.message();
  long verify = SSL_get_verify_result(ssl);
  if (verify != X509_V_OK) text += ": " + std::string(X509_verify_cert_error_string(verify));
  if (ec.category() == asio::error::get_ssl_category()) {
    int reason = ERR_GET_REASON(static_cast<unsigned long>(ec.value()));
    if (reason == SSL_R_WRONG_VERSION_NUMBER || reason == SSL_R_HTTP_REQUEST ||
        reason == SSL_R_UNKNOWN_PROTOCOL || reason == SSL_R_PACKET_LENGTH_TOO_LONG)
      text += " (the client does not speak TLS)";
  } else if (ec == asio::error::eof || ec == asio::ssl::error::stream_truncated) {
    text = "the client closed the connection during the handshake";
  }
  return text;
}

}  // namespace qz::remote
