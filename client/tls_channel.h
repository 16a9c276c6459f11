// TlsChannel: TLS over a connected socket for the client library, with a
// time limit on the handshake and on each read. The server's certificate
// is checked against the authority given (or the system's) and against the
// name the client connected to, unless the caller asked for no check by
// name (insecure).
#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <string>
#include <string_view>

namespace qz::client {

// How a client speaks TLS. Off unless enabled.
struct ClientTlsOptions {
  bool enabled = false;
  std::string caFile;      // PEM authority of the server's certificate; empty: the system's
  std::string certFile;    // PEM client certificate (and chain), for servers that require one
  std::string keyFile;     // its private key
  std::string serverName;  // name to check the certificate against; empty: the host connected to
  bool insecure = false;   // accept any server certificate (testing only)
};

// Not thread-safe: one owner at a time.
class TlsChannel {
 public:
  // Runs the handshake on fd (connected; switched to non-blocking here) as
  // a client of host. Throws std::runtime_error saying why it failed: a
  // file that cannot be used, a server certificate that does not check, a
  // refusal by the server, or no handshake in time.
  TlsChannel(int fd, const ClientTlsOptions& options, const std::string& host,
             std::chrono::milliseconds timeout);
  ~TlsChannel();
  TlsChannel(const TlsChannel&) = delete;
  TlsChannel& operator=(const TlsChannel&) = delete;

  // Sends all of bytes. Throws std::runtime_error when the connection fails.
  void send(std::string_view bytes);
  // Reads up to n bytes, waiting only when none have arrived; returns 0
  // when the server closed the connection. Throws std::runtime_error on
  // timeout (0 = none) or failure, with the server's reason when it refused
  // the client (its certificate, for instance).
  size_t receive(char* buf, size_t n, std::chrono::milliseconds timeout);

 private:
  int fd_;
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
};

}  // namespace qz::client
