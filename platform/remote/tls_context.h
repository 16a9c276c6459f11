// The server side of TLS for the transports: the OpenSSL context built from
// TlsServerSettings, and the texts the log shows of a peer's certificate
// and of a failed handshake.
//
// Thread-safety: a context is built once before serving and then only read
// by the handshakes of every connection (OpenSSL allows that).
#pragma once

#include <asio/ssl.hpp>
#include <memory>
#include <string>

#include "platform/remote/peer_certificate.h"
#include "platform/remote/transport_settings.h"

namespace qz::remote {

// A context that accepts TLS 1.2 and newer with OpenSSL's default ciphers,
// presents the certificate chain and key of settings and, with a client
// authority, requires and verifies a client certificate signed by it.
// Throws std::runtime_error naming the file that cannot be read or the key
// that does not match the certificate.
// REQUIRES: settings.enabled().
std::unique_ptr<asio::ssl::context> MakeServerTlsContext(const TlsServerSettings& settings);

// What went wrong in the handshake on ssl, for the log: OpenSSL's reason,
// why the client's certificate did not check, or a hint when the peer
// evidently did not speak TLS at all.
std::string HandshakeFailureText(const asio::error_code& ec, SSL* ssl);

}  // namespace qz::remote
