// The subject of a TLS peer's certificate as the log shows it. Apart from
// tls_context.h because it needs only OpenSSL, so the web server (built on
// Boost's Asio, which cannot share a file with the standalone one) uses it
// too.
#pragma once

#include <openssl/ssl.h>

#include <string>

namespace qz::remote {

// The subject of the certificate the peer presented, one line in OpenSSL's
// RFC 2253 form ("CN=desk-1,O=Hotel"); empty when it presented none.
std::string PeerCertificateSubject(SSL* ssl);

}  // namespace qz::remote
