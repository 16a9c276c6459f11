// TlsChannel over OpenSSL on a non-blocking socket: every operation that
// wants to read or write waits with poll, which carries the time limits.
#include "client/tls_channel.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "client/read_timeout.h"

namespace qz::client {

namespace {

std::string openSslReason() {
  unsigned long e = ERR_get_error();
  ERR_clear_error();
  if (e == 0) return "connection closed";
  const char* reason = ERR_reason_error_string(e);
  return reason ? reason : "error " + std::to_string(e);
}

// Waits for what OpenSSL asked for. Returns false on timeout.
bool waitFor(int fd, int sslError, std::chrono::milliseconds timeout) {
  pollfd p{fd, static_cast<short>(sslError == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN), 0};
  int ms = timeout.count() <= 0 ? -1 : static_cast<int>(timeout.count());
  for (;;) {
    int r = ::poll(&p, 1, ms);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) throw std::runtime_error(std::string("poll failed: ") + std::strerror(errno));
    return r > 0;
  }
}

bool isAddressLiteral(const std::string& host) {
  unsigned char buf[16];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

}  // namespace

TlsChannel::TlsChannel(int fd, const ClientTlsOptions& o, const std::string& host,
                       std::chrono::milliseconds timeout)
    : fd_(fd) {
  ERR_clear_error();
  ctx_ = SSL_CTX_new(TLS_client_method());
  if (!ctx_) throw std::runtime_error("TLS: " + openSslReason());
  SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
  // Large answers arrive as many records: reading ahead takes what has
  // arrived in one receive instead of two (header, then body) per record.
  SSL_CTX_set_read_ahead(ctx_, 1);
  SSL_CTX_set_default_read_buffer_len(ctx_, 64 * 1024);
  auto fail = [&](const std::string& what) {
    SSL_free(ssl_);
    ssl_ = nullptr;
    SSL_CTX_free(ctx_);
    ctx_ = nullptr;
    throw std::runtime_error(what);
  };
  if (!o.insecure) {
    int ok = o.caFile.empty() ? SSL_CTX_set_default_verify_paths(ctx_)
                              : SSL_CTX_load_verify_locations(ctx_, o.caFile.c_str(), nullptr);
    if (ok != 1) fail("cannot use TLS authority " + o.caFile + ": " + openSslReason());
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
  }
  if (!o.certFile.empty()) {
    if (SSL_CTX_use_certificate_chain_file(ctx_, o.certFile.c_str()) != 1)
      fail("cannot use TLS certificate " + o.certFile + ": " + openSslReason());
    const std::string& key = o.keyFile.empty() ? o.certFile : o.keyFile;
    if (SSL_CTX_use_PrivateKey_file(ctx_, key.c_str(), SSL_FILETYPE_PEM) != 1)
      fail("cannot use TLS key " + key + ": " + openSslReason());
    if (SSL_CTX_check_private_key(ctx_) != 1)
      fail("TLS key " + key + " does not match certificate " + o.certFile);
  }
  ssl_ = SSL_new(ctx_);
  if (!ssl_) fail("TLS: " + openSslReason());
  const std::string name = o.serverName.empty() ? host : o.serverName;
  if (!isAddressLiteral(name)) SSL_set_tlsext_host_name(ssl_, name.c_str());
  if (!o.insecure) {
    if (isAddressLiteral(name)) {
      X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), name.c_str());
    } else {
      SSL_set_hostflags(ssl_, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
      SSL_set1_host(ssl_, name.c_str());
    }
  }
  fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
  SSL_set_fd(ssl_, fd_);
  for (;;) {
    int r = SSL_connect(ssl_);
    if (r == 1) break;
    int err = SSL_get_error(ssl_, r);
    if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
      if (!waitFor(fd_, err, timeout))
        fail("TLS handshake with " + host + " timed out (does the server speak TLS?)");
      continue;
    }
    long verify = SSL_get_verify_result(ssl_);
    if (verify != X509_V_OK)
      fail("TLS handshake with " + host + " failed: the server's certificate is not trusted: " +
           X509_verify_cert_error_string(verify));
    std::string reason = err == SSL_ERROR_SYSCALL && ERR_peek_error() == 0
                             ? "the server closed the connection (is it serving TLS?)"
                             : openSslReason();
    fail("TLS handshake with " + host + " failed: " + reason);
  }
}

TlsChannel::~TlsChannel() {
  if (ssl_) {
    SSL_shutdown(ssl_);  // one try at close_notify; the socket closes anyway
    SSL_free(ssl_);
  }
  if (ctx_) SSL_CTX_free(ctx_);
}

void TlsChannel::send(std::string_view bytes) {
  while (!bytes.empty()) {
    ERR_clear_error();
    size_t written = 0;
    int r = SSL_write_ex(ssl_, bytes.data(), bytes.size(), &written);
    if (r == 1) {
      bytes.remove_prefix(written);
      continue;
    }
    int err = SSL_get_error(ssl_, r);
    if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
      waitFor(fd_, err, std::chrono::milliseconds(0));
      continue;
    }
    throw std::runtime_error("send failed: " + (err == SSL_ERROR_SYSCALL && ERR_peek_error() == 0
                                                    ? std::string(std::strerror(errno))
                                                    : openSslReason()));
  }
}

size_t TlsChannel::receive(char* buf, size_t n, std::chrono::milliseconds timeout) {
  for (;;) {
    ERR_clear_error();
    size_t got = 0;
    int r = SSL_read_ex(ssl_, buf, n, &got);
    if (r == 1) return got;
    int err = SSL_get_error(ssl_, r);
    if (err == SSL_ERROR_ZERO_RETURN) return 0;
    if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
      if (!waitFor(fd_, err, timeout)) throw ReadTimeout();
      continue;
    }
    if (err == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) return 0;  // closed without close_notify
    // An alert from the server after the handshake: with TLS 1.3 a client
    // certificate is judged only then.
    std::string reason = openSslReason();
    if (reason.find("certificate required") != std::string::npos)
      reason += " (the server admits only clients with a certificate it trusts)";
    throw std::runtime_error("the server refused the TLS connection: " + reason);
  }
}

}  // namespace qz::client
