// TransportSettings: who may connect to a transport and how: TLS with an
// optional client certificate check, the address allow-list and the
// connection limits. One value shared by every transport (the socket
// transport here; a web transport takes the same), filled by the host from
// its command line and settings file.
//
// Everything is off by default: an empty value admits every address, speaks
// plain TCP and limits nothing but the handshake time.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "platform/remote/allow_list.h"

namespace qz::remote {

struct TlsServerSettings {
  std::string certFile;      // PEM: the server's certificate, optionally followed by its chain
  std::string keyFile;       // PEM: the certificate's private key
  std::string clientCaFile;  // PEM: when set, every client must present a certificate it signed
  bool enabled() const { return !certFile.empty(); }
};

struct TransportSettings {
  TlsServerSettings tls;
  AllowList allow;  // empty: every address
  // Connections served at once; 0 = no limit. A connection beyond the limit
  // gets one error answer saying the server is busy, then is closed.
  size_t maxConnections = 0;
  // A connection that has no instance this long after it was accepted (TLS
  // handshake included) is closed; 0 = no limit.
  std::chrono::seconds handshakeTimeout{30};
};

}  // namespace qz::remote
